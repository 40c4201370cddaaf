// SPDX-License-Identifier: GPL-3.0-or-later
// What the two sequence converters' fuzz targets share: seeds whose first two bytes are
// the item position, a failure that names the target, and one conversion of such an input
// with the checks that hold for either converter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "seq2smf/seq_converter.h"
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

// A sequence converter, called as ConvertSeq and ConvertSsq are.
using SequenceConverter = SeqConversion (*)(uint64_t, const std::string&, const std::string&,
                                            Feedback&, SmfRules);

struct PositionedRun {
    uint64_t offset = 0;
    SeqConversion conversion;
};

// Converts the game file data[2..] held as "game" in `files` at the position in data[0..1]
// (little-endian) to the stem "out". Fails the target on a message (every file opens) and on
// a result only a failing file gives. Nothing when the input is shorter than the position.
inline std::optional<PositionedRun> RunPositioned(const char* target, const uint8_t* data,
                                                  size_t size, MemoryFileSystem& files,
                                                  SequenceConverter convert) {
    if (size < 2) {
        return std::nullopt;
    }
    PositionedRun run;
    run.offset = data[0] | (static_cast<uint64_t>(data[1]) << 8);
    ScopedFileSystem guard(files);
    files.Put("game", std::vector<uint8_t>(data + 2, data + size));
    RecordingFeedback feedback;
    run.conversion = convert(run.offset, "game", "out", feedback, SmfRules::Extended);
    if (!feedback.events.empty()) {
        FailTarget(target, "a message was shown although every file opens");
    }
    const ConvertResult result = run.conversion.result;
    if (result == ConvertResult::OpenFailed || result == ConvertResult::PartlyDone) {
        FailTarget(target, "unexpected result " + std::to_string(ToCode(result)));
    }
    return run;
}

} // namespace sonvex::fuzz
