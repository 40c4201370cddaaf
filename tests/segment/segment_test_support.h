// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the segment tests: fixed GUIDs, an expected segment file assembled from the
// format tables with testkit's RIFF nodes, and a byte comparison naming the first
// differing offset.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/guid.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"

namespace sonvex::segtest {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::RiffNode;

// The k-th GUID of a conversion (segment first, then the bands in order).
inline Guid TestGuid(int k) {
    Guid g;
    g.data1 = 0xA0000000u + static_cast<uint32_t>(k);
    g.data2 = 0x1111;
    g.data3 = 0x2222;
    g.data4 = {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, static_cast<uint8_t>(k)};
    return g;
}

// Little-endian bytes of a GUID given in registry text form.
inline Bytes GuidBytes(const char* text) {
    unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2],
                &b[3], &b[4], &b[5], &b[6], &b[7]);
    ByteBuilder out;
    out.u32le(d1).u16le(d2).u16le(d3);
    for (unsigned v : b) {
        out.u8(v);
    }
    return out.take();
}

inline Bytes GuidBytes(const Guid& g) {
    ByteBuilder out;
    out.u32le(g.data1).u16le(g.data2).u16le(g.data3);
    for (uint8_t v : g.data4) {
        out.u8(v);
    }
    return out.take();
}

// UTF-16LE with the terminating NUL.
inline Bytes Utf16z(std::u16string_view s) {
    ByteBuilder out;
    for (char16_t c : s) {
        out.u16le(c);
    }
    return out.u16le(0).take();
}

struct ExpectedItem {
    int32_t time;
    int32_t duration;
    uint32_t channel;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

struct ExpectedInstrument {
    uint8_t program;
    uint8_t channel;
    uint8_t pan;
    uint8_t volume;
    int16_t bendRange;
};

struct ExpectedBand {
    int32_t time;
    std::u16string name;
    std::vector<ExpectedInstrument> instruments;
};

struct ExpectedSegment {
    std::u16string name = u"song";
    std::u16string dlsName = u"bank";
    std::u16string dlsFile = u"bank.dls";
    uint32_t repeats = 0;
    int32_t length = 0;
    int32_t loopStart = 0;
    int32_t loopEnd = 0;
    std::vector<std::pair<int32_t, double>> tempos; // time, beats per minute
    std::vector<ExpectedItem> items;
    std::vector<ExpectedBand> bands{{0, u"Band1", {}}};
    int32_t timeSignatureTime = 0;
    uint8_t beatsPerMeasure = 4;
    uint8_t beat = 4;

    Bytes Build() const;
};

// Empty when equal; else the first differing offset and a few bytes of each side.
std::string ByteDifference(const Bytes& actual, const Bytes& expected);

#define EXPECT_SAME_BYTES(actual, expected)                                                        \
    do {                                                                                           \
        const std::string difference_ = ::sonvex::segtest::ByteDifference((actual), (expected));   \
        EXPECT_TRUE(difference_.empty()) << difference_;                                           \
    } while (0)

} // namespace sonvex::segtest
