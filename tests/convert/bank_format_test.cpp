// SPDX-License-Identifier: GPL-3.0-or-later
// The bank converter of a batch writes the DLS, a SoundFont 2 bank beside it, or the
// SoundFont 2 bank alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/batch_conversion.h"
#include "formats/dls.h"
#include "formats/sf2.h"
#include "platform/feedback.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/byte_builder.h"
#include "testkit/pcm_analysis.h"
#include "testkit/vab_builder.h"

namespace sonvex {
namespace {

TEST(BankFormat, DlsSf2OrBoth) {
    testkit::TempFolder dir;
    testkit::VabBuilder vab;
    vab.program(3, testkit::Program({testkit::Tone(1)}));
    vab.sample(testkit::MakeVag(testkit::SineTone(28 * 4, 40.0, 8000.0)));
    ASSERT_TRUE(testkit::WriteFile(dir / "b.vh", vab.BuildVh()));
    ASSERT_TRUE(testkit::WriteFile(dir / "b.vb", vab.BuildVb()));
    struct Case {
        BankFormat banks;
        bool dls;
        bool sf2;
    };
    for (const Case& c : {Case{BankFormat::Dls, true, false}, Case{BankFormat::Both, true, true},
                          Case{BankFormat::Sf2, false, true}}) {
        const std::string stem = dir / ("out" + std::to_string(static_cast<int>(c.banks)));
        NullFeedback feedback;
        const ConvertResult r =
            StandardConverters(RecognitionRules::Extended, c.banks)
                .vab(0, 0, dir / "b.vh", dir / "b.vb", stem + ".dls", "t", feedback)
                .result;
        EXPECT_EQ(r, ConvertResult::Done);
        EXPECT_EQ(std::filesystem::exists(stem + ".dls"), c.dls) << stem;
        EXPECT_EQ(std::filesystem::exists(stem + ".sf2"), c.sf2) << stem;
        if (c.sf2) {
            const Sf2ReadOutcome sf2 = ReadSf2File(stem + ".sf2");
            ASSERT_EQ(sf2.status, Sf2ReadStatus::Ok) << sf2.diagnostics.failure;
            ASSERT_FALSE(sf2.bank.presets.empty());
            EXPECT_EQ(sf2.bank.presets[0].preset, 3);
        }
    }
}

} // namespace
} // namespace sonvex
