// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analysis runs over composed game images on disk: the list's bytes, its name and
// folder, numbering across files, the status texts, and the runs that end early.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "analysis_test_support.h"
#include "chunkfile/file_system.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"
#include "platform/program_folder.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"

namespace sonvex {
namespace {

using testing::SameBytes;
using testkit::Bytes;
using testkit::GameImage;
using testkit::TempFolder;
using testkit::VagEnd;
using Kind = RecordingFeedback::Kind;

GameImage FirstGame() {
    GameImage image(101);
    image.Noise(300).Seq(8).Zeros(64).Vh(4, 3, 6, 7).Noise(17).Vb(6, 5).Noise(2000);
    image.SeqSet(5).Noise(40).GpmHead(80).Noise(33).GpmSeq(7).Zeros(100).Kcet(4).Noise(500);
    image.Vh(1, 1, 1).Zeros(16).Vb(1, 3, VagEnd::StopBlock).Noise(64).SceiMidi().Noise(10);
    return image;
}

GameImage SecondGame() {
    GameImage image(202);
    image.Noise(5000).SceiHead().Noise(20).Seq(3).Noise(3).Vb(2, 2).Noise(800).SeqSet(16, 2);
    image.Noise(90).Vh(2, 16, 32).Noise(10).Kcet(0).Noise(1200);
    return image;
}

std::vector<std::string> GamePaths(const RecordingFeedback& feedback) {
    std::vector<std::string> out;
    for (const auto& e : feedback.events) {
        if (e.kind == Kind::GamePath) {
            out.push_back(e.text);
        }
    }
    return out;
}

TEST(AnalysisRunTest, TwoFilesMakeOneListNamedAfterTheFirst) {
    const GameImage first = FirstGame();
    const GameImage second = SecondGame();
    ASSERT_EQ(first.Verify(), "");
    ASSERT_EQ(second.Verify(), "");
    TempFolder games;
    TempFolder lists;
    const std::string firstName = "ゲーム音楽.bin";
    const std::string secondName = "Música.dat";
    ASSERT_TRUE(testkit::WriteFile(games / firstName, first.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / secondName, second.bytes()));
    // An older list of the same name is replaced.
    ASSERT_TRUE(testkit::WriteFile(lists / "ゲーム音楽.clg", Bytes(5000, 0xEE)));

    RecordingFeedback feedback;
    const AnalysisResult result =
        AnalyzeSources({games / firstName, games / secondName}, lists.path(), feedback);
    ASSERT_EQ(result.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(result.listPath, lists / "ゲーム音楽.clg");

    const Bytes expected =
        testkit::ExpectedConvertList(games.path(), {{firstName, &first}, {secondName, &second}});
    EXPECT_TRUE(SameBytes(testkit::ReadFile(result.listPath), expected))
        << first.Describe() << "--\n"
        << second.Describe();
    EXPECT_EQ(result.counters.Total(), first.items().size() + second.items().size());

    // Derived sizes run from each item to the next one listed, across the two files.
    const auto list = LoadList(result.listPath);
    ASSERT_TRUE(list.has_value());
    std::vector<uint64_t> offsets;
    for (const auto* image : {&first, &second}) {
        for (const auto& item : image->items()) {
            offsets.push_back(item.offset);
        }
    }
    ASSERT_EQ(list->entries.size(), offsets.size());
    for (size_t i = 0; i + 1 < offsets.size(); ++i) {
        EXPECT_EQ(list->entries[i].size, static_cast<int64_t>(offsets[i + 1] - offsets[i]))
            << "entry " << i;
    }

    EXPECT_EQ(feedback.StatusTexts(),
              (std::vector<std::string>{firstName + kScanningSuffix, firstName + kScannedSuffix,
                                        secondName + kScanningSuffix, secondName + kScannedSuffix,
                                        kAnalysisDone}));
    EXPECT_EQ(GamePaths(feedback),
              (std::vector<std::string>{games / firstName, games / secondName}));
    EXPECT_TRUE(feedback.Messages().empty());
    // Each file's bar starts at 0, only rises, and ends at 100.
    std::vector<int> progress = feedback.ProgressValues();
    int starts = 0;
    for (size_t i = 0; i < progress.size(); ++i) {
        if (progress[i] == 0) {
            ++starts;
            EXPECT_TRUE(i == 0 || progress[i - 1] == 100) << "value " << i;
        } else {
            EXPECT_GT(progress[i], progress[i - 1]) << "value " << i;
        }
    }
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(progress.back(), 100);
}

TEST(AnalysisRunTest, ComposerListBesideTheImageMatchesTheRun) {
    TempFolder games;
    const GameImage image = FirstGame();
    ASSERT_TRUE(testkit::WriteGameImage(games / "disc.img", image));
    RecordingFeedback feedback;
    const AnalysisResult result = AnalyzeSources({games / "disc.img"}, games.path(), feedback);
    ASSERT_EQ(result.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(result.listPath, games / "disc.clg");
    EXPECT_TRUE(SameBytes(testkit::ReadFile(result.listPath),
                          testkit::ReadFile(games / "disc.expected.clg")));
}

TEST(AnalysisRunTest, RunThatFindsNothingLeavesNoList) {
    TempFolder games;
    GameImage image(7);
    image.Noise(4000);
    ASSERT_TRUE(testkit::WriteFile(games / "quiet.bin", image.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / "quiet.clg", Bytes(10, 1)));
    RecordingFeedback feedback;
    const AnalysisResult result = AnalyzeSources({games / "quiet.bin"}, games.path(), feedback);
    EXPECT_EQ(result.status, AnalysisStatus::NothingFound);
    EXPECT_FALSE(std::filesystem::exists(games / "quiet.clg"));
    ASSERT_FALSE(feedback.StatusTexts().empty());
    EXPECT_EQ(feedback.StatusTexts().back(), kAnalysisDone);
}

TEST(AnalysisRunTest, ListThatCannotBeCreatedEndsTheRunBeforeAnyScan) {
    TempFolder games;
    const GameImage image = SecondGame();
    ASSERT_TRUE(testkit::WriteFile(games / "game.bin", image.bytes()));
    RecordingFeedback feedback;
    const AnalysisResult result =
        AnalyzeSources({games / "game.bin"}, games / "no such folder", feedback);
    EXPECT_EQ(result.status, AnalysisStatus::ListNotCreated);
    ASSERT_EQ(feedback.events.size(), 1u);
    EXPECT_EQ(feedback.events[0].kind, Kind::Message);
    EXPECT_EQ(feedback.events[0].text, Message(MessageId::AnalysisListNotMade).text);
    EXPECT_EQ(feedback.events[0].value, static_cast<int>(MessageIcon::Stop));
}

TEST(AnalysisRunTest, MissingFileIsReportedAndSkipped) {
    TempFolder games;
    const GameImage first = FirstGame();
    const GameImage second = SecondGame();
    ASSERT_TRUE(testkit::WriteFile(games / "a.bin", first.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / "c.bin", second.bytes()));
    RecordingFeedback feedback;
    const AnalysisResult result =
        AnalyzeSources({games / "a.bin", games / "b.bin", games / "c.bin"}, games.path(), feedback);
    ASSERT_EQ(result.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(feedback.Messages(),
              std::vector<std::string>{Message(MessageId::ScannedFileMissing).text});
    EXPECT_TRUE(SameBytes(
        testkit::ReadFile(result.listPath),
        testkit::ExpectedConvertList(games.path(), {{"a.bin", &first}, {"c.bin", &second}})));
    EXPECT_EQ(GamePaths(feedback).back(), games / "c.bin");

    // With the missing file last, the game path still shows the last file scanned.
    RecordingFeedback again;
    (void)AnalyzeSources({games / "a.bin", games / "b.bin"}, games.path(), again);
    EXPECT_EQ(GamePaths(again), std::vector<std::string>{games / "a.bin"});
}

TEST(AnalysisRunTest, ListWriteFailureIsReportedAndLeavesNoList) {
    TempFolder games;
    GameImage image(9);
    for (int i = 0; i < 4000; ++i) {
        image.GpmHead(12);
    }
    ASSERT_TRUE(testkit::WriteFile(games / "many.bin", image.bytes()));
    PosixFileSystem posix;
    FaultInjectingFileSystem faulty(posix);
    faulty.FailWritesAfter(1000);
    ScopedFileSystem guard(faulty);
    RecordingFeedback feedback;
    const AnalysisResult result = AnalyzeSources({games / "many.bin"}, games.path(), feedback);
    EXPECT_EQ(result.status, AnalysisStatus::ListWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(games / "many.clg"));
    EXPECT_EQ(feedback.Messages(),
              std::vector<std::string>{Message(MessageId::AnalysisListNotMade).text});
    for (const std::string& status : feedback.StatusTexts()) {
        EXPECT_NE(status, kAnalysisDone);
    }
}

TEST(AnalysisRunTest, ListGoesToTheProgramFolderByDefault) {
    TempFolder games;
    GameImage image(13);
    image.Noise(100).GpmHead().Noise(100);
    const std::string name = "sonvex-analysis-default-folder-test.bin";
    ASSERT_TRUE(testkit::WriteFile(games / name, image.bytes()));
    NullFeedback feedback;
    const AnalysisResult result = AnalyzeSources({games / name}, feedback);
    ASSERT_EQ(result.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(std::filesystem::path(result.listPath).parent_path(), ProgramFolder());
    EXPECT_TRUE(std::filesystem::remove(result.listPath));
}

TEST(AnalysisRunTest, NamesAndFoldersOfTheList) {
    EXPECT_EQ(ListPathFor("/p", "/games/game.bin"), "/p/game.clg");
    EXPECT_EQ(ListPathFor("/p/", "/games/disc.tar.gz"), "/p/disc.tar.clg");
    EXPECT_EQ(ListPathFor("/p", "/games/NOEXT"), "/p/NOEXT.clg");
    EXPECT_EQ(ListPathFor("/p", "/games/.hidden"), "/p/.hidden.clg");
    EXPECT_EQ(ListPathFor("/p", "/games.d/ﾃﾞｰﾀ"), "/p/ﾃﾞｰﾀ.clg");
    EXPECT_EQ(SourceFolderOf("/games/sub/game.bin"), "/games/sub");
    EXPECT_EQ(SourceFolderOf("/game.bin"), "/");
    EXPECT_EQ(SourceFolderOf("game.bin"), "");
}

TEST(AnalysisRunTest, SourceFolderIsTheDeepestCommonFolderOfTheGameFiles) {
    // One folder: its spelling as given and plain names, whatever the files.
    ListSources one = ListSourcesOf({"/g/./a/X.BIN", "/g/./a/Y.BIN"});
    EXPECT_EQ(one.sourceFolder, "/g/./a");
    EXPECT_EQ(one.entryNames, (std::vector<std::string>{"X.BIN", "Y.BIN"}));
    // Several folders: the deepest one they share, and each path relative to it.
    ListSources three = ListSourcesOf({"/g/a/x.seq", "/g/b/c/y.seq", "/g/b/bank.vh"});
    EXPECT_EQ(three.sourceFolder, "/g");
    EXPECT_EQ(three.entryNames, (std::vector<std::string>{"a/x.seq", "b/c/y.seq", "b/bank.vh"}));
    ListSources nested = ListSourcesOf({"/g/a/x.seq", "/g/a/b/y.seq", "/g/a/../a/z.seq"});
    EXPECT_EQ(nested.sourceFolder, "/g/a");
    EXPECT_EQ(nested.entryNames, (std::vector<std::string>{"x.seq", "b/y.seq", "z.seq"}));
    // Only the root in common.
    ListSources root = ListSourcesOf({"/a/x", "/b/y"});
    EXPECT_EQ(root.sourceFolder, "/");
    EXPECT_EQ(root.entryNames, (std::vector<std::string>{"a/x", "b/y"}));
    EXPECT_EQ(GameFilePath(root.sourceFolder, root.entryNames[1]), "/b/y");
}

TEST(AnalysisRunTest, GameFilesOfSeveralFoldersGetOneListThatResolvesEveryFile) {
    TempFolder games;
    const GameImage first = FirstGame();
    const GameImage second = SecondGame();
    std::filesystem::create_directories(games / "a/deep");
    std::filesystem::create_directories(games / "b");
    ASSERT_TRUE(testkit::WriteFile(games / "a/deep/one.bin", first.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / "b/two.bin", second.bytes()));
    RecordingFeedback feedback;
    const AnalysisResult result =
        AnalyzeSources({games / "a/deep/one.bin", games / "b/two.bin"}, games.path(), feedback);
    ASSERT_EQ(result.status, AnalysisStatus::ListWritten);
    EXPECT_TRUE(SameBytes(testkit::ReadFile(result.listPath),
                          testkit::ExpectedConvertList(
                              games.path(), {{"a/deep/one.bin", &first}, {"b/two.bin", &second}})));
    const auto list = LoadList(result.listPath);
    ASSERT_TRUE(list);
    for (const ListEntry& e : list->entries) {
        EXPECT_TRUE(std::filesystem::exists(GameFilePath(list->sourceFolder, e.fileName)))
            << e.fileName;
    }

    // A name the list cannot hold is refused before anything is written, naming the file.
    const std::string deep = games / (std::string(200, 'd') + "/" + std::string(60, 'n') + ".bin");
    std::filesystem::create_directories(std::filesystem::path(deep).parent_path());
    ASSERT_TRUE(testkit::WriteFile(deep, first.bytes()));
    RecordingFeedback refused;
    const AnalysisResult tooLong =
        AnalyzeSources({games / "b/two.bin", deep}, games.path(), refused);
    EXPECT_EQ(tooLong.status, AnalysisStatus::PathTooLong);
    EXPECT_EQ(refused.Messages(),
              std::vector<std::string>{Message(MessageId::AnalysisListNotMade).text});
    EXPECT_EQ(refused.MessageSubjects(), std::vector<std::string>{tooLong.listPath});
    EXPECT_EQ(tooLong.listPath, games / "two.clg");
    EXPECT_FALSE(std::filesystem::exists(games / "two.clg"));
}

TEST(AnalysisRunTest, NoFilesDoesNothing) {
    RecordingFeedback feedback;
    const AnalysisResult result = AnalyzeSources({}, "/nowhere", feedback);
    EXPECT_EQ(result.status, AnalysisStatus::NoFiles);
    EXPECT_TRUE(feedback.events.empty());
}

} // namespace
} // namespace sonvex
