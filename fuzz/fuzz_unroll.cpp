// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the loop unroller an SMF behind one byte of options (loops 1..4, fade 0..3 s).
// A success must give tracks in time order that all end at the summed length, and the
// file written in memory must read back with the same events; a failure must say why and
// leave no file behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/smf.h"
#include "fuzz/seed_corpus.h"
#include "testkit/hostile_inputs.h"
#include "testkit/smf_builder.h"
#include "unroll/loop_unroller.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::vector<uint8_t> Seed(uint8_t options, const std::vector<uint8_t>& smf) {
    std::vector<uint8_t> seed = {options};
    seed.insert(seed.end(), smf.begin(), smf.end());
    return seed;
}

std::vector<std::vector<uint8_t>> Seeds() {
    using namespace sonvex::testkit;
    const Bytes endless = SmfBuilder(96)
                              .format(1)
                              .trackCount(2)
                              .tempo(0, 500000)
                              .text(0, "127")
                              .marker(96, "Loop_Start")
                              .tempo(10, 400000)
                              .marker(182, "Loop_End")
                              .endOfTrack(0)
                              .nextTrack()
                              .program(0, 0, 3)
                              .control(0, 0, 11, 100)
                              .noteOn(0, 0, 60, 90)
                              .control(120, 0, 11, 50)
                              .bend(10, 0, 0x2400)
                              .noteOff(100, 0, 60)
                              .control(0, 0, 121, 0)
                              .endOfTrack(10)
                              .build();
    const Bytes counted = SmfBuilder(480)
                              .writerPreamble(500000, 4, 2)
                              .marker(0, "Loop_Start")
                              .text(0, "003")
                              .noteOn(0, 1, 40, 1)
                              .program(10, 1, 9)
                              .marker(470, "Loop_End")
                              .noteOff(5, 1, 40)
                              .endOfTrack(0)
                              .build();
    std::vector<std::vector<uint8_t>> seeds = {Seed(0x25, endless), Seed(0x00, counted)};
    for (const HostileInput& smf : HostileSmfs()) {
        if (!sonvex::fuzz::IsTruncation(smf.name) &&
            smf.bytes.size() <= sonvex::fuzz::kMaxSeedSize) {
            seeds.push_back(Seed(0x11, smf.bytes));
        }
    }
    return seeds;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("unroll", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonvex;
    if (size < 1) {
        return 0;
    }
    UnrollOptions options;
    options.loops = 1 + (data[0] & 3);
    options.fadeSeconds = (data[0] >> 2 & 3) * 1.0;
    const std::vector<uint8_t> smf(data + 1, data + size);

    UnrolledSmf out;
    const UnrollResult r = UnrollSmf(smf, options, out);
    size_t events = 0;
    if (r.status == UnrollStatus::Ok) {
        for (const std::vector<UnrolledEvent>& track : out.tracks) {
            Require(!track.empty() && track.back().tick == r.summary.length);
            for (size_t i = 1; i < track.size(); ++i) {
                Require(track[i - 1].tick <= track[i].tick);
            }
            events += track.size();
        }
        Require(events == r.summary.events);
    } else {
        Require(!r.diagnostics.failure.empty() && out.tracks.empty());
    }

    MemoryFileSystem memory;
    memory.Put("/w/in.mid", smf);
    ScopedFileSystem guard(memory);
    const UnrollResult written = UnrollSmfFile("/w/in.mid", "/w/out.mid", options);
    Require(written.status == r.status);
    Require(!memory.Exists("/w/out.mid.tmp"));
    if (written.status != UnrollStatus::Ok) {
        Require(!memory.Exists("/w/out.mid"));
        return 0;
    }
    const std::vector<uint8_t>& bytes = memory.Contents("/w/out.mid");
    const SmfRead back = ReadSmf(bytes, SmfDialect::Player);
    Require(back.status == SmfReadStatus::Ok && back.diagnostics.notes.empty());
    Require(back.smf.tracks.size() == out.tracks.size());
    size_t read = 0;
    for (const SmfTrack& track : back.smf.tracks) {
        Require(track.ended);
        read += track.events.size();
    }
    Require(read == events);
    return 0;
}
