// SPDX-License-Identifier: GPL-3.0-or-later
// What the converters return and leave on disk when files cannot be opened, created or
// written, and when the game file is cut at every byte position of an item.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/messages.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "smf_golden.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::NumberedSeq;
using testkit::SeqTiming;
using testkit::SeqTrack;

SeqTrack SmallTrack() {
    return SeqTrack()
        .program(0, 1, 4)
        .control(3, 1, 99, 20)
        .noteOn(2, 1, 60, 100)
        .running(0x90, {64, 100})
        .tempo(1, 400000)
        .noteOff(0x4000, 1, 60)
        .endOfTrack(5);
}

SeqTrack SmallSsqTrack() {
    return SeqTrack()
        .pitchBend1(0, 1, 0x20)
        .tempoBpm(1, 90)
        .noteOn(2, 1, 60, 100)
        .running(3, {60, 0})
        .endOfTrack(5);
}

class FailureTest : public testkit::InMemoryConversion {
  protected:
    FaultInjectingFileSystem faulty{fs};
    ScopedFileSystem faultyGuard{faulty};

    void ExpectOneMessage(MessageId id) {
        const std::vector<std::string> messages = feedback.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], Message(id).text);
        ASSERT_FALSE(feedback.events.empty());
        EXPECT_EQ(feedback.events.back().value, static_cast<int>(MessageIcon::Stop));
    }
    // Every candidate output name of the stem that is on disk, each checked to be a whole SMF.
    int CompleteOutputs() {
        int n = 0;
        std::vector<std::string> names = {".mid"};
        for (int id = 0; id < 17; ++id) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "_%02d.mid", id);
            names.push_back(suffix);
        }
        for (const std::string& name : names) {
            if (!Exists(name)) {
                continue;
            }
            std::string error;
            EXPECT_TRUE(testkit::ReadSmf(Output(name), error).has_value()) << name << ": " << error;
            ++n;
        }
        return n;
    }
};

TEST_F(FailureTest, GameFileThatCannotBeOpenedShowsTheReadMessage) {
    SeqConversion c = ConvertSeq(0, "missing", kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    ExpectOneMessage(MessageId::SeqInputOpenFailed);
    EXPECT_EQ(feedback.Messages()[0], "読み込みファイルが開けません　Ｅｒｒ：０５");

    feedback.events.clear();
    c = ConvertSsq(16, "missing", kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    ExpectOneMessage(MessageId::SsqInputOpenFailed);
    EXPECT_EQ(feedback.Messages()[0], "読み込みファイルが開けません　Ｅｒｒ：１７");

    // A file that exists but cannot be opened is the same case.
    fs.Put(kGame, testkit::BuildSingleSeq(SeqTiming{}, SmallTrack()));
    faulty.FailOpenRead(true);
    feedback.events.clear();
    EXPECT_EQ(ConvertSeq(0, kGame, kStem, feedback).result, ConvertResult::OpenFailed);
    ExpectOneMessage(MessageId::SeqInputOpenFailed);
    EXPECT_EQ(CompleteOutputs(), 0);
}

TEST_F(FailureTest, OutputThatCannotBeCreatedShowsTheWriteMessage) {
    fs.Put(kGame, testkit::BuildSingleSeq(SeqTiming{}, SmallTrack()));
    faulty.FailCreate(true);
    SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    EXPECT_EQ(c.smfFilesMade, 0);
    ExpectOneMessage(MessageId::SeqOutputOpenFailed);
    EXPECT_EQ(feedback.Messages()[0], "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：０６");

    fs.Put(kGame, testkit::BuildSsq(480, 120, SmallSsqTrack()));
    feedback.events.clear();
    c = ConvertSsq(16, kGame, kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    ExpectOneMessage(MessageId::SsqOutputOpenFailed);
    EXPECT_EQ(feedback.Messages()[0], "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１８");
    EXPECT_EQ(CompleteOutputs(), 0);
}

TEST_F(FailureTest, WriteFailureIsNeverSuccessAndLeavesNoPartialFile) {
    fs.Put(kGame, testkit::BuildSingleSeq(SeqTiming{}, SmallTrack()));
    for (int64_t budget : {0, 1, 21, 22, 60, 100}) {
        feedback.events.clear();
        faulty.FailWritesAfter(budget);
        const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
        EXPECT_EQ(c.result, ConvertResult::OpenFailed) << "budget " << budget;
        EXPECT_EQ(c.diagnostics.failure.find("SEQ at 0x00000000: "), 0u) << c.diagnostics.failure;
        EXPECT_TRUE(c.diagnostics.failure.ends_with(" failed")) << c.diagnostics.failure;
        EXPECT_EQ(c.smfFilesMade, 0);
        ExpectOneMessage(MessageId::SeqOutputOpenFailed);
        EXPECT_FALSE(Exists(".mid")) << "budget " << budget;
    }

    fs.Put(kGame, testkit::BuildSsq(480, 120, SmallSsqTrack()));
    feedback.events.clear();
    faulty.FailWritesAfter(50);
    const SeqConversion c = ConvertSsq(16, kGame, kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    EXPECT_EQ(c.diagnostics.failure, "SSsq at 0x00000010: writing " + Named(".mid") + " failed");
    ExpectOneMessage(MessageId::SsqOutputOpenFailed);
    EXPECT_FALSE(Exists(".mid"));
}

TEST_F(FailureTest, WriteFailureInsideANumberedSetKeepsTheFilesBeforeIt) {
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, SmallTrack()},
                                          {1, SeqTiming{}, SmallTrack()},
                                          {2, SeqTiming{}, SmallTrack()}};
    fs.Put(kGame, testkit::BuildSeqSet(set).bytes);
    // Measure one file, then allow one and a half of them.
    ASSERT_EQ(ConvertSeq(0, kGame, kStem, feedback).result, ConvertResult::Done);
    const auto oneFile = static_cast<int64_t>(Output("_00.mid").size());
    fs.Remove(Named("_00.mid"));
    fs.Remove(Named("_01.mid"));
    fs.Remove(Named("_02.mid"));

    faulty.FailWritesAfter(oneFile + oneFile / 2);
    const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    EXPECT_EQ(c.smfFilesMade, 1);
    ExpectOneMessage(MessageId::SeqOutputOpenFailed);
    EXPECT_TRUE(Exists("_00.mid"));
    EXPECT_FALSE(Exists("_01.mid"));
    EXPECT_FALSE(Exists("_02.mid"));
    EXPECT_EQ(CompleteOutputs(), 1);
}

TEST_F(FailureTest, SingleSequenceCutAtEveryByte) {
    const Bytes item = testkit::BuildSingleSeq(SeqTiming{}, SmallTrack());
    for (size_t size = 0; size <= item.size(); ++size) {
        fs.Put(kGame, Bytes(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(size)));
        const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
        const bool whole = size == item.size();
        EXPECT_EQ(c.result, whole ? ConvertResult::Done : ConvertResult::InputEnded)
            << "cut at " << size;
        EXPECT_EQ(c.smfFilesMade, whole ? 1 : 0) << "cut at " << size;
        EXPECT_EQ(CompleteOutputs(), whole ? 1 : 0) << "cut at " << size;
        fs.Remove(Named(".mid"));
    }
    EXPECT_TRUE(feedback.Messages().empty());
}

TEST_F(FailureTest, NumberedSetCutAtEveryByte) {
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, SmallTrack()},
                                          {1, SeqTiming{96, 1, 2, 3}, SmallTrack()}};
    const testkit::SeqSetImage image = testkit::BuildSeqSet(set);
    const size_t firstEnd = image.trackEnds[0];
    for (size_t size = 0; size <= image.bytes.size(); ++size) {
        fs.Put(kGame,
               Bytes(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(size)));
        const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback);
        // Before the first end of track nothing is complete. Right behind it, one byte is
        // not yet a next id (the set is whole); two bytes 00 01 begin sequence 1, which is
        // then cut short. The whole file gives both sequences.
        ConvertResult expected = ConvertResult::InputEnded;
        int files = 0;
        if (size == image.bytes.size()) {
            expected = ConvertResult::Done;
            files = 2;
        } else if (size >= firstEnd) {
            files = 1;
            if (size < firstEnd + 2) {
                expected = ConvertResult::Done;
            }
        }
        EXPECT_EQ(c.result, expected) << "cut at " << size;
        EXPECT_EQ(c.smfFilesMade, files) << "cut at " << size;
        EXPECT_EQ(CompleteOutputs(), files) << "cut at " << size;
        fs.Remove(Named("_00.mid"));
        fs.Remove(Named("_01.mid"));
    }
}

TEST_F(FailureTest, SsqItemCutAtEveryByte) {
    const Bytes item = testkit::BuildSsq(480, 120, SmallSsqTrack());
    for (size_t size = 0; size <= item.size(); ++size) {
        fs.Put(kGame, Bytes(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(size)));
        const SeqConversion c = ConvertSsq(testkit::kSsqMagicOffset, kGame, kStem, feedback);
        const bool whole = size == item.size();
        EXPECT_EQ(c.result, whole ? ConvertResult::Done : ConvertResult::InputEnded)
            << "cut at " << size;
        EXPECT_EQ(CompleteOutputs(), whole ? 1 : 0) << "cut at " << size;
        fs.Remove(Named(".mid"));
    }
    EXPECT_TRUE(feedback.Messages().empty());

    // Cut inside the last event: the failure names the item and the event's offset.
    fs.Put(kGame, Bytes(item.begin(), item.end() - 1));
    const SeqConversion c = ConvertSsq(testkit::kSsqMagicOffset, kGame, kStem, feedback);
    const std::string& failure = c.diagnostics.failure;
    EXPECT_EQ(failure.find("SSsq at 0x00000010: event at 0x"), 0u) << failure;
    EXPECT_TRUE(failure.ends_with(" cut short by the end of the file")) << failure;
}

TEST(FailureOnDisk, OutputNameTakenByAFolderStopsTheSetAndKeepsEarlierFiles) {
    testkit::TempFolder folder;
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, SmallTrack()},
                                          {1, SeqTiming{}, SmallTrack()},
                                          {2, SeqTiming{}, SmallTrack()}};
    const std::string game = folder / "ゲーム データ.bin";
    ASSERT_TRUE(testkit::WriteFile(game, testkit::BuildSeqSet(set).bytes));
    ASSERT_TRUE(std::filesystem::create_directory(folder / "Ünïcode_000_02.mid"));
    RecordingFeedback feedback;
    const SeqConversion c = ConvertSeq(0, game, folder / "Ünïcode_000", feedback);
    EXPECT_EQ(c.result, ConvertResult::OpenFailed);
    EXPECT_EQ(c.smfFilesMade, 2);
    ASSERT_EQ(feedback.Messages().size(), 1u);
    EXPECT_EQ(feedback.Messages()[0], Message(MessageId::SeqOutputOpenFailed).text);
    for (const char* name : {"Ünïcode_000_00.mid", "Ünïcode_000_01.mid"}) {
        std::string error;
        EXPECT_TRUE(testkit::ReadSmf(testkit::ReadFile(folder / name), error).has_value())
            << name << ": " << error;
    }
}

} // namespace
} // namespace sonvex
