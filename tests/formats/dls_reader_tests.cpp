// SPDX-License-Identifier: GPL-3.0-or-later
// The DLS reader on collections laid out like ours, on Level 1 files, on files without a
// pool table, and on broken files grouped by defect.
#include <gtest/gtest.h>

#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"
#include "tests/support/dls_description.h"

namespace sonvex {
namespace {

using playtest::BuildDls;
using playtest::TestCollection;
using playtest::TestConnection;
using playtest::TestInstrument;
using playtest::TestLoop;
using playtest::TestRegion;
using playtest::TestSampleInfo;
using playtest::TestWave;
using testkit::Bytes;
using testkit::RiffNode;

TestCollection OurLayout() {
    TestCollection c;
    TestWave a;
    a.pcm = {0, 1000, -1000, 32767, -32768, 5};
    a.sample = TestSampleInfo{};
    a.sample->recordWithoutLoop = true;
    TestWave b;
    b.pcm = {7, 8, 9, 10};
    b.sample = TestSampleInfo{};
    b.sample->loop = TestLoop{0, 1, 2};
    c.waves = {a, b};
    TestInstrument in;
    in.bank = 1;
    in.program = 42;
    in.name = "instX";
    TestRegion low;
    low.keyLow = 0;
    low.keyHigh = 59;
    low.sample->unityNote = 48;
    low.sample->fineTune = -50;
    low.sample->attenuation = -59 * 65536;
    low.sample->recordWithoutLoop = true;
    low.cue = 1;
    low.articulation = playtest::ConverterArticulation(-500 * 65536, 0.014, 0.08, 805, 1.376);
    TestRegion high = low;
    high.keyLow = 60;
    high.keyHigh = 127;
    high.cue = 0;
    in.regions = {low, high};
    in.articulation = {{0, 0, 0x0500, 0, 0x7FFFFFFF}};
    c.instruments = {in};
    return c;
}

TEST(DlsReader, ReadsOurLayoutFieldByField) {
    const Bytes bytes = BuildDls(OurLayout());
    DlsReadOutcome read = ReadDls(bytes);
    ASSERT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
    const DlsCollection& col = read.collection;
    EXPECT_EQ(col.declaredInstruments, 1u);
    EXPECT_TRUE(col.hasVersion);
    EXPECT_EQ(col.name, "collection");
    ASSERT_EQ(col.instruments.size(), 1u);
    const DlsInstrument& in = col.instruments[0];
    EXPECT_EQ(in.BankMsb(), 0);
    EXPECT_EQ(in.BankLsb(), 1);
    EXPECT_EQ(in.Program(), 42);
    EXPECT_FALSE(in.IsDrumKit());
    EXPECT_EQ(in.name, "instX");
    // The instrument block count is 1; the 5 trailer bytes behind it are not a block.
    ASSERT_EQ(in.articulation.size(), 1u);
    EXPECT_EQ(in.articulation[0].destination, dls::kDstFilterCutoff);
    EXPECT_EQ(in.articulation[0].scale, dls::kFilterCutoffOff);
    EXPECT_TRUE(in.articulation[0].level2);

    ASSERT_EQ(in.regions.size(), 2u);
    const DlsRegion& low = in.regions[0];
    EXPECT_EQ(low.keyLow, 0);
    EXPECT_EQ(low.keyHigh, 59);
    EXPECT_EQ(low.velocityLow, 0);
    EXPECT_EQ(low.velocityHigh, 127);
    ASSERT_TRUE(low.sample.has_value());
    EXPECT_EQ(low.sample->unityNote, 48);
    EXPECT_EQ(low.sample->fineTune, -50);
    EXPECT_EQ(low.sample->attenuation, -59 * 65536);
    // A loop record behind a loop count of 0 is no loop.
    EXPECT_TRUE(low.sample->loops.empty());
    EXPECT_TRUE(low.hasLink);
    EXPECT_EQ(low.tableIndex, 1u);
    ASSERT_EQ(low.articulation.size(), 6u);
    EXPECT_EQ(low.articulation[0].destination, dls::kDstPan);
    EXPECT_EQ(low.articulation[0].scale, -500 * 65536);
    EXPECT_EQ(low.articulation[3].destination, dls::kDstEg1Sustain);
    EXPECT_EQ(low.articulation[3].scale, 805 * 65536);

    ASSERT_EQ(col.waves.size(), 2u);
    EXPECT_EQ(col.waves[0].formatTag, 1);
    EXPECT_EQ(col.waves[0].channels, 1);
    EXPECT_EQ(col.waves[0].sampleRate, 44100u);
    EXPECT_EQ(col.waves[0].bitsPerSample, 16);
    EXPECT_EQ(col.waves[0].pcm, (std::vector<int16_t>{0, 1000, -1000, 32767, -32768, 5}));
    ASSERT_TRUE(col.waves[1].sample.has_value());
    ASSERT_EQ(col.waves[1].sample->loops.size(), 1u);
    EXPECT_EQ(col.waves[1].sample->loops[0].start, 1u);
    EXPECT_EQ(col.waves[1].sample->loops[0].length, 2u);

    // Region links through the pool table to the right wave.
    EXPECT_EQ(col.WaveOf(low), &col.waves[1]);
    EXPECT_EQ(col.WaveOf(in.regions[1]), &col.waves[0]);
    EXPECT_EQ(col.poolTable.size(), 2u);
    EXPECT_EQ(col.poolTable[0], 0u);
    EXPECT_TRUE(read.diagnostics.notes.empty()) << read.diagnostics.notes.front();
}

TEST(DlsReader, LevelOneFileWithEightBitWavesAndOpenVelocityRange) {
    TestCollection c;
    TestWave w;
    w.bits = 8;
    w.pcm = {0, 0x7F00, -0x8000, 0x0100};
    c.waves = {w};
    TestInstrument in;
    in.bank = 0x80000000u | (3 << 8) | 5; // drum kit, MSB 3, LSB 5
    in.program = 9;
    in.trailer = false;
    TestRegion r;
    r.velocityLow = 0;
    r.velocityHigh = 0; // Level 1 writers leave it unset
    r.level2 = false;
    r.articulation = {
        {dls::kSrcKeyOnVelocity, 0, dls::kDstGain, dls::kTransformConcave, -960 * 65536}};
    r.sample.reset();
    in.regions = {r};
    c.instruments = {in};
    DlsReadOutcome read = ReadDls(BuildDls(c));
    ASSERT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
    const DlsInstrument& got = read.collection.instruments[0];
    EXPECT_TRUE(got.IsDrumKit());
    EXPECT_EQ(got.BankMsb(), 3);
    EXPECT_EQ(got.BankLsb(), 5);
    EXPECT_EQ(got.Program(), 9);
    EXPECT_EQ(got.regions[0].velocityHigh, 127);
    ASSERT_EQ(got.regions[0].articulation.size(), 1u);
    EXPECT_FALSE(got.regions[0].articulation[0].level2);
    EXPECT_FALSE(got.regions[0].sample.has_value());
    // 8-bit samples are unsigned with 128 as silence; they come out scaled to 16 bits.
    EXPECT_EQ(read.collection.waves[0].pcm, (std::vector<int16_t>{0, 0x7F00, -0x8000, 0x0100}));
}

TEST(DlsReader, PoolTableOffsetsPickWavesOutOfOrder) {
    TestCollection c = OurLayout();
    DlsReadOutcome plain = ReadDls(BuildDls(c));
    ASSERT_EQ(plain.status, DlsReadStatus::Ok);
    // Swap the two offsets of "ptbl": cue 0 now names the second wave.
    Bytes bytes = BuildDls(c);
    const size_t at = [&] {
        for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
            if (bytes[i] == 'p' && bytes[i + 1] == 't' && bytes[i + 2] == 'b' &&
                bytes[i + 3] == 'l') {
                return i;
            }
        }
        return bytes.size();
    }();
    ASSERT_LT(at, bytes.size());
    for (int k = 0; k < 4; ++k) {
        std::swap(bytes[at + 16 + k], bytes[at + 20 + k]);
    }
    DlsReadOutcome swapped = ReadDls(bytes);
    ASSERT_EQ(swapped.status, DlsReadStatus::Ok);
    EXPECT_EQ(swapped.collection.cueToWave, (std::vector<int>{1, 0}));
    const DlsRegion& low = swapped.collection.instruments[0].regions[0];
    EXPECT_EQ(swapped.collection.WaveOf(low), &swapped.collection.waves[0]);
}

TEST(DlsReader, WithoutPoolTableCuesFollowWaveOrder) {
    TestCollection c = OurLayout();
    c.poolTable = false;
    DlsReadOutcome read = ReadDls(BuildDls(c));
    ASSERT_EQ(read.status, DlsReadStatus::Ok);
    EXPECT_EQ(read.collection.cueToWave, (std::vector<int>{0, 1}));
    ASSERT_FALSE(read.diagnostics.notes.empty());
    EXPECT_NE(read.diagnostics.notes[0].find("ptbl"), std::string::npos);
}

TEST(DlsReader, ValuesOutOfRangeLeaveRegionsSilentButReadOn) {
    TestCollection c = OurLayout();
    c.instruments[0].regions[0].cue = 7; // beyond the pool table
    DlsReadOutcome read = ReadDls(BuildDls(c));
    ASSERT_EQ(read.status, DlsReadStatus::Ok);
    EXPECT_EQ(read.collection.WaveOf(read.collection.instruments[0].regions[0]), nullptr);
    EXPECT_NE(read.collection.WaveOf(read.collection.instruments[0].regions[1]), nullptr);
}

// Chunks laid out by hand, for defects the builder would never make.
Bytes Collection(std::vector<RiffNode> children) {
    return RiffNode::Riff("DLS ", std::move(children)).Encode();
}

RiffNode InstrumentList(std::vector<RiffNode> parts) {
    return RiffNode::List("lins", {RiffNode::List("ins ", std::move(parts))});
}

Bytes Insh() {
    return testkit::ByteBuilder().u32le(1).u32le(1).u32le(0).take();
}

TEST(DlsReader, RefusesWhatIsNotACollection) {
    EXPECT_EQ(ReadDls(Bytes{}).status, DlsReadStatus::NotDls);
    EXPECT_EQ(ReadDls(Bytes{'R', 'I', 'F', 'F'}).status, DlsReadStatus::NotDls);
    EXPECT_EQ(ReadDls(RiffNode::Riff("WAVE", {}).Encode()).status, DlsReadStatus::NotDls);
    EXPECT_EQ(ReadDls(RiffNode::List("DLS ", {}).Encode()).status, DlsReadStatus::NotDls);
}

TEST(DlsReader, ChunkRunningPastItsParentIsMalformedWithItsOffset) {
    Bytes bytes = Collection({RiffNode::Chunk("colh", testkit::ByteBuilder().u32le(0).take()),
                              RiffNode::Chunk("vers", Bytes(8, 0))});
    // The "vers" chunk header sits at 12 + 12 = 24; its size now claims 1000 bytes.
    bytes[28] = 0xE8;
    bytes[29] = 0x03;
    DlsReadOutcome read = ReadDls(bytes);
    EXPECT_EQ(read.status, DlsReadStatus::Malformed);
    EXPECT_NE(read.diagnostics.failure.find("\"vers\""), std::string::npos)
        << read.diagnostics.failure;
    EXPECT_NE(read.diagnostics.failure.find("0x00000018"), std::string::npos)
        << read.diagnostics.failure;
}

TEST(DlsReader, ShortFixedRecordsAreMalformed) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"colh", Collection({RiffNode::Chunk("colh", Bytes(3, 0))})},
        {"insh", Collection({InstrumentList({RiffNode::Chunk("insh", Bytes(11, 0))})})},
        {"rgnh",
         Collection({InstrumentList(
             {RiffNode::Chunk("insh", Insh()),
              RiffNode::List(
                  "lrgn", {RiffNode::List("rgn ", {RiffNode::Chunk("rgnh", Bytes(10, 0))})})})})},
        {"wlnk",
         Collection({InstrumentList(
             {RiffNode::Chunk("insh", Insh()),
              RiffNode::List("lrgn",
                             {RiffNode::List("rgn ", {RiffNode::Chunk("rgnh", Bytes(12, 0)),
                                                      RiffNode::Chunk("wlnk", Bytes(8, 0))})})})})},
        {"wsmp",
         Collection({InstrumentList(
             {RiffNode::Chunk("insh", Insh()),
              RiffNode::List(
                  "lrgn", {RiffNode::List("rgn ", {RiffNode::Chunk("rgnh", Bytes(12, 0)),
                                                   RiffNode::Chunk("wsmp", Bytes(19, 0))})})})})},
        {"art2", Collection({InstrumentList(
                     {RiffNode::Chunk("insh", Insh()),
                      RiffNode::List("lar2", {RiffNode::Chunk("art2", Bytes(6, 0))})})})},
        {"fmt ", Collection({RiffNode::List(
                     "wvpl", {RiffNode::List("wave", {RiffNode::Chunk("fmt ", Bytes(14, 0))})})})},
        {"ptbl", Collection({RiffNode::Chunk("ptbl", Bytes(4, 0))})},
        {"insh missing", Collection({InstrumentList({RiffNode::List("lrgn", {})})})},
    };
    for (const Case& c : cases) {
        DlsReadOutcome read = ReadDls(c.bytes);
        EXPECT_EQ(read.status, DlsReadStatus::Malformed) << c.name;
        EXPECT_NE(read.diagnostics.failure.find(" at 0x"), std::string::npos)
            << c.name << ": " << read.diagnostics.failure;
    }
}

TEST(DlsReader, CountsBeyondTheirChunkAreCutToWhatIsThere) {
    // "art2" says 5 blocks but holds 1 block and a 5-byte trailer.
    Bytes art = testkit::ByteBuilder()
                    .u32le(8)
                    .u32le(5)
                    .u16le(0)
                    .u16le(0)
                    .u16le(4)
                    .u16le(0)
                    .u32le(7)
                    .take();
    art.insert(art.end(), {1, 2, 3, 4, 5});
    // "wsmp" says 3 loops and holds 1.
    Bytes wsmp = testkit::ByteBuilder()
                     .u32le(20)
                     .u16le(60)
                     .u16le(0)
                     .u32le(0)
                     .u32le(0)
                     .u32le(3)
                     .u32le(16)
                     .u32le(1)
                     .u32le(10)
                     .u32le(20)
                     .take();
    // "ptbl" says 9 cues and holds 2.
    Bytes ptbl = testkit::ByteBuilder().u32le(8).u32le(9).u32le(0).u32le(0).take();
    Bytes bytes = Collection(
        {InstrumentList(
             {RiffNode::Chunk("insh", Insh()),
              RiffNode::List("lrgn", {RiffNode::List("rgn ", {RiffNode::Chunk("rgnh", Bytes(12, 0)),
                                                              RiffNode::Chunk("wsmp", wsmp)})}),
              RiffNode::List("lar2", {RiffNode::Chunk("art2", art)})}),
         RiffNode::Chunk("ptbl", ptbl)});
    DlsReadOutcome read = ReadDls(bytes);
    ASSERT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
    const DlsInstrument& in = read.collection.instruments[0];
    ASSERT_EQ(in.articulation.size(), 1u);
    EXPECT_EQ(in.articulation[0].scale, 7);
    ASSERT_EQ(in.regions[0].sample->loops.size(), 1u);
    EXPECT_EQ(in.regions[0].sample->loops[0].type, dls::kLoopRelease);
    EXPECT_EQ(read.collection.poolTable.size(), 2u);
    EXPECT_GE(read.diagnostics.notes.size(), 3u);
}

TEST(DlsReader, WavesInFormatsItCannotPlayStaySilent) {
    auto waveWith = [](uint16_t tag, uint16_t channels, uint16_t bits, Bytes data) {
        Bytes fmt = testkit::ByteBuilder()
                        .u16le(tag)
                        .u16le(channels)
                        .u32le(22050)
                        .u32le(0)
                        .u16le(static_cast<uint16_t>(channels * bits / 8))
                        .u16le(bits)
                        .take();
        return Collection(
            {RiffNode::List("wvpl", {RiffNode::List("wave", {RiffNode::Chunk("fmt ", fmt),
                                                             RiffNode::Chunk("data", data)})})});
    };
    // IMA ADPCM and 12-bit PCM are not played; stereo 16-bit is mixed to one channel.
    DlsReadOutcome adpcm = ReadDls(waveWith(0x11, 1, 4, Bytes(64, 0x11)));
    ASSERT_EQ(adpcm.status, DlsReadStatus::Ok);
    EXPECT_FALSE(adpcm.collection.waves[0].playable);
    DlsReadOutcome odd = ReadDls(waveWith(1, 1, 12, Bytes(64, 0)));
    EXPECT_FALSE(odd.collection.waves[0].playable);
    DlsReadOutcome stereo = ReadDls(waveWith(
        1, 2, 16,
        testkit::ByteBuilder().u16le(100).u16le(300).u16le(0xFFFF).u16le(0xFFFD).u8(9).take()));
    ASSERT_TRUE(stereo.collection.waves[0].playable);
    EXPECT_EQ(stereo.collection.waves[0].pcm,
              (std::vector<int16_t>{200, -2})); // the odd byte is no frame
    DlsReadOutcome empty = ReadDls(waveWith(1, 1, 16, Bytes{}));
    EXPECT_FALSE(empty.collection.waves[0].playable);
}

TEST(DlsReader, NoPrefixOfAFileReadsOutOfBounds) {
    const Bytes bytes = BuildDls(OurLayout());
    for (size_t n = 0; n < bytes.size(); ++n) {
        // Each prefix is copied so that a read past its end would touch memory that
        // the address sanitizer watches.
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        DlsReadOutcome read = ReadDls(prefix);
        if (read.status == DlsReadStatus::Ok) {
            // The outer size is wrong for every prefix, which the reader notes.
            EXPECT_FALSE(read.diagnostics.notes.empty()) << n;
        }
    }
}

TEST(DlsReader, FileReadGoesThroughTheChunkedFileLayer) {
    MemoryFileSystem memory;
    FaultInjectingFileSystem faults(memory);
    ScopedFileSystem guard(faults);
    memory.Put("/bank.dls", BuildDls(OurLayout()));
    DlsReadOutcome read = ReadDlsFile("/bank.dls");
    EXPECT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
    EXPECT_EQ(ReadDlsFile("/missing.dls").status, DlsReadStatus::OpenFailed);
    faults.FailOpenRead(true);
    EXPECT_EQ(ReadDlsFile("/bank.dls").status, DlsReadStatus::OpenFailed);
}

} // namespace
} // namespace sonvex
