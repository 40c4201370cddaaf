// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the analysis tests: byte comparison that names the first differing
// offset, and checks run over bytes held in a memory file system.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "analysis/scan_checks.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "testkit/byte_builder.h"

namespace sonvex::testing {

using testkit::Bytes;

inline std::string HexAround(const Bytes& b, size_t at) {
    std::string out;
    const size_t from = at >= 8 ? at - 8 : 0;
    const size_t to = std::min(b.size(), at + 8);
    for (size_t i = from; i < to; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, i == at ? "[%02X]" : " %02X", b[i]);
        out += text;
    }
    return out;
}

inline ::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
    const size_t n = std::min(actual.size(), expected.size());
    size_t at = 0;
    while (at < n && actual[at] == expected[at]) {
        ++at;
    }
    if (at == n && actual.size() == expected.size()) {
        return ::testing::AssertionSuccess();
    }
    char where[64];
    std::snprintf(where, sizeof where, "first difference at offset 0x%zX", at);
    return ::testing::AssertionFailure()
           << where << " (sizes " << actual.size() << " and " << expected.size()
           << ")\n  actual:  " << HexAround(actual, at)
           << "\n  expected:" << HexAround(expected, at);
}

struct CheckOutcome {
    CheckResult result;
    int64_t position; // where the check left the file
    std::string note;
};

// Runs `check` on `bytes` held in memory, starting at `start`.
template <typename Check> CheckOutcome RunCheckOn(const Bytes& bytes, int64_t start, Check check) {
    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    files.Put("/mem/game.bin", bytes);
    ChunkFile file;
    if (!file.OpenRead("/mem/game.bin")) {
        ADD_FAILURE() << "memory file did not open";
        return {CheckResult::StopScan, -1, {}};
    }
    file.Seek(start, SeekOrigin::Begin);
    std::string note;
    const CheckResult result = check(file, &note);
    return {result, file.Tell(), note};
}

} // namespace sonvex::testing
