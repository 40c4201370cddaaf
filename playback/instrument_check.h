// SPDX-License-Identifier: GPL-3.0-or-later
// Which instrument a channel plays from a collection, shared by the synthesizer and by a
// walk over a sequence that finds, before anything sounds, the notes that no instrument
// would play.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/dls.h"
#include "playback/loader.h"
#include "playback/sequence.h"

namespace sonvex {

// A bank of the collection: MSB × 128 + LSB, and whether it is a drum kit's.
struct InstrumentPick {
    int bank = 0;
    bool drumKit = false;
    const DlsInstrument* instrument = nullptr;
};

// The instrument a channel plays before any program change of its own: the one whose
// program number is the channel's number, in whatever bank the collection holds it
// (the first melodic one, else the first drum kit). nullopt when there is none.
std::optional<InstrumentPick> DefaultInstrument(const DlsCollection& collection, int program);

// The instrument a program change of `program` in bank `bank` finds in the collection:
// a drum kit first when one is asked for or preferred, else a melodic one; the first of
// a bank and program answers. Null when there is none.
const DlsInstrument* FindInstrument(const DlsCollection& collection, int bank, int program,
                                    bool drumKit, bool preferDrumKit);

// Whether one of the instrument's regions plays the key at the velocity with a wave.
bool PlaysKey(const DlsCollection& collection, const DlsInstrument& instrument, int key,
              int velocity);

// Where a sequence's instruments can come from.
struct InstrumentSources {
    const DlsCollection* connected = nullptr; // what program changes select from
    // Set when `connected` is a SoundFont's program map: banks are then chosen by the
    // bank-select MSB alone.
    bool connectedByMsb = false;
    std::vector<const DlsCollection*> bands; // per Sequence::collections entry; null: missing
    bool generalMidi = false;                // a General MIDI SoundFont answers the rest
};

// The collection a channel without a program of its own plays from: the connected
// one, else the first band collection that was found.
const DlsCollection* DefaultSource(const InstrumentSources& sources);

struct SilentProgram {
    int channel = 0; // 0..15
    int bank = 0;    // as selected: MSB × 128 + LSB
    int program = 0;
    bool drumKit = false;
    bool noProgram = false;   // the channel chose none and the collection lacks its default
    bool outsideKeys = false; // the instrument is there, but no region plays these notes
    int notes = 0;            // notes that asked for it
};

struct InstrumentCheck {
    int notes = 0;                     // notes the sequence plays
    int silentNotes = 0;               // of them, with no instrument to sound them
    std::vector<SilentProgram> silent; // by channel, then in order of first use

    bool AllSilent() const { return notes > 0 && silentNotes == notes; }
    bool SomeSilent() const { return silentNotes > 0 && silentNotes < notes; }
    // "channel 2 (bank 1, program 5), ..." with channels counted from 1; a channel that
    // chose no program is named with its default program.
    std::string Describe() const;
};

// Follows the sequence's program changes, bank selects and bands the way the
// synthesizer does and counts the notes that would find no instrument.
InstrumentCheck CheckInstruments(const Sequence& sequence, const InstrumentSources& sources);

// Whether the segment's notes find instruments in `connected` (null: none given), its
// band collections and the General MIDI SoundFont. False with `error` when none of them
// does, naming the DLS files that could not be read or the programs asked for; a
// `warning` naming channels and programs when only some stay silent.
bool CheckSegmentInstruments(const Segment& segment, const Collection* connected, bool generalMidi,
                             const Loader& loader, std::string& error, std::string& warning);

} // namespace sonvex
