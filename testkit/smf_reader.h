// SPDX-License-Identifier: GPL-3.0-or-later
// The Standard MIDI Files the converters write, as tests look at them (read in the strict
// dialect of formats/smf.h), and a byte comparison that names the first differing offset.
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
// file is exactly what SmfDialect::Strict accepts.
std::optional<SmfImage> ReadSmf(const Bytes& file, std::string& error);

// Empty when equal; otherwise the first differing offset, both lengths, and both sides
// in hex around that offset.
std::string DescribeByteDifference(const Bytes& actual, const Bytes& expected);

} // namespace sonvex::testkit
