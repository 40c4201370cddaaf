// SPDX-License-Identifier: GPL-3.0-or-later
// A SoundFont's program map and the instrument check over it: banks chosen by the MSB
// alone, drum kits from bank 128, presets no bank select reaches left out with a note.
#include <gtest/gtest.h>

#include "formats/sf2.h"
#include "playback/instrument_check.h"
#include "playback/music_loader.h"
#include "playback/soundfont_bank.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"
#include "testkit/smf_builder.h"

namespace sonvex {
namespace {

// Program 3 in banks 0, 128 and 200, each preset on the one instrument.
Sf2Bank ThreeBanks() {
    testkit::Sf2Parts parts = testkit::OneSampleSf2(3);
    testkit::ByteBuilder phdr;
    for (uint16_t bank : {0, 128, 200}) {
        phdr.text("preset").fill(14).u16le(3).u16le(bank).u16le(bank == 0     ? 0
                                                                : bank == 128 ? 1
                                                                              : 2);
        phdr.u32le(0).u32le(0).u32le(0);
    }
    phdr.text("EOP").fill(17).u16le(0).u16le(0).u16le(3).u32le(0).u32le(0).u32le(0);
    parts.table("phdr") = phdr.take();
    testkit::ByteBuilder pbag;
    testkit::ByteBuilder pgen;
    for (uint16_t i = 0; i <= 3; ++i) {
        pbag.u16le(i).u16le(0);
        if (i < 3) {
            pgen.u16le(41).u16le(0);
        }
    }
    parts.table("pbag") = pbag.take();
    parts.table("pgen") = pgen.u32le(0).take();
    Sf2ReadOutcome read = ReadSf2(parts.build());
    EXPECT_EQ(read.status, Sf2ReadStatus::Ok) << read.diagnostics.failure;
    return read.bank;
}

TEST(SoundFontPrograms, MapsMelodicBanksDrumKitsAndLeavesOutUnreachableBanks) {
    std::vector<std::string> notes;
    const DlsCollection map = SoundFontPrograms(ThreeBanks(), notes);
    ASSERT_EQ(map.instruments.size(), 2u);
    EXPECT_FALSE(map.instruments[0].IsDrumKit());
    EXPECT_EQ(map.instruments[0].Program(), 3);
    EXPECT_TRUE(map.instruments[1].IsDrumKit());
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("bank 200, program 3"), std::string::npos) << notes[0];
    // The one zone plays every key at every velocity from its sample.
    ASSERT_EQ(map.instruments[0].regions.size(), 1u);
    EXPECT_NE(map.WaveOf(map.instruments[0].regions[0]), nullptr);

    // A bank select of MSB 0 and any LSB finds bank 0; MSB 1 finds nothing; channel 10
    // prefers the kit, and a channel without a program change plays program = channel.
    testkit::SmfBuilder smf(480);
    smf.control(0, 0, 0, 0).control(0, 0, 32, 5).program(0, 0, 3).noteOn(0, 0, 60, 100);
    smf.control(0, 1, 0, 1).control(0, 1, 32, 0).program(0, 1, 3).noteOn(0, 1, 60, 100);
    smf.program(0, 9, 3).noteOn(0, 9, 60, 100).noteOn(0, 3, 60, 100).noteOn(0, 4, 60, 100);
    smf.endOfTrack(480);
    const MusicLoadOutcome loaded = LoadSmf(smf.build());
    ASSERT_EQ(loaded.status, MusicLoadStatus::Ok) << loaded.diagnostics.failure;
    InstrumentSources sources;
    sources.connected = &map;
    sources.connectedByMsb = true;
    const InstrumentCheck check = CheckInstruments(*loaded.sequence, sources);
    EXPECT_EQ(check.notes, 5);
    EXPECT_EQ(check.silentNotes, 2);
    EXPECT_EQ(check.Describe(),
              "channel 2 (bank 1, program 3), channel 5 (no program change; no program 4 in "
              "any bank)");
    // Read as a DLS bank number (MSB × 128 + LSB), channel 1's bank 5 would be silent too.
    sources.connectedByMsb = false;
    EXPECT_EQ(CheckInstruments(*loaded.sequence, sources).silentNotes, 3);
}

} // namespace
} // namespace sonvex
