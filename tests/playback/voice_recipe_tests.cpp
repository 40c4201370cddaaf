// SPDX-License-Identifier: GPL-3.0-or-later
// What each articulation value of our collections becomes in the synthesizer's units,
// and how instrument and region articulation, loops and sample headers combine.
#include <gtest/gtest.h>

#include <cmath>

#include "playback/voice_recipe.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using playtest::TestCollection;
using playtest::TestConnection;
using playtest::TestInstrument;
using playtest::TestLoop;
using playtest::TestRegion;
using playtest::TestSampleInfo;
using playtest::TestWave;

double Cents(double seconds) {
    return 1200.0 * std::log2(seconds);
}

struct Built {
    std::shared_ptr<const DlsCollection> collection;
    VoiceRecipe Recipe(size_t instrument = 0, size_t region = 0) const {
        const DlsInstrument& in = collection->instruments[instrument];
        return MakeVoiceRecipe(*collection, in, in.regions[region]);
    }
};

Built Build(std::vector<TestRegion> regions, std::vector<TestConnection> instrumentBlocks = {},
            std::vector<TestWave> waves = {}) {
    TestCollection c;
    if (waves.empty()) {
        TestWave w;
        w.pcm.assign(1000, 100);
        waves.push_back(w);
    }
    c.waves = std::move(waves);
    TestInstrument in;
    in.regions = std::move(regions);
    in.articulation = std::move(instrumentBlocks);
    c.instruments = {in};
    return {playtest::ReadBuilt(c)};
}

TEST(VoiceRecipe, OurRegionArticulationInSynthesizerUnits) {
    TestRegion r;
    r.sample->unityNote = 57;
    r.sample->fineTune = -50;
    r.sample->attenuation = -59 * 65536; // tone volume 64
    r.articulation = playtest::ConverterArticulation(-500 * 65536, 0.014, 0.08, 805, 1.376);
    const VoiceRecipe v =
        Build({r}, {{0, 0, dls::kDstFilterCutoff, 0, dls::kFilterCutoffOff}}).Recipe();

    EXPECT_EQ(v.unityNote, 57);
    EXPECT_DOUBLE_EQ(v.fineTune, -50.0);   // cents
    EXPECT_DOUBLE_EQ(v.attenuation, 59.0); // cB: 5.9 dB below full level
    EXPECT_DOUBLE_EQ(v.pan, -500.0);       // pan byte 0: all the way left
    // Times: the stored 1/65536 time cents are the synthesizer's time cents.
    EXPECT_NEAR(v.volAttack, Cents(0.014), 0.001); // -7390.6
    EXPECT_NEAR(v.volRelease, Cents(0.08), 0.001); // -4372.6
    EXPECT_NEAR(v.volDecay, Cents(1.376), 0.001);  // +552.5
    // Sustain 80.5 % of a 96 dB range: 18.72 dB below the peak.
    EXPECT_NEAR(v.volSustain, 187.2, 1e-9);
    // EG2 sustain 0 % is the modulation envelope's full drop; it drives nothing here.
    EXPECT_DOUBLE_EQ(v.modSustain, 1000.0);
    EXPECT_DOUBLE_EQ(v.modEnvToPitch, 0.0);
    EXPECT_DOUBLE_EQ(v.modEnvToFilter, 0.0);
    // The instrument's filter block switches the filter off: the cutoff stays open.
    EXPECT_DOUBLE_EQ(v.filterCutoff, kFilterOpen);
    EXPECT_EQ(v.loopMode, 0);
    EXPECT_TRUE(v.unmapped.empty());
}

TEST(VoiceRecipe, ConverterEdgeValues) {
    struct Case {
        int32_t pan;
        int32_t sustain;
        double attack;
        double expectPan;
        double expectSustain;
    };
    // Pan bytes 64 and 127, sustain 100 % and 0 %, the 40 s attack and 4 ms attack.
    for (const Case& c :
         {Case{0, 1000, 40.0, 0.0, 0.0}, Case{492 * 65536, 0, 0.004, 492.0, 960.0}}) {
        TestRegion r;
        r.articulation = playtest::ConverterArticulation(c.pan, c.attack, 0.05, c.sustain, 0.01);
        const VoiceRecipe v = Build({r}).Recipe();
        EXPECT_DOUBLE_EQ(v.pan, c.expectPan);
        EXPECT_DOUBLE_EQ(v.volSustain, c.expectSustain);
        EXPECT_NEAR(v.volAttack, Cents(c.attack), 0.001);
    }
    // Tone volume 0 writes -96 dB; the synthesizer gets 960 cB.
    TestRegion quiet;
    quiet.sample->attenuation = static_cast<int32_t>(0xFC400000u);
    EXPECT_DOUBLE_EQ(Build({quiet}).Recipe().attenuation, 960.0);
}

TEST(VoiceRecipe, DefaultsWhenNothingIsSaid) {
    TestRegion r;
    r.sample.reset();
    const VoiceRecipe v = Build({r}).Recipe();
    EXPECT_EQ(v.unityNote, 60);
    EXPECT_DOUBLE_EQ(v.volSustain, 0.0);
    EXPECT_DOUBLE_EQ(v.volAttack, -12000.0);
    EXPECT_DOUBLE_EQ(v.volRelease, -12000.0);
    EXPECT_DOUBLE_EQ(v.filterCutoff, kFilterOpen);
    EXPECT_DOUBLE_EQ(v.scaleTuning, 100.0);
    EXPECT_NEAR(v.modLfoFrequency, 1200.0 * std::log2(5.0 / 8.176), 0.5); // 5 Hz
    EXPECT_NEAR(v.modLfoDelay, Cents(0.01), 1.0);                         // 10 ms
    // An explicit zero time is the shortest time too.
    TestRegion zero;
    zero.articulation = {{0, 0, dls::kDstEg1Attack, 0, dls::kTimeZero}};
    EXPECT_DOUBLE_EQ(Build({zero}).Recipe().volAttack, -12000.0);
}

TEST(VoiceRecipe, LoopTypesAndBounds) {
    TestWave w;
    w.pcm.assign(1000, 1);
    struct Case {
        std::optional<TestLoop> loop;
        int mode;
        uint32_t start;
        uint32_t end;
    };
    const std::vector<Case> cases = {
        {TestLoop{dls::kLoopForward, 100, 400}, 1, 100, 500}, // loops through the release
        {TestLoop{dls::kLoopRelease, 0, 1000}, 3, 0, 1000},   // loops until the key is released
        {std::nullopt, 0, 0, 0},
        {TestLoop{dls::kLoopForward, 900, 101}, 0, 0, 0}, // ends one frame past the wave
        {TestLoop{dls::kLoopForward, 10, 0}, 0, 0, 0},    // empty loop
    };
    for (const Case& c : cases) {
        TestRegion r;
        r.sample->loop = c.loop;
        const VoiceRecipe v = Build({r}, {}, {w}).Recipe();
        EXPECT_EQ(v.loopMode, c.mode);
        EXPECT_EQ(v.loopStart, c.start);
        EXPECT_EQ(v.loopEnd, c.end);
    }
}

TEST(VoiceRecipe, RegionSampleHeaderOverridesTheWaveOne) {
    TestWave w;
    w.pcm.assign(100, 1);
    w.sample = TestSampleInfo{};
    w.sample->unityNote = 72;
    w.sample->fineTune = 12;
    w.sample->loop = TestLoop{0, 10, 20};
    TestRegion own;
    own.sample->unityNote = 48;
    TestRegion none;
    none.sample.reset();
    const Built b = Build({own, none}, {}, {w});
    const VoiceRecipe a = b.Recipe(0, 0);
    EXPECT_EQ(a.unityNote, 48);
    EXPECT_EQ(a.loopMode, 0);
    const VoiceRecipe c = b.Recipe(0, 1);
    EXPECT_EQ(c.unityNote, 72);
    EXPECT_DOUBLE_EQ(c.fineTune, 12.0);
    EXPECT_EQ(c.loopMode, 1);
    EXPECT_EQ(c.loopEnd, 30u);
}

TEST(VoiceRecipe, RegionBlocksReplaceInstrumentBlocksOfTheSameTarget) {
    TestRegion r;
    r.articulation = {{0, 0, dls::kDstEg1Release, 0, playtest::StoredTime(2.0)},
                      {0, 0, dls::kDstGain, 0, -30 * 65536}};
    const VoiceRecipe v = Build({r}, {{0, 0, dls::kDstEg1Release, 0, playtest::StoredTime(0.5)},
                                      {0, 0, dls::kDstEg1Attack, 0, playtest::StoredTime(0.25)},
                                      {0, 0, dls::kDstPitch, 0, 25 * 65536}})
                              .Recipe();
    EXPECT_NEAR(v.volRelease, Cents(2.0), 0.001); // the region's
    EXPECT_NEAR(v.volAttack, Cents(0.25), 0.001); // the instrument's, not replaced
    EXPECT_DOUBLE_EQ(v.fineTune, 25.0);           // pitch block adds to the tuning
    EXPECT_DOUBLE_EQ(v.attenuation, 30.0);        // a gain of -3 dB
}

TEST(VoiceRecipe, KeyNumberScalesTimesFromKeySixty) {
    TestRegion r;
    // +128 × 100 time cents over the whole keyboard: +100 per key, key/128 scaled.
    r.articulation = {{0, 0, dls::kDstEg1Decay, 0, playtest::StoredTime(1.0)},
                      {dls::kSrcKeyNumber, 0, dls::kDstEg1Decay, 0, 12800 * 65536}};
    const VoiceRecipe v = Build({r}).Recipe();
    EXPECT_DOUBLE_EQ(v.keyToVolDecay, -100.0);
    EXPECT_NEAR(v.volDecay, 6000.0, 0.001); // the key-60 share moved into the base time
    // At key k the synthesizer uses base + (60 - k) × per-key; DLS means base0 + k × 100.
    for (int key : {0, 60, 127}) {
        EXPECT_NEAR(v.volDecay + (60 - key) * v.keyToVolDecay, 100.0 * key, 0.001);
    }
}

TEST(VoiceRecipe, ControllerSourcesBecomeModulators) {
    TestRegion r;
    r.articulation = {
        {dls::kSrcKeyOnVelocity, 0, dls::kDstGain, dls::kTransformConcave, -960 * 65536},
        {dls::kSrcKeyOnVelocity, 0, dls::kDstEg1Attack, 0, -1200 * 65536},
        {dls::kSrcLfo, dls::kSrcCc1, dls::kDstPitch, 0, 50 * 65536},
        {dls::kSrcLfo, 0, dls::kDstPitch, 0, 10 * 65536},
        {dls::kSrcEg2, 0, dls::kDstFilterCutoff, 0, 2400 * 65536},
        {dls::kSrcKeyNumber, 0, dls::kDstPan, 0, 65536}, // no such generator
    };
    const VoiceRecipe v = Build({r}).Recipe();
    ASSERT_EQ(v.modulators.size(), 3u);
    // Velocity to gain, concave, -96 dB: an attenuation curve of 960 cB at no velocity.
    EXPECT_EQ(v.modulators[0].destination, VoiceParam::Attenuation);
    EXPECT_DOUBLE_EQ(v.modulators[0].amount, 960.0);
    EXPECT_EQ(v.modulators[0].curve, dls::kTransformConcave);
    EXPECT_TRUE(v.modulators[0].invert);
    EXPECT_EQ(v.modulators[1].destination, VoiceParam::VolEnvAttack);
    EXPECT_DOUBLE_EQ(v.modulators[1].amount, -1200.0);
    EXPECT_FALSE(v.modulators[1].invert);
    EXPECT_EQ(v.modulators[2].source, dls::kSrcCc1);
    EXPECT_EQ(v.modulators[2].destination, VoiceParam::ModLfoToPitch);
    EXPECT_DOUBLE_EQ(v.modLfoToPitch, 10.0);
    EXPECT_DOUBLE_EQ(v.modEnvToFilter, 2400.0);
    ASSERT_EQ(v.unmapped.size(), 1u);
    EXPECT_EQ(v.unmapped[0], "0x0003/0x0000->0x0004");
}

TEST(VoiceRecipe, RegionRangesDecideWhoPlays) {
    DlsRegion r;
    r.keyLow = 40;
    r.keyHigh = 50;
    r.velocityLow = 10;
    r.velocityHigh = 100;
    EXPECT_TRUE(RegionPlays(r, 40, 10));
    EXPECT_TRUE(RegionPlays(r, 50, 100));
    EXPECT_FALSE(RegionPlays(r, 39, 64));
    EXPECT_FALSE(RegionPlays(r, 51, 64));
    EXPECT_FALSE(RegionPlays(r, 45, 9));
    EXPECT_FALSE(RegionPlays(r, 45, 101));
}

} // namespace
} // namespace sonvex
