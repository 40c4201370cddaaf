// SPDX-License-Identifier: GPL-3.0-or-later
// Loaders of what the preview plays: any Standard MIDI File (format 0, 1 or 2, running
// status, every event kind, also inside an RMID wrapper) and segment files, each turned
// into a Sequence in music time.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"
#include "playback/sequence.h"

namespace sonvex {

struct SmfLoadOptions {
    // Take the loop from "Loop_Start" and "Loop_End" markers and its count from text
    // events, the way the segment builder reads them, and play it as the console does:
    // a count of 0..126 (or none) is the number of passes in all, after which the song
    // goes on to its end; 127 and above loops without end. Off, an SMF plays once.
    bool loopsFromMarkers = true;
};

enum class [[nodiscard]] MusicLoadStatus{
    Ok,
    OpenFailed,    // the file could not be opened or read
    NotRecognised, // not an SMF (or segment file) at all
    Malformed      // a header or chunk that cannot be followed
};

struct MusicLoadOutcome {
    MusicLoadStatus status = MusicLoadStatus::Ok;
    std::shared_ptr<Sequence> sequence;
    Diagnostics diagnostics; // why it failed, and what was passed over, with offsets
};

MusicLoadOutcome LoadSmf(std::span<const uint8_t> bytes, const SmfLoadOptions& options = {});
MusicLoadOutcome LoadSmfFile(const std::string& path, const SmfLoadOptions& options = {});

// A segment file: tempo items, sequence items with their durations, bands at their
// times (with the DLS file names they refer to), length, repeats and loop points.
MusicLoadOutcome LoadSegment(std::span<const uint8_t> bytes);
MusicLoadOutcome LoadSegmentFile(const std::string& path);

} // namespace sonvex
