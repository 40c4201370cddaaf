// SPDX-License-Identifier: GPL-3.0-or-later
// Instrument lookup in a collection, and the walk that finds notes without an instrument.
#include "playback/instrument_check.h"

#include <algorithm>

#include "playback/voice_recipe.h"

namespace sonvex {

namespace {

constexpr int kChannels = 16;
constexpr int kDrumChannel = 9; // prefers a drum kit of the program it asks for

int MelodicBank(const DlsInstrument& instrument) {
    return instrument.BankMsb() * 128 + instrument.BankLsb();
}

const DlsInstrument* Find(const DlsCollection& collection, int bank, int program, bool drumKit) {
    for (const DlsInstrument& i : collection.instruments) {
        if (i.IsDrumKit() == drumKit && MelodicBank(i) == bank && i.Program() == program) {
            return &i;
        }
    }
    return nullptr;
}

// What one channel plays, as far as the choice of instrument goes.
struct ChannelState {
    int bankMsb = 0;
    int bankLsb = 0;
    bool programSet = false; // a program change, a band or the first note decided it
    bool sounds = false;     // the decided instrument exists
    int bank = 0;            // asked for, for the report
    int program = 0;
    bool drumKit = false;
    bool noProgram = false; // no program change, and no default instrument either
    const DlsCollection* collection = nullptr; // where `instrument` is
    const DlsInstrument* instrument = nullptr; // what answers from a collection
};

} // namespace

std::optional<InstrumentPick> DefaultInstrument(const DlsCollection& collection, int program) {
    for (bool drumKit : {false, true}) {
        for (const DlsInstrument& i : collection.instruments) {
            if (i.IsDrumKit() == drumKit && i.Program() == program) {
                return InstrumentPick{MelodicBank(i), drumKit, &i};
            }
        }
    }
    return std::nullopt;
}

const DlsInstrument* FindInstrument(const DlsCollection& collection, int bank, int program,
                                    bool drumKit, bool preferDrumKit) {
    if (drumKit || preferDrumKit) {
        if (const DlsInstrument* kit = Find(collection, bank, program, true)) {
            return kit;
        }
    }
    return drumKit ? nullptr : Find(collection, bank, program, false);
}

bool PlaysKey(const DlsCollection& collection, const DlsInstrument& instrument, int key,
              int velocity) {
    return std::any_of(instrument.regions.begin(), instrument.regions.end(),
                       [&](const DlsRegion& r) {
                           return RegionPlays(r, key, velocity) && collection.WaveOf(r) != nullptr;
                       });
}

const DlsCollection* DefaultSource(const InstrumentSources& sources) {
    if (sources.connected != nullptr) {
        return sources.connected;
    }
    for (const DlsCollection* c : sources.bands) {
        if (c != nullptr) {
            return c;
        }
    }
    return nullptr;
}

std::string InstrumentCheck::Describe() const {
    std::string text;
    for (const SilentProgram& s : silent) {
        if (!text.empty()) {
            text += ", ";
        }
        text += "channel " + std::to_string(s.channel + 1);
        if (s.noProgram) {
            text +=
                " (no program change; no program " + std::to_string(s.program) + " in any bank)";
        } else {
            text += " (bank " + std::to_string(s.bank) +
                    (s.drumKit ? ", drum kit " : ", program ") + std::to_string(s.program) +
                    (s.outsideKeys ? ": no region for its notes" : "") + ")";
        }
    }
    return text;
}

InstrumentCheck CheckInstruments(const Sequence& sequence, const InstrumentSources& sources) {
    InstrumentCheck check;
    ChannelState channels[kChannels];
    const DlsCollection* fallback = DefaultSource(sources);

    auto choose = [&](ChannelState& ch, const DlsCollection* from, int bank, int program,
                      bool drumKit, bool preferDrumKit) {
        ch.programSet = true;
        ch.bank = bank;
        ch.program = program;
        ch.drumKit = drumKit;
        ch.noProgram = false;
        ch.collection = from;
        ch.instrument = from != nullptr
                            ? FindInstrument(*from, bank, program, drumKit, preferDrumKit)
                            : nullptr;
        ch.sounds = ch.instrument != nullptr || sources.generalMidi;
    };
    auto note = [&](int c, int key, int velocity) {
        ChannelState& ch = channels[c];
        if (!ch.programSet) {
            std::optional<InstrumentPick> pick;
            if (fallback != nullptr) {
                pick = DefaultInstrument(*fallback, c);
            }
            if (pick) {
                choose(ch, fallback, pick->bank, c, pick->drumKit, pick->drumKit);
            } else {
                // As after a reset: program 0 of bank 0 from the connected collection.
                choose(ch, sources.connected, 0, 0, false, c == kDrumChannel);
                if (!ch.sounds) {
                    ch.noProgram = true;
                    ch.program = c;
                }
            }
        }
        ++check.notes;
        const bool outsideKeys =
            ch.instrument != nullptr && !PlaysKey(*ch.collection, *ch.instrument, key, velocity);
        if (ch.sounds && !outsideKeys) {
            return;
        }
        ++check.silentNotes;
        auto same = std::find_if(check.silent.begin(), check.silent.end(), [&](const auto& s) {
            return s.channel == c && s.bank == ch.bank && s.program == ch.program &&
                   s.drumKit == ch.drumKit && s.noProgram == ch.noProgram &&
                   s.outsideKeys == outsideKeys;
        });
        if (same == check.silent.end()) {
            check.silent.push_back(
                SilentProgram{c, ch.bank, ch.program, ch.drumKit, ch.noProgram, outsideKeys, 0});
            same = check.silent.end() - 1;
        }
        ++same->notes;
    };

    for (const MusicEvent& e : sequence.events) {
        const int c = e.status & 0x0F;
        switch (e.kind) {
        case MusicEventKind::Note:
            if (e.data2 > 0) {
                note(c, e.data1, e.data2);
            }
            break;
        case MusicEventKind::Channel:
            switch (e.status & 0xF0) {
            case 0x90:
                if (e.data2 > 0) {
                    note(c, e.data1, e.data2);
                }
                break;
            case 0xB0:
                if (e.data1 == 0) {
                    channels[c].bankMsb = e.data2;
                } else if (e.data1 == 32) {
                    channels[c].bankLsb = e.data2;
                }
                break;
            case 0xC0:
                choose(channels[c], sources.connected,
                       sources.connectedByMsb ? channels[c].bankMsb
                                              : channels[c].bankMsb * 128 + channels[c].bankLsb,
                       e.data1, false, c == kDrumChannel);
                break;
            default:
                break;
            }
            break;
        case MusicEventKind::Band:
            if (e.band >= sequence.bands.size()) {
                break;
            }
            for (const BandInstrument& b : sequence.bands[e.band]) {
                if ((b.flags & kBandPatchValid) == 0 || b.channel >= kChannels) {
                    continue;
                }
                const DlsCollection* from = sources.connected;
                if (b.collection >= 0 && static_cast<size_t>(b.collection) < sources.bands.size() &&
                    sources.bands[static_cast<size_t>(b.collection)] != nullptr) {
                    from = sources.bands[static_cast<size_t>(b.collection)];
                }
                const bool bankValid = (b.flags & kBandBankValid) != 0;
                const int msb = bankValid ? static_cast<int>((b.patch >> 16) & 0x7F) : 0;
                const int lsb = bankValid ? static_cast<int>((b.patch >> 8) & 0x7F) : 0;
                ChannelState& ch = channels[b.channel];
                ch.bankMsb = msb;
                ch.bankLsb = lsb;
                const bool byMsb = sources.connectedByMsb && from == sources.connected;
                choose(ch, from, byMsb ? msb : msb * 128 + lsb, static_cast<int>(b.patch & 0x7F),
                       (b.patch & 0x80000000u) != 0, false);
            }
            break;
        }
    }
    std::stable_sort(
        check.silent.begin(), check.silent.end(),
        [](const SilentProgram& a, const SilentProgram& b) { return a.channel < b.channel; });
    return check;
}

bool CheckSegmentInstruments(const Segment& segment, const Collection* connected, bool generalMidi,
                             const Loader& loader, std::string& error, std::string& warning) {
    InstrumentSources sources;
    sources.connected = connected != nullptr ? connected->Data().get() : nullptr;
    sources.connectedByMsb = connected != nullptr && connected->IsSoundFont();
    sources.generalMidi = generalMidi;
    std::string missingFiles;
    const Sequence& sequence = *segment.GetSequence();
    for (size_t i = 0; i < segment.BandCollections().size(); ++i) {
        const std::shared_ptr<Collection>& c = segment.BandCollections()[i];
        sources.bands.push_back(c ? c->Data().get() : nullptr);
        if (!c && i < sequence.collections.size()) {
            missingFiles +=
                (missingFiles.empty() ? "" : ", ") + loader.PathOf(sequence.collections[i]);
        }
    }
    const InstrumentCheck check = CheckInstruments(sequence, sources);
    if (check.AllSilent()) {
        error = segment.Path() + ": no instrument for any of its notes";
        if (!missingFiles.empty()) {
            error += ": its DLS file cannot be read: " + missingFiles;
        } else if (segment.FromSmf() && connected == nullptr) {
            error += ": no DLS or SoundFont file given";
        } else {
            error += ": the collection has no instrument for " + check.Describe();
        }
        return false;
    }
    if (check.SomeSilent()) {
        warning = segment.Path() + ": " + std::to_string(check.silentNotes) + " of " +
                  std::to_string(check.notes) +
                  " notes find no instrument in the collection: " + check.Describe();
    }
    return true;
}

} // namespace sonvex
