// SPDX-License-Identifier: GPL-3.0-or-later
// Loading segments and collections by name from the search folder, with a cache of
// collections so that one DLS file used by several bands is read once.
#include "playback/loader.h"

#include <sys/stat.h>

#include <algorithm>

#include "formats/file_bytes.h"
#include "formats/sf2.h"
#include "playback/soundfont_bank.h"
#include "segment/segment_reader.h"

namespace sonvex {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSoundFontForm(const std::vector<uint8_t>& bytes) {
    static constexpr uint8_t kRiff[4] = {'R', 'I', 'F', 'F'};
    static constexpr uint8_t kSfbk[4] = {'s', 'f', 'b', 'k'};
    return bytes.size() >= 12 && std::equal(kRiff, kRiff + 4, bytes.begin()) &&
           std::equal(kSfbk, kSfbk + 4, bytes.begin() + 8);
}

LoadStatus FromMusicStatus(MusicLoadStatus s) {
    return s == MusicLoadStatus::Ok              ? LoadStatus::Ok
           : s == MusicLoadStatus::OpenFailed    ? LoadStatus::OpenFailed
           : s == MusicLoadStatus::NotRecognised ? LoadStatus::NotRecognised
                                                 : LoadStatus::Malformed;
}

} // namespace

bool Segment::SetStartPoint(int32_t musicTime) {
    if (musicTime < 0 || musicTime >= sequence_->length) {
        return false;
    }
    startPoint_ = musicTime;
    return true;
}

bool Loader::SetSearchDirectory(const std::string& folder) {
    if (!IsFolder(folder)) {
        return false;
    }
    folder_ = folder;
    return true;
}

std::string Loader::PathOf(const std::string& name) const {
    if (name.find('/') != std::string::npos || folder_.empty()) {
        return name;
    }
    return folder_ + (folder_.back() == '/' ? "" : "/") + name;
}

std::shared_ptr<Segment> Loader::LoadSegment(const std::string& name, LoadResult* result,
                                             const SmfLoadOptions& options) {
    LoadResult local;
    LoadResult& r = result != nullptr ? *result : local;
    r = LoadResult{};
    const std::string path = PathOf(name);
    const FileBytes read = ReadFileBytes(path);
    if (read.status != FileReadStatus::Ok) {
        r.status = LoadStatus::OpenFailed;
        r.error = read.error;
        return nullptr;
    }
    const std::vector<uint8_t>& bytes = read.bytes;
    const bool segmentFile = IsSegmentForm(bytes);
    MusicLoadOutcome loaded = segmentFile ? sonvex::LoadSegment(bytes) : LoadSmf(bytes, options);
    r.diagnostics = std::move(loaded.diagnostics.notes);
    if (loaded.status != MusicLoadStatus::Ok) {
        r.status = FromMusicStatus(loaded.status);
        r.error = path + ": " + loaded.diagnostics.failure;
        return nullptr;
    }
    auto segment = std::make_shared<Segment>(path, std::move(loaded.sequence), !segmentFile);
    // The bands name their DLS files; the search folder holds them.
    for (const std::string& file : segment->GetSequence()->collections) {
        LoadResult bankResult;
        std::shared_ptr<Collection> collection = LoadCollection(file, &bankResult);
        if (!collection) {
            r.diagnostics.push_back("band collection " + bankResult.error);
        }
        segment->BandCollections().push_back(std::move(collection));
    }
    return segment;
}

std::shared_ptr<Collection> Loader::LoadCollection(const std::string& name, LoadResult* result) {
    LoadResult local;
    LoadResult& r = result != nullptr ? *result : local;
    r = LoadResult{};
    const std::string path = PathOf(name);
    const auto cached = collections_.find(path);
    if (cached != collections_.end()) {
        return cached->second;
    }
    const FileBytes file = ReadFileBytes(path);
    if (file.status != FileReadStatus::Ok) {
        r.status = LoadStatus::OpenFailed;
        r.error = file.error;
        return nullptr;
    }
    if (IsSoundFontForm(file.bytes)) {
        Sf2ReadOutcome font = ReadSf2(file.bytes);
        r.diagnostics = font.diagnostics.notes;
        if (font.status != Sf2ReadStatus::Ok) {
            r.status = LoadStatus::Malformed;
            r.error = path + ": " + font.diagnostics.failure;
            return nullptr;
        }
        auto collection = std::make_shared<Collection>(
            path,
            std::make_shared<const DlsCollection>(SoundFontPrograms(font.bank, r.diagnostics)),
            true);
        collections_[path] = collection;
        return collection;
    }
    DlsReadOutcome read = ReadDls(file.bytes);
    r.diagnostics = read.diagnostics.notes;
    if (read.status != DlsReadStatus::Ok) {
        const bool unread = read.status == DlsReadStatus::OpenFailed; // names its path already
        r.status = unread                                 ? LoadStatus::OpenFailed
                   : read.status == DlsReadStatus::NotDls ? LoadStatus::NotRecognised
                                                          : LoadStatus::Malformed;
        r.error = (unread ? "" : path + ": ") + read.diagnostics.failure;
        return nullptr;
    }
    auto collection = std::make_shared<Collection>(
        path, std::make_shared<const DlsCollection>(std::move(read.collection)));
    collections_[path] = collection;
    return collection;
}

void Loader::ReleaseObject(const std::string& path) {
    collections_.erase(path);
}

void Loader::CollectGarbage() {
    for (auto it = collections_.begin(); it != collections_.end();) {
        it = it->second.use_count() == 1 ? collections_.erase(it) : std::next(it);
    }
}

void Loader::ClearCache() {
    collections_.clear();
}

} // namespace sonvex
