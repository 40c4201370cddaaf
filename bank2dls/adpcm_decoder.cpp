// SPDX-License-Identifier: GPL-3.0-or-later
// PlayStation ADPCM block decoding in double precision.
#include "bank2dls/adpcm_decoder.h"

namespace sonvex {

const std::array<AdpcmFilter, kAdpcmFilterCount> kAdpcmFilters = {{
    {0.0, 0.0},
    {60.0 / 64.0, 0.0},
    {115.0 / 64.0, -52.0 / 64.0},
    {98.0 / 64.0, -55.0 / 64.0},
    {122.0 / 64.0, -60.0 / 64.0},
}};

int16_t RoundAdpcmSample(double y) {
    const double v = y + 0.5;
    // Truncation toward zero of v lands in range exactly when -32769 < v < 32768.
    if (v >= 32767.0) {
        return 32767;
    }
    if (v <= -32768.0) {
        return -32768;
    }
    return static_cast<int16_t>(v);
}

AdpcmBlockResult DecodeAdpcmBlock(std::span<const uint8_t, kAdpcmBlockSize> block,
                                  PredictorHistory& history,
                                  std::array<int16_t, kAdpcmBlockSamples>& pcm) {
    const uint8_t filterIndex = AdpcmFilterIndex(block[0]);
    if (filterIndex >= kAdpcmFilterCount) {
        return AdpcmBlockResult::BadFilter;
    }
    const AdpcmFilter& filter = kAdpcmFilters[filterIndex];
    const int shift = AdpcmShift(block[0]);
    for (size_t n = 0; n < kAdpcmBlockSamples; ++n) {
        const uint8_t byte = block[2 + n / 2];
        const int nibble = (n % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
        // The nibble is the top four bits of a signed 16-bit value, shifted right arithmetically.
        const int top = static_cast<int16_t>(static_cast<uint16_t>(nibble << 12));
        const int raw = top >> shift;
        const double y = history.previous * filter.previous + raw +
                         history.beforePrevious * filter.beforePrevious;
        history.beforePrevious = history.previous;
        history.previous = y;
        pcm[n] = RoundAdpcmSample(y);
    }
    return AdpcmBlockResult::Ok;
}

} // namespace sonvex
