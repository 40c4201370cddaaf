// SPDX-License-Identifier: GPL-3.0-or-later
// Numbered sets of "pQES" sequences: one file per sequence, the step from one header to
// the next, the end at a gap, at id 16 and at the end of the file.
#include <gtest/gtest.h>

#include "seq2smf/seq_converter.h"
#include "smf_golden.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::ExpectedSmf;
using testkit::NumberedSeq;
using testkit::SeqTiming;
using testkit::SeqTrack;
using testkit::SmfTrackBytes;

SeqTrack NoteTrack(int key) {
    return SeqTrack().noteOn(1, 0, key, 100).noteOff(2, 0, key).endOfTrack(3);
}

SmfTrackBytes NoteTrackSmf(int key) {
    const auto k = static_cast<uint8_t>(key);
    return SmfTrackBytes().ev(1, {0x90, k, 100}).ev(2, {0x80, k, 0x40}).end(3);
}

class NumberedSetTest : public testkit::InMemoryConversion {
  protected:
    SeqConversion Convert(const Bytes& game) {
        fs.Put(kGame, game);
        return ConvertSeq(0, kGame, kStem, feedback, SmfRules::Classic);
    }
};

TEST_F(NumberedSetTest, IdsZeroOneTwoThenSevenGiveThreeFiles) {
    const std::vector<NumberedSeq> set = {
        {0, SeqTiming{480, 500000, 4, 2}, NoteTrack(60)},
        {1, SeqTiming{96, 600000, 3, 3}, NoteTrack(61)},
        {2, SeqTiming{240, 0x123456, 0, 0}, NoteTrack(62)},
        {7, SeqTiming{480, 500000, 4, 2}, NoteTrack(63)},
    };
    const SeqConversion c = Convert(testkit::BuildSeqSet(set).bytes);
    EXPECT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_EQ(c.smfFilesMade, 3);
    EXPECT_SAME_BYTES(Output("_00.mid"), ExpectedSmf(480, 500000, 4, 2, NoteTrackSmf(60)));
    EXPECT_SAME_BYTES(Output("_01.mid"), ExpectedSmf(96, 600000, 3, 3, NoteTrackSmf(61)));
    EXPECT_SAME_BYTES(Output("_02.mid"), ExpectedSmf(240, 0x123456, 4, 2, NoteTrackSmf(62)));
    EXPECT_FALSE(Exists("_07.mid"));
    EXPECT_FALSE(Exists("_03.mid"));
    EXPECT_FALSE(Exists(".mid"));
}

TEST_F(NumberedSetTest, SeventeenthSequenceWithIdSixteenIsNotConverted) {
    std::vector<NumberedSeq> set;
    for (uint16_t id = 0; id <= 16; ++id) {
        set.push_back({id, SeqTiming{}, NoteTrack(40 + id)});
    }
    const SeqConversion c = Convert(testkit::BuildSeqSet(set).bytes);
    EXPECT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_EQ(c.smfFilesMade, 16);
    EXPECT_SAME_BYTES(Output("_15.mid"), ExpectedSmf(480, 500000, 4, 2, NoteTrackSmf(55)));
    EXPECT_FALSE(Exists("_16.mid"));
}

TEST_F(NumberedSetTest, SetThatEndsWithItsFileIsComplete) {
    // Stored alone, nothing or a little padding behind the last end of track: the 16
    // bytes looked at for a next header are not there, yet the set is whole.
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, NoteTrack(60)},
                                          {1, SeqTiming{}, NoteTrack(61)}};
    for (size_t padding = 0; padding < 10; ++padding) {
        Bytes game = testkit::BuildSeqSet(set).bytes;
        game.resize(game.size() + padding, 0);
        const SeqConversion c = Convert(game);
        EXPECT_EQ(c.result, ConvertResult::Done)
            << "padding " << padding << ": " << c.diagnostics.failure;
        EXPECT_EQ(c.smfFilesMade, 2);
        EXPECT_SAME_BYTES(Output("_01.mid"), ExpectedSmf(480, 500000, 4, 2, NoteTrackSmf(61)));
    }
}

TEST_F(NumberedSetTest, NextHeaderCutShortByTheFileEndsTheRunWithCompletedFilesKept) {
    // Behind sequence 0 stand 00 01 (the next id) and then the file ends.
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, NoteTrack(60)}};
    for (size_t extra = 0; extra <= 7; ++extra) {
        Bytes game = testkit::BuildSeqSet(set).bytes;
        const Bytes next = {0x00, 0x01, 0x01, 0xE0, 0x07, 0xA1, 0x20, 0x04};
        game.insert(game.end(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(extra));
        const SeqConversion c = Convert(game);
        const ConvertResult expected = extra >= 2 ? ConvertResult::InputEnded : ConvertResult::Done;
        EXPECT_EQ(c.result, expected) << extra << " bytes of the next header";
        EXPECT_EQ(c.smfFilesMade, 1);
        EXPECT_TRUE(Exists("_00.mid"));
        EXPECT_FALSE(Exists("_01.mid"));
    }
}

TEST_F(NumberedSetTest, DataLengthFieldIsNeverUsed) {
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, NoteTrack(60)},
                                          {1, SeqTiming{}, NoteTrack(61)}};
    testkit::SeqSetImage image = testkit::BuildSeqSet(set);
    // The first sequence's length sits behind its 2-byte id and 7 bytes of timing.
    for (size_t i = 15; i < 19; ++i) {
        image.bytes[i] = 0xFF;
    }
    const SeqConversion c = Convert(image.bytes);
    EXPECT_EQ(c.result, ConvertResult::Done);
    EXPECT_EQ(c.smfFilesMade, 2);
}

TEST_F(NumberedSetTest, TranslationStateStartsAfreshForEverySequence) {
    const SeqTrack track =
        SeqTrack().program(1, 0, 5).control(2, 0, 99, 20).control(3, 0, 98, 2).endOfTrack(0);
    const SmfTrackBytes expected = SmfTrackBytes()
                                       .ev(1, {0xB0, 0x00, 0x00})
                                       .ev(0, {0xB0, 0x20, 0x01})
                                       .ev(0, {0xC0, 5})
                                       .marker(2, "Loop_Start")
                                       .loopCount(3, "002")
                                       .end(0);
    // The second sequence starts with a data byte: running status does not carry over
    // from the first, so it is dropped with the two bytes after it.
    const SeqTrack second = SeqTrack()
                                .raw({0x00, 0x40, 0x41, 0x42})
                                .program(1, 0, 5)
                                .control(2, 0, 99, 20)
                                .control(3, 0, 98, 2)
                                .endOfTrack(0);
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, track}, {1, SeqTiming{}, second}};
    const SeqConversion c = Convert(testkit::BuildSeqSet(set).bytes);
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_SAME_BYTES(Output("_00.mid"), ExpectedSmf(480, 500000, 4, 2, expected));
    EXPECT_SAME_BYTES(Output("_01.mid"), ExpectedSmf(480, 500000, 4, 2, expected));
}

} // namespace
} // namespace sonvex
