// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds any bytes to the counted read of a whole convert list (ParseList) and checks
// that what it took agrees with the bytes it was given.
#include <cstddef>
#include <cstdint>
#include <span>

#include "convlist/convert_list.h"
#include "fuzz/convert_list_seeds.h"
#include "fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("convlist_load", sonvex::fuzz::ConvertListSeeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::ConvertList list;
    const sonvex::ListLoad result = sonvex::ParseList(std::span<const uint8_t>(data, size), list);
    // Every entry taken occupies its bytes inside the input, and no more than count are taken.
    size_t used = 5 + static_cast<size_t>(list.pathLength);
    for (const auto& entry : list.entries) {
        used += static_cast<size_t>(entry.StoredLength());
        if (entry.fileName.size() > entry.nameLength) {
            __builtin_trap();
        }
    }
    if (result != sonvex::ListLoad::ShortHeader && used > size) {
        __builtin_trap();
    }
    if (list.entries.size() > list.count ||
        (result == sonvex::ListLoad::Ok && list.entries.size() != list.count)) {
        __builtin_trap();
    }
    if (!list.entries.empty() && list.entries.back().size != 0) {
        __builtin_trap();
    }
    return 0;
}
