// SPDX-License-Identifier: GPL-3.0-or-later
// Region values, envelope tables, articulation chunks, INFO texts and the region list.
#include <gtest/gtest.h>

#include "bank2dls/dls_writer.h"
#include "chunkfile/chunk_file.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using banktest::ByteBuilder;
using banktest::Bytes;
using banktest::kTime0_004;
using banktest::kTime11_52;
using banktest::kTime40;
using banktest::SameBytes;

TEST(RegionValues, AttenuationFromToneVolume) {
    EXPECT_EQ(static_cast<uint32_t>(RegionAttenuation(0)), 0xFC400000u);
    EXPECT_EQ(RegionAttenuation(64), -59 * 65536);
    EXPECT_EQ(RegionAttenuation(127), 0);
    EXPECT_EQ(RegionAttenuation(1), -420 * 65536);
    EXPECT_EQ(RegionAttenuation(255), 60 * 65536); // louder than 127: a gain
}

TEST(RegionValues, FineTuneFromToneFine) {
    EXPECT_EQ(RegionFineTune(0), -50);
    EXPECT_EQ(RegionFineTune(64), 0);
    EXPECT_EQ(RegionFineTune(127), 50);
    EXPECT_EQ(RegionFineTune(255), 151);
}

TEST(RegionValues, PanScale) {
    EXPECT_EQ(PanScale(0), -500 * 65536);
    EXPECT_EQ(PanScale(63), -7 * 65536);
    EXPECT_EQ(PanScale(64), 0);
    EXPECT_EQ(PanScale(127), 492 * 65536);
}

TEST(EnvelopeTables, StoredTimesAndTableShape) {
    EXPECT_EQ(StoredTime(0.004), kTime0_004);
    EXPECT_EQ(StoredTime(40.0), kTime40);
    EXPECT_EQ(StoredTime(1.0), 0);
    EXPECT_EQ(EnvelopeTables::attack[72], 28.956);
    EXPECT_EQ(EnvelopeTables::attack[73], 40.0);
    EXPECT_EQ(EnvelopeTables::attack[74], 40.0);
    for (size_t i = 75; i < 128; ++i) {
        EXPECT_EQ(EnvelopeTables::attack[i], 0.004) << "attack index " << i;
    }
    // Rows are the sustain level, columns the decay rate.
    EXPECT_EQ(EnvelopeTables::decay[0][15], 2.766);
    EXPECT_EQ(EnvelopeTables::decay[15][0], 0.01);
}

TEST(EnvelopeTables, ReleaseTableChosenByReleaseModeBit) {
    EXPECT_EQ(ReleaseSeconds(16), 2.56);
    EXPECT_EQ(ReleaseSeconds(17), 5.12); // rate 17, linear: not the exponential 23.04
    EXPECT_EQ(ReleaseSeconds(0x20 | 16), 11.52);
    EXPECT_EQ(ReleaseSeconds(0x20 | 17), 23.04);
    for (uint16_t rate = 0; rate < 32; ++rate) {
        EXPECT_EQ(ReleaseSeconds(rate), EnvelopeTables::releaseLinear[rate]) << rate;
        EXPECT_EQ(ReleaseSeconds(static_cast<uint16_t>(0xC020 | rate)),
                  EnvelopeTables::releaseExponential[rate])
            << rate;
    }
}

TEST(EnvelopeTables, SustainLevelRule) {
    for (uint16_t w1 : {uint16_t{0x0000}, uint16_t{0x80F5}, uint16_t{0x00FF}}) {
        EXPECT_EQ(SustainLevelScale(w1, 0x0000), 65536000) << w1;
        EXPECT_EQ(SustainLevelScale(w1, 0x8000), 65536000) << w1;
        EXPECT_EQ(SustainLevelScale(w1, 0xBFFF), 65536000) << w1;
    }
    EXPECT_EQ(SustainLevelScale(0x000F, 0x4000), 65536000);
    EXPECT_EQ(SustainLevelScale(0x000F, 0xC000), 65536000);
    EXPECT_EQ(SustainLevelScale(0x0000, 0x4000), 805 * 65536);
    EXPECT_EQ(SustainLevelScale(0xFFF0, 0xC01F), 805 * 65536);
    EXPECT_EQ(SustainLevelScale(0x0003, 0x4000), 844 * 65536);
}

// Writes through `write` into a fresh in-memory file and returns its bytes.
template <typename F> Bytes WriteToMemory(F write) {
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    {
        ChunkFile out;
        EXPECT_TRUE(out.Create("chunk"));
        write(out);
        EXPECT_TRUE(out.Close());
    }
    return fs.Contents("chunk");
}

void Connection(ByteBuilder& b, uint16_t destination, int32_t scale) {
    b.u16le(0).u16le(0).u16le(destination).u16le(0).u32le(static_cast<uint32_t>(scale));
}

TEST(Articulation, RegionBlocksInOrder) {
    ToneRecord tone;
    tone.pan = 0;
    tone.adsr1 = 0x4AF0; // attack 74 (40 s), decay rate 15, sustain level 0
    tone.adsr2 = 0x4030; // sustain mode 01, release mode exponential, rate 16
    const Bytes actual = WriteToMemory([&](ChunkFile& out) {
        BankWriterState state;
        WriteArticulation(out, ArticulationLevel::Region, ProgramRecord{}, &tone, state);
    });
    ByteBuilder art2;
    art2.u32le(8).u32le(6);
    Connection(art2, 0x0004, -500 * 65536);
    Connection(art2, 0x0206, kTime40);
    Connection(art2, 0x0209, kTime11_52);
    Connection(art2, 0x020A, 805 * 65536);
    Connection(art2, 0x0207, StoredTime(2.766));
    Connection(art2, 0x030E, 0);
    const Bytes expected = banktest::Serialize(
        banktest::List(FourCC("lar2"), {banktest::Chunk(FourCC("art2"), art2.take())}));
    ASSERT_EQ(expected.size(), 8u + 4 + 8 + 80);
    EXPECT_TRUE(SameBytes(expected, actual));
    EXPECT_EQ(StoredTime(2.766), 115432579);
}

TEST(Articulation, InstrumentBlockWithTrailerAndPadByte) {
    ProgramRecord program;
    program.volume = 100;
    program.pan = 70;
    const Bytes actual = WriteToMemory([&](ChunkFile& out) {
        BankWriterState state;
        state.trailer.mode = 4;
        state.trailer.bendDown = 12;
        state.trailer.bendUp = 2;
        WriteArticulation(out, ArticulationLevel::Instrument, program, nullptr, state);
    });
    ByteBuilder expected;
    expected.text("LIST").u32le(4 + 8 + 25 + 1).text("lar2");
    expected.text("art2").u32le(25).u32le(8).u32le(1);
    Connection(expected, 0x0500, 0x7FFFFFFF);
    expected.u8(100).u8(70).u8(4).u8(12).u8(2).u8(0);
    EXPECT_TRUE(SameBytes(expected.bytes(), actual));
}

TEST(InfoText, PadByteOnlyWhenSizeIsOdd) {
    struct Case {
        const char* text;
        Bytes expected;
    };
    const Case cases[] = {
        {"", ByteBuilder().text("INAM").u32le(1).u8(0).u8(0).take()},
        {"a", ByteBuilder().text("INAM").u32le(2).text("a").u8(0).take()},
        {"ab", ByteBuilder().text("INAM").u32le(3).text("ab").u8(0).u8(0).take()},
        {"音", ByteBuilder().text("INAM").u32le(4).text("音").u8(0).take()},
    };
    for (const Case& c : cases) {
        const Bytes actual = WriteToMemory([&](ChunkFile& out) {
            BankWriterState state;
            WriteInfoText(out, FourCC("INAM"), c.text, state);
        });
        EXPECT_TRUE(SameBytes(c.expected, actual)) << "text \"" << c.text << "\"";
    }
}

Bytes InfoText(const char (&id)[5], std::string_view text) {
    ByteBuilder b;
    b.text(id).u32le(static_cast<uint32_t>(text.size() + 1)).text(text).u8(0);
    if ((text.size() + 1) % 2 != 0) {
        b.u8(0);
    }
    return b.take();
}

Bytes InfoList(std::string_view icop, std::string_view ieng, std::string_view inam) {
    ByteBuilder body;
    body.text("INFO")
        .append(InfoText("ICMT", ""))
        .append(InfoText("ICOP", icop))
        .append(InfoText("IENG", ieng))
        .append(InfoText("INAM", inam))
        .append(InfoText("ISBJ", ""));
    return ByteBuilder()
        .text("LIST")
        .u32le(static_cast<uint32_t>(body.size()))
        .append(body.bytes())
        .take();
}

TEST(InfoList, TextsByKind) {
    auto write = [](InfoKind kind, int number) {
        return WriteToMemory([&](ChunkFile& out) {
            BankWriterState state;
            state.listTitle = "ゲーム";
            WriteInfoList(out, kind, number, state);
        });
    };
    EXPECT_TRUE(SameBytes(InfoList("PS GAME'S MAKER", "Sonvex", "ゲーム_ 0.dls"),
                          write(InfoKind::Collection, 0)));
    EXPECT_TRUE(SameBytes(InfoList("", "", "instゲーム"), write(InfoKind::Instrument, 0)));
    EXPECT_TRUE(SameBytes(InfoList("", "", "waveゲーム_07"), write(InfoKind::Wave, 7)));
    EXPECT_TRUE(SameBytes(InfoList("", "", "waveゲーム_123"), write(InfoKind::Wave, 123)));
}

// Region list over a VH held in memory.
struct RegionListRun {
    ConvertResult result = ConvertResult::Done;
    Bytes out;
    BankWriterState state;
};

RegionListRun RunRegionList(const testkit::VabBuilder& vab, int slot, int k, size_t cut = 0) {
    MemoryFileSystem fs;
    Bytes vhBytes = vab.BuildVh();
    if (cut != 0) {
        vhBytes.resize(cut);
    }
    const Bytes header = vab.BuildVh();
    fs.Put("vh", vhBytes);
    ScopedFileSystem guard(fs);
    RegionListRun run;
    ChunkFile vh;
    EXPECT_TRUE(vh.OpenRead("vh"));
    ChunkFile out;
    EXPECT_TRUE(out.Create("out"));
    ProgramRecord program = ParseProgramRecord(std::span<const uint8_t, kProgramRecordSize>(
        header.data() + ProgramRecordOffset(slot), kProgramRecordSize));
    run.state.trailer.mode = 99; // stale values from an earlier program
    run.state.trailer.bendUp = 99;
    run.result = WriteRegionList(out, vh, program, k, 0, run.state);
    out.Close();
    run.out = fs.Contents("out");
    return run;
}

TEST(RegionList, RegionsOnlyForTonesWithSamplesAndTrailerMaxima) {
    testkit::VabProgram p;
    testkit::VabTone loud = testkit::Tone(2, 0, 59);
    loud.mode = 3;
    loud.bendDown = 7;
    loud.bendUp = 1;
    testkit::VabTone silent = testkit::Tone(0);
    silent.mode = 200; // no region: its bytes do not count
    silent.bendUp = 200;
    testkit::VabTone none = testkit::Tone(255);
    none.bendDown = 100;
    testkit::VabTone high = testkit::Tone(1, 60, 127);
    high.mode = 1;
    high.bendDown = 200; // compared as an unsigned byte: above loud's 7
    high.bendUp = 5;
    p.tones = {loud, silent, none, high};
    testkit::VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)})).program(3, p);

    const RegionListRun run = RunRegionList(vab, 3, 1);
    ASSERT_EQ(run.result, ConvertResult::Done);
    EXPECT_EQ(run.state.trailer.mode, 3);
    EXPECT_EQ(run.state.trailer.bendDown, 200);
    EXPECT_EQ(run.state.trailer.bendUp, 5);

    const banktest::Node lrgn = [&] {
        banktest::Node root;
        root.isList = true;
        // The output holds the bare "lrgn" list; wrap it to reuse the RIFF parser.
        Bytes wrapped = ByteBuilder()
                            .text("RIFF")
                            .u32le(static_cast<uint32_t>(run.out.size() + 4))
                            .text("DLS ")
                            .take();
        wrapped.insert(wrapped.end(), run.out.begin(), run.out.end());
        return banktest::ParseRiff(wrapped);
    }();
    const auto regions = banktest::FindAllLists(lrgn, FourCC("rgn "));
    ASSERT_EQ(regions.size(), 2u);
    const auto rgnh = banktest::FindAll(lrgn, FourCC("rgnh"));
    ASSERT_EQ(rgnh.size(), 2u);
    EXPECT_EQ(banktest::U16At(rgnh[0]->data, 0), 0);
    EXPECT_EQ(banktest::U16At(rgnh[0]->data, 2), 59);
    EXPECT_EQ(banktest::U16At(rgnh[1]->data, 0), 60);
    const auto wlnk = banktest::FindAll(lrgn, FourCC("wlnk"));
    EXPECT_EQ(banktest::U32At(wlnk[0]->data, 8), 1u); // VAG 2 plays pool entry 1
    EXPECT_EQ(banktest::U32At(wlnk[1]->data, 8), 0u);

    ASSERT_EQ(run.state.regionLoops.size(), 2u);
    EXPECT_EQ(run.state.regionLoops[0].vagNumber, 2);
    EXPECT_EQ(run.state.regionLoops[1].vagNumber, 1);
    const auto wsmp = banktest::FindAll(lrgn, FourCC("wsmp"));
    for (size_t i = 0; i < 2; ++i) {
        // The table points at the loop record: size 16 after the 20-byte header and 8-byte chunk
        // header, taken relative to the wrapper's 12 extra bytes.
        EXPECT_EQ(static_cast<size_t>(run.state.regionLoops[i].loopPosition) + 12,
                  wsmp[i]->offset + 8 + 20);
        EXPECT_EQ(
            banktest::U32At(run.out, static_cast<size_t>(run.state.regionLoops[i].loopPosition)),
            16u);
    }
}

TEST(RegionList, TonesAddressedByNonEmptyOrdinalNotSlot) {
    testkit::VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1, 10, 10)}));
    vab.program(5, testkit::Program({testkit::Tone(3, 20, 20)}));
    const RegionListRun run = RunRegionList(vab, 5, 1);
    ASSERT_EQ(run.result, ConvertResult::Done);
    ASSERT_EQ(run.state.regionLoops.size(), 1u);
    EXPECT_EQ(run.state.regionLoops[0].vagNumber, 3);
}

TEST(RegionList, VagNumberAboveRangeAndShortRead) {
    testkit::VabProgram p;
    p.tones = {testkit::Tone(1), testkit::Tone(256)};
    testkit::VabBuilder vab;
    vab.program(0, p);
    EXPECT_EQ(RunRegionList(vab, 0, 0).result, ConvertResult::CannotConvert);

    testkit::VabProgram negative;
    negative.tones = {testkit::Tone(-5)};
    testkit::VabBuilder neg;
    neg.program(0, negative);
    // Negative VAG numbers are not above 255; they make a region like any other.
    EXPECT_EQ(RunRegionList(neg, 0, 0).result, ConvertResult::Done);

    testkit::VabBuilder cut;
    cut.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(2)}));
    // The second tone record ends one byte early.
    EXPECT_EQ(RunRegionList(cut, 0, 0, static_cast<size_t>(ToneRecordOffset(0, 1) + 31)).result,
              ConvertResult::InputEnded);
}

} // namespace
} // namespace sonvex
