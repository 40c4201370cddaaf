// SPDX-License-Identifier: GPL-3.0-or-later
#include "testkit/song_bank_items.h"

#include <cmath>

#include "testkit/adpcm_encoder.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex::testkit {

BankBytes BankOf(uint32_t seed, const std::map<int, std::pair<int, int>>& programs) {
    // One loud looped sine, its period varied by the seed so that banks differ.
    const double period = 40.0 + static_cast<double>(seed % 16);
    std::vector<int16_t> pcm(28 * 24);
    for (size_t t = 0; t < pcm.size(); ++t) {
        pcm[t] = static_cast<int16_t>(
            12000.0 * std::sin(6.283185307179586 * static_cast<double>(t) / period));
    }
    VagShape shape;
    shape.loopStartBlock = 1;
    shape.loopEndBlock = 23;
    VabBuilder builder;
    builder.sample(MakeVag(pcm, shape));
    for (const auto& [slot, keys] : programs) {
        VabTone tone = Tone(1, static_cast<uint8_t>(keys.first), static_cast<uint8_t>(keys.second));
        builder.program(slot, Program({tone}));
    }
    return {builder.BuildVh(), builder.BuildVb()};
}

Bytes SongOf(const std::vector<Voice>& voices, int beats) {
    SeqTrack track;
    track.tempo(0, 500000);
    for (const Voice& v : voices) {
        if (v.program >= 0) {
            track.program(0, v.channel, v.program);
        }
        track.noteOn(0, v.channel, v.key, 100);
    }
    bool first = true;
    for (const Voice& v : voices) {
        track.noteOff(first ? static_cast<uint32_t>(480 * beats) : 0, v.channel, v.key);
        first = false;
    }
    track.endOfTrack(0);
    return BuildSingleSeq(SeqTiming{}, track);
}

} // namespace sonvex::testkit
