// SPDX-License-Identifier: GPL-3.0-or-later
// The sequencer without a synthesizer: frames of events through the tempo map, loop
// passes and repeat counts, note-offs by duration, and the state chased at a start point.
#include <gtest/gtest.h>

#include <cmath>

#include "playback/sequencer.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using playtest::SequenceBuilder;
using Kind = OutputEvent::Kind;

class Recorder : public EventSink {
  public:
    void Dispatch(const OutputEvent& e) override { events.push_back(e); }
    std::vector<OutputEvent> Of(Kind kind) const {
        std::vector<OutputEvent> out;
        for (const OutputEvent& e : events) {
            if (e.kind == kind) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<OutputEvent> events;
};

// One quarter note at 120 beats per minute is half a second: 22050 frames.
constexpr int64_t kQuarter = 22050;

std::vector<OutputEvent> RunAll(const std::shared_ptr<Sequence>& seq,
                                SequencerSettings settings = {}, int64_t step = 1 << 20,
                                int64_t until = 1 << 26) {
    Sequencer s(seq, settings);
    Recorder r;
    for (int64_t f = step; f <= until && !s.Finished(); f += step) {
        s.DispatchUntil(f, r);
    }
    return r.events;
}

TEST(TempoMap, SecondsAndMusicTimeBothWays) {
    TempoMap map({{1536, 60.0}, {768, 240.0}, {768, 120.0}, {-5, 90.0}, {3000, 0.0}, {3072, NAN}});
    ASSERT_EQ(map.Points().size(), 3u); // 0 (default), 768 (the later of two), 1536
    EXPECT_DOUBLE_EQ(map.SecondsAt(768), 0.5);
    EXPECT_DOUBLE_EQ(map.SecondsAt(1536), 1.0);
    EXPECT_DOUBLE_EQ(map.SecondsAt(2304), 2.0);
    EXPECT_DOUBLE_EQ(map.TempoAt(1535), 120.0);
    EXPECT_DOUBLE_EQ(map.TempoAt(1536), 60.0);
    for (double t : {0.0, 100.0, 768.0, 1600.0, 5000.0}) {
        EXPECT_NEAR(map.MusicTimeAt(map.SecondsAt(t)), t, 1e-9);
    }
}

TEST(Sequencer, EventFramesFollowTheTempoMap) {
    auto seq = SequenceBuilder()
                   .tempo(768, 60.0)
                   .note(0, 0, 60, 100, 384)
                   .note(768, 1, 62, 100, 768)
                   .control(1536, 2, 7, 90)
                   .length(3072)
                   .build();
    const auto events = RunAll(seq);
    Recorder r;
    r.events = events;
    const auto ons = r.Of(Kind::NoteOn);
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[0].frame, 0);
    EXPECT_EQ(ons[1].frame, kQuarter);
    const auto offs = r.Of(Kind::NoteOff);
    ASSERT_EQ(offs.size(), 2u);
    EXPECT_EQ(offs[0].frame, kQuarter / 2);            // an eighth at 120
    EXPECT_EQ(offs[1].frame, kQuarter + 2 * kQuarter); // a quarter at 60
    EXPECT_EQ(offs[1].Channel(), 1);
    EXPECT_EQ(offs[1].data1, 62);
    const auto cc = r.Of(Kind::Channel);
    ASSERT_EQ(cc.size(), 1u);
    EXPECT_EQ(cc[0].frame, 3 * kQuarter);
    const auto end = r.Of(Kind::SegmentEnd);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].frame, 7 * kQuarter); // 768..3072 at 60 beats per minute: 3 s
}

TEST(Sequencer, OutputDoesNotDependOnHowDispatchIsCut) {
    auto seq = SequenceBuilder()
                   .tempo(0, 97.3)
                   .tempo(1000, 151.0)
                   .note(0, 0, 60, 100, 10)
                   .note(333, 0, 61, 100, 1000)
                   .note(999, 3, 62, 100, 1)
                   .control(1000, 0, 10, 5)
                   .length(2400)
                   .loop(3, 500, 1800)
                   .build();
    const auto whole = RunAll(seq, {}, 1 << 20);
    const auto fine = RunAll(seq, {}, 1);
    const auto odd = RunAll(seq, {}, 777);
    ASSERT_EQ(whole.size(), fine.size());
    ASSERT_EQ(whole.size(), odd.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i].kind, fine[i].kind) << i;
        EXPECT_EQ(whole[i].frame, fine[i].frame) << i;
        EXPECT_EQ(whole[i].frame, odd[i].frame) << i;
        EXPECT_EQ(whole[i].data1, odd[i].data1) << i;
    }
    // Frames never go backwards.
    for (size_t i = 1; i < whole.size(); ++i) {
        EXPECT_LE(whole[i - 1].frame, whole[i].frame) << i;
    }
}

TEST(Sequencer, LoopPassesRepeatsAndNotificationsInOrder) {
    // Loop of bars 2 (768..1536) in a 3-quarter segment, repeated twice.
    auto seq = SequenceBuilder()
                   .note(0, 0, 60, 100, 100)
                   .note(768, 0, 64, 100, 100)
                   .note(1536, 0, 67, 100, 100)
                   .length(2304)
                   .loop(2, 768, 1536)
                   .build();
    Recorder r;
    r.events = RunAll(seq);
    std::vector<Kind> notices;
    std::vector<int64_t> frames;
    for (const OutputEvent& e : r.events) {
        if (e.kind == Kind::SegmentStart || e.kind == Kind::SegmentLoop ||
            e.kind == Kind::SegmentEnd) {
            notices.push_back(e.kind);
            frames.push_back(e.frame);
        }
    }
    EXPECT_EQ(notices, (std::vector<Kind>{Kind::SegmentStart, Kind::SegmentLoop, Kind::SegmentLoop,
                                          Kind::SegmentEnd}));
    EXPECT_EQ(frames, (std::vector<int64_t>{0, 2 * kQuarter, 3 * kQuarter, 5 * kQuarter}));
    const auto loops = r.Of(Kind::SegmentLoop);
    EXPECT_EQ(loops[0].loopsDone, 1u);
    EXPECT_EQ(loops[1].loopsDone, 2u);
    std::vector<int> keys;
    std::vector<int64_t> at;
    for (const OutputEvent& e : r.Of(Kind::NoteOn)) {
        keys.push_back(e.data1);
        at.push_back(e.frame);
    }
    // The body plays three times, then the part after the loop.
    EXPECT_EQ(keys, (std::vector<int>{60, 64, 64, 64, 67}));
    EXPECT_EQ(at, (std::vector<int64_t>{0, kQuarter, 2 * kQuarter, 3 * kQuarter, 4 * kQuarter}));
}

TEST(Sequencer, LoopEndZeroLoopsTheWholeSegment) {
    auto seq = SequenceBuilder()
                   .note(0, 0, 60, 100, 100)
                   .note(768, 0, 64, 100, 100)
                   .length(1536)
                   .loop(1, 768, 0)
                   .build();
    Recorder r;
    r.events = RunAll(seq);
    std::vector<int> keys;
    for (const OutputEvent& e : r.Of(Kind::NoteOn)) {
        keys.push_back(e.data1);
    }
    EXPECT_EQ(keys, (std::vector<int>{60, 64, 60, 64}));
    EXPECT_EQ(r.Of(Kind::SegmentEnd)[0].frame, 4 * kQuarter);
}

TEST(Sequencer, EndlessRepeatsNeverEnd) {
    auto seq =
        SequenceBuilder().note(0, 0, 60, 100, 100).length(768).loop(kRepeatEndless, 0, 768).build();
    Sequencer s(seq, {});
    Recorder r;
    s.DispatchUntil(kQuarter * 50 + 1, r);
    EXPECT_FALSE(s.SegmentEnded());
    EXPECT_EQ(s.LoopsDone(), 50u);
    EXPECT_EQ(r.Of(Kind::NoteOn).size(), 51u);
    // Loops folded back: a frame in the 50th pass sits at the same place as in the first.
    const int64_t intoPass = 11025; // an eighth note
    EXPECT_NEAR(s.PositionAt(kQuarter * 49 + intoPass), 384.0, 1e-6);
    EXPECT_NEAR(s.MusicTimePlayedAt(kQuarter * 49 + intoPass), 49 * 768 + 384.0, 1e-6);
}

TEST(Sequencer, LoopsThatCannotLoopPlayOnce) {
    for (auto [start, end] : {std::pair{900, 800}, std::pair{800, 800}, std::pair{5000, 6000}}) {
        auto seq = SequenceBuilder()
                       .note(0, 0, 60, 100, 100)
                       .length(1536)
                       .loop(kRepeatEndless, start, end)
                       .build();
        Recorder r;
        r.events = RunAll(seq);
        EXPECT_TRUE(r.Of(Kind::SegmentLoop).empty()) << start << ".." << end;
        ASSERT_EQ(r.Of(Kind::SegmentEnd).size(), 1u);
    }
}

TEST(Sequencer, NoteOverTheLoopEndEndsByItsDuration) {
    // A note from 600 lasting 400 crosses the loop end at 768; its note-off still comes
    // 400 ticks after its start, in the next pass.
    auto seq = SequenceBuilder().note(600, 0, 70, 100, 400).length(768).loop(1, 0, 768).build();
    Recorder r;
    r.events = RunAll(seq);
    const auto ons = r.Of(Kind::NoteOn);
    const auto offs = r.Of(Kind::NoteOff);
    ASSERT_EQ(ons.size(), 2u);
    ASSERT_EQ(offs.size(), 2u);
    const int64_t held = static_cast<int64_t>(std::llround(400.0 / 768.0 * kQuarter));
    EXPECT_EQ(offs[0].frame, ons[0].frame + held);
    EXPECT_EQ(offs[1].frame, ons[1].frame + held);
    EXPECT_GT(offs[0].frame, kQuarter); // after the loop went back
}

TEST(Sequencer, StartPointChasesStateButNotNotes) {
    auto seq = SequenceBuilder()
                   .bankOneProgram(0, 0, 5)
                   .control(0, 0, 7, 100)
                   .note(0, 0, 60, 100, 3000) // still sounding at the start point: not heard
                   .control(500, 0, 7, 80)
                   .bend(600, 0, 0x3000)
                   .program(700, 1, 9)
                   .note(768, 0, 62, 100, 100)
                   .note(1000, 0, 64, 100, 100)
                   .length(1536)
                   .build();
    SequencerSettings settings;
    settings.startPoint = 768;
    Recorder r;
    r.events = RunAll(seq, settings);
    ASSERT_GE(r.events.size(), 8u);
    EXPECT_EQ(r.events[0].kind, Kind::ResetChannels);
    // Everything before the start point except notes, in order, at frame 0.
    std::vector<std::pair<int, int>> chased;
    size_t i = 1;
    for (; i < r.events.size() && r.events[i].kind == Kind::Channel; ++i) {
        EXPECT_EQ(r.events[i].frame, 0);
        chased.push_back({r.events[i].status, r.events[i].data1});
    }
    EXPECT_EQ(
        chased,
        (std::vector<std::pair<int, int>>{
            {0xB0, 0}, {0xB0, 32}, {0xC0, 5}, {0xB0, 7}, {0xB0, 7}, {0xE0, 0x00}, {0xC1, 9}}));
    EXPECT_EQ(r.events[i].kind, Kind::SegmentStart);
    EXPECT_EQ(r.events[i].musicTime, 768);
    const auto ons = r.Of(Kind::NoteOn);
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[0].data1, 62); // the event at the start point itself plays, at frame 0
    EXPECT_EQ(ons[0].frame, 0);
    EXPECT_EQ(ons[1].frame, static_cast<int64_t>(std::llround(232.0 / 768.0 * kQuarter)));
    EXPECT_EQ(r.Of(Kind::SegmentEnd)[0].frame, kQuarter);
}

TEST(Sequencer, StartPointsOutsideTheSegment) {
    auto seq = SequenceBuilder().note(0, 0, 60, 100, 10).length(768).loop(2, 0, 384).build();
    SequencerSettings past;
    past.startPoint = 768;
    Recorder r;
    r.events = RunAll(seq, past);
    EXPECT_TRUE(r.Of(Kind::NoteOn).empty());
    ASSERT_EQ(r.Of(Kind::SegmentEnd).size(), 1u);
    EXPECT_EQ(r.Of(Kind::SegmentEnd)[0].frame, 0);
    // A start after the loop end plays to the end without looping.
    SequencerSettings late;
    late.startPoint = 500;
    Recorder q;
    q.events = RunAll(seq, late);
    EXPECT_TRUE(q.Of(Kind::SegmentLoop).empty());
    EXPECT_EQ(q.Of(Kind::SegmentEnd)[0].frame,
              static_cast<int64_t>(std::llround(268.0 / 768.0 * kQuarter)));
}

TEST(Sequencer, BandsDispatchEveryInstrument) {
    auto seq = std::make_shared<Sequence>();
    seq->bands.push_back({BandInstrument{0, 0x105, kBandPatchValid, 100, 64, 2, 0},
                          BandInstrument{3, 0x106, kBandPatchValid, 90, 10, 12, 0}});
    MusicEvent band;
    band.kind = MusicEventKind::Band;
    band.time = 0;
    band.band = 0;
    seq->events.push_back(band);
    MusicEvent broken = band;
    broken.band = 7; // no such band
    seq->events.push_back(broken);
    seq->length = 10;
    Recorder r;
    r.events = RunAll(seq);
    const auto bands = r.Of(Kind::Band);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0].Channel(), 0);
    EXPECT_EQ(bands[1].Channel(), 3);
    EXPECT_EQ(bands[1].instrument->bendRange, 12);
}

TEST(Sequencer, RepeatOverrideReplacesTheSegmentsOwnCount) {
    auto seq =
        SequenceBuilder().note(0, 0, 60, 100, 10).length(768).loop(kRepeatEndless, 0, 768).build();
    SequencerSettings settings;
    settings.repeats = 1;
    Recorder r;
    r.events = RunAll(seq, settings);
    EXPECT_EQ(r.Of(Kind::SegmentLoop).size(), 1u);
    EXPECT_EQ(r.Of(Kind::SegmentEnd)[0].frame, 2 * kQuarter);
}

} // namespace
} // namespace sonvex
