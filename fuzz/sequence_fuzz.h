// SPDX-License-Identifier: GPL-3.0-or-later
// What the two sequence converters' fuzz targets share: seeds whose first two bytes are
// the item position, and a failure that names the target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/seed_corpus.h"
#include "testkit/hostile_inputs.h"
#include "testkit/seq_builder.h"

namespace sonvex::fuzz {

// The position (two bytes, little-endian) followed by the game file bytes.
inline std::vector<uint8_t> PositionedSeed(uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> seed = {static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8)};
    seed.insert(seed.end(), bytes.begin(), bytes.end());
    return seed;
}

// Sample items, then the hostile ones that fit the two-byte position and the seed size
// (truncations are left to the fuzzer, which makes them itself).
inline std::vector<std::vector<uint8_t>>
SequenceSeeds(const std::vector<testkit::SampleItem>& samples,
              const std::vector<testkit::HostileInput>& hostile) {
    std::vector<std::vector<uint8_t>> seeds;
    for (const testkit::SampleItem& item : samples) {
        seeds.push_back(PositionedSeed(item.offset, item.bytes));
    }
    for (const testkit::HostileInput& item : hostile) {
        if (IsTruncation(item.name) || item.offset > 0xFFFF || item.bytes.size() > kMaxSeedSize) {
            continue;
        }
        seeds.push_back(PositionedSeed(item.offset, item.bytes));
    }
    return seeds;
}

[[noreturn]] inline void FailTarget(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::abort();
}

} // namespace sonvex::fuzz
