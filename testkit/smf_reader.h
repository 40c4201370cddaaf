// A strict reader of the Standard MIDI Files the converters write (format 0, one track,
// every event with its own status byte, end of track last), for tests and fuzz targets,
// and a byte comparison that names the first differing offset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

struct SmfEvent {
    uint32_t tick = 0;  // absolute time
    uint32_t delta = 0; // time since the previous event
    Bytes bytes;        // status and data; meta: FF, type, data (no length); sysex: F0, data
};

struct SmfImage {
    uint16_t format = 0;
    uint16_t trackCount = 0;
    uint16_t division = 0;
    uint32_t trackLength = 0; // as stored
    bool padded = false;      // a zero byte follows an odd track
    std::vector<SmfEvent> events;
};

// Parses the whole file. Fails, with `error` saying what and at which offset, unless the
// file is exactly: header chunk of length 6, format 0, one track, a track chunk whose
// length matches the file (plus one zero pad byte when odd), events with explicit status
// bytes and 7-bit data, and a final FF 2F 00 that ends the track.
std::optional<SmfImage> ReadSmf(const Bytes& file, std::string& error);

// Empty when equal; otherwise the first differing offset, both lengths, and both sides
// in hex around that offset.
std::string DescribeByteDifference(const Bytes& actual, const Bytes& expected);

} // namespace sonvex::testkit
