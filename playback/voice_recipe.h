// SPDX-License-Identifier: GPL-3.0-or-later
// What one DLS region makes of a voice: its articulation turned into the synthesizer's
// generator units (time cents, centibels, tenths of a percent, absolute cents).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/dls.h"

namespace sonvex {

// The synthesizer parameters a recipe can set or modulate.
enum class VoiceParam : uint8_t {
    Attenuation,   // cB, 0 = full level
    Pitch,         // cents added to the tuning
    Pan,           // tenths of a percent, -500 left .. +500 right
    VolEnvAttack,  // time cents
    VolEnvDecay,   // time cents
    VolEnvRelease, // time cents
    ModEnvAttack,  // time cents
    FilterCutoff,  // absolute cents
    ModLfoToPitch, // cents
    VibLfoToPitch, // cents
    ReverbSend,    // tenths of a percent
    ChorusSend,    // tenths of a percent
};

// A controller-driven change of one parameter (velocity, a MIDI controller, pressure).
struct VoiceModulator {
    uint16_t source = 0;  // dls::kSrc*: velocity, key number, CCs, pressure
    uint16_t control = 0; // second source, dls::kSrcNone when absent
    VoiceParam destination = VoiceParam::Attenuation;
    uint8_t curve = 0; // dls::kTransform* applied to the source
    bool bipolar = false;
    bool invert = false;
    double amount = 0.0; // destination units at full source
};

struct VoiceRecipe {
    const DlsWave* wave = nullptr;

    // Sample tuning, level and loop ("wsmp" of the region, else of the wave).
    int unityNote = 60;
    double fineTune = 0.0;    // cents: "wsmp" fine tune plus constant pitch connections
    double attenuation = 0.0; // cB, from "wsmp" attenuation and constant gain connections
    int loopMode = 0;         // 0 no loop, 1 loops through the release, 3 loops until key release
    uint32_t loopStart = 0;   // first frame of the loop
    uint32_t loopEnd = 0;     // frame after the loop's last one

    // Volume envelope (EG1): times in time cents, sustain as attenuation in cB.
    double volDelay = -12000.0;
    double volAttack = -12000.0;
    double volHold = -12000.0;
    double volDecay = -12000.0;
    double volSustain = 0.0;
    double volRelease = -12000.0;
    double keyToVolHold = 0.0; // time cents per key, counted from key 60 downwards
    double keyToVolDecay = 0.0;

    // Modulation envelope (EG2): sustain as tenths of a percent below the peak.
    double modDelay = -12000.0;
    double modAttack = -12000.0;
    double modHold = -12000.0;
    double modDecay = -12000.0;
    double modSustain = 0.0;
    double modRelease = -12000.0;
    double keyToModHold = 0.0;
    double keyToModDecay = 0.0;
    double modEnvToPitch = 0.0;  // cents
    double modEnvToFilter = 0.0; // cents

    // LFOs: frequency in absolute cents, delay in time cents.
    double modLfoFrequency = -851.3; // 5 Hz
    double modLfoDelay = -7973.0;    // 10 ms
    double vibLfoFrequency = -851.3;
    double vibLfoDelay = -7973.0;
    double modLfoToPitch = 0.0;  // cents
    double modLfoToVolume = 0.0; // cB of gain
    double modLfoToFilter = 0.0; // cents
    double vibLfoToPitch = 0.0;  // cents

    double pan = 0.0;            // tenths of a percent
    double filterCutoff = 13500; // absolute cents; 13500 and above leaves the filter open
    double filterQ = 0.0;        // cB
    double scaleTuning = 100.0;  // cents per key
    double reverbSend = 0.0;     // tenths of a percent
    double chorusSend = 0.0;
    int exclusiveClass = 0;

    std::vector<VoiceModulator> modulators;
    // Connections that the synthesizer cannot express, as "source->destination" texts.
    std::vector<std::string> unmapped;
};

// The open filter: a cutoff the synthesizer treats as "no filtering".
constexpr double kFilterOpen = 13500.0;

// Time cents of a DLS time scale (1/65536 time cent; dls::kTimeZero is no time).
double TimeCentsOf(int32_t scale);
// Attenuation in cB of an EG1 sustain level in 1/65536 of a tenth of a percent: the
// envelope spans 96 dB, so a level of 80.5 % lies 18.72 dB (187.2 cB) below the peak.
double SustainAttenuationOf(int32_t scale);

// The recipe of `region` in `instrument`: DLS defaults, then the instrument's
// connections, then the region's (a region's block replaces an instrument block with
// the same source, control and destination).
VoiceRecipe MakeVoiceRecipe(const DlsCollection& collection, const DlsInstrument& instrument,
                            const DlsRegion& region);

// True when `region` answers this key and velocity.
bool RegionPlays(const DlsRegion& region, int key, int velocity);

} // namespace sonvex
