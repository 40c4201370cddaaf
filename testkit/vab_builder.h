// SPDX-License-Identifier: GPL-3.0-or-later
// Describes a VAB sound bank (VH attributes, VB samples) in readable terms and builds its
// bytes: programs in any slots, tones with any field values, samples with gaps between.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// The 32-byte tone record; every field is written where the VH holds it.
struct VabTone {
    uint8_t priority = 0;     // +0
    uint8_t mode = 0;         // +1
    uint8_t volume = 127;     // +2
    uint8_t pan = 64;         // +3
    uint8_t centreNote = 60;  // +4
    uint8_t fineTune = 0;     // +5
    uint8_t lowKey = 0;       // +6
    uint8_t highKey = 127;    // +7
    uint8_t vibratoWidth = 0; // +8
    uint8_t vibratoTime = 0;  // +9
    uint8_t portaWidth = 0;   // +10
    uint8_t portaTime = 0;    // +11
    uint8_t bendDown = 2;     // +12
    uint8_t bendUp = 2;       // +13
    uint16_t adsr1 = 0x80FF;  // +16
    uint16_t adsr2 = 0x5FC0;  // +18
    int16_t program = 0;      // +20 (the builder writes the slot unless set here)
    int16_t vagNumber = 1;    // +22
    bool programSet = false;
};

struct VabProgram {
    uint8_t volume = 127; // +1
    uint8_t priority = 0; // +2
    uint8_t mode = 0;     // +3
    uint8_t pan = 64;     // +4
    std::vector<VabTone> tones;
    // The tone count written at +0 when it should differ from tones.size().
    std::optional<uint8_t> toneCountField;
};

class VabBuilder {
  public:
    // Places a program in a slot (0..127); slots left out are empty.
    VabBuilder& program(int slot, VabProgram description);
    // Appends a sample body (as MakeVag returns) to the VB, followed by `gapAfter` bytes.
    VabBuilder& sample(Bytes vag, size_t gapAfter = 0, uint8_t gapByte = 0);
    // Bytes at the start of the VB before the first sample.
    VabBuilder& vbLead(size_t bytes, uint8_t value = 0);
    // Header fields written instead of the counts the builder derives.
    VabBuilder& programCount(uint16_t n);
    VabBuilder& toneCount(uint16_t n);
    VabBuilder& vagCount(uint16_t n);
    // Entry `index` (0..255) of the table of sample sizes, in units of 8 bytes, written
    // instead of the size the builder derives (entry i + 1 holds sample i).
    VabBuilder& sizeTableEntry(size_t index, uint16_t units);

    // Header, 128 program slots, 16 tone record places per non-empty program (in slot
    // order), and the 512-byte table of sample sizes.
    Bytes BuildVh() const;
    Bytes BuildVb() const;

  private:
    std::map<int, VabProgram> programs_;
    std::vector<Bytes> samples_;
    std::vector<Bytes> gaps_;
    Bytes lead_;
    std::optional<uint16_t> programCount_;
    std::optional<uint16_t> toneCount_;
    std::optional<uint16_t> vagCount_;
    std::map<size_t, uint16_t> sizeEntries_;
};

// A program holding these tones, master volume 127 and pan 64.
VabProgram Program(std::vector<VabTone> tones);
// A tone that plays sample `vag` (1-based) over keys low..high.
VabTone Tone(int16_t vag, uint8_t lowKey = 0, uint8_t highKey = 127);

} // namespace sonvex::testkit
