// SPDX-License-Identifier: GPL-3.0-or-later
// Records and identifiers of the segment file (RIFF form "DMSG"): chunk ids, track
// class ids and the fixed-size items, each with its one little-endian encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_cursor.h"
#include "platform/guid.h"

namespace sonvex {

namespace detail {
constexpr uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + 10);
    }
    return static_cast<uint8_t>(c - 'a' + 10);
}
constexpr uint32_t HexField(std::string_view t, size_t at, size_t digits) {
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        v = (v << 4) | HexValue(t[at + i]);
    }
    return v;
}
} // namespace detail

// A GUID from its registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr Guid GuidFromText(std::string_view t) {
    Guid g;
    g.data1 = detail::HexField(t, 1, 8);
    g.data2 = static_cast<uint16_t>(detail::HexField(t, 10, 4));
    g.data3 = static_cast<uint16_t>(detail::HexField(t, 15, 4));
    g.data4[0] = static_cast<uint8_t>(detail::HexField(t, 20, 2));
    g.data4[1] = static_cast<uint8_t>(detail::HexField(t, 22, 2));
    for (size_t i = 0; i < 6; ++i) {
        g.data4[2 + i] = static_cast<uint8_t>(detail::HexField(t, 25 + 2 * i, 2));
    }
    return g;
}

// Class ids of the five track kinds a segment holds, of the DLS collection a band
// refers to, and the "all object types" id by which a loader's cache is cleared.
inline constexpr Guid kTempoTrackClass = GuidFromText("{D2AC2885-B39B-11D1-8704-00600893B1BD}");
inline constexpr Guid kSequenceTrackClass = GuidFromText("{D2AC2886-B39B-11D1-8704-00600893B1BD}");
inline constexpr Guid kBandTrackClass = GuidFromText("{D2AC2894-B39B-11D1-8704-00600893B1BD}");
inline constexpr Guid kTimeSignatureTrackClass =
    GuidFromText("{D2AC2888-B39B-11D1-8704-00600893B1BD}");
inline constexpr Guid kSysexTrackClass = GuidFromText("{D2AC2887-B39B-11D1-8704-00600893B1BD}");
inline constexpr Guid kCollectionClass = GuidFromText("{480FF4B0-28B2-11D1-BEF7-00C04FBF8FEF}");
inline constexpr Guid kAllObjectTypes = GuidFromText("{D2AC2893-B39B-11D1-8704-00600893B1BD}");

// Texts of the segment's "UNFO" list.
inline constexpr std::string_view kSegmentAuthor = "Sonvex";
inline constexpr std::string_view kSegmentCopyright = "PS GAME'S MAKER";

// Item sizes that lead the item arrays, and the limit of a text chunk in UTF-16 units.
constexpr uint32_t kTempoItemSize = 16;
constexpr uint32_t kSequenceItemSize = 20;
constexpr uint32_t kCurveItemSize = 32;
constexpr uint32_t kTimeSignatureItemSize = 8;
constexpr size_t kMaxTextUnits = 260; // NUL included

// Repeat count that means "repeat without end".
constexpr uint32_t kRepeatForever = 0xFFFFFFFFu;

// "segh": the segment header.
struct SegmentHeader {
    uint32_t repeats = 0;        // +0, u32: repeat count; kRepeatForever repeats without end
    int32_t length = 0;          // +4, i32: music time at the end-of-track event
    int32_t playStart = 0;       // +8, i32: music time
    int32_t loopStart = 0;       // +12, i32: music time of the last Loop_Start marker
    int32_t loopEnd = 0;         // +16, i32: music time of the last Loop_End marker
    uint32_t resolution = 0;     // +20, u32
    int64_t referenceLength = 0; // +24, i64: length in reference time
    uint32_t flags = 0;          // +32, u32
    uint32_t reserved = 0;       // +36, u32
};
constexpr size_t kSegmentHeaderSize = 40;
static_assert(sizeof(SegmentHeader) == kSegmentHeaderSize);

// "trkh": the header of each track's "DMTK" form.
struct TrackHeader {
    Guid classId;          // +0, 16 bytes: track class
    uint32_t position = 0; // +16, u32
    uint32_t groups = 1;   // +20, u32: track groups bit mask
    uint32_t chunkId = 0;  // +24, u32: id of the track's data chunk, or 0
    uint32_t formType = 0; // +28, u32: form or list type of the track's data, or 0
};
constexpr size_t kTrackHeaderSize = 32;
static_assert(sizeof(TrackHeader) == kTrackHeaderSize);

// One item of "tetr".
struct TempoItem {
    int32_t time = 0;     // +0, i32: music time
    uint32_t padding = 0; // +4, 4 bytes: zero
    double tempo = 0.0;   // +8, f64: beats per minute
};
static_assert(sizeof(TempoItem) == kTempoItemSize);

// One item of "evtl": a note (status 0x90) with its duration, a control change (0xB0)
// or a pitch bend (0xE0).
struct SequenceItem {
    int32_t time = 0;     // +0, i32: music time
    int32_t duration = 0; // +4, i32: music time
    uint32_t channel = 0; // +8, u32: performance channel, the MIDI channel 0..15
    int16_t offset = 0;   // +12, i16: 0
    uint8_t status = 0;   // +14, u8: status with the channel nibble cleared
    uint8_t data1 = 0;    // +15, u8
    uint8_t data2 = 0;    // +16, u8
    uint8_t padding[3]{}; // +17, 3 bytes: zero
};
static_assert(sizeof(SequenceItem) == kSequenceItemSize);

// The one item of "tims".
struct TimeSignatureItem {
    int32_t time = 0;            // +0, i32: music time
    uint8_t beatsPerMeasure = 4; // +4, u8: numerator
    uint8_t beat = 4;            // +5, u8: note value of one beat (4 = quarter note)
    uint16_t gridsPerBeat = 1;   // +6, u16
    bool operator==(const TimeSignatureItem&) const = default;
};
static_assert(sizeof(TimeSignatureItem) == kTimeSignatureItemSize);

// "bins": one instrument of a band.
struct InstrumentRecord {
    uint32_t patch = 0;           // +0, u32: program + 0x100 (bank LSB 1, MSB 0)
    uint32_t assignPatch = 0;     // +4, u32: same as patch
    uint32_t noteRanges[4]{};     // +8, 4 x u32: 0
    uint32_t channel = 0;         // +24, u32: performance channel
    uint32_t flags = 0;           // +28, u32: which fields are valid
    uint8_t pan = 0;              // +32, u8
    uint8_t volume = 0;           // +33, u8
    int16_t transpose = 0;        // +34, i16
    uint32_t channelPriority = 0; // +36, u32
    int16_t pitchBendRange = 0;   // +40, i16: semitones
    uint16_t padding = 0;         // +42, 2 bytes: zero
};
constexpr size_t kInstrumentRecordSize = 44;
static_assert(sizeof(InstrumentRecord) == kInstrumentRecordSize);

// Flags of every instrument record written: patch, bank select, assign patch, pan,
// volume, XG collection and pitch-bend range valid.
constexpr uint32_t kInstrumentFlags = 0x0000246B;
// "refh" valid-data flags: name and file name.
constexpr uint32_t kReferenceValidData = 0x14;
constexpr size_t kReferenceHeaderSize = 20;
constexpr size_t kBandHeaderSize = 8;
constexpr size_t kSysexItemHeaderSize = 12;

// Little-endian byte string under construction; one per record encoding.
class LeBytes {
  public:
    LeBytes& u8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    LeBytes& u16(uint16_t v) {
        return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8));
    }
    LeBytes& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
    }
    LeBytes& u64(uint64_t v) {
        return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32));
    }
    LeBytes& i16(int16_t v) { return u16(static_cast<uint16_t>(v)); }
    LeBytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    LeBytes& i64(int64_t v) { return u64(static_cast<uint64_t>(v)); }
    LeBytes& f64(double v);
    LeBytes& guid(const Guid& g);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> EncodeSegmentHeader(const SegmentHeader& h);
std::vector<uint8_t> EncodeTrackHeader(const TrackHeader& h);
std::vector<uint8_t> EncodeTempoItem(const TempoItem& item);
std::vector<uint8_t> EncodeSequenceItem(const SequenceItem& item);
std::vector<uint8_t> EncodeTimeSignatureItem(const TimeSignatureItem& item);
std::vector<uint8_t> EncodeInstrumentRecord(const InstrumentRecord& r);

// Decoders take the record's bytes from the cursor; a short cursor clears its ok().
SegmentHeader DecodeSegmentHeader(ByteCursor& c);
TrackHeader DecodeTrackHeader(ByteCursor& c);
TempoItem DecodeTempoItem(ByteCursor& c);
SequenceItem DecodeSequenceItem(ByteCursor& c);
TimeSignatureItem DecodeTimeSignatureItem(ByteCursor& c);
InstrumentRecord DecodeInstrumentRecord(ByteCursor& c);
Guid DecodeGuid(ByteCursor& c);

// A name as the segment stores it: UTF-16LE with its NUL, at most kMaxTextUnits units.
std::vector<uint8_t> EncodeText(std::string_view utf8);
// The text of such a chunk, up to its first NUL, back in UTF-8.
std::string DecodeText(ByteCursor c);

} // namespace sonvex
