// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the playback engine's DLS reader whole collection files from memory; what it
// accepts is turned into voice recipes region by region, so every link, loop and
// connection block read is also used.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "formats/dls.h"
#include "fuzz/converted_bank_seeds.h"
#include "fuzz/seed_corpus.h"
#include "playback/voice_recipe.h"
#include "testkit/dls_builder.h"

namespace {

// Collections from the bank converter (looped and plain samples, several programs) and
// the test builder's layouts with and without the instrument trailer.
std::vector<std::vector<uint8_t>> Seeds() {
    using namespace sonvex::testkit;
    std::vector<std::vector<uint8_t>> seeds;
    sonvex::fuzz::ConvertedBank converted = sonvex::fuzz::ConvertBankSeed();
    if (!converted.dls.empty()) {
        seeds.push_back(std::move(converted.dls));
    }
    DlsInstrument foreign;
    foreign.trailerPresent = false;
    foreign.instrumentArticulation = false;
    foreign.regions = 2;
    seeds.push_back(DlsBuilder().instrument(DlsInstrument{}).instrument(foreign).build());
    return seeds;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("dls_reader", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sonvex::DlsReadOutcome read = sonvex::ReadDls({data, size});
    if (read.status != sonvex::DlsReadStatus::Ok) {
        return 0;
    }
    volatile double sum = 0;
    for (const sonvex::DlsInstrument& instrument : read.collection.instruments) {
        for (const sonvex::DlsRegion& region : instrument.regions) {
            const sonvex::VoiceRecipe r =
                sonvex::MakeVoiceRecipe(read.collection, instrument, region);
            sum = sum + r.attenuation + r.volSustain + r.loopEnd +
                  static_cast<double>(r.modulators.size());
            if (r.wave != nullptr && r.loopMode != 0 &&
                (r.loopEnd > r.wave->pcm.size() || r.loopStart >= r.loopEnd)) {
                __builtin_trap(); // a loop outside its wave would make the synthesizer read past it
            }
        }
    }
    return 0;
}
