// SPDX-License-Identifier: GPL-3.0-or-later
// A game's soundtrack from a conversion run: the songs and banks each list item made, the
// tracks (song, bank, tags, file name) in list order, their renders in parallel, and the
// playlist.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "convert/batch_conversion.h"
#include "playback/audio_file.h"
#include "playback/offline_render.h"
#include "soundtrack/pairing.h"

namespace sonvex {

// The files each converted item made, keyed by (game-file path, offset). Filled by the
// converters RecordOutputs returns, which may run on several threads.
class ItemOutputs {
  public:
    void Add(const std::string& gamePath, uint64_t offset, std::vector<std::string> files);
    std::vector<std::string> Of(const std::string& gamePath, uint64_t offset) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, uint64_t>, std::vector<std::string>> files_;
};

// `inner` with every SMF and DLS it completes recorded in `outputs`.
Converters RecordOutputs(Converters inner, std::shared_ptr<ItemOutputs> outputs);

// The set a game file belongs to: for a PSF, the first library it loads (the one its set
// shares); for any other file, the file itself.
using SetOfGameFile = std::function<std::string(const std::string& gamePath)>;

struct AlbumItems {
    std::vector<PairingSong> songs; // output: the SMF's path
    std::vector<PairingBank> banks; // output: the DLS file's path
    std::vector<std::string> problems;
};

// The songs and complete banks of the list at `listPath`, in list order, with what each
// plays or holds read from the files the run made.
AlbumItems CollectAlbumItems(const std::string& listPath, const ItemOutputs& outputs,
                             const SetOfGameFile& setOf);

struct Track {
    int number = 0;     // 1-based, in list order
    std::string song;   // SMF path
    std::string bank;   // DLS path; empty when the song has none
    std::string output; // audio file path
    AudioTags tags;
};

// The tracks of an album: song by song in list order, each with its paired bank. The title
// is `titleOf(song)` when that gives one, else the game file's name and the song's number in
// that file; files are named "NN TITLE.EXT" with characters unsafe in names replaced.
std::vector<Track> PlanTracks(const AlbumItems& items, const std::vector<SongPairing>& pairings,
                              const std::string& album, const std::string& folder,
                              AudioFormat format,
                              const std::function<std::string(const PairingSong&)>& titleOf);

struct TrackResult {
    bool ok = false;
    std::string error;
    double seconds = 0.0;
};

// Renders every track with `plan` and `synth`, `jobs` at a time. `progress` is called (from
// any worker, one call at a time) with the track that starts and the share of all planned
// seconds done so far (0..1).
std::vector<TrackResult>
RenderTracks(const std::vector<Track>& tracks, const RenderPlan& plan, const SynthOptions& synth,
             int jobs, const std::function<void(const Track& track, double done)>& progress);

// The playlist: "#EXTM3U", then per track its length, title and file name (relative to
// the playlist's folder), in track order.
std::string PlaylistText(const std::vector<Track>& tracks, const std::vector<TrackResult>& results);

} // namespace sonvex
