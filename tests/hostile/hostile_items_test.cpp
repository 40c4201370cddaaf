// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile game data through the converters and the scanner: sequences and banks cut at
// every byte, counts and lengths at their maxima, numbering that loops back, records
// past the end. Each converter gives the result the damage calls for, shows no message
// (every file opens), and leaves only complete files; the scanner writes a list whose
// entries lie inside the file.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "analysis/source_scanner.h"
#include "bank2dls/vab_converter.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "segment/instrument_table.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/hostile_inputs.h"
#include "testkit/seq_builder.h"
#include "testkit/smf_reader.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::HostileInput;
using testkit::kAnyResult;

// The SMF files a conversion to stem "/o/out" can leave: one, or one per set id.
std::vector<std::string> SmfNames() {
    std::vector<std::string> names = {"/o/out.mid"};
    for (int id = 0; id < 17; ++id) {
        char name[32];
        std::snprintf(name, sizeof name, "/o/out_%02d.mid", id);
        names.push_back(name);
    }
    return names;
}

void ExpectSequenceOutcome(const HostileInput& input, const SeqConversion& c,
                           MemoryFileSystem& memory, const RecordingFeedback& feedback) {
    EXPECT_TRUE(feedback.Messages().empty()) << input.name;
    EXPECT_NE(c.result, ConvertResult::OpenFailed) << input.name;
    EXPECT_NE(c.result, ConvertResult::PartlyDone) << input.name;
    if (input.expected != kAnyResult) {
        EXPECT_EQ(ToCode(c.result), input.expected) << input.name << ": " << c.diagnostics.failure;
    }
    int onDisk = 0;
    for (const std::string& name : SmfNames()) {
        if (!memory.Exists(name)) {
            continue;
        }
        ++onDisk;
        std::string error;
        EXPECT_TRUE(testkit::ReadSmf(memory.Contents(name), error).has_value())
            << input.name << ", " << name << ": " << error;
        memory.Remove(name);
    }
    EXPECT_EQ(onDisk, c.smfFilesMade) << input.name;
    if (c.result == ConvertResult::Done) {
        EXPECT_GE(onDisk, 1) << input.name;
    }
}

TEST(HostileItems, SeqConverter) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    std::array<int, 4> results{};
    for (const HostileInput& input : testkit::HostileSeqItems()) {
        memory.Put("/g/game.bin", input.bytes);
        RecordingFeedback feedback;
        const SeqConversion c = ConvertSeq(input.offset, "/g/game.bin", "/o/out", feedback);
        ExpectSequenceOutcome(input, c, memory, feedback);
        ++results[static_cast<size_t>(std::max(0, ToCode(c.result)))];
    }
    std::printf("pQES items: %d done, %d cannot convert, %d input ended\n", results[0], results[1],
                results[2]);
}

TEST(HostileItems, NumberedSetsStopWhereTheirNumberingBreaks) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    const std::vector<std::pair<std::string, int>> sets = {
        {"set with ids 0 1 0 1", 2}, {"set with ids 0 0 0", 1},
        {"set with ids 0 2", 1},     {"set with ids 0 to 39", 16},
        {"set with id 0xFFFF", 2},   {"set with data lengths 0xFFFFFFFF", 3}};
    const std::vector<HostileInput> items = testkit::HostileSeqItems();
    for (const auto& [name, files] : sets) {
        const auto item = std::find_if(items.begin(), items.end(),
                                       [&](const HostileInput& i) { return i.name == name; });
        ASSERT_NE(item, items.end()) << name;
        memory.Put("/g/game.bin", item->bytes);
        RecordingFeedback feedback;
        const SeqConversion c = ConvertSeq(0, "/g/game.bin", "/o/out", feedback);
        EXPECT_EQ(c.result, ConvertResult::Done) << name << ": " << c.diagnostics.failure;
        EXPECT_EQ(c.smfFilesMade, files) << name;
        ExpectSequenceOutcome(*item, c, memory, feedback);
    }
}

TEST(HostileItems, SsqConverter) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    for (const HostileInput& input : testkit::HostileSsqItems()) {
        memory.Put("/g/game.bin", input.bytes);
        RecordingFeedback feedback;
        const SeqConversion c = ConvertSsq(input.offset, "/g/game.bin", "/o/out", feedback);
        ExpectSequenceOutcome(input, c, memory, feedback);
        EXPECT_LE(c.smfFilesMade, 1) << input.name;
    }
}

TEST(HostileItems, BankConverter) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    std::array<int, 4> results{};
    for (const testkit::HostileBank& bank : testkit::HostileBanks()) {
        memory.Put("/g/bank.vh", bank.vh);
        memory.Put("/g/bank.vb", bank.vb);
        RecordingFeedback feedback;
        const VabConversion conversion =
            ConvertVabToDls(bank.vhOffset, bank.vbOffset, "/g/bank.vh", "/g/bank.vb", "/o/bank.dls",
                            "t", feedback, VabConvertOptions{});
        const ConvertResult r = conversion.result;
        const std::string& diagnostic = conversion.diagnostics.failure;
        EXPECT_TRUE(feedback.Messages().empty()) << bank.name;
        ASSERT_NE(r, ConvertResult::OpenFailed) << bank.name;
        ++results[static_cast<size_t>(ToCode(r))];
        if (bank.expected != kAnyResult) {
            EXPECT_EQ(ToCode(r), bank.expected) << bank.name << ": " << diagnostic;
        }
        const bool made = r == ConvertResult::Done || r == ConvertResult::PartlyDone;
        EXPECT_EQ(memory.Exists("/o/bank.dls"), made) << bank.name;
        if (made) {
            // A complete collection: its RIFF size covers the file, and the segment
            // builder's reader follows every instrument in it.
            ChunkFile dls;
            ASSERT_TRUE(dls.OpenRead("/o/bank.dls"));
            const Bytes& bytes = memory.Contents("/o/bank.dls");
            ASSERT_GE(bytes.size(), 12u) << bank.name;
            EXPECT_EQ(
                static_cast<size_t>(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24) + 8,
                bytes.size())
                << bank.name;
            InstrumentTable table;
            std::string failure;
            EXPECT_TRUE(ReadInstrumentTable(dls, table, failure)) << bank.name << ": " << failure;
            dls.Close();
            memory.Remove("/o/bank.dls");
        }
        // The scanner's header check and the converter agree on what is wrong.
        ChunkFile vh;
        ASSERT_TRUE(vh.OpenRead("/g/bank.vh"));
        VabHeader header;
        const int64_t base = bank.vhOffset > (uint64_t{1} << 62)
                                 ? int64_t{1} << 62
                                 : static_cast<int64_t>(bank.vhOffset);
        const VabCheck check = ValidateVabHeader(vh, base, header);
        if (check == VabCheck::FormatError) {
            EXPECT_EQ(r, ConvertResult::CannotConvert) << bank.name;
        } else if (check == VabCheck::ShortRead) {
            EXPECT_EQ(r, ConvertResult::InputEnded) << bank.name;
        }
    }
    std::printf("banks: %d done, %d cannot convert, %d input ended, %d in part\n", results[0],
                results[1], results[2], results[3]);
}

// The scanner over a game file of hostile bytes: the list it writes parses, counts what
// it holds, and every entry's signature lies inside the file, in rising order.
void ExpectSoundScan(MemoryFileSystem& memory, const std::string& name, const Bytes& bytes) {
    memory.Put("/g/game.bin", bytes);
    ChunkFile list;
    ChunkFile source;
    ASSERT_TRUE(list.Create("/g/game.clg"));
    ASSERT_TRUE(source.OpenRead("/g/game.bin"));
    ChunkListFile listFile(list);
    GroupCounters counters;
    RecordingFeedback feedback;
    ASSERT_TRUE(WriteHeader(listFile, 0, "/g"));
    EXPECT_EQ(ScanOpenSource(list, source, "game.bin", counters, feedback), ScanOutcome::Scanned)
        << name;
    EXPECT_TRUE(feedback.Messages().empty()) << name;
    ASSERT_TRUE(PatchCount(listFile, counters.Total()));
    ASSERT_TRUE(list.Close());
    source.Close();
    ConvertList parsed;
    ASSERT_EQ(ParseList(memory.Contents("/g/game.clg"), parsed), ListLoad::Ok) << name;
    EXPECT_EQ(parsed.entries.size(), counters.Total()) << name;
    uint64_t previous = 0;
    for (size_t i = 0; i < parsed.entries.size(); ++i) {
        const ListEntry& entry = parsed.entries[i];
        EXPECT_LT(entry.offset, bytes.size()) << name;
        EXPECT_TRUE(i == 0 || entry.offset > previous) << name;
        previous = entry.offset;
    }
}

TEST(HostileItems, ScannerOverHostileImagesAndItems) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    size_t scanned = 0;
    for (const HostileInput& input : testkit::HostileGameImages()) {
        ExpectSoundScan(memory, input.name, input.bytes);
        ++scanned;
    }
    for (const HostileInput& input : testkit::HostileSeqItems()) {
        ExpectSoundScan(memory, input.name, input.bytes);
        ++scanned;
    }
    for (const testkit::HostileBank& bank : testkit::HostileBanks()) {
        Bytes both = bank.vh;
        both.insert(both.end(), bank.vb.begin(), bank.vb.end());
        ExpectSoundScan(memory, bank.name, both);
        ++scanned;
    }
    std::printf("scanner: %zu hostile files\n", scanned);
}

} // namespace
} // namespace sonvex
