// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile convert lists through every reader of the format: the counted read, the batch
// driver's streaming read, the list editor's load, and the two console tools.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/batch_conversion.h"
#include "convlist/convert_list.h"
#include "listedit/list_edit_file.h"
#include "platform/messages.h"
#include "testkit/convert_list_builder.h"
#include "testkit/hostile_inputs.h"
#include "tests/support/fault_plan.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::HostileInput;

// Where the header of the sound list ends: count, length byte, "/games" and its NUL.
constexpr size_t kSoundHeaderEnd = 5 + 7;

TEST(HostileLists, CountedReadStaysInsideTheBytes) {
    for (const HostileInput& input : testkit::HostileConvertLists()) {
        ConvertList list;
        const ListLoad load = ParseList(input.bytes, list);
        if (load == ListLoad::ShortHeader) {
            EXPECT_TRUE(list.entries.empty()) << input.name;
            continue;
        }
        size_t used = 5 + list.pathLength;
        for (const ListEntry& entry : list.entries) {
            used += static_cast<size_t>(entry.StoredLength());
            EXPECT_LE(entry.fileName.size(), entry.nameLength) << input.name;
        }
        EXPECT_LE(used, input.bytes.size()) << input.name;
        EXPECT_LE(list.entries.size(), list.count) << input.name;
        EXPECT_EQ(load == ListLoad::Ok, list.entries.size() == list.count) << input.name;
    }
}

// The batch driver, with converters that only record what they are asked: a header cut
// short shows its own message and starts no run; otherwise the run ends with progress 100.
TEST(HostileLists, BatchDriverReportsCutHeadersAndWalksTheRest) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    int calls = 0;
    Converters recording;
    recording.seq = [&](uint64_t, const std::string&, const std::string&, Feedback&) {
        ++calls;
        return SequenceOutcome{ConvertResult::Done, 1};
    };
    recording.ssq = recording.seq;
    recording.vab = [&](uint64_t, uint64_t, const std::string&, const std::string&,
                        const std::string&, std::string_view, Feedback&) {
        ++calls;
        return ConvertResult::Done;
    };
    for (const HostileInput& input : testkit::HostileConvertLists()) {
        memory.Put("/l/list.clg", input.bytes);
        RecordingFeedback feedback;
        calls = 0;
        const ConversionRunResult run =
            RunConversion("/l/list.clg", "/o", "list", feedback, recording);
        const bool soundCut = input.name.starts_with("list cut at ");
        if (soundCut && input.bytes.size() < kSoundHeaderEnd) {
            const MessageId id = input.bytes.size() < 4    ? MessageId::ListCountCut
                                 : input.bytes.size() == 4 ? MessageId::ListFolderLengthCut
                                                           : MessageId::ListFolderCut;
            EXPECT_FALSE(run.ran) << input.name;
            EXPECT_EQ(feedback.Messages(), std::vector<std::string>{Message(id).text})
                << input.name;
            EXPECT_TRUE(feedback.StatusTexts().empty()) << input.name;
            continue;
        }
        if (!run.ran) {
            EXPECT_EQ(feedback.Messages().size(), 1u) << input.name;
            continue;
        }
        EXPECT_TRUE(feedback.Messages().empty()) << input.name;
        const std::vector<int> progress = feedback.ProgressValues();
        ASSERT_FALSE(progress.empty()) << input.name;
        EXPECT_EQ(progress.back(), 100) << input.name;
        for (int p : progress) {
            EXPECT_TRUE(p >= 0 && p <= 100) << input.name << ": progress " << p;
        }
        EXPECT_EQ(run.filesMade, calls) << input.name;
    }
}

TEST(HostileLists, EditorLoadTakesWholeEntriesOnly) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    for (const HostileInput& input : testkit::HostileConvertLists()) {
        memory.Put("/l/list.clg", input.bytes);
        const EditorLoad load = LoadListRows("/l/list.clg");
        ConvertList parsed;
        const ListLoad counted = ParseList(input.bytes, parsed);
        if (counted == ListLoad::ShortHeader) {
            EXPECT_EQ(load.status, EditorLoadStatus::ShortHeader) << input.name;
            EXPECT_TRUE(load.rows.empty()) << input.name;
            continue;
        }
        // The editor keeps a row for an entry whose name is cut short; otherwise it and
        // the counted read agree.
        EXPECT_GE(load.rows.size(), parsed.entries.size()) << input.name;
        EXPECT_LE(load.rows.size(), parsed.entries.size() + 1) << input.name;
        EXPECT_EQ(load.status == EditorLoadStatus::Ok, counted == ListLoad::Ok) << input.name;
        for (size_t i = 0; i < parsed.entries.size(); ++i) {
            EXPECT_EQ(load.rows[i].fileName, parsed.entries[i].fileName) << input.name;
        }
    }
}

// The console tools never die on a list: tabdump writes a CSV, or refuses bytes that are
// no list and writes nothing; partcut cuts what the list names from the game file beside it.
TEST(HostileLists, ConsoleToolsSurviveEveryList) {
    const std::string tabdump = faults::BuiltProgram("tools/tabdump/tabdump");
    const std::string partcut = faults::BuiltProgram("tools/partcut/partcut");
    if (!std::filesystem::exists(tabdump) || !std::filesystem::exists(partcut)) {
        GTEST_SKIP() << "the console tools are not built";
    }
    testkit::TempFolder folder;
    testkit::GameFileBuilder game(0x2000);
    game.noise(3);
    ASSERT_TRUE(game.writeTo(folder / "game.bin"));
    int runs = 0;
    for (const HostileInput& input : testkit::HostileConvertLists()) {
        for (const auto& item : std::filesystem::directory_iterator(folder.path())) {
            if (item.path().filename() != "game.bin") {
                std::filesystem::remove_all(item.path());
            }
        }
        ASSERT_TRUE(testkit::WriteFile(folder / "list.clg", input.bytes));
        const faults::ProcessRun csv = faults::RunProgram(tabdump, {"list.clg"}, folder.path());
        if (!ListProblem(input.bytes).empty()) {
            EXPECT_EQ(csv.status, 255) << input.name << ": " << csv.out;
            EXPECT_NE(csv.out.find("not a convert list [list.clg]: "), std::string::npos)
                << input.name;
            EXPECT_FALSE(std::filesystem::exists(folder / "list.csv")) << input.name;
            runs += 1;
            continue;
        }
        EXPECT_EQ(csv.status, 0) << input.name << ": " << csv.out;
        ConvertList parsed;
        (void)ParseList(input.bytes, parsed);
        // One CSV line per entry taken, after the header line.
        const Bytes csvBytes = testkit::ReadFile(folder / "list.csv");
        const std::string text(csvBytes.begin(), csvBytes.end());
        size_t lines = 0;
        for (size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            ++lines;
        }
        EXPECT_EQ(lines, parsed.entries.size() + 1) << input.name;

        const faults::ProcessRun cut =
            faults::RunProgram(partcut, {"-a", "-o", "list.clg"}, folder.path());
        EXPECT_TRUE(cut.status == 0 || cut.status == 1) << input.name << ": status " << cut.status;
        const faults::ProcessRun split = faults::RunProgram(partcut, {"list.clg"}, folder.path());
        EXPECT_TRUE(split.status == 0 || split.status == 1)
            << input.name << ": status " << split.status;
        runs += 3;
    }
    std::printf("console tools: %d runs over hostile lists\n", runs);
}

// A damaged list may carry a number as large as 2^31 - 1: the append output and the
// patch lines cover the numbers below the entry count and the numbers in use, instead
// of one file for every number up to the largest.
TEST(HostileLists, PartcutAppendOutputOfAHugeNumberEnds) {
    const std::string partcut = faults::BuiltProgram("tools/partcut/partcut");
    if (!std::filesystem::exists(partcut)) {
        GTEST_SKIP() << "partcut is not built";
    }
    testkit::TempFolder folder;
    testkit::GameFileBuilder game(0x400);
    game.noise(4);
    ASSERT_TRUE(game.writeTo(folder / "g.bin"));
    ASSERT_TRUE(testkit::WriteFile(folder / "g.clg", testkit::ConvertListBuilder()
                                                         .entry(kTypeSeq, 0, 0x10, "g.bin")
                                                         .entry(kTypeVh, 2147483647, 0x100, "g.bin")
                                                         .build()));
    const faults::ProcessRun run =
        faults::RunProgram(partcut, {"-a", "-o", "g.clg"}, folder.path());
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : faults::FolderFiles(folder.path())) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"g.bin", "g.clg", "g_0000.bin", "g_0001.bin",
                                               "g_2147483647.bin"}));
    EXPECT_EQ(testkit::ReadFile(folder / "g_2147483647.bin").size(), 8u + 0x300u);
    EXPECT_NE(
        run.out.find("No.2147483647 patch 0x800FFFFC = 0x80100000 / 0x800FFFF8 = 0x80100000\n"),
        std::string::npos)
        << run.out;
}

} // namespace
} // namespace sonvex
