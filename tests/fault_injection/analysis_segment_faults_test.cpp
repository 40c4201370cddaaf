// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis run and the segment builder under every file fault.
// What the user sees:
//   analysis:        list not created or not written: message 14 and no list; game file
//                    not opened: message 16, the run goes on and, having found nothing,
//                    leaves no list
//   segment builder: SMF not opened: 41; DLS: 42; output not created: 43; a write or
//                    the final rename failing: 44 (exclamation); an older segment file of
//                    the same name stays as it was
#include <gtest/gtest.h>

#include <cstdio>

#include "analysis/analysis_run.h"
#include "segment/segment_converter.h"
#include "testkit/game_image.h"
#include "testkit/hostile_inputs.h"
#include "tests/support/fault_plan.h"

namespace sonvex::faults {
namespace {

TEST(AnalysisFaults, ListIsWhollyWrittenOrNotThere) {
    testkit::TempFolder folder;
    PosixFileSystem disk;
    testkit::GameImage image(3);
    image.Noise(64).Seq(4).Noise(16).Vh(2, 2, 3).Zeros(32).Vb(3, 3).Noise(20).GpmSeq(3).Noise(9);
    ASSERT_EQ(image.Verify(), "");
    const std::string game = folder / "game.bin";
    const std::string lists = folder.path();

    Component analysis;
    analysis.name = "AnalyzeSources";
    analysis.prepare = [&](FileSystem& fs) {
        PutFile(fs, game, image.bytes());
        PutFile(fs, folder / "game.clg", testkit::Bytes(12, 0x33)); // an older list of the name
    };
    analysis.run = [&](Feedback& feedback) {
        const AnalysisResult r = AnalyzeSources({game}, lists, feedback);
        Outcome o;
        o.success = r.status == AnalysisStatus::ListWritten;
        o.detail = "status " + std::to_string(static_cast<int>(r.status));
        return o;
    };
    analysis.shown = {{FaultKind::OpenRead, {MessageId::ScannedFileOpenFailed}},
                      {FaultKind::Create, {MessageId::AnalysisListNotMade}},
                      {FaultKind::Write, {MessageId::AnalysisListNotMade}}};
    const MatrixTally tally = RunMatrix(disk, analysis, 150, 7);
    EXPECT_EQ(tally.failed.at(FaultKind::Create), 1);
    // The game file is opened three times (to tell a disc image or PSF by its content, for
    // the checks, and for the large blocks the scan reads): every open fails the same way.
    EXPECT_EQ(tally.failed.at(FaultKind::OpenRead), 3);
    std::printf("%s\n", tally.Summary(analysis.name).c_str());
}

TEST(SegmentFaults, FailureKeepsTheOlderSegmentAndLeavesNoPartialFile) {
    MemoryFileSystem memory;
    const testkit::Bytes older(100, 0x5A);
    Component segment;
    segment.name = "ConvertSmfToSegment";
    segment.prepare = [&](FileSystem& fs) {
        PutFile(fs, "/w/song.mid", testkit::SoundSmf());
        PutFile(fs, "/w/bank.dls", testkit::SoundDls());
        PutFile(fs, "/w/song.sgt", older);
    };
    segment.run = [](Feedback& feedback) {
        SegmentJob job;
        job.workFolder = "/w";
        job.smfName = "song.mid";
        job.dlsName = "bank.dls";
        job.newGuid = [] { return Guid{}; };
        SegmentReport report;
        const SegmentResult r = ConvertSmfToSegment(job, feedback, {}, &report);
        Outcome o;
        o.success = r == SegmentResult::Done;
        o.detail = "result " + std::to_string(ToCode(r)) + " " + report.diagnostics.failure;
        return o;
    };
    segment.shown = {
        {FaultKind::OpenRead, {MessageId::SegmentSmfOpenFailed, MessageId::SegmentDlsOpenFailed}},
        {FaultKind::Create, {MessageId::SegmentOutputOpenFailed}},
        {FaultKind::Write, {MessageId::SegmentNotMade}},
        {FaultKind::Rename, {MessageId::SegmentNotMade}}};
    // The third open reads back the finished file's size for the dialog's list row.
    segment.harmless = {{FaultKind::OpenRead, {2}}};
    segment.check = [&](FileSystem& fs, const Outcome& o) -> std::string {
        if (o.success) {
            return "";
        }
        const Snapshot now = Take(fs, {"/w/song.sgt"});
        return now.at("/w/song.sgt") == older ? "" : "the older segment file was not kept";
    };
    const MatrixTally tally = RunMatrix(memory, segment);
    EXPECT_EQ(tally.failed.at(FaultKind::Rename), 1);
    EXPECT_EQ(
        tally.messages.at(FaultKind::OpenRead),
        (std::set<MessageId>{MessageId::SegmentSmfOpenFailed, MessageId::SegmentDlsOpenFailed}));
    std::printf("%s\n", tally.Summary(segment.name).c_str());
}

} // namespace
} // namespace sonvex::faults
