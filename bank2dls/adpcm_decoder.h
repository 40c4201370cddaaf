// SPDX-License-Identifier: GPL-3.0-or-later
// PlayStation ADPCM: one 16-byte block (shift and filter, flags, 28 four-bit samples)
// decoded to 28 PCM values against the two previous outputs. Knows nothing of VB or DLS.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace sonvex {

constexpr size_t kAdpcmBlockSize = 16;
constexpr size_t kAdpcmBlockSamples = 28;
constexpr int kAdpcmFilterCount = 5;

// The two previous decoded values, unrounded and unclamped; zero at the start of a wave.
struct PredictorHistory {
    double previous = 0.0;
    double beforePrevious = 0.0;
};

// Coefficients applied to the previous and the one-before-previous output.
struct AdpcmFilter {
    double previous;
    double beforePrevious;
};
extern const std::array<AdpcmFilter, kAdpcmFilterCount> kAdpcmFilters;

enum class [[nodiscard]] AdpcmBlockResult{
    Ok,
    BadFilter // filter index 5..15: the hardware has five filters
};

constexpr uint8_t AdpcmShift(uint8_t header) {
    return header & 0x0F;
}
constexpr uint8_t AdpcmFilterIndex(uint8_t header) {
    return header >> 4;
}

// A predicted value y as written: y + 0.5 truncated toward zero, then clamped to the
// 16-bit range as the sound hardware saturates.
int16_t RoundAdpcmSample(double y);

// Decodes the 14 data bytes of a block (bytes 2..15) with the block's header byte (byte 0).
// The history advances by 28 values. On BadFilter nothing is written and the history
// is left as it was.
[[nodiscard]] AdpcmBlockResult DecodeAdpcmBlock(std::span<const uint8_t, kAdpcmBlockSize> block,
                                                PredictorHistory& history,
                                                std::array<int16_t, kAdpcmBlockSamples>& pcm);

} // namespace sonvex
