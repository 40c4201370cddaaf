// SPDX-License-Identifier: GPL-3.0-or-later
// Banks converted under the extended rules and rendered by the player: each region's
// pitch from its fine-tune byte, and the volume envelope measured from the signal against
// the chip envelope model.
#include <gtest/gtest.h>

#include <cmath>

#include "bank2dls/chip_envelope.h"
#include "bank2dls/vab_converter.h"
#include "formats/dls.h"
#include "platform/feedback.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/pcm_analysis.h"
#include "testkit/shell_run.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using playtest::Rendered;

// A looped sine of 49 samples per cycle (900 Hz at 44100 Hz): a 10 ms window of 441
// samples holds 9 whole cycles, so its RMS does not ripple.
constexpr double kPeriod = 49.0;
constexpr double kBaseHz = 44100.0 / kPeriod;
constexpr size_t kWindow = 441;
constexpr uint16_t kHold = 0x1FC0; // sustain phase that never moves

struct EnvelopeCase {
    uint16_t adsr1;
    uint16_t adsr2;
};

// Program p + kEnvelopeBase plays kEnvelopes[p].
constexpr int kEnvelopeBase = 10;
// Decays of shift 10 and slower (at most 190 dB/s): the synthesizer starts every decay
// after at least 1 ms of attack and 1 ms of hold, which a faster fall turns into more
// than 0.5 dB at 10 ms resolution.
constexpr EnvelopeCase kEnvelopes[] = {
    {0x2CA7, kHold | 0x26},         // linear attack 0.1 s, decay to -6 dB
    {0x00C0, kHold | 0x28},         // instant attack, decay (shift 12) to -24 dB
    {0x00B3, kHold | 0x28},         // decay (shift 11) to -12 dB
    {0xB0E1, kHold | 0x27},         // exponential attack 0.37 s, slow decay to -18 dB
    {0x00A5, 0xC000 | (14 << 8)},   // decay to -8.5 dB, then an exponential sustain fall
    {0x000F, 0x4000 | (0x3D << 6)}, // no decay; a slow linear sustain fall
    {0x00DA, 0x0000 | (0x30 << 6)}, // decay to -3.5 dB, then a linear rise back to full
};

class ConsoleShapedBank : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testkit::TempFolder();
        testkit::VabBuilder vab;
        auto tone = [](uint8_t fine, uint16_t adsr1, uint16_t adsr2) {
            testkit::VabTone t = testkit::Tone(1);
            t.fineTune = fine;
            t.adsr1 = adsr1;
            t.adsr2 = adsr2;
            return t;
        };
        vab.program(0, testkit::Program({tone(0, 0x000F, kHold | 0x26)}));
        vab.program(1, testkit::Program({tone(64, 0x000F, kHold | 0x26)}));
        vab.program(2, testkit::Program({tone(127, 0x000F, kHold | 0x26)}));
        for (size_t i = 0; i < std::size(kEnvelopes); ++i) {
            vab.program(kEnvelopeBase + static_cast<int>(i),
                        testkit::Program({tone(0, kEnvelopes[i].adsr1, kEnvelopes[i].adsr2)}));
        }
        const std::vector<int16_t> sine = testkit::SineTone(28 * 14, kPeriod, 12000.0);
        testkit::VagShape shape;
        shape.loopStartBlock = 7;
        shape.loopEndBlock = 13;
        vab.sample(testkit::MakeVag(sine, shape));
        ASSERT_EQ(banktest::ConvertInFolder(*folder_, vab, "shaped").result, ConvertResult::Done);
        DlsReadOutcome read = ReadDlsFile(*folder_ / "bank.dls");
        ASSERT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
        collection_ = new std::shared_ptr<const DlsCollection>(
            std::make_shared<const DlsCollection>(std::move(read.collection)));
    }
    static void TearDownTestSuite() {
        delete collection_;
        delete folder_;
    }

    static Rendered Note(int program, double seconds) {
        const int32_t held = static_cast<int32_t>(seconds * 2 * kTicksPerQuarter);
        auto seq = playtest::SequenceBuilder()
                       .bankOneProgram(0, 0, program)
                       .note(0, 0, 60, 127, held)
                       .length(held)
                       .build();
        return playtest::RenderWith(*collection_, seq);
    }

    static testkit::TempFolder* folder_;
    static std::shared_ptr<const DlsCollection>* collection_;
};

testkit::TempFolder* ConsoleShapedBank::folder_ = nullptr;
std::shared_ptr<const DlsCollection>* ConsoleShapedBank::collection_ = nullptr;

TEST_F(ConsoleShapedBank, FineTuneRaisesThePitchBy100Over128CentsPerStep) {
    for (const auto& [program, fine] : {std::pair{0, 0}, {1, 64}, {2, 127}}) {
        const Rendered out = Note(program, 1.0);
        const double hz = testkit::MeasureFrequency(out.Left(0.1, 0.9), out.sampleRate);
        const double cents = 1200.0 * std::log2(hz / kBaseHz);
        EXPECT_NEAR(cents, fine * 100.0 / 128.0, 2.0) << "fine-tune byte " << fine;
    }
}

// dB of the RMS of each 10 ms window, at least -60 dB.
std::vector<double> WindowDb(const std::vector<double>& rms, double reference) {
    std::vector<double> db;
    for (double r : rms) {
        db.push_back(std::max(-60.0, testkit::LevelDifferenceDb(r, reference)));
    }
    return db;
}

TEST_F(ConsoleShapedBank, VolumeEnvelopeFollowsTheChipWithinOneDecibelOverTwoSeconds) {
    // The flat tone's steady level is the chip's full level.
    const Rendered flat = Note(0, 2.2);
    const double reference = testkit::Rms(flat.Left(0.5, 1.5));
    ASSERT_GT(reference, 0.01);

    for (size_t i = 0; i < std::size(kEnvelopes); ++i) {
        const EnvelopeCase& c = kEnvelopes[i];
        SCOPED_TRACE(::testing::Message() << std::hex << c.adsr1 << " " << c.adsr2);
        const DlsEnvelopeFit fit = FitDlsEnvelope(c.adsr1, c.adsr2);
        const Rendered out = Note(kEnvelopeBase + static_cast<int>(i), 2.2);
        const auto rendered =
            WindowDb(testkit::RmsEnvelope(out.Left(0.0, 2.0), kWindow), reference);

        const std::vector<int> chip = SimulateChipEnvelope(c.adsr1, c.adsr2, 97020, 88200);
        std::vector<double> chipRms;
        for (size_t w = 0; w + kWindow <= chip.size(); w += kWindow) {
            double sum = 0.0;
            for (size_t s = w; s < w + kWindow; ++s) {
                const double level = chip[s] / static_cast<double>(kChipFullLevel);
                sum += level * level;
            }
            chipRms.push_back(std::sqrt(sum / kWindow));
        }
        const auto expected = WindowDb(chipRms, 1.0);
        ASSERT_EQ(rendered.size(), expected.size());

        // Where one slope cannot follow the chip, the fit says how far off it stays; an
        // exponential attack is a line within 1.36 dB of it.
        const double allowed = std::max(1.0, fit.worstHeldErrorDb + 0.5);
        const size_t attackWindows =
            static_cast<size_t>((fit.attackSeconds + fit.holdSeconds) / 0.01) + 1;
        double worst = 0.0;
        for (size_t w = 0; w < rendered.size(); ++w) {
            const double limit = w < attackWindows ? std::max(allowed, 1.6) : allowed;
            const double diff = std::abs(rendered[w] - expected[w]);
            worst = std::max(worst, diff);
            EXPECT_LE(diff, limit) << "at " << w * 10 << " ms: rendered " << rendered[w]
                                   << " dB, chip " << expected[w] << " dB";
        }
        RecordProperty("worst_db_" + std::to_string(i), std::to_string(worst));
    }
}

} // namespace
} // namespace sonvex
