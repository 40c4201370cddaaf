// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the playback engine's DLS reader whole collection files from memory; what it
// accepts is turned into voice recipes region by region, so every link, loop and
// connection block read is also used.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "playback/voice_recipe.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/dls_builder.h"
#include "testkit/vab_builder.h"

namespace {

// Collections from the bank converter (looped and plain samples, several programs) and
// the test builder's layouts with and without the instrument trailer.
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
    VabTone low = Tone(1, 0, 59);
    low.pan = 0;
    low.adsr2 = 0x4011;
    VabTone high = Tone(2, 60, 127);
    high.fineTune = 200;
    high.volume = 0;
    VabBuilder vab;
    vab.program(0, Program({low, high})).program(7, Program({Tone(2)}));
    vab.sample(MakeVag(pcm, looped)).sample(MakeVag(pcm));
    memory.Put("/bank.vh", vab.BuildVh());
    memory.Put("/bank.vb", vab.BuildVb());
    NullFeedback feedback;
    if (ConvertVabToDls(0, 0, "/bank.vh", "/bank.vb", "/bank.dls", "fuzz", feedback) ==
        ConvertResult::Done) {
        seeds.push_back(memory.Contents("/bank.dls"));
    }
    testkit::DlsInstrument foreign;
    foreign.trailerPresent = false;
    foreign.instrumentArticulation = false;
    foreign.regions = 2;
    seeds.push_back(DlsBuilder().instrument(testkit::DlsInstrument{}).instrument(foreign).build());
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
