// SPDX-License-Identifier: GPL-3.0-or-later
// Scores every bank for every song and keeps the pairing file.
#include "soundtrack/pairing.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "chunkfile/chunk_file.h"
#include "formats/dls.h"
#include "formats/file_bytes.h"
#include "formats/smf.h"

namespace sonvex {

namespace {

// Where an item lies as seen from a song's file: the library its set loads first (0), then
// the song's own file (1), by offset within each; nothing for items of other files, whose
// offsets cannot be compared with the song's.
std::optional<std::pair<int, uint64_t>> LoadPosition(const ItemPlace& item, const ItemPlace& song) {
    if (item.gameFile == song.gameFile) {
        return std::pair{1, item.offset};
    }
    if (item.gameFile == song.set && song.gameFile != song.set) {
        return std::pair{0, item.offset};
    }
    return std::nullopt;
}

// Whether `bank` is loaded before the song, in its file or its set's library, with no other
// bank between them.
bool PlacedBefore(const ItemPlace& song, size_t bankIndex, const std::vector<PairingBank>& banks) {
    const auto songAt = LoadPosition(song, song);
    const auto bankAt = LoadPosition(banks[bankIndex].place, song);
    if (!bankAt || !(*bankAt < *songAt)) {
        return false;
    }
    for (size_t i = 0; i < banks.size(); ++i) {
        const auto otherAt = LoadPosition(banks[i].place, song);
        if (i != bankIndex && otherAt && *bankAt < *otherAt && *otherAt < *songAt) {
            return false;
        }
    }
    return true;
}

// List entries between the song and the nearer end of the bank, counting the bank's own.
size_t ListDistance(const ItemPlace& song, const ItemPlace& bank) {
    if (bank.lastIndex < song.listIndex) {
        return song.listIndex - bank.lastIndex;
    }
    return bank.listIndex > song.listIndex ? bank.listIndex - song.listIndex : 0;
}

bool KeyHeld(const std::vector<std::pair<int, int>>& ranges, int key) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [key](const auto& r) { return r.first <= key && key <= r.second; });
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CandidateScore ScoreCandidate(const PairingSong& song, size_t bankIndex,
                              const std::vector<PairingBank>& banks) {
    CandidateScore c;
    c.bank = bankIndex;
    const PairingBank& bank = banks[bankIndex];
    std::string reason;
    if (PlacedBefore(song.place, bankIndex, banks)) {
        c.score += kPlacementPoints;
        reason = song.place.gameFile == bank.place.gameFile ? "bank before the song in its file"
                                                            : "bank before the song in its set";
    }

    int notes = 0;
    int held = 0;
    std::vector<int> missingPrograms;
    for (const auto& [program, keys] : song.use.keysByProgram) {
        const auto ranges = bank.contents.rangesByProgram.find(program);
        if (ranges == bank.contents.rangesByProgram.end()) {
            missingPrograms.push_back(program);
        }
        for (int key : keys) {
            ++notes;
            if (ranges != bank.contents.rangesByProgram.end() && KeyHeld(ranges->second, key)) {
                ++held;
            }
        }
    }
    c.keysHeld = held;
    std::string coverage;
    if (notes > 0 && held == notes) {
        c.score += kFullCoveragePoints;
        coverage = "holds all " + std::to_string(song.use.keysByProgram.size()) +
                   " program(s) and keys played";
    } else if (notes > 0) {
        c.score += kPartialCoveragePoints * held / notes;
        coverage =
            "holds " + std::to_string(held) + " of " + std::to_string(notes) + " keys played";
        if (!missingPrograms.empty()) {
            coverage += ", lacks program";
            for (size_t i = 0; i < missingPrograms.size(); ++i) {
                coverage += (i == 0 ? " " : ", ") + std::to_string(missingPrograms[i]);
            }
        }
    } else {
        coverage = "song plays no note";
    }
    reason += (reason.empty() ? "" : "; ") + coverage;

    const size_t distance = ListDistance(song.place, bank.place);
    if (distance < static_cast<size_t>(kNearnessPoints)) {
        c.score += kNearnessPoints - static_cast<int>(distance);
    }
    reason +=
        "; " + std::to_string(distance) + " list entr" + (distance == 1 ? "y" : "ies") + " away";
    c.reason = std::move(reason);
    return c;
}

std::vector<SongPairing> PairSongs(const std::vector<PairingSong>& songs,
                                   const std::vector<PairingBank>& banks) {
    std::vector<SongPairing> pairings;
    pairings.reserve(songs.size());
    for (const PairingSong& song : songs) {
        SongPairing p;
        for (size_t b = 0; b < banks.size(); ++b) {
            p.candidates.push_back(ScoreCandidate(song, b, banks));
        }
        // Best first; among equals the bank listed first.
        std::stable_sort(
            p.candidates.begin(), p.candidates.end(),
            [](const CandidateScore& a, const CandidateScore& b) { return a.score > b.score; });
        if (!p.candidates.empty()) {
            const CandidateScore& best = p.candidates.front();
            p.bank = best.bank;
            p.score = best.score;
            p.reason = best.reason;
            for (size_t i = 1; i < p.candidates.size() && p.candidates[i].score == best.score;
                 ++i) {
                p.tiedWith.push_back(p.candidates[i].bank);
            }
            if (!p.tiedWith.empty()) {
                p.reason += "; tie with";
                for (size_t i = 0; i < p.tiedWith.size(); ++i) {
                    p.reason += (i == 0 ? " " : ", ") + banks[p.tiedWith[i]].output;
                }
            }
        } else {
            p.reason = "no bank in the list";
        }
        pairings.push_back(std::move(p));
    }
    return pairings;
}

bool ReadSongUse(const std::string& smfPath, SongUse& use, std::string& error) {
    const FileBytes file = ReadFileBytes(smfPath);
    if (file.status != FileReadStatus::Ok) {
        error = file.error;
        return false;
    }
    const SmfRead read = ReadSmf(file.bytes);
    if (read.status != SmfReadStatus::Ok) {
        error = smfPath + ": " + read.diagnostics.failure;
        return false;
    }
    // Events of all tracks by tick, so that a program change in one track counts for the
    // notes after it in another.
    std::vector<const SmfTrackEvent*> events;
    for (const SmfTrack& track : read.smf.tracks) {
        for (const SmfTrackEvent& e : track.events) {
            if (e.Complete() && (e.Kind() == 0x90 || e.Kind() == 0xC0)) {
                events.push_back(&e);
            }
        }
    }
    std::stable_sort(
        events.begin(), events.end(),
        [](const SmfTrackEvent* a, const SmfTrackEvent* b) { return a->tick < b->tick; });
    int program[16];
    for (int channel = 0; channel < 16; ++channel) {
        program[channel] = channel; // the console's default: channel n plays program n
    }
    for (const SmfTrackEvent* e : events) {
        if (e->Kind() == 0xC0) {
            program[e->Channel()] = e->data1 & 0x7F;
        } else if (e->data2 > 0) {
            use.keysByProgram[program[e->Channel()]].insert(e->data1 & 0x7F);
        }
    }
    return true;
}

bool ReadBankContents(const std::string& dlsPath, BankContents& contents, std::string& error) {
    const DlsReadOutcome read = ReadDlsFile(dlsPath);
    if (read.status != DlsReadStatus::Ok) {
        error = dlsPath + ": " + read.diagnostics.failure;
        return false;
    }
    for (const DlsInstrument& instrument : read.collection.instruments) {
        auto& ranges = contents.rangesByProgram[instrument.Program()];
        for (const DlsRegion& region : instrument.regions) {
            ranges.emplace_back(region.keyLow, region.keyHigh);
        }
    }
    return true;
}

std::string PairsText(const std::vector<PairingSong>& songs, const std::vector<PairingBank>& banks,
                      const std::vector<SongPairing>& pairings) {
    std::string text = "# sequence\tbank\tscore\treason\n";
    for (size_t i = 0; i < songs.size() && i < pairings.size(); ++i) {
        const SongPairing& p = pairings[i];
        text += songs[i].output + "\t" + (p.bank ? banks[*p.bank].output : std::string("-")) +
                "\t" + std::to_string(p.score) + "\t" + p.reason + "\n";
    }
    return text;
}

bool WritePairsFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".tmp";
    ChunkFile file;
    if (!file.Create(temporary)) {
        error = path + ": cannot be created";
        return false;
    }
    const bool written = file.Write(text.data(), static_cast<int64_t>(text.size())) ==
                         static_cast<int64_t>(text.size());
    if (!file.Close() || !written || !ChunkFile::Rename(temporary, path)) {
        (void)ChunkFile::Delete(temporary);
        error = path + ": writing failed";
        return false;
    }
    return true;
}

bool ReadPairsFile(const std::string& path, std::vector<PairChoice>& choices, std::string& error) {
    const FileBytes file = ReadFileBytes(path, int64_t{16} << 20);
    if (file.status != FileReadStatus::Ok) {
        error = file.error;
        return false;
    }
    const std::string text(file.bytes.begin(), file.bytes.end());
    size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string row = text.substr(start, end - start);
        start = end + 1;
        ++line;
        if (!row.empty() && row.back() == '\r') {
            row.pop_back();
        }
        if (row.empty() || row[0] == '#') {
            continue;
        }
        const size_t tab = row.find('\t');
        if (tab == std::string::npos) {
            error = path + ": line " + std::to_string(line) +
                    ": a sequence and a bank separated by a tab are expected";
            return false;
        }
        const size_t next = row.find('\t', tab + 1);
        choices.push_back(
            {row.substr(0, tab),
             row.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1),
             line});
    }
    return true;
}

void ApplyPairChoices(const std::string& path, const std::vector<PairChoice>& choices,
                      const std::vector<PairingSong>& songs, const std::vector<PairingBank>& banks,
                      std::vector<SongPairing>& pairings, std::vector<std::string>& problems) {
    for (const PairChoice& choice : choices) {
        const std::string where = path + ": line " + std::to_string(choice.line) + ": ";
        const auto song = std::find_if(songs.begin(), songs.end(), [&](const PairingSong& s) {
            return s.output == choice.song || FileNameOf(s.output) == choice.song;
        });
        if (song == songs.end()) {
            problems.push_back(where + "no sequence \"" + choice.song + "\" in this run");
            continue;
        }
        SongPairing& p = pairings[static_cast<size_t>(song - songs.begin())];
        if (choice.bank == "-") {
            p.bank.reset();
        } else {
            const auto bank = std::find_if(banks.begin(), banks.end(), [&](const PairingBank& b) {
                return b.output == choice.bank || FileNameOf(b.output) == choice.bank;
            });
            if (bank == banks.end()) {
                problems.push_back(where + "no bank \"" + choice.bank + "\" in this run");
                continue;
            }
            p.bank = static_cast<size_t>(bank - banks.begin());
        }
        const auto scored =
            std::find_if(p.candidates.begin(), p.candidates.end(),
                         [&](const CandidateScore& c) { return p.bank && c.bank == *p.bank; });
        p.score = scored != p.candidates.end() ? scored->score : 0;
        p.reason = "chosen in " + path;
        p.tiedWith.clear();
        p.fromPairsFile = true;
    }
}

std::map<std::string, std::string> PairFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    // Files in name order: the converters number each game file's outputs in list order,
    // so that order stands in for the list's.
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<PairingSong> songs;
    std::vector<PairingBank> banks;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string path = (fs::path(folder) / names[i]).string();
        // Each file is a set of its own: where its item lay is not known here.
        const ItemPlace place{path, path, 0, i, i};
        const std::string ext = fs::path(names[i]).extension().string();
        std::string error;
        if (ext == ".mid" && names[i].find(".unrolled.") == std::string::npos) {
            PairingSong song{names[i], place, {}};
            if (ReadSongUse(path, song.use, error)) {
                songs.push_back(std::move(song));
            }
        } else if (ext == ".dls") {
            PairingBank bank{names[i], place, {}};
            if (ReadBankContents(path, bank.contents, error)) {
                banks.push_back(std::move(bank));
            }
        }
    }
    std::vector<SongPairing> pairings = PairSongs(songs, banks);
    // `soundtrack` keeps its converted files in DIR/files and the pairing file in DIR.
    std::vector<fs::path> places = {fs::path(folder)};
    const fs::path normal = fs::path(folder).lexically_normal();
    const fs::path last = normal.has_filename() ? normal : normal.parent_path();
    if (last.filename() == "files") {
        places.push_back(last.parent_path());
    }
    for (const fs::path& where : places) {
        for (fs::directory_iterator it(where, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() > 10 && name.compare(name.size() - 10, 10, ".pairs.tsv") == 0) {
                std::vector<PairChoice> choices;
                std::vector<std::string> problems;
                std::string error;
                if (ReadPairsFile(it->path().string(), choices, error)) {
                    ApplyPairChoices(it->path().string(), choices, songs, banks, pairings,
                                     problems);
                }
            }
        }
    }
    std::map<std::string, std::string> chosen;
    for (size_t i = 0; i < songs.size(); ++i) {
        const SongPairing& p = pairings[i];
        const bool holdsAny = !p.candidates.empty() && p.candidates.front().keysHeld > 0;
        if (p.bank && (p.fromPairsFile || holdsAny)) {
            chosen[songs[i].output] = banks[*p.bank].output;
        }
    }
    return chosen;
}

} // namespace sonvex
