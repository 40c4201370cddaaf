// SPDX-License-Identifier: GPL-3.0-or-later
// Samples located by the header's table of sample sizes: banks whose samples the
// zero-block search cannot find convert completely under the extended rules, each wave
// holding its own sample; banks the search reads convert as before; and the table is only
// trusted when it describes a body that lies inside the VB file.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "bank2dls/vab_converter.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/game_image.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using namespace banktest;
using testkit::BankParts;
using testkit::MakeBank;
using testkit::VabBuilder;
using testkit::VagStart;

constexpr size_t kNoLimit = SIZE_MAX;

// What the converter must write for one sample: the PCM of its blocks up to and including
// the first with flags 1 or 3, without a flags-7 block and what follows it, and at most
// `maxBlocks` blocks; history from zero, as every wave starts.
std::vector<int16_t> ExpectedPcm(const Bytes& sample, size_t maxBlocks = kNoLimit) {
    Bytes used;
    for (size_t b = 0; b < maxBlocks && 16 * b + 16 <= sample.size(); ++b) {
        const uint8_t flags = sample[16 * b + 1];
        if (flags == 7) {
            break;
        }
        used.insert(used.end(), sample.begin() + static_cast<std::ptrdiff_t>(16 * b),
                    sample.begin() + static_cast<std::ptrdiff_t>(16 * b + 16));
        if (flags == 1 || flags == 3) {
            break;
        }
    }
    return testkit::DecodeAdpcmForTest(used);
}

// The loop a sample's flags describe, as the wave's "wsmp" holds it: count, start, length.
std::array<uint32_t, 3> ExpectedLoop(const Bytes& sample) {
    std::optional<size_t> start;
    for (size_t b = 0; 16 * b + 16 <= sample.size(); ++b) {
        const uint8_t flags = sample[16 * b + 1];
        if (flags == 6) {
            start = b;
        }
        if (flags == 3 && start) {
            return {1, static_cast<uint32_t>(28 * *start - 1),
                    static_cast<uint32_t>(28 * (b - *start + 1))};
        }
        if (flags == 1 || flags == 3 || flags == 7) {
            break;
        }
    }
    return {0, 0, 0};
}

std::vector<int16_t> PcmOf(const Node& wave) {
    const Node* data = wave.Find(FourCC("data"));
    std::vector<int16_t> pcm;
    if (data == nullptr) {
        ADD_FAILURE() << "wave without data";
        return pcm;
    }
    for (size_t i = 0; i + 1 < data->data.size(); i += 2) {
        pcm.push_back(static_cast<int16_t>(U16At(data->data, i)));
    }
    return pcm;
}

// Every wave holds its own sample and loop, and every region links the wave its tone's
// VAG number names.
void ExpectWavesOfBank(const Converted& c, const BankParts& bank, const std::string& what) {
    const Node dls = ParseRiff(c.dls);
    const std::vector<const Node*> waves = FindAllLists(dls, FourCC("wave"));
    ASSERT_EQ(waves.size(), bank.samples.size()) << what;
    for (size_t i = 0; i < waves.size(); ++i) {
        EXPECT_EQ(PcmOf(*waves[i]), ExpectedPcm(bank.samples[i])) << what << ", wave " << i;
        const Node* wsmp = waves[i]->Find(FourCC("wsmp"));
        ASSERT_NE(wsmp, nullptr);
        const std::array<uint32_t, 3> loop = {U32At(wsmp->data, 16), U32At(wsmp->data, 28),
                                              U32At(wsmp->data, 32)};
        EXPECT_EQ(loop, ExpectedLoop(bank.samples[i])) << what << ", wave " << i;
    }
    const std::vector<const Node*> links = FindAll(dls, FourCC("wlnk"));
    ASSERT_EQ(links.size(), bank.vagNumbers.size()) << what;
    for (size_t r = 0; r < links.size(); ++r) {
        EXPECT_EQ(U32At(links[r]->data, 8), static_cast<uint32_t>(bank.vagNumbers[r] - 1))
            << what << ", region " << r;
    }
    const Node* ptbl = dls.Find(FourCC("ptbl"));
    ASSERT_NE(ptbl, nullptr);
    for (size_t i = 1; i < waves.size(); ++i) {
        EXPECT_GT(U32At(ptbl->data, 8 + 4 * i), U32At(ptbl->data, 8 + 4 * (i - 1)))
            << what << ", pool entry " << i;
    }
}

Bytes Joined(const BankParts& bank) {
    Bytes image = bank.vh;
    image.insert(image.end(), bank.vb.begin(), bank.vb.end());
    return image;
}

TEST(SampleLocationBySizeTable, BanksTheSearchCannotReadConvertCompletely) {
    struct Shape {
        VagStart start;
        int samples;
        uint32_t seed;
    };
    const Shape shapes[] = {{VagStart::ZeroBlockFlags0, 6, 1},
                            {VagStart::ZeroBlockFlags0, 1, 2},
                            {VagStart::NoZeroBlock, 5, 3},
                            {VagStart::NoZeroBlock, 2, 4},
                            {VagStart::NoZeroBlock, 40, 5}};
    for (const Shape& shape : shapes) {
        const BankParts bank = MakeBank(shape.seed, shape.samples, shape.start, 3, 2);
        const std::string what = "seed " + std::to_string(shape.seed);

        const Converted apart = ConvertBank(bank.vh, bank.vb);
        ASSERT_EQ(apart.result, ConvertResult::Done) << what << ": " << apart.diagnostics.failure;
        EXPECT_EQ(apart.location, SampleLocation::SizeTable) << what;
        ExpectWavesOfBank(apart, bank, what + ", separate files");

        const Converted joined = ConvertImage(Joined(bank), 0, bank.vh.size());
        ASSERT_EQ(joined.result, ConvertResult::Done) << what << ": " << joined.diagnostics.failure;
        EXPECT_EQ(joined.dls, apart.dls) << what;

        // The classic search finds no sample: a read error that stops a batch.
        const Converted classic = ConvertBank(bank.vh, bank.vb, "bank", RecognitionRules::Classic);
        EXPECT_EQ(classic.result, ConvertResult::InputEnded) << what;
        EXPECT_FALSE(classic.exists) << what;
    }
}

TEST(SampleLocationBySizeTable, BanksTheSearchReadsConvertAsBefore) {
    const BankParts bank = MakeBank(7, 6, VagStart::ZeroBlockStartFlags, 2, 3);
    // The first sample behind a lead of other bytes: the search finds it inside the body.
    Bytes led(24, 0x5A);
    led.insert(led.end(), bank.vb.begin(), bank.vb.end());
    for (const Bytes& vb : {bank.vb, led}) {
        const Converted extended = ConvertBank(bank.vh, vb);
        const Converted classic = ConvertBank(bank.vh, vb, "bank", RecognitionRules::Classic);
        ASSERT_EQ(extended.result, ConvertResult::Done) << extended.diagnostics.failure;
        EXPECT_EQ(extended.location, SampleLocation::Search);
        // The same pool table and waves; only the regions' tuning and envelopes differ.
        const banktest::Node classicTree = banktest::ParseRiff(classic.dls);
        const banktest::Node extendedTree = banktest::ParseRiff(extended.dls);
        EXPECT_TRUE(SameBytes(banktest::Serialize(*classicTree.FindList(FourCC("wvpl"))),
                              banktest::Serialize(*extendedTree.FindList(FourCC("wvpl")))));
        EXPECT_TRUE(SameBytes(classicTree.Find(FourCC("ptbl"))->data,
                              extendedTree.Find(FourCC("ptbl"))->data));
        ExpectWavesOfBank(extended, bank, "classic bank");
    }
}

TEST(SampleLocationBySizeTable, SampleEndsAtItsEndFlagOrItsSizeWhicheverComesFirst) {
    std::vector<int16_t> pcm(28 * 4);
    for (size_t t = 0; t < pcm.size(); ++t) {
        pcm[t] = static_cast<int16_t>((t % 17) * 40 - 300);
    }
    testkit::VagShape bare;
    bare.zeroBlock = false;
    bare.firstBlockFlags = 0;
    // No end flag at all: the size alone ends it.
    Bytes endless = testkit::MakeVag(pcm, bare);
    testkit::SetBlockFlags(endless, 3, 0);
    // An end flag on block 1, then two blocks of the sample's share that are not decoded.
    Bytes early = testkit::MakeVag(std::span(pcm).first(56), bare);
    early.insert(early.end(), 32, 0x7F);
    // A size of 40 bytes: two whole blocks, the half block behind them is not decoded.
    Bytes odd = testkit::MakeVag(pcm, bare);
    odd.resize(40);

    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(2), testkit::Tone(3)}));
    vab.sample(endless).sample(early).sample(odd);
    const Converted c = ConvertBank(vab.BuildVh(), vab.BuildVb());
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    EXPECT_EQ(c.location, SampleLocation::SizeTable);
    const Node dls = ParseRiff(c.dls);
    const std::vector<const Node*> waves = FindAllLists(dls, FourCC("wave"));
    ASSERT_EQ(waves.size(), 3u);
    EXPECT_EQ(PcmOf(*waves[0]).size(), 4u * 28);
    EXPECT_EQ(PcmOf(*waves[0]), ExpectedPcm(endless));
    EXPECT_EQ(PcmOf(*waves[1]), ExpectedPcm(early));
    EXPECT_EQ(PcmOf(*waves[1]).size(), 2u * 28);
    EXPECT_EQ(PcmOf(*waves[2]), ExpectedPcm(odd, 2));
    EXPECT_EQ(PcmOf(*waves[2]).size(), 2u * 28);
}

TEST(SampleLocationBySizeTable, TableIsTrustedOnlyForABodyInsideTheFile) {
    const BankParts bank = MakeBank(8, 3, VagStart::NoZeroBlock, 1, 2);
    const size_t total = bank.vb.size();
    const size_t table = static_cast<size_t>(VagSizeTableOffset(1));

    Bytes zeroTable = bank.vh;
    Bytes eightBytes = bank.vh;
    std::fill(zeroTable.begin() + static_cast<std::ptrdiff_t>(table), zeroTable.end(), 0);
    std::fill(eightBytes.begin() + static_cast<std::ptrdiff_t>(table), eightBytes.end(), 0);
    eightBytes[table + 2] = 1; // sample 0: 8 bytes, less than one block
    const Bytes cutTable(bank.vh.begin(),
                         bank.vh.begin() + static_cast<std::ptrdiff_t>(table + 100));

    struct Case {
        const char* what;
        Bytes vh;
        Bytes vb;
        uint64_t vbOffset;
    };
    const Case cases[] = {
        {"body one byte shorter than the table", bank.vh, Bytes(bank.vb.begin(), bank.vb.end() - 1),
         0},
        {"body offset leaves too little", bank.vh, bank.vb, 1},
        {"table of zeros", zeroTable, bank.vb, 0},
        {"table of less than a block", eightBytes, bank.vb, 0},
        {"header file ends inside the table", cutTable, bank.vb, 0},
    };
    for (const Case& c : cases) {
        MemoryFileSystem fs;
        fs.Put("bank.vh", c.vh);
        fs.Put("bank.vb", c.vb);
        ScopedFileSystem guard(fs);
        NullFeedback feedback;
        const VabConversion r = ConvertVabToDls(0, c.vbOffset, "bank.vh", "bank.vb", "out.dls", "t",
                                                feedback, VabConvertOptions{});
        EXPECT_EQ(r.result, ConvertResult::InputEnded) << c.what;
        EXPECT_EQ(r.location, SampleLocation::Search) << c.what;
        EXPECT_FALSE(fs.Exists("out.dls")) << c.what;
    }
    // Exactly the table's length fits.
    EXPECT_EQ(ConvertBank(bank.vh, bank.vb).result, ConvertResult::Done);
    EXPECT_EQ(total,
              static_cast<size_t>(8 * (U16At(bank.vh, table + 2) + U16At(bank.vh, table + 4) +
                                       U16At(bank.vh, table + 6))));
}

TEST(SampleLocationBySizeTable, SearchFindingOnlyALaterBanksSamplesDoesNotDecide) {
    // In one game file a bank the search cannot read, then a bank it can: from the first
    // body the search runs on into the second bank's samples.
    const BankParts first = MakeBank(9, 4, VagStart::ZeroBlockFlags0, 2, 2);
    const BankParts second = MakeBank(10, 5, VagStart::ZeroBlockStartFlags, 2, 2);
    Bytes image = Joined(first);
    const Bytes later = Joined(second);
    image.insert(image.end(), later.begin(), later.end());

    const Converted extended = ConvertImage(image, 0, first.vh.size());
    ASSERT_EQ(extended.result, ConvertResult::Done) << extended.diagnostics.failure;
    EXPECT_EQ(extended.location, SampleLocation::SizeTable);
    ExpectWavesOfBank(extended, first, "first bank");
    // The classic search takes whatever it meets behind the body for the first bank's waves.
    const Converted classic =
        ConvertImage(image, 0, first.vh.size(), "bank", RecognitionRules::Classic);
    EXPECT_TRUE(classic.result != ConvertResult::Done || classic.dls != extended.dls);

    // The second bank itself is read by the search, as before.
    const Converted own =
        ConvertImage(image, first.vh.size() + first.vb.size(), image.size() - second.vb.size());
    ASSERT_EQ(own.result, ConvertResult::Done);
    EXPECT_EQ(own.location, SampleLocation::Search);
    ExpectWavesOfBank(own, second, "second bank");
}

TEST(SampleLocationBySizeTable, LocatedSamplesKeepTheFormatLimits) {
    const BankParts bank = MakeBank(11, 3, VagStart::NoZeroBlock, 1, 3);
    const size_t secondBlockOfSample1 = bank.sampleOffsets[1] + 16;
    Bytes badFlags = bank.vb;
    badFlags[secondBlockOfSample1 + 1] = 9;
    Bytes badFilter = bank.vb;
    badFilter[secondBlockOfSample1] = 0x52;
    for (const Bytes& vb : {badFlags, badFilter}) {
        const Converted c = ConvertBank(bank.vh, vb);
        EXPECT_EQ(c.result, ConvertResult::CannotConvert);
        EXPECT_FALSE(c.exists);
        EXPECT_NE(c.diagnostics.failure.find("wave 1, block at 0x"), std::string::npos)
            << c.diagnostics.failure;
    }
}

} // namespace
} // namespace sonvex
