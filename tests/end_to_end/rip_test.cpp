// SPDX-License-Identifier: GPL-3.0-or-later
// From composed game images to MIDI and DLS files: the analysis finds every item, the
// batch run converts each into its file, independent readers accept every output, and
// sonvex-cli reports the run with the right exit status.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "testkit/shell_run.h"
#include "tests/support/program_run.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::GameImage;
using testkit::Shell;
using testkit::ShellRun;
using testkit::TempFolder;

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

GameImage Disc() {
    GameImage image(77);
    image.Noise(2000).Vh(3, 2, 4).Zeros(100).Vb(4, 6).Zeros(3000).Seq(12).Noise(700);
    image.SeqSet(3, 5).Zeros(50).GpmSeq(9).Noise(300).Kcet(2).Zeros(2048);
    image.Vh(2, 2, 2).Noise(20).Vb(2, 9).Noise(900).Seq(5).Zeros(100);
    return image;
}

TEST(Rip, EveryItemOfTwoImagesBecomesItsFile) {
    const GameImage first = Disc();
    GameImage second(78);
    second.Noise(500).Seq(7).Zeros(10).Vh(1, 1, 1).Zeros(16).Vb(1, 4).Noise(100);
    ASSERT_EQ(first.Verify(), "");
    ASSERT_EQ(second.Verify(), "");
    TempFolder dir;
    ASSERT_TRUE(testkit::WriteFile(dir / "DISC.BIN", first.bytes()));
    ASSERT_TRUE(testkit::WriteFile(dir / "EXTRA.BIN", second.bytes()));

    RecordingFeedback feedback;
    const AnalysisResult analysis =
        AnalyzeSources({dir / "DISC.BIN", dir / "EXTRA.BIN"}, dir.path(), feedback);
    ASSERT_EQ(analysis.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(
        testkit::ReadFile(analysis.listPath),
        testkit::ExpectedConvertList(dir.path(), {{"DISC.BIN", &first}, {"EXTRA.BIN", &second}}));

    const std::string out = dir / "out";
    fs::create_directory(out);
    feedback.events.clear();
    const ConversionRunResult run = RunConversion(analysis.listPath, out, "DISC", feedback);
    ASSERT_TRUE(run.ran);
    EXPECT_FALSE(run.endedEarly);
    EXPECT_TRUE(feedback.Messages().empty());
    // DISC: bank, sequence, set of three, SSsq, bank, sequence; EXTRA: sequence, bank. Each
    // output is named after its own game file.
    const std::set<std::string> expected = {
        "DISC_000.dls", "DISC_000.mid", "DISC_001_00.mid", "DISC_001_01.mid", "DISC_001_02.mid",
        "DISC_002.mid", "DISC_001.dls", "DISC_003.mid",    "EXTRA_000.mid",   "EXTRA_000.dls"};
    EXPECT_EQ(FilesIn(out), expected);
    EXPECT_EQ(run.filesMade, 10);
    EXPECT_EQ(feedback.StatusTexts().back(), "終了 作製ﾌｧｲﾙ数 10");
    EXPECT_EQ(feedback.ProgressValues().back(), 100);

    // Every SMF parses in an independent MIDI reader and ends with its end of track.
    if (Shell("/usr/bin/python3 -c 'import mido'").status == 0) {
        for (const std::string& name : expected) {
            if (fs::path(name).extension() != ".mid") {
                continue;
            }
            const ShellRun r =
                Shell("/usr/bin/python3 -c \"import mido,sys; f=mido.MidiFile(sys.argv[1]); "
                      "t=f.tracks[0]; assert len(f.tracks)==1 and t[-1].type=='end_of_track'; "
                      "print(sum(1 for m in t if m.type=='note_on'))\" '" +
                      (fs::path(out) / name).string() + "'");
            EXPECT_EQ(r.status, 0) << name << ": " << r.out;
            EXPECT_GT(std::atoi(r.out.c_str()), 0) << name;
        }
    }
    // Every DLS loads in an independent DLS reader.
    if (fs::exists("/usr/bin/dlsdump")) {
        for (const std::string& name : expected) {
            if (fs::path(name).extension() != ".dls") {
                continue;
            }
            const ShellRun r = Shell("/usr/bin/dlsdump '" + (fs::path(out) / name).string() + "'");
            EXPECT_EQ(r.status, 0) << name << ": " << r.out;
            EXPECT_NE(r.out.find("Instrument"), std::string::npos) << name << ": " << r.out;
        }
    }
}

TEST(Rip, CommandLineExitStatusTellsWhetherEverythingWasDone) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    TempFolder dir;
    const GameImage image = Disc();
    ASSERT_TRUE(testkit::WriteFile(dir / "DISC.BIN", image.bytes()));

    ShellRun r = Shell(cli + " rip '" + (dir / "DISC.BIN") + "' -o '" + (dir / "music") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("8 file(s) made"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("items: 6 made, 0 failed, 1 skipped"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(dir / "music/DISC.clg"));
    EXPECT_TRUE(fs::exists(dir / "music/DISC_001_02.mid"));

    // analyze -o names the list; convert makes the same files again.
    r = Shell(cli + " analyze '" + (dir / "DISC.BIN") + "' -o '" + (dir / "mine.clg") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(testkit::ReadFile(dir / "mine.clg"), testkit::ReadFile(dir / "music/DISC.clg"));
    r = Shell(cli + " convert '" + (dir / "mine.clg") + "' -o '" + (dir / "again") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(FilesIn(dir / "again").size(), 8u);

    // A game file that is missing is reported with its message, and the run fails.
    r = Shell(cli + " rip '" + (dir / "DISC.BIN") + "' '" + (dir / "GONE.BIN") + "' -o '" +
              (dir / "m2") + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("error: game file not found \"" + (dir / "GONE.BIN") +
                         "\": No such file or directory [15]"),
              std::string::npos)
        << r.out;

    // Nothing found: no list, non-zero status.
    ASSERT_TRUE(testkit::WriteFile(dir / "EMPTY.BIN", std::vector<uint8_t>(1000, 0x11)));
    r = Shell(cli + " analyze '" + (dir / "EMPTY.BIN") + "' -o '" + (dir / "empty.clg") + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(fs::exists(dir / "empty.clg"));

    // An output folder two levels deep cannot be made in one step: message 08.
    r = Shell(cli + " convert '" + (dir / "mine.clg") + "' -o '" + (dir / "x/y") + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("error: cannot create output folder \"" + (dir / "x/y") + "\": "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("[08]"), std::string::npos) << r.out;

    r = Shell(cli + " --version");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0.26"), std::string::npos);
    r = Shell(cli + " frobnicate");
    EXPECT_NE(r.status, 0);
}

} // namespace
} // namespace sonvex
