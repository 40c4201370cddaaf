// SPDX-License-Identifier: GPL-3.0-or-later
// A whole conversion compared byte for byte with a collection built from the DLS layout
// tables: chunk tree and sizes, region and articulation values, INFO texts, pool table.
#include <gtest/gtest.h>

#include "bank2dls/vab_converter.h"
#include "chunkfile/chunk_file.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using namespace banktest;
using testkit::AdpcmBlock;

// With filter 0 and shift 12 a nibble decodes to itself, plus 0.5 truncated toward zero:
// a negative nibble n comes out as n + 1.
int16_t PcmOfNibble(int n) {
    return static_cast<int16_t>(n < 0 ? n + 1 : n);
}

const std::vector<int> kNibblesA = {0,  1,  2, 3, 4, 5, 6, 7, -1, -2, -3, -4, -5, -6,
                                    -7, -8, 7, 0, 0, 3, 0, 0, -3, 0,  0,  1,  2,  3};
const std::vector<int> kNibblesB = {7, 7, 7, 7, -8, -8, -8, -8, 1,  0,  1, 0, 1, 0,
                                    1, 0, 2, 2, 2,  2,  -2, -2, -2, -2, 5, 5, 5, 5};

Bytes Data(const std::vector<std::vector<int>>& blocks) {
    ByteBuilder b;
    for (size_t i = 0; i < 28; ++i) {
        b.u16le(0); // the leading zero block decodes to silence
    }
    for (const auto& nibbles : blocks) {
        for (int n : nibbles) {
            b.u16le(static_cast<uint16_t>(PcmOfNibble(n)));
        }
    }
    return b.take();
}

Bytes U32s(std::initializer_list<uint32_t> values) {
    ByteBuilder b;
    for (uint32_t v : values) {
        b.u32le(v);
    }
    return b.take();
}

Bytes Wsmp(uint16_t unity, int16_t fine, int32_t attenuation, uint32_t loops, uint32_t start,
           uint32_t length) {
    return ByteBuilder()
        .u32le(20)
        .u16le(unity)
        .u16le(static_cast<uint16_t>(fine))
        .u32le(static_cast<uint32_t>(attenuation))
        .u32le(3)
        .u32le(loops)
        .u32le(16)
        .u32le(0)
        .u32le(start)
        .u32le(length)
        .take();
}

Bytes Art2(std::initializer_list<std::pair<uint16_t, int32_t>> blocks, const Bytes& trailer = {}) {
    ByteBuilder b;
    b.u32le(8).u32le(static_cast<uint32_t>(blocks.size()));
    for (const auto& [destination, scale] : blocks) {
        b.u16le(0).u16le(0).u16le(destination).u16le(0).u32le(static_cast<uint32_t>(scale));
    }
    b.append(trailer);
    return b.take();
}

Node InfoNode(std::string_view icop, std::string_view ieng, std::string_view inam) {
    auto text = [](std::string_view t) {
        Bytes b(t.begin(), t.end());
        b.push_back(0);
        return b;
    };
    return List(FourCC("INFO"),
                {Chunk(FourCC("ICMT"), text("")), Chunk(FourCC("ICOP"), text(icop)),
                 Chunk(FourCC("IENG"), text(ieng)), Chunk(FourCC("INAM"), text(inam)),
                 Chunk(FourCC("ISBJ"), text(""))});
}

Node Region(uint16_t low, uint16_t high, const Bytes& wsmp, uint32_t pool, const Bytes& art2) {
    return List(
        FourCC("rgn "),
        {Chunk(FourCC("rgnh"),
               ByteBuilder().u16le(low).u16le(high).u16le(0).u16le(127).u16le(0).u16le(0).take()),
         Chunk(FourCC("wsmp"), wsmp), Chunk(FourCC("wlnk"), U32s({0, 1, pool})),
         Chunk(FourCC("dmpr"), {0x01, 0x01}), List(FourCC("lar2"), {Chunk(FourCC("art2"), art2)})});
}

Node Fmt() {
    return Chunk(FourCC("fmt "), ByteBuilder()
                                     .u16le(1)
                                     .u16le(1)
                                     .u32le(44100)
                                     .u32le(88200)
                                     .u16le(2)
                                     .u16le(16)
                                     .u16le(0)
                                     .take());
}

TEST(VabConverterGolden, WholeCollectionMatchesTheLayoutTables) {
    // Program 0: one tone on sample 1. Slot 1 empty. Program 2: a tone on sample 2 and a
    // tone without a sample. Sample 1 loops over its two data blocks; sample 2 starts at
    // an odd offset after 5 bytes of other data.
    testkit::VabTone a = testkit::Tone(1, 0, 63);
    a.mode = 2;
    a.fineTune = 64;
    testkit::VabTone b = testkit::Tone(2, 64, 127);
    b.centreNote = 48;
    b.fineTune = 0;
    b.volume = 64;
    b.pan = 0;
    b.mode = 1;
    b.bendDown = 12;
    b.bendUp = 3;
    b.adsr1 = 0x4AF0;
    b.adsr2 = 0x4030;
    testkit::VabTone c = testkit::Tone(0);
    c.mode = 9; // no region: left out of the trailer maxima
    c.bendUp = 24;
    testkit::VabProgram p0 = testkit::Program({a});
    p0.volume = 100;
    p0.pan = 30;
    testkit::VabProgram p2 = testkit::Program({b, c});
    p2.volume = 90;

    ByteBuilder vag1;
    vag1.fill(16).append(AdpcmBlock(12, 0, 6, kNibblesA)).append(AdpcmBlock(12, 0, 3, kNibblesB));
    ByteBuilder vag2;
    vag2.fill(16).append(AdpcmBlock(12, 0, 2, kNibblesB)).append(AdpcmBlock(12, 0, 1, kNibblesA));
    testkit::VabBuilder vab;
    vab.program(0, p0).program(2, p2).sample(vag1.take(), 5, 0xAA).sample(vag2.take());

    const Converted out =
        ConvertBank(vab.BuildVh(), vab.BuildVb(), "ゲーム", RecognitionRules::Classic);
    ASSERT_EQ(out.result, ConvertResult::Done);
    EXPECT_TRUE(out.messages.empty());

    const Bytes art2A = Art2({{0x0004, 0},
                              {0x0206, kTime0_014},
                              {0x0209, kTime0_05},
                              {0x020A, 1000 * 65536},
                              {0x0207, kTime0_015},
                              {0x030E, 0}});
    const Bytes art2B = Art2({{0x0004, -500 * 65536},
                              {0x0206, kTime40},
                              {0x0209, kTime11_52},
                              {0x020A, 805 * 65536},
                              {0x0207, kTime2_766},
                              {0x030E, 0}});
    // Sample 1: loop start flag on the block after 28 samples (start 27), loop end on the
    // next: length (112 + 56) / 2 - 27 - 1 = 56.
    const Node insA =
        List(FourCC("ins "),
             {Chunk(FourCC("insh"), U32s({1, 1, 0})),
              List(FourCC("lrgn"), {Region(0, 63, Wsmp(60, 0, 0, 1, 27, 56), 0, art2A)}),
              List(FourCC("lar2"),
                   {Chunk(FourCC("art2"), Art2({{0x0500, 0x7FFFFFFF}}, {100, 30, 2, 2, 2}))}),
              InfoNode("", "", "instゲーム")});
    const Node insB = List(
        FourCC("ins "),
        {Chunk(FourCC("insh"), U32s({2, 1, 2})),
         List(FourCC("lrgn"), {Region(64, 127, Wsmp(48, -50, -59 * 65536, 0, 0, 0), 1, art2B)}),
         List(FourCC("lar2"),
              {Chunk(FourCC("art2"), Art2({{0x0500, 0x7FFFFFFF}}, {90, 64, 1, 12, 3}))}),
         InfoNode("", "", "instゲーム")});
    const Node wave1 =
        List(FourCC("wave"), {Fmt(), Chunk(FourCC("wsmp"), Wsmp(60, 0, 0, 1, 27, 56)),
                              Chunk(FourCC("data"), Data({kNibblesA, kNibblesB})),
                              InfoNode("", "", "waveゲーム_00")});
    const Node wave2 = List(FourCC("wave"), {Fmt(), Chunk(FourCC("wsmp"), Wsmp(60, 0, 0, 0, 0, 0)),
                                             Chunk(FourCC("data"), Data({kNibblesB, kNibblesA})),
                                             InfoNode("", "", "waveゲーム_01")});
    const auto guid = FixedGuid().Bytes();
    const uint32_t wave2Offset = static_cast<uint32_t>(Serialize(wave1).size());
    const Node expected = Riff(
        FourCC("DLS "),
        {Chunk(FourCC("dlid"), Bytes(guid.begin(), guid.end())), Chunk(FourCC("colh"), U32s({2})),
         Chunk(FourCC("vers"), U32s({0x00010000, 1})), List(FourCC("lins"), {insA, insB}),
         Chunk(FourCC("ptbl"), U32s({8, 2, 0, wave2Offset})), List(FourCC("wvpl"), {wave1, wave2}),
         InfoNode("PS GAME'S MAKER", "Sonvex", "ゲーム_ 0.dls")});
    EXPECT_TRUE(SameBytes(Serialize(expected), out.dls));

    // Sizes the tables fix, checked on the parsed file as well.
    const Node dls = ParseRiff(out.dls);
    const auto art2 = FindAll(dls, FourCC("art2"));
    ASSERT_EQ(art2.size(), 4u);
    EXPECT_EQ(art2[1]->data.size(), 25u); // instrument articulation, then one pad byte
    EXPECT_EQ(art2[0]->data.size(), 80u);
    const auto lar2 = FindAllLists(dls, FourCC("lar2"));
    EXPECT_EQ(U32At(out.dls, lar2[1]->offset + 4), 4u + 8 + 25 + 1);
}

TEST(VabConverterGolden, SameFileAtOffsetsGivesTheSameCollection) {
    testkit::VabBuilder vab;
    vab.program(7, testkit::Program({testkit::Tone(1)}));
    vab.sample(testkit::MakeVag(std::vector<int16_t>(100, 1000)));
    const Bytes vh = vab.BuildVh();
    const Bytes vb = vab.BuildVb();
    const Converted separate = ConvertBank(vh, vb);
    ASSERT_EQ(separate.result, ConvertResult::Done);

    // Game image: 3 bytes of noise, the VH, 11 bytes of noise, the VB.
    const Bytes image = ByteBuilder().noise(3, 1).append(vh).noise(11, 2).append(vb).take();
    const Converted inImage = ConvertImage(image, 3, 3 + vh.size() + 11);
    ASSERT_EQ(inImage.result, ConvertResult::Done);
    EXPECT_TRUE(SameBytes(separate.dls, inImage.dls));
}

} // namespace
} // namespace sonvex
