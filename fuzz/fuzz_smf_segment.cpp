// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the segment builder an SMF and a DLS split from one input (a little-endian u16
// SMF length, the SMF bytes, then the DLS bytes): the SMF walks, the DLS instrument
// table and the segment writer run in memory. A conversion that succeeds must leave a
// segment the segment reader accepts; any other outcome must leave no file behind. The
// SMF part is also read in every dialect: no event's data lies outside the bytes, and
// what the strict dialect accepts the player reads event for event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/smf.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "segment/segment_converter.h"
#include "segment/segment_reader.h"
#include "testkit/dls_builder.h"
#include "testkit/hostile_inputs.h"
#include "testkit/smf_builder.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::vector<uint8_t> Seed(const std::vector<uint8_t>& smf, const std::vector<uint8_t>& dls) {
    std::vector<uint8_t> seed = {static_cast<uint8_t>(smf.size()),
                                 static_cast<uint8_t>(smf.size() >> 8)};
    seed.insert(seed.end(), smf.begin(), smf.end());
    seed.insert(seed.end(), dls.begin(), dls.end());
    return seed;
}

std::vector<std::vector<uint8_t>> Seeds() {
    using namespace sonvex::testkit;
    DlsInstrument five;
    five.number = 5;
    five.trailer = {100, 64, 0, 2, 12};
    DlsInstrument foreign;
    foreign.number = 9;
    foreign.trailerPresent = false;
    const Bytes dls = DlsBuilder().instrument(five).instrument(foreign).build();
    const Bytes song = SmfBuilder(480)
                           .writerPreamble(500000, 4, 2)
                           .program(0, 0, 5)
                           .text(0, "003")
                           .marker(0, "Loop_Start")
                           .noteOn(0, 0, 60, 100)
                           .control(10, 0, 7, 90)
                           .bend(10, 0, 0x3000)
                           .noteOff(100, 0, 60)
                           .program(0, 0, 9)
                           .sysex(0, {0x7E, 0x7F, 0xF7})
                           .marker(0, "Loop_End")
                           .endOfTrack(20)
                           .build();
    const Bytes plain =
        SmfBuilder(768).noteOn(0, 1, 40, 1).noteOn(5, 1, 40, 0).endOfTrack(0).build();
    std::vector<std::vector<uint8_t>> seeds = {Seed(song, dls), Seed(plain, dls)};
    // Hostile SMFs with a sound collection, and damaged collections with a sound SMF.
    for (const HostileInput& smf : HostileSmfs()) {
        if (!sonvex::fuzz::IsTruncation(smf.name) && smf.bytes.size() <= 0xFFFF) {
            seeds.push_back(Seed(smf.bytes, SoundDls()));
        }
    }
    for (const HostileInput& damaged : RiffDamage("DLS", SoundDls(), 64)) {
        if (!sonvex::fuzz::IsTruncation(damaged.name) &&
            damaged.bytes.size() <= sonvex::fuzz::kMaxSeedSize) {
            seeds.push_back(Seed(SoundSmf(), damaged.bytes));
        }
    }
    return seeds;
}

// No event of a dialect goes back in time or points outside the bytes.
void CheckEvents(std::span<const uint8_t> smf, const sonvex::SmfRead& read) {
    for (const sonvex::SmfTrack& track : read.smf.tracks) {
        uint64_t tick = 0;
        for (const sonvex::SmfTrackEvent& e : track.events) {
            Require(e.tick >= tick && e.data.size() <= e.length);
            Require(e.data.empty() || (e.data.data() >= smf.data() &&
                                       e.data.data() + e.data.size() <= smf.data() + smf.size()));
            tick = e.tick;
        }
    }
}

void CheckDialects(std::span<const uint8_t> smf) {
    using namespace sonvex;
    const SmfRead strict = ReadSmf(smf, SmfDialect::Strict);
    const SmfRead player = ReadSmf(smf, SmfDialect::Player);
    CheckEvents(smf, strict);
    CheckEvents(smf, player);
    CheckEvents(smf, ReadSmf(smf, SmfDialect::Classic));
    if (strict.status != SmfReadStatus::Ok || player.status != SmfReadStatus::Ok) {
        return;
    }
    Require(player.smf.tracks.size() == 1);
    const std::vector<SmfTrackEvent>& a = strict.smf.tracks[0].events;
    const std::vector<SmfTrackEvent>& b = player.smf.tracks[0].events;
    Require(a.size() == b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        Require(a[i].tick == b[i].tick && a[i].status == b[i].status && a[i].data1 == b[i].data1 &&
                a[i].data2 == b[i].data2 && a[i].data.size() == b[i].data.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("smf_segment", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonvex;
    if (size < 2) {
        return 0;
    }
    const size_t rest = size - 2;
    const size_t smfSize = (data[0] | (static_cast<size_t>(data[1]) << 8)) % (rest + 1);
    MemoryFileSystem memory;
    memory.Put("/w/song.mid", std::vector<uint8_t>(data + 2, data + 2 + smfSize));
    memory.Put("/w/bank.dls", std::vector<uint8_t>(data + 2 + smfSize, data + size));
    ScopedFileSystem guard(memory);
    CheckDialects({data + 2, smfSize});

    SegmentJob job;
    job.workFolder = "/w";
    job.smfName = "song.mid";
    job.dlsName = "bank.dls";
    job.newGuid = [] { return Guid{}; };
    NullFeedback feedback;
    SegmentReport report;
    const SegmentResult result = ConvertSmfToSegment(job, feedback, {}, &report);
    Require(!memory.Exists("/w/song.sgt.tmp"));
    if (result == SegmentResult::Done) {
        const SegmentRead read = ReadSegmentFile("/w/song.sgt");
        Require(read.status == SegmentReadResult::Ok);
        Require(read.segment.tracks.size() == 5 && read.segment.sysex.size() == 1);
    } else {
        Require(result == SegmentResult::ConversionFailed);
        Require(!memory.Exists("/w/song.sgt"));
    }
    return 0;
}
