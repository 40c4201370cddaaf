// SPDX-License-Identifier: GPL-3.0-or-later
// SoundFont 2 banks played the way common players play them: FluidSynth's own SF2 loader
// and its own MIDI file player, with FluidSynth's default bank selection (the bank-select
// MSB only) and default modulators. Kept apart from our DLS engine.
#pragma once

#include <string>
#include <vector>

#include "playback/synth.h"

namespace sonvex {

struct SoundFontRender {
    bool ok = false;
    std::string error; // the file and the reason when not ok
    // What FluidSynth's loader warned about or reported as errors while loading the bank.
    std::vector<std::string> loaderMessages;
    std::vector<float> left;
    std::vector<float> right;
    double sampleRate = 44100.0;
};

// Loads `sf2Path` with FluidSynth's loader and plays `smfPath` (empty: nothing) to its
// end with FluidSynth's player, then `tailSeconds` more. From `options` only the sample
// rate, gain, reverb, chorus and polyphony are used; everything else is FluidSynth's
// default. Not for use from two threads at once (the loader's messages are caught
// through FluidSynth's process-wide log functions).
SoundFontRender RenderWithSoundFont(const std::string& smfPath, const std::string& sf2Path,
                                    const SynthOptions& options, double tailSeconds);

} // namespace sonvex
