// SPDX-License-Identifier: GPL-3.0-or-later
// Test support for playback: sequences built note by note and renders into memory, with
// the DLS collections described in tests/support.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/offline_render.h"
#include "playback/sequence.h"
#include "playback/synth.h"
#include "testkit/byte_builder.h"
#include "tests/support/dls_description.h"

namespace sonvex::playtest {

// A sequence of notes and channel events in music time.
class SequenceBuilder {
  public:
    SequenceBuilder& tempo(int32_t time, double bpm);
    SequenceBuilder& note(int32_t time, int channel, int key, int velocity, int32_t duration);
    SequenceBuilder& control(int32_t time, int channel, int controller, int value);
    SequenceBuilder& program(int32_t time, int channel, int program);
    // Bank MSB 0, LSB 1 and the program: the selection of our collections.
    SequenceBuilder& bankOneProgram(int32_t time, int channel, int program);
    SequenceBuilder& bend(int32_t time, int channel, int value);
    SequenceBuilder& length(int32_t musicTime);
    SequenceBuilder& loop(uint32_t repeats, int32_t start, int32_t end);
    std::shared_ptr<Sequence> build();

  private:
    Sequence seq_;
    std::vector<TempoPoint> tempos_;
};

struct Rendered {
    std::vector<float> left;
    std::vector<float> right;
    RenderSummary summary;
    double sampleRate = 44100.0;

    std::span<const float> Left(double fromSeconds, double toSeconds) const;
    std::span<const float> Right(double fromSeconds, double toSeconds) const;
    size_t Frame(double seconds) const { return static_cast<size_t>(seconds * sampleRate); }
};

// Synthesizer options for measurements: no reverb or chorus, no General MIDI fallback.
SynthOptions DrySynth();
// Renders `sequence` with `collection` as the default collection.
Rendered RenderWith(std::shared_ptr<const DlsCollection> collection,
                    std::shared_ptr<const Sequence> sequence, const RenderPlan& plan = {},
                    const SynthOptions& options = DrySynth());

} // namespace sonvex::playtest
