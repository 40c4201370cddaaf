// SPDX-License-Identifier: GPL-3.0-or-later
// "pQES" single sequences through ConvertSeq: header fields, the event table, the
// controller table, loop markers and loop-count text, bank selects, pending delta, and
// events that must vanish whole.
#include <gtest/gtest.h>

#include "seq2smf/seq_converter.h"
#include "smf_golden.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::ExpectedSmf;
using testkit::SeqTiming;
using testkit::SeqTrack;
using testkit::SmfTrackBytes;

class SeqConvertTest : public testkit::InMemoryConversion {
  protected:
    const SeqTiming timing{0x01E0, 0x07A120, 3, 3};

    SeqConversion Convert(const SeqTrack& track, const SeqTiming& t) {
        fs.Put(kGame, testkit::BuildSingleSeq(t, track));
        return ConvertSeq(0, kGame, kStem, feedback, SmfRules::Classic);
    }
    // Converts `track` and compares the .mid with the preamble plus `expected`.
    void ExpectTrack(const SeqTrack& track, const SmfTrackBytes& expected) {
        const SeqConversion c = Convert(track, timing);
        ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
        EXPECT_EQ(c.smfFilesMade, 1);
        EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(0x01E0, 0x07A120, 3, 3, expected));
        EXPECT_TRUE(feedback.Messages().empty());
    }
};

TEST_F(SeqConvertTest, EndOfTrackAloneGivesThe88ByteFileWithTheHeaderFields) {
    ExpectTrack(SeqTrack().endOfTrack(0), SmfTrackBytes().end(0));
    EXPECT_EQ(Output(".mid").size(), 88u);
}

TEST_F(SeqConvertTest, TimeSignatureDefaultsOnlyWhenBothBytesAreZero) {
    const struct {
        uint8_t numerator, exponent, writtenNumerator, writtenExponent;
    } cases[] = {{0, 0, 4, 2}, {0, 3, 0, 3}, {6, 0, 6, 0}, {7, 3, 7, 3}};
    for (const auto& c : cases) {
        const SeqTiming t{96, 600000, c.numerator, c.exponent};
        const SeqConversion r = Convert(SeqTrack().endOfTrack(7), t);
        ASSERT_EQ(r.result, ConvertResult::Done);
        EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(96, 600000, c.writtenNumerator,
                                                      c.writtenExponent, SmfTrackBytes().end(7)));
    }
}

TEST_F(SeqConvertTest, ItemIsFoundAtItsOffsetInsideOtherData) {
    Bytes game;
    testkit::ByteBuilder noise;
    noise.noise(1234, 77);
    game = noise.take();
    const Bytes item =
        testkit::BuildSingleSeq(timing, SeqTrack().noteOn(3, 1, 60, 100).endOfTrack(2));
    game.insert(game.end(), item.begin(), item.end());
    game.resize(game.size() + 50, 0xEE);
    fs.Put(kGame, game);
    const SeqConversion c = ConvertSeq(1234, kGame, kStem, feedback, SmfRules::Classic);
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(0x01E0, 0x07A120, 3, 3,
                                                  SmfTrackBytes().ev(3, {0x91, 60, 100}).end(2)));
}

TEST_F(SeqConvertTest, NotesAndPitchBendsAreCopiedWithFullStatusEvenUnderRunningStatus) {
    ExpectTrack(SeqTrack()
                    .noteOn(0, 2, 60, 100)
                    .running(10, {62, 90})
                    .noteOff(20, 2, 60, 0x40)
                    .running(5, {62, 0x40})
                    .pitchBend(1, 15, 0x00, 0x40)
                    .running(1, {0x7F, 0x7F})
                    .endOfTrack(0),
                SmfTrackBytes()
                    .ev(0, {0x92, 60, 100})
                    .ev(10, {0x92, 62, 90})
                    .ev(20, {0x82, 60, 0x40})
                    .ev(5, {0x82, 62, 0x40})
                    .ev(1, {0xEF, 0x00, 0x40})
                    .ev(1, {0xEF, 0x7F, 0x7F})
                    .end(0));
}

TEST_F(SeqConvertTest, TempoEventGetsItsLengthByte) {
    ExpectTrack(SeqTrack().tempo(48, 0x0927C0).endOfTrack(0),
                SmfTrackBytes().ev(48, {0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}).end(0));
}

TEST_F(SeqConvertTest, FirstProgramChangeOfEachChannelIsPrecededByBankSelects) {
    ExpectTrack(SeqTrack()
                    .program(5, 3, 10)
                    .program(6, 3, 11)
                    .program(7, 4, 12)
                    .running(8, {13})
                    .endOfTrack(0),
                SmfTrackBytes()
                    .ev(5, {0xB3, 0x00, 0x00})
                    .ev(0, {0xB3, 0x20, 0x01})
                    .ev(0, {0xC3, 10})
                    .ev(6, {0xC3, 11})
                    .ev(7, {0xB4, 0x00, 0x00})
                    .ev(0, {0xB4, 0x20, 0x01})
                    .ev(0, {0xC4, 12})
                    .ev(8, {0xC4, 13})
                    .end(0));
}

TEST_F(SeqConvertTest, ControllerTableCopiesRenamesAndDrops) {
    // Copied as they are: 1, 7, 10, 11, 12, 64, 91. Bank select gains its LSB 1. Reset all
    // controllers becomes all notes off with the value kept. Every other controller is
    // dropped and its delta goes to the next written event.
    ExpectTrack(SeqTrack()
                    .control(1, 0, 1, 11)
                    .control(2, 0, 7, 100)
                    .control(3, 0, 10, 64)
                    .control(4, 0, 11, 127)
                    .control(5, 0, 12, 1)
                    .control(6, 0, 64, 0)
                    .control(7, 0, 91, 40)
                    .control(8, 5, 0, 2)
                    .control(9, 5, 121, 0)
                    .control(10, 5, 32, 7)
                    .control(11, 5, 100, 0)
                    .control(12, 5, 6, 3)
                    .control(13, 5, 5, 3)
                    .endOfTrack(1),
                SmfTrackBytes()
                    .ev(1, {0xB0, 1, 11})
                    .ev(2, {0xB0, 7, 100})
                    .ev(3, {0xB0, 10, 64})
                    .ev(4, {0xB0, 11, 127})
                    .ev(5, {0xB0, 12, 1})
                    .ev(6, {0xB0, 64, 0})
                    .ev(7, {0xB0, 91, 40})
                    .ev(8, {0xB5, 0x00, 2})
                    .ev(0, {0xB5, 0x20, 0x01})
                    .ev(9, {0xB5, 0x7B, 0})
                    .end(13 + 1));
}

TEST_F(SeqConvertTest, PendingDeltaIsReplacedNotAdded) {
    // Three dropped events with deltas 10, 20, 30 before a note with delta 5: the note
    // carries 30 + 5 = 35; the earlier dropped time is not carried.
    ExpectTrack(SeqTrack()
                    .control(10, 0, 100, 1)
                    .event(20, {0xA0})
                    .control(30, 0, 101, 1)
                    .noteOn(5, 0, 60, 1)
                    .endOfTrack(0),
                SmfTrackBytes().ev(35, {0x90, 60, 1}).end(0));
}

TEST_F(SeqConvertTest, DroppedKindsVanishWholeAndKeepTheirDelta) {
    // An/Dn take no data bytes; a data byte with no running status drops itself and the
    // two bytes after it; F0..FE and meta types other than 2F and 51 leave nothing behind,
    // and the byte after F0 under running status is read again as a delta.
    ExpectTrack(SeqTrack().event(3, {0xD1}).noteOn(0, 1, 64, 64).endOfTrack(0),
                SmfTrackBytes().ev(3, {0x91, 64, 64}).end(0));

    ExpectTrack(SeqTrack().event(4, {0x45, 0x46, 0x47}).noteOn(2, 0, 1, 2).endOfTrack(0),
                SmfTrackBytes().ev(4 + 2, {0x90, 1, 2}).end(0));

    // FF 01 05 is dropped (pending 6), F0 too (pending 7). Then 02 33: the 33 stands
    // where a status is due, running status F0 takes no data, so 33 is read again as the
    // delta of the note (pending 2 by then): the note is written with 0x33 + 2.
    ExpectTrack(SeqTrack()
                    .event(6, {0xFF, 0x01, 0x05})
                    .event(7, {0xF0})
                    .event(2, {0x33})
                    .raw({0x90, 60, 1})
                    .endOfTrack(0),
                SmfTrackBytes().ev(0x35, {0x90, 60, 1}).end(0));
}

TEST_F(SeqConvertTest, LoopStartAndLoopEndMarkersAreWrittenOnce) {
    // Controller 99 value 20 twice: one "Loop_Start", the second is dropped and its delta
    // carried. The same for value 30 and "Loop_End".
    ExpectTrack(SeqTrack()
                    .control(4, 0, 99, 20)
                    .control(5, 0, 99, 20)
                    .noteOn(1, 0, 60, 1)
                    .control(6, 0, 99, 30)
                    .control(7, 0, 99, 30)
                    .endOfTrack(2),
                SmfTrackBytes()
                    .marker(4, "Loop_Start")
                    .ev(5 + 1, {0x90, 60, 1})
                    .marker(6, "Loop_End")
                    .end(7 + 2));
}

TEST_F(SeqConvertTest, ControllerNinetyNineValueFortyToggles) {
    ExpectTrack(SeqTrack()
                    .control(1, 0, 99, 40)
                    .control(2, 0, 99, 40)
                    .control(3, 0, 99, 40)
                    .control(4, 0, 99, 41)
                    .endOfTrack(0),
                SmfTrackBytes()
                    .marker(1, "Loop_Start")
                    .marker(2, "Loop_End")
                    .marker(3, "Loop_Start")
                    .end(4));
    // The marker bytes themselves: FF 06 0B "Loop_Start" 00 and FF 06 09 "Loop_End" 00.
    const Bytes& file = Output(".mid");
    const Bytes start = {0xFF, 0x06, 0x0B, 'L', 'o', 'o', 'p', '_', 'S', 't', 'a', 'r', 't', 0x00};
    const Bytes end = {0xFF, 0x06, 0x09, 'L', 'o', 'o', 'p', '_', 'E', 'n', 'd', 0x00};
    EXPECT_EQ(Bytes(file.begin() + 85, file.begin() + 85 + 14), start);
    EXPECT_EQ(Bytes(file.begin() + 100, file.begin() + 100 + 12), end);
}

TEST_F(SeqConvertTest, LoopCountTextRules) {
    // Controller 98 after a "Loop_Start" gives the count text; a later controller 6 after
    // controller 99 value 20 gives nothing more, since the count has been written.
    ExpectTrack(SeqTrack()
                    .control(1, 0, 99, 20)
                    .control(2, 0, 98, 5)
                    .control(3, 0, 99, 20)
                    .control(4, 0, 6, 9)
                    .endOfTrack(0),
                SmfTrackBytes().marker(1, "Loop_Start").loopCount(2, "005").end(4));

    // Controller 6 right after controller 99 value 20 (a second one, the marker already
    // written) gives the count; three digits, values above 99 included.
    ExpectTrack(
        SeqTrack().control(1, 0, 99, 20).control(2, 0, 6, 127).control(3, 0, 6, 4).endOfTrack(0),
        SmfTrackBytes().marker(1, "Loop_Start").loopCount(2, "127").end(3));

    // Controller 6 needs the last controller 99 to be 20; controller 98 needs an open
    // loop or a written start: without them both are dropped.
    ExpectTrack(SeqTrack()
                    .control(1, 0, 6, 3)
                    .control(2, 0, 98, 3)
                    .control(3, 0, 99, 30)
                    .control(4, 0, 6, 3)
                    .control(5, 0, 98, 3)
                    .endOfTrack(0),
                SmfTrackBytes().marker(2 + 3, "Loop_End").end(5));

    // Inside a loop opened by value 40, every controller 98 writes the count.
    ExpectTrack(SeqTrack()
                    .control(1, 0, 99, 40)
                    .control(2, 0, 98, 1)
                    .control(3, 0, 98, 2)
                    .control(4, 0, 99, 40)
                    .control(5, 0, 98, 3)
                    .endOfTrack(0),
                SmfTrackBytes()
                    .marker(1, "Loop_Start")
                    .loopCount(2, "001")
                    .loopCount(3, "002")
                    .marker(4, "Loop_End")
                    .end(5));
}

TEST_F(SeqConvertTest, RunningStatusSurvivesAnDnAndContinuesMetaEvents) {
    // An/Dn never become the running status, so the note status carries on past them;
    // after a meta event the running status is FF, so data bytes continue as meta events
    // (a tempo, then the end of track).
    ExpectTrack(SeqTrack()
                    .noteOn(1, 4, 60, 100)
                    .event(2, {0xA4})
                    .running(3, {62, 90})
                    .event(4, {0xD4})
                    .running(5, {64, 80})
                    .tempo(6, 0x07A120)
                    .running(7, {0x51, 0x09, 0x27, 0xC0})
                    .running(8, {0x2F, 0x00}),
                SmfTrackBytes()
                    .ev(1, {0x94, 60, 100})
                    .ev(3 + 2, {0x94, 62, 90})
                    .ev(5 + 4, {0x94, 64, 80})
                    .ev(6, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})
                    .ev(7, {0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0})
                    .end(8));
}

TEST_F(SeqConvertTest, OnlyTheirOwnEventsSetTheBankAndLoopFlags) {
    // A bank select controller does not stand for the bank select that precedes the
    // channel's first program change; value 40 of controller 99 neither opens nor closes
    // the loop of values 20 and 30, which still give their markers once each.
    ExpectTrack(SeqTrack()
                    .control(1, 3, 0, 2)
                    .program(2, 3, 7)
                    .control(3, 0, 99, 40)
                    .control(4, 0, 99, 20)
                    .control(5, 0, 99, 30)
                    .control(6, 0, 99, 40)
                    .control(7, 0, 99, 20)
                    .endOfTrack(0),
                SmfTrackBytes()
                    .ev(1, {0xB3, 0x00, 0x02})
                    .ev(0, {0xB3, 0x20, 0x01})
                    .ev(2, {0xB3, 0x00, 0x00})
                    .ev(0, {0xB3, 0x20, 0x01})
                    .ev(0, {0xC3, 7})
                    .marker(3, "Loop_Start")
                    .marker(4, "Loop_Start")
                    .marker(5, "Loop_End")
                    .marker(6, "Loop_End")
                    .end(7));
}

TEST_F(SeqConvertTest, DroppedDeltaThatOverflowsTheSumGoesBeforeADeltaOverMarker) {
    ExpectTrack(SeqTrack().control(0x0FFFFFFF, 0, 100, 0).noteOn(5, 0, 60, 1).endOfTrack(0),
                SmfTrackBytes().marker(0x0FFFFFFF, "Delta Over").ev(5, {0x90, 60, 1}).end(0));
}

TEST_F(SeqConvertTest, DeltaAboveTheLimitGivesResultOneAndNoFile) {
    // 81 80 80 80 00 reaches 0x10000000 with its fifth byte.
    fs.Put(kGame, testkit::BuildSingleSeq(
                      timing, SeqTrack().noteOn(0, 0, 60, 1).raw({0x81, 0x80, 0x80, 0x80, 0x00})));
    const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::CannotConvert);
    EXPECT_EQ(c.smfFilesMade, 0);
    EXPECT_FALSE(Exists(".mid"));
    EXPECT_TRUE(feedback.Messages().empty());
    EXPECT_NE(c.diagnostics.failure.find("0x00000013"), std::string::npos) << c.diagnostics.failure;

    // 90 80 80 80 00 is 2^32: refused, not wrapped round to a delta of 0.
    fs.Put(kGame, testkit::BuildSingleSeq(timing, SeqTrack()
                                                      .noteOn(0, 0, 60, 1)
                                                      .raw({0x90, 0x80, 0x80, 0x80, 0x00})
                                                      .noteOn(0, 0, 61, 1)
                                                      .endOfTrack(0)));
    EXPECT_EQ(ConvertSeq(0, kGame, kStem, feedback).result, ConvertResult::CannotConvert);
    EXPECT_FALSE(Exists(".mid"));

    // Leading 80 bytes add nothing: a long delta of value 5 is fine.
    ExpectTrack(SeqTrack().raw({0x80, 0x80, 0x80, 0x80, 0x80, 0x05, 0x90, 60, 1}).endOfTrack(0),
                SmfTrackBytes().ev(5, {0x90, 60, 1}).end(0));
}

TEST_F(SeqConvertTest, OutputStaysAWellFormedSmfWhateverTheSourceBytes) {
    // The end-of-track length byte is never copied (a non-zero one would promise data),
    // and data bytes with bit 7 set lose it rather than pose as status bytes.
    ExpectTrack(SeqTrack()
                    .event(1, {0x90, 0xBC, 0xC0})
                    .event(2, {0xC1, 0x85})
                    .event(3, {0xB2, 7, 0xFF})
                    .endOfTrack(4, 0x05),
                SmfTrackBytes()
                    .ev(1, {0x90, 0x3C, 0x40})
                    .ev(2, {0xB1, 0x00, 0x00})
                    .ev(0, {0xB1, 0x20, 0x01})
                    .ev(0, {0xC1, 0x05})
                    .ev(3, {0xB2, 7, 0x7F})
                    .end(4));
}

} // namespace
} // namespace sonvex
