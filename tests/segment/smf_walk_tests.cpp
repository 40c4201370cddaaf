// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF walk: header checks, music time per delta, the accepted event subset, and
// the repeat count, loop markers and time signature the sequence walk takes.
#include <gtest/gtest.h>

#include "segment/smf_reader.h"
#include "testkit/smf_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::SmfBuilder;

struct Walked {
    bool header = false;
    bool ok = false;
    std::vector<int32_t> times; // of every event handed to the action
    std::vector<uint8_t> statuses;
    int32_t end = 0;
    std::string failure;
    SequenceValues values;
};

Walked WalkSmf(const Bytes& smf) {
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    fs.Put("a.mid", smf);
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("a.mid"));
    SmfReader reader(file);
    Walked w;
    w.header = reader.CheckHeader();
    if (w.header) {
        w.ok = reader.Walk([&](const SmfEvent& e) {
            w.times.push_back(e.time);
            w.statuses.push_back(e.status);
            w.values.Take(e);
            return true;
        });
        w.end = reader.EndTime();
    }
    w.failure = reader.Failure();
    return w;
}

TEST(SmfWalk, DivisionScalesEachDeltaAndRoundsItAlone) {
    struct Case {
        uint16_t division;
        std::vector<uint32_t> deltas;
        std::vector<int32_t> times;
    };
    const Case cases[] = {
        {768, {0, 1, 5, 767}, {0, 1, 6, 773}},
        {96, {1, 2, 96}, {8, 24, 792}},
        // 1.6 music ticks per tick: each delta of 1 becomes 2, so 2, 4, 6 and not 2, 3, 5.
        {480, {1, 1, 1}, {2, 4, 6}},
        {480, {0, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SmfBuilder smf(c.division);
        for (uint32_t d : c.deltas) {
            smf.noteOn(d, 0, 60, 100);
        }
        const Walked w = WalkSmf(smf.endOfTrack(0).build());
        ASSERT_TRUE(w.ok) << w.failure;
        EXPECT_EQ(w.times, c.times) << "division " << c.division;
    }
}

TEST(SmfWalk, SegmentLengthIsTheTimeAfterEndOfTrack) {
    // Division 480: every event at delta 0 and the end of track 960 ticks later.
    const Walked w =
        WalkSmf(SmfBuilder(480).program(0, 0, 1).noteOn(0, 0, 60, 1).endOfTrack(960).build());
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.end, 1536);
}

TEST(SmfWalk, HeadersOutsideTheSubsetFailBeforeAnyEvent) {
    auto base = [] { return SmfBuilder(480).noteOn(0, 0, 60, 1).endOfTrack(0); };
    const Bytes cases[] = {
        base().format(1).build(),
        base().trackCount(2).build(),
        base().headerLength(7).build(),
        base().division(0).build(),
        Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 1}, // 13 bytes
    };
    for (const Bytes& smf : cases) {
        EXPECT_FALSE(WalkSmf(smf).header);
    }
    Bytes wrongMagic = base().build();
    wrongMagic[3] = 'D';
    EXPECT_FALSE(WalkSmf(wrongMagic).header);
    EXPECT_TRUE(WalkSmf(base().build()).ok);
}

TEST(SmfWalk, EventsOutsideTheSubsetFailTheWalk) {
    const Bytes rejected[] = {
        // Running status: a second note on without its status byte.
        SmfBuilder().noteOn(0, 0, 60, 100).raw({0x00, 62, 100}).endOfTrack(0).build(),
        SmfBuilder().event(0, 0xA0, {60, 10}).endOfTrack(0).build(), // polyphonic pressure
        SmfBuilder().event(0, 0xD3, {10}).endOfTrack(0).build(),     // channel pressure
        SmfBuilder().control(0, 0, 6, 1).endOfTrack(0).build(),      // data entry
        SmfBuilder().control(0, 0, 100, 0).endOfTrack(0).build(),
        SmfBuilder().control(0, 0, 101, 0).endOfTrack(0).build(),
        SmfBuilder().meta(0, 0x59, {0, 0}).endOfTrack(0).build(),     // key signature
        SmfBuilder().meta(0, 0x05, {'l', 'a'}).endOfTrack(0).build(), // lyric
        SmfBuilder().event(0, 0xF2, {0, 0}).endOfTrack(0).build(),
        SmfBuilder().event(0, 0xF7, {0}).endOfTrack(0).build(),
        SmfBuilder().tempo(0, 500000).build(), // no end of track: the file runs out
        SmfBuilder()
            .raw({0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1})
            .endOfTrack(0)
            .build(), // delta overflow
        SmfBuilder()
            .raw({0x90, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})
            .endOfTrack(0)
            .build(),                                                     // 2^32: no wrap to 0
        SmfBuilder().meta(0, 0x51, {0x07, 0xA1}).endOfTrack(0).build(),   // tempo of two bytes
        SmfBuilder(1).noteOn(0x0FFFFFFF, 0, 60, 1).endOfTrack(0).build(), // beyond 32-bit music
                                                                          // time
    };
    for (size_t i = 0; i < std::size(rejected); ++i) {
        const Walked w = WalkSmf(rejected[i]);
        EXPECT_TRUE(w.header) << "case " << i;
        EXPECT_FALSE(w.ok) << "case " << i;
        EXPECT_NE(w.failure.find("0x000000"), std::string::npos)
            << "case " << i << ": " << w.failure;
    }
}

TEST(SmfWalk, AcceptedEventsAllReachTheActionInOrder) {
    const Bytes smf = SmfBuilder(768)
                          .writerPreamble(500000, 4, 2)
                          .control(0, 1, 0, 0)
                          .control(0, 1, 32, 1)
                          .program(0, 1, 5)
                          .meta(0, 0x07, {'c', 'u', 'e'})
                          .noteOn(1, 1, 60, 100)
                          .noteOff(1, 1, 60)
                          .bend(1, 1, 0x2000)
                          .endOfTrack(3)
                          .build();
    const Walked w = WalkSmf(smf);
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.statuses, (std::vector<uint8_t>{0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xB1, 0xB1, 0xC1,
                                                0xFF, 0x91, 0x81, 0xE1}));
    EXPECT_EQ(w.times, (std::vector<int32_t>{0, 0, 0, 4, 12, 12, 12, 12, 12, 13, 14, 15}));
    EXPECT_EQ(w.end, 18);
}

TEST(SmfWalk, SystemExclusiveIsSkippedByItsLengthAndNeverBackwards) {
    Bytes body(200, 0x11);
    body.back() = 0xF7;
    // 200 does not fit one byte: it is read as a variable-length quantity (81 48).
    const Walked w = WalkSmf(SmfBuilder(768)
                                 .sysex(2, {0x7E, 0xF7})
                                 .sysex(3, body)
                                 .noteOn(5, 0, 60, 1)
                                 .endOfTrack(0)
                                 .build());
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.times, (std::vector<int32_t>{2, 5, 10}));
    EXPECT_EQ(w.statuses.back(), 0x90);
    // A length that runs past the end of the file fails.
    EXPECT_FALSE(WalkSmf(SmfBuilder(768).raw({0x00, 0xF0, 0x81, 0x00, 1, 2}).build()).ok);
}

TEST(SmfWalk, TempoWithMoreThanThreeBytesKeepsTheWalkInStep) {
    const Walked w = WalkSmf(SmfBuilder(768)
                                 .meta(0, 0x51, {0x07, 0xA1, 0x20, 0x55})
                                 .noteOn(7, 0, 60, 1)
                                 .endOfTrack(0)
                                 .build());
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.times, (std::vector<int32_t>{0, 7}));
    EXPECT_DOUBLE_EQ(TempoFromMicroseconds(500000), 120.0);
    EXPECT_DOUBLE_EQ(TempoFromMicroseconds(400000), 150.0);
}

TEST(SmfWalk, RepeatCountFollowsTheTextEvents) {
    struct Case {
        std::vector<std::string> texts;
        uint32_t repeats;
    };
    const Case cases[] = {
        {{"003", "002"}, 3},
        {{"127"}, kRepeatForever},
        {{"126"}, 126},
        {{"5", "abc"}, 5},
        {{"abc"}, 0},
        {{"  \t12 loops"}, 12},
        {{"+7"}, 7},
        {{"-1"}, kRepeatForever},
        {{"200", "3"}, kRepeatForever},
        {{"99999999999"}, kRepeatForever},
        {{"", "1"}, 1},
    };
    for (const Case& c : cases) {
        SmfBuilder smf(768);
        for (const std::string& t : c.texts) {
            smf.text(0, t);
        }
        const Walked w = WalkSmf(smf.endOfTrack(0).build());
        ASSERT_TRUE(w.ok) << w.failure;
        EXPECT_EQ(w.values.repeats, c.repeats) << c.texts.front();
    }
    const uint8_t withNul[] = {'4', 0, '9'};
    EXPECT_EQ(ParseDecimal(withNul), 4);
}

TEST(SmfWalk, LoopMarkersIgnoreCaseAndTheLastOneWins) {
    const Walked w = WalkSmf(SmfBuilder(768)
                                 .marker(10, "LOOP_START")
                                 .marker(10, "loop_end")
                                 .marker(10, "Loop_Start ") // trailing blank: not a loop marker
                                 .marker(10, "Loop_End")
                                 .marker(0, "Loop_En")
                                 .endOfTrack(0)
                                 .build());
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.values.loopStart, 10);
    EXPECT_EQ(w.values.loopEnd, 40);
    const uint8_t withNul[] = {'l', 'o', 'o', 'p', '_', 's', 't', 'a', 'r', 't', 0, 'x'};
    EXPECT_EQ(ClassifyMarker(withNul), LoopMarker::Start);
}

TEST(SmfWalk, TimeSignatureTakesTheLastEventOrDefaultsToFourFour) {
    Walked w = WalkSmf(SmfBuilder(768).noteOn(5, 0, 60, 1).endOfTrack(0).build());
    EXPECT_FALSE(w.values.timeSignatureSeen);
    EXPECT_EQ(w.values.timeSignature, (TimeSignatureItem{0, 4, 4, 1}));

    w = WalkSmf(SmfBuilder(768)
                    .timeSignature(0, 4, 2)
                    .timeSignature(96, 3, 3)
                    .meta(4, 0x58, {7})
                    .endOfTrack(0)
                    .build());
    ASSERT_TRUE(w.ok) << w.failure;
    EXPECT_EQ(w.values.timeSignature, (TimeSignatureItem{96, 3, 8, 1}));

    // Two to the power of 8 does not fit the beat byte.
    w = WalkSmf(SmfBuilder(768).timeSignature(1, 6, 8).endOfTrack(0).build());
    EXPECT_EQ(w.values.timeSignature, (TimeSignatureItem{1, 6, 0, 1}));
}

} // namespace
} // namespace sonvex
