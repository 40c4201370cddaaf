// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the segment reader whole segment files from memory; what it accepts is also
// described, so every value read is touched once. The same bytes go through the RIFF
// walker in both overrun modes: no chunk's data lies outside the bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/riff.h"
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

// Walks the whole tree; depth is bounded by the bytes, each level taking 12 of them.
void WalkTree(sonvex::RiffWalker& walker, sonvex::ByteCursor parent,
              std::span<const uint8_t> bytes) {
    sonvex::RiffChunk chunk;
    while (walker.Next(parent, chunk)) {
        const uint8_t* data = chunk.data.data();
        if (data < bytes.data() || data + chunk.data.size() > bytes.data() + bytes.size()) {
            __builtin_trap();
        }
        if (chunk.id == sonvex::kListId || chunk.id == sonvex::kRiffId) {
            WalkTree(walker, chunk.data, bytes);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("segment_reader", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const auto overrun :
         {sonvex::RiffWalker::Overrun::Fail, sonvex::RiffWalker::Overrun::Trust}) {
        sonvex::Diagnostics diagnostics;
        sonvex::RiffWalker walker({data, size}, diagnostics, sonvex::RiffWalker::Tail::Note,
                                  overrun);
        WalkTree(walker, walker.File(), {data, size});
    }
    const sonvex::SegmentRead read = sonvex::ReadSegmentBytes({data, size});
    if (read.status == sonvex::SegmentReadResult::Ok) {
        volatile size_t length = sonvex::DescribeSegment(read.segment).size();
        (void)length;
    }
    return 0;
}
