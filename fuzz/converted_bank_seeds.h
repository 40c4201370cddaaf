// SPDX-License-Identifier: GPL-3.0-or-later
// Seeds for the bank readers' fuzz targets: a small VAB put through the bank converter in
// memory, so the fuzzer starts from the collection and the SoundFont our writers make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bank2dls/sf2_writer.h"
#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "platform/feedback.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/vab_builder.h"

namespace sonvex::fuzz {

// What the converter wrote; a part it failed to write is empty.
struct ConvertedBank {
    std::vector<uint8_t> dls;
    std::vector<uint8_t> sf2;
};

// Two programs over a looped and a plain sample; the first program's tones differ from the
// builder's defaults in pan, release, fine tune and volume, so those paths have seeds too.
inline ConvertedBank ConvertBankSeed() {
    using namespace sonvex::testkit;
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

    ConvertedBank out;
    NullFeedback feedback;
    if (ConvertVabToDls(0, 0, "/bank.vh", "/bank.vb", "/bank.dls", "fuzz", feedback) !=
        ConvertResult::Done) {
        return out;
    }
    out.dls = memory.Contents("/bank.dls");
    std::string error;
    if (ConvertDlsToSf2("/bank.dls", "/bank.sf2", error)) {
        out.sf2 = memory.Contents("/bank.sf2");
    }
    return out;
}

} // namespace sonvex::fuzz
