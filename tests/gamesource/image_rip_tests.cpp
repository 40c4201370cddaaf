// SPDX-License-Identifier: GPL-3.0-or-later
// Ripping disc images and PSF sets gives the same MIDI and DLS files, byte for byte, as
// ripping the loose game files they hold; broken images and sets fail with their reason
// and leave nothing behind.
#include <algorithm>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "gamesource/game_source.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"
#include "testkit/psf_builder.h"
#include "tests/support/program_run.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::GameImage;
using testkit::TempFolder;

Bytes Seq(uint32_t seed, int notes) {
    GameImage image(seed);
    image.Seq(notes);
    return image.bytes();
}

// `item` between signature-free noise.
Bytes Padded(uint32_t seed, size_t before, const Bytes& item, size_t after) {
    GameImage image(seed);
    image.Noise(before).Raw(item).Noise(after);
    return image.bytes();
}

// A DLS file's collection id is new for every file made: it is left out of comparisons.
Bytes WithoutDlsId(Bytes file) {
    const std::string head(file.begin(), file.begin() + std::min<size_t>(file.size(), 16));
    if (head.size() == 16 && head.compare(0, 4, "RIFF") == 0 &&
        head.compare(8, 8, "DLS dlid") == 0 && file.size() >= 36) {
        std::fill(file.begin() + 20, file.begin() + 36, 0);
    }
    return file;
}

// The contents of every file a rip of `gameFiles` made, sorted: names depend on the order
// items were found, the bytes must not.
std::vector<Bytes> RipContents(const std::vector<std::string>& gameFiles, const std::string& work) {
    fs::create_directories(work + "/out");
    RecordingFeedback feedback;
    const AnalysisResult analysis = AnalyzeSources(gameFiles, work, feedback);
    EXPECT_EQ(analysis.status, AnalysisStatus::ListWritten);
    EXPECT_TRUE(feedback.Messages().empty()) << feedback.Messages().front();
    const ConversionRunResult run =
        RunConversion(analysis.listPath, work + "/out", "GAME", feedback);
    EXPECT_TRUE(run.ran);
    EXPECT_FALSE(run.endedEarly);
    std::vector<Bytes> contents;
    for (const auto& entry : fs::directory_iterator(work + "/out")) {
        contents.push_back(WithoutDlsId(testkit::ReadFile(entry.path().string())));
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

struct Music {
    Bytes seq1 = Seq(11, 9);
    Bytes seq2 = Seq(12, 5);
    Bytes seq3 = Seq(13, 7);
    testkit::BankParts bank = testkit::MakeBank(14, 4, testkit::VagStart::ZeroBlockStartFlags);

    std::vector<Bytes> LooseRip(const TempFolder& dir) const {
        fs::create_directories(dir / "loose");
        const std::vector<std::pair<std::string, const Bytes*>> files = {{"SONG.SEQ", &seq1},
                                                                         {"STD0.VH", &bank.vh},
                                                                         {"STD0.VB", &bank.vb},
                                                                         {"TWO.SEQ", &seq2},
                                                                         {"THREE.SEQ", &seq3}};
        std::vector<std::string> paths;
        for (const auto& [name, bytes] : files) {
            paths.push_back(dir / ("loose/" + name));
            EXPECT_TRUE(testkit::WriteFile(paths.back(), *bytes));
        }
        return RipContents(paths, dir / "loose");
    }
};

TEST(ImageRip, CueImageGivesTheFilesOfTheLooseGameFiles) {
    const ScopedGameSources sources{SourceReport{}};
    const Music music;
    TempFolder dir;
    const std::vector<Bytes> loose = music.LooseRip(dir);
    ASSERT_EQ(loose.size(), 4u);

    // The first sequence straddles a sector boundary inside a Form 1 file; the bank's files
    // span several sectors; a Form 2 file holds nothing; the third sequence lies on the
    // second track, the second in the unfiled area behind it.
    const std::vector<testkit::DiscSector> sectors =
        testkit::DiscBuilder()
            .File("DATA/MUSIC.DAT", Padded(21, 2000, music.seq1, 300))
            .File("DATA/SOUND/STD0.VH", music.bank.vh)
            .File("DATA/SOUND/STD0.VB", music.bank.vb)
            .File("MOVIE/OPEN.STR", Padded(22, 6000, {}, 0), testkit::SectorForm::Form2)
            .File(testkit::DiscFile{"DATA/TRK2.DAT", Padded(23, 1500, music.seq3, 200),
                                    testkit::SectorForm::Form1, std::nullopt, 120})
            .Unfiled(Padded(24, 1800, music.seq2, 100))
            .Build();
    fs::create_directories(dir / "disc");
    const std::string cue = testkit::WriteCueImage(dir / "disc", "GAME", sectors, 120);
    ASSERT_FALSE(cue.empty());
    EXPECT_EQ(RipContents({cue}, dir / "disc"), loose);

    // The same disc as one file of raw sectors and as 2048-byte sectors.
    fs::create_directories(dir / "raw");
    ASSERT_TRUE(testkit::WriteFile(dir / "raw/GAME.IMG", testkit::RawImage(sectors)));
    EXPECT_EQ(RipContents({dir / "raw/GAME.IMG"}, dir / "raw"), loose);

    // Files picked inside the image one by one.
    fs::create_directories(dir / "picked");
    EXPECT_EQ(
        RipContents({dir / "raw/GAME.IMG/DATA/MUSIC.DAT", dir / "raw/GAME.IMG/DATA/SOUND/STD0.VH",
                     dir / "raw/GAME.IMG/DATA/SOUND/STD0.VB", dir / "raw/GAME.IMG/DATA/TRK2.DAT",
                     dir / "raw/GAME.IMG/#unfiled"},
                    dir / "picked"),
        loose);
}

TEST(ImageRip, ListNamesFilesInsideTheImageByThePathForm) {
    const ScopedGameSources sources{SourceReport{}};
    const Music music;
    TempFolder dir;
    const std::vector<testkit::DiscSector> sectors = testkit::DiscBuilder()
                                                         .File("SND/A.SEQ", music.seq1)
                                                         .File("SND/STD0.VB", music.bank.vb)
                                                         .File("SND/STD0.VH", music.bank.vh)
                                                         .Unfiled(music.seq2)
                                                         .Build();
    const std::string cue = testkit::WriteCueImage(dir.path(), "GAME", sectors);
    RecordingFeedback feedback;
    const AnalysisResult analysis = AnalyzeSources({cue}, dir.path(), feedback);
    ASSERT_EQ(analysis.status, AnalysisStatus::ListWritten);
    const Bytes list = testkit::ReadFile(analysis.listPath);
    const std::string text(list.begin(), list.end());
    EXPECT_NE(text.find("GAME.cue/SND/A.SEQ"), std::string::npos);
    EXPECT_NE(text.find("GAME.cue/#unfiled"), std::string::npos);
    EXPECT_EQ(analysis.counters.sequences, 2u);
    EXPECT_EQ(analysis.counters.bankHeaders, 1u);
    // Progress runs once over the whole image, though the header is scanned before the
    // body that comes first in the file system.
    const std::vector<int> progress = feedback.ProgressValues();
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
}

TEST(ImageRip, PsfSetGivesTheFilesOfTheLooseGameFiles) {
    const ScopedGameSources sources{SourceReport{}};
    const Music music;
    TempFolder dir;
    const std::vector<Bytes> loose = music.LooseRip(dir);
    ASSERT_EQ(loose.size(), 4u);
    // The library holds the bank; two songs use it, each with its own sequence; a third
    // sequence comes from a second library of one song.
    Bytes bank = music.bank.vh;
    bank.insert(bank.end(), music.bank.vb.begin(), music.bank.vb.end());
    fs::create_directories(dir / "psf");
    auto put = [&dir](const std::string& name, uint32_t address, const Bytes& text,
                      std::vector<std::pair<std::string, std::string>> tags) {
        ASSERT_TRUE(testkit::WriteFile(
            dir / ("psf/" + name),
            testkit::BuildPsf(
                {testkit::BuildPsxExe(address, Padded(address, 64, text, 64)), tags, {}})));
    };
    put("bank.psflib", 0x80100000, bank, {});
    put("extra.psflib", 0x80040000, music.seq3, {});
    put("one.minipsf", 0x80010000, music.seq1, {{"_lib", "bank.psflib"}, {"title", "One"}});
    put("two.minipsf", 0x80010000, music.seq2,
        {{"_lib", "bank.psflib"}, {"_lib2", "extra.psflib"}, {"utf8", "1"}});
    EXPECT_EQ(RipContents({dir / "psf/one.minipsf", dir / "psf/two.minipsf"}, dir / "psf"), loose);
}

TEST(ImageRip, PartcutCutsItemsOutOfAFileInsideAnImage) {
    const std::string partcut = testsupport::BuiltProgram("tools/partcut/partcut");
    if (!fs::exists(partcut)) {
        GTEST_SKIP() << "partcut not built at " << partcut;
    }
    const Music music;
    TempFolder dir;
    const std::vector<testkit::DiscSector> sectors =
        testkit::DiscBuilder().File("SND/A.SEQ", Padded(31, 3000, music.seq1, 0)).Build();
    const std::string cue = testkit::WriteCueImage(dir.path(), "GAME", sectors);
    RecordingFeedback feedback;
    const AnalysisResult analysis = AnalyzeSources({cue}, dir.path(), feedback);
    ASSERT_EQ(analysis.status, AnalysisStatus::ListWritten);
    const testsupport::ProcessRun run =
        testsupport::RunProgram(partcut, {analysis.listPath}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    Bytes expected = music.seq1;
    expected.resize((expected.size() + 3) / 4 * 4, 0);
    EXPECT_EQ(testkit::ReadFile(dir / "GAME_0000.seq"), expected) << run.out;
}

// Runs sonvex-cli rip on `target` in `dir`; the exit status and what it said.
testsupport::ProcessRun Rip(const TempFolder& dir, const std::string& target) {
    return testsupport::RunProgram(testsupport::BuiltProgram("cli/sonvex-cli"),
                                   {"rip", "-q", target, "-o", dir / "out"}, dir.path());
}

bool NothingMade(const TempFolder& dir) {
    if (!fs::exists(dir / "out")) {
        return true;
    }
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".mid" || ext == ".dls" || ext == ".clg") {
            return false;
        }
    }
    return true;
}

TEST(ImageRip, CommandLineFailsWithTheReasonAndLeavesNothing) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    const Music music;
    const std::vector<testkit::DiscSector> sectors =
        testkit::DiscBuilder().File("A.SEQ", music.seq1).File("B.VH", music.bank.vh).Build();
    const Bytes exe = testkit::BuildPsxExe(0x80010000, music.seq1);
    const struct {
        const char* name;
        std::function<std::string(const TempFolder&)> make; // returns the path to rip
        const char* said;
    } cases[] = {
        {"missing track file",
         [&](const TempFolder& d) {
             testkit::WriteCueImage(d.path(), "GAME", sectors, 22);
             fs::remove(d / "GAME2.bin");
             return d / "GAME.cue";
         },
         "GAME.cue: track file GAME2.bin"},
        {"bad CRC",
         [&](const TempFolder& d) {
             Bytes psf = testkit::BuildPsf({exe, {}, {}});
             psf[30] ^= 0x40;
             testkit::WriteFile(d / "song.psf", psf);
             return d / "song.psf";
         },
         "song.psf: PSF header at 0x0000000C: CRC-32 of the program is"},
        {"cut-short stream",
         [&](const TempFolder& d) {
             const Bytes stream = testkit::Deflate(exe);
             testkit::WriteFile(d / "song.psf",
                                testkit::BuildPsfWithStream(
                                    {exe, {}, {}}, Bytes(stream.begin(), stream.end() - 9)));
             return d / "song.psf";
         },
         "the compressed program is cut short"},
        {"_lib cycle",
         [&](const TempFolder& d) {
             testkit::WriteFile(d / "a.minipsf",
                                testkit::BuildPsf({exe, {{"_lib", "b.psflib"}}, {}}));
             testkit::WriteFile(d / "b.psflib",
                                testkit::BuildPsf({exe, {{"_lib", "a.minipsf"}}, {}}));
             return d / "a.minipsf";
         },
         "_lib cycle:"},
        {"path leaving the image",
         [&](const TempFolder& d) {
             testkit::WriteFile(d / "GAME.bin", testkit::RawImage(sectors));
             testkit::WriteFile(d / "A.SEQ", music.seq1);
             return d / "GAME.bin/../A.SEQ";
         },
         "GAME.bin/../A.SEQ: the path leaves the image"},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        const std::string target = c.make(dir);
        const testsupport::ProcessRun run = Rip(dir, target);
        EXPECT_NE(run.status, 0) << c.name << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.name << "\n" << run.err;
        EXPECT_TRUE(NothingMade(dir)) << c.name;
    }
}

} // namespace
} // namespace sonvex
