// SPDX-License-Identifier: GPL-3.0-or-later
// Exhaustive per-block filter and shift search for PlayStation ADPCM.
#include "testkit/adpcm_encoder.h"

#include <cmath>
#include <limits>

namespace sonvex::testkit {

namespace {

constexpr size_t kSamples = 28;
constexpr std::array<std::array<double, 2>, 5> kFilters = {{
    {0.0, 0.0},
    {60.0 / 64.0, 0.0},
    {115.0 / 64.0, -52.0 / 64.0},
    {98.0 / 64.0, -55.0 / 64.0},
    {122.0 / 64.0, -60.0 / 64.0},
}};

struct History {
    double previous = 0.0;
    double beforePrevious = 0.0;
};

int16_t Saturate(double y) {
    const double v = y + 0.5;
    if (v >= 32767.0) {
        return 32767;
    }
    if (v <= -32768.0) {
        return -32768;
    }
    return static_cast<int16_t>(v);
}

int RawValue(int nibble, int shift) {
    const int top = static_cast<int16_t>(static_cast<uint16_t>((nibble & 0xF) << 12));
    return top >> shift;
}

// Encodes one block with a given filter and shift; returns the squared error and
// advances `history` as the decoder would.
double TryBlock(std::span<const int16_t> target, int filter, int shift, History& history,
                std::array<int, kSamples>& nibbles) {
    const double c1 = kFilters[static_cast<size_t>(filter)][0];
    const double c2 = kFilters[static_cast<size_t>(filter)][1];
    const double step = std::ldexp(1.0, 12 - shift);
    double error = 0.0;
    for (size_t n = 0; n < kSamples; ++n) {
        const double x = n < target.size() ? target[n] : 0.0;
        const double predicted = history.previous * c1 + history.beforePrevious * c2;
        long nibble = std::lround((x - predicted) / step);
        nibble = nibble < -8 ? -8 : (nibble > 7 ? 7 : nibble);
        nibbles[n] = static_cast<int>(nibble);
        const double y = history.previous * c1 + RawValue(static_cast<int>(nibble), shift) +
                         history.beforePrevious * c2;
        history.beforePrevious = history.previous;
        history.previous = y;
        const double d = x - Saturate(y);
        error += d * d;
    }
    return error;
}

} // namespace

Bytes AdpcmBlock(uint8_t shift, uint8_t filter, uint8_t flags, std::span<const int> nibbles) {
    ByteBuilder b;
    b.u8(static_cast<uint32_t>((shift & 0xF) | (filter << 4))).u8(flags);
    for (size_t i = 0; i < 14; ++i) {
        const int lo = 2 * i < nibbles.size() ? nibbles[2 * i] : 0;
        const int hi = 2 * i + 1 < nibbles.size() ? nibbles[2 * i + 1] : 0;
        b.u8(static_cast<uint32_t>((lo & 0xF) | ((hi & 0xF) << 4)));
    }
    return b.take();
}

Bytes EncodeAdpcm(std::span<const int16_t> pcm) {
    ByteBuilder out;
    History history;
    for (size_t start = 0; start < pcm.size(); start += kSamples) {
        const auto target = pcm.subspan(start, std::min(kSamples, pcm.size() - start));
        double best = std::numeric_limits<double>::infinity();
        int bestFilter = 0;
        int bestShift = 0;
        std::array<int, kSamples> bestNibbles{};
        History bestHistory;
        for (int filter = 0; filter < 5; ++filter) {
            for (int shift = 0; shift <= 12; ++shift) {
                History trial = history;
                std::array<int, kSamples> nibbles{};
                const double error = TryBlock(target, filter, shift, trial, nibbles);
                if (error < best) {
                    best = error;
                    bestFilter = filter;
                    bestShift = shift;
                    bestNibbles = nibbles;
                    bestHistory = trial;
                }
            }
        }
        history = bestHistory;
        out.append(AdpcmBlock(static_cast<uint8_t>(bestShift), static_cast<uint8_t>(bestFilter), 0,
                              bestNibbles));
    }
    return out.take();
}

std::vector<int16_t> DecodeAdpcmForTest(const Bytes& blocks) {
    std::vector<int16_t> pcm;
    History history;
    for (size_t at = 0; at + 16 <= blocks.size(); at += 16) {
        const int shift = blocks[at] & 0xF;
        const size_t filter = std::min<size_t>(blocks[at] >> 4, 4);
        for (size_t n = 0; n < kSamples; ++n) {
            const uint8_t byte = blocks[at + 2 + n / 2];
            const int nibble = n % 2 == 0 ? (byte & 0xF) : (byte >> 4);
            const double y = history.previous * kFilters[filter][0] + RawValue(nibble, shift) +
                             history.beforePrevious * kFilters[filter][1];
            history.beforePrevious = history.previous;
            history.previous = y;
            pcm.push_back(Saturate(y));
        }
    }
    return pcm;
}

Bytes MakeVag(std::span<const int16_t> pcm, const VagShape& shape) {
    Bytes data = EncodeAdpcm(pcm);
    size_t blocks = data.size() / 16;
    if (blocks == 0) {
        data.assign(16, 0);
        blocks = 1;
    }
    if (shape.loopEndBlock && *shape.loopEndBlock + 1 < blocks) {
        blocks = *shape.loopEndBlock + 1;
        data.resize(blocks * 16);
    }
    if (blocks == 1 && !shape.skipBlockAtEnd && !shape.loopEndBlock && !shape.loopStartBlock) {
        // The first data block must carry a start flag to be found, so the end flag
        // goes on one more, silent block.
        data.resize(32, 0);
        blocks = 2;
    }
    for (size_t i = 0; i < blocks; ++i) {
        data[i * 16 + 1] = 0;
    }
    data[1] = shape.firstBlockFlags ? *shape.firstBlockFlags : kVagFlagBody;
    if (!shape.skipBlockAtEnd && !shape.loopEndBlock) {
        data[(blocks - 1) * 16 + 1] = kVagFlagEnd;
    }
    if (shape.loopEndBlock && *shape.loopEndBlock < blocks) {
        data[*shape.loopEndBlock * 16 + 1] = kVagFlagLoopEnd;
    }
    if (shape.loopStartBlock && *shape.loopStartBlock < blocks) {
        data[*shape.loopStartBlock * 16 + 1] = kVagFlagLoopStart;
    }
    ByteBuilder vag;
    if (shape.zeroBlock) {
        vag.fill(16, 0);
    }
    vag.append(data);
    if (shape.skipBlockAtEnd) {
        vag.u8(0).u8(kVagFlagSkip).fill(14, 0x77);
    }
    return vag.take();
}

void SetBlockFlags(Bytes& vag, size_t block, uint8_t flags) {
    if (block * 16 + 1 < vag.size()) {
        vag[block * 16 + 1] = flags;
    }
}

} // namespace sonvex::testkit
