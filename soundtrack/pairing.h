// SPDX-License-Identifier: GPL-3.0-or-later
// Which bank each song of a rip plays with. Nothing in the data says so; the evidence is
// where the items lie and what the song asks of a bank:
//   placement  the bank lies in the same game file (or the same PSF set) before the song,
//              with no other bank between them;
//   coverage   every program the song plays (a channel's program before any change of its
//              own is the channel's number) exists in the bank, with a tone over each key;
//   nearness   the fewer list entries between the song and the bank, the better.
// Each candidate gets a score in which placement outweighs coverage and coverage outweighs
// nearness; the best is chosen and equal best scores are reported as a tie. The choice is
// written to a pairing file the user may edit and hand back.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sonvex {

// The keys a song plays, per program.
struct SongUse {
    std::map<int, std::set<int>> keysByProgram;
};

// The key ranges of a bank's tones, per program.
struct BankContents {
    std::map<int, std::vector<std::pair<int, int>>> rangesByProgram;
};

// Where an item lies: its game file, the set that file belongs to (the file itself, or the
// library a PSF set loads under all its files), its offset there and its list position.
struct ItemPlace {
    std::string gameFile;
    std::string set;
    uint64_t offset = 0;
    size_t listIndex = 0; // the first entry of the item (a bank's header)
    size_t lastIndex = 0; // the last entry of the item (a bank's body)
};

struct PairingSong {
    std::string output; // the SMF's file name
    ItemPlace place;
    SongUse use;
};

struct PairingBank {
    std::string output; // the DLS file's name
    ItemPlace place;
    BankContents contents;
};

// Points of each kind of evidence.
constexpr int kPlacementPoints = 1000;
constexpr int kFullCoveragePoints = 100;
constexpr int kPartialCoveragePoints = 90; // scaled by the share of notes held
constexpr int kNearnessPoints = 10;        // less one per list entry between

struct CandidateScore {
    size_t bank = 0;
    int score = 0;
    std::string reason;
    int keysHeld = 0; // of the song's notes (program and key), how many the bank holds
};

struct SongPairing {
    std::optional<size_t> bank; // index into the banks; none when there is no candidate
    int score = 0;
    std::string reason;
    std::vector<size_t> tiedWith;           // other banks with the same best score
    std::vector<CandidateScore> candidates; // best first
    bool fromPairsFile = false;
};

// The score of one bank for one song, with its reason.
CandidateScore ScoreCandidate(const PairingSong& song, size_t bankIndex,
                              const std::vector<PairingBank>& banks);

// One pairing per song, in the songs' order. Among equal best scores the bank listed first
// is chosen and the others are named in `tiedWith`.
std::vector<SongPairing> PairSongs(const std::vector<PairingSong>& songs,
                                   const std::vector<PairingBank>& banks);

// What a song plays, from its SMF: every note-on's program and key.
bool ReadSongUse(const std::string& smfPath, SongUse& use, std::string& error);
// What a bank holds, from its DLS: every instrument's program and its regions' key ranges.
bool ReadBankContents(const std::string& dlsPath, BankContents& contents, std::string& error);

// The pairing file: a header line, then per song "SONG\tBANK\tSCORE\tREASON" (BANK "-"
// when there is none).
std::string PairsText(const std::vector<PairingSong>& songs, const std::vector<PairingBank>& banks,
                      const std::vector<SongPairing>& pairings);
// Writes `text` to `path` through a temporary file.
bool WritePairsFile(const std::string& path, const std::string& text, std::string& error);

// A choice read back from a pairing file: the song's and the bank's file names.
struct PairChoice {
    std::string song;
    std::string bank;
    int line = 0;
};
// Reads the choices of a pairing file; the header line and empty lines are passed over.
// False with "PATH: line N: reason" when a line has fewer than two fields.
bool ReadPairsFile(const std::string& path, std::vector<PairChoice>& choices, std::string& error);
// Puts the choices into `pairings`. A choice naming a song or bank that is not there is
// reported in `problems` ("PATH: line N: ...") and left out.
void ApplyPairChoices(const std::string& path, const std::vector<PairChoice>& choices,
                      const std::vector<PairingSong>& songs, const std::vector<PairingBank>& banks,
                      std::vector<SongPairing>& pairings, std::vector<std::string>& problems);

// The pairing of the SMFs and DLS files of an output folder whose convert list is not at
// hand: every SMF with the DLS file that holds its programs and keys best, the nearest by
// name among equals (no placement evidence), when that bank holds any note the SMF plays.
// A pairing file ("*.pairs.tsv") in the folder, or above a folder named "files" (where
// `soundtrack` keeps its converted files), overrides it. Keyed by SMF file name; the value
// is the DLS file name, missing when there is none.
std::map<std::string, std::string> PairFolder(const std::string& folder);

} // namespace sonvex
