// SPDX-License-Identifier: GPL-3.0-or-later
// The batch driver against recording converters: which converter is asked for what,
// the output names, the numbering, the status texts, progress and the files counted.
#include "convert/batch_conversion.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "convlist/convert_list.h"
#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;

struct Item {
    uint32_t type;
    int32_t number;
    uint64_t offset;
    std::string file = "GAME.BIN";
};

std::vector<uint8_t> ListBytes(uint32_t count, const std::string& folder,
                               const std::vector<Item>& items) {
    ByteBuilder b = test::ListHeader(count, folder);
    for (const Item& i : items) {
        test::ListEntryBytes(b, i.type, i.number, i.offset, i.file);
    }
    return b.take();
}

// Records every call and answers from scripted results.
struct FakeConverters {
    std::vector<std::string> calls;
    std::vector<SequenceOutcome> seqResults; // consumed in order, default Done/1
    std::vector<ConvertResult> vabResults;   // consumed in order, default Done
    // The naming of most cases here is the list-titled one; the per-game-file names of the
    // extended rules have their own cases.
    RecognitionRules rules = RecognitionRules::Classic;
    // Runs inside every sequence conversion, as a converter that shows a message would.
    std::function<void(Feedback&)> duringSeq;

    Converters Make() {
        Converters c;
        c.rules = rules;
        auto seqLike = [this](const char* kind) {
            return [this, kind](uint64_t offset, const std::string& game, const std::string& stem,
                                Feedback& feedback) {
                if (duringSeq) {
                    duringSeq(feedback);
                }
                calls.push_back(std::string(kind) + " " + std::to_string(offset) + " " + game +
                                " " + stem);
                if (seqResults.empty()) {
                    return SequenceOutcome{ConvertResult::Done, 1, {}};
                }
                SequenceOutcome r = seqResults.front();
                seqResults.erase(seqResults.begin());
                return r;
            };
        };
        c.seq = seqLike("seq");
        c.ssq = seqLike("ssq");
        c.vab = [this](uint64_t vh, uint64_t vb, const std::string& vhPath,
                       const std::string& vbPath, const std::string& dls, std::string_view title,
                       Feedback&) {
            calls.push_back("vab " + std::to_string(vh) + " " + std::to_string(vb) + " " + vhPath +
                            " " + vbPath + " " + dls + " " + std::string(title));
            if (vabResults.empty()) {
                return ConvertResult::Done;
            }
            ConvertResult r = vabResults.front();
            vabResults.erase(vabResults.begin());
            return r;
        };
        return c;
    }
};

class BatchConversionTest : public ::testing::Test {
  protected:
    testkit::TempFolder dir;
    RecordingFeedback fb;
    FakeConverters fakes;

    ConversionRunResult Run(const std::vector<uint8_t>& list, const std::string& title = "songs") {
        const std::string path = dir / (title + ".clg");
        testkit::WriteFile(path, list);
        return RunConversion(path, dir / "out", title, fb, fakes.Make());
    }
};

TEST_F(BatchConversionTest, SequencesAreNumberedByOutputNotByEntry) {
    auto r = Run(ListBytes(
        3, "/games", {{kTypeSeq, 7, 100}, {kTypeSeq, 9, 200}, {kTypeGpmSeq, 0, 300, "B.DAT"}}));
    const std::string out = dir / "out/songs";
    EXPECT_EQ(fakes.calls, (std::vector<std::string>{
                               "seq 100 /games/GAME.BIN " + out + "_000",
                               "seq 200 /games/GAME.BIN " + out + "_001",
                               "ssq 300 /games/B.DAT " + out + "_002",
                           }));
    EXPECT_TRUE(r.ran);
    EXPECT_EQ(r.filesMade, 3);
    EXPECT_EQ(fb.StatusTexts(),
              (std::vector<std::string>{"変換中", "SMF songs_000を作製", "SMF songs_001を作製",
                                        "SMF songs_002を作製", "終了 作製ﾌｧｲﾙ数  3"}));
    EXPECT_EQ(fb.ProgressValues(), (std::vector<int>{0, 33, 66, 100, 100}));
}

TEST_F(BatchConversionTest, FailedSequenceKeepsItsNumberAndSetsCountEveryFile) {
    fakes.seqResults = {{ConvertResult::CannotConvert, 0, {}},
                        {ConvertResult::Done, 3, {}},
                        {ConvertResult::Done, 1, {}}};
    auto r = Run(ListBytes(3, "/g", {{kTypeSeq, 0, 1}, {kTypeSeq, 1, 2}, {kTypeSeq, 2, 3}}));
    ASSERT_EQ(fakes.calls.size(), 3u);
    EXPECT_NE(fakes.calls[0].find("_000"), std::string::npos);
    EXPECT_NE(fakes.calls[1].find("_000"), std::string::npos); // reused after result 1
    EXPECT_NE(fakes.calls[2].find("_001"), std::string::npos); // a set of three advances by one
    EXPECT_EQ(r.filesMade, 4);
    EXPECT_EQ(fb.StatusTexts().back(), "終了 作製ﾌｧｲﾙ数  4");
}

TEST_F(BatchConversionTest, SetThatFailsPartWayKeepsTheFilesItMade) {
    // Two files of a set were completed before the third failed: the next item must not
    // reuse the number and write over them.
    fakes.seqResults = {{ConvertResult::CannotConvert, 2, {}}, {ConvertResult::Done, 1, {}}};
    auto r = Run(ListBytes(2, "/g", {{kTypeSeq, 0, 1}, {kTypeSeq, 1, 2}}));
    ASSERT_EQ(fakes.calls.size(), 2u);
    EXPECT_NE(fakes.calls[0].find("_000"), std::string::npos);
    EXPECT_NE(fakes.calls[1].find("_001"), std::string::npos);
    EXPECT_EQ(r.filesMade, 3);
}

TEST_F(BatchConversionTest, HeaderPairsWithTheBodyDirectlyBehindIt) {
    auto r = Run(ListBytes(
        3, "/g", {{kTypeVh, 0, 10, "A.VH"}, {kTypeVh, 1, 20, "B.VH"}, {kTypeVb, 0, 30, "B.VB"}}));
    ASSERT_EQ(fakes.calls.size(), 1u);
    EXPECT_EQ(fakes.calls[0],
              "vab 20 30 /g/B.VH /g/B.VB " + (dir / "out/songs") + "_000.dls songs");
    EXPECT_EQ(r.filesMade, 1);
    EXPECT_EQ(fb.StatusTexts(),
              (std::vector<std::string>{"変換中", "DLS songs_000を作製", "終了 作製ﾌｧｲﾙ数  1"}));
    // The first header, stepped back over, counts as handled; the pair counts twice.
    EXPECT_EQ(fb.ProgressValues(), (std::vector<int>{0, 33, 100, 100}));
}

TEST_F(BatchConversionTest, BodyWithoutHeaderAndOtherKindsMakeNothing) {
    auto r = Run(ListBytes(5, "/g",
                           {{kTypeVb, 0, 1},
                            {kTypeKcetSeq, 0, 2},
                            {kTypeSceiMidi, 1, 3},
                            {kTypeGpmHead, 0, 4},
                            {0x12345678, 0, 5}}));
    EXPECT_TRUE(fakes.calls.empty());
    EXPECT_EQ(r.filesMade, 0);
    EXPECT_EQ(fb.StatusTexts(), (std::vector<std::string>{"変換中", "終了 作製ﾌｧｲﾙ数  0"}));
    EXPECT_EQ(fb.ProgressValues(), (std::vector<int>{0, 20, 40, 60, 80, 100, 100}));
}

TEST_F(BatchConversionTest, BankResultsDecideNumbersAndCounts) {
    fakes.vabResults = {ConvertResult::PartlyDone, ConvertResult::CannotConvert,
                        ConvertResult::Done};
    auto r = Run(ListBytes(6, "/g",
                           {{kTypeVh, 0, 1},
                            {kTypeVb, 0, 2},
                            {kTypeVh, 1, 3},
                            {kTypeVb, 1, 4},
                            {kTypeVh, 2, 5},
                            {kTypeVb, 2, 6}}));
    ASSERT_EQ(fakes.calls.size(), 3u);
    EXPECT_NE(fakes.calls[0].find("_000.dls"), std::string::npos);
    EXPECT_NE(fakes.calls[1].find("_001.dls"), std::string::npos);
    EXPECT_NE(fakes.calls[2].find("_001.dls"), std::string::npos);
    EXPECT_EQ(r.filesMade, 2);
}

TEST_F(BatchConversionTest, ResultsThatEndTheRunSkipTheirProgressStep) {
    fakes.seqResults = {{ConvertResult::Done, 1, {}}, {ConvertResult::InputEnded, 0, {}}};
    auto r = Run(ListBytes(3, "/g", {{kTypeSeq, 0, 1}, {kTypeSeq, 1, 2}, {kTypeSeq, 2, 3}}));
    EXPECT_EQ(fakes.calls.size(), 2u);
    EXPECT_TRUE(r.endedEarly);
    EXPECT_EQ(fb.ProgressValues(), (std::vector<int>{0, 33, 100}));
    EXPECT_EQ(fb.StatusTexts().back(), "終了 作製ﾌｧｲﾙ数  1");

    fakes.calls.clear();
    fakes.vabResults = {ConvertResult::OpenFailed};
    r = Run(ListBytes(3, "/g", {{kTypeVh, 0, 1}, {kTypeVb, 0, 2}, {kTypeSeq, 0, 3}}));
    EXPECT_EQ(fakes.calls.size(), 1u);
    EXPECT_TRUE(r.endedEarly);
}

TEST_F(BatchConversionTest, ItemsThatMakeNothingAreReportedWithTheirReasonAndCounted) {
    fakes.seqResults = {{ConvertResult::Done, 1, {}},
                        {ConvertResult::CannotConvert, 0, "SEQ at 0x00000002: delta too large"}};
    fakes.vabResults = {ConvertResult::CannotConvert};
    auto r = Run(ListBytes(6, "/g",
                           {{kTypeSeq, 0, 1},
                            {kTypeSeq, 1, 2},
                            {kTypeVh, 0, 3, "B.VH"},
                            {kTypeVb, 0, 4},
                            {kTypeKcetSeq, 0, 5},
                            {kTypeVb, 1, 6}}));
    EXPECT_EQ(r.itemsMade, 1);
    EXPECT_EQ(r.itemsSkipped, 2);
    ASSERT_EQ(r.failures.size(), 2u);
    EXPECT_EQ(r.failures[0].type, kTypeSeq);
    EXPECT_EQ(r.failures[0].number, 1);
    EXPECT_EQ(r.failures[0].gameFile, "/g/GAME.BIN");
    EXPECT_EQ(r.failures[0].offset, 2u);
    EXPECT_EQ(r.failures[0].reason, "SEQ at 0x00000002: delta too large");
    EXPECT_EQ(r.failures[1].type, kTypeVh);
    EXPECT_EQ(r.failures[1].gameFile, "/g/B.VH");
    EXPECT_EQ(r.failures[1].reason, "the item cannot be converted");

    // A run that ends early leaves the entries behind it skipped, not silently done.
    fakes.seqResults = {{ConvertResult::InputEnded, 0, {}}};
    r = Run(ListBytes(3, "/g", {{kTypeSeq, 0, 1}, {kTypeSeq, 1, 2}, {kTypeVb, 0, 3}}));
    EXPECT_TRUE(r.endedEarly);
    EXPECT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.itemsSkipped, 2);
}

TEST_F(BatchConversionTest, AConvertersMessageNamesTheFileItIsAbout) {
    fakes.duringSeq = [](Feedback& feedback) {
        ShowNumberedMessage(feedback, MessageId::SeqInputOpenFailed);
    };
    fakes.seqResults = {{ConvertResult::OpenFailed, 0, {}}};
    auto r = Run(ListBytes(1, "/nowhere", {{kTypeSeq, 0, 16, "x.seq"}}));
    EXPECT_EQ(fb.Messages(),
              (std::vector<std::string>{Message(MessageId::SeqInputOpenFailed).text}));
    EXPECT_EQ(fb.MessageSubjects(), (std::vector<std::string>{"/nowhere/x.seq"}));
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].messageNumber, 5);
    EXPECT_EQ(r.failures[0].reason,
              "cannot open game file \"/nowhere/x.seq\": No such file or directory [05]");
}

TEST_F(BatchConversionTest, ExtendedRulesNameOutputsAfterTheirOwnGameFiles) {
    const std::vector<Item> items = {{kTypeSeq, 0, 1, "a/fuga.seq"}, {kTypeSeq, 1, 2, "b/x.bin"},
                                     {kTypeSeq, 2, 3, "a/fuga.seq"}, {kTypeVh, 0, 4, "c/std0.vh"},
                                     {kTypeVb, 0, 5, "c/std0.vb"},   {kTypeSeq, 3, 6, "d/x.bin"}};
    const std::string out = dir / "out/";
    fakes.rules = RecognitionRules::Extended;
    Run(ListBytes(6, "/g", items));
    EXPECT_EQ(fakes.calls,
              (std::vector<std::string>{
                  "seq 1 /g/a/fuga.seq " + out + "fuga_000", "seq 2 /g/b/x.bin " + out + "b_x_000",
                  "seq 3 /g/a/fuga.seq " + out + "fuga_001",
                  "vab 4 5 /g/c/std0.vh /g/c/std0.vb " + out + "std0_000.dls songs",
                  "seq 6 /g/d/x.bin " + out + "d_x_000"}));
    EXPECT_EQ(fb.StatusTexts()[1], "SMF fuga_000を作製");

    // The classic rules, and a list of one game file under either rules, name by the list.
    for (const RecognitionRules rules : {RecognitionRules::Classic, RecognitionRules::Extended}) {
        fakes.calls.clear();
        fakes.rules = rules;
        if (rules == RecognitionRules::Classic) {
            Run(ListBytes(6, "/g", items));
        } else {
            Run(ListBytes(2, "/g",
                          {{kTypeSeq, 0, 1, "a/fuga.seq"}, {kTypeSeq, 1, 2, "a/fuga.seq"}}));
        }
        ASSERT_GE(fakes.calls.size(), 2u);
        EXPECT_EQ(fakes.calls[0], "seq 1 /g/a/fuga.seq " + out + "songs_000");
        EXPECT_NE(fakes.calls[1].find(out + "songs_001"), std::string::npos) << fakes.calls[1];
    }
}

TEST_F(BatchConversionTest, HeaderLookAheadAtTheEndOfTheListEndsTheWalk) {
    auto r = Run(ListBytes(2, "/g", {{kTypeSeq, 0, 1}, {kTypeVh, 0, 2}}));
    EXPECT_EQ(fakes.calls.size(), 1u);
    EXPECT_EQ(fb.ProgressValues(), (std::vector<int>{0, 50, 100}));
    EXPECT_EQ(r.filesMade, 1);
}

TEST_F(BatchConversionTest, HeaderCutShortGivesItsOwnMessageAndLeavesStatusAlone) {
    const std::vector<uint8_t> full = ListBytes(1, "/games", {});
    constexpr MessageId kCount = MessageId::ListCountCut;
    constexpr MessageId kLength = MessageId::ListFolderLengthCut;
    constexpr MessageId kFolder = MessageId::ListFolderCut;
    const std::vector<std::pair<size_t, MessageId>> cuts = {
        {0, kCount}, {3, kCount}, {4, kLength}, {5, kFolder}, {10, kFolder}};
    for (auto [length, id] : cuts) {
        fb.events.clear();
        auto r = Run(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length)));
        EXPECT_FALSE(r.ran) << length;
        ASSERT_EQ(fb.events.size(), 1u) << length;
        EXPECT_EQ(fb.events[0].text, Message(id).text) << length;
    }
    fb.events.clear();
    auto r = RunConversion(dir / "missing.clg", dir.path(), "missing", fb, fakes.Make());
    EXPECT_FALSE(r.ran);
    EXPECT_EQ(fb.Messages(), std::vector<std::string>{Message(MessageId::ListOpenFailed).text});
}

TEST_F(BatchConversionTest, CountZeroWithEntriesStillConverts) {
    auto r = Run(ListBytes(0, "/g", {{kTypeSeq, 0, 1}, {kTypeSeq, 1, 2}}));
    EXPECT_EQ(fakes.calls.size(), 2u);
    EXPECT_EQ(r.filesMade, 2);
    for (int p : fb.ProgressValues()) {
        EXPECT_GE(p, 0);
        EXPECT_LE(p, 100);
    }
}

TEST(ConversionProgress, BothFormulasTruncate) {
    EXPECT_EQ(ConversionProgress(1, 250), 0);
    EXPECT_EQ(ConversionProgress(3, 250), 1);
    EXPECT_EQ(ConversionProgress(250, 250), 100);
    EXPECT_EQ(ConversionProgress(1, 3), 33);
    EXPECT_EQ(ConversionProgress(2, 3), 66);
    EXPECT_EQ(ConversionProgress(3, 3), 100);
    EXPECT_EQ(ConversionProgress(0, 0), 0);
    EXPECT_EQ(ConversionProgress(9, 3), 100);
    EXPECT_EQ(ConversionProgress(99, 99), 100);
}

TEST(ListTitleOf, NameWithoutFolderAndExtension) {
    EXPECT_EQ(ListTitleOf("/lists/songs.clg"), "songs");
    EXPECT_EQ(ListTitleOf("/a.b/game.v2.clg"), "game.v2");
    EXPECT_EQ(ListTitleOf("/lists/plain"), "plain");
    EXPECT_EQ(ListTitleOf("/lists/.clg"), "");
}

TEST(StartConversion, FolderChecksAndListChoice) {
    testkit::TempFolder dir;
    FakeConverters fakes;
    RecordingFeedback fb;

    std::string folder = kNoFolderChosenText;
    EXPECT_FALSE(StartConversion(folder, dir / "x.clg", fb, fakes.Make()).has_value());
    EXPECT_EQ(fb.Messages(),
              std::vector<std::string>{Message(MessageId::OutputFolderMissing).text});
    fb.events.clear();
    folder = "";
    EXPECT_FALSE(StartConversion(folder, dir / "x.clg", fb, fakes.Make()).has_value());
    EXPECT_EQ(fb.Messages(),
              std::vector<std::string>{Message(MessageId::OutputFolderMissing).text});

    // Two missing levels cannot be made in one step; the box names the folder in full,
    // shown before the message.
    fb.events.clear();
    folder = dir / "a/./b/";
    EXPECT_FALSE(StartConversion(folder, dir / "x.clg", fb, fakes.Make()).has_value());
    EXPECT_EQ(fb.Messages(),
              std::vector<std::string>{Message(MessageId::OutputFolderNotMade).text});
    EXPECT_EQ(folder, dir / "a/b");
    ASSERT_FALSE(fb.events.empty());
    EXPECT_EQ(fb.events.front().kind, RecordingFeedback::Kind::Refresh);

    // A relative folder is resolved, shown in full and created.
    fb.events.clear();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    folder = "rel/../made";
    auto cancelled = StartConversion(folder, std::nullopt, fb, fakes.Make());
    std::filesystem::current_path(previous);
    EXPECT_FALSE(cancelled.has_value());
    EXPECT_EQ(folder, std::filesystem::path(dir / "made").lexically_normal().string());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "made"));
    EXPECT_TRUE(fb.Messages().empty());

    fb.events.clear();
    EXPECT_FALSE(StartConversion(folder, dir / "none.clg", fb, fakes.Make()).has_value());
    EXPECT_EQ(fb.Messages(), std::vector<std::string>{Message(MessageId::ChosenListNotAFile).text});

    fb.events.clear();
    testkit::WriteFile(dir / "mine.clg", ListBytes(1, "/g", {{kTypeSeq, 0, 5}}));
    auto r = StartConversion(folder, dir / "mine.clg", fb, fakes.Make());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->filesMade, 1);
    EXPECT_EQ(fakes.calls.back(), "seq 5 /g/GAME.BIN " + (dir / "made/mine") + "_000");
}

} // namespace
} // namespace sonvex
