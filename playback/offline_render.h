// SPDX-License-Identifier: GPL-3.0-or-later
// Offline rendering: a sequence through the synthesizer as fast as the machine goes,
// with a chosen number of loop passes, a fade after the last one, and the release tail
// of a song that ends; written to WAV or FLAC (16-bit PCM, stereo) or Ogg Vorbis by the
// output's extension, with text tags.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/audio_file.h"
#include "playback/sequence.h"
#include "playback/synth.h"

namespace sonvex {

struct RenderPlan {
    int32_t startPoint = 0; // music time
    // How often the loop of a looping sequence is heard; 2 when not given.
    std::optional<int> loops;
    // Looping sequences: seconds of fade-out after the last loop pass, during which the
    // loop goes on. 0 plays the part after the loop end instead, and its tail.
    double fadeSeconds = 10.0;
    // Sequences that end: the longest release tail rendered after the end.
    double tailSeconds = 10.0;
    // No render runs longer than this, whatever the sequence says.
    double maxSeconds = 4.0 * 3600.0;
};

struct RenderSummary {
    int64_t frames = 0;
    bool looping = false;
    uint32_t loopsPlayed = 0;               // loop passes back to the loop start
    int64_t fadeStartFrame = -1;            // where the fade began, -1 without one
    int64_t segmentEndFrame = -1;           // where the segment ended, -1 when it did not
    bool cutAtLimit = false;                // stopped by maxSeconds or the tail limit
    std::vector<OutputEvent> notifications; // segment start, loop and end, with frames
};

// Receives the rendered audio block by block; returns false to stop.
using AudioConsumer = std::function<bool(const float* left, const float* right, int frames)>;

// Renders `sequence` from a fresh start of the synthesizer's channels.
RenderSummary RenderSequence(Synth& synth, std::shared_ptr<const Sequence> sequence,
                             const RenderPlan& plan, const AudioConsumer& consumer);

// Float samples to 16-bit PCM: clamped to [-1, 1], scaled by 32767, rounded to nearest.
int16_t ToPcm16(float sample);

enum class [[nodiscard]] RenderStatus{
    Ok,
    BadArguments, // unknown output extension, a missing DLS for an SMF, ...
    InputFailed,  // the input or a DLS file cannot be read or understood
    SynthFailed,  // the synthesizer cannot be made
    OutputFailed, // the output cannot be created or written; nothing is left behind
};

struct RenderJob {
    std::string input;        // .mid, .rmi or .sgt (recognised by content)
    std::string dls;          // DLS for an SMF; for a segment, used where a band's file is missing
    std::string output;       // .wav, .flac or .ogg
    AudioTags tags;           // text tags written into the output
    std::string searchFolder; // where a segment's band collections are looked for; default: the
                              // input's folder
    RenderPlan plan;
    SynthOptions synth;
    // Called now and then with the seconds rendered so far and the seconds planned in
    // all (the song with its loops and fade, without the release tail).
    std::function<void(double seconds, double planned)> progress;
};

struct RenderResult {
    RenderStatus status = RenderStatus::Ok;
    std::string error;
    RenderSummary summary;
    double seconds = 0.0;
    double plannedSeconds = 0.0;       // what the plan asks for, without the release tail
    std::vector<std::string> notes;    // what was passed over while loading
    std::vector<std::string> warnings; // notes that will play no instrument
};

RenderResult RenderToFile(const RenderJob& job);

// What a render needs, loaded from files: the sequence and its collections, ready in a
// synthesizer. Shared by RenderToFile and the real-time play loop.
struct PreparedMusic {
    std::shared_ptr<const Sequence> sequence;
    std::vector<std::string> notes;
    std::vector<std::string> warnings;
};
// Loads `input` (with `dls`) into `synth`; on failure returns false with `status` and `error`.
// Music whose notes would all play no instrument fails; a partial miss is a warning.
bool PrepareMusic(Synth& synth, const std::string& input, const std::string& dls,
                  const std::string& searchFolder, PreparedMusic& prepared, RenderStatus& status,
                  std::string& error);

// Seconds the plan renders from `sequence`, without the release tail.
double PlannedSeconds(const Sequence& sequence, const RenderPlan& plan);

} // namespace sonvex
