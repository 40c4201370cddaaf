// SPDX-License-Identifier: GPL-3.0-or-later
// From composed game images to MIDI and DLS files: the analysis finds every item, the
// batch run converts each into its file, independent readers accept every output, and
// sonvex-cli reports the run with the right exit status.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
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

// A file's bytes, with the identifier a DLS collection gets anew on every run zeroed.
testkit::Bytes WithoutCollectionId(testkit::Bytes bytes) {
    static const char kId[] = "dlid";
    for (size_t at = 0; at + 24 <= bytes.size(); ++at) {
        if (std::memcmp(bytes.data() + at, kId, 4) == 0 && bytes[at + 4] == 16) {
            std::fill(bytes.begin() + static_cast<long>(at) + 8,
                      bytes.begin() + static_cast<long>(at) + 24, 0);
        }
    }
    return bytes;
}

TEST(Rip, ConvertingBesideTheScanGivesTheSameFilesMessagesAndStatus) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    // A disc of many game files with items of every converted kind, a game file that is
    // missing, and a folder where an output goes, which ends the conversion part way.
    testkit::DiscBuilder disc;
    for (int i = 0; i < 14; ++i) {
        GameImage file(300 + static_cast<uint32_t>(i));
        file.Noise(300).Seq(6 + i).Zeros(40).Vh(2, 2, 3).Zeros(64).Vb(3, 4).Noise(90);
        if (i % 3 == 0) {
            file.SeqSet(2 + i % 4, 4).Zeros(20).GpmSeq(5).Noise(50);
        }
        if (i % 4 == 1) {
            file.Vh(1, 1, 1).Noise(30); // a header whose body is not next to it
        }
        ASSERT_EQ(file.Verify(), "") << i;
        char name[32];
        std::snprintf(name, sizeof name, "SOUND/T%02d.BIN", i);
        disc.File(name, file.bytes());
    }
    TempFolder dir;
    const std::string cue = testkit::WriteCueImage(dir.path(), "GAME", disc.Build());
    ASSERT_FALSE(cue.empty());

    struct Result {
        int status;
        std::string out;
        std::string err;
        std::map<std::string, testkit::Bytes> files;
    };
    auto rip = [&](int jobs) {
        const fs::path out = dir / "music";
        fs::remove_all(out);
        fs::create_directories(out / "T10_000.mid");
        const ShellRun r = Shell("{ " + cli + " rip -j " + std::to_string(jobs) + " '" + cue +
                                 "' '" + (dir / "GONE.BIN") + "' -o '" + out.string() + "' >'" +
                                 (dir / "stdout.txt") + "' 2>'" + (dir / "stderr.txt") + "'; }");
        auto text = [](const std::string& path) {
            const testkit::Bytes bytes = testkit::ReadFile(path);
            return std::string(bytes.begin(), bytes.end());
        };
        Result result{r.status, text(dir / "stdout.txt"), text(dir / "stderr.txt"), {}};
        for (const auto& e : fs::directory_iterator(out)) {
            result.files[e.path().filename().string()] =
                e.is_directory() ? testkit::Bytes{}
                                 : WithoutCollectionId(testkit::ReadFile(e.path().string()));
        }
        return result;
    };
    const Result one = rip(1);
    ASSERT_NE(one.status, 0);
    ASSERT_GT(one.files.size(), 30u);
    ASSERT_NE(one.err.find("[15]"), std::string::npos) << one.err;
    ASSERT_NE(one.err.find("[06]"), std::string::npos) << one.err;
    for (const int jobs : {2, 3}) {
        const Result more = rip(jobs);
        EXPECT_EQ(more.status, one.status) << jobs;
        EXPECT_EQ(more.out, one.out) << jobs;
        EXPECT_EQ(more.err, one.err) << jobs;
        std::set<std::string> names;
        for (const auto& [name, bytes] : more.files) {
            names.insert(name);
            const auto same = one.files.find(name);
            EXPECT_TRUE(same != one.files.end() && same->second == bytes) << jobs << ": " << name;
        }
        EXPECT_EQ(names.size(), one.files.size()) << jobs; // nothing missing, no staging left
    }
}

} // namespace
} // namespace sonvex
