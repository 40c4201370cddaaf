// SPDX-License-Identifier: GPL-3.0-or-later
// DLS connection blocks to synthesizer generator values: the unit conversions and the
// merge of instrument and region articulation.
#include "playback/voice_recipe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sonvex {

namespace {

constexpr double kScaleUnit = 65536.0;

double Units(int32_t scale) {
    return static_cast<double>(scale) / kScaleUnit;
}

std::string ConnectionText(const DlsConnection& c) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%04X/0x%04X->0x%04X", c.source, c.control, c.destination);
    return text;
}

// The curve of a connection's source: Level 2 keeps it in bits 10-13 (the output
// curve in bits 0-3 is taken when the source has none); Level 1 in the low bits.
uint8_t SourceCurve(const DlsConnection& c) {
    if (!c.level2) {
        return static_cast<uint8_t>(c.transform & 0x0F);
    }
    const uint8_t source = static_cast<uint8_t>((c.transform >> 10) & 0x0F);
    return source != 0 ? source : static_cast<uint8_t>(c.transform & 0x0F);
}

bool SourceBipolar(const DlsConnection& c) {
    return c.level2 && (c.transform & 0x4000) != 0;
}
bool SourceInvert(const DlsConnection& c) {
    return c.level2 && (c.transform & 0x8000) != 0;
}

bool IsMidiSource(uint16_t source) {
    return source == dls::kSrcKeyOnVelocity || source == dls::kSrcPolyPressure ||
           source == dls::kSrcChannelPressure || (source >= 0x0080 && source <= 0x00FF);
}

// A constant connection (no source, no control) sets a parameter outright.
bool ApplyConstant(VoiceRecipe& r, const DlsConnection& c) {
    const double v = Units(c.scale);
    switch (c.destination) {
    case dls::kDstGain:
        r.attenuation -= v;
        return true; // gain in cB; attenuation is its negative
    case dls::kDstPitch:
        r.fineTune += v;
        return true;
    case dls::kDstPan:
        r.pan = v;
        return true;
    case dls::kDstChorus:
        r.chorusSend = v;
        return true;
    case dls::kDstReverb:
        r.reverbSend = v;
        return true;
    case dls::kDstLfoFrequency:
        r.modLfoFrequency = v;
        return true;
    case dls::kDstLfoDelay:
        r.modLfoDelay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstVibratoFrequency:
        r.vibLfoFrequency = v;
        return true;
    case dls::kDstVibratoDelay:
        r.vibLfoDelay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg1Attack:
        r.volAttack = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg1Decay:
        r.volDecay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg1Release:
        r.volRelease = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg1Sustain:
        r.volSustain = SustainAttenuationOf(c.scale);
        return true;
    case dls::kDstEg1Delay:
        r.volDelay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg1Hold:
        r.volHold = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg2Attack:
        r.modAttack = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg2Decay:
        r.modDecay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg2Release:
        r.modRelease = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg2Sustain:
        r.modSustain = 1000.0 - std::clamp(v, 0.0, 1000.0);
        return true;
    case dls::kDstEg2Delay:
        r.modDelay = TimeCentsOf(c.scale);
        return true;
    case dls::kDstEg2Hold:
        r.modHold = TimeCentsOf(c.scale);
        return true;
    case dls::kDstFilterCutoff:
        r.filterCutoff = c.scale == dls::kFilterCutoffOff ? kFilterOpen : v;
        return true;
    case dls::kDstFilterQ:
        r.filterQ = v;
        return true;
    default:
        return false;
    }
}

// LFOs and envelopes as sources of pitch, gain and cutoff depth.
bool ApplyInternalSource(VoiceRecipe& r, const DlsConnection& c) {
    const double v = Units(c.scale);
    if (c.source == dls::kSrcLfo) {
        switch (c.destination) {
        case dls::kDstPitch:
            r.modLfoToPitch = v;
            return true;
        case dls::kDstGain:
            r.modLfoToVolume = v;
            return true;
        case dls::kDstFilterCutoff:
            r.modLfoToFilter = v;
            return true;
        default:
            return false;
        }
    }
    if (c.source == dls::kSrcVibrato && c.destination == dls::kDstPitch) {
        r.vibLfoToPitch = v;
        return true;
    }
    if (c.source == dls::kSrcEg2) {
        switch (c.destination) {
        case dls::kDstPitch:
            r.modEnvToPitch = v;
            return true;
        case dls::kDstFilterCutoff:
            r.modEnvToFilter = v;
            return true;
        default:
            return false;
        }
    }
    return false;
}

// Key number as a source: DLS scales the key as key/128, the synthesizer counts time
// per key from key 60 downwards, so the slope changes sign and the part at key 60
// moves into the base time.
bool ApplyKeyNumber(VoiceRecipe& r, const DlsConnection& c) {
    const double v = Units(c.scale);
    const double perKey = v / 128.0;
    const double atKey60 = perKey * 60.0;
    switch (c.destination) {
    case dls::kDstPitch:
        r.scaleTuning = perKey;
        return true;
    case dls::kDstEg1Decay:
        r.keyToVolDecay = -perKey;
        r.volDecay += atKey60;
        return true;
    case dls::kDstEg1Hold:
        r.keyToVolHold = -perKey;
        r.volHold += atKey60;
        return true;
    case dls::kDstEg2Decay:
        r.keyToModDecay = -perKey;
        r.modDecay += atKey60;
        return true;
    case dls::kDstEg2Hold:
        r.keyToModHold = -perKey;
        r.modHold += atKey60;
        return true;
    default:
        return false;
    }
}

// Velocity, controllers and pressure become modulators. Curves on a gain destination
// are attenuation curves (full source, no attenuation), which is how a concave
// velocity-to-gain block of -96 dB is meant.
bool ApplyMidiSource(VoiceRecipe& r, const DlsConnection& c, uint16_t source, uint16_t control) {
    VoiceModulator m;
    m.source = source;
    m.control = control;
    m.curve = SourceCurve(c);
    m.bipolar = SourceBipolar(c);
    m.invert = SourceInvert(c);
    m.amount = Units(c.scale);
    switch (c.destination) {
    case dls::kDstGain:
        m.destination = VoiceParam::Attenuation;
        m.amount = -m.amount;
        if (m.curve != dls::kTransformNone && m.curve != dls::kTransformSwitch) {
            m.invert = !m.invert;
        }
        break;
    case dls::kDstPitch:
        m.destination = VoiceParam::Pitch;
        break;
    case dls::kDstPan:
        m.destination = VoiceParam::Pan;
        break;
    case dls::kDstEg1Attack:
        m.destination = VoiceParam::VolEnvAttack;
        break;
    case dls::kDstEg1Decay:
        m.destination = VoiceParam::VolEnvDecay;
        break;
    case dls::kDstEg1Release:
        m.destination = VoiceParam::VolEnvRelease;
        break;
    case dls::kDstEg2Attack:
        m.destination = VoiceParam::ModEnvAttack;
        break;
    case dls::kDstFilterCutoff:
        m.destination = VoiceParam::FilterCutoff;
        break;
    case dls::kDstReverb:
        m.destination = VoiceParam::ReverbSend;
        break;
    case dls::kDstChorus:
        m.destination = VoiceParam::ChorusSend;
        break;
    default:
        return false;
    }
    r.modulators.push_back(m);
    return true;
}

void Apply(VoiceRecipe& r, const DlsConnection& c) {
    bool mapped = false;
    if (c.source == dls::kSrcNone && c.control == dls::kSrcNone) {
        mapped = ApplyConstant(r, c);
    } else if (c.control == dls::kSrcNone &&
               (c.source == dls::kSrcLfo || c.source == dls::kSrcVibrato ||
                c.source == dls::kSrcEg2)) {
        mapped = ApplyInternalSource(r, c);
    } else if (c.control == dls::kSrcNone && c.source == dls::kSrcKeyNumber) {
        mapped = ApplyKeyNumber(r, c);
    } else if ((c.source == dls::kSrcLfo || c.source == dls::kSrcVibrato) &&
               IsMidiSource(c.control) && c.destination == dls::kDstPitch) {
        // A controller that scales an LFO's pitch depth (the mod wheel's vibrato).
        VoiceModulator m;
        m.source = c.control;
        m.destination =
            c.source == dls::kSrcLfo ? VoiceParam::ModLfoToPitch : VoiceParam::VibLfoToPitch;
        m.amount = Units(c.scale);
        r.modulators.push_back(m);
        mapped = true;
    } else if (IsMidiSource(c.source) && (c.control == dls::kSrcNone || IsMidiSource(c.control))) {
        mapped = ApplyMidiSource(r, c, c.source, c.control);
    } else if (c.source == dls::kSrcPitchWheel && c.control == dls::kSrcRpn0 &&
               c.destination == dls::kDstPitch) {
        mapped = true; // the synthesizer's own pitch wheel: range times the wheel
    }
    if (!mapped) {
        r.unmapped.push_back(ConnectionText(c));
    }
}

bool SameTarget(const DlsConnection& a, const DlsConnection& b) {
    return a.source == b.source && a.control == b.control && a.destination == b.destination;
}

} // namespace

double TimeCentsOf(int32_t scale) {
    if (scale == dls::kTimeZero) {
        return -12000.0;
    }
    return std::max(Units(scale), -12000.0);
}

double SustainAttenuationOf(int32_t scale) {
    const double tenths = std::clamp(Units(scale), 0.0, 1000.0);
    return 960.0 * (1.0 - tenths / 1000.0);
}

bool RegionPlays(const DlsRegion& region, int key, int velocity) {
    return key >= region.keyLow && key <= region.keyHigh && velocity >= region.velocityLow &&
           velocity <= region.velocityHigh;
}

VoiceRecipe MakeVoiceRecipe(const DlsCollection& collection, const DlsInstrument& instrument,
                            const DlsRegion& region) {
    VoiceRecipe r;
    r.wave = collection.WaveOf(region);
    r.exclusiveClass = region.keyGroup;

    const DlsSampleInfo* info = nullptr;
    if (region.sample) {
        info = &*region.sample;
    } else if (r.wave != nullptr && r.wave->sample) {
        info = &*r.wave->sample;
    }
    if (info != nullptr) {
        r.unityNote = std::min<int>(info->unityNote, 127);
        r.fineTune = info->fineTune;
        r.attenuation = -Units(info->attenuation);
        if (!info->loops.empty() && r.wave != nullptr) {
            const DlsLoop& loop = info->loops.front();
            const uint64_t frames = r.wave->pcm.size();
            const uint64_t end = static_cast<uint64_t>(loop.start) + loop.length;
            if (loop.length > 0 && end <= frames) {
                r.loopMode = loop.type == dls::kLoopRelease ? 3 : 1;
                r.loopStart = loop.start;
                r.loopEnd = static_cast<uint32_t>(end);
            }
        }
    }

    // Instrument blocks that a region block of the same target replaces are left out.
    std::vector<DlsConnection> blocks;
    for (const DlsConnection& c : instrument.articulation) {
        const bool replaced =
            std::any_of(region.articulation.begin(), region.articulation.end(),
                        [&](const DlsConnection& own) { return SameTarget(own, c); });
        if (!replaced) {
            blocks.push_back(c);
        }
    }
    blocks.insert(blocks.end(), region.articulation.begin(), region.articulation.end());
    // Key-number blocks add to base times, so they go after the constants they adjust.
    std::stable_partition(blocks.begin(), blocks.end(),
                          [](const DlsConnection& c) { return c.source != dls::kSrcKeyNumber; });
    for (const DlsConnection& c : blocks) {
        Apply(r, c);
    }
    return r;
}

} // namespace sonvex
