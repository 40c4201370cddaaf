// SPDX-License-Identifier: GPL-3.0-or-later
// Encodings of the segment file's records, written and read field by field in
// little-endian order, never by copying structs.
#include "segment/segment_format.h"

#include <bit>
#include <cstring>

#include "platform/code_page.h"

namespace sonvex {

LeBytes& LeBytes::f64(double v) {
    return u64(std::bit_cast<uint64_t>(v));
}

LeBytes& LeBytes::guid(const Guid& g) {
    for (uint8_t b : g.Bytes()) {
        u8(b);
    }
    return *this;
}

std::vector<uint8_t> EncodeSegmentHeader(const SegmentHeader& h) {
    LeBytes b;
    b.u32(h.repeats).i32(h.length).i32(h.playStart).i32(h.loopStart).i32(h.loopEnd);
    b.u32(h.resolution).i64(h.referenceLength).u32(h.flags).u32(h.reserved);
    return b.bytes();
}

std::vector<uint8_t> EncodeTrackHeader(const TrackHeader& h) {
    LeBytes b;
    b.guid(h.classId).u32(h.position).u32(h.groups).u32(h.chunkId).u32(h.formType);
    return b.bytes();
}

std::vector<uint8_t> EncodeTempoItem(const TempoItem& item) {
    LeBytes b;
    b.i32(item.time).u32(item.padding).f64(item.tempo);
    return b.bytes();
}

std::vector<uint8_t> EncodeSequenceItem(const SequenceItem& item) {
    LeBytes b;
    b.i32(item.time).i32(item.duration).u32(item.channel).i16(item.offset);
    b.u8(item.status).u8(item.data1).u8(item.data2);
    b.u8(item.padding[0]).u8(item.padding[1]).u8(item.padding[2]);
    return b.bytes();
}

std::vector<uint8_t> EncodeTimeSignatureItem(const TimeSignatureItem& item) {
    LeBytes b;
    b.i32(item.time).u8(item.beatsPerMeasure).u8(item.beat).u16(item.gridsPerBeat);
    return b.bytes();
}

std::vector<uint8_t> EncodeInstrumentRecord(const InstrumentRecord& r) {
    LeBytes b;
    b.u32(r.patch).u32(r.assignPatch);
    for (uint32_t range : r.noteRanges) {
        b.u32(range);
    }
    b.u32(r.channel).u32(r.flags).u8(r.pan).u8(r.volume).i16(r.transpose);
    b.u32(r.channelPriority).i16(r.pitchBendRange).u16(r.padding);
    return b.bytes();
}

Guid DecodeGuid(ByteCursor& c) {
    uint8_t raw[16] = {};
    c.bytes(raw, sizeof raw);
    return Guid::FromBytes(raw);
}

SegmentHeader DecodeSegmentHeader(ByteCursor& c) {
    SegmentHeader h;
    h.repeats = c.u32le();
    h.length = c.s32le();
    h.playStart = c.s32le();
    h.loopStart = c.s32le();
    h.loopEnd = c.s32le();
    h.resolution = c.u32le();
    h.referenceLength = static_cast<int64_t>(c.u64le());
    h.flags = c.u32le();
    h.reserved = c.u32le();
    return h;
}

TrackHeader DecodeTrackHeader(ByteCursor& c) {
    TrackHeader h;
    h.classId = DecodeGuid(c);
    h.position = c.u32le();
    h.groups = c.u32le();
    h.chunkId = c.u32le();
    h.formType = c.u32le();
    return h;
}

TempoItem DecodeTempoItem(ByteCursor& c) {
    TempoItem item;
    item.time = c.s32le();
    item.padding = c.u32le();
    item.tempo = std::bit_cast<double>(c.u64le());
    return item;
}

SequenceItem DecodeSequenceItem(ByteCursor& c) {
    SequenceItem item;
    item.time = c.s32le();
    item.duration = c.s32le();
    item.channel = c.u32le();
    item.offset = c.s16le();
    item.status = c.u8();
    item.data1 = c.u8();
    item.data2 = c.u8();
    for (uint8_t& p : item.padding) {
        p = c.u8();
    }
    return item;
}

TimeSignatureItem DecodeTimeSignatureItem(ByteCursor& c) {
    TimeSignatureItem item;
    item.time = c.s32le();
    item.beatsPerMeasure = c.u8();
    item.beat = c.u8();
    item.gridsPerBeat = c.u16le();
    return item;
}

InstrumentRecord DecodeInstrumentRecord(ByteCursor& c) {
    InstrumentRecord r;
    r.patch = c.u32le();
    r.assignPatch = c.u32le();
    for (uint32_t& range : r.noteRanges) {
        range = c.u32le();
    }
    r.channel = c.u32le();
    r.flags = c.u32le();
    r.pan = c.u8();
    r.volume = c.u8();
    r.transpose = c.s16le();
    r.channelPriority = c.u32le();
    r.pitchBendRange = c.s16le();
    r.padding = c.u16le();
    return r;
}

std::vector<uint8_t> EncodeText(std::string_view utf8) {
    std::u16string units = Utf8ToUtf16(utf8);
    if (units.size() > kMaxTextUnits - 1) {
        units.resize(kMaxTextUnits - 1);
        // Never leave half of a surrogate pair at the cut.
        if (units.back() >= 0xD800 && units.back() < 0xDC00) {
            units.pop_back();
        }
    }
    LeBytes b;
    for (char16_t u : units) {
        b.u16(static_cast<uint16_t>(u));
    }
    b.u16(0);
    return b.bytes();
}

std::string DecodeText(ByteCursor c) {
    std::u16string units;
    while (c.canRead(2)) {
        const uint16_t u = c.u16le();
        if (u == 0) {
            break;
        }
        units.push_back(static_cast<char16_t>(u));
    }
    return Utf16ToUtf8(units);
}

} // namespace sonvex
