// SPDX-License-Identifier: GPL-3.0-or-later
// Pairing songs with banks: composed game files are ripped, every song's pairing, its
// candidates' order and its reason are checked, and a pairing file overrides choices.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/feedback.h"
#include "soundtrack/album.h"
#include "soundtrack/pairing.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "testkit/song_bank_items.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::BankOf;
using testkit::GameImage;
using testkit::SongOf;
using testkit::TempFolder;

GameImage& PlaceBank(GameImage& image, const testkit::BankBytes& bank) {
    return image.Raw(bank.vh).Zeros(64).Raw(bank.vb).Noise(200);
}

struct Ripped {
    AlbumItems items;
    std::vector<SongPairing> pairings;

    size_t Song(const std::string& name) const {
        for (size_t i = 0; i < items.songs.size(); ++i) {
            if (fs::path(items.songs[i].output).filename() == name) {
                return i;
            }
        }
        ADD_FAILURE() << "no song " << name;
        return 0;
    }
    std::string BankOf(size_t song) const {
        const auto& bank = pairings.at(song).bank;
        return bank ? fs::path(items.banks[*bank].output).filename().string() : "-";
    }
    std::vector<std::string> Order(size_t song) const {
        std::vector<std::string> names;
        for (const CandidateScore& c : pairings.at(song).candidates) {
            names.push_back(fs::path(items.banks[c.bank].output).filename().string());
        }
        return names;
    }
};

// A.BIN: bank A (programs 0 and 1), then two songs that share it (default programs 0 and 1).
// B.BIN: a song of program 5, then bank B (programs 0, 1) and bank C (program 5 only).
// D.BIN: a song of program 5 between bank C (end of B.BIN) and bank E (also program 5): a tie.
class PairingOfRip : public ::testing::Test {
  protected:
    void SetUp() override {
        GameImage a(1), b(2), d(3);
        PlaceBank(a.Noise(100), BankOf(11, {{0, {0, 127}}, {1, {0, 127}}}));
        a.Raw(SongOf({{0, -1, 60}})).Noise(100).Raw(SongOf({{1, -1, 64}})).Noise(100);
        b.Noise(100).Raw(SongOf({{2, 5, 70}})).Noise(100);
        PlaceBank(b, BankOf(12, {{0, {0, 127}}, {1, {0, 127}}}));
        PlaceBank(b, BankOf(13, {{5, {60, 80}}}));
        d.Noise(100).Raw(SongOf({{0, 5, 72}})).Noise(100);
        PlaceBank(d, BankOf(14, {{5, {0, 127}}}));
        for (const auto& [name, image] : {std::pair{"A.BIN", &a}, {"B.BIN", &b}, {"D.BIN", &d}}) {
            ASSERT_TRUE(testkit::WriteFile(dir / name, image->bytes()));
        }
        RecordingFeedback feedback;
        const AnalysisResult analysis =
            AnalyzeSources({dir / "A.BIN", dir / "B.BIN", dir / "D.BIN"}, dir.path(), feedback);
        ASSERT_EQ(analysis.status, AnalysisStatus::ListWritten);
        listPath = analysis.listPath;
        auto outputs = std::make_shared<ItemOutputs>();
        const ConversionRunResult run =
            RunConversion(analysis.listPath, dir.path(), "GAME", feedback,
                          RecordOutputs(StandardConverters(), outputs));
        ASSERT_TRUE(run.ran);
        ASSERT_TRUE(run.failures.empty());
        rip.items = CollectAlbumItems(analysis.listPath, *outputs, {});
        ASSERT_TRUE(rip.items.problems.empty()) << rip.items.problems.front();
        ASSERT_EQ(rip.items.songs.size(), 4u);
        ASSERT_EQ(rip.items.banks.size(), 4u);
        rip.pairings = PairSongs(rip.items.songs, rip.items.banks);
    }

    TempFolder dir;
    std::string listPath;
    Ripped rip;
};

TEST_F(PairingOfRip, EverySongGetsTheBankItPlaysWith) {
    // Songs and banks in list order, read back from the converted files.
    EXPECT_EQ(rip.items.songs[0].use.keysByProgram, (std::map<int, std::set<int>>{{0, {60}}}));
    EXPECT_EQ(rip.items.songs[1].use.keysByProgram, (std::map<int, std::set<int>>{{1, {64}}}));
    EXPECT_EQ(rip.items.banks[2].contents.rangesByProgram.at(5),
              (std::vector<std::pair<int, int>>{{60, 80}}));

    // The bank before its songs, shared by both: placement, full coverage, nearness.
    const size_t first = rip.Song("A_000.mid");
    const size_t second = rip.Song("A_001.mid");
    EXPECT_EQ(rip.BankOf(first), "A_000.dls");
    EXPECT_EQ(rip.BankOf(second), "A_000.dls");
    EXPECT_EQ(rip.pairings[first].score, kPlacementPoints + kFullCoveragePoints + 9);
    EXPECT_EQ(rip.pairings[second].score, kPlacementPoints + kFullCoveragePoints + 8);
    EXPECT_EQ(rip.pairings[first].reason,
              "bank before the song in its file; holds all 1 program(s) and keys played; 1 list "
              "entry away");
    EXPECT_TRUE(rip.pairings[first].tiedWith.empty());

    // Only bank C holds program 5: it wins over bank B, which lies nearer.
    const size_t lone = rip.Song("B_000.mid");
    EXPECT_EQ(rip.BankOf(lone), "B_001.dls");
    EXPECT_EQ(rip.pairings[lone].score, kFullCoveragePoints + 7);
    // Bank E (next file) holds it too but lies further; bank B lies nearest but lacks it.
    EXPECT_EQ(rip.Order(lone),
              (std::vector<std::string>{"B_001.dls", "D_000.dls", "B_000.dls", "A_000.dls"}));
    EXPECT_EQ(rip.pairings[lone].candidates[1].score, kFullCoveragePoints + 4);
    EXPECT_EQ(rip.pairings[lone].candidates[2].score, 9) << "bank B: nearness only";
    EXPECT_NE(
        rip.pairings[lone].candidates[2].reason.find("holds 0 of 1 keys played, lacks program 5"),
        std::string::npos)
        << rip.pairings[lone].candidates[2].reason;

    // Banks C and E both hold program 5, one entry before and one after: a tie, reported,
    // and the bank listed first chosen.
    const size_t tied = rip.Song("D_000.mid");
    EXPECT_EQ(rip.BankOf(tied), "B_001.dls");
    ASSERT_EQ(rip.pairings[tied].tiedWith.size(), 1u);
    EXPECT_EQ(fs::path(rip.items.banks[rip.pairings[tied].tiedWith[0]].output).filename(),
              "D_000.dls");
    EXPECT_NE(rip.pairings[tied].reason.find("tie with"), std::string::npos);

    // Candidates come best first for every song.
    for (const SongPairing& p : rip.pairings) {
        for (size_t i = 1; i < p.candidates.size(); ++i) {
            EXPECT_GE(p.candidates[i - 1].score, p.candidates[i].score);
        }
    }
}

TEST_F(PairingOfRip, PairingFileIsWrittenAndItsEditsOverride) {
    std::vector<PairingSong> songs = rip.items.songs;
    std::vector<PairingBank> banks = rip.items.banks;
    for (auto& s : songs) {
        s.output = fs::path(s.output).filename().string();
    }
    for (auto& b : banks) {
        b.output = fs::path(b.output).filename().string();
    }
    const std::string text = PairsText(songs, banks, rip.pairings);
    EXPECT_NE(text.find("A_000.mid\tA_000.dls\t1109\tbank before"), std::string::npos) << text;
    const std::string path = dir / "GAME.pairs.tsv";
    std::string error;
    ASSERT_TRUE(WritePairsFile(path, text, error)) << error;

    // The file read back as it was written changes nothing but the reasons.
    std::vector<PairChoice> choices;
    ASSERT_TRUE(ReadPairsFile(path, choices, error)) << error;
    ASSERT_EQ(choices.size(), 4u);
    EXPECT_EQ(choices[2].song, "B_000.mid");
    EXPECT_EQ(choices[2].bank, "B_001.dls");

    // The user's edits: bank B for the lone song, none for one song, and two bad lines.
    ASSERT_TRUE(testkit::WriteFile(path, testkit::Bytes{}));
    const std::string edited = "# sequence\tbank\n"
                               "B_000.mid\tB_000.dls\t7\tmine\r\n"
                               "A_001.mid\t-\n"
                               "\n"
                               "X_000.mid\tA_000.dls\n"
                               "A_000.mid\tNONE.dls\n";
    ASSERT_TRUE(WritePairsFile(path, edited, error));
    choices.clear();
    ASSERT_TRUE(ReadPairsFile(path, choices, error)) << error;
    std::vector<std::string> problems;
    ApplyPairChoices(path, choices, songs, banks, rip.pairings, problems);
    const size_t lone = rip.Song("B_000.mid");
    EXPECT_EQ(rip.BankOf(lone), "B_000.dls");
    EXPECT_TRUE(rip.pairings[lone].fromPairsFile);
    EXPECT_EQ(rip.pairings[lone].reason, "chosen in " + path);
    EXPECT_EQ(rip.pairings[lone].score, 9) << "the chosen candidate's own score";
    EXPECT_EQ(rip.BankOf(rip.Song("A_001.mid")), "-");
    EXPECT_EQ(rip.BankOf(rip.Song("A_000.mid")), "A_000.dls") << "a bad line changes nothing";
    EXPECT_EQ(problems,
              (std::vector<std::string>{path + ": line 5: no sequence \"X_000.mid\" in this run",
                                        path + ": line 6: no bank \"NONE.dls\" in this run"}));

    // A line without a bank is refused with its number.
    ASSERT_TRUE(WritePairsFile(path, "A_000.mid\n", error));
    choices.clear();
    EXPECT_FALSE(ReadPairsFile(path, choices, error));
    EXPECT_EQ(error, path + ": line 1: a sequence and a bank separated by a tab are expected");
}

// Placement needs the bank loaded before the song, in its file or its set's library, with
// no other bank between.
TEST(Pairing, PlacementCountsOnlyTheLastBankBeforeTheSongInItsSet) {
    auto place = [](const char* file, const char* set, uint64_t offset, size_t index) {
        return ItemPlace{file, set, offset, index, index};
    };
    std::vector<PairingBank> banks = {{"lib-early.dls", place("LIB", "LIB", 100, 0), {}},
                                      {"lib-late.dls", place("LIB", "LIB", 300, 1), {}},
                                      {"other.dls", place("X", "X", 10, 2), {}}};
    PairingSong song{"s.mid", place("SONG.minipsf", "LIB", 500, 3), {}};
    EXPECT_EQ(ScoreCandidate(song, 1, banks).score, kPlacementPoints + 8);
    EXPECT_EQ(ScoreCandidate(song, 1, banks).reason,
              "bank before the song in its set; song plays no note; 2 list entries away");
    EXPECT_EQ(ScoreCandidate(song, 0, banks).score, 7) << "another bank lies between";
    EXPECT_EQ(ScoreCandidate(song, 2, banks).score, 9) << "another set";
    // The library loads before the song's own file, whatever their offsets; a bank of the
    // song's own file after it, or of another file of the set, does not count.
    song.place.offset = 50;
    EXPECT_EQ(ScoreCandidate(song, 1, banks).score, kPlacementPoints + 8);
    banks.push_back({"own-after.dls", place("SONG.minipsf", "LIB", 60, 4), {}});
    banks.push_back({"sibling.dls", place("TWO.minipsf", "LIB", 10, 5), {}});
    EXPECT_EQ(ScoreCandidate(song, 3, banks).score, 9);
    EXPECT_EQ(ScoreCandidate(song, 4, banks).score, 8);
    // A bank of the song's own file before it stands between the library's and the song.
    banks.push_back({"own-before.dls", place("SONG.minipsf", "LIB", 40, 6), {}});
    EXPECT_EQ(ScoreCandidate(song, 1, banks).score, 8);
    EXPECT_EQ(ScoreCandidate(song, 5, banks).score, kPlacementPoints + 7);
    // No bank at all: no choice, said so.
    const std::vector<SongPairing> none = PairSongs({song}, {});
    ASSERT_EQ(none.size(), 1u);
    EXPECT_FALSE(none[0].bank);
    EXPECT_EQ(none[0].reason, "no bank in the list");
}

} // namespace
} // namespace sonvex
