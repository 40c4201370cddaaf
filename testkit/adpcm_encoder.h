// SPDX-License-Identifier: GPL-3.0-or-later
// A PlayStation ADPCM encoder for tests: picks, per 16-byte block, the filter and shift
// that give the smallest squared error, and assembles whole samples (VAGs) with their
// leading zero block and the flags that mark loop start, loop end and end.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// Flags byte values of a block.
constexpr uint8_t kVagFlagEnd = 1;
constexpr uint8_t kVagFlagBody = 2;
constexpr uint8_t kVagFlagLoopEnd = 3;
constexpr uint8_t kVagFlagLoopStart = 6;
constexpr uint8_t kVagFlagSkip = 7;

// One block from its parts: byte 0 = shift | filter << 4, byte 1 = flags, then 28 nibbles
// (-8..7), the earlier sample in the low nibble.
Bytes AdpcmBlock(uint8_t shift, uint8_t filter, uint8_t flags, std::span<const int> nibbles);

// Encodes PCM into blocks of 28 samples (the last one padded with zeros), all flags 0.
Bytes EncodeAdpcm(std::span<const int16_t> pcm);

// The PCM the blocks decode to, computed the way the hardware does (double history,
// rounding by adding 0.5 and truncating, saturation); used to check the encoder itself.
std::vector<int16_t> DecodeAdpcmForTest(const Bytes& blocks);

struct VagShape {
    std::optional<size_t> loopStartBlock; // data block (from 0) that gets flags 6
    std::optional<size_t> loopEndBlock;   // data block that gets flags 3; the sample ends there
    bool skipBlockAtEnd = false;          // append a flags-7 block after the last block
    // Banks made by other tools: no leading zero block (the first data block comes at
    // once), and a first data block whose flags are not 2 (0 is usual). The flags of a
    // loop start at block 0 take precedence over firstBlockFlags.
    bool zeroBlock = true;
    std::optional<uint8_t> firstBlockFlags;
};

// A sample as it lies in a VB: 16 zero bytes, then the data blocks. The first data block
// carries flags 2 (or 6 when the loop starts there) so that the sample can be found; the
// last carries 1 unless a loop end or a skip block closes the sample. VagShape can leave
// out the zero block and give the first data block other flags.
Bytes MakeVag(std::span<const int16_t> pcm, const VagShape& shape = {});

// Sets the flags byte of block `block` (the zero block is block 0).
void SetBlockFlags(Bytes& vag, size_t block, uint8_t flags);

} // namespace sonvex::testkit
