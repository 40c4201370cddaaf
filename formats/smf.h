// SPDX-License-Identifier: GPL-3.0-or-later
// Reads Standard MIDI Files into a plain model: header, tracks, and every event with its
// absolute tick, delta and file offsets. Three dialects share the one decoder: what a
// player accepts, what our own writers must produce, and the segment builder's classic walk.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

enum class SmfDialect {
    // Any SMF, also inside an RMID wrapper: formats 0 to 2, running status, every event
    // kind. A fault inside a track ends that track with a note; the read goes on.
    Player,
    // Exactly the layout our writers produce: header of length 6, format 0, one track
    // chunk whose length matches the file (plus a zero pad byte when odd), explicit status
    // bytes, 7-bit data, the end of track last and empty. Any fault fails the read.
    Strict,
    // The segment builder's classic walk: 16 header bytes, then events from offset 22 to
    // the end of the file whatever the track length says, delta times of any number of
    // bytes up to 0x0FFFFFFF, explicit status bytes, meta lengths of one byte, system
    // exclusive skipped by its length (even past the end), no polyphonic or channel
    // pressure and no system message besides F0 and FF. The first fault fails the read.
    Classic,
};

struct SmfTrackEvent {
    // How much of the event was read before a fault cut it short.
    enum class Cut : uint8_t {
        None,     // complete
        InHeader, // status known, its fixed fields (data bytes, type, length) not
        InData,   // fixed fields read; the meta or system-exclusive data is not all there
    };

    uint64_t tick = 0;        // absolute, from the start of the track
    uint32_t delta = 0;       // ticks since the previous event
    int64_t offset = 0;       // file offset of the delta time
    int64_t statusOffset = 0; // of the status byte (of the first data byte under running status)
    uint8_t status = 0;       // running status resolved; FF meta, F0/F7 system exclusive
    bool runningStatus = false;
    uint8_t data1 = 0; // channel events: data bytes as stored
    uint8_t data2 = 0;
    uint8_t metaType = 0;
    uint32_t length = 0;           // meta and system exclusive: data length as stored
    std::span<const uint8_t> data; // that data, inside the bytes that were read
    Cut cut = Cut::None;

    bool Complete() const { return cut == Cut::None; }
    uint8_t Kind() const { return static_cast<uint8_t>(status & 0xF0); }
    uint8_t Channel() const { return static_cast<uint8_t>(status & 0x0F); }
    bool IsMeta(uint8_t type) const { return status == 0xFF && metaType == type; }
};

struct SmfTrack {
    int64_t offset = 0;  // file offset of the "MTrk" header
    uint32_t length = 0; // as stored
    bool ended = false;  // an end-of-track event was read (it is the last event)
    std::string fault;   // what stopped the track before its end, as a diagnostic
    int64_t stop = 0;    // file offset where decoding stopped
    // In file order. After a fault the last one may be incomplete (its Cut says how).
    std::vector<SmfTrackEvent> events;
};

struct SmfFile {
    int64_t headerOffset = 0; // of "MThd": 0, or inside an RMID "data" chunk
    uint32_t headerLength = 0;
    uint16_t format = 0;
    uint16_t trackCount = 0; // as the header says
    uint16_t division = 0;   // ticks per quarter note, or SMPTE when bit 15 is set
    std::vector<SmfTrack> tracks;
};

enum class [[nodiscard]] SmfReadStatus{
    Ok,
    NotSmf,    // no "MThd" header (or a RIFF form other than "RMID")
    Malformed, // a header or track the dialect refuses
};

struct SmfRead {
    SmfReadStatus status = SmfReadStatus::Ok;
    SmfFile smf;
    Diagnostics diagnostics; // failures read "SMF at 0x........: ..."
};

// The events' data points into `bytes`, which must outlive the result.
SmfRead ReadSmf(std::span<const uint8_t> bytes, SmfDialect dialect = SmfDialect::Player);

} // namespace sonvex
