// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the SoundFont 2 reader whole banks from memory; what it accepts must keep every
// sample inside the sample data and every zone's references inside their tables.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "formats/sf2.h"
#include "fuzz/converted_bank_seeds.h"
#include "fuzz/seed_corpus.h"
#include "testkit/dls_builder.h"

namespace {

// A bank from the writer (two programs, a looped and a plain sample) and the test
// builder's one-sample bank.
std::vector<std::vector<uint8_t>> Seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    sonvex::fuzz::ConvertedBank converted = sonvex::fuzz::ConvertBankSeed();
    if (!converted.sf2.empty()) {
        seeds.push_back(std::move(converted.sf2));
    }
    seeds.push_back(sonvex::testkit::OneSampleSf2(5, 96).build());
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
            const auto sample = zone.Find(sonvex::sf2op::kSampleId);
            if (sample && sample->amount >= bank.samples.size()) {
                __builtin_trap();
            }
        }
    }
    for (const sonvex::Sf2Preset& preset : bank.presets) {
        for (const sonvex::Sf2Zone& zone : preset.zones) {
            const auto instrument = zone.Find(sonvex::sf2op::kInstrument);
            if (instrument && instrument->amount >= bank.instruments.size()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
