// SPDX-License-Identifier: GPL-3.0-or-later
// Seeds for a fuzz target, built with testkit at run time instead of stored as blobs:
// when SONVEX_FUZZ_WRITE_SEEDS names a folder, the target writes its seeds there
// (scripts/run-fuzzers.sh asks for them before each run).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace sonvex::fuzz {

inline void WriteSeedsIfAsked(const char* targetName,
                              const std::vector<std::vector<uint8_t>>& seeds) {
    const char* folder = std::getenv("SONVEX_FUZZ_WRITE_SEEDS");
    if (!folder || !*folder) {
        return;
    }
    for (size_t i = 0; i < seeds.size(); ++i) {
        const std::string path =
            std::string(folder) + "/seed-" + targetName + "-" + std::to_string(i);
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(seeds[i].data(), 1, seeds[i].size(), f);
            std::fclose(f);
        }
    }
}

// A hostile recipe's name marks the prefixes that EveryTruncation makes; the fuzzer
// reaches those by itself, so seeds take the other recipes.
inline bool IsTruncation(const std::string& name) {
    return name.find(" cut at ") != std::string::npos;
}

// Seeds larger than this slow every run of the target more than they help.
constexpr size_t kMaxSeedSize = 64 * 1024;

} // namespace sonvex::fuzz
