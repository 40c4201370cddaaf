// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the narrow SMF subset that the segment builder accepts (format 0, one track,
// every event with its own status byte) by walking its events from the first one to
// the end of track, each stamped with its time in music time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "chunkfile/chunk_file.h"
#include "formats/smf.h"
#include "segment/segment_format.h"

namespace sonvex {

// Music time counts 768 ticks per quarter note.
constexpr int32_t kMusicTicksPerQuarter = 768;

// One accepted event as a walk's action receives it: the event as read (system
// exclusive without its data), stamped with its music time, its own delta included.
struct SmfEvent : SmfTrackEvent {
    int32_t time = 0;
};

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaCopyright = 0x02;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaMarker = 0x06;
constexpr uint8_t kMetaCuePoint = 0x07;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;

// The segment builder's walk over an SMF read in the classic dialect (formats/smf.h),
// with the acceptance rules of the segment on top: format 0 with one track and a
// division, the listed controllers and meta events, tempo events of three bytes, and
// music time within 32 bits.
class SmfReader {
  public:
    // Returns false to end the walk as a failure (the action sets its own reason).
    using Action = std::function<bool(const SmfEvent&)>;

    explicit SmfReader(ChunkFile& file) : file_(file) {}

    // Reads the file and checks its header; also refuses a division of 0, which has no
    // music-time ratio.
    bool CheckHeader();

    // Walks from the first event to the end of track, calling `action` for every
    // accepted event. False on any failure; Failure() then tells what and where.
    bool Walk(const Action& action);
    // Music time after the end-of-track event of the last complete walk.
    int32_t EndTime() const { return endTime_; }
    const std::string& Failure() const { return failure_; }

  private:
    bool Fail(int64_t offset, const std::string& what);

    ChunkFile& file_;
    std::vector<uint8_t> bytes_;
    SmfRead read_; // its events point into bytes_
    uint16_t division_ = 0;
    double ratio_ = 0.0;
    int32_t endTime_ = 0;
    std::string failure_;
};

// The number at the start of a text event, as atol reads it on a platform whose long
// has 32 bits: blanks, an optional sign, digits; clamped to the 32-bit range.
int32_t ParseDecimal(std::span<const uint8_t> text);
// The repeat count after one more text event: raised to the number (compared as
// unsigned), and above 126 it means "forever".
uint32_t UpdateRepeatCount(uint32_t count, std::span<const uint8_t> text);

enum class LoopMarker { None, Start, End };
// "Loop_Start" or "Loop_End" in any letter case, up to the first NUL of the marker.
LoopMarker ClassifyMarker(std::span<const uint8_t> text);

// Beats per minute of a tempo event's three bytes of microseconds per quarter note;
// 0 when the count is 0 (such an event is not used).
double TempoFromMicroseconds(uint32_t microseconds);

// The values the sequence walk gathers for the segment header and the time-signature track.
struct SequenceValues {
    uint32_t repeats = 0;
    int32_t loopStart = 0;
    int32_t loopEnd = 0;
    bool loopMarked = false; // a "Loop_Start" or "Loop_End" marker was met
    // Without any time-signature event the segment says 4/4 at time 0, one grid per beat.
    TimeSignatureItem timeSignature{0, 4, 4, 1};
    bool timeSignatureSeen = false;

    // Takes a text, marker or time-signature event; ignores every other event.
    void Take(const SmfEvent& event);
};

} // namespace sonvex
