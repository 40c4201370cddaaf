// Feeds ConvertSsq a game file of any bytes (held in memory): the first two input bytes
// are the position of the "SSsq" magic (little-endian, below 16 and past the end
// included), the rest is the game file. Checks that a file is left exactly when the
// result is done, that it is a complete and valid SMF, and that no message is shown.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/hostile_inputs.h"
#include "testkit/seq_builder.h"
#include "testkit/smf_reader.h"

namespace {

std::vector<std::vector<uint8_t>> Seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    for (const sonvex::testkit::SampleItem& item : sonvex::testkit::SampleSsqItems()) {
        std::vector<uint8_t> seed = {static_cast<uint8_t>(item.offset), static_cast<uint8_t>(item.offset >> 8)};
        seed.insert(seed.end(), item.bytes.begin(), item.bytes.end());
        seeds.push_back(std::move(seed));
    }
    for (const sonvex::testkit::HostileInput& item : sonvex::testkit::HostileSsqItems()) {
        if (sonvex::fuzz::IsTruncation(item.name) || item.offset > 0xFFFF || item.bytes.size() > sonvex::fuzz::kMaxSeedSize) {
            continue;
        }
        std::vector<uint8_t> seed = {static_cast<uint8_t>(item.offset), static_cast<uint8_t>(item.offset >> 8)};
        seed.insert(seed.end(), item.bytes.begin(), item.bytes.end());
        seeds.push_back(std::move(seed));
    }
    return seeds;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_ssq: %s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("ssq", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint64_t offset = data[0] | (static_cast<uint64_t>(data[1]) << 8);
    sonvex::MemoryFileSystem files;
    sonvex::ScopedFileSystem guard(files);
    files.Put("game", std::vector<uint8_t>(data + 2, data + size));
    sonvex::RecordingFeedback feedback;

    const sonvex::SeqConversion c = sonvex::ConvertSsq(offset, "game", "out", feedback);

    if (!feedback.events.empty()) {
        Fail("a message was shown although every file opens");
    }
    const bool done = c.result == sonvex::ConvertResult::Done;
    if (c.result == sonvex::ConvertResult::OpenFailed || c.result == sonvex::ConvertResult::PartlyDone) {
        Fail("unexpected result " + std::to_string(sonvex::ToCode(c.result)));
    }
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
