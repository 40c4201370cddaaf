// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a DLS collection as a SoundFont 2.01 bank: one preset and one instrument per DLS
// instrument, one zone per region, the waves as 16-bit samples, with the values chosen
// so that a player following FluidSynth's rules sounds each note as the DLS does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/dls.h"
#include "formats/sf2.h"

namespace sonvex {

// Zero samples after every sample's data, as SoundFont 2 asks.
constexpr uint32_t kSf2SampleGuard = 46;
// Bank of the percussion presets: players read channel 10 from it by default.
constexpr uint16_t kSf2PercussionBank = 128;

// How DLS values become generator values. FluidSynth (like the hardware it follows)
// multiplies the initial attenuation by 0.4 and reads the sustain generator as
// thousandths of its 96 dB envelope range; our DLS player sets both directly.
// Attenuation in cB of the DLS region → the generator value (at most 1440).
int16_t Sf2AttenuationOf(double centibels);
// DLS EG1 sustain level in tenths of a percent → the generator value.
int16_t Sf2SustainOf(double tenths);
// DLS time cents (or dls::kTimeZero) → generator time cents, -12000..8000.
int16_t Sf2TimeOf(int32_t dlsScale);

// Bank and preset number a DLS instrument gets: the bank-select MSB (drum kits in 128),
// since common players read only the MSB by default; our DLS keeps its instruments at
// MSB 0 and LSB 1, which the converted SMF selects, so they land in bank 0.
uint16_t Sf2BankOf(const DlsInstrument& instrument);

// One SoundFont zone generator (amount as stored: signed, unsigned or a low/high pair).
struct Sf2Gen {
    uint16_t oper = 0;
    uint16_t amount = 0;
};

// The generators of the instrument zone made from a region, in the order the format
// asks (key range, velocity range first; the sample last). `sampleIndex` is the sample
// the region's wave became; `sampleLoopStart`/`End` its loop in the sample header,
// counted from the wave's first frame.
std::vector<Sf2Gen> Sf2ZoneGenerators(const DlsCollection& collection,
                                      const DlsInstrument& instrument, const DlsRegion& region,
                                      uint16_t sampleIndex, uint32_t sampleLoopStart,
                                      uint32_t sampleLoopEnd);

// Writes `collection` to `path` through a temporary file renamed on success. False with
// `error` naming the file and the reason; nothing is left behind then.
[[nodiscard]] bool WriteSf2(const DlsCollection& collection, const std::string& path,
                            std::string& error);

// Reads the DLS file at `dlsPath` and writes it as a SoundFont 2 bank at `sf2Path`.
[[nodiscard]] bool ConvertDlsToSf2(const std::string& dlsPath, const std::string& sf2Path,
                                   std::string& error);

} // namespace sonvex
