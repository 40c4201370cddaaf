// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds ConvertSsq a game file of any bytes (held in memory): the first two input bytes
// are the position of the "SSsq" magic (little-endian, below 16 and past the end
// included), the rest is the game file. Checks that a file is left exactly when the
// result is done, that it is a complete and valid SMF, and that no message is shown.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "fuzz/sequence_fuzz.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/smf_reader.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    sonvex::fuzz::FailTarget("fuzz_ssq", what);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked(
        "ssq", sonvex::fuzz::SequenceSeeds(sonvex::testkit::SampleSsqItems(),
                                           sonvex::testkit::HostileSsqItems()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::MemoryFileSystem files;
    const auto run = sonvex::fuzz::RunPositioned("fuzz_ssq", data, size, files, sonvex::ConvertSsq);
    if (!run) {
        return 0;
    }
    const uint64_t offset = run->offset;
    const sonvex::SeqConversion& c = run->conversion;
    const bool done = c.result == sonvex::ConvertResult::Done;
    if (offset < 16 && c.result != sonvex::ConvertResult::CannotConvert) {
        Fail("an item below 16 was not refused");
    }
    if (files.Exists("out.mid") != done || c.smfFilesMade != (done ? 1 : 0)) {
        Fail("output on disk does not match the result");
    }
    if (done) {
        std::string error;
        if (!sonvex::testkit::ReadSmf(files.Contents("out.mid"), error)) {
            Fail("out.mid is not a valid SMF: " + error);
        }
    }
    return 0;
}
