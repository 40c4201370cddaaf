// SPDX-License-Identifier: GPL-3.0-or-later
// The records of a VAB header (VH) as the bank converter and the scanner read them,
// where each lies relative to the VH base, and the checks that both apply to them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace sonvex {

class ChunkFile;

// Byte sizes and positions inside a VH, relative to its first byte (the "pBAV" magic).
constexpr int64_t kVabHeaderSize = 32;
constexpr int64_t kProgramRecordSize = 16;
constexpr int kProgramSlots = 128;
constexpr int64_t kToneRecordSize = 32;
constexpr int kToneRecordPlaces = 16; // per non-empty program
constexpr int64_t kToneRecordBase = kVabHeaderSize + kProgramSlots * kProgramRecordSize; // 2080
constexpr int64_t kProgramToneBlock = kToneRecordPlaces * kToneRecordSize;               // 512
constexpr int64_t kVagSizeTableSize = 512;

// Limits the converter and the scanner apply.
constexpr uint16_t kMaxPrograms = 128;
constexpr uint16_t kMaxTones = 2048;
constexpr uint16_t kMaxVags = 254;
constexpr uint8_t kMaxTonesPerProgram = 16;
constexpr int16_t kMaxVagNumber = 255;

// The three header fields used; the rest of the 32 bytes is not read.
struct VabHeader {
    uint16_t programCount = 0; // +18, u16: non-empty programs
    uint16_t toneCount = 0;    // +20, u16: tones of all programs
    uint16_t vagCount = 0;     // +22, u16: samples in the VB
};

// One of the 128 program slots (16 bytes at VH + 32 + 16 × slot).
struct ProgramRecord {
    uint8_t toneCount = 0; // +0, u8: tones of the program, 0 = empty slot
    uint8_t volume = 0;    // +1, u8: program master volume
    uint8_t pan = 0;       // +4, u8: program master pan
};

// One tone (32 bytes at VH + 2080 + 512 × k + 32 × j, k = non-empty programs before it).
struct ToneRecord {
    uint8_t mode = 0;       // +1, u8: tone mode
    uint8_t volume = 0;     // +2, u8: 0..127
    uint8_t pan = 0;        // +3, u8: 0..127, 64 = centre
    uint8_t centreNote = 0; // +4, u8: unity note of the region
    uint8_t fineTune = 0;   // +5, u8: 0..127 maps to -50..+50 cents
    uint8_t lowKey = 0;     // +6, u8
    uint8_t highKey = 0;    // +7, u8
    uint8_t bendDown = 0;   // +12, u8: pitch-bend range down, semitones
    uint8_t bendUp = 0;     // +13, u8: pitch-bend range up, semitones
    uint16_t adsr1 = 0;     // +16, u16: attack (bits 8..14), decay (4..7), sustain level (0..3)
    uint16_t adsr2 = 0;    // +18, u16: sustain mode (14..15), release mode (5), release rate (0..4)
    int16_t vagNumber = 0; // +22, s16: 1-based sample index; 0 and 255 mean no sample
};

// The table of sample sizes that closes the VH, at VagSizeTableOffset: 256 u16 entries;
// entry i + 1 is the size of sample i in units of 8 bytes, entry 0 is not used. In the
// banks games store, the sizes of the VAG count samples add up to the length of the VB.
constexpr int kVagSizeEntries = 256;
constexpr int64_t kVagSizeUnit = 8;

struct VagSizeTable {
    std::array<uint16_t, kVagSizeEntries> entries{}; // +2 × e, u16 each: units of 8 bytes

    // Bytes of sample i (from 0); 0 past the table.
    int64_t SampleSize(int i) const;
    // Bytes from the start of the VB to sample i: the sizes of samples 0 .. i - 1.
    int64_t SampleOffset(int i) const;
    // Bytes of the first `vagCount` samples together: the VB's length by the table.
    int64_t Total(int vagCount) const { return SampleOffset(vagCount); }
};
static_assert(kVagSizeEntries * 2 == kVagSizeTableSize);

// Field extraction from the raw record bytes; never reads outside the span.
VabHeader ParseVabHeader(std::span<const uint8_t, kVabHeaderSize> bytes);
ProgramRecord ParseProgramRecord(std::span<const uint8_t, kProgramRecordSize> bytes);
ToneRecord ParseToneRecord(std::span<const uint8_t, kToneRecordSize> bytes);
VagSizeTable ParseVagSizeTable(std::span<const uint8_t, kVagSizeTableSize> bytes);

constexpr int64_t ProgramRecordOffset(int slot) {
    return kVabHeaderSize + kProgramRecordSize * slot;
}
constexpr int64_t ToneRecordOffset(int k, int j) {
    return kToneRecordBase + kProgramToneBlock * k + kToneRecordSize * j;
}
constexpr int64_t VagSizeTableOffset(uint16_t programCount) {
    return kToneRecordBase + kProgramToneBlock * programCount;
}
// Bytes from the VH base to the end of the VH: header, program slots, the tone records of
// every non-empty program and the table of sample sizes.
constexpr int64_t VabHeaderExtent(uint16_t programCount) {
    return kToneRecordBase + kProgramToneBlock * programCount + kVagSizeTableSize;
}

// A flags byte that marks the first data block of a sample (after its all-zero block).
constexpr bool IsVagStartFlags(uint8_t flags) {
    return flags == 2 || flags == 4 || flags == 5 || flags == 6;
}

// An ADPCM block that can stand at the start of a bank body: byte 0 holds a filter index
// 0..4 (high nibble) and a shift 0..12 (low nibble), byte 1 flags 0..7. An all-zero block
// qualifies.
constexpr bool IsPlausibleBodyBlock(uint8_t header, uint8_t flags) {
    return (header >> 4) <= 4 && (header & 0x0F) <= 12 && flags <= 7;
}

// What a check of VH data found. The converter maps FormatError to result 1 and
// ShortRead to result 2; the scanner to Reject and StopScan.
enum class [[nodiscard]] VabCheck{Ok, FormatError, ShortRead};

// Tone count above 2048 or program count above 128.
VabCheck CheckVabCounts(const VabHeader& header);
// VAG count above 254.
VabCheck CheckVagCount(const VabHeader& header);
// A program with more than 16 tones.
VabCheck CheckProgramRecord(const ProgramRecord& program);
// A VAG number above 255 (signed).
VabCheck CheckToneRecord(const ToneRecord& tone);
// VAG numbers 0 and 255 name no sample.
constexpr bool ToneHasSample(const ToneRecord& tone) {
    return tone.vagNumber != 0 && tone.vagNumber != 255;
}

// The shortest body the table of sample sizes may describe for the samples to be
// located by it: one ADPCM block.
constexpr int64_t kMinBodyBySizeTable = 16;

// Reads the records of the VH whose first byte is at `base` in `file`: each returns
// false on a short read (and leaves the record untouched).
bool ReadVabHeader(ChunkFile& file, int64_t base, VabHeader& header);
bool ReadProgramRecord(ChunkFile& file, int64_t base, int slot, ProgramRecord& program);
bool ReadToneRecord(ChunkFile& file, int64_t base, int k, int j, ToneRecord& tone);
// The table of sample sizes of a VH with `programCount` non-empty programs.
bool ReadVagSizeTable(ChunkFile& file, int64_t base, uint16_t programCount, VagSizeTable& table);
// The length the VH at `base` gives its body: the sizes of its VAG count samples added
// up; -1 when the header or the table cannot be read.
int64_t BodyLengthBySizeTable(ChunkFile& file, int64_t base);

// The whole VH check in the order the converter meets its conditions: the header, its
// counts, then the program slots in order (stopping once `programCount` non-empty slots
// have been seen) with each program's tone records, and last the VAG count. On Ok,
// `header` holds the header read, and the VH ends at base + VabHeaderExtent(programCount).
VabCheck ValidateVabHeader(ChunkFile& file, int64_t base, VabHeader& header);

} // namespace sonvex
