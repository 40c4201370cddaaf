// SPDX-License-Identifier: GPL-3.0-or-later
// The console programs run as processes with a limit on the size of any file they write
// (a write past it fails, as on a full disk), and with an output name taken by a folder
// (its create fails). What the user sees:
//   partcut:    "write error [<file>]" for each output not written, the file removed, the
//               other outputs written in full, exit status 1
//   tabdump:    "ファイルが作成出来ません:<file>", no CSV, exit status 255
//   sonvex-cli: convert, analyze, rip and segment end with a non-zero status, leaving only
//               complete files
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "testkit/convert_list_builder.h"
#include "testkit/game_image.h"
#include "testkit/hostile_inputs.h"
#include "tests/support/fault_plan.h"

namespace sonvex::faults {
namespace {

using testkit::ConvertListBuilder;
using testkit::GameFileBuilder;
using testkit::TempFolder;

std::string Program(const std::string& relative) {
    const std::string path = BuiltProgram(relative);
    return std::filesystem::exists(path) ? path : std::string();
}

void ClearOutputs(const std::string& folder, const std::set<std::string>& keep) {
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (keep.count(item.path().filename().string()) == 0) {
            std::filesystem::remove_all(item.path());
        }
    }
}

// File sizes worth limiting to: every size up to `dense`, and one below, at and above
// each output's size.
std::set<uint64_t> Limits(const std::map<std::string, testkit::Bytes>& outputs, uint64_t dense) {
    std::set<uint64_t> limits;
    for (uint64_t n = 0; n <= dense; ++n) {
        limits.insert(n);
    }
    for (const auto& [name, bytes] : outputs) {
        for (uint64_t size : {bytes.size() - 1, bytes.size(), bytes.size() + 1}) {
            limits.insert(size);
        }
    }
    return limits;
}

class PartcutFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        partcut = Program("tools/partcut/partcut");
        if (partcut.empty()) {
            GTEST_SKIP() << "partcut is not built";
        }
        GameFileBuilder game(0x1800);
        game.noise(5);
        ASSERT_TRUE(game.writeTo(folder / "game.bin"));
        ASSERT_TRUE(
            testkit::WriteFile(folder / "game.clg",
                               ConvertListBuilder()
                                   .entry(kTypeSeq, 0, 0x100, "game.bin")
                                   .entry(kTypeVb, 0, 0x140, "game.bin")
                                   .entry(kTypeVh, 0, 0x529, "game.bin") // 1001-byte body before it
                                   .entry(kTypeSeq, 1, 0x600, "game.bin")
                                   .entry(kTypeVh, 1, 0x700, "game.bin")
                                   .build()));
    }

    // Runs partcut with every limit and checks each run against the clean one.
    void Sweep(const std::vector<std::string>& args, int* failedRuns) {
        const std::set<std::string> inputs = {"game.bin", "game.clg"};
        ClearOutputs(folder.path(), inputs);
        const ProcessRun clean = RunProgram(partcut, args, folder.path());
        ASSERT_EQ(clean.status, 0) << clean.out;
        std::map<std::string, testkit::Bytes> outputs = FolderFiles(folder.path());
        for (const std::string& input : inputs) {
            outputs.erase(input);
        }
        ASSERT_FALSE(outputs.empty());
        for (uint64_t limit : Limits(outputs, 70)) {
            ClearOutputs(folder.path(), inputs);
            const ProcessRun run = RunProgram(partcut, args, folder.path(), limit);
            std::map<std::string, testkit::Bytes> left = FolderFiles(folder.path());
            bool anyTooLarge = false;
            for (const auto& [name, bytes] : outputs) {
                const bool fits = bytes.size() <= limit;
                anyTooLarge = anyTooLarge || !fits;
                const std::string label = "limit " + std::to_string(limit) + ", " + name;
                const std::string line = "write error [" + name + "]\n";
                if (fits) {
                    EXPECT_EQ(left[name], bytes) << label;
                    EXPECT_EQ(run.out.find(line), std::string::npos) << label;
                } else {
                    EXPECT_EQ(left.count(name), 0u) << label << ": a cut-off file was left";
                    EXPECT_NE(run.out.find(line), std::string::npos) << label << ": not reported";
                }
            }
            EXPECT_EQ(run.status, anyTooLarge ? 1 : 0) << "limit " << limit;
            *failedRuns += run.status != 0 ? 1 : 0;
        }
    }

    TempFolder folder;
    std::string partcut;
};

TEST_F(PartcutFaults, SplitAndAppendOutputsAreWholeOrGoneAndReported) {
    int failed = 0;
    Sweep({"game.clg"}, &failed);
    Sweep({"-a", "game.clg"}, &failed);
    Sweep({"-a", "-4", "game.clg"}, &failed);
    EXPECT_GT(failed, 150);
    std::printf("partcut under file-size limits: %d runs reported failure\n", failed);
}

TEST_F(PartcutFaults, AnOutputThatCannotBeCreatedIsReportedAndTheOthersAreWritten) {
    std::filesystem::create_directory(folder / "game_0000.vh");
    const ProcessRun run = RunProgram(partcut, {"game.clg"}, folder.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("write error [game_0000.vh]\n"), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::is_directory(folder / "game_0000.vh"));
    EXPECT_EQ(testkit::ReadFile(folder / "game_0001.vh").size(), 0x1800u - 0x700u);

    std::filesystem::create_directory(folder / "game_0001.bin");
    const ProcessRun append = RunProgram(partcut, {"-a", "game.clg"}, folder.path());
    EXPECT_EQ(append.status, 1);
    EXPECT_NE(append.out.find("write error [game_0001.bin]\n"), std::string::npos) << append.out;
    EXPECT_GT(testkit::ReadFile(folder / "game_0000.bin").size(), 8u);
}

TEST(TabdumpFaults, CsvIsWholeOrGone) {
    const std::string tabdump = Program("tools/tabdump/tabdump");
    if (tabdump.empty()) {
        GTEST_SKIP() << "tabdump is not built";
    }
    TempFolder folder;
    ASSERT_TRUE(testkit::WriteFile(folder / "list.clg", testkit::SoundConvertList()));
    const ProcessRun clean = RunProgram(tabdump, {"list.clg"}, folder.path());
    ASSERT_EQ(clean.status, 0);
    const testkit::Bytes csv = testkit::ReadFile(folder / "list.csv");
    ASSERT_GT(csv.size(), 20u);
    const std::string message = "ファイルが作成出来ません:list.csv\n";
    for (uint64_t limit = 0; limit < csv.size(); ++limit) {
        std::filesystem::remove(folder / "list.csv");
        const ProcessRun run = RunProgram(tabdump, {"list.clg"}, folder.path(), limit);
        EXPECT_EQ(run.status, 255) << limit;
        EXPECT_NE(run.out.find(message), std::string::npos) << limit << ": " << run.out;
        EXPECT_FALSE(std::filesystem::exists(folder / "list.csv")) << limit;
    }
    std::filesystem::create_directory(folder / "list.csv");
    const ProcessRun taken = RunProgram(tabdump, {"list.clg"}, folder.path());
    EXPECT_EQ(taken.status, 255);
    EXPECT_NE(taken.out.find(message), std::string::npos);
}

// The command line over the same core: a failed write never ends with status 0, and
// what is left on disk is what a clean run leaves, file for file, or nothing.
TEST(CommandLineFaults, FailedWritesEndWithAFailureStatusAndOnlyCompleteFiles) {
    const std::string cli = Program("cli/sonvex-cli");
    if (cli.empty()) {
        GTEST_SKIP() << "sonvex-cli is not built";
    }
    TempFolder folder;
    testkit::GameImage image(11);
    image.Noise(40).Seq(3).Noise(10).SeqSet(2, 2).Noise(8).Vh(1, 2, 2).Zeros(32).Vb(2, 3).Noise(12);
    ASSERT_EQ(image.Verify(), "");
    ASSERT_TRUE(testkit::WriteFile(folder / "game.bin", image.bytes()));
    ASSERT_TRUE(testkit::WriteFile(folder / "song.mid", testkit::SoundSmf()));
    ASSERT_TRUE(testkit::WriteFile(folder / "bank.dls", testkit::SoundDls()));
    const std::set<std::string> inputs = {"game.bin", "song.mid", "bank.dls"};

    struct Command {
        std::string name;
        std::vector<std::string> args;
    };
    const std::vector<Command> commands = {
        {"analyze", {"analyze", "-q", "game.bin", "-o", "game.clg"}},
        {"rip", {"rip", "-q", "game.bin", "-o", "out"}},
        {"rip -j 2", {"rip", "-q", "-j", "2", "game.bin", "-o", "out"}},
        {"segment", {"segment", "song.mid", "bank.dls"}},
    };
    int failures = 0;
    for (const Command& command : commands) {
        ClearOutputs(folder.path(), inputs);
        const ProcessRun clean = RunProgram(cli, command.args, folder.path());
        ASSERT_EQ(clean.status, 0) << command.name << ": " << clean.err;
        std::map<std::string, testkit::Bytes> made = FolderFiles(folder.path());
        for (const std::string& input : inputs) {
            made.erase(input);
        }
        ASSERT_FALSE(made.empty()) << command.name;
        uint64_t largest = 0;
        for (const auto& [name, bytes] : made) {
            largest = std::max<uint64_t>(largest, bytes.size());
        }
        for (uint64_t limit = 0; limit < largest; limit += std::max<uint64_t>(1, largest / 40)) {
            ClearOutputs(folder.path(), inputs);
            const ProcessRun run = RunProgram(cli, command.args, folder.path(), limit);
            const std::string label = command.name + " with limit " + std::to_string(limit);
            EXPECT_NE(run.status, 0) << label;
            failures += run.status != 0 ? 1 : 0;
            for (const auto& [name, bytes] : FolderFiles(folder.path())) {
                if (inputs.count(name) != 0) {
                    continue;
                }
                const auto good = made.find(name);
                // Segment and DLS files are not byte-repeatable (new GUIDs): compare sizes.
                const bool same =
                    good != made.end() &&
                    (good->second == bytes || (good->second.size() == bytes.size() &&
                                               (name.ends_with(".sgt") || name.ends_with(".dls"))));
                EXPECT_TRUE(same) << label << ": " << name << " (" << bytes.size()
                                  << " bytes) is not a complete file";
            }
        }
    }
    std::printf("sonvex-cli under file-size limits: %d runs ended with a failure status\n",
                failures);
}

} // namespace
} // namespace sonvex::faults
