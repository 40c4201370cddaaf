// Feeds the segment reader whole segment files from memory; what it accepts is also
// described, so every value read is touched once.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "chunkfile/file_system.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "segment/segment_converter.h"
#include "segment/segment_reader.h"
#include "testkit/dls_builder.h"
#include "testkit/hostile_inputs.h"
#include "testkit/smf_builder.h"

namespace {

// Segments written by the segment builder from small test songs.
std::vector<std::vector<uint8_t>> Seeds() {
    using namespace sonvex;
    using namespace sonvex::testkit;
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    DlsInstrument five;
    five.number = 5;
    memory.Put("/w/bank.dls", DlsBuilder().instrument(five).build());
    memory.Put("/w/a.mid", SmfBuilder(480)
                               .writerPreamble(500000, 3, 3)
                               .program(0, 0, 5)
                               .noteOn(0, 0, 60, 100)
                               .program(10, 0, 6)
                               .noteOff(10, 0, 60)
                               .endOfTrack(0)
                               .build());
    memory.Put("/w/b.mid", SmfBuilder(96).control(0, 2, 10, 0).endOfTrack(9).build());
    std::vector<std::vector<uint8_t>> seeds;
    NullFeedback feedback;
    for (const char* name : {"a", "b"}) {
        SegmentJob job;
        job.workFolder = "/w";
        job.smfName = std::string(name) + ".mid";
        job.dlsName = "bank.dls";
        if (ConvertSmfToSegment(job, feedback, {}) == SegmentResult::Done) {
            seeds.push_back(memory.Contents("/w/" + std::string(name) + ".sgt"));
        }
    }
    // The first segment with each of its size fields damaged.
    if (!seeds.empty()) {
        for (const HostileInput& damaged : RiffDamage("segment", seeds.front(), 64)) {
            if (!sonvex::fuzz::IsTruncation(damaged.name) &&
                damaged.bytes.size() <= sonvex::fuzz::kMaxSeedSize) {
                seeds.push_back(damaged.bytes);
            }
        }
    }
    return seeds;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("segment_reader", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::SegmentFile segment;
    std::string failure;
    if (sonvex::ReadSegmentBytes({data, size}, segment, failure) == sonvex::SegmentReadResult::Ok) {
        volatile size_t length = sonvex::DescribeSegment(segment).size();
        (void)length;
    }
    return 0;
}
