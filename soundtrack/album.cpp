// SPDX-License-Identifier: GPL-3.0-or-later
// From a conversion run to rendered, tagged tracks and their playlist.
#include "soundtrack/album.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "convlist/convert_list.h"

namespace sonvex {

namespace fs = std::filesystem;

namespace {

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The SMF files a sequence converter completed for `stem`: "STEM.mid" for one song,
// "STEM_NN.mid" for the songs of a numbered set.
std::vector<std::string> SmfFilesOf(const std::string& stem, int made) {
    std::vector<std::string> files;
    std::error_code ec;
    if (fs::is_regular_file(stem + ".mid", ec)) {
        files.push_back(stem + ".mid");
    }
    for (int n = 0; n < 100 && static_cast<int>(files.size()) < made; ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_%02d.mid", n);
        if (fs::is_regular_file(stem + suffix, ec)) {
            files.push_back(stem + suffix);
        }
    }
    return files;
}

// A file name made of a title: path separators and control characters become "_".
std::string SafeName(const std::string& title) {
    std::string name;
    for (char c : title) {
        const auto u = static_cast<unsigned char>(c);
        name += (c == '/' || c == '\\' || u < 0x20 || c == ':' || c == '*' || c == '?' ||
                 c == '"' || c == '<' || c == '>' || c == '|')
                    ? '_'
                    : c;
    }
    while (!name.empty() && (name.front() == '.' || name.front() == ' ')) {
        name.erase(name.begin());
    }
    return name.empty() ? std::string("track") : name;
}

} // namespace

void ItemOutputs::Add(const std::string& gamePath, uint64_t offset,
                      std::vector<std::string> files) {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto& into = files_[{gamePath, offset}];
    into.insert(into.end(), files.begin(), files.end());
}

std::vector<std::string> ItemOutputs::Of(const std::string& gamePath, uint64_t offset) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find({gamePath, offset});
    return found != files_.end() ? found->second : std::vector<std::string>();
}

Converters RecordOutputs(Converters inner, std::shared_ptr<ItemOutputs> outputs) {
    Converters recorded = inner;
    auto wrapSequence = [outputs](auto convert) {
        return [outputs, convert](uint64_t offset, const std::string& gamePath,
                                  const std::string& stem, Feedback& feedback) {
            SequenceOutcome r = convert(offset, gamePath, stem, feedback);
            if (r.smfFilesMade > 0) {
                outputs->Add(gamePath, offset, SmfFilesOf(stem, r.smfFilesMade));
            }
            return r;
        };
    };
    recorded.seq = wrapSequence(inner.seq);
    recorded.ssq = wrapSequence(inner.ssq);
    recorded.vab = [outputs, vab = inner.vab](uint64_t vhOffset, uint64_t vbOffset,
                                              const std::string& vhPath, const std::string& vbPath,
                                              const std::string& dlsPath, std::string_view title,
                                              Feedback& feedback) {
        BankOutcome r = vab(vhOffset, vbOffset, vhPath, vbPath, dlsPath, title, feedback);
        std::error_code ec;
        if ((r.result == ConvertResult::Done || r.result == ConvertResult::PartlyDone) &&
            fs::is_regular_file(dlsPath, ec)) {
            outputs->Add(vhPath, vhOffset, {dlsPath});
        }
        return r;
    };
    return recorded;
}

AlbumItems CollectAlbumItems(const std::string& listPath, const ItemOutputs& outputs,
                             const SetOfGameFile& setOf) {
    AlbumItems items;
    const std::optional<ConvertList> list = LoadList(listPath);
    if (!list) {
        items.problems.push_back(listPath + ": the convert list cannot be read");
        return items;
    }
    const auto& entries = list->entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ListEntry& e = entries[i];
        const std::string gamePath = GameFilePath(list->sourceFolder, e.fileName);
        ItemPlace place{gamePath, setOf ? setOf(gamePath) : gamePath, e.offset, i, i};
        if (e.type == kTypeVh && i + 1 < entries.size() && entries[i + 1].type == kTypeVb) {
            place.lastIndex = i + 1;
            for (const std::string& dls : outputs.Of(gamePath, e.offset)) {
                PairingBank bank{dls, place, {}};
                std::string error;
                if (ReadBankContents(dls, bank.contents, error)) {
                    items.banks.push_back(std::move(bank));
                } else {
                    items.problems.push_back(error);
                }
            }
            ++i;
        } else if (e.type == kTypeSeq || e.type == kTypeGpmSeq) {
            for (const std::string& smf : outputs.Of(gamePath, e.offset)) {
                PairingSong song{smf, place, {}};
                std::string error;
                if (ReadSongUse(smf, song.use, error)) {
                    items.songs.push_back(std::move(song));
                } else {
                    items.problems.push_back(error);
                }
            }
        }
    }
    return items;
}

std::vector<Track> PlanTracks(const AlbumItems& items, const std::vector<SongPairing>& pairings,
                              const std::string& album, const std::string& folder,
                              AudioFormat format,
                              const std::function<std::string(const PairingSong&)>& titleOf) {
    std::vector<Track> tracks;
    std::map<std::string, int> songsOfFile;
    const int width = items.songs.size() >= 100 ? 3 : 2;
    for (size_t i = 0; i < items.songs.size(); ++i) {
        const PairingSong& song = items.songs[i];
        Track t;
        t.number = static_cast<int>(i) + 1;
        t.song = song.output;
        if (i < pairings.size() && pairings[i].bank) {
            t.bank = items.banks[*pairings[i].bank].output;
        }
        const int inFile = ++songsOfFile[song.place.gameFile];
        std::string title = titleOf ? titleOf(song) : std::string();
        if (title.empty()) {
            title = FileNameOf(song.place.gameFile) + " song " + std::to_string(inFile);
        }
        t.tags.title = title;
        t.tags.album = album;
        t.tags.trackNumber = std::to_string(t.number);
        char number[8];
        std::snprintf(number, sizeof number, "%0*d", width, t.number);
        t.output =
            (fs::path(folder) / (std::string(number) + " " + SafeName(title) + ExtensionOf(format)))
                .string();
        tracks.push_back(std::move(t));
    }
    return tracks;
}

std::vector<TrackResult>
RenderTracks(const std::vector<Track>& tracks, const RenderPlan& plan, const SynthOptions& synth,
             int jobs, const std::function<void(const Track& track, double done)>& progress) {
    std::vector<TrackResult> results(tracks.size());
    std::vector<double> shares(tracks.size(), 0.0); // of each track, 0..1
    std::mutex reportMutex;
    auto report = [&](size_t index, double share) {
        const std::lock_guard<std::mutex> lock(reportMutex);
        shares[index] = std::clamp(share, 0.0, 1.0);
        double done = 0.0;
        for (double s : shares) {
            done += s;
        }
        if (progress) {
            progress(tracks[index], done / static_cast<double>(tracks.size()));
        }
    };
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < tracks.size(); i = next++) {
            const Track& t = tracks[i];
            TrackResult& r = results[i];
            report(i, 0.0);
            if (t.bank.empty()) {
                r.error = t.song + ": no bank to play it with";
                report(i, 1.0);
                continue;
            }
            RenderJob job;
            job.input = t.song;
            job.dls = t.bank;
            job.output = t.output;
            job.tags = t.tags;
            job.plan = plan;
            job.synth = synth;
            job.progress = [&report, i](double seconds, double planned) {
                if (planned > 0.0) {
                    report(i, seconds / planned);
                }
            };
            const RenderResult rendered = RenderToFile(job);
            r.ok = rendered.status == RenderStatus::Ok;
            r.error = rendered.error;
            r.seconds = rendered.seconds;
            report(i, 1.0);
        }
    };
    const int workers = std::max(1, std::min<int>(jobs, static_cast<int>(tracks.size())));
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return results;
}

std::string PlaylistText(const std::vector<Track>& tracks,
                         const std::vector<TrackResult>& results) {
    std::string text = "#EXTM3U\n";
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (i >= results.size() || !results[i].ok) {
            continue;
        }
        text += "#EXTINF:" + std::to_string(static_cast<long>(std::lround(results[i].seconds))) +
                "," + tracks[i].tags.title + "\n" + FileNameOf(tracks[i].output) + "\n";
    }
    return text;
}

} // namespace sonvex
