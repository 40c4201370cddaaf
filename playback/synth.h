// SPDX-License-Identifier: GPL-3.0-or-later
// The synthesizer behind playback: FluidSynth driven voice by voice from our DLS
// collections (with every articulation applied the DLS way), SoundFont 2 banks through
// FluidSynth's own loader, an optional General MIDI SoundFont for programs a collection
// lacks, and our own bank and program selection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "formats/dls.h"
#include "playback/sequence.h"

namespace sonvex {

// Where Debian's General MIDI SoundFont is installed (package fluid-soundfont-gm).
inline constexpr const char* kDebianGmSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

struct SynthOptions {
    double sampleRate = 44100.0;
    double gain = 0.5;  // output gain of the synthesizer
    bool reverb = true; // reverb unit present (sends come from CC91)
    bool chorus = false;
    int polyphony = 256;
    // The General MIDI SoundFont for programs a collection lacks: empty means the
    // Debian path when that file exists; a path that does not exist means none.
    std::string gmSoundFont;
    bool useGmSoundFont = true;
};

// Whether the options name a General MIDI SoundFont that exists.
bool GeneralMidiSoundFontFound(const SynthOptions& options);

// How a channel's program was resolved, for tests and for "play" diagnostics.
struct ProgramChoice {
    enum class Source { None, Collection, GeneralMidi };
    Source source = Source::None;
    int collection = -1; // collection slot when Source::Collection
    int bank = 0;        // MSB × 128 + LSB as selected
    int program = 0;
    bool drumKit = false;
};

// Called before FluidSynth is used, from any thread, as often as wanted. Its messages go to
// us, not to the terminal: errors to the capture active on the logging thread, everything
// else nowhere. And the tables FluidSynth shares between all synthesizers of the process
// are built here, once: FluidSynth builds them when its first synthesizer is made, and a
// synthesizer made meanwhile on another thread would start from half-built tables (its
// notes then play without the default modulators, too loud and unfiltered).
void PrepareSynthLibrary();

// The last error FluidSynth logged for one owner (a synthesizer, an audio driver). The
// audio thread may fill it while another thread takes it.
class SynthErrorText {
  public:
    void Keep(std::string_view message);
    // The text since the previous call; empty when none.
    std::string Take();

  private:
    std::mutex mutex_;
    std::string text_;
};

// FluidSynth has one log function for the whole process, so an error cannot say whose
// it is. While a capture lives, errors logged on its thread go to its sink; a call into
// FluidSynth that can log is wrapped in one, so two synthesizers on two threads never
// see each other's errors. Captures nest: the innermost one on the thread collects.
class SynthLogCapture {
  public:
    explicit SynthLogCapture(SynthErrorText& sink);
    ~SynthLogCapture();
    SynthLogCapture(const SynthLogCapture&) = delete;
    SynthLogCapture& operator=(const SynthLogCapture&) = delete;

  private:
    SynthErrorText* outer_;
};

class Synth : public EventSink {
  public:
    // Null with `error` set when the synthesizer cannot be made.
    static std::unique_ptr<Synth> Create(const SynthOptions& options, std::string* error = nullptr);
    ~Synth() override;
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    // Makes a collection playable; returns its slot, -1 when it cannot be loaded (see
    // TakeError). With `soundFontFile`, the collection is that SoundFont 2 bank's program
    // map (soundfont_bank.h): the file is loaded by FluidSynth's own SoundFont loader and
    // selected by the bank-select MSB alone, as FluidSynth selects by default.
    int AddCollection(std::shared_ptr<const DlsCollection> collection,
                      const std::string& soundFontFile = {});
    // The collection goes once no voice can still use it; channels playing it fall silent.
    void ReleaseCollection(int slot);
    // The collection that program changes of the MIDI stream select from (-1: none).
    void SetDefaultCollection(int slot);
    // Maps a sequence's own collection indexes (band references) to slots.
    void SetBandCollections(std::vector<int> slots);
    bool HasGeneralMidi() const;

    void Dispatch(const OutputEvent& event) override;
    // Renders `frames` frames; any count works, and output does not depend on how a run
    // is cut into calls.
    void Render(float* left, float* right, int frames);
    int ActiveVoices() const;
    // All voices stop at once, without release.
    void AllSoundsOff();
    // Channels back to their power-on state: program 0 of bank 0, controllers reset.
    void ResetChannels();
    ProgramChoice CurrentProgram(int channel) const;
    double SampleRate() const;

    // The last error FluidSynth logged while working for this synthesizer, since the
    // previous call; empty when none.
    std::string TakeError();

    // For the audio driver: the synthesizer handle (a fluid_synth_t*).
    void* Handle() const;

  private:
    struct Impl;
    explicit Synth(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace sonvex
