// SPDX-License-Identifier: GPL-3.0-or-later
// Strict SMF reading and byte-difference reports for tests.
#include "testkit/smf_reader.h"

#include <algorithm>
#include <cstdio>

#include "formats/smf.h"

namespace sonvex::testkit {

namespace {

std::string At(size_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%06zX", offset);
    return text;
}

} // namespace

std::optional<SmfImage> ReadSmf(const Bytes& file, std::string& error) {
    const SmfRead read = sonvex::ReadSmf(file, SmfDialect::Strict);
    if (read.status != SmfReadStatus::Ok) {
        error = read.diagnostics.failure;
        return std::nullopt;
    }
    SmfImage image;
    image.format = read.smf.format;
    image.trackCount = read.smf.trackCount;
    image.division = read.smf.division;
    const SmfTrack& track = read.smf.tracks.front();
    image.trackLength = track.length;
    image.padded = (track.length & 1) != 0;
    for (const SmfTrackEvent& e : track.events) {
        SmfEvent event;
        event.tick = static_cast<uint32_t>(e.tick);
        event.delta = e.delta;
        event.bytes.push_back(e.status);
        if (e.status < 0xF0) {
            event.bytes.push_back(e.data1);
            if (e.Kind() != 0xC0 && e.Kind() != 0xD0) {
                event.bytes.push_back(e.data2);
            }
        } else {
            if (e.status == 0xFF) {
                event.bytes.push_back(e.metaType);
            }
            event.bytes.insert(event.bytes.end(), e.data.begin(), e.data.end());
        }
        image.events.push_back(std::move(event));
    }
    return image;
}

std::string DescribeByteDifference(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) {
        return {};
    }
    size_t first = 0;
    while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) {
        ++first;
    }
    auto dump = [first](const Bytes& bytes) {
        const size_t from = first >= 8 ? first - 8 : 0;
        const size_t to = std::min(bytes.size(), first + 16);
        std::string text;
        char hex[8];
        for (size_t i = from; i < to; ++i) {
            std::snprintf(hex, sizeof hex, i == first ? "[%02X]" : " %02X ", bytes[i]);
            text += hex;
        }
        return At(from) + ":" + text;
    };
    return "first difference at " + At(first) + " (actual " + std::to_string(actual.size()) +
           " bytes, expected " + std::to_string(expected.size()) + " bytes)\n  actual   " +
           dump(actual) + "\n  expected " + dump(expected);
}

} // namespace sonvex::testkit
