// SPDX-License-Identifier: GPL-3.0-or-later
// What a SoundFont 2 bank offers a sequence, in the terms of the collection model that
// the program choice and the instrument check work with: one instrument per preset and
// one region per key and velocity area. The sound itself comes from FluidSynth's own
// SoundFont loader; this map only says which notes find an instrument.
#pragma once

#include <string>
#include <vector>

#include "formats/dls.h"
#include "formats/sf2.h"

namespace sonvex {

// SoundFont bank that FluidSynth plays on a percussion channel.
inline constexpr int kSoundFontDrumBank = 128;

// A preset of bank B < 128 becomes an instrument whose melodic bank number is B (a
// SoundFont is chosen by the bank-select MSB alone); bank 128 holds drum kits. Presets
// of higher banks, which no bank select reaches, are left out with a note.
DlsCollection SoundFontPrograms(const Sf2Bank& bank, std::vector<std::string>& notes);

} // namespace sonvex
