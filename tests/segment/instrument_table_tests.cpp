// SPDX-License-Identifier: GPL-3.0-or-later
// The DLS instrument table read from the program's own DLS files and from foreign
// ones, the bend scales of a channel, and the band state program changes build.
#include <gtest/gtest.h>

#include "segment/instrument_table.h"
#include "testkit/dls_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::DlsBuilder;
using testkit::DlsInstrument;

bool ReadTable(const Bytes& dls, InstrumentTable& table, std::string& failure) {
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    fs.Put("b.dls", dls);
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("b.dls"));
    return ReadInstrumentTable(file, table, failure);
}

DlsInstrument Instrument(uint32_t number, std::array<uint8_t, 5> trailer, uint32_t bank = 1) {
    DlsInstrument i;
    i.number = number;
    i.bank = bank;
    i.trailer = trailer;
    return i;
}

TEST(InstrumentTable, TakesEachTrailerByInstrumentNumberPastTheRegionArticulation) {
    DlsInstrument many = Instrument(9, {90, 10, 3, 12, 2});
    many.regions = 3;          // each region has its own "lar2" with six blocks
    many.instrumentBlocks = 2; // the trailer follows however many blocks there are
    const Bytes dls =
        DlsBuilder()
            .instrument(Instrument(5, {100, 64, 1, 2, 12}))
            .instrument(many)
            .instrument(Instrument(127, {1, 2, 3, 4, 5}))
            .instrument(Instrument(5, {77, 33, 0, 7, 7}, 2)) // same number, other bank: wins
            .build();
    InstrumentTable table;
    std::string failure;
    ASSERT_TRUE(ReadTable(dls, table, failure)) << failure;
    EXPECT_EQ(table[5].volume, 77);
    EXPECT_EQ(table[5].pan, 33);
    EXPECT_EQ(table[5].bendDown, 7);
    EXPECT_EQ(table[9].volume, 90);
    EXPECT_EQ(table[9].bendDown, 12);
    EXPECT_EQ(table[9].bendUp, 2);
    EXPECT_EQ(table[127].bendUp, 5);
    EXPECT_EQ(table[0].volume, 0);
    EXPECT_EQ(table[126].bendUp, 0);
}

TEST(InstrumentTable, ForeignTrailerlessArticulationYieldsTheBytesThatFollow) {
    DlsInstrument foreign = Instrument(3, {});
    foreign.trailerPresent = false;
    InstrumentTable table;
    std::string failure;
    ASSERT_TRUE(ReadTable(DlsBuilder().instrument(foreign).build(), table, failure)) << failure;
    // After the "art2" chunk comes the instrument's "LIST" "INFO" header.
    EXPECT_EQ(table[3].volume, 'L');
    EXPECT_EQ(table[3].pan, 'I');
    EXPECT_EQ(table[3].bendDown, 'T');
}

TEST(InstrumentTable, StructuresItCannotFollowFail) {
    DlsInstrument noArticulation = Instrument(1, {1, 1, 1, 1, 1});
    noArticulation.instrumentArticulation = false; // only the region "lar2" lists
    DlsInstrument hugeBlockCount = Instrument(2, {});
    hugeBlockCount.instrumentBlocks = 0;
    Bytes blocksPastEnd = DlsBuilder().instrument(hugeBlockCount).build();
    // Find the instrument "art2" (block count 0, destination none) and claim 2^31 blocks.
    for (size_t i = 0; i + 16 <= blocksPastEnd.size(); ++i) {
        if (blocksPastEnd[i] == 'a' && blocksPastEnd[i + 1] == 'r' && blocksPastEnd[i + 8] == 8 &&
            blocksPastEnd[i + 12] == 0 && blocksPastEnd[i + 4] == 13) {
            blocksPastEnd[i + 15] = 0x80;
        }
    }
    Bytes notDls = DlsBuilder().instrument(Instrument(1, {})).build();
    notDls[8] = 'W';
    const Bytes full = DlsBuilder().instrument(Instrument(1, {})).build();
    // An "insh" longer than its 12 bytes: the search for "lar2" starts right behind the
    // 12 bytes read, so the extra bytes and the next id make a chunk header whose size
    // leads out of the instrument.
    testkit::RiffNode longHeader = DlsBuilder().instrument(Instrument(1, {})).tree();
    longHeader.children[3].children[0].children[0].data.resize(16, 0);
    const Bytes cases[] = {
        longHeader.Encode(),
        DlsBuilder().instrument(Instrument(1, {})).declaredCount(2).build(), // more counted than
                                                                             // present
        DlsBuilder().instrument(Instrument(1, {})).declaredCount(0).build(),
        DlsBuilder().instrument(Instrument(128, {})).build(),
        DlsBuilder().instrument(noArticulation).build(),
        blocksPastEnd,
        notDls,
        Bytes(full.begin(), full.begin() + 200),
        Bytes{},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        InstrumentTable table;
        std::string failure;
        EXPECT_FALSE(ReadTable(cases[i], table, failure)) << "case " << i;
        EXPECT_NE(failure.find("at 0x"), std::string::npos) << "case " << i << ": " << failure;
    }
}

TEST(BendScales, FitTheLargerRangeToOneAndScaleTheOther) {
    struct Case {
        uint8_t down, up;
        double upScale, downScale;
    };
    const Case cases[] = {
        {2, 12, 1.0, 1.0 / 6.0}, {12, 2, 1.0 / 6.0, 1.0}, {5, 5, 1.0, 1.0},
        {0, 0, 0.0, 0.0},        {0, 3, 1.0, 0.0},        {3, 0, 0.0, 1.0},
    };
    for (const Case& c : cases) {
        const BendScales s = BendScalesFor(ArticulationTrailer{0, 0, 0, c.down, c.up});
        EXPECT_DOUBLE_EQ(s.up, c.upScale) << int(c.down) << "/" << int(c.up);
        EXPECT_DOUBLE_EQ(s.down, c.downScale) << int(c.down) << "/" << int(c.up);
    }
}

TEST(BendScales, CentreExtremesAndScaledValues) {
    const BendScales equal{1.0, 1.0};
    EXPECT_EQ(ScaleBend(0x00, 0x40, equal), 0x2000);
    EXPECT_EQ(ScaleBend(0x00, 0x00, equal), 0x0000);
    EXPECT_EQ(ScaleBend(0x7F, 0x7F, equal), 0x3FFF);
    EXPECT_EQ(ScaleBend(0x7F, 0x3F, equal), 0x1FFF);
    const BendScales none{0.0, 0.0}; // no program change yet: flat
    EXPECT_EQ(ScaleBend(0x7F, 0x7F, none), 8192);
    EXPECT_EQ(ScaleBend(0x00, 0x00, none), 8191);
    const BendScales sixth{1.0, 1.0 / 6.0};               // ranges 2 down, 12 up
    EXPECT_EQ(ScaleBend(0x00, 0x00, sixth), 8191 - 1364); // -8192/6 + 0.5 = -1364.83
    EXPECT_EQ(ScaleBend(0x7F, 0x7F, sixth), 0x3FFF);
}

TEST(ChannelBand, FirstProgramPicksTheInstrumentEveryProgramSetsTheScales) {
    InstrumentTable table{};
    table[5] = {100, 64, 0, 2, 12};
    table[9] = {80, 20, 0, 4, 4};
    ChannelBandState state;
    OnSequenceProgramChange(state, table, 5, 3);
    OnSequenceProgramChange(state, table, 9, 3);
    const InstrumentRecord& r = state.instruments[3];
    EXPECT_EQ(r.patch, 0x105u);
    EXPECT_EQ(r.assignPatch, 0x105u);
    EXPECT_EQ(r.channel, 3u);
    EXPECT_EQ(r.flags, 0x0000246Bu);
    EXPECT_EQ(r.volume, 100);
    EXPECT_EQ(r.pan, 64);
    EXPECT_EQ(r.pitchBendRange, 12);
    EXPECT_EQ(state.currentProgram[3], 5);
    EXPECT_DOUBLE_EQ(state.scales[3].up, 1.0); // from program 9: ranges 4 and 4
    EXPECT_DOUBLE_EQ(state.scales[3].down, 1.0);
    EXPECT_EQ(state.instruments[0].flags, 0u);
    EXPECT_EQ(state.currentProgram[0], kNoProgram);
    // A program no instrument has: volume, pan and range 0, flat bends.
    OnSequenceProgramChange(state, table, 40, 0);
    EXPECT_EQ(state.instruments[0].volume, 0);
    EXPECT_EQ(state.instruments[0].pitchBendRange, 0);
    EXPECT_DOUBLE_EQ(state.scales[0].up, 0.0);
}

} // namespace
} // namespace sonvex
