// SPDX-License-Identifier: GPL-3.0-or-later
// The loader of the playback engine: a search folder, segments loaded from ".mid"/".rmi"
// or ".sgt" files, collections from DLS or SoundFont 2 files, a cache of what was loaded,
// and the connection of an SMF segment to a collection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/dls.h"
#include "playback/music_loader.h"
#include "playback/sequence.h"

namespace sonvex {

// A loaded DLS collection, or a SoundFont 2 bank: then `Data` is its program map
// (soundfont_bank.h) and the synthesizer loads the file itself with FluidSynth's loader.
class Collection {
  public:
    Collection(std::string path, std::shared_ptr<const DlsCollection> data, bool soundFont = false)
        : path_(std::move(path)), data_(std::move(data)), soundFont_(soundFont) {}
    const std::string& Path() const { return path_; }
    const std::shared_ptr<const DlsCollection>& Data() const { return data_; }
    bool IsSoundFont() const { return soundFont_; }

  private:
    std::string path_;
    std::shared_ptr<const DlsCollection> data_;
    bool soundFont_ = false;
};

// A loaded piece of music and what it plays with.
class Segment {
  public:
    Segment(std::string path, std::shared_ptr<const Sequence> sequence, bool fromSmf)
        : path_(std::move(path)), sequence_(std::move(sequence)), fromSmf_(fromSmf) {}

    const std::string& Path() const { return path_; }
    const std::shared_ptr<const Sequence>& GetSequence() const { return sequence_; }
    bool FromSmf() const { return fromSmf_; }
    int32_t GetLength() const { return sequence_->length; }
    // The repeat count the next play uses: the one set last, else the file's own.
    uint32_t GetRepeats() const { return repeats_.value_or(sequence_->repeats); }
    // Replaces the file's repeat count for later plays (kRepeatEndless: without end); a
    // resumed segment plays only the loops it had left.
    void SetRepeats(uint32_t repeats) { repeats_ = repeats; }

    // Where the next play starts; false (and unchanged) outside [0, length).
    bool SetStartPoint(int32_t musicTime);
    int32_t GetStartPoint() const { return startPoint_; }

    // Program changes of the sequence select instruments from this collection first.
    void ConnectToCollection(std::shared_ptr<Collection> collection) {
        connected_ = std::move(collection);
    }
    const std::shared_ptr<Collection>& ConnectedCollection() const { return connected_; }

    // The collections the segment's bands refer to, one per Sequence::collections
    // entry (null when the file was not found or could not be read).
    std::vector<std::shared_ptr<Collection>>& BandCollections() { return bandCollections_; }
    const std::vector<std::shared_ptr<Collection>>& BandCollections() const {
        return bandCollections_;
    }

  private:
    std::string path_;
    std::shared_ptr<const Sequence> sequence_;
    bool fromSmf_ = false;
    int32_t startPoint_ = 0;
    std::optional<uint32_t> repeats_;
    std::shared_ptr<Collection> connected_;
    std::vector<std::shared_ptr<Collection>> bandCollections_;
};

enum class [[nodiscard]] LoadStatus{Ok, BadSearchFolder, OpenFailed, NotRecognised, Malformed};

struct LoadResult {
    LoadStatus status = LoadStatus::Ok;
    std::string error;
    std::vector<std::string> diagnostics;
};

class Loader {
  public:
    // Names without a folder are looked up here; false when it is not a folder.
    bool SetSearchDirectory(const std::string& folder);

    // An SMF (".mid", ".rmi", any file that starts like one) or a segment file; a
    // segment's band collections are loaded from the search folder as well.
    std::shared_ptr<Segment> LoadSegment(const std::string& name, LoadResult* result = nullptr,
                                         const SmfLoadOptions& options = {});
    // A DLS file or a SoundFont 2 bank, told apart by their RIFF form.
    std::shared_ptr<Collection> LoadCollection(const std::string& name,
                                               LoadResult* result = nullptr);

    // Forgets a cached object, so the next load reads the file again.
    void ReleaseObject(const std::string& path);
    void ReleaseObject(const Collection& collection) { ReleaseObject(collection.Path()); }
    void ReleaseObject(const Segment& segment) { ReleaseObject(segment.Path()); }
    // Drops cache entries that nothing else holds.
    void CollectGarbage();
    void ClearCache();

    // The path a name stands for: as given when it holds a '/', else in the search folder.
    std::string PathOf(const std::string& name) const;

  private:
    std::string folder_;
    std::map<std::string, std::shared_ptr<Collection>> collections_;
};

} // namespace sonvex
