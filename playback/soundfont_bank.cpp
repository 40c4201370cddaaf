// SPDX-License-Identifier: GPL-3.0-or-later
// The program map of a SoundFont bank.
#include "playback/soundfont_bank.h"

namespace sonvex {

DlsCollection SoundFontPrograms(const Sf2Bank& bank, std::vector<std::string>& notes) {
    DlsCollection map;
    map.name = bank.name;
    // One wave per sample, with its pool entry at the same index; no sample data, which
    // stays with FluidSynth.
    for (size_t i = 0; i < bank.samples.size(); ++i) {
        const Sf2Sample& s = bank.samples[i];
        DlsWave wave;
        wave.name = s.name;
        wave.sampleRate = s.sampleRate;
        wave.playable = s.end > s.start && s.sampleRate > 0;
        map.waves.push_back(std::move(wave));
        map.cueToWave.push_back(static_cast<int>(i));
        map.poolTable.push_back(s.start);
    }
    for (const Sf2Preset& preset : bank.presets) {
        if (preset.bank > kSoundFontDrumBank || preset.preset > 127) {
            notes.push_back("preset \"" + preset.name + "\" (bank " + std::to_string(preset.bank) +
                            ", program " + std::to_string(preset.preset) +
                            ") lies outside what a sequence can select");
            continue;
        }
        DlsInstrument instrument;
        instrument.name = preset.name;
        instrument.bank = preset.bank == kSoundFontDrumBank ? 0x80000000u : preset.bank;
        instrument.program = preset.preset;
        for (const Sf2Region& r : Sf2PresetRegions(bank, preset)) {
            DlsRegion region;
            region.keyLow = r.keyLow;
            region.keyHigh = r.keyHigh;
            region.velocityLow = r.velocityLow;
            region.velocityHigh = r.velocityHigh;
            region.hasLink = true;
            region.tableIndex = r.sample;
            instrument.regions.push_back(std::move(region));
        }
        instrument.declaredRegions = static_cast<uint32_t>(instrument.regions.size());
        map.instruments.push_back(std::move(instrument));
    }
    map.declaredInstruments = static_cast<uint32_t>(map.instruments.size());
    return map;
}

} // namespace sonvex
