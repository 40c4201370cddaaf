// SPDX-License-Identifier: GPL-3.0-or-later
// Files of 0 bytes and sparse files past 4 GiB on the real disk, through every component
// that opens a file the user picked: each reports the end of its input (or converts
// the items that lie past 4 GiB) and writes nothing it cannot finish.
#include <gtest/gtest.h>

#include <filesystem>

#include "analysis/analysis_run.h"
#include "bank2dls/vab_converter.h"
#include "convert/batch_conversion.h"
#include "convlist/convert_list.h"
#include "listedit/list_edit_file.h"
#include "platform/messages.h"
#include "segment/segment_converter.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/convert_list_builder.h"
#include "testkit/hostile_inputs.h"
#include "testkit/seq_builder.h"
#include "tests/support/fault_plan.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::TempFolder;

constexpr uint64_t k4G = uint64_t{1} << 32;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : faults::FolderFiles(folder)) {
        names.push_back(name);
    }
    return names;
}

TEST(HostileFiles, EmptyFilesEverywhere) {
    TempFolder folder;
    ASSERT_TRUE(testkit::WriteFile(folder / "empty", {}));
    const std::string empty = folder / "empty";
    RecordingFeedback feedback;

    EXPECT_EQ(ConvertSeq(0, empty, folder / "seq", feedback).result, ConvertResult::InputEnded);
    EXPECT_EQ(ConvertSsq(16, empty, folder / "ssq", feedback).result, ConvertResult::InputEnded);
    EXPECT_EQ(ConvertVabToDls(0, 0, empty, empty, folder / "bank.dls", "t", feedback),
              ConvertResult::InputEnded);
    EXPECT_TRUE(feedback.Messages().empty());

    const AnalysisResult analysis = AnalyzeSources({empty}, folder.path(), feedback);
    EXPECT_EQ(analysis.status, AnalysisStatus::NothingFound);
    EXPECT_TRUE(feedback.Messages().empty());

    // An empty list: the driver's count read comes up short; the editor shows nothing.
    ASSERT_TRUE(testkit::WriteFile(folder / "list.clg", {}));
    EXPECT_FALSE(RunConversion(folder / "list.clg", folder.path(), "list", feedback).ran);
    EXPECT_EQ(feedback.Messages(), std::vector<std::string>{Message(MessageId::ListCountCut).text});
    EXPECT_EQ(LoadListRows(folder / "list.clg").status, EditorLoadStatus::ShortHeader);

    RecordingFeedback segmentFeedback;
    ASSERT_TRUE(testkit::WriteFile(folder / "song.mid", {}));
    ASSERT_TRUE(testkit::WriteFile(folder / "bank.dls", testkit::SoundDls()));
    EXPECT_EQ(ConvertSmfToSegment(folder / "song.mid", folder / "bank.dls", segmentFeedback, {}),
              SegmentResult::ConversionFailed);
    ASSERT_TRUE(testkit::WriteFile(folder / "song.mid", testkit::SoundSmf()));
    ASSERT_TRUE(testkit::WriteFile(folder / "bank.dls", {}));
    EXPECT_EQ(ConvertSmfToSegment(folder / "song.mid", folder / "bank.dls", segmentFeedback, {}),
              SegmentResult::ConversionFailed);
    EXPECT_EQ(segmentFeedback.Messages(),
              (std::vector<std::string>{Message(MessageId::SegmentNotMade).text,
                                        Message(MessageId::SegmentNotMade).text}));

    EXPECT_EQ(Names(folder.path()),
              (std::vector<std::string>{"bank.dls", "empty", "list.clg", "song.mid"}));

    // The console tools with an empty list, and with a list whose game file is empty.
    const std::string partcut = faults::BuiltProgram("tools/partcut/partcut");
    const std::string tabdump = faults::BuiltProgram("tools/tabdump/tabdump");
    if (std::filesystem::exists(partcut) && std::filesystem::exists(tabdump)) {
        // An empty file is no list: refused, nothing written.
        EXPECT_EQ(faults::RunProgram(tabdump, {"list.clg"}, folder.path()).status, 255);
        EXPECT_EQ(faults::RunProgram(partcut, {"-a", "list.clg"}, folder.path()).status, 1);
        EXPECT_FALSE(std::filesystem::exists(folder / "list.csv"));
        ASSERT_TRUE(testkit::WriteFile(
            folder / "cut.clg",
            testkit::ConvertListBuilder().entry(kTypeSeq, 0, 16, "empty").build()));
        EXPECT_EQ(faults::RunProgram(partcut, {"cut.clg"}, folder.path()).status, 0);
        EXPECT_EQ(testkit::ReadFile(folder / "cut_0000.seq").size(), 0u);
    }
}

// Items placed past 4 GiB of a sparse file convert like any other; an item that straddles
// the 4 GiB line is read across it, not from a position cut to 32 bits.
TEST(HostileFiles, SparseFilePast4GiB) {
    TempFolder folder;
    const Bytes seq = testkit::SoundSingleSeq();
    const Bytes ssq = testkit::SoundSsqItem();
    const Bytes vh = testkit::SoundVh();
    const Bytes vb = testkit::SoundVb();
    const uint64_t seqAt = k4G - 8; // straddles the line
    const uint64_t ssqAt = k4G + 0x1000;
    const uint64_t vhAt = k4G + 0x2000;
    const uint64_t vbAt = k4G + 0x4000;
    testkit::GameFileBuilder game(k4G + 0x8000);
    game.put(seqAt, seq).put(ssqAt, ssq).put(vhAt, vh).put(vbAt, vb);
    // Where a position cut to 32 bits would land, bytes that convert differently or not
    // at all: the start of the file (the straddling item's second half) and the low
    // halves of the other positions.
    for (uint64_t at : {uint64_t{0}, ssqAt, vhAt, vbAt}) {
        game.put(at & 0xFFFFFFFFu, Bytes(0x800, 0xEE));
    }
    if (!game.writeTo(folder / "big.bin")) {
        GTEST_SKIP() << "no room for a sparse file of 4 GiB here";
    }
    RecordingFeedback feedback;
    const std::string big = folder / "big.bin";
    const SeqConversion s = ConvertSeq(seqAt, big, folder / "seq", feedback);
    EXPECT_EQ(s.result, ConvertResult::Done) << s.diagnostics.failure;
    const SeqConversion q =
        ConvertSsq(ssqAt + testkit::kSsqMagicOffset, big, folder / "ssq", feedback);
    EXPECT_EQ(q.result, ConvertResult::Done) << q.diagnostics.failure;
    const ConvertResult b =
        ConvertVabToDls(vhAt, vbAt, big, big, folder / "bank.dls", "t", feedback);
    EXPECT_TRUE(b == ConvertResult::Done || b == ConvertResult::PartlyDone);
    EXPECT_TRUE(feedback.Messages().empty());

    // The same through a list and the batch driver, and the item past the end of the file.
    const Bytes list = testkit::ConvertListBuilder()
                           .folder(folder.path())
                           .entry(kTypeSeq, 0, seqAt, "big.bin")
                           .entry(kTypeGpmSeq, 1, ssqAt + testkit::kSsqMagicOffset, "big.bin")
                           .entry(kTypeVh, 0, vhAt, "big.bin")
                           .entry(kTypeVb, 0, vbAt, "big.bin")
                           .entry(kTypeSeq, 2, k4G + 0x8000 - 4, "big.bin")
                           .build();
    std::filesystem::create_directory(folder / "out");
    ASSERT_TRUE(testkit::WriteFile(folder / "big.clg", list));
    RecordingFeedback batch;
    const ConversionRunResult run = RunConversion(folder / "big.clg", folder / "out", "big", batch);
    EXPECT_TRUE(run.ran);
    EXPECT_EQ(run.filesMade, 3);
    EXPECT_TRUE(run.endedEarly); // the last sequence runs into the end of the file
    EXPECT_EQ(Names(folder / "out"),
              (std::vector<std::string>{"big_000.dls", "big_000.mid", "big_001.mid"}));
    EXPECT_EQ(testkit::ReadFile(folder / "out/big_000.mid"), testkit::ReadFile(folder / "seq.mid"));
}

} // namespace
} // namespace sonvex
