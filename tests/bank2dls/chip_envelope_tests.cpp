// SPDX-License-Identifier: GPL-3.0-or-later
// The chip envelope model against steps worked out by hand from the chip's rules, and the
// DLS envelope figures fitted to a table of ADSR words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "bank2dls/chip_envelope.h"
#include "bank2dls/dls_writer.h"

namespace sonvex {
namespace {

// Word 2 whose sustain phase never moves (rate 0x7F, linear increase), with a release.
constexpr uint16_t kHoldSustain = 0x1FC0;

TEST(ChipEnvelope, FieldsOfTheTwoWords) {
    const ChipAdsr a = DecodeAdsr(0xABC7, 0xCD35);
    EXPECT_TRUE(a.attackExponential);
    EXPECT_EQ(a.attackRate, 0x2B);
    EXPECT_EQ(a.decayShift, 0xC);
    EXPECT_EQ(a.sustainLevel, 8 * 0x800);
    EXPECT_TRUE(a.sustainExponential);
    EXPECT_TRUE(a.sustainDecrease);
    EXPECT_EQ(a.sustainRate, 0x34);
    EXPECT_TRUE(a.releaseExponential);
    EXPECT_EQ(a.releaseShift, 0x15);
}

TEST(ChipEnvelope, StepsFollowShiftStepAndMode) {
    // Attack rate 0: +7 << 11 every sample, saturating at 0x7FFF; sustain level 15 ends
    // the decay at once, and the sustain phase holds.
    auto fast = SimulateChipEnvelope(0x000F, kHoldSustain, 10, 10);
    EXPECT_EQ(fast[0], 0);
    EXPECT_EQ(fast[1], 14336);
    EXPECT_EQ(fast[2], 28672);
    EXPECT_EQ(fast[3], 0x7FFF);
    EXPECT_EQ(fast[9], 0x7FFF);

    // Attack rate 0x35 (shift 13, step 1): +6 every 4 samples.
    auto slow = SimulateChipEnvelope(0x350F, kHoldSustain, 100, 100);
    EXPECT_EQ(slow[4], 6);
    EXPECT_EQ(slow[7], 6);
    EXPECT_EQ(slow[8], 12);

    // Exponential attack, shift 11 step 0: +7 every sample up to 0x6000, then every 4th.
    auto exp = SimulateChipEnvelope(0xAC0F, kHoldSustain, 9000, 9000);
    const size_t knee = 24576 / 7 + 1; // first level above 0x6000: 3511 × 7 = 24577
    EXPECT_EQ(exp[knee], 24577);
    EXPECT_EQ(exp[knee + 3], 24577);
    EXPECT_EQ(exp[knee + 4], 24584);
    // (32767 - 24577) / 7 = 1170 slow steps, then saturation.
    EXPECT_LT(exp[knee + 4 * 1170 - 1], 0x7FFF);
    EXPECT_EQ(exp[knee + 4 * 1170], 0x7FFF);

    // Decay shift 11: -8 × level / 0x8000 (rounded down) every sample, to sustain level 7
    // (0x4000); then the held sustain.
    auto decay = SimulateChipEnvelope(0x00B7, kHoldSustain, 20000, 20000);
    EXPECT_EQ(decay[4], 0x7FFF - 8);
    EXPECT_EQ(decay[5], 0x7FFF - 16);
    const int settled = decay[19999];
    EXPECT_LT(settled, 0x4000);
    EXPECT_GE(settled, 0x4000 - 4);
    EXPECT_EQ(decay[15000], settled);

    // Release: exponential shift 0 halves the level every sample.
    auto release = SimulateChipEnvelope(0x000F, kHoldSustain | 0x20, 4, 8);
    EXPECT_EQ(release[4], 0x7FFF);
    EXPECT_EQ(release[5], 0x7FFF - 16384);
    EXPECT_EQ(release[6], 0x7FFF - 16384 - 8192);
    // Linear release shift 12: -8 every 2 samples, down to silence.
    auto linear = SimulateChipEnvelope(0x000F, kHoldSustain | 12, 4, 20000);
    EXPECT_EQ(linear[6], 0x7FFF - 8);
    EXPECT_EQ(linear[8], 0x7FFF - 16);
    EXPECT_EQ(linear[4 + 2 * 4096], 0);
}

// dB per second of an exponential fall at `shift` (step -8), as the rules give it without
// the rounding of each step.
double ExponentialDbPerSecond(int shift) {
    const double fraction = 8.0 * std::pow(2.0, std::max(0, 11 - shift)) / 32768.0;
    const double stepsPerSecond = 44100.0 / std::pow(2.0, std::max(0, shift - 11));
    return -20.0 * std::log10(1.0 - fraction) * stepsPerSecond;
}

// Passing the samples between steps at once lands where ticking them one at a time does,
// in every phase and mode, key held and released.
TEST(ChipEnvelope, QuietSamplesPassedAtOnceEndAsTicked) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const ChipAdsr adsr =
            DecodeAdsr(static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()));
        ChipEnvelope ticked(adsr);
        ChipEnvelope passed(adsr);
        const size_t keyOff = 1 + rng() % 200000;
        size_t at = 0;
        while (at < 400000) {
            if (at == keyOff) {
                ticked.KeyOff();
                passed.KeyOff();
            }
            const size_t quiet = std::min(
                {passed.QuietTicks(), size_t{1000000}, (at < keyOff ? keyOff : 400000) - at});
            const size_t samples = quiet > 0 ? 1 + rng() % quiet : 1;
            if (quiet > 0) {
                passed.PassQuiet(samples);
            } else {
                passed.Tick();
            }
            for (size_t i = 0; i < samples; ++i) {
                ticked.Tick();
            }
            at += samples;
            ASSERT_EQ(passed.level(), ticked.level()) << round << " at " << at;
            ASSERT_EQ(passed.phase(), ticked.phase()) << round << " at " << at;
        }
    }
}

TEST(DlsEnvelopeFit, TimesAndLevelsOfATableOfAdsrWords) {
    struct Row {
        uint16_t adsr1;
        uint16_t adsr2;
        double attack;  // seconds
        double decay;   // seconds for 96 dB
        double sustain; // dB below the peak
        double release; // seconds for 96 dB
    };
    // Decay and release shifts up to 8: the rounding of each step stays below 2 %.
    auto fall = [](int shift) { return 96.0 / ExponentialDbPerSecond(shift); };
    const Row rows[] = {
        // Attack rate 0 (3 samples), no decay, release exponential shift 6.
        {0x000F, kHoldSustain | 0x20 | 6, 3 / 44100.0, -1, 0.0, fall(6)},
        // Linear attack shift 11 step 0: 4681 samples of +7; decay shift 8 to level 7
        // (0x4000, -6.02 dB).
        {0x2C87, kHoldSustain | 0x20 | 6, 4681 / 44100.0, fall(8), 6.02, fall(6)},
        // Exponential attack: 3511 fast samples and 4680 slow ones; the line that stays
        // within 1.36 dB of it takes 1.5596 times the fast part. Decay shift 7 to level 1.
        {0xAC71, kHoldSustain | 0x20 | 7, 1.5596 * 3511 / 44100.0, fall(7), 18.06, fall(7)},
        // Decay shift 8 to sustain level 0 (0x800, -24.08 dB).
        {0x0080, kHoldSustain | 0x20 | 8, 3 / 44100.0, fall(8), 24.08, fall(8)},
        // Linear release shift 13 from full level: 32767 / 8 steps of 4 samples, fitted
        // as a fall of 29.85 dB in that time.
        {0x000F, kHoldSustain | 13, 3 / 44100.0, -1, 0.0,
         96.0 * (32767 / 8.0 * 4 / 44100.0) / 29.85},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << r.adsr1 << " " << r.adsr2);
        const DlsEnvelopeFit fit = FitDlsEnvelope(r.adsr1, r.adsr2);
        EXPECT_NEAR(fit.attackSeconds, r.attack, r.attack * 0.01 + 1e-5);
        if (r.decay > 0) {
            EXPECT_NEAR(fit.decaySeconds, r.decay, r.decay * 0.05);
        }
        EXPECT_NEAR(fit.sustainDb, r.sustain, 0.1);
        // Only the exponential attack holds the peak: 3511 + 4680 samples in all.
        const double hold = (r.adsr1 & 0x8000) ? 8191 / 44100.0 - r.attack : 0.0;
        EXPECT_NEAR(fit.holdSeconds, hold, 1e-3);
        // Each chip step is rounded down: near -40 dB an exponential release falls up to
        // 12 % faster than the unrounded rule.
        EXPECT_NEAR(fit.releaseSeconds, r.release, r.release * 0.12);
        EXPECT_LT(fit.worstHeldErrorDb, 0.6);
    }
}

TEST(DlsEnvelopeFit, AFallingSustainIsFittedWithOneSlope) {
    // Decay shift 11 to -6 dB, then an exponential sustain fall 4 times slower (shift 13):
    // no single slope follows both; the fit stays between them and says how far off it is.
    const DlsEnvelopeFit fit = FitDlsEnvelope(0x00B7, 0xC000 | (13 << 8));
    const double slope = 96.0 / fit.decaySeconds;
    EXPECT_LT(slope, ExponentialDbPerSecond(11));
    EXPECT_GT(slope, ExponentialDbPerSecond(13) * 0.9);
    EXPECT_GT(fit.worstHeldErrorDb, 1.0);

    // A rising sustain climbs back to full level: the fit holds high.
    const DlsEnvelopeFit rising = FitDlsEnvelope(0x00B7, 0x0000 | (12 << 8));
    EXPECT_LT(rising.sustainDb, 6.0);
}

TEST(ExtendedRegionValues, FineTuneAndEnvelopeBlocks) {
    EXPECT_EQ(ExtendedFineTune(0), 0);
    EXPECT_EQ(ExtendedFineTune(64), 50);
    EXPECT_EQ(ExtendedFineTune(127), 99);
    EXPECT_EQ(SustainScaleOfDb(0.0), 1000 * 65536);
    EXPECT_EQ(SustainScaleOfDb(96.0), 0);
    EXPECT_EQ(SustainScaleOfDb(24.0), 750 * 65536);

    ToneRecord tone;
    tone.pan = 0;
    DlsEnvelopeFit fit;
    fit.attackSeconds = 1.0;
    fit.decaySeconds = 2.0;
    fit.sustainDb = 48.0;
    fit.releaseSeconds = 0.5;
    fit.holdSeconds = 0.25;
    const auto blocks = ExtendedRegionConnections(tone, fit);
    EXPECT_EQ(blocks[0].scale, PanScale(0));
    EXPECT_EQ(blocks[1].destination, kDestEg1Attack);
    EXPECT_EQ(blocks[1].scale, 0);
    EXPECT_EQ(blocks[2].destination, kDestEg1Release);
    EXPECT_EQ(blocks[2].scale, -1200 * 65536);
    EXPECT_EQ(blocks[3].scale, 500 * 65536);
    EXPECT_EQ(blocks[4].destination, kDestEg1Decay);
    EXPECT_EQ(blocks[4].scale, 1200 * 65536);
    EXPECT_EQ(blocks[6].destination, kDestEg1Hold);
    EXPECT_EQ(blocks[6].scale, -2400 * 65536);
    fit.holdSeconds = 0.0;
    EXPECT_EQ(static_cast<uint32_t>(ExtendedRegionConnections(tone, fit)[6].scale), 0x80000000u);
}

} // namespace
} // namespace sonvex
