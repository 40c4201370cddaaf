// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli soundtrack` on a composed disc image: one tagged, audible file per song of the
// song's length, in the playlist, the same with one job as with two, and a failing song
// named with a non-zero exit status.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "playback/audio_file.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"
#include "testkit/psf_builder.h"
#include "testkit/song_bank_items.h"
#include "tests/support/program_run.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::BankOf;
using testkit::SongOf;
using testkit::TempFolder;

std::string TextOf(const std::string& path) {
    const testkit::Bytes bytes = testkit::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The peak of the frames in [from, to) seconds.
int PeakBetween(const AudioFileContents& audio, double from, double to) {
    const auto begin = static_cast<size_t>(from * audio.sampleRate) * 2;
    const auto end = std::min(audio.samples.size(), static_cast<size_t>(to * audio.sampleRate) * 2);
    int peak = 0;
    for (size_t i = begin; i < end; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(audio.samples[i])));
    }
    return peak;
}

TEST(SoundtrackCommand, DiscImageBecomesTaggedSongsInAPlaylist) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    // SOUND/BGM.BIN: a bank, then a song of 2 beats and one of 4 (at 120 beats per minute).
    testkit::GameImage bgm(5);
    const auto bank = BankOf(21, {{0, {0, 127}}, {1, {0, 127}}});
    bgm.Noise(64).Raw(bank.vh).Zeros(64).Raw(bank.vb).Noise(64);
    bgm.Raw(SongOf({{0, -1, 60}}, 2)).Noise(64).Raw(SongOf({{1, 1, 67}}, 4)).Noise(64);
    TempFolder dir;
    const std::string cue = testkit::WriteCueImage(
        dir.path(), "GAME", testkit::DiscBuilder().File("SOUND/BGM.BIN", bgm.bytes()).Build());
    ASSERT_FALSE(cue.empty());

    const std::string out = dir / "album";
    const auto run = testsupport::RunProgram(
        cli, {"soundtrack", cue, "-o", out, "-j", "2", "--fade", "1"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    const double songSeconds[] = {1.0, 2.0};
    for (int n = 1; n <= 2; ++n) {
        const std::string title = "BGM.BIN song " + std::to_string(n);
        const std::string file = out + "/0" + std::to_string(n) + " " + title + ".flac";
        AudioFileContents audio;
        std::string error;
        ASSERT_TRUE(ReadAudioFile(file, audio, error)) << error;
        EXPECT_EQ(audio.container, "flac");
        EXPECT_EQ(audio.tags.title, title);
        EXPECT_EQ(audio.tags.album, "GAME");
        EXPECT_EQ(audio.tags.trackNumber, std::to_string(n));
        // The song's length, and at most its release tail after it.
        const double seconds = static_cast<double>(audio.frames) / audio.sampleRate;
        EXPECT_GE(seconds, songSeconds[n - 1]) << file;
        EXPECT_LE(seconds, songSeconds[n - 1] + 10.0) << file;
        EXPECT_GT(PeakBetween(audio, 0.1, songSeconds[n - 1]), 300) << file << " is silent";
    }
    // Songs rendered side by side sound exactly as when rendered one after the other.
    const auto alone = testsupport::RunProgram(
        cli, {"soundtrack", cue, "-o", dir / "alone", "-j", "1", "--fade", "1"}, dir.path());
    ASSERT_EQ(alone.status, 0) << alone.out << alone.err;
    for (const char* name : {"/01 BGM.BIN song 1.flac", "/02 BGM.BIN song 2.flac"}) {
        AudioFileContents together;
        AudioFileContents apart;
        std::string error;
        ASSERT_TRUE(ReadAudioFile(out + name, together, error)) << error;
        ASSERT_TRUE(ReadAudioFile(dir / "alone" + name, apart, error)) << error;
        EXPECT_TRUE(together.samples == apart.samples) << name;
    }
    const std::string playlist = TextOf(out + "/GAME.m3u8");
    EXPECT_EQ(playlist.rfind("#EXTM3U\n", 0), 0u) << playlist;
    const size_t first = playlist.find("\n01 BGM.BIN song 1.flac\n");
    const size_t second = playlist.find("\n02 BGM.BIN song 2.flac\n");
    EXPECT_NE(first, std::string::npos) << playlist;
    EXPECT_NE(second, std::string::npos) << playlist;
    EXPECT_LT(first, second);
    const std::string pairs = TextOf(out + "/GAME.pairs.tsv");
    EXPECT_NE(pairs.find("GAME_000.mid\tGAME_000.dls\t1109\t"), std::string::npos) << pairs;
    EXPECT_NE(pairs.find("GAME_001.mid\tGAME_000.dls\t1108\t"), std::string::npos) << pairs;

    // A pairing file that leaves the second song without a bank: that song fails by name.
    const std::string mine = "GAME_001.mid\t-\n";
    ASSERT_TRUE(testkit::WriteFile(dir / "mine.tsv", testkit::Bytes(mine.begin(), mine.end())));
    const auto again = testsupport::RunProgram(
        cli,
        {"soundtrack", cue, "-o", dir / "again", "--pairs", dir / "mine.tsv", "--format", "wav"},
        dir.path());
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.err.find("error: track 2 \"BGM.BIN song 2\" (GAME_001.mid) failed: "),
              std::string::npos)
        << again.err;
    EXPECT_TRUE(fs::exists(dir / "again/01 BGM.BIN song 1.wav"));
    EXPECT_FALSE(fs::exists(dir / "again/02 BGM.BIN song 2.wav"));
}

// A PSF set: the library holds the bank, each file its song. The songs pair with the library's
// bank; titles come from the title tags where present, the album from the game tag.
TEST(SoundtrackCommand, PsfSetSongsPairWithTheLibraryBankAndTakeTheirTags) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    TempFolder dir;
    auto put = [&dir](const std::string& name, uint32_t address, const testkit::Bytes& item,
                      std::vector<std::pair<std::string, std::string>> tags) {
        testkit::Bytes text(64, 0);
        text.insert(text.end(), item.begin(), item.end());
        text.resize(text.size() + 64, 0);
        ASSERT_TRUE(testkit::WriteFile(
            dir / name, testkit::BuildPsf({testkit::BuildPsxExe(address, text), tags, {}})));
    };
    const auto bank = BankOf(31, {{0, {0, 127}}, {3, {0, 127}}});
    testkit::Bytes bankBytes = bank.vh;
    bankBytes.insert(bankBytes.end(), bank.vb.begin(), bank.vb.end());
    put("bank.psflib", 0x80100000, bankBytes, {});
    put("one.minipsf", 0x80010000, SongOf({{0, -1, 60}}, 2),
        {{"_lib", "bank.psflib"}, {"title", "Opening"}, {"game", "My Game"}});
    put("two.minipsf", 0x80010000, SongOf({{3, -1, 62}}, 2), {{"_lib", "bank.psflib"}});

    const auto run =
        testsupport::RunProgram(cli,
                                {"soundtrack", dir / "one.minipsf", dir / "two.minipsf", "-o",
                                 dir / "out", "--format", "wav", "--fade", "1"},
                                dir.path());
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string pairs = TextOf(dir / "out/My Game.pairs.tsv");
    EXPECT_NE(pairs.find("one_000.mid\tbank_000.dls\t11"), std::string::npos) << pairs;
    EXPECT_NE(pairs.find("two_000.mid\tbank_000.dls\t11"), std::string::npos) << pairs;
    EXPECT_NE(pairs.find("bank before the song in its set"), std::string::npos) << pairs;
    AudioFileContents one;
    AudioFileContents two;
    std::string error;
    ASSERT_TRUE(ReadAudioFile(dir / "out/01 Opening.wav", one, error)) << error << run.err;
    ASSERT_TRUE(ReadAudioFile(dir / "out/02 two.minipsf song 1.wav", two, error)) << error;
    EXPECT_EQ(one.tags.album, "My Game");
    EXPECT_EQ(two.tags.title, "two.minipsf song 1");
    EXPECT_GT(PeakBetween(one, 0.1, 1.0), 300);
    EXPECT_GT(PeakBetween(two, 0.1, 1.0), 300);
}

} // namespace
} // namespace sonvex
