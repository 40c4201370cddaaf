// SPDX-License-Identifier: GPL-3.0-or-later
// Disc sectors and the streams of user data made of them.
#include "formats/disc_sectors.h"

#include <algorithm>
#include <cstring>

#include "chunkfile/file_mapping.h"
#include "chunkfile/file_system.h"
#include "formats/diagnostics.h"

namespace sonvex {

namespace {

constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr uint8_t kStandardId[6] = {0x01, 'C', 'D', '0', '0', '1'};
// Sub-mode bit of a Mode 2 subheader that marks a Form 2 sector.
constexpr uint8_t kSubmodeForm2 = 0x20;
// Stored sectors read at once by a stream.
constexpr int64_t kSectorsPerRead = 64;

bool ReadExactly(RawFile& file, int64_t position, uint8_t* out, int64_t length) {
    return file.ReadAt(position, out, length) == length;
}

} // namespace

ImageKind DetectImageKind(RawFile& file) {
    const int64_t size = file.Size();
    uint8_t head[16] = {};
    const int64_t got = file.ReadAt(0, head, std::min<int64_t>(size, 16));
    if (got <= 0) {
        return ImageKind::None;
    }
    if (got >= 12 && std::memcmp(head, kSync, sizeof kSync) == 0 && size >= kRawSectorBytes) {
        return ImageKind::Raw;
    }
    uint8_t id[6] = {};
    if (ReadExactly(file, kFirstVolumeDescriptor * kForm1Bytes, id, 6) &&
        std::memcmp(id, kStandardId, 6) == 0) {
        return ImageKind::Cooked;
    }
    if (size <= kMaxCueBytes) {
        std::string text(static_cast<size_t>(size), '\0');
        if (ReadExactly(file, 0, reinterpret_cast<uint8_t*>(text.data()), size) &&
            LooksLikeCueSheet(text)) {
            return ImageKind::CueSheet;
        }
    }
    return ImageKind::None;
}

UserData UserDataOf(TrackMode mode, const uint8_t* stored) {
    switch (mode) {
    case TrackMode::Audio:
        return {0, 0, false};
    case TrackMode::Mode1:
    case TrackMode::Mode2Cooked:
        return {0, static_cast<int32_t>(kForm1Bytes), false};
    case TrackMode::Mode1Raw:
        return {16, static_cast<int32_t>(kForm1Bytes), false};
    case TrackMode::Mode2Xa:
        return (stored[2] & kSubmodeForm2) != 0
                   ? UserData{8, static_cast<int32_t>(kForm2Bytes), true}
                   : UserData{8, static_cast<int32_t>(kForm1Bytes), false};
    case TrackMode::Mode2Raw:
        // The header's mode byte: a Mode 1 sector inside a Mode 2 track keeps its layout.
        if (stored[15] == 1) {
            return {16, static_cast<int32_t>(kForm1Bytes), false};
        }
        return (stored[18] & kSubmodeForm2) != 0
                   ? UserData{24, static_cast<int32_t>(kForm2Bytes), true}
                   : UserData{24, static_cast<int32_t>(kForm1Bytes), false};
    }
    return {0, 0, false};
}

int64_t DiscSectors::SectorEnd() const {
    int64_t end = 0;
    for (const DiscTrack& track : tracks_) {
        end = std::max(end, track.firstSector + track.sectorCount);
    }
    return end;
}

const DiscTrack* DiscSectors::TrackOf(int64_t sector) const {
    for (const DiscTrack& track : tracks_) {
        if (sector >= track.firstSector && sector < track.firstSector + track.sectorCount) {
            return &track;
        }
    }
    return nullptr;
}

int64_t DiscSectors::ReadStored(int64_t sector, int64_t count, std::vector<uint8_t>& stored,
                                const DiscTrack*& track, std::string& error) const {
    track = TrackOf(sector);
    if (track == nullptr) {
        error = "sector " + std::to_string(sector) + " lies on no track of the disc";
        return 0;
    }
    if (!track->IsData()) {
        error = "sector " + std::to_string(sector) + " lies on an audio track";
        return 0;
    }
    const int64_t size = SectorBytesOf(track->mode);
    count = std::min(count, track->firstSector + track->sectorCount - sector);
    stored.resize(static_cast<size_t>(count * size));
    const int64_t position = track->fileOffset + (sector - track->firstSector) * size;
    const int64_t got = track->file->ReadAt(position, stored.data(), count * size);
    if (got < size) {
        error = track->fileName + ": sector " + std::to_string(sector) + " at " +
                HexOffset(position) + " cannot be read (the file ends early)";
        return 0;
    }
    return got / size;
}

const uint8_t* DiscSectors::MappedStored(int64_t sector, int64_t& count,
                                         const DiscTrack*& track) const {
    track = TrackOf(sector);
    if (track == nullptr || !track->IsData()) {
        return nullptr;
    }
    const FileMapping* mapping = track->file->Map();
    if (mapping == nullptr) {
        return nullptr;
    }
    const int64_t size = SectorBytesOf(track->mode);
    count = std::min(count, track->firstSector + track->sectorCount - sector);
    const int64_t position = track->fileOffset + (sector - track->firstSector) * size;
    if (count <= 0 || position < 0 || position + count * size > mapping->size()) {
        return nullptr;
    }
    return mapping->data() + position;
}

bool DiscSectors::ReadForm1(int64_t sector, uint8_t* out, std::string& error) const {
    std::vector<uint8_t> stored;
    const DiscTrack* track = nullptr;
    if (ReadStored(sector, 1, stored, track, error) != 1) {
        return false;
    }
    const UserData data = UserDataOf(track->mode, stored.data());
    if (data.length != kForm1Bytes) {
        error = track->fileName + ": sector " + std::to_string(sector) +
                " holds no Form 1 data where the file system expects it";
        return false;
    }
    std::memcpy(out, stored.data() + data.offset, static_cast<size_t>(kForm1Bytes));
    return true;
}

std::vector<DiscTrack> TracksOfBareImage(std::shared_ptr<RawFile> file, const std::string& name,
                                         ImageKind kind) {
    DiscTrack track;
    track.mode = kind == ImageKind::Raw ? TrackMode::Mode2Raw : TrackMode::Mode1;
    track.sectorCount = file->Size() / SectorBytesOf(track.mode);
    track.file = std::move(file);
    track.fileName = name;
    return {track};
}

bool SectorStream::Measure(std::string& error) {
    starts_.clear();
    sectors_.clear();
    pieceRuns_.clear();
    hasForm2_ = false;
    int64_t total = 0;
    std::vector<uint8_t> stored;
    for (const SectorRun& run : runs_) {
        int64_t done = 0;
        while (done < run.count) {
            const int64_t sector = run.first + done;
            // In place in a mapped track file, whose pages are made ready in one go; read
            // otherwise.
            int64_t got = run.count - done;
            const DiscTrack* track = nullptr;
            const uint8_t* bytes = disc_->MappedStored(sector, got, track);
            if (bytes != nullptr) {
                const int64_t size = SectorBytesOf(track->mode);
                const FileMapping& mapping = *track->file->Map();
                mapping.Prepare(bytes - mapping.data(), got * size);
            } else {
                got = disc_->ReadStored(sector, std::min(kSectorsPerRead, run.count - done), stored,
                                        track, error);
                if (got == 0) {
                    return false;
                }
                bytes = stored.data();
            }
            const int64_t size = SectorBytesOf(track->mode);
            for (int64_t i = 0; i < got; ++i) {
                // Sectors lie a page or so apart: the headers a few sectors on are fetched
                // while this one is looked at.
                __builtin_prefetch(bytes + std::min(i + 8, got - 1) * size + 16);
                const UserData data = UserDataOf(track->mode, bytes + i * size);
                starts_.push_back(total);
                sectors_.push_back(sector + i);
                AddPiece(total, sector + i, track, data);
                total += data.length;
                hasForm2_ = hasForm2_ || data.form2;
            }
            done += got;
        }
    }
    starts_.push_back(total);
    length_ = total;
    if (lengthIsRecorded_ && !hasForm2_) {
        length_ = std::min(total, recordedLength_);
    }
    return true;
}

void SectorStream::AddPiece(int64_t start, int64_t sector, const DiscTrack* track,
                            const UserData& data) {
    if (data.length == 0) {
        return;
    }
    if (!pieceRuns_.empty()) {
        PieceRun& last = pieceRuns_.back();
        if (last.track == track && last.firstSector + last.count == sector &&
            last.offset == data.offset && last.length == data.length &&
            last.start + last.count * last.length == start) {
            ++last.count;
            return;
        }
    }
    pieceRuns_.push_back({start, sector, 1, data.offset, data.length, track});
}

bool SectorStream::StridedAt(int64_t position, StridedBytes& bytes) const {
    if (position < 0 || position >= length_) {
        return false;
    }
    const auto after =
        std::upper_bound(pieceRuns_.begin(), pieceRuns_.end(), position,
                         [](int64_t at, const PieceRun& run) { return at < run.start; });
    if (after == pieceRuns_.begin()) {
        return false;
    }
    const PieceRun& run = *(after - 1);
    if (position >= run.start + run.count * run.length) {
        return false;
    }
    int64_t count = run.count;
    const DiscTrack* track = nullptr;
    const uint8_t* stored = disc_->MappedStored(run.firstSector, count, track);
    if (stored == nullptr || count != run.count) {
        return false;
    }
    bytes.start = run.start;
    bytes.count = run.count;
    bytes.length = run.length;
    bytes.stride = SectorBytesOf(track->mode);
    bytes.data = stored + run.offset;
    // The stream ends where the file system says, which may be inside a sector: whole
    // pieces before that, and the last one cut short on its own.
    if (bytes.end() > length_) {
        const int64_t whole = (length_ - bytes.start) / bytes.length;
        if (position < bytes.start + whole * bytes.length) {
            bytes.count = whole;
        } else {
            bytes.data = bytes.PieceData(whole);
            bytes.start += whole * bytes.length;
            bytes.length = length_ - bytes.start;
            bytes.count = 1;
        }
    }
    // Pieces that follow each other without a gap are one.
    if (bytes.stride == bytes.length) {
        bytes.length *= bytes.count;
        bytes.stride = bytes.length;
        bytes.count = 1;
    }
    return true;
}

int64_t SectorStream::ReadAt(int64_t position, uint8_t* destination, int64_t length,
                             std::string& error) {
    if (position < 0 || length <= 0 || position >= length_) {
        return 0;
    }
    length = std::min(length, length_ - position);
    // The sector holding `position`.
    size_t index = static_cast<size_t>(
        std::upper_bound(starts_.begin(), starts_.end() - 1, position) - starts_.begin() - 1);
    int64_t moved = 0;
    while (moved < length && index < sectors_.size()) {
        // A batch of consecutive disc sectors.
        size_t last = index + 1;
        while (last < sectors_.size() && static_cast<int64_t>(last - index) < kSectorsPerRead &&
               sectors_[last] == sectors_[last - 1] + 1 && starts_[last] < position + length) {
            ++last;
        }
        const DiscTrack* track = nullptr;
        int64_t got = static_cast<int64_t>(last - index);
        const uint8_t* stored = disc_->MappedStored(sectors_[index], got, track);
        if (stored == nullptr) {
            got = disc_->ReadStored(sectors_[index], static_cast<int64_t>(last - index), buffer_,
                                    track, error);
            if (got == 0) {
                return moved;
            }
            stored = buffer_.data();
        }
        const int64_t size = SectorBytesOf(track->mode);
        for (int64_t i = 0; i < got && moved < length; ++i, ++index) {
            const UserData data = UserDataOf(track->mode, stored + i * size);
            const int64_t within = position + moved - starts_[index];
            const int64_t take = std::min<int64_t>(data.length - within, length - moved);
            if (take > 0) {
                std::memcpy(destination + moved, stored + i * size + data.offset + within,
                            static_cast<size_t>(take));
                moved += take;
            }
        }
    }
    return moved;
}

} // namespace sonvex
