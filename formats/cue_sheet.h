// SPDX-License-Identifier: GPL-3.0-or-later
// Cue sheets: the text that names the track files of a disc image and where each track
// starts. Only what a data disc needs is kept: FILE, TRACK and INDEX; other commands are
// skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

// Frames (sectors) in one second of disc time.
constexpr int64_t kFramesPerSecond = 75;

enum class TrackMode {
    Audio,      // AUDIO: 2352 bytes of sound a sector
    Mode1Raw,   // MODE1/2352
    Mode1,      // MODE1/2048: user data only
    Mode2Raw,   // MODE2/2352: sync, header, subheader, data, error codes
    Mode2Xa,    // MODE2/2336: subheader, data, error codes
    Mode2Cooked // MODE2/2048: Form 1 user data only
};

// Bytes a sector of the mode takes in its track file.
int64_t SectorBytesOf(TrackMode mode);

struct CueIndex {
    int number = 0;
    int64_t frame = 0; // from the start of the track's file
};

struct CueTrack {
    int number = 0;
    TrackMode mode = TrackMode::Audio;
    std::vector<CueIndex> indexes;
    // The frame of INDEX 01 (or of the first index when there is none).
    int64_t StartFrame() const;
};

struct CueFile {
    std::string name; // as written, relative to the cue sheet's folder unless absolute
    std::vector<CueTrack> tracks;
};

enum class [[nodiscard]] CueStatus{Ok, Invalid};

struct CueSheet {
    CueStatus status = CueStatus::Ok;
    std::vector<CueFile> files;
    Diagnostics diagnostics; // failures name the line: "line 4 at 0x........: ..."
};

// Whether `text` reads as a cue sheet: short printable text whose commands include FILE
// and TRACK.
bool LooksLikeCueSheet(std::string_view text);

// Reads a cue sheet. At most kMaxCueBytes of text and 99 tracks are taken.
constexpr int64_t kMaxCueBytes = 256 * 1024;
CueSheet ParseCueSheet(std::string_view text);

} // namespace sonvex
