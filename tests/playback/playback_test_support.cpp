// SPDX-License-Identifier: GPL-3.0-or-later
// Test support for playback: sequences built note by note and renders into memory.
#include "tests/playback/playback_test_support.h"

#include <algorithm>
#include <stdexcept>

namespace sonvex::playtest {

SequenceBuilder& SequenceBuilder::tempo(int32_t time, double bpm) {
    tempos_.push_back({time, bpm});
    return *this;
}

SequenceBuilder& SequenceBuilder::note(int32_t time, int channel, int key, int velocity,
                                       int32_t duration) {
    MusicEvent e;
    e.time = time;
    e.kind = MusicEventKind::Note;
    e.status = static_cast<uint8_t>(0x90 | channel);
    e.data1 = static_cast<uint8_t>(key);
    e.data2 = static_cast<uint8_t>(velocity);
    e.duration = duration;
    seq_.events.push_back(e);
    return *this;
}

SequenceBuilder& SequenceBuilder::control(int32_t time, int channel, int controller, int value) {
    MusicEvent e;
    e.time = time;
    e.status = static_cast<uint8_t>(0xB0 | channel);
    e.data1 = static_cast<uint8_t>(controller);
    e.data2 = static_cast<uint8_t>(value);
    seq_.events.push_back(e);
    return *this;
}

SequenceBuilder& SequenceBuilder::program(int32_t time, int channel, int program) {
    MusicEvent e;
    e.time = time;
    e.status = static_cast<uint8_t>(0xC0 | channel);
    e.data1 = static_cast<uint8_t>(program);
    seq_.events.push_back(e);
    return *this;
}

SequenceBuilder& SequenceBuilder::bankOneProgram(int32_t time, int channel, int number) {
    return control(time, channel, 0, 0)
        .control(time, channel, 32, 1)
        .program(time, channel, number);
}

SequenceBuilder& SequenceBuilder::bend(int32_t time, int channel, int value) {
    MusicEvent e;
    e.time = time;
    e.status = static_cast<uint8_t>(0xE0 | channel);
    e.data1 = static_cast<uint8_t>(value & 0x7F);
    e.data2 = static_cast<uint8_t>(value >> 7);
    seq_.events.push_back(e);
    return *this;
}

SequenceBuilder& SequenceBuilder::length(int32_t musicTime) {
    seq_.length = musicTime;
    return *this;
}

SequenceBuilder& SequenceBuilder::loop(uint32_t repeats, int32_t start, int32_t end) {
    seq_.repeats = repeats;
    seq_.loopStart = start;
    seq_.loopEnd = end;
    return *this;
}

std::shared_ptr<Sequence> SequenceBuilder::build() {
    auto s = std::make_shared<Sequence>(seq_);
    s->tempo = TempoMap(tempos_);
    s->SortEvents();
    return s;
}

std::span<const float> Rendered::Left(double fromSeconds, double toSeconds) const {
    const size_t a = std::min(Frame(fromSeconds), left.size());
    const size_t b = std::min(Frame(toSeconds), left.size());
    return std::span<const float>(left).subspan(a, b > a ? b - a : 0);
}

std::span<const float> Rendered::Right(double fromSeconds, double toSeconds) const {
    const size_t a = std::min(Frame(fromSeconds), right.size());
    const size_t b = std::min(Frame(toSeconds), right.size());
    return std::span<const float>(right).subspan(a, b > a ? b - a : 0);
}

SynthOptions DrySynth() {
    SynthOptions o;
    o.reverb = false;
    o.chorus = false;
    o.useGmSoundFont = false;
    return o;
}

Rendered RenderWith(std::shared_ptr<const DlsCollection> collection,
                    std::shared_ptr<const Sequence> sequence, const RenderPlan& plan,
                    const SynthOptions& options) {
    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(options, &error);
    if (!synth) {
        throw std::runtime_error("synthesizer: " + error);
    }
    if (collection) {
        synth->SetDefaultCollection(synth->AddCollection(std::move(collection)));
    }
    Rendered out;
    out.sampleRate = options.sampleRate;
    out.summary = RenderSequence(*synth, std::move(sequence), plan,
                                 [&](const float* l, const float* r, int n) {
                                     out.left.insert(out.left.end(), l, l + n);
                                     out.right.insert(out.right.end(), r, r + n);
                                     return true;
                                 });
    return out;
}

} // namespace sonvex::playtest
