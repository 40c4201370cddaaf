// SPDX-License-Identifier: GPL-3.0-or-later
// The performance in real time on the null output: notifications in order, playing and
// stopping, music time for pause and resume, the notifier thread, and a sound device
// that is not there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "playback/audio_output.h"
#include "playback/performance.h"
#include "playback/play_loop.h"
#include "testkit/pcm_analysis.h"
#include "testkit/smf_builder.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using namespace std::chrono_literals;
using playtest::SequenceBuilder;

std::shared_ptr<Collection> OneInstrument() {
    playtest::TestCollection c;
    playtest::TestWave w;
    w.pcm = testkit::SineTone(4400, 100.0, 12000.0);
    c.waves = {w};
    playtest::TestInstrument in;
    in.program = 0;
    playtest::TestRegion r;
    r.sample->loop = playtest::TestLoop{0, 0, static_cast<uint32_t>(w.pcm.size())};
    r.articulation = playtest::ConverterArticulation(0, 0.004, 2.0, 1000, 1.0);
    in.regions = {r};
    c.instruments = {in};
    return std::make_shared<Collection>("one.dls", playtest::ReadBuilt(c));
}

std::shared_ptr<Segment> SegmentOf(std::shared_ptr<Sequence> seq,
                                   std::shared_ptr<Collection> bank) {
    auto s = std::make_shared<Segment>("test.mid", std::move(seq), true);
    s->ConnectToCollection(std::move(bank));
    return s;
}

std::unique_ptr<Performance> NullPerformance() {
    PerformanceOptions o;
    o.output = OutputKind::Null;
    o.synth = playtest::DrySynth();
    std::string error;
    auto p = Performance::Create(o, &error);
    EXPECT_TRUE(p) << error;
    return p;
}

// Waits for notifications until `count` arrived or `limit` passed.
std::vector<Notification> Collect(Performance& p, AutoResetEvent& event, size_t count,
                                  std::chrono::milliseconds limit) {
    std::vector<Notification> got;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
        event.WaitFor(50ms);
        Notification n;
        while (p.GetNotificationPMsg(n)) {
            got.push_back(n);
        }
    }
    return got;
}

std::vector<SegmentNotice> Kinds(const std::vector<Notification>& got) {
    std::vector<SegmentNotice> kinds;
    for (const Notification& n : got) {
        kinds.push_back(n.option);
    }
    return kinds;
}

// A performance on the null output that posts its notifications to `event`.
struct NotifyingPerformance {
    NotifyingPerformance() : p(NullPerformance()) {
        if (p) {
            p->SetNotificationHandle(&event);
            p->AddNotificationType();
        }
    }
    AutoResetEvent event;
    std::unique_ptr<Performance> p;
};

// One quarter note at 240 beats per minute (a quarter second a pass), looped `repeats` times.
std::shared_ptr<Sequence> LoopedQuarter(uint32_t repeats) {
    return SequenceBuilder()
        .tempo(0, 240.0)
        .note(0, 0, 60, 100, 200)
        .length(768)
        .loop(repeats, 0, 0)
        .build();
}

TEST(AudioOutputs, NullOutputAdvancesInRealTime) {
    std::atomic<int64_t> frames{0};
    std::string error;
    auto out = OpenAudioOutput(
        OutputKind::Null, 44100.0, [&](float*, float*, int n) { frames += n; }, &error);
    ASSERT_TRUE(out) << error;
    EXPECT_EQ(out->Name(), "null");
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(400ms);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.reset();
    const double pulled = static_cast<double>(frames.load()) / 44100.0;
    EXPECT_NEAR(pulled, seconds, 0.1);
}

TEST(AudioOutputs, MissingSoundDeviceFailsWithAReason) {
    for (OutputKind kind : {OutputKind::Alsa, OutputKind::Auto}) {
        std::string error;
        auto out = OpenAudioOutput(
            kind, 44100.0, [](float*, float*, int) {}, &error);
        if (out) {
            GTEST_SKIP() << "a sound device is present (" << out->Name() << ")";
        }
        EXPECT_NE(error.find("alsa"), std::string::npos) << error;
        EXPECT_NE(error.find("no sound device"), std::string::npos) << error;
    }
    OutputKind kind;
    EXPECT_TRUE(ParseOutputKind("pipewire", kind));
    EXPECT_EQ(kind, OutputKind::PulseAudio);
    EXPECT_FALSE(ParseOutputKind("speaker", kind));
}

TEST(PerformanceRealTime, LoopAndEndNotificationsArriveInOrder) {
    NotifyingPerformance n;
    ASSERT_TRUE(n.p);
    Performance* p = n.p.get();
    auto segment = SegmentOf(LoopedQuarter(2), OneInstrument()); // three passes
    ASSERT_TRUE(p->Download(*segment));
    auto state = p->PlaySegmentEx(segment);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->GetRepeats(), 2u);
    EXPECT_TRUE(p->IsPlaying(segment.get(), nullptr));
    EXPECT_TRUE(p->IsPlaying(nullptr, state.get()));
    const auto got = Collect(*p, n.event, 4, 5000ms);
    for (const Notification& notice : got) {
        EXPECT_EQ(notice.state, state);
    }
    EXPECT_EQ(Kinds(got), (std::vector<SegmentNotice>{SegmentNotice::Start, SegmentNotice::Loop,
                                                      SegmentNotice::Loop, SegmentNotice::End}));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1].loopsDone, 1u);
    EXPECT_EQ(got[2].loopsDone, 2u);
    // Music time runs on through the loops: three passes of 768.
    EXPECT_NEAR(got[3].musicTime - state->GetStartTime(), 3 * 768, 2);
    EXPECT_FALSE(p->IsPlaying(segment.get(), state.get()));
}

TEST(PerformanceRealTime, RepeatsSetOnTheSegmentReplaceItsOwnCount) {
    NotifyingPerformance n;
    ASSERT_TRUE(n.p);
    Performance* p = n.p.get();
    // Three repeats in the file; a resume with one loop left plays one loop, then ends.
    auto segment = SegmentOf(LoopedQuarter(3), OneInstrument());
    EXPECT_EQ(segment->GetRepeats(), 3u);
    segment->SetRepeats(1);
    auto state = p->PlaySegmentEx(segment);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->GetRepeats(), 1u);
    const auto got = Collect(*p, n.event, 3, 5000ms);
    EXPECT_EQ(Kinds(got), (std::vector<SegmentNotice>{SegmentNotice::Start, SegmentNotice::Loop,
                                                      SegmentNotice::End}));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NEAR(got[2].musicTime - state->GetStartTime(), 2 * 768, 2);
}

TEST(PerformanceRealTime, StopSilencesAtOnceAndResumeContinuesWhereItPaused) {
    NotifyingPerformance n;
    ASSERT_TRUE(n.p);
    Performance* p = n.p.get();
    auto seq = SequenceBuilder()
                   .bankOneProgram(0, 0, 0)
                   .note(0, 0, 60, 100, 7680)
                   .length(7680)
                   .build(); // 5 s
    auto segment = SegmentOf(seq, OneInstrument());
    auto state = p->PlaySegmentEx(segment);
    ASSERT_TRUE(state);
    std::this_thread::sleep_for(400ms);
    EXPECT_GT(p->ActiveVoices(), 0);
    // Pause as the preview does: stop, then the position grows by the time played.
    p->Stop(nullptr, nullptr);
    const int32_t played = p->GetTime() - state->GetStartTime();
    EXPECT_NEAR(played, 0.4 * 1536, 0.15 * 1536);
    EXPECT_FALSE(p->IsPlaying(segment.get(), nullptr));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(p->ActiveVoices(), 0); // no release tail after a stop
    ASSERT_TRUE(segment->SetStartPoint(played));
    auto resumed = p->PlaySegmentEx(segment);
    ASSERT_TRUE(resumed);
    EXPECT_GE(resumed->GetStartTime(), state->GetStartTime() + played);
    std::this_thread::sleep_for(100ms);
    int32_t position = 0;
    uint32_t loops = 0;
    ASSERT_TRUE(p->GetSegmentPosition(*resumed, position, loops));
    EXPECT_GE(position, played);
    EXPECT_LT(position, played + 0.5 * 1536);
    EXPECT_FALSE(p->GetSegmentPosition(*state, position, loops)); // an old state says nothing
    p->Stop(segment.get(), resumed.get());
    EXPECT_EQ(Kinds(Collect(*p, n.event, 4, 1000ms)),
              (std::vector<SegmentNotice>{SegmentNotice::Start, SegmentNotice::Abort,
                                          SegmentNotice::Start, SegmentNotice::Abort}));
}

TEST(PerformanceRealTime, NotifierPostsOnEveryWakeAndEndsOnQuit) {
    AutoResetEvent notify;
    ManualResetEvent quit;
    std::atomic<int> posts{0};
    {
        PlaybackNotifier notifier(notify, quit, [&] { ++posts; });
        notify.Set();
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (posts.load() < 1 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(posts.load(), 1);
        notifier.Shutdown(); // sets quit, wakes the thread once more, joins
        EXPECT_TRUE(quit.IsSet());
    }
    EXPECT_EQ(posts.load(), 2);
}

TEST(PlayLoop, PlaysAFileToItsEndAndStopsOnRequest) {
    testkit::TempFolder folder;
    ASSERT_TRUE(testkit::WriteFile(folder / "one.dls", playtest::BuildDls([] {
                                       playtest::TestCollection c;
                                       playtest::TestWave w;
                                       w.pcm = testkit::SineTone(4400, 100.0, 12000.0);
                                       c.waves = {w};
                                       playtest::TestInstrument in;
                                       playtest::TestRegion r;
                                       r.articulation = playtest::ConverterArticulation(
                                           0, 0.004, 0.05, 1000, 1.0);
                                       in.regions = {r};
                                       c.instruments = {in};
                                       return c;
                                   }())));
    // Bank LSB 1, program 0, one short note at 240 beats per minute.
    const testkit::Bytes smf = testkit::SmfBuilder(96)
                                   .tempo(0, 250000)
                                   .control(0, 0, 32, 1)
                                   .program(0, 0, 0)
                                   .noteOn(0, 0, 60, 100)
                                   .noteOff(96, 0, 60, 0)
                                   .endOfTrack(0)
                                   .build();
    ASSERT_TRUE(testkit::WriteFile(folder / "song.mid", smf));
    PlayJob job;
    job.input = folder / "song.mid";
    job.dls = folder / "one.dls";
    job.output = OutputKind::Null;
    job.synth = playtest::DrySynth();
    job.reportSeconds = 0.02;
    std::atomic<bool> stop{false};
    std::vector<PlayPosition> seen;
    PlayOutcome done = PlayFile(
        job, [&](const PlayPosition& p) { seen.push_back(p); }, stop);
    EXPECT_EQ(done.status, PlayStatus::Ended) << done.error;
    EXPECT_EQ(done.outputName, "null");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().musicTime, 768);
    EXPECT_EQ(seen.front().bar, 1);

    // A stop request ends a playback that would go on for ever.
    std::atomic<bool> stopNow{true};
    PlayOutcome stopped = PlayFile(job, {}, stopNow);
    EXPECT_EQ(stopped.status, PlayStatus::Stopped);

    job.dls = folder / "nothing.dls";
    EXPECT_EQ(PlayFile(job, {}, stop).status, PlayStatus::LoadFailed);
    // A collection without the song's program: refused before anything plays, named.
    ASSERT_TRUE(testkit::WriteFile(folder / "other.dls", playtest::BuildDls([] {
                                       playtest::TestCollection c;
                                       c.waves = {playtest::TestWave{
                                           testkit::SineTone(4400, 100.0, 12000.0)}};
                                       playtest::TestInstrument in;
                                       in.program = 9;
                                       in.regions = {playtest::TestRegion{}};
                                       c.instruments = {in};
                                       return c;
                                   }())));
    job.dls = folder / "other.dls";
    std::vector<std::string> warned;
    job.warn = [&](const std::string& w) { warned.push_back(w); };
    const PlayOutcome silent = PlayFile(job, {}, stop);
    EXPECT_EQ(silent.status, PlayStatus::LoadFailed);
    EXPECT_NE(silent.error.find("channel 1 (bank 1, program 0)"), std::string::npos)
        << silent.error;
    EXPECT_TRUE(warned.empty());
    // The program is there, but none of its regions plays the song's key 60.
    ASSERT_TRUE(testkit::WriteFile(folder / "low.dls", playtest::BuildDls([] {
                                       playtest::TestCollection c;
                                       c.waves = {playtest::TestWave{
                                           testkit::SineTone(4400, 100.0, 12000.0)}};
                                       playtest::TestInstrument in;
                                       playtest::TestRegion low;
                                       low.keyHigh = 7;
                                       in.regions = {low};
                                       c.instruments = {in};
                                       return c;
                                   }())));
    job.dls = folder / "low.dls";
    const PlayOutcome outside = PlayFile(job, {}, stop);
    EXPECT_EQ(outside.status, PlayStatus::LoadFailed);
    EXPECT_NE(outside.error.find("program 0: no region for its notes"), std::string::npos)
        << outside.error;
    job.dls = folder / "one.dls";
    job.output = OutputKind::Alsa;
    const PlayOutcome noDevice = PlayFile(job, {}, stop);
    if (noDevice.outputName.empty()) {
        EXPECT_EQ(noDevice.status, PlayStatus::OutputFailed);
        EXPECT_FALSE(noDevice.error.empty());
    }
}

} // namespace
} // namespace sonvex
