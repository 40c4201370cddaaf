// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the game's sequence items from readable event lists: "pQES" single sequences,
// numbered sets of "pQES" sequences, and "SSsq" items with the header bytes that stand
// before their magic.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// The events of one sequence, in the game's encoding: a variable-length delta before
// every event, status bytes as given (running status only where `running` is used).
class SeqTrack {
  public:
    SeqTrack& noteOn(uint32_t delta, int channel, int key, int velocity) {
        return event(delta, {status(0x90, channel), byte(key), byte(velocity)});
    }
    SeqTrack& noteOff(uint32_t delta, int channel, int key, int velocity = 0x40) {
        return event(delta, {status(0x80, channel), byte(key), byte(velocity)});
    }
    SeqTrack& control(uint32_t delta, int channel, int controller, int value) {
        return event(delta, {status(0xB0, channel), byte(controller), byte(value)});
    }
    SeqTrack& program(uint32_t delta, int channel, int number) {
        return event(delta, {status(0xC0, channel), byte(number)});
    }
    // "pQES" pitch bend: two data bytes.
    SeqTrack& pitchBend(uint32_t delta, int channel, int lsb, int msb) {
        return event(delta, {status(0xE0, channel), byte(lsb), byte(msb)});
    }
    // "SSsq" pitch bend: one data byte.
    SeqTrack& pitchBend1(uint32_t delta, int channel, int value) {
        return event(delta, {status(0xE0, channel), byte(value)});
    }
    // "pQES" tempo: FF 51 and three bytes of microseconds per quarter note, no length byte.
    SeqTrack& tempo(uint32_t delta, uint32_t microsPerQuarter) {
        return event(delta, {0xFF, 0x51, byte(microsPerQuarter >> 16), byte(microsPerQuarter >> 8),
                             byte(microsPerQuarter)});
    }
    // "SSsq" tempo: FF 51 and beats per minute as two bytes little-endian.
    SeqTrack& tempoBpm(uint32_t delta, uint16_t beatsPerMinute) {
        return event(delta, {0xFF, 0x51, byte(beatsPerMinute), byte(beatsPerMinute >> 8)});
    }
    // Data bytes only: the event continues the running status.
    SeqTrack& running(uint32_t delta, std::initializer_list<uint8_t> data) {
        return event(delta, data);
    }
    // Any event: the delta, then the bytes as given.
    SeqTrack& event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
        bytes_.varLen(delta);
        for (uint8_t b : bytes) {
            bytes_.u8(b);
        }
        return *this;
    }
    // Bytes as given, for delta times no encoder would write (overlong or too large).
    SeqTrack& raw(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) {
            bytes_.u8(b);
        }
        return *this;
    }
    SeqTrack& endOfTrack(uint32_t delta = 0, uint8_t lengthByte = 0) {
        return event(delta, {0xFF, 0x2F, lengthByte});
    }

    const Bytes& bytes() const { return bytes_.bytes(); }
    size_t size() const { return bytes_.size(); }

  private:
    static uint8_t status(int high, int channel) {
        return static_cast<uint8_t>(high | (channel & 0x0F));
    }
    static uint8_t byte(uint32_t v) { return static_cast<uint8_t>(v); }

    ByteBuilder bytes_;
};

// Division, tempo and time signature of a "pQES" sequence header.
struct SeqTiming {
    uint16_t division = 480;         // ticks per quarter note
    uint32_t tempo = 500000;         // microseconds per quarter note (3 bytes stored)
    uint8_t numerator = 4;           // time-signature numerator
    uint8_t denominatorExponent = 2; // time-signature denominator as a power of two
};

// A single sequence: "pQES", the 4-byte version (its low half must not be 0, or the
// item reads as a numbered set), the timing, then the events right after byte 14.
Bytes BuildSingleSeq(const SeqTiming& timing, const SeqTrack& track, uint32_t version = 1);

struct NumberedSeq {
    uint16_t id = 0;
    SeqTiming timing;
    SeqTrack track;
};

struct SeqSetImage {
    Bytes bytes;
    std::vector<size_t> trackEnds; // offset just past each sequence's end-of-track event
};

// A numbered set: "pQES", a 2-byte version, then per sequence its id, division, tempo,
// time signature, the 4-byte length of its events, and the events. Ids are written as
// given, so tests can break the numbering.
SeqSetImage BuildSeqSet(const std::vector<NumberedSeq>& sequences, uint16_t version = 1);

// The same "pQES" item (single sequence or numbered set) stored with its magic bytes
// reversed, "SEQp", as some games have it; nothing else changes. Other bytes come back as
// they were.
Bytes WithReversedMagic(Bytes item);

// Where the magic of an item from BuildSsq stands.
constexpr size_t kSsqMagicOffset = 16;

// An "SSsq" item: 16 header bytes (ticks per quarter note little-endian at 6, beats per
// minute little-endian u32 at 8, filler elsewhere), "SSsq", 255 filler bytes, then the
// events, which therefore start 259 bytes after the magic.
Bytes BuildSsq(uint16_t division, uint32_t beatsPerMinute, const SeqTrack& track);

// A small game file holding one item, with where the item starts and what it holds.
struct SampleItem {
    std::string name; // what the item exercises
    uint64_t offset = 0;
    Bytes bytes;
};

// "pQES" items: single sequences and numbered sets with loops, bank selects, running
// status, dropped events and the end of a set at a gap, at id 16 and at the file end.
std::vector<SampleItem> SampleSeqItems();
// "SSsq" items: one-byte pitch bends, tempo events, loops, and a tempo of 0.
std::vector<SampleItem> SampleSsqItems();

} // namespace sonvex::testkit
