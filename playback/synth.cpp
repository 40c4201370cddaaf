// SPDX-License-Identifier: GPL-3.0-or-later
// FluidSynth as a voice engine: a sound-font loader presents each DLS collection as a
// font whose presets start one voice per matching region, with generators set from
// the region's recipe; SoundFont 2 banks go through FluidSynth's own loader; bank and
// program selection stay ours.
#include "playback/synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>

#include "playback/instrument_check.h"
#include "playback/soundfont_bank.h"
#include "playback/voice_recipe.h"

namespace sonvex {

namespace {

constexpr const char* kCollectionPrefix = "sonvex-dls:";
constexpr int kDrumBankFlag = 0x4000; // our font's bank numbers: drum kits above all melodic banks
constexpr int kGmDrumBank = 128;      // drum kits of a General MIDI SoundFont
constexpr int kChannels = 16;
constexpr int kDrumChannel = 9;
constexpr size_t kGuardFrames = 64; // zero frames behind each wave, for interpolation

// The sink of the innermost capture on this thread; null: errors are dropped.
thread_local SynthErrorText* tCapturing = nullptr;

void KeepError(int, const char* message, void*) {
    if (tCapturing != nullptr) {
        tCapturing->Keep(message != nullptr ? message : "");
    }
}
void Quiet(int, const char*, void*) {}

} // namespace

void PrepareSynthLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, KeepError, nullptr);
        fluid_set_log_function(FLUID_ERR, KeepError, nullptr);
        fluid_set_log_function(FLUID_WARN, Quiet, nullptr);
        fluid_set_log_function(FLUID_INFO, Quiet, nullptr);
        fluid_set_log_function(FLUID_DBG, Quiet, nullptr);
        fluid_settings_t* settings = new_fluid_settings();
        if (settings != nullptr) {
            fluid_synth_t* first = new_fluid_synth(settings);
            if (first != nullptr) {
                delete_fluid_synth(first);
            }
            delete_fluid_settings(settings);
        }
    });
}

void SynthErrorText::Keep(std::string_view message) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = message;
}

std::string SynthErrorText::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = std::move(text_);
    text_.clear();
    return text;
}

SynthLogCapture::SynthLogCapture(SynthErrorText& sink) : outer_(tCapturing) {
    tCapturing = &sink;
}

SynthLogCapture::~SynthLogCapture() {
    tCapturing = outer_;
}

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int FluidGenerator(VoiceParam p) {
    switch (p) {
    case VoiceParam::Attenuation:
        return GEN_ATTENUATION;
    case VoiceParam::Pitch:
        return GEN_FINETUNE;
    case VoiceParam::Pan:
        return GEN_PAN;
    case VoiceParam::VolEnvAttack:
        return GEN_VOLENVATTACK;
    case VoiceParam::VolEnvDecay:
        return GEN_VOLENVDECAY;
    case VoiceParam::VolEnvRelease:
        return GEN_VOLENVRELEASE;
    case VoiceParam::ModEnvAttack:
        return GEN_MODENVATTACK;
    case VoiceParam::FilterCutoff:
        return GEN_FILTERFC;
    case VoiceParam::ModLfoToPitch:
        return GEN_MODLFOTOPITCH;
    case VoiceParam::VibLfoToPitch:
        return GEN_VIBLFOTOPITCH;
    case VoiceParam::ReverbSend:
        return GEN_REVERBSEND;
    case VoiceParam::ChorusSend:
        return GEN_CHORUSSEND;
    }
    return GEN_FINETUNE;
}

// A DLS source as a modulator source: number and flags.
bool FluidSource(uint16_t source, uint8_t curve, bool bipolar, bool invert, int& number,
                 int& flags) {
    flags = 0;
    if (source >= 0x0080 && source <= 0x00FF) {
        number = source - 0x0080;
        flags |= FLUID_MOD_CC;
    } else {
        switch (source) {
        case dls::kSrcKeyOnVelocity:
            number = FLUID_MOD_VELOCITY;
            break;
        case dls::kSrcKeyNumber:
            number = FLUID_MOD_KEY;
            break;
        case dls::kSrcPolyPressure:
            number = FLUID_MOD_KEYPRESSURE;
            break;
        case dls::kSrcChannelPressure:
            number = FLUID_MOD_CHANNELPRESSURE;
            break;
        case dls::kSrcPitchWheel:
            number = FLUID_MOD_PITCHWHEEL;
            break;
        default:
            return false;
        }
    }
    switch (curve) {
    case dls::kTransformConcave:
        flags |= FLUID_MOD_CONCAVE;
        break;
    case dls::kTransformConvex:
        flags |= FLUID_MOD_CONVEX;
        break;
    case dls::kTransformSwitch:
        flags |= FLUID_MOD_SWITCH;
        break;
    default:
        flags |= FLUID_MOD_LINEAR;
        break;
    }
    flags |= bipolar ? FLUID_MOD_BIPOLAR : FLUID_MOD_UNIPOLAR;
    flags |= invert ? FLUID_MOD_NEGATIVE : FLUID_MOD_POSITIVE;
    return true;
}

struct RegionVoice {
    const DlsRegion* region = nullptr;
    VoiceRecipe recipe;
    fluid_sample_t* sample = nullptr;
    std::vector<fluid_mod_t*> modulators;
};

struct LoadedPreset {
    std::string name;
    int bank = 0; // our bank number: MSB × 128 + LSB, plus kDrumBankFlag for drum kits
    int program = 0;
    std::vector<RegionVoice> regions;
    fluid_preset_t* preset = nullptr;
};

struct LoadedCollection {
    std::shared_ptr<const DlsCollection> data; // a SoundFont's program map when soundFont
    bool soundFont = false;
    std::string name;
    std::vector<std::vector<short>> waves; // each wave's frames followed by guard frames
    std::vector<std::unique_ptr<LoadedPreset>> presets;
    std::map<std::pair<int, int>, LoadedPreset*> index; // (bank, program)
    fluid_sfont_t* sfont = nullptr;
    int fontId = -1;
    size_t iteration = 0;
    bool retiring = false;
};

// Starts one voice per region that answers the key and velocity.
int PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key, int velocity) {
    auto* p = static_cast<LoadedPreset*>(fluid_preset_get_data(preset));
    for (RegionVoice& rv : p->regions) {
        if (rv.sample == nullptr || !RegionPlays(*rv.region, key, velocity)) {
            continue;
        }
        fluid_voice_t* voice = fluid_synth_alloc_voice(synth, rv.sample, channel, key, velocity);
        if (voice == nullptr) {
            continue;
        }
        const VoiceRecipe& r = rv.recipe;
        auto set = [voice](int gen, double value) {
            fluid_voice_gen_set(voice, gen, static_cast<float>(value));
        };
        set(GEN_SAMPLEMODE, r.loopMode);
        set(GEN_OVERRIDEROOTKEY, r.unityNote);
        set(GEN_FINETUNE, r.fineTune);
        set(GEN_SCALETUNE, r.scaleTuning);
        set(GEN_ATTENUATION, std::max(r.attenuation, 0.0));
        set(GEN_PAN, r.pan);
        set(GEN_VOLENVDELAY, r.volDelay);
        set(GEN_VOLENVATTACK, r.volAttack);
        set(GEN_VOLENVHOLD, r.volHold);
        set(GEN_VOLENVDECAY, r.volDecay);
        // The synthesizer reads this generator as thousandths of its 96 dB envelope range
        // (1000 is the bottom of its 960 cB), so centibels are scaled by 1000/960.
        set(GEN_VOLENVSUSTAIN, r.volSustain * (1000.0 / 960.0));
        set(GEN_VOLENVRELEASE, r.volRelease);
        set(GEN_KEYTOVOLENVHOLD, r.keyToVolHold);
        set(GEN_KEYTOVOLENVDECAY, r.keyToVolDecay);
        set(GEN_MODENVDELAY, r.modDelay);
        set(GEN_MODENVATTACK, r.modAttack);
        set(GEN_MODENVHOLD, r.modHold);
        set(GEN_MODENVDECAY, r.modDecay);
        set(GEN_MODENVSUSTAIN, r.modSustain);
        set(GEN_MODENVRELEASE, r.modRelease);
        set(GEN_KEYTOMODENVHOLD, r.keyToModHold);
        set(GEN_KEYTOMODENVDECAY, r.keyToModDecay);
        set(GEN_MODENVTOPITCH, r.modEnvToPitch);
        set(GEN_MODENVTOFILTERFC, r.modEnvToFilter);
        set(GEN_MODLFOFREQ, r.modLfoFrequency);
        set(GEN_MODLFODELAY, r.modLfoDelay);
        set(GEN_VIBLFOFREQ, r.vibLfoFrequency);
        set(GEN_VIBLFODELAY, r.vibLfoDelay);
        set(GEN_MODLFOTOPITCH, r.modLfoToPitch);
        set(GEN_MODLFOTOVOL, r.modLfoToVolume);
        set(GEN_MODLFOTOFILTERFC, r.modLfoToFilter);
        set(GEN_VIBLFOTOPITCH, r.vibLfoToPitch);
        set(GEN_FILTERFC, r.filterCutoff);
        set(GEN_FILTERQ, r.filterQ);
        set(GEN_REVERBSEND, r.reverbSend);
        set(GEN_CHORUSSEND, r.chorusSend);
        set(GEN_EXCLUSIVECLASS, r.exclusiveClass);
        for (fluid_mod_t* m : rv.modulators) {
            fluid_voice_add_mod(voice, m, FLUID_VOICE_OVERWRITE);
        }
        fluid_synth_start_voice(synth, voice);
    }
    return FLUID_OK;
}

const char* PresetName(fluid_preset_t* preset) {
    return static_cast<LoadedPreset*>(fluid_preset_get_data(preset))->name.c_str();
}
int PresetBank(fluid_preset_t* preset) {
    return static_cast<LoadedPreset*>(fluid_preset_get_data(preset))->bank;
}
int PresetNumber(fluid_preset_t* preset) {
    return static_cast<LoadedPreset*>(fluid_preset_get_data(preset))->program;
}
// Presets belong to their collection and go with it.
void PresetFree(fluid_preset_t*) {}

const char* FontName(fluid_sfont_t* font) {
    return static_cast<LoadedCollection*>(fluid_sfont_get_data(font))->name.c_str();
}
fluid_preset_t* FontPreset(fluid_sfont_t* font, int bank, int program) {
    auto* c = static_cast<LoadedCollection*>(fluid_sfont_get_data(font));
    const auto it = c->index.find({bank, program});
    return it == c->index.end() ? nullptr : it->second->preset;
}
void FontIterationStart(fluid_sfont_t* font) {
    static_cast<LoadedCollection*>(fluid_sfont_get_data(font))->iteration = 0;
}
fluid_preset_t* FontIterationNext(fluid_sfont_t* font) {
    auto* c = static_cast<LoadedCollection*>(fluid_sfont_get_data(font));
    return c->iteration < c->presets.size() ? c->presets[c->iteration++]->preset : nullptr;
}
int FontFree(fluid_sfont_t* font) {
    auto* c = static_cast<LoadedCollection*>(fluid_sfont_get_data(font));
    for (auto& p : c->presets) {
        for (RegionVoice& rv : p->regions) {
            for (fluid_mod_t* m : rv.modulators) {
                delete_fluid_mod(m);
            }
            if (rv.sample != nullptr) {
                delete_fluid_sample(rv.sample);
            }
        }
        delete_fluid_preset(p->preset);
    }
    c->presets.clear();
    c->index.clear();
    c->sfont = nullptr;
    delete_fluid_sfont(font);
    return 0;
}

// Builds the presets of one collection: samples per region (the region's own loop and
// tuning), the recipe, the modulators.
void BuildPresets(LoadedCollection& c) {
    const DlsCollection& col = *c.data;
    c.waves.resize(col.waves.size());
    for (size_t i = 0; i < col.waves.size(); ++i) {
        const DlsWave& w = col.waves[i];
        if (w.playable) {
            c.waves[i].assign(w.pcm.begin(), w.pcm.end());
            c.waves[i].resize(w.pcm.size() + kGuardFrames, 0);
        }
    }
    for (const DlsInstrument& instrument : col.instruments) {
        auto preset = std::make_unique<LoadedPreset>();
        preset->name = instrument.name;
        preset->bank = instrument.BankMsb() * 128 + instrument.BankLsb() +
                       (instrument.IsDrumKit() ? kDrumBankFlag : 0);
        preset->program = instrument.Program();
        if (c.index.count({preset->bank, preset->program}) != 0) {
            continue; // the first instrument of a bank and program answers
        }
        for (const DlsRegion& region : instrument.regions) {
            RegionVoice rv;
            rv.region = &region;
            rv.recipe = MakeVoiceRecipe(col, instrument, region);
            const DlsWave* wave = rv.recipe.wave;
            if (wave != nullptr) {
                const size_t waveIndex = static_cast<size_t>(wave - col.waves.data());
                fluid_sample_t* s = new_fluid_sample();
                fluid_sample_set_name(s, wave->name.c_str());
                if (fluid_sample_set_sound_data(s, c.waves[waveIndex].data(), nullptr,
                                                static_cast<unsigned>(wave->pcm.size()),
                                                wave->sampleRate, 0) != FLUID_OK) {
                    delete_fluid_sample(s);
                    s = nullptr;
                } else {
                    if (rv.recipe.loopMode != 0) {
                        fluid_sample_set_loop(s, rv.recipe.loopStart, rv.recipe.loopEnd);
                    }
                    fluid_sample_set_pitch(s, rv.recipe.unityNote, 0);
                }
                rv.sample = s;
            }
            for (const VoiceModulator& vm : rv.recipe.modulators) {
                int number = 0;
                int flags = 0;
                if (!FluidSource(vm.source, vm.curve, vm.bipolar, vm.invert, number, flags)) {
                    continue;
                }
                fluid_mod_t* m = new_fluid_mod();
                fluid_mod_set_source1(m, number, flags);
                int number2 = FLUID_MOD_NONE;
                int flags2 = FLUID_MOD_GC;
                if (vm.control != dls::kSrcNone &&
                    !FluidSource(vm.control, dls::kTransformNone, false, false, number2, flags2)) {
                    number2 = FLUID_MOD_NONE;
                    flags2 = FLUID_MOD_GC;
                }
                fluid_mod_set_source2(m, number2, flags2);
                fluid_mod_set_dest(m, FluidGenerator(vm.destination));
                fluid_mod_set_amount(m, vm.amount);
                rv.modulators.push_back(m);
            }
            preset->regions.push_back(std::move(rv));
        }
        preset->preset = new_fluid_preset(c.sfont, PresetName, PresetBank, PresetNumber,
                                          PresetNoteOn, PresetFree);
        fluid_preset_set_data(preset->preset, preset.get());
        c.index[{preset->bank, preset->program}] = preset.get();
        c.presets.push_back(std::move(preset));
    }
}

} // namespace

struct Synth::Impl {
    SynthOptions options;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int gmFont = -1;
    std::vector<std::unique_ptr<LoadedCollection>> collections; // by slot
    int loadingSlot = -1; // the slot the font loader is asked for
    int defaultSlot = -1;
    std::vector<int> bandSlots;
    struct Channel {
        uint8_t bankMsb = 0;
        uint8_t bankLsb = 0;
        bool programSet = false; // a program change, a band or the first note chose it
        ProgramChoice choice;
    };
    Channel channels[kChannels];
    SynthErrorText errors; // what FluidSynth logged while working for this synthesizer

    ~Impl() {
        SynthLogCapture capture(errors);
        if (synth != nullptr) {
            delete_fluid_synth(synth); // frees our fonts through FontFree
        }
        if (settings != nullptr) {
            delete_fluid_settings(settings);
        }
    }

    static fluid_sfont_t* LoadFont(fluid_sfloader_t* loader, const char* filename) {
        auto* self = static_cast<Impl*>(fluid_sfloader_get_data(loader));
        const std::string name = filename != nullptr ? filename : "";
        if (name.rfind(kCollectionPrefix, 0) != 0 || self->loadingSlot < 0) {
            return nullptr;
        }
        LoadedCollection& c = *self->collections[static_cast<size_t>(self->loadingSlot)];
        c.sfont =
            new_fluid_sfont(FontName, FontPreset, FontIterationStart, FontIterationNext, FontFree);
        if (c.sfont == nullptr) {
            return nullptr;
        }
        fluid_sfont_set_data(c.sfont, &c);
        BuildPresets(c);
        return c.sfont;
    }

    LoadedCollection* Slot(int slot) const {
        if (slot < 0 || static_cast<size_t>(slot) >= collections.size() || !collections[slot] ||
            collections[slot]->retiring || collections[slot]->fontId < 0) {
            return nullptr;
        }
        return collections[slot].get();
    }

    // Selects program `program` of bank (msb, lsb) on `channel` from collection `slot`,
    // else from the General MIDI SoundFont, else leaves the channel silent.
    void Select(int channel, int slot, int msb, int lsb, int program, bool drumKit,
                bool preferDrumKit) {
        Channel& ch = channels[channel];
        ch.choice = ProgramChoice{};
        ch.choice.bank = msb * 128 + lsb;
        ch.choice.program = program;
        LoadedCollection* c = Slot(slot);
        if (c != nullptr && c->soundFont) {
            ch.choice.bank = msb;
            const DlsInstrument* found =
                FindInstrument(*c->data, msb, program, drumKit, preferDrumKit);
            const bool kit = found != nullptr && found->IsDrumKit();
            if (found != nullptr &&
                fluid_synth_program_select(synth, channel, c->fontId,
                                           kit ? kSoundFontDrumBank : msb, program) == FLUID_OK) {
                ch.choice.source = ProgramChoice::Source::Collection;
                ch.choice.collection = slot;
                ch.choice.drumKit = kit;
                return;
            }
        } else if (c != nullptr) {
            const int melodic = msb * 128 + lsb;
            const int drum = melodic + kDrumBankFlag;
            int bank = -1;
            if ((drumKit || preferDrumKit) && c->index.count({drum, program}) != 0) {
                bank = drum;
            } else if (!drumKit && c->index.count({melodic, program}) != 0) {
                bank = melodic;
            }
            if (bank >= 0 &&
                fluid_synth_program_select(synth, channel, c->fontId, bank, program) == FLUID_OK) {
                ch.choice.source = ProgramChoice::Source::Collection;
                ch.choice.collection = slot;
                ch.choice.drumKit = bank == drum;
                return;
            }
        }
        if (gmFont >= 0) {
            const bool kit = drumKit || preferDrumKit;
            if (fluid_synth_program_select(synth, channel, gmFont, kit ? kGmDrumBank : 0,
                                           program) == FLUID_OK ||
                (kit &&
                 fluid_synth_program_select(synth, channel, gmFont, kGmDrumBank, 0) == FLUID_OK)) {
                ch.choice.source = ProgramChoice::Source::GeneralMidi;
                ch.choice.drumKit = kit;
                return;
            }
        }
        fluid_synth_unset_program(synth, channel);
    }

    // Before a channel's first note: without a program of its own it plays the
    // instrument whose program number is the channel's, from the connected collection
    // (else the first band collection found); without one it keeps what it has.
    void PrepareNote(int channel) {
        Channel& ch = channels[channel];
        if (ch.programSet) {
            return;
        }
        ch.programSet = true;
        int slot = defaultSlot;
        for (size_t i = 0; Slot(slot) == nullptr && i < bandSlots.size(); ++i) {
            slot = bandSlots[i];
        }
        LoadedCollection* c = Slot(slot);
        if (c == nullptr) {
            return;
        }
        const std::optional<InstrumentPick> pick = DefaultInstrument(*c->data, channel);
        if (!pick) {
            return;
        }
        const int bank = c->soundFont ? (pick->drumKit ? kSoundFontDrumBank : pick->bank)
                                      : pick->bank + (pick->drumKit ? kDrumBankFlag : 0);
        if (fluid_synth_program_select(synth, channel, c->fontId, bank, channel) == FLUID_OK) {
            ch.choice = ProgramChoice{};
            ch.choice.source = ProgramChoice::Source::Collection;
            ch.choice.collection = slot;
            ch.choice.bank = pick->bank;
            ch.choice.program = channel;
            ch.choice.drumKit = pick->drumKit;
        }
    }

    void Retire() {
        for (size_t slot = 0; slot < collections.size(); ++slot) {
            LoadedCollection* c = collections[slot].get();
            if (c == nullptr || !c->retiring) {
                continue;
            }
            for (int ch = 0; ch < kChannels; ++ch) {
                if (channels[ch].choice.source == ProgramChoice::Source::Collection &&
                    channels[ch].choice.collection == static_cast<int>(slot)) {
                    fluid_synth_unset_program(synth, ch);
                    channels[ch].choice = ProgramChoice{};
                }
            }
            if (fluid_synth_get_active_voice_count(synth) != 0) {
                continue; // a voice may still play one of its samples
            }
            if (c->fontId >= 0) {
                fluid_synth_sfunload(synth, c->fontId, 0);
            }
            collections[slot].reset();
        }
    }
};

Synth::Synth(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Synth::~Synth() = default;

bool GeneralMidiSoundFontFound(const SynthOptions& options) {
    return options.useGmSoundFont &&
           FileExists(options.gmSoundFont.empty() ? kDebianGmSoundFont : options.gmSoundFont);
}

std::unique_ptr<Synth> Synth::Create(const SynthOptions& options, std::string* error) {
    PrepareSynthLibrary();
    auto impl = std::make_unique<Impl>();
    SynthLogCapture capture(impl->errors);
    impl->options = options;
    impl->settings = new_fluid_settings();
    if (impl->settings == nullptr) {
        if (error != nullptr) {
            *error = "the synthesizer settings cannot be made";
        }
        return nullptr;
    }
    fluid_settings_setnum(impl->settings, "synth.sample-rate", options.sampleRate);
    fluid_settings_setnum(impl->settings, "synth.gain", options.gain);
    fluid_settings_setint(impl->settings, "synth.reverb.active", options.reverb ? 1 : 0);
    fluid_settings_setint(impl->settings, "synth.chorus.active", options.chorus ? 1 : 0);
    fluid_settings_setint(impl->settings, "synth.polyphony", options.polyphony);
    fluid_settings_setint(impl->settings, "synth.cpu-cores", 1);
    // Bank value 1 is CC0 = 0 with CC32 = 1; only this mode counts both bytes.
    fluid_settings_setstr(impl->settings, "synth.midi-bank-select", "mma");
    impl->synth = new_fluid_synth(impl->settings);
    if (impl->synth == nullptr) {
        if (error != nullptr) {
            *error = "the synthesizer cannot be made: " + impl->errors.Take();
        }
        return nullptr;
    }
    // DLS has no velocity-to-cutoff connection unless a collection says so.
    fluid_mod_t* velocityToCutoff = new_fluid_mod();
    fluid_mod_set_source1(velocityToCutoff, FLUID_MOD_VELOCITY,
                          FLUID_MOD_GC | FLUID_MOD_LINEAR | FLUID_MOD_UNIPOLAR |
                              FLUID_MOD_NEGATIVE);
    fluid_mod_set_source2(velocityToCutoff, FLUID_MOD_VELOCITY,
                          FLUID_MOD_GC | FLUID_MOD_SWITCH | FLUID_MOD_UNIPOLAR |
                              FLUID_MOD_POSITIVE);
    fluid_mod_set_dest(velocityToCutoff, GEN_FILTERFC);
    fluid_synth_remove_default_mod(impl->synth, velocityToCutoff);
    delete_fluid_mod(velocityToCutoff);

    // Our collections have no drum kits: channel 10 plays melodic programs like the rest.
    for (int ch = 0; ch < kChannels; ++ch) {
        fluid_synth_set_channel_type(impl->synth, ch, CHANNEL_TYPE_MELODIC);
    }
    fluid_sfloader_t* loader = new_fluid_sfloader(Impl::LoadFont, delete_fluid_sfloader);
    fluid_sfloader_set_data(loader, impl.get());
    fluid_synth_add_sfloader(impl->synth, loader);

    if (GeneralMidiSoundFontFound(options)) {
        const std::string path =
            options.gmSoundFont.empty() ? kDebianGmSoundFont : options.gmSoundFont;
        impl->gmFont = fluid_synth_sfload(impl->synth, path.c_str(), 0);
    }
    std::unique_ptr<Synth> synth(new Synth(std::move(impl)));
    synth->ResetChannels();
    return synth;
}

int Synth::AddCollection(std::shared_ptr<const DlsCollection> collection,
                         const std::string& soundFontFile) {
    Impl& m = *impl_;
    SynthLogCapture capture(m.errors);
    auto c = std::make_unique<LoadedCollection>();
    c->data = std::move(collection);
    c->soundFont = !soundFontFile.empty();
    const int slot = static_cast<int>(m.collections.size());
    // Our loader answers only to our prefix, so a file name reaches FluidSynth's own.
    c->name = c->soundFont ? soundFontFile : kCollectionPrefix + std::to_string(slot);
    m.collections.push_back(std::move(c));
    m.loadingSlot = m.collections.back()->soundFont ? -1 : slot;
    const int id = fluid_synth_sfload(m.synth, m.collections.back()->name.c_str(), 0);
    m.loadingSlot = -1;
    if (id < 0) {
        m.collections.back().reset();
        return -1;
    }
    m.collections.back()->fontId = id;
    return slot;
}

void Synth::ReleaseCollection(int slot) {
    SynthLogCapture capture(impl_->errors);
    if (LoadedCollection* c = impl_->Slot(slot)) {
        c->retiring = true;
        impl_->Retire();
    }
    if (impl_->defaultSlot == slot) {
        impl_->defaultSlot = -1;
    }
}

void Synth::SetDefaultCollection(int slot) {
    impl_->defaultSlot = slot;
}
void Synth::SetBandCollections(std::vector<int> slots) {
    impl_->bandSlots = std::move(slots);
}
bool Synth::HasGeneralMidi() const {
    return impl_->gmFont >= 0;
}

void Synth::Dispatch(const OutputEvent& e) {
    Impl& m = *impl_;
    SynthLogCapture capture(m.errors);
    fluid_synth_t* s = m.synth;
    const int ch = e.Channel();
    switch (e.kind) {
    case OutputEvent::Kind::NoteOn:
        m.PrepareNote(ch);
        fluid_synth_noteon(s, ch, e.data1, e.data2);
        break;
    case OutputEvent::Kind::NoteOff:
        fluid_synth_noteoff(s, ch, e.data1);
        break;
    case OutputEvent::Kind::Channel:
        switch (e.status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(s, ch, e.data1);
            break;
        case 0x90:
            if (e.data2 > 0) {
                m.PrepareNote(ch);
            }
            fluid_synth_noteon(s, ch, e.data1, e.data2);
            break;
        case 0xA0:
            fluid_synth_key_pressure(s, ch, e.data1, e.data2);
            break;
        case 0xB0:
            if (e.data1 == 0) {
                m.channels[ch].bankMsb = e.data2;
            } else if (e.data1 == 32) {
                m.channels[ch].bankLsb = e.data2;
            } else {
                fluid_synth_cc(s, ch, e.data1, e.data2);
            }
            break;
        case 0xC0:
            m.Select(ch, m.defaultSlot, m.channels[ch].bankMsb, m.channels[ch].bankLsb, e.data1,
                     false, ch == kDrumChannel);
            m.channels[ch].programSet = true;
            break;
        case 0xD0:
            fluid_synth_channel_pressure(s, ch, e.data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(s, ch, e.data2 << 7 | e.data1);
            break;
        default:
            break;
        }
        break;
    case OutputEvent::Kind::Band: {
        const BandInstrument& b = *e.instrument;
        // A band whose collection could not be loaded plays from the default one.
        int slot = m.defaultSlot;
        if (b.collection >= 0 && static_cast<size_t>(b.collection) < m.bandSlots.size() &&
            m.bandSlots[b.collection] >= 0) {
            slot = m.bandSlots[b.collection];
        }
        if ((b.flags & kBandPatchValid) != 0) {
            const bool bankValid = (b.flags & kBandBankValid) != 0;
            const int msb = bankValid ? static_cast<int>((b.patch >> 16) & 0x7F) : 0;
            const int lsb = bankValid ? static_cast<int>((b.patch >> 8) & 0x7F) : 0;
            m.channels[ch].bankMsb = static_cast<uint8_t>(msb);
            m.channels[ch].bankLsb = static_cast<uint8_t>(lsb);
            m.Select(ch, slot, msb, lsb, static_cast<int>(b.patch & 0x7F),
                     (b.patch & 0x80000000u) != 0, false);
            m.channels[ch].programSet = true;
        }
        if ((b.flags & kBandVolumeValid) != 0) {
            fluid_synth_cc(s, ch, 7, b.volume);
        }
        if ((b.flags & kBandPanValid) != 0) {
            fluid_synth_cc(s, ch, 10, b.pan);
        }
        if ((b.flags & kBandBendRangeValid) != 0) {
            fluid_synth_pitch_wheel_sens(s, ch, std::clamp<int>(b.bendRange, 0, 127));
        }
        break;
    }
    case OutputEvent::Kind::ResetChannels:
        ResetChannels();
        break;
    case OutputEvent::Kind::AllSoundsOff:
        AllSoundsOff();
        break;
    case OutputEvent::Kind::SegmentStart:
    case OutputEvent::Kind::SegmentLoop:
    case OutputEvent::Kind::SegmentEnd:
        break;
    }
}

void Synth::Render(float* left, float* right, int frames) {
    if (frames <= 0) {
        return;
    }
    SynthLogCapture capture(impl_->errors);
    fluid_synth_write_float(impl_->synth, frames, left, 0, 1, right, 0, 1);
    for (const auto& c : impl_->collections) {
        if (c && c->retiring) {
            impl_->Retire();
            break;
        }
    }
}

int Synth::ActiveVoices() const {
    return fluid_synth_get_active_voice_count(impl_->synth);
}

void Synth::AllSoundsOff() {
    SynthLogCapture capture(impl_->errors);
    fluid_synth_all_sounds_off(impl_->synth, -1);
}

void Synth::ResetChannels() {
    Impl& m = *impl_;
    SynthLogCapture capture(m.errors);
    for (int ch = 0; ch < kChannels; ++ch) {
        fluid_synth_cc(m.synth, ch, 121, 0); // reset controllers, bend and pressure
        fluid_synth_cc(m.synth, ch, 64, 0);
        fluid_synth_cc(m.synth, ch, 7, 100);
        fluid_synth_cc(m.synth, ch, 10, 64);
        fluid_synth_cc(m.synth, ch, 11, 127);
        fluid_synth_cc(m.synth, ch, 91, 0);
        fluid_synth_cc(m.synth, ch, 93, 0);
        fluid_synth_pitch_bend(m.synth, ch, 8192);
        fluid_synth_pitch_wheel_sens(m.synth, ch, 2);
        m.channels[ch].bankMsb = 0;
        m.channels[ch].bankLsb = 0;
        m.Select(ch, m.defaultSlot, 0, 0, 0, false, ch == kDrumChannel);
        m.channels[ch].programSet = false;
    }
}

ProgramChoice Synth::CurrentProgram(int channel) const {
    if (channel < 0 || channel >= kChannels) {
        return {};
    }
    return impl_->channels[channel].choice;
}

double Synth::SampleRate() const {
    return impl_->options.sampleRate;
}

std::string Synth::TakeError() {
    return impl_->errors.Take();
}

void* Synth::Handle() const {
    return impl_->synth;
}

} // namespace sonvex
