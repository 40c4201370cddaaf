// SPDX-License-Identifier: GPL-3.0-or-later
// "SSsq" items through ConvertSsq: header block before the magic, division byte order,
// tempo from beats per minute, one-byte pitch bend, and items too close to the start.
#include <gtest/gtest.h>

#include "seq2smf/seq_translator.h"
#include "seq2smf/ssq_converter.h"
#include "smf_golden.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::ExpectedSmf;
using testkit::SeqTrack;
using testkit::SmfTrackBytes;

class SsqConvertTest : public testkit::InMemoryConversion {
  protected:
    SeqConversion Convert(uint16_t division, uint32_t bpm, const SeqTrack& track,
                          size_t leading = 0) {
        testkit::ByteBuilder game;
        game.noise(leading, 99).append(testkit::BuildSsq(division, bpm, track));
        fs.Put(kGame, game.take());
        return ConvertSsq(leading + testkit::kSsqMagicOffset, kGame, kStem, feedback,
                          SmfRules::Classic);
    }
};

TEST_F(SsqConvertTest, DivisionIsByteSwappedAndTempoComesFromBeatsPerMinute) {
    // E0 01 at P - 10 is 480 ticks; 120 beats per minute is 500 000 microseconds.
    const SeqConversion c = Convert(480, 120, SeqTrack().noteOn(1, 0, 60, 1).endOfTrack(0), 3000);
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_EQ(c.smfFilesMade, 1);
    const Bytes& file = Output(".mid");
    EXPECT_SAME_BYTES(
        file, ExpectedSmf(0x01E0, 0x07A120, 4, 2, SmfTrackBytes().ev(1, {0x90, 60, 1}).end(0)));
    EXPECT_EQ(Bytes(file.begin() + 12, file.begin() + 14), (Bytes{0x01, 0xE0}));
    EXPECT_TRUE(feedback.Messages().empty());

    ASSERT_EQ(Convert(96, 100, SeqTrack().endOfTrack(0)).result, ConvertResult::Done);
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(96, 0x0927C0, 4, 2, SmfTrackBytes().end(0)));
}

TEST_F(SsqConvertTest, PitchBendHasOneDataByteAndTempoEventsAreInBeatsPerMinute) {
    const SeqConversion c = Convert(480, 120,
                                    SeqTrack()
                                        .pitchBend1(1, 2, 0x40)
                                        .running(2, {0x10})
                                        .tempoBpm(3, 120)
                                        .tempoBpm(4, 100)
                                        .noteOn(5, 2, 60, 1)
                                        .endOfTrack(0));
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(480, 500000, 4, 2,
                                                  SmfTrackBytes()
                                                      .ev(1, {0xE2, 0x40, 0x00})
                                                      .ev(2, {0xE2, 0x10, 0x00})
                                                      .ev(3, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})
                                                      .ev(4, {0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0})
                                                      .ev(5, {0x92, 60, 1})
                                                      .end(0)));
}

TEST_F(SsqConvertTest, SharesTheControllerAndLoopTranslation) {
    const SeqConversion c = Convert(480, 120,
                                    SeqTrack()
                                        .program(1, 9, 3)
                                        .control(2, 9, 99, 20)
                                        .control(3, 9, 98, 4)
                                        .control(4, 9, 33, 1)
                                        .control(5, 9, 7, 99)
                                        .endOfTrack(0));
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(480, 500000, 4, 2,
                                                  SmfTrackBytes()
                                                      .ev(1, {0xB9, 0x00, 0x00})
                                                      .ev(0, {0xB9, 0x20, 0x01})
                                                      .ev(0, {0xC9, 3})
                                                      .marker(2, "Loop_Start")
                                                      .loopCount(3, "004")
                                                      .ev(5 + 4, {0xB9, 7, 99})
                                                      .end(0)));
}

TEST(SsqTempo, MicrosecondsPerQuarterNote) {
    EXPECT_EQ(MicrosecondsPerQuarter(120), 500000u);
    EXPECT_EQ(MicrosecondsPerQuarter(100), 600000u);
    EXPECT_EQ(MicrosecondsPerQuarter(7), 8571428u);  // truncated, not rounded (…428.57)
    EXPECT_EQ(MicrosecondsPerQuarter(4), 15000000u); // slowest that fits 24 bits
    EXPECT_EQ(MicrosecondsPerQuarter(65535), 915u);
    // Too slow for 24 bits, and 0, give the slowest tempo instead of wrapping or dividing by 0.
    EXPECT_EQ(MicrosecondsPerQuarter(3), 0xFFFFFFu);
    EXPECT_EQ(MicrosecondsPerQuarter(1), 0xFFFFFFu);
    EXPECT_EQ(MicrosecondsPerQuarter(0), 0xFFFFFFu);
}

TEST_F(SsqConvertTest, TempoOfZeroInTheHeaderOrAnEventGivesTheSlowestTempo) {
    const SeqConversion c = Convert(480, 0, SeqTrack().tempoBpm(1, 0).endOfTrack(0));
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_SAME_BYTES(
        Output(".mid"),
        ExpectedSmf(480, 0xFFFFFF, 4, 2,
                    SmfTrackBytes().ev(1, {0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF}).end(0)));
}

TEST_F(SsqConvertTest, ItemBelowSixteenCannotBeConverted) {
    // "SSsq" at 0..15: the division and tempo would lie before the file.
    const Bytes item = testkit::BuildSsq(480, 120, SeqTrack().endOfTrack(0));
    for (uint64_t p = 0; p < 16; ++p) {
        fs.Put(kGame, Bytes(item.begin() + static_cast<std::ptrdiff_t>(16 - p), item.end()));
        const SeqConversion c = ConvertSsq(p, kGame, kStem, feedback);
        EXPECT_EQ(c.result, ConvertResult::CannotConvert) << "P = " << p;
        EXPECT_EQ(c.smfFilesMade, 0);
        EXPECT_FALSE(Exists(".mid"));
    }
    EXPECT_TRUE(feedback.Messages().empty());
}

TEST_F(SsqConvertTest, FileEndingBeforeTheFirstEventByteCreatesNoFile) {
    const Bytes item = testkit::BuildSsq(480, 120, SeqTrack().endOfTrack(0));
    // P + 260 is the end of the header block, which includes the first event byte.
    for (size_t size : {size_t{0}, size_t{20}, size_t{16 + 259}}) {
        fs.Put(kGame, Bytes(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(size)));
        const SeqConversion c = ConvertSsq(16, kGame, kStem, feedback);
        EXPECT_EQ(c.result, ConvertResult::InputEnded) << size;
        EXPECT_FALSE(Exists(".mid"));
    }
    // Beyond the end of the file altogether.
    fs.Put(kGame, item);
    EXPECT_EQ(ConvertSsq(1u << 30, kGame, kStem, feedback).result, ConvertResult::InputEnded);
    EXPECT_EQ(ConvertSsq(~uint64_t{0}, kGame, kStem, feedback).result, ConvertResult::InputEnded);
    EXPECT_FALSE(Exists(".mid"));
}

} // namespace
} // namespace sonvex
