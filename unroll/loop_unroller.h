// SPDX-License-Identifier: GPL-3.0-or-later
// Writes an SMF's loop out for players that ignore loop markers: the passage between the
// "Loop_Start" and "Loop_End" markers is repeated as render plays it (a counted loop its
// number of passes, then on to the end; an endless one a chosen number of passes and then
// a fade of expression while it keeps looping), with the channel state, tempo and held
// notes of the loop start restored at every repeat.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

// Passes of an endless loop a caller may ask for.
constexpr int kMaxUnrollLoops = 1000;
// Longest fade a caller may ask for, in seconds.
constexpr double kMaxUnrollFadeSeconds = 600.0;

struct UnrollOptions {
    int loops = 2;             // passes of an endless loop before its fade, 1..kMaxUnrollLoops
    double fadeSeconds = 10.0; // the fade after them; 0 plays the part after the loop end instead
};

enum class UnrolledLoop {
    None,    // no loop that repeats: the song is written once, as it plays
    Counted, // a count of 2..126: that many passes in all, then on to the end
    Endless, // a count of 127 and above
};

struct UnrollSummary {
    UnrolledLoop loop = UnrolledLoop::None;
    uint32_t passes = 0;     // passes through the loop before the fade (or the ending)
    uint32_t fadePasses = 0; // passes begun during the fade
    uint64_t loopStart = 0;  // source ticks
    uint64_t loopEnd = 0;
    uint64_t songLength = 0; // source ticks: the last event of any track
    uint64_t length = 0;     // output ticks: where every track ends
    uint64_t fadeStart = 0;  // output ticks; both 0 without a fade
    uint64_t fadeEnd = 0;
    size_t events = 0; // written, end-of-track events included
};

// One event of the output: status and data as written after the delta time (meta events
// with their length as a variable-length quantity).
struct UnrolledEvent {
    uint64_t tick = 0;
    uint16_t track = 0;
    std::vector<uint8_t> bytes;
};

struct UnrolledSmf {
    uint16_t format = 0;
    uint16_t division = 0;
    std::vector<std::vector<UnrolledEvent>> tracks; // in time order, the end of track last
};

enum class [[nodiscard]] UnrollStatus{
    Ok,
    ReadFailed,  // the input could not be read
    NotSmf,      // no SMF header
    Malformed,   // a header the reader refuses
    Unsupported, // format 2, a division of 0, options out of range
    TooLong,     // the output would pass the limits of an SMF or of this tool
    WriteFailed, // the output could not be written; nothing is left behind
};

struct UnrollResult {
    UnrollStatus status = UnrollStatus::Ok;
    UnrollSummary summary;
    Diagnostics diagnostics; // the file tools name the path in front of the failure
};

// Unrolls an SMF (format 0 or 1, any dialect a player reads) held in memory.
UnrollResult UnrollSmf(std::span<const uint8_t> bytes, const UnrollOptions& options,
                       UnrolledSmf& out);

// Reads `input` and writes the unrolled SMF to `output` (under a temporary name first,
// renamed on success). The output keeps the input's format and division.
UnrollResult UnrollSmfFile(const std::string& input, const std::string& output,
                           const UnrollOptions& options);

// NAME.unrolled.mid beside NAME.mid (or NAME.unrolled.mid beside any other name).
std::string UnrolledPath(const std::string& smfPath);

} // namespace sonvex
