// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds ConvertSeq a game file of any bytes (held in memory): the first two input bytes
// are the item offset (little-endian, may point anywhere, past the end included), the
// rest is the game file. Checks that every SMF left behind is complete and valid, that
// their number is the count reported, and that no message is shown.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "fuzz/sequence_fuzz.h"
#include "seq2smf/seq_converter.h"
#include "testkit/smf_reader.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    sonvex::fuzz::FailTarget("fuzz_seq", what);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked(
        "seq", sonvex::fuzz::SequenceSeeds(sonvex::testkit::SampleSeqItems(),
                                           sonvex::testkit::HostileSeqItems()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::MemoryFileSystem files;
    const auto run = sonvex::fuzz::RunPositioned("fuzz_seq", data, size, files, sonvex::ConvertSeq);
    if (!run) {
        return 0;
    }
    const sonvex::SeqConversion& c = run->conversion;
    if (c.result == sonvex::ConvertResult::Done && c.smfFilesMade < 1) {
        Fail("done without a file");
    }
    int found = 0;
    std::vector<std::string> names = {"out.mid"};
    for (int id = 0; id < 17; ++id) {
        char name[16];
        std::snprintf(name, sizeof name, "out_%02d.mid", id);
        names.push_back(name);
    }
    for (const std::string& name : names) {
        if (!files.Exists(name)) {
            continue;
        }
        ++found;
        std::string error;
        if (!sonvex::testkit::ReadSmf(files.Contents(name), error)) {
            Fail(name + " is not a valid SMF: " + error);
        }
    }
    if (found != c.smfFilesMade) {
        Fail(std::to_string(found) + " files on disk, " + std::to_string(c.smfFilesMade) +
             " reported");
    }
    if (files.Exists("out_16.mid")) {
        Fail("a seventeenth sequence was converted");
    }
    return 0;
}
