// SPDX-License-Identifier: GPL-3.0-or-later
// The SoundFont 2 reader: a bank built with testkit read back field by field, then
// invalid banks grouped by defect, each failing with the structure and its offset.
#include <gtest/gtest.h>

#include <functional>

#include "formats/sf2.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;

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
    EXPECT_EQ(bank.presets[0].zones[0].Find(41)->amount, 0);
    ASSERT_EQ(bank.instruments.size(), 1u);
    ASSERT_EQ(bank.instruments[0].zones.size(), 1u);
    const Sf2Zone& zone = bank.instruments[0].zones[0];
    ASSERT_EQ(zone.generators.size(), 4u);
    EXPECT_EQ(zone.Find(43)->Low(), 0);
    EXPECT_EQ(zone.Find(43)->High(), 127);
    EXPECT_EQ(zone.Find(58)->amount, 60);
    EXPECT_FALSE(zone.Find(17).has_value());
    ASSERT_EQ(bank.samples.size(), 1u);
    EXPECT_EQ(bank.samples[0].name, "sample");
    EXPECT_EQ(bank.samples[0].end, 64u);
    EXPECT_EQ(bank.samples[0].loopStart, 32u);
    EXPECT_EQ(bank.samples[0].sampleRate, 44100u);
    EXPECT_EQ(bank.samples[0].type, 1);
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
             p.table("pgen") = ByteBuilder().u16le(41).u16le(3).u32le(0).take();
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
