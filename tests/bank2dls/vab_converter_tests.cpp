// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion results, limits, files left behind, loops and layout of whole conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bank2dls/vab_converter.h"
#include "bank2dls/vag_wave.h"
#include "chunkfile/chunk_file.h"
#include "platform/messages.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using namespace banktest;
using testkit::AdpcmBlock;
using testkit::VabBuilder;

// The messages as the user sees them.
constexpr const char* kVhOpenText = "読み込みファイルが開けません　Ｅｒｒ：１１";
constexpr const char* kVbOpenText = "読み込みファイルが開けません　Ｅｒｒ：１２";
constexpr const char* kOutputText = "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１３";

Bytes ShortVag(int16_t level = 500) {
    return testkit::MakeVag(std::vector<int16_t>(56, level));
}

VabBuilder OneToneBank() {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)})).sample(ShortVag());
    return vab;
}

// A loop record (start, length) and loop count from a "wsmp" chunk's data.
struct Loop {
    uint32_t count;
    uint32_t start;
    uint32_t length;
    bool operator==(const Loop&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Loop& l) {
    return os << "{count " << l.count << ", start " << l.start << ", length " << l.length << "}";
}
Loop LoopOf(const Node* wsmp) {
    EXPECT_EQ(wsmp->data.size(), 36u);
    EXPECT_EQ(U32At(wsmp->data, 20), 16u); // the loop record is always there
    EXPECT_EQ(U32At(wsmp->data, 24), 0u);
    return {U32At(wsmp->data, 16), U32At(wsmp->data, 28), U32At(wsmp->data, 32)};
}
std::vector<Loop> WaveLoops(const Node& dls) {
    std::vector<Loop> out;
    for (const Node* wave : FindAllLists(dls, FourCC("wave"))) {
        out.push_back(LoopOf(wave->Find(FourCC("wsmp"))));
    }
    return out;
}
std::vector<Loop> RegionLoops(const Node& dls) {
    std::vector<Loop> out;
    for (const Node* rgn : FindAllLists(dls, FourCC("rgn "))) {
        out.push_back(LoopOf(rgn->Find(FourCC("wsmp"))));
    }
    return out;
}

TEST(VabConverterFiles, OpenFailuresShowTheirMessage) {
    MemoryFileSystem memory;
    memory.Put("bank.vh", OneToneBank().BuildVh());
    memory.Put("bank.vb", OneToneBank().BuildVb());
    FaultInjectingFileSystem faulty(memory);
    ScopedFileSystem guard(faulty);
    RecordingFeedback feedback;

    EXPECT_EQ(ConvertVabToDls(0, 0, "missing.vh", "bank.vb", "out.dls", "t", feedback),
              ConvertResult::OpenFailed);
    EXPECT_EQ(ConvertVabToDls(0, 0, "bank.vh", "missing.vb", "out.dls", "t", feedback),
              ConvertResult::OpenFailed);
    faulty.FailCreate(true);
    EXPECT_EQ(ConvertVabToDls(0, 0, "bank.vh", "bank.vb", "out.dls", "t", feedback),
              ConvertResult::OpenFailed);
    EXPECT_EQ(feedback.Messages(),
              (std::vector<std::string>{kVhOpenText, kVbOpenText, kOutputText}));
    for (const auto& e : feedback.events) {
        EXPECT_EQ(e.value, static_cast<int>(MessageIcon::Stop));
    }
    EXPECT_FALSE(memory.Exists("out.dls"));
}

TEST(VabConverterFiles, WriteFailureDeletesOutputAndStopsTheRun) {
    // A bank large enough that the 64 KiB buffer is written back during the run.
    VabBuilder vab;
    std::vector<testkit::VabTone> tones;
    for (int16_t i = 1; i <= 4; ++i) {
        tones.push_back(testkit::Tone(i));
    }
    vab.program(0, testkit::Program(tones));
    for (int i = 0; i < 4; ++i) {
        vab.sample(testkit::MakeVag(std::vector<int16_t>(28 * 400, static_cast<int16_t>(100 * i))));
    }
    const Bytes vh = vab.BuildVh();
    const Bytes vb = vab.BuildVb();
    for (int64_t budget : {int64_t{0}, int64_t{100}, int64_t{70000}, int64_t{80000}}) {
        MemoryFileSystem memory;
        memory.Put("bank.vh", vh);
        memory.Put("bank.vb", vb);
        FaultInjectingFileSystem faulty(memory);
        ScopedFileSystem guard(faulty);
        faulty.FailWritesAfter(budget);
        RecordingFeedback feedback;
        EXPECT_EQ(ConvertVabToDls(0, 0, "bank.vh", "bank.vb", "out.dls", "t", feedback),
                  ConvertResult::OpenFailed)
            << "budget " << budget;
        EXPECT_EQ(feedback.Messages(), std::vector<std::string>{kOutputText})
            << "budget " << budget;
        EXPECT_FALSE(memory.Exists("out.dls")) << "budget " << budget;
    }
    // With room for everything the same bank converts.
    EXPECT_EQ(ConvertBank(vh, vb).result, ConvertResult::Done);
}

TEST(VabConverterFiles, EarlyErrorsLeaveAnExistingOutputAlone) {
    const Bytes old = {1, 2, 3};
    auto run = [&](const Bytes& vh) {
        MemoryFileSystem memory;
        memory.Put("bank.vh", vh);
        memory.Put("bank.vb", OneToneBank().BuildVb());
        memory.Put("out.dls", old);
        ScopedFileSystem guard(memory);
        NullFeedback feedback;
        const ConvertResult r =
            ConvertVabToDls(0, 0, "bank.vh", "bank.vb", "out.dls", "t", feedback);
        EXPECT_EQ(memory.Contents("out.dls"), old);
        return r;
    };
    Bytes shortHeader = OneToneBank().BuildVh();
    shortHeader.resize(31);
    EXPECT_EQ(run(shortHeader), ConvertResult::InputEnded);
    EXPECT_EQ(run(OneToneBank().toneCount(2049).BuildVh()), ConvertResult::CannotConvert);
    // A VH offset past the end of the file reads as a short header.
    MemoryFileSystem memory;
    memory.Put("bank.vh", OneToneBank().BuildVh());
    ScopedFileSystem guard(memory);
    NullFeedback feedback;
    EXPECT_EQ(ConvertVabToDls(uint64_t{1} << 62, 0, "bank.vh", "bank.vh", "out.dls", "t", feedback),
              ConvertResult::InputEnded);
    EXPECT_FALSE(memory.Exists("out.dls"));
}

TEST(VabConverterLimits, CountsAtAndPastTheirLimits) {
    EXPECT_EQ(ConvertBank(OneToneBank().toneCount(2048).BuildVh(), OneToneBank().BuildVb()).result,
              ConvertResult::Done);
    const Converted tones =
        ConvertBank(OneToneBank().toneCount(2049).BuildVh(), OneToneBank().BuildVb());
    EXPECT_EQ(tones.result, ConvertResult::CannotConvert);
    EXPECT_FALSE(tones.exists);

    // Program count 128 with one non-empty slot: the walk ends after slot 127 and
    // "colh" keeps the header's count.
    const Converted programs128 =
        ConvertBank(OneToneBank().programCount(128).BuildVh(), OneToneBank().BuildVb());
    ASSERT_EQ(programs128.result, ConvertResult::Done);
    const Node dls = ParseRiff(programs128.dls);
    EXPECT_EQ(U32At(dls.Find(FourCC("colh"))->data, 0), 128u);
    EXPECT_EQ(FindAllLists(dls, FourCC("ins ")).size(), 1u);
    const Converted programs129 =
        ConvertBank(OneToneBank().programCount(129).BuildVh(), OneToneBank().BuildVb());
    EXPECT_EQ(programs129.result, ConvertResult::CannotConvert);
    EXPECT_FALSE(programs129.exists);

    VabBuilder many;
    many.program(0, testkit::Program({testkit::Tone(254)}));
    for (int i = 0; i < 254; ++i) {
        many.sample(ShortVag(static_cast<int16_t>(i)));
    }
    const Converted vags254 = ConvertBank(many.BuildVh(), many.BuildVb());
    ASSERT_EQ(vags254.result, ConvertResult::Done);
    const Node big = ParseRiff(vags254.dls);
    EXPECT_EQ(FindAllLists(big, FourCC("wave")).size(), 254u);
    EXPECT_EQ(U32At(big.Find(FourCC("ptbl"))->data, 4), 254u);
    const Converted vags255 = ConvertBank(many.vagCount(255).BuildVh(), many.BuildVb());
    EXPECT_EQ(vags255.result, ConvertResult::CannotConvert);
    EXPECT_FALSE(vags255.exists);
}

TEST(VabConverterLimits, FormatErrorsDeleteTheOutput) {
    testkit::VabProgram seventeen = testkit::Program({testkit::Tone(1)});
    seventeen.toneCountField = 17;
    VabBuilder tooManyTones;
    tooManyTones.program(0, seventeen).programCount(1).sample(ShortVag());

    VabBuilder vag256;
    vag256.program(0, testkit::Program({testkit::Tone(256)})).sample(ShortVag());

    Bytes flags8 = ShortVag();
    testkit::SetBlockFlags(flags8, 2, 8);
    VabBuilder badFlags;
    badFlags.program(0, testkit::Program({testkit::Tone(1)})).sample(flags8);

    Bytes filter5 = ShortVag();
    filter5[2 * 16] = 0x5C; // second data block: filter 5, shift 12
    VabBuilder badFilter;
    badFilter.program(0, testkit::Program({testkit::Tone(1)})).sample(filter5);

    for (const VabBuilder* vab : {&tooManyTones, &vag256, &badFlags, &badFilter}) {
        const Converted c = ConvertBank(vab->BuildVh(), vab->BuildVb());
        EXPECT_EQ(c.result, ConvertResult::CannotConvert);
        EXPECT_FALSE(c.exists);
        EXPECT_TRUE(c.messages.empty());
    }
    // A flags-7 block ends the sample before its filter is looked at.
    Bytes skipWithBadFilter =
        testkit::MakeVag(std::vector<int16_t>(56, 9),
                         testkit::VagShape{std::nullopt, std::nullopt, true, true, std::nullopt});
    skipWithBadFilter[skipWithBadFilter.size() - 16] = 0xF0;
    VabBuilder skip;
    skip.program(0, testkit::Program({testkit::Tone(1)})).sample(skipWithBadFilter);
    EXPECT_EQ(ConvertBank(skip.BuildVh(), skip.BuildVb()).result, ConvertResult::Done);
}

TEST(VabConverterLimits, DiagnosticsNameStructureAndOffset) {
    Bytes flags8 = ShortVag();
    testkit::SetBlockFlags(flags8, 2, 8);
    VabBuilder badFlags;
    badFlags.program(0, testkit::Program({testkit::Tone(1)})).sample(flags8);
    EXPECT_EQ(ConvertBank(badFlags.BuildVh(), badFlags.BuildVb()).diagnostics.failure,
              "wave 0, block at 0x00000020: flags 8");

    VabBuilder vag256;
    vag256.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(256)})).sample(ShortVag());
    EXPECT_EQ(ConvertBank(vag256.BuildVh(), vag256.BuildVb()).diagnostics.failure,
              "tone 1 of program 0 at 0x00000840: VAG number 256 above 255");

    testkit::VabProgram seventeen = testkit::Program({testkit::Tone(1)});
    seventeen.toneCountField = 17;
    VabBuilder tooMany;
    tooMany.program(2, seventeen).programCount(1);
    EXPECT_EQ(ConvertBank(tooMany.BuildVh(), Bytes{}).diagnostics.failure,
              "program slot 2 at 0x00000040: 17 tones above 16");

    VabBuilder missing = OneToneBank();
    missing.sample(ShortVag()).vagCount(3);
    const Converted partial = ConvertBank(missing.BuildVh(), missing.BuildVb());
    EXPECT_EQ(partial.result, ConvertResult::PartlyDone);
    EXPECT_EQ(partial.diagnostics.failure, "VB at 0x00000000: ended after 2 of 3 samples");
    EXPECT_EQ(ConvertBank(OneToneBank().BuildVh(), OneToneBank().BuildVb()).diagnostics.failure,
              "");
}

TEST(VabConverterLimits, ShortReadsDeleteTheOutput) {
    const VabBuilder bank = OneToneBank();
    const Bytes vh = bank.BuildVh();
    const Bytes vb = bank.BuildVb();

    Bytes cutProgram(vh.begin(), vh.begin() + ProgramRecordOffset(0) + 10);
    Bytes cutTone(vh.begin(), vh.begin() + ToneRecordOffset(0, 0) + 31);
    Bytes cutWave(vb.begin(), vb.end() - 1);
    Bytes cutWaveHeader(vb.begin(), vb.end() - 15); // only the flags byte of the last block
    struct Case {
        const char* what;
        Bytes vh;
        Bytes vb;
        RecognitionRules rules = RecognitionRules::Extended;
    };
    // Without a sample the search can find, the extended rules take the samples from the
    // size table when they fit in the body; a body shorter than the table's total stays
    // a short read for them too.
    const Case cases[] = {
        {"program record", cutProgram, vb},
        {"tone record", cutTone, vb},
        {"sample data", vh, cutWave},
        {"block header", vh, cutWaveHeader},
        {"no sample at all", vh, Bytes(100, 0), RecognitionRules::Classic},
        {"no sample, body shorter than its size table", vh, Bytes(vb.size() - 1, 0)}};
    for (const Case& c : cases) {
        const Converted out = ConvertBank(c.vh, c.vb, "bank", c.rules);
        EXPECT_EQ(out.result, ConvertResult::InputEnded) << c.what;
        EXPECT_FALSE(out.exists) << c.what;
    }
}

TEST(VabConverterLimits, MissingSamplesGivePartialCollection) {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(3)})).vagCount(3);
    vab.sample(ShortVag(1)).sample(ShortVag(2), 40);
    const Converted c = ConvertBank(vab.BuildVh(), vab.BuildVb());
    ASSERT_EQ(c.result, ConvertResult::PartlyDone);
    const Node dls = ParseRiff(c.dls); // well formed: every chunk closed
    const Node* ptbl = dls.Find(FourCC("ptbl"));
    ASSERT_NE(ptbl, nullptr);
    ASSERT_EQ(ptbl->data.size(), 8u + 3 * 4);
    EXPECT_EQ(U32At(ptbl->data, 8), 0u);
    EXPECT_NE(U32At(ptbl->data, 12), 0u);
    EXPECT_EQ(U32At(ptbl->data, 16), 0u); // never written
    EXPECT_EQ(FindAllLists(dls, FourCC("wave")).size(), 2u);
    EXPECT_NE(FindAllLists(dls, FourCC("INFO")).back()->Find(FourCC("ICOP")), nullptr);
}

TEST(VabConverterLayout, EmptyProgramsAndGapsBetweenSlots) {
    VabBuilder vab;
    vab.program(3, testkit::Program({testkit::Tone(1, 10, 20)}));
    vab.program(4, testkit::Program({}));
    vab.program(90, testkit::Program({testkit::Tone(2, 30, 40), testkit::Tone(1, 50, 60)}));
    vab.program(127, testkit::Program({testkit::Tone(0), testkit::Tone(255)}));
    vab.sample(ShortVag()).sample(ShortVag());
    const Converted c = ConvertBank(vab.BuildVh(), vab.BuildVb());
    ASSERT_EQ(c.result, ConvertResult::Done);
    const Node dls = ParseRiff(c.dls);
    EXPECT_EQ(U32At(dls.Find(FourCC("colh"))->data, 0), 3u);
    const auto instruments = FindAllLists(dls, FourCC("ins "));
    ASSERT_EQ(instruments.size(), 3u);
    const uint32_t slots[] = {3, 90, 127};
    const uint32_t regionCounts[] = {1, 2, 2};
    const size_t regionLists[] = {1, 2, 0};
    for (size_t i = 0; i < 3; ++i) {
        const Node* insh = instruments[i]->Find(FourCC("insh"));
        EXPECT_EQ(U32At(insh->data, 0), regionCounts[i]);
        EXPECT_EQ(U32At(insh->data, 4), 1u);
        EXPECT_EQ(U32At(insh->data, 8), slots[i]);
        EXPECT_EQ(FindAllLists(*instruments[i], FourCC("rgn ")).size(), regionLists[i]);
        // The instrument's own articulation is a direct child of "ins ".
        EXPECT_NE(instruments[i]->FindList(FourCC("lar2")), nullptr);
    }
    // Slot 90 is the second non-empty program: its tones come from the second record block.
    const auto rgnh = FindAll(*instruments[1], FourCC("rgnh"));
    EXPECT_EQ(U16At(rgnh[0]->data, 0), 30);
    EXPECT_EQ(U16At(rgnh[1]->data, 0), 50);
}

TEST(VabConverterLayout, NoProgramsOrNoSamples) {
    VabBuilder noPrograms;
    noPrograms.sample(ShortVag());
    const Converted a = ConvertBank(noPrograms.BuildVh(), noPrograms.BuildVb());
    ASSERT_EQ(a.result, ConvertResult::Done);
    const Node da = ParseRiff(a.dls);
    EXPECT_EQ(U32At(da.Find(FourCC("colh"))->data, 0), 0u);
    EXPECT_TRUE(da.FindList(FourCC("lins"))->kids.empty());
    EXPECT_EQ(FindAllLists(da, FourCC("wave")).size(), 1u);

    VabBuilder noSamples;
    noSamples.program(0, testkit::Program({testkit::Tone(1)}));
    const Converted b = ConvertBank(noSamples.BuildVh(), Bytes{});
    ASSERT_EQ(b.result, ConvertResult::Done);
    const Node db = ParseRiff(b.dls);
    EXPECT_EQ(db.Find(FourCC("ptbl"))->data, (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(db.FindList(FourCC("wvpl"))->kids.empty());
}

TEST(VabConverterLayout, PoolTableOffsetsPointAtWaveLists) {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)}));
    vab.sample(ShortVag(1), 3, 0x55).sample(ShortVag(2), 7, 0x33).sample(ShortVag(3));
    const Converted c = ConvertBank(vab.BuildVh(), vab.BuildVb());
    ASSERT_EQ(c.result, ConvertResult::Done);
    const Node dls = ParseRiff(c.dls);
    const Node* ptbl = dls.Find(FourCC("ptbl"));
    const Node* wvpl = dls.FindList(FourCC("wvpl"));
    const size_t poolBase = wvpl->offset + 12;
    ASSERT_EQ(wvpl->kids.size(), 3u);
    EXPECT_EQ(U32At(ptbl->data, 0), 8u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(U32At(ptbl->data, 8 + 4 * i), wvpl->kids[i].offset - poolBase) << "wave " << i;
    }
    EXPECT_EQ(U32At(ptbl->data, 8), 0u);
}

// A sample whose data blocks carry the given flags (the zero block is added in front).
Bytes SampleWithFlags(const std::vector<uint8_t>& flags) {
    ByteBuilder b;
    b.fill(16);
    for (uint8_t f : flags) {
        b.append(AdpcmBlock(12, 0, f, std::vector<int>(28, 1)));
    }
    return b.take();
}

Converted ConvertLoopBank(const Bytes& sample) {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(2)}));
    vab.sample(sample).sample(SampleWithFlags({2, 1}));
    return ConvertBank(vab.BuildVh(), vab.BuildVb());
}

TEST(VabConverterLoops, LoopCasesInWaveAndRegions) {
    const Loop none{0, 0, 0};
    struct Case {
        const char* what;
        std::vector<uint8_t> flags;
        Loop loop;
        size_t samples;
    };
    // Samples before a block: 28 for the zero block plus 28 per data block before it.
    const Case cases[] = {
        {"no loop", {2, 0, 1}, none, 112},
        {"start and end", {2, 6, 0, 3}, {1, 55, 84}, 140},
        {"end without start", {2, 0, 3}, {0, 0, 111}, 112},
        {"start without end", {2, 6, 0, 1}, {1, 55, 0}, 140},
        {"start then a skip block", {2, 0, 6, 7}, {1, 83, 0}, 112},
        {"several starts, the last wins", {6, 0, 6, 0, 3}, {1, 83, 84}, 168},
        {"start at the first data block", {6, 3}, {1, 27, 56}, 84},
    };
    for (const Case& c : cases) {
        Bytes sample = SampleWithFlags(c.flags);
        const Converted out = ConvertLoopBank(sample);
        ASSERT_EQ(out.result, ConvertResult::Done) << c.what;
        const Node dls = ParseRiff(out.dls);
        EXPECT_EQ(WaveLoops(dls), (std::vector<Loop>{c.loop, none})) << c.what;
        // Only a loop with its start flag reaches the regions that play the sample.
        const Loop regionLoop = c.loop.count == 1 ? c.loop : none;
        EXPECT_EQ(RegionLoops(dls), (std::vector<Loop>{regionLoop, none})) << c.what;
        const auto data = FindAll(dls, FourCC("data"));
        EXPECT_EQ(data[0]->data.size(), 2 * c.samples) << c.what;
    }
}

TEST(VabConverterLoops, LoopReachesEveryRegionOfItsSampleBeyondTheToneCount) {
    // The header claims one tone, the records hold 16 regions for sample 2 across two
    // programs plus one for sample 1: the loop table grows instead of overflowing.
    std::vector<testkit::VabTone> tones(8, testkit::Tone(2));
    VabBuilder vab;
    vab.program(0, testkit::Program(tones)).program(1, testkit::Program({testkit::Tone(1)}));
    vab.program(2, testkit::Program(tones)).toneCount(1);
    vab.sample(SampleWithFlags({2, 1})).sample(SampleWithFlags({2, 6, 3}));
    const Converted c = ConvertBank(vab.BuildVh(), vab.BuildVb());
    ASSERT_EQ(c.result, ConvertResult::Done);
    const Node dls = ParseRiff(c.dls);
    const auto loops = RegionLoops(dls);
    ASSERT_EQ(loops.size(), 17u);
    for (size_t i = 0; i < loops.size(); ++i) {
        const Loop expected = i == 8 ? Loop{0, 0, 0} : Loop{1, 55, 56};
        EXPECT_EQ(loops[i], expected) << "region " << i;
    }
}

// FindNextVag over bytes in memory; returns the positions of the samples found.
std::vector<int64_t> FindAllVags(const Bytes& vb) {
    MemoryFileSystem memory;
    memory.Put("vb", vb);
    ScopedFileSystem guard(memory);
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("vb"));
    std::vector<int64_t> found;
    while (FindNextVag(file) == VagSearch::Found) {
        found.push_back(file.Tell());
        file.Seek(1, SeekOrigin::Current);
    }
    return found;
}

TEST(VagSearch, StartsNeedStartFlagsAndNoAlignment) {
    for (uint8_t flags = 0; flags < 16; ++flags) {
        const Bytes vb = ByteBuilder().fill(16).u8(0x12).u8(flags).fill(14, 0x11).take();
        const bool start = flags == 2 || flags == 4 || flags == 5 || flags == 6;
        EXPECT_EQ(FindAllVags(vb), start ? std::vector<int64_t>{0} : std::vector<int64_t>{})
            << int(flags);
    }
    // Odd offsets, and a run of 20 zeros where the last 16 precede the start block.
    const Bytes vb =
        ByteBuilder().u8(9).fill(16).u8(0x12).u8(2).fill(14, 0x11).fill(20).u8(0x12).u8(6).take();
    EXPECT_EQ(FindAllVags(vb), (std::vector<int64_t>{1, 37}));
    // 16 zeros at the very end, or with just one more byte, end the search.
    EXPECT_TRUE(FindAllVags(ByteBuilder().u8(1).fill(17).take()).empty());
    // Starts anywhere around the places where a long search reads on.
    for (const int64_t at : {8174, 8175, 8176, 8191, 8192, 16367, 16368}) {
        const Bytes far = ByteBuilder()
                              .fill(static_cast<size_t>(at), 0x11)
                              .fill(16)
                              .u8(0x12)
                              .u8(2)
                              .fill(14, 0x11)
                              .take();
        EXPECT_EQ(FindAllVags(far), std::vector<int64_t>{at}) << at;
    }
}

// Bytes with runs of zeros of every length near 16, and some long ones, and start flags here
// and there, across the places where the search reads on: it finds what a look at every
// offset finds.
TEST(VagSearch, FindsWhatALookAtEveryOffsetFinds) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        Bytes vb;
        while (vb.size() < 20000) {
            const uint32_t pick = rng() % 8;
            if (pick == 0) {
                vb.insert(vb.end(), rng() % 16 == 0 ? 100 + rng() % 3000 : 10 + rng() % 12, 0);
            } else if (pick == 1) {
                vb.push_back(static_cast<uint8_t>(rng() % 8)); // flags, a start or not
            } else {
                vb.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0 : 1 + rng() % 255));
            }
        }
        std::vector<int64_t> expected;
        for (size_t i = 0; i + 18 <= vb.size(); ++i) {
            if (std::all_of(vb.begin() + static_cast<std::ptrdiff_t>(i),
                            vb.begin() + static_cast<std::ptrdiff_t>(i + 16),
                            [](uint8_t b) { return b == 0; }) &&
                IsVagStartFlags(vb[i + 17])) {
                expected.push_back(static_cast<int64_t>(i));
            }
        }
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(FindAllVags(vb), expected) << "round " << round;
    }
}

} // namespace
} // namespace sonvex
