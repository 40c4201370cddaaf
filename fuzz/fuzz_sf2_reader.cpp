// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the SoundFont 2 reader whole banks from memory; what it accepts must keep every
// sample inside the sample data and every zone's references inside their tables.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bank2dls/sf2_writer.h"
#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "formats/sf2.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/dls_builder.h"
#include "testkit/vab_builder.h"

namespace {

// A bank from the writer (two programs, a looped and a plain sample) and the test
// builder's one-sample bank.
std::vector<std::vector<uint8_t>> Seeds() {
    using namespace sonvex;
    using namespace sonvex::testkit;
    std::vector<std::vector<uint8_t>> seeds;
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    std::vector<int16_t> pcm(28 * 6);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>((i % 28) * 900 - 12000);
    }
    VagShape looped;
    looped.loopStartBlock = 1;
    looped.loopEndBlock = 4;
    VabBuilder vab;
    vab.program(0, Program({Tone(1, 0, 59), Tone(2, 60, 127)})).program(7, Program({Tone(2)}));
    vab.sample(MakeVag(pcm, looped)).sample(MakeVag(pcm));
    memory.Put("/bank.vh", vab.BuildVh());
    memory.Put("/bank.vb", vab.BuildVb());
    NullFeedback feedback;
    std::string error;
    if (ConvertVabToDls(0, 0, "/bank.vh", "/bank.vb", "/bank.dls", "fuzz", feedback) ==
            ConvertResult::Done &&
        ConvertDlsToSf2("/bank.dls", "/bank.sf2", error)) {
        seeds.push_back(memory.Contents("/bank.sf2"));
    }
    seeds.push_back(OneSampleSf2(5, 96).build());
    return seeds;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("sf2_reader", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sonvex::Sf2ReadOutcome read = sonvex::ReadSf2({data, size});
    if (read.status != sonvex::Sf2ReadStatus::Ok) {
        return 0;
    }
    const sonvex::Sf2Bank& bank = read.bank;
    for (const sonvex::Sf2Sample& s : bank.samples) {
        if (s.start > s.end || s.end > bank.samplePoints.size()) {
            __builtin_trap(); // a player would read outside the sample data
        }
    }
    for (const sonvex::Sf2Instrument& instrument : bank.instruments) {
        for (const sonvex::Sf2Zone& zone : instrument.zones) {
            const auto sample = zone.Find(53);
            if (sample && sample->amount >= bank.samples.size()) {
                __builtin_trap();
            }
        }
    }
    for (const sonvex::Sf2Preset& preset : bank.presets) {
        for (const sonvex::Sf2Zone& zone : preset.zones) {
            const auto instrument = zone.Find(41);
            if (instrument && instrument->amount >= bank.instruments.size()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
