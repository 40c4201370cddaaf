// SPDX-License-Identifier: GPL-3.0-or-later
// The seeds both convert-list targets start from: a sound list and every hostile list
// that is more than a truncation of another (libFuzzer finds those by itself).
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz/seed_corpus.h"
#include "testkit/hostile_inputs.h"

namespace sonvex::fuzz {

inline std::vector<std::vector<uint8_t>> ConvertListSeeds() {
    std::vector<std::vector<uint8_t>> seeds = {testkit::SoundConvertList()};
    for (const testkit::HostileInput& list : testkit::HostileConvertLists()) {
        if (!IsTruncation(list.name)) {
            seeds.push_back(list.bytes);
        }
    }
    return seeds;
}

} // namespace sonvex::fuzz
