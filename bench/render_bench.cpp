// SPDX-License-Identifier: GPL-3.0-or-later
// Offline render speed as a multiple of real time: a 16-channel song, one looped sample
// per program of a collection made by the bank converter, 30 seconds of music rendered
// through the sequencer and the synthesizer ("real_time_multiple" is seconds of music
// per second of work).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "platform/feedback.h"
#include "playback/offline_render.h"
#include "playback/synth.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/vab_builder.h"

namespace {

using namespace sonvex;

constexpr int kChannels = 16;
constexpr double kSongSeconds = 30.0;

std::shared_ptr<const DlsCollection> MakeCollection() {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    testkit::VabBuilder vab;
    for (int p = 0; p < kChannels; ++p) {
        testkit::VabTone tone = testkit::Tone(static_cast<int16_t>(p % 4 + 1));
        tone.pan = static_cast<uint8_t>(p * 8);
        tone.adsr2 = 12; // 0.16 s release
        vab.program(p, testkit::Program({tone}));
    }
    for (int s = 0; s < 4; ++s) {
        std::vector<int16_t> pcm(28 * 40);
        for (size_t i = 0; i < pcm.size(); ++i) {
            pcm[i] =
                static_cast<int16_t>(9000.0 * std::sin(static_cast<double>(i) * (0.05 + 0.02 * s)) +
                                     3000.0 * std::sin(static_cast<double>(i) * 0.31));
        }
        testkit::VagShape shape;
        shape.loopStartBlock = 8;
        shape.loopEndBlock = 39;
        vab.sample(testkit::MakeVag(pcm, shape));
    }
    memory.Put("/b.vh", vab.BuildVh());
    memory.Put("/b.vb", vab.BuildVb());
    NullFeedback feedback;
    if (ConvertVabToDls(0, 0, "/b.vh", "/b.vb", "/b.dls", "bench", feedback) !=
        ConvertResult::Done) {
        return nullptr;
    }
    DlsReadOutcome read = ReadDls(memory.Contents("/b.dls"));
    if (read.status != DlsReadStatus::Ok) {
        return nullptr;
    }
    return std::make_shared<const DlsCollection>(std::move(read.collection));
}

// Every channel plays an eighth note on every eighth, each channel its own program and
// line, at 120 beats per minute: 16 voices sounding at once, plus release tails.
std::shared_ptr<Sequence> MakeSong() {
    auto seq = std::make_shared<Sequence>();
    const int32_t eighth = kTicksPerQuarter / 2;
    const int32_t length = static_cast<int32_t>(kSongSeconds * 2 * kTicksPerQuarter);
    for (int ch = 0; ch < kChannels; ++ch) {
        const auto status = static_cast<uint8_t>(0xB0 | ch);
        seq->events.push_back({0, MusicEventKind::Channel, status, 32, 1, 0, 0});
        seq->events.push_back({0, MusicEventKind::Channel, static_cast<uint8_t>(0xC0 | ch),
                               static_cast<uint8_t>(ch), 0, 0, 0});
        int step = 0;
        for (int32_t t = 0; t < length; t += eighth, ++step) {
            const auto key = static_cast<uint8_t>(36 + ch * 3 + (step * 5 + ch) % 12);
            seq->events.push_back({t, MusicEventKind::Note, static_cast<uint8_t>(0x90 | ch), key,
                                   100, eighth - 20, 0});
        }
    }
    seq->length = length;
    seq->SortEvents();
    return seq;
}

void RenderSong(benchmark::State& state, bool reverb) {
    static const std::shared_ptr<const DlsCollection> collection = MakeCollection();
    static const std::shared_ptr<const Sequence> song = MakeSong();
    if (!collection) {
        state.SkipWithError("the bank could not be converted");
        return;
    }
    SynthOptions options;
    options.reverb = reverb;
    options.useGmSoundFont = false;
    double seconds = 0;
    for (auto _ : state) {
        std::unique_ptr<Synth> synth = Synth::Create(options);
        synth->SetDefaultCollection(synth->AddCollection(collection));
        RenderPlan plan;
        plan.tailSeconds = 0.5;
        float sink = 0;
        const RenderSummary summary =
            RenderSequence(*synth, song, plan, [&](const float* l, const float*, int n) {
                sink += l[n - 1];
                return true;
            });
        benchmark::DoNotOptimize(sink);
        seconds += static_cast<double>(summary.frames) / options.sampleRate;
    }
    state.counters["real_time_multiple"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void BM_Render16ChannelSong(benchmark::State& state) {
    RenderSong(state, false);
}
void BM_Render16ChannelSongWithReverb(benchmark::State& state) {
    RenderSong(state, true);
}

BENCHMARK(BM_Render16ChannelSong)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render16ChannelSongWithReverb)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
