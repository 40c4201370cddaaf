// SPDX-License-Identifier: GPL-3.0-or-later
// Builds Standard MIDI Files event by event from readable calls, with header fields
// that can be set wrong on purpose, for the segment builder's tests and fuzz seeds.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

class SmfBuilder {
  public:
    explicit SmfBuilder(uint16_t division = 480) : division_(division) {}

    // Header fields, right by default (length 6, format 0, one track).
    SmfBuilder& headerLength(uint32_t v) {
        headerLength_ = v;
        return *this;
    }
    SmfBuilder& format(uint16_t v) {
        format_ = v;
        return *this;
    }
    SmfBuilder& trackCount(uint16_t v) {
        trackCount_ = v;
        return *this;
    }
    SmfBuilder& division(uint16_t v) {
        division_ = v;
        return *this;
    }

    // Channel events; every one carries its own status byte. Deltas are in ticks.
    SmfBuilder& noteOn(uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity);
    SmfBuilder& noteOff(uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity = 64);
    SmfBuilder& control(uint32_t delta, uint8_t channel, uint8_t controller, uint8_t value);
    SmfBuilder& program(uint32_t delta, uint8_t channel, uint8_t program);
    // A 14-bit bend value, 0x2000 being the centre.
    SmfBuilder& bend(uint32_t delta, uint8_t channel, uint16_t value);
    // Any status byte with the data bytes given (pressure events, bad statuses).
    SmfBuilder& event(uint32_t delta, uint8_t status, const Bytes& data);

    // System exclusive: F0, the length as a variable-length quantity, then `body`.
    SmfBuilder& sysex(uint32_t delta, const Bytes& body);
    // A meta event with a one-byte length (at most 255 data bytes).
    SmfBuilder& meta(uint32_t delta, uint8_t type, const Bytes& data);
    SmfBuilder& text(uint32_t delta, std::string_view s);
    SmfBuilder& marker(uint32_t delta, std::string_view s);
    SmfBuilder& trackName(uint32_t delta, std::string_view s);
    SmfBuilder& tempo(uint32_t delta, uint32_t microsecondsPerQuarter);
    SmfBuilder& timeSignature(uint32_t delta, uint8_t numerator, uint8_t denominatorPower);
    SmfBuilder& endOfTrack(uint32_t delta);

    // Ends the track being built and starts another (for format 1 files; trackCount is
    // not changed).
    SmfBuilder& nextTrack();

    // Bytes placed into the track as they are (running status, cut-off events).
    SmfBuilder& raw(const Bytes& bytes);

    // The preamble the program's SMF writer puts first: track name, meta type 02, XG
    // System On, the tempo at tick 4 and the time signature at tick 12.
    SmfBuilder& writerPreamble(uint32_t microsecondsPerQuarter, uint8_t numerator,
                               uint8_t denominatorPower);

    // The file: header chunk, "MTrk" with the track length, the events, and one zero
    // byte after an odd track as the program's writer adds it (a single track only).
    Bytes build() const;

  private:
    uint32_t headerLength_ = 6;
    uint16_t format_ = 0;
    uint16_t trackCount_ = 1;
    uint16_t division_;
    std::vector<Bytes> done_; // tracks ended by nextTrack
    ByteBuilder track_;
};

} // namespace sonvex::testkit
