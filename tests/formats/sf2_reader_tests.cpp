// SPDX-License-Identifier: GPL-3.0-or-later
// The SoundFont 2 reader: a bank built with testkit read back field by field, then
// invalid banks grouped by defect, each failing with the structure and its offset.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <utility>

#include "formats/sf2.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;

// A generator table: (generator, amount) records, then the terminal record.
Bytes Generators(std::initializer_list<std::pair<uint16_t, uint16_t>> records) {
    ByteBuilder b;
    for (const auto& [generator, amount] : records) {
        b.u16le(generator).u16le(amount);
    }
    return b.u32le(0).take();
}

TEST(Sf2Reader, ReadsPresetsInstrumentsZonesAndSamples) {
    const Sf2ReadOutcome out = ReadSf2(testkit::OneSampleSf2(7, 64).build());
    ASSERT_EQ(out.status, Sf2ReadStatus::Ok) << out.diagnostics.failure;
    const Sf2Bank& bank = out.bank;
    EXPECT_EQ(bank.versionMajor, 2);
    EXPECT_EQ(bank.versionMinor, 1);
    EXPECT_EQ(bank.engine, "EMU8000");
    EXPECT_EQ(bank.name, "test");
    EXPECT_EQ(bank.samplePoints.size(), 64u + 46u);
    EXPECT_EQ(bank.samplePoints[1], -7000);
    ASSERT_EQ(bank.presets.size(), 1u);
    EXPECT_EQ(bank.presets[0].name, "preset");
    EXPECT_EQ(bank.presets[0].preset, 7);
    ASSERT_EQ(bank.presets[0].zones.size(), 1u);
    EXPECT_EQ(bank.presets[0].zones[0].Find(sf2op::kInstrument)->amount, 0);
    ASSERT_EQ(bank.instruments.size(), 1u);
    ASSERT_EQ(bank.instruments[0].zones.size(), 1u);
    const Sf2Zone& zone = bank.instruments[0].zones[0];
    ASSERT_EQ(zone.generators.size(), 4u);
    EXPECT_EQ(zone.Find(sf2op::kKeyRange)->Low(), 0);
    EXPECT_EQ(zone.Find(sf2op::kKeyRange)->High(), 127);
    EXPECT_EQ(zone.Find(sf2op::kOverridingRootKey)->amount, 60);
    EXPECT_FALSE(zone.Find(sf2op::kPan).has_value());
    ASSERT_EQ(bank.samples.size(), 1u);
    EXPECT_EQ(bank.samples[0].name, "sample");
    EXPECT_EQ(bank.samples[0].end, 64u);
    EXPECT_EQ(bank.samples[0].loopStart, 32u);
    EXPECT_EQ(bank.samples[0].sampleRate, 44100u);
    EXPECT_EQ(bank.samples[0].type, 1);
}

TEST(Sf2Reader, PresetRegionsOverlapBothLevelsWithTheirGlobalZones) {
    // Preset: a global zone of keys 40..90, then a zone of keys 30..60 on instrument 0.
    // Instrument: a global zone of velocities 10..100, then keys 0..50, keys 70..127 (off
    // the preset zone), and keys 55..127 with velocities 0..50 of its own.
    const auto range = [](uint8_t low, uint8_t high) {
        return static_cast<uint16_t>(low | high << 8);
    };
    testkit::Sf2Parts parts = testkit::OneSampleSf2(3);
    ByteBuilder phdr;
    phdr.text("preset").fill(14).u16le(3).u16le(0).u16le(0).u32le(0).u32le(0).u32le(0);
    phdr.text("EOP").fill(17).u16le(0).u16le(0).u16le(2).u32le(0).u32le(0).u32le(0);
    parts.table("phdr") = phdr.take();
    parts.table("pbag") =
        ByteBuilder().u16le(0).u16le(0).u16le(1).u16le(0).u16le(3).u16le(0).take();
    parts.table("pgen") = Generators({{sf2op::kKeyRange, range(40, 90)},
                                      {sf2op::kKeyRange, range(30, 60)},
                                      {sf2op::kInstrument, 0}});
    ByteBuilder ibag;
    for (uint16_t first : {0, 1, 3, 5, 8}) {
        ibag.u16le(first).u16le(0);
    }
    parts.table("ibag") = ibag.take();
    ByteBuilder inst;
    inst.text("instrument").fill(10).u16le(0).text("EOI").fill(17).u16le(4);
    parts.table("inst") = inst.take();
    parts.table("igen") = Generators({{sf2op::kVelRange, range(10, 100)},
                                      {sf2op::kKeyRange, range(0, 50)},
                                      {sf2op::kSampleId, 0},
                                      {sf2op::kKeyRange, range(70, 127)},
                                      {sf2op::kSampleId, 0},
                                      {sf2op::kKeyRange, range(55, 127)},
                                      {sf2op::kVelRange, range(0, 50)},
                                      {sf2op::kSampleId, 0}});
    const Sf2ReadOutcome out = ReadSf2(parts.build());
    ASSERT_EQ(out.status, Sf2ReadStatus::Ok) << out.diagnostics.failure;
    ASSERT_EQ(out.bank.presets.size(), 1u);
    EXPECT_EQ(Sf2GlobalZone(out.bank.presets[0].zones, sf2op::kInstrument),
              &out.bank.presets[0].zones[0]);
    EXPECT_EQ(Sf2GlobalZone(out.bank.instruments[0].zones, sf2op::kSampleId),
              &out.bank.instruments[0].zones[0]);

    const std::vector<Sf2Region> regions = Sf2PresetRegions(out.bank, out.bank.presets[0]);
    ASSERT_EQ(regions.size(), 2u);
    const auto expect = [](const Sf2Region& r, int keyLow, int keyHigh, int velLow, int velHigh) {
        EXPECT_EQ(r.keyLow, keyLow);
        EXPECT_EQ(r.keyHigh, keyHigh);
        EXPECT_EQ(r.velocityLow, velLow);
        EXPECT_EQ(r.velocityHigh, velHigh);
        EXPECT_EQ(r.instrument, 0);
        EXPECT_EQ(r.sample, 0);
    };
    expect(regions[0], 30, 50, 10, 100);
    expect(regions[1], 55, 60, 0, 50);
}

TEST(Sf2Reader, InvalidBanksByDefect) {
    struct Case {
        const char* defect;
        std::function<Bytes()> make;
        Sf2ReadStatus status;
        const char* names; // what the failure must mention
    };
    const Case cases[] = {
        {"another RIFF form", [] { return testkit::RiffNode::Riff("DLS ", {}).Encode(); },
         Sf2ReadStatus::NotSf2, "sfbk"},
        {"cut short",
         [] {
             Bytes b = testkit::OneSampleSf2().build();
             b.resize(b.size() - 30);
             return b;
         },
         Sf2ReadStatus::Malformed, "0x"},
        {"a table of part records",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2();
             p.table("pgen").push_back(0);
             return p.build();
         },
         Sf2ReadStatus::Malformed, "\"pgen\""},
        {"a table missing",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2();
             p.tables.erase(p.tables.begin() + 6); // "imod"
             return p.build();
         },
         Sf2ReadStatus::Malformed, "\"imod\""},
        {"a bag index beyond the generators",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2();
             p.table("ibag") = ByteBuilder().u16le(0).u16le(0).u16le(9).u16le(0).take();
             return p.build();
         },
         Sf2ReadStatus::Malformed, "instrument 0"},
        {"a sample past the sample data",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2(0, 64);
             p.smpl.resize(40);
             return p.build();
         },
         Sf2ReadStatus::Malformed, "sample header 0"},
        {"a preset of a missing instrument",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2();
             p.table("pgen") = Generators({{sf2op::kInstrument, 3}});
             return p.build();
         },
         Sf2ReadStatus::Malformed, "instrument 3"},
        {"a zone of a missing sample",
         [] {
             testkit::Sf2Parts p = testkit::OneSampleSf2();
             Bytes& igen = p.table("igen");
             igen[14] = 5; // the sample generator's amount
             return p.build();
         },
         Sf2ReadStatus::Malformed, "sample 5"},
    };
    for (const Case& c : cases) {
        const Sf2ReadOutcome out = ReadSf2(c.make());
        EXPECT_EQ(out.status, c.status) << c.defect;
        EXPECT_NE(out.diagnostics.failure.find(c.names), std::string::npos)
            << c.defect << ": " << out.diagnostics.failure;
    }
}

} // namespace
} // namespace sonvex
