// SPDX-License-Identifier: GPL-3.0-or-later
// The sectors of a disc image: which layout a file of sectors has (told by its content),
// the tracks that make up a disc, and the user data of each sector, with the sync,
// header, subheader and error codes of raw sectors stripped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/cue_sheet.h"

namespace sonvex {

constexpr int64_t kForm1Bytes = 2048;
constexpr int64_t kForm2Bytes = 2324;
constexpr int64_t kRawSectorBytes = 2352;
// The sector of the first volume descriptor of an ISO 9660 file system.
constexpr int64_t kFirstVolumeDescriptor = 16;

enum class ImageKind {
    None,     // not a disc image
    CueSheet, // the text of a cue sheet
    Raw,      // 2352-byte sectors: a sync pattern starts the file
    Cooked    // 2048-byte sectors: an ISO 9660 volume descriptor at sector 16
};

// Tells the kind from the file's content (a few small reads).
ImageKind DetectImageKind(RawFile& file);

// Where a sector's user data lies in its stored bytes, and its form.
struct UserData {
    int32_t offset = 0;
    int32_t length = 0; // 0: no user data (an audio sector)
    bool form2 = false;
};

// The user data of one stored sector of `mode` (`stored` holds SectorBytesOf(mode) bytes).
// Raw sectors say their mode in their header; Mode 2 sectors their form in the subheader.
UserData UserDataOf(TrackMode mode, const uint8_t* stored);

struct DiscTrack {
    std::shared_ptr<RawFile> file;
    std::string fileName; // for messages
    TrackMode mode = TrackMode::Mode2Raw;
    int64_t firstSector = 0; // on the disc (sector 0: the first track's INDEX 01)
    int64_t sectorCount = 0;
    int64_t fileOffset = 0; // of its first sector in `file`

    bool IsData() const { return mode != TrackMode::Audio; }
};

// A run of consecutive disc sectors.
struct SectorRun {
    int64_t first = 0;
    int64_t count = 0;
};

// Reads sectors of a disc made of tracks, through the tracks' files.
class DiscSectors {
  public:
    explicit DiscSectors(std::vector<DiscTrack> tracks) : tracks_(std::move(tracks)) {}

    const std::vector<DiscTrack>& tracks() const { return tracks_; }
    // One past the last sector of any track.
    int64_t SectorEnd() const;
    // The data track holding `sector`, or nullptr.
    const DiscTrack* TrackOf(int64_t sector) const;

    // The 2048 bytes of Form 1 user data of `sector` into `out`; false with `error` set
    // when the sector is not on a data track, cannot be read, or is a Form 2 sector.
    bool ReadForm1(int64_t sector, uint8_t* out, std::string& error) const;

    // Reads up to `count` stored sectors from `sector` on (stopping at the end of its
    // track) into `stored`; returns how many were read, 0 with `error` set on failure.
    int64_t ReadStored(int64_t sector, int64_t count, std::vector<uint8_t>& stored,
                       const DiscTrack*& track, std::string& error) const;

    // The stored bytes of up to `count` sectors from `sector` on (stopping at the end of its
    // track), in place in the mapped file of their track; nullptr when that file is not
    // mapped or does not hold them all (then ReadStored reads them, or says why not).
    // `count` becomes the number of sectors held.
    const uint8_t* MappedStored(int64_t sector, int64_t& count, const DiscTrack*& track) const;

  private:
    std::vector<DiscTrack> tracks_;
};

// The tracks of a raw or cooked image file that has no cue sheet: one data track over
// the whole file.
std::vector<DiscTrack> TracksOfBareImage(std::shared_ptr<RawFile> file, const std::string& name,
                                         ImageKind kind);

// A file's bytes made of the user data of sector runs: the file system's files and the
// unfiled area. Its length is known after Measure().
class SectorStream {
  public:
    SectorStream(std::shared_ptr<const DiscSectors> disc, std::vector<SectorRun> runs,
                 int64_t recordedLength, bool lengthIsRecorded)
        : disc_(std::move(disc)), runs_(std::move(runs)), recordedLength_(recordedLength),
          lengthIsRecorded_(lengthIsRecorded) {}

    // Reads every sector's form. A file whose sectors are all Form 1 is as long as the
    // file system records (at most its sectors' data); one with Form 2 sectors takes the
    // whole data of every sector. False with `error` when a sector cannot be read.
    bool Measure(std::string& error);
    int64_t Length() const { return length_; }
    bool HasForm2() const { return hasForm2_; }

    // Bytes from `position`, as RawFile::ReadAt: a short count at the end or on a failure
    // (then `error` tells why).
    int64_t ReadAt(int64_t position, uint8_t* destination, int64_t length, std::string& error);

    // As RawFile::StridedAt: the user data around `position` in place in the mapped track
    // files, a run of consecutive sectors of one layout at a time.
    bool StridedAt(int64_t position, StridedBytes& bytes) const;

  private:
    // Consecutive sectors of one track whose user data lie at the same place in each.
    struct PieceRun {
        int64_t start = 0;       // in the stream
        int64_t firstSector = 0; // on the disc
        int64_t count = 0;
        int32_t offset = 0; // of the user data in a stored sector
        int32_t length = 0;
        const DiscTrack* track = nullptr;
    };
    void AddPiece(int64_t start, int64_t sector, const DiscTrack* track, const UserData& data);

    std::shared_ptr<const DiscSectors> disc_;
    std::vector<SectorRun> runs_;
    int64_t recordedLength_ = 0;
    bool lengthIsRecorded_ = false;
    int64_t length_ = 0;
    bool hasForm2_ = false;
    // Per sector of the runs in order: where its data starts in the stream. One more entry
    // at the end holds the sum.
    std::vector<int64_t> starts_;
    std::vector<int64_t> sectors_; // the disc sector of each
    std::vector<PieceRun> pieceRuns_;
    std::vector<uint8_t> buffer_;
};

} // namespace sonvex
