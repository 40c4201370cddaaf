// SPDX-License-Identifier: GPL-3.0-or-later
// Expected SMF bytes built from the file layout of the writer (chunk headers, preamble,
// events, pad byte), and the fixture that runs a converter over an in-memory game file.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "chunkfile/file_system.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/smf_builder.h"
#include "testkit/smf_reader.h"

namespace sonvex::testkit {

// Fails the test with the first differing offset and both sides around it.
#define EXPECT_SAME_BYTES(actual, expected)                                                        \
    EXPECT_EQ(::sonvex::testkit::DescribeByteDifference((actual), (expected)), "")

// Track events of an expected SMF, written out byte by byte.
class SmfTrackBytes {
  public:
    SmfTrackBytes& ev(uint32_t delta, std::initializer_list<uint8_t> bytes) {
        out_.varLen(delta);
        for (uint8_t b : bytes) {
            out_.u8(b);
        }
        return *this;
    }
    // Bytes with no delta before them (the second half of a bank select pair and the like).
    SmfTrackBytes& raw(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) {
            out_.u8(b);
        }
        return *this;
    }
    SmfTrackBytes& raw(const Bytes& bytes) {
        out_.append(bytes);
        return *this;
    }
    SmfTrackBytes& marker(uint32_t delta, std::string_view text) {
        out_.varLen(delta)
            .u8(0xFF)
            .u8(0x06)
            .u8(static_cast<uint32_t>(text.size() + 1))
            .text(text)
            .u8(0);
        return *this;
    }
    SmfTrackBytes& loopCount(uint32_t delta, std::string_view digits) {
        out_.varLen(delta).u8(0xFF).u8(0x01).u8(0x04).text(digits).u8(0);
        return *this;
    }
    SmfTrackBytes& end(uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }
    const Bytes& bytes() const { return out_.bytes(); }

  private:
    ByteBuilder out_;
};

// The whole file the writer must produce around `events`: its preamble first, and a pad
// byte after an odd track.
inline Bytes ExpectedSmf(uint16_t division, uint32_t tempo, uint8_t numerator,
                         uint8_t denominatorExponent, const SmfTrackBytes& events) {
    return SmfBuilder(division)
        .writerPreamble(tempo, numerator, denominatorExponent)
        .raw(events.bytes())
        .build();
}

// Runs converters against an in-memory file system; the game file is "game".
class InMemoryConversion : public ::testing::Test {
  protected:
    static constexpr const char* kGame = "game";
    static constexpr const char* kStem = "out/list_000";

    MemoryFileSystem fs;
    ScopedFileSystem guard{fs};
    RecordingFeedback feedback;

    std::string Named(std::string_view suffix) const {
        return std::string(kStem) + std::string(suffix);
    }
    bool Exists(std::string_view suffix) const { return fs.Exists(Named(suffix)); }
    const Bytes& Output(std::string_view suffix) const { return fs.Contents(Named(suffix)); }
};

} // namespace sonvex::testkit
