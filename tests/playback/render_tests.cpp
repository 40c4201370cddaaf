// SPDX-License-Identifier: GPL-3.0-or-later
// Rendering measured from the signal, on DLS files made by the bank converter from
// testkit sound banks (and SMF and segment files made by the other converters): pitch,
// balance, attenuation, release tails, loop seams, start points, repeatability.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <thread>

#include "bank2dls/vab_converter.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "platform/feedback.h"
#include "playback/audio_file.h"
#include "playback/music_loader.h"
#include "playback/offline_render.h"
#include "playback/render_core.h"
#include "segment/segment_converter.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/smf_rules.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/byte_builder.h"
#include "testkit/pcm_analysis.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using playtest::Rendered;
using playtest::RenderWith;
using playtest::SequenceBuilder;
using testkit::Bytes;

// The bank's one sample: a sine of 70 samples per cycle (630 Hz at 44100 Hz); its loop
// runs over blocks 4 to 13, 280 samples, four whole cycles.
constexpr double kPeriod = 70.0;
constexpr double kToneHz = 44100.0 / kPeriod;

// ADSR words: attack index 0 (14 ms), decay rate 15 and sustain level 15 (word 1);
// sustain mode 00 (level 100 %) and the release index (word 2, even: first table).
constexpr uint16_t kAdsr1 = 0x00FF;
constexpr uint16_t kReleaseShort = 12; // 0.16 s
constexpr uint16_t kReleaseLong = 16;  // 2.56 s

enum Program : uint8_t {
    kPlain = 0,       // centre note 60, fine tune 0 cents, volume 127, pan 64
    kTuned = 1,       // centre note 57, fine tune byte 0: -50 cents
    kHalfVolume = 2,  // volume 64: 59 cB
    kLeft = 3,        // pan 0
    kRight = 4,       // pan 127
    kLongRelease = 5, // release 2.56 s
    kLowSustain = 6,  // sustain mode 01, level 0: 80.5 %, reached after a 14 ms decay
};

class ConvertedBank : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testkit::TempFolder();
        testkit::VabBuilder vab;
        auto tone = [](uint8_t centre, uint8_t fine, uint8_t volume, uint8_t pan,
                       uint16_t release) {
            testkit::VabTone t = testkit::Tone(1);
            t.centreNote = centre;
            t.fineTune = fine;
            t.volume = volume;
            t.pan = pan;
            t.adsr1 = kAdsr1;
            t.adsr2 = release;
            return t;
        };
        vab.program(kPlain, testkit::Program({tone(60, 64, 127, 64, kReleaseShort)}));
        vab.program(kTuned, testkit::Program({tone(57, 0, 127, 64, kReleaseShort)}));
        vab.program(kHalfVolume, testkit::Program({tone(60, 64, 64, 64, kReleaseShort)}));
        vab.program(kLeft, testkit::Program({tone(60, 64, 127, 0, kReleaseShort)}));
        vab.program(kRight, testkit::Program({tone(60, 64, 127, 127, kReleaseShort)}));
        vab.program(kLongRelease, testkit::Program({tone(60, 64, 127, 64, kReleaseLong)}));
        testkit::VabTone low = tone(60, 64, 127, 64, 0x4000 | kReleaseShort);
        low.adsr1 = 0x0080;
        vab.program(kLowSustain, testkit::Program({low}));
        const std::vector<int16_t> sine = testkit::SineTone(28 * 14, kPeriod, 12000.0);
        testkit::VagShape shape;
        shape.loopStartBlock = 4;
        shape.loopEndBlock = 13;
        vab.sample(testkit::MakeVag(sine, shape));
        ASSERT_TRUE(testkit::WriteFile(*folder_ / "bank.vh", vab.BuildVh()));
        ASSERT_TRUE(testkit::WriteFile(*folder_ / "bank.vb", vab.BuildVb()));
        NullFeedback feedback;
        // The classic tuning and envelope tables, whose values the tests below state.
        VabConvertOptions classic;
        classic.rules = RecognitionRules::Classic;
        const ConvertResult r = ConvertVabToDls(0, 0, *folder_ / "bank.vh", *folder_ / "bank.vb",
                                                *folder_ / "bank.dls", "render", feedback, classic)
                                    .result;
        ASSERT_EQ(r, ConvertResult::Done);
        DlsReadOutcome read = ReadDlsFile(*folder_ / "bank.dls");
        ASSERT_EQ(read.status, DlsReadStatus::Ok) << read.diagnostics.failure;
        EXPECT_TRUE(read.diagnostics.notes.empty()) << read.diagnostics.notes.front();
        collection_ = new std::shared_ptr<const DlsCollection>(
            std::make_shared<const DlsCollection>(std::move(read.collection)));
    }
    static void TearDownTestSuite() {
        delete collection_;
        delete folder_;
        collection_ = nullptr;
        folder_ = nullptr;
    }

    // One note of `program` on `channel`, held `seconds` (at 120 beats per minute).
    static Rendered Note(int program, int key, double seconds, int channel = 0,
                         int velocity = 127) {
        const int32_t held = static_cast<int32_t>(seconds * 2 * kTicksPerQuarter);
        auto seq = SequenceBuilder()
                       .bankOneProgram(0, channel, program)
                       .note(0, channel, key, velocity, held)
                       .length(held)
                       .build();
        return RenderWith(*collection_, seq);
    }

    // Converts a "pQES" sequence of `track` (480 ticks, 120 beats per minute) into
    // folder/stem.mid and returns that path.
    static std::string ConvertTrack(const std::string& stem, const testkit::SeqTrack& track,
                                    SmfRules rules = SmfRules::Extended) {
        const std::string game = *folder_ / (stem + ".bin");
        EXPECT_TRUE(testkit::WriteFile(game, testkit::BuildSingleSeq({}, track)));
        NullFeedback feedback;
        const SeqConversion c = ConvertSeq(0, game, *folder_ / stem, feedback, rules);
        EXPECT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
        return *folder_ / (stem + ".mid");
    }

    // The pitch the region of `program` in bank 1 gives `key`, from its own tuning.
    static double RegionHz(int program, int key) {
        for (const DlsInstrument& instrument : (*collection_)->instruments) {
            if (instrument.Program() == program && instrument.BankLsb() == 1) {
                const DlsRegion& region = instrument.regions.at(0);
                EXPECT_TRUE(region.sample.has_value());
                const DlsSampleInfo info = region.sample.value_or(DlsSampleInfo{});
                const double cents = (key - info.unityNote) * 100.0 + info.fineTune;
                return kToneHz * std::pow(2.0, cents / 1200.0);
            }
        }
        ADD_FAILURE() << "no program " << program;
        return 0.0;
    }

    static testkit::TempFolder* folder_;
    static std::shared_ptr<const DlsCollection>* collection_;
};

testkit::TempFolder* ConvertedBank::folder_ = nullptr;
std::shared_ptr<const DlsCollection>* ConvertedBank::collection_ = nullptr;

TEST_F(ConvertedBank, PitchFollowsUnityNoteAndFineTune) {
    struct Case {
        int program;
        int key;
        double cents; // from the sample's own pitch
    };
    for (const Case& c : {Case{kPlain, 60, 0}, Case{kPlain, 72, 1200}, Case{kPlain, 55, -500},
                          Case{kTuned, 60, 300 - 50}, Case{kTuned, 57, -50}}) {
        const Rendered out = Note(c.program, c.key, 1.0);
        const double expected = kToneHz * std::pow(2.0, c.cents / 1200.0);
        const double measured = testkit::MeasureFrequency(out.Left(0.2, 0.9), out.sampleRate);
        EXPECT_NEAR(measured, expected, expected * 0.001)
            << "program " << c.program << " key " << c.key;
    }
}

TEST_F(ConvertedBank, PanBalanceForPanBytesZeroMiddleAndFull) {
    const Rendered left = Note(kLeft, 60, 0.6);
    const Rendered middle = Note(kPlain, 60, 0.6);
    const Rendered right = Note(kRight, 60, 0.6);
    auto balance = [](const Rendered& r) {
        return testkit::LevelDifferenceDb(testkit::Rms(r.Right(0.1, 0.5)),
                                          testkit::Rms(r.Left(0.1, 0.5)));
    };
    EXPECT_LT(balance(left), -60.0);         // pan -500: nothing on the right
    EXPECT_NEAR(balance(middle), 0.0, 0.05); // pan 0: the same on both sides
    EXPECT_GT(balance(right), 30.0);         // pan +492: almost all right
    EXPECT_LT(balance(right), 45.0);         // ... but not quite
}

TEST_F(ConvertedBank, AttenuationMatchesTheRegion) {
    // Volume 64 gives -59 × 65536 in the region header: 5.9 dB.
    const DlsRegion& region = (*collection_)->instruments[kHalfVolume].regions[0];
    ASSERT_TRUE(region.sample.has_value());
    const double regionDb = region.sample->attenuation / 65536.0 / 10.0;
    EXPECT_DOUBLE_EQ(regionDb, -5.9);
    const Rendered full = Note(kPlain, 60, 0.6);
    const Rendered half = Note(kHalfVolume, 60, 0.6);
    const double measured = testkit::LevelDifferenceDb(testkit::Rms(half.Left(0.1, 0.5)),
                                                       testkit::Rms(full.Left(0.1, 0.5)));
    EXPECT_NEAR(measured, regionDb, 0.5);
}

TEST_F(ConvertedBank, SustainLevelIsAShareOfNinetySixDecibels) {
    const Rendered full = Note(kPlain, 60, 0.6);
    const Rendered low = Note(kLowSustain, 60, 0.6);
    const double measured = testkit::LevelDifferenceDb(testkit::Rms(low.Left(0.2, 0.5)),
                                                       testkit::Rms(full.Left(0.2, 0.5)));
    EXPECT_NEAR(measured, -96.0 * (1.0 - 0.805), 0.5); // -18.72 dB
}

TEST_F(ConvertedBank, ReleaseTailsLastWhatTheEnvelopeSays) {
    // The release falls 96 dB in its time, linear in dB: 60 dB take 0.625 of it.
    struct Case {
        int program;
        double releaseSeconds;
    };
    for (const Case& c : {Case{kPlain, 0.16}, Case{kLongRelease, 2.56}}) {
        const Rendered out = Note(c.program, 60, 0.5);
        const size_t window = 441; // 10 ms
        const std::vector<double> env = testkit::RmsEnvelope(out.left, window);
        const double sustained = env[30]; // 0.3 s, well inside the held note
        const size_t released = out.Frame(0.5) / window;
        const size_t quiet = testkit::FirstWindowBelow(env, released, sustained, 60.0);
        ASSERT_LT(quiet, env.size()) << "the tail never fell 60 dB";
        const double tail = static_cast<double>(quiet - released) * window / out.sampleRate;
        EXPECT_NEAR(tail, 0.625 * c.releaseSeconds, 0.1 * c.releaseSeconds + 0.02)
            << "program " << c.program;
    }
}

TEST_F(ConvertedBank, EndingSongKeepsItsTailUpToTheLimit) {
    // Half a second of note; the short release fades below 16-bit resolution within
    // its 0.16 s, the long one is cut (with a short fade) at the tail limit.
    const Rendered shortTail = Note(kPlain, 60, 0.5);
    EXPECT_FALSE(shortTail.summary.cutAtLimit);
    const double shortSeconds = static_cast<double>(shortTail.summary.frames) / 44100.0;
    EXPECT_GT(shortSeconds, 0.5 + 0.05);
    EXPECT_LT(shortSeconds, 0.5 + 0.16);
    EXPECT_EQ(shortTail.summary.segmentEndFrame, 22050);
    RenderPlan plan;
    plan.tailSeconds = 0.5;
    auto seq = SequenceBuilder()
                   .bankOneProgram(0, 0, kLongRelease)
                   .note(0, 0, 60, 127, 768)
                   .length(768)
                   .build();
    const Rendered cut = RenderWith(*collection_, seq, plan);
    EXPECT_TRUE(cut.summary.cutAtLimit);
    const double cutSeconds = static_cast<double>(cut.summary.frames) / 44100.0;
    EXPECT_GE(cutSeconds, 0.5 + 0.5);
    EXPECT_LT(cutSeconds, 0.5 + 0.5 + 0.2);
    EXPECT_LT(std::fabs(cut.left.back()), 1e-3f); // faded, not cut off mid-wave
}

TEST_F(ConvertedBank, SustainingLoopDoesNotClickAtTheLoopPoint) {
    // The wave's own loop: its seam may bend no more than its inside does.
    const DlsCollection& col = **collection_;
    const DlsRegion& region = col.instruments[kPlain].regions[0];
    ASSERT_TRUE(region.sample.has_value());
    ASSERT_EQ(region.sample->loops.size(), 1u);
    const DlsLoop loop = region.sample->loops[0];
    EXPECT_EQ(loop.length, 280u);
    const DlsWave* wave = col.WaveOf(region);
    ASSERT_NE(wave, nullptr);
    std::vector<int16_t> cycled;
    for (int pass = 0; pass < 3; ++pass) {
        cycled.insert(cycled.end(), wave->pcm.begin() + loop.start,
                      wave->pcm.begin() + loop.start + loop.length);
    }
    std::vector<float> cycledFloat(cycled.begin(), cycled.end());
    const double ownBend =
        testkit::MaxSecondDifference(std::span<const int16_t>(cycled)) / testkit::Rms(cycledFloat);

    // Played at its own pitch (sample for sample) and a fifth up (interpolated), the
    // loop passes hundreds of times; the rendered bend relative to its level stays
    // that of the sample (scaled by the pitch ratio squared).
    for (int key : {60, 67}) {
        const Rendered out = Note(kPlain, key, 1.0);
        const auto steady = out.Left(0.2, 0.9);
        const double ratio = std::pow(2.0, (key - 60) / 12.0);
        const double bend = testkit::MaxSecondDifference(steady) / testkit::Rms(steady);
        EXPECT_LT(bend, ownBend * ratio * ratio * 1.25) << "key " << key;
    }
}

TEST_F(ConvertedBank, ProgramsNeedBankOneAndChannelTenIsMelodic) {
    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(playtest::DrySynth(), &error);
    ASSERT_TRUE(synth) << error;
    synth->SetDefaultCollection(synth->AddCollection(*collection_));
    auto quietAfter = [&](std::shared_ptr<Sequence> seq) {
        Rendered out;
        RenderSequence(*synth, seq, {}, [&](const float* l, const float*, int n) {
            out.left.insert(out.left.end(), l, l + n);
            return true;
        });
        return testkit::Rms(out.Left(0.1, 0.4));
    };
    // Bank MSB 0, LSB 1 finds the program, on channel 10 as on any other.
    EXPECT_GT(quietAfter(SequenceBuilder()
                             .bankOneProgram(0, 9, kPlain)
                             .note(0, 9, 60, 127, 768)
                             .length(768)
                             .build()),
              0.01);
    EXPECT_EQ(synth->CurrentProgram(9).source, ProgramChoice::Source::Collection);
    EXPECT_FALSE(synth->CurrentProgram(9).drumKit);
    // Without the bank select (bank 0) the program is not in the collection: silence.
    EXPECT_EQ(
        quietAfter(
            SequenceBuilder().program(0, 2, kPlain).note(0, 2, 60, 127, 768).length(768).build()),
        0.0);
    EXPECT_EQ(synth->CurrentProgram(2).source, ProgramChoice::Source::None);
    // Bank LSB 1 with MSB 1 is another bank again.
    EXPECT_EQ(quietAfter(SequenceBuilder()
                             .control(0, 2, 0, 1)
                             .control(0, 2, 32, 1)
                             .program(0, 2, kPlain)
                             .note(0, 2, 60, 127, 768)
                             .length(768)
                             .build()),
              0.0);
}

TEST_F(ConvertedBank, MissingProgramsFallBackToGeneralMidiWhenInstalled) {
    struct stat st {};
    if (stat(kDebianGmSoundFont, &st) != 0) {
        GTEST_SKIP() << kDebianGmSoundFont << " is not installed";
    }
    SynthOptions options = playtest::DrySynth();
    options.useGmSoundFont = true;
    auto seq =
        SequenceBuilder().bankOneProgram(0, 0, 100).note(0, 0, 60, 127, 768).length(768).build();
    const Rendered out = RenderWith(*collection_, seq, {}, options);
    EXPECT_GT(testkit::Rms(out.Left(0.05, 0.4)), 0.001);
}

TEST_F(ConvertedBank, StopSilencesEveryVoiceAtOnce) {
    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(playtest::DrySynth(), &error);
    ASSERT_TRUE(synth) << error;
    synth->SetDefaultCollection(synth->AddCollection(*collection_));
    RenderCore core(*synth);
    // The long release would ring for seconds after a note-off.
    core.Start(SequenceBuilder()
                   .bankOneProgram(0, 0, kLongRelease)
                   .note(0, 0, 60, 127, 7680)
                   .note(0, 1, 64, 127, 7680)
                   .length(7680)
                   .build(),
               {});
    std::vector<float> l(4410), r(4410);
    core.Render(l.data(), r.data(), 4410);
    EXPECT_GT(synth->ActiveVoices(), 0);
    core.Stop();
    core.Render(l.data(), r.data(), 4410);
    EXPECT_EQ(synth->ActiveVoices(), 0);
    // The block that was staged before the stop may still sound; after it, nothing.
    EXPECT_EQ(
        testkit::EndOfSound(std::span<const float>(l).subspan(RenderCore::kBlockFrames), 0.0f), 0u);
}

TEST_F(ConvertedBank, ReleasedCollectionGoesOnceItsVoicesAreDone) {
    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(playtest::DrySynth(), &error);
    ASSERT_TRUE(synth) << error;
    const int first = synth->AddCollection(*collection_);
    const int second = synth->AddCollection(*collection_);
    ASSERT_GE(first, 0);
    ASSERT_NE(first, second);
    synth->SetDefaultCollection(first);
    RenderCore core(*synth);
    core.Start(SequenceBuilder()
                   .bankOneProgram(0, 0, kLongRelease)
                   .note(0, 0, 60, 127, 768)
                   .length(768)
                   .build(),
               {});
    std::vector<float> l(8192), r(8192);
    core.Render(l.data(), r.data(), 8192);
    EXPECT_EQ(synth->CurrentProgram(0).collection, first);
    EXPECT_GT(synth->ActiveVoices(), 0);
    // Released while its voice still sounds: the channel lets go of it, the voice ends
    // its release, then the collection goes.
    synth->ReleaseCollection(first);
    EXPECT_EQ(synth->CurrentProgram(0).source, ProgramChoice::Source::None);
    for (int i = 0; i < 40 && synth->ActiveVoices() > 0; ++i) {
        core.Render(l.data(), r.data(), 8192);
    }
    core.Render(l.data(), r.data(), 8192);
    EXPECT_EQ(synth->ActiveVoices(), 0);
    // The other slot still plays; the released one is gone for good.
    synth->SetDefaultCollection(second);
    core.Start(
        SequenceBuilder().bankOneProgram(0, 0, kPlain).note(0, 0, 60, 127, 768).length(768).build(),
        {});
    core.Render(l.data(), r.data(), 8192);
    EXPECT_EQ(synth->CurrentProgram(0).collection, second);
    EXPECT_GT(testkit::Rms(std::span<const float>(l).subspan(2048)), 0.01);
    synth->SetDefaultCollection(first);
    core.Start(
        SequenceBuilder().bankOneProgram(0, 0, kPlain).note(0, 0, 60, 127, 768).length(768).build(),
        {});
    core.Render(l.data(), r.data(), 8192);
    EXPECT_EQ(synth->CurrentProgram(0).source, ProgramChoice::Source::None);
}

// FluidSynth has one log function for the process: a synthesizer that fails to load a
// sound font on one thread must not hand its error to one rendering on another.
TEST(SynthErrors, StayWithTheSynthesizerThatCausedThem) {
    testkit::TempFolder folder;
    const std::string badFont = folder / "bad.sf2";
    ASSERT_TRUE(testkit::WriteFile(
        badFont, testkit::ByteBuilder().text("RIFF").u32le(12).text("WAVEjunkjunk").take()));
    SynthOptions broken = playtest::DrySynth();
    broken.useGmSoundFont = true;
    broken.gmSoundFont = badFont;

    std::string error;
    std::unique_ptr<Synth> clean = Synth::Create(playtest::DrySynth(), &error);
    ASSERT_TRUE(clean) << error;
    std::atomic<bool> rendering = false;
    std::atomic<bool> failed = false;
    // The clean synthesizer renders for as long as the other one is being made, so its
    // capture is active while the other thread's error is logged.
    std::thread player([&] {
        std::vector<float> l(4096), r(4096);
        do {
            clean->Render(l.data(), r.data(), 4096);
            rendering = true;
        } while (!failed);
    });
    while (!rendering) {
        std::this_thread::yield();
    }
    // Whether a misrouted error would land in the other synthesizer depends on timing;
    // several failures make that near certain.
    std::vector<std::unique_ptr<Synth>> failing;
    for (int i = 0; i < 8; ++i) {
        failing.push_back(Synth::Create(broken, &error));
    }
    failed = true;
    player.join();

    for (const std::unique_ptr<Synth>& synth : failing) {
        ASSERT_TRUE(synth) << error;
        EXPECT_FALSE(synth->HasGeneralMidi());
        EXPECT_NE(synth->TakeError(), "");
        EXPECT_EQ(synth->TakeError(), "") << "taking the error clears it";
    }
    EXPECT_EQ(clean->TakeError(), "");
}

TEST(HostileCollection, ExtremeValuesPlayWithoutFaultOrNonsenseSamples) {
    using namespace playtest;
    TestCollection c;
    TestWave one;
    one.pcm = {32767};
    TestWave two;
    two.pcm = {-32768, 32767};
    two.sample = TestSampleInfo{};
    two.sample->loop = TestLoop{7, 0, 1};
    TestWave slow = two;
    slow.sampleRate = 1;
    TestWave fast = two;
    fast.sampleRate = 4000000000u;
    c.waves = {one, two, slow, fast};
    std::vector<TestConnection> extremes;
    for (uint16_t dst :
         {dls::kDstGain, dls::kDstPitch, dls::kDstPan, dls::kDstEg1Attack, dls::kDstEg1Decay,
          dls::kDstEg1Release, dls::kDstEg1Sustain, dls::kDstEg2Sustain, dls::kDstFilterCutoff,
          dls::kDstFilterQ, dls::kDstLfoFrequency, dls::kDstVibratoFrequency}) {
        extremes.push_back({0, 0, dst, 0, dst % 2 == 0 ? INT32_MAX : INT32_MIN});
        extremes.push_back({dls::kSrcKeyOnVelocity, 0, dst, dls::kTransformConvex, INT32_MIN});
        extremes.push_back({dls::kSrcKeyNumber, 0, dst, 0, INT32_MAX});
        extremes.push_back({dls::kSrcLfo, dls::kSrcCc1, dst, 0, INT32_MAX});
    }
    TestInstrument in;
    in.program = 0;
    for (uint32_t cue = 0; cue < 6; ++cue) {
        TestRegion r;
        r.cue = cue; // cues 4 and 5 lead nowhere
        r.sample->unityNote = static_cast<uint16_t>(cue * 13000);
        r.sample->fineTune = cue % 2 == 0 ? INT16_MAX : INT16_MIN;
        r.sample->attenuation = cue % 2 == 0 ? INT32_MAX : INT32_MIN;
        r.sample->loop = TestLoop{cue, cue, 1u << cue};
        r.keyLow = cue == 3 ? 100 : 0;
        r.keyHigh = cue == 3 ? 20 : 127;
        r.keyGroup = static_cast<uint16_t>(cue);
        r.articulation = extremes;
        in.regions.push_back(r);
    }
    in.articulation = extremes;
    c.instruments = {in};
    auto seq = SequenceBuilder()
                   .bankOneProgram(0, 0, 0)
                   .note(0, 0, 0, 1, 384)
                   .note(0, 0, 60, 127, 384)
                   .note(10, 0, 127, 64, 384)
                   .bend(20, 0, 0x3FFF)
                   .control(30, 0, 1, 127)
                   .length(768)
                   .build();
    RenderPlan plan;
    plan.tailSeconds = 1.0;
    const Rendered out = RenderWith(ReadBuilt(c), seq, plan);
    ASSERT_FALSE(out.left.empty());
    for (size_t i = 0; i < out.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i])) << "frame " << i;
    }
}

// Music made by the sequence converter: four bars, a different key in each bar on a
// hard-left channel, and a long note from bar 1 to the end on a hard-right one.
class ConvertedSong : public ConvertedBank {
  protected:
    static constexpr int kKeys[4] = {60, 64, 67, 72};

    std::string MakeSmf(const std::string& stem, bool loop) {
        testkit::SeqTrack t;
        t.program(0, 0, kLeft).program(0, 1, kRight);
        t.noteOn(0, 1, 48, 127);
        if (loop) {
            t.control(0, 0, 99, 20).control(0, 0, 6, 2); // loop start, repeat count 2
        }
        for (int bar = 0; bar < 4; ++bar) {
            t.noteOn(bar == 0 ? 0 : 0, 0, kKeys[bar], 127).noteOff(4 * 480 - 10, 0, kKeys[bar]);
            if (loop && bar == 1) {
                t.control(10, 0, 99, 30); // loop end after bar 2
            } else {
                t.control(10, 0, 7, 100);
            }
        }
        t.noteOff(0, 1, 48).endOfTrack(0);
        return ConvertTrack(stem, t);
    }
};

TEST_F(ConvertedSong, StartPointResumesInTheRightBar) {
    const std::string smf = MakeSmf("bars", false);
    MusicLoadOutcome loaded = LoadSmfFile(smf);
    ASSERT_EQ(loaded.status, MusicLoadStatus::Ok) << loaded.diagnostics.failure;
    const int32_t bar = loaded.sequence->BarLength();
    ASSERT_EQ(bar, 4 * kTicksPerQuarter);
    for (int startBar : {0, 2, 3}) {
        RenderPlan plan;
        // The preamble puts its events 12 ticks in (of 480): the bars start there.
        plan.startPoint = startBar * bar + static_cast<int32_t>(12 * 768 / 480);
        const Rendered out = RenderWith(*collection_, loaded.sequence, plan);
        const double expected = kToneHz * std::pow(2.0, (kKeys[startBar] - 60) / 12.0);
        EXPECT_NEAR(testkit::MeasureFrequency(out.Left(0.1, 1.5), out.sampleRate), expected,
                    expected * 0.002)
            << "bar " << startBar + 1;
        const double right = testkit::Rms(out.Right(0.1, 1.5));
        if (startBar == 0) {
            EXPECT_GT(right, 0.01); // the long note starts with the song
        } else {
            EXPECT_LT(right, 1e-6) << "the long note began before bar " << startBar + 1;
        }
    }
}

TEST_F(ConvertedSong, LoopPassesAndEndOfASegmentFileInOrder) {
    const std::string smf = MakeSmf("looped", true);
    NullFeedback feedback;
    SegmentReport report;
    ASSERT_EQ(ConvertSmfToSegment(smf, *folder_ / "bank.dls", feedback, {}, &report),
              SegmentResult::Done)
        << report.diagnostics.failure;
    MusicLoadOutcome loaded = LoadSegmentFile(report.outputPath);
    ASSERT_EQ(loaded.status, MusicLoadStatus::Ok) << loaded.diagnostics.failure;
    const Sequence& s = *loaded.sequence;
    ASSERT_EQ(s.repeats, 2u);
    // Render with the segment's own count: no fade, the part after the loop, its tail.
    RenderPlan plan;
    plan.loops = 3;
    plan.fadeSeconds = 0;
    const Rendered out = RenderWith(*collection_, loaded.sequence, plan);
    std::vector<OutputEvent::Kind> kinds;
    for (const OutputEvent& e : out.summary.notifications) {
        kinds.push_back(e.kind);
    }
    using K = OutputEvent::Kind;
    EXPECT_EQ(kinds,
              (std::vector<K>{K::SegmentStart, K::SegmentLoop, K::SegmentLoop, K::SegmentEnd}));
    const double secondsPerTick = 0.5 / kTicksPerQuarter;
    const double loopSeconds = (s.loopEnd - s.loopStart) * secondsPerTick;
    ASSERT_EQ(out.summary.notifications.size(), 4u);
    EXPECT_NEAR(static_cast<double>(out.summary.notifications[1].frame) / 44100.0,
                s.loopEnd * secondsPerTick, 0.002);
    EXPECT_NEAR(static_cast<double>(out.summary.notifications[2].frame) / 44100.0,
                s.loopEnd * secondsPerTick + loopSeconds, 0.002);
    EXPECT_NEAR(static_cast<double>(out.summary.notifications[3].frame) / 44100.0,
                s.length * secondsPerTick + 2 * loopSeconds, 0.002);
    EXPECT_EQ(out.summary.notifications[2].loopsDone, 2u);

    // Rendered from the file alone, the band finds its DLS file beside the segment.
    RenderJob job;
    job.input = report.outputPath;
    job.output = *folder_ / "looped.wav";
    job.plan = plan;
    job.synth = playtest::DrySynth();
    const RenderResult file = RenderToFile(job);
    ASSERT_EQ(file.status, RenderStatus::Ok) << file.error;
    EXPECT_TRUE(file.notes.empty()) << file.notes.front();
    AudioFileContents contents;
    std::string error;
    ASSERT_TRUE(ReadAudioFile(job.output, contents, error)) << error;
    EXPECT_EQ(contents.frames, out.summary.frames);
    int peak = 0;
    for (int16_t v : contents.samples) {
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    EXPECT_GT(peak, 1000);
}

TEST_F(ConvertedSong, RenderedFilesAreTheSameByteForByteAndOfTheExpectedLength) {
    const std::string smf = MakeSmf("twice", true);
    for (const char* ext : {".wav", ".flac"}) {
        RenderJob job;
        job.input = smf;
        job.dls = *folder_ / "bank.dls";
        job.plan.loops = 2;
        job.plan.fadeSeconds = 1.5;
        job.synth = playtest::DrySynth();
        job.output = *folder_ / (std::string("a") + ext);
        RenderResult first = RenderToFile(job);
        ASSERT_EQ(first.status, RenderStatus::Ok) << first.error;
        job.output = *folder_ / (std::string("b") + ext);
        RenderResult second = RenderToFile(job);
        ASSERT_EQ(second.status, RenderStatus::Ok) << second.error;
        const Bytes a = testkit::ReadFile(*folder_ / (std::string("a") + ext));
        const Bytes b = testkit::ReadFile(*folder_ / (std::string("b") + ext));
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a, b) << ext;

        // A count of 2: two passes through the loop, then the rest of the song and its
        // tail; the fade is for endless loops only.
        MusicLoadOutcome loaded = LoadSmfFile(smf);
        ASSERT_EQ(loaded.status, MusicLoadStatus::Ok);
        const Sequence& s = *loaded.sequence;
        const double secondsPerTick = 0.5 / kTicksPerQuarter;
        const double songEnd = (s.length + (s.loopEnd - s.loopStart)) * secondsPerTick;
        EXPECT_LT(first.summary.fadeStartFrame, 0);
        EXPECT_NEAR(static_cast<double>(first.summary.segmentEndFrame) / 44100.0, songEnd, 0.002);
        AudioFileContents contents;
        std::string error;
        ASSERT_TRUE(ReadAudioFile(*folder_ / (std::string("a") + ext), contents, error)) << error;
        EXPECT_EQ(contents.sampleRate, 44100);
        EXPECT_EQ(contents.channels, 2);
        EXPECT_EQ(contents.container, std::string(ext).substr(1));
        EXPECT_EQ(contents.frames, first.summary.frames);
        EXPECT_GE(static_cast<double>(contents.frames) / 44100.0, songEnd - 0.002) << ext;
        // The release tail ends in silence.
        const size_t lastFrames = 441 * 2;
        double tail = 0;
        for (size_t i = contents.samples.size() - lastFrames; i < contents.samples.size(); ++i) {
            tail = std::max(tail, std::fabs(static_cast<double>(contents.samples[i])));
        }
        EXPECT_LT(tail, 300.0) << ext;
    }
}

TEST_F(ConvertedSong, RenderRefusesWhatItCannotDoAndLeavesNoPartialFile) {
    const std::string smf = MakeSmf("refused", false);
    RenderJob job;
    job.input = smf;
    job.dls = *folder_ / "bank.dls";
    job.synth = playtest::DrySynth();
    job.output = *folder_ / "out.mp3";
    EXPECT_EQ(RenderToFile(job).status, RenderStatus::BadArguments);
    job.output = *folder_ / "out.wav";
    job.dls.clear();
    EXPECT_EQ(RenderToFile(job).status, RenderStatus::BadArguments); // an SMF without a DLS
    job.dls = *folder_ / "missing.dls";
    EXPECT_EQ(RenderToFile(job).status, RenderStatus::InputFailed);
    job.dls = *folder_ / "bank.dls";
    job.input = *folder_ / "bank.vh";
    EXPECT_EQ(RenderToFile(job).status, RenderStatus::InputFailed);
    job.input = smf;

    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);
    faults.FailCreate(true);
    RenderResult created = RenderToFile(job);
    EXPECT_EQ(created.status, RenderStatus::OutputFailed);
    faults.FailCreate(false);
    faults.FailWritesAfter(100000);
    RenderResult written = RenderToFile(job);
    EXPECT_EQ(written.status, RenderStatus::OutputFailed) << written.error;
    struct stat st {};
    EXPECT_NE(stat(job.output.c_str(), &st), 0) << "a partial output was left behind";
    EXPECT_NE(stat((job.output + ".tmp").c_str(), &st), 0) << "the temporary file was left";
}

// Songs that choose programs late or never, made by the sequence converter under both
// rules: five notes in slots of half a second (120 beats per minute, 480 ticks).
class DefaultPrograms : public ConvertedBank {
  protected:
    struct Slot {
        int channel;
        int key;
        int program; // the program whose region should sound
    };
    // Channels 0 and 1 never choose a program; channel 2 plays once before choosing
    // program 1 and once after; channel 5 never chooses one.
    static constexpr Slot kSlots[5] = {{0, 60, kPlain},
                                       {1, 64, kTuned},
                                       {2, 67, kHalfVolume},
                                       {2, 67, kTuned},
                                       {5, 72, kLongRelease}};

    static std::string Convert(const std::string& stem, SmfRules rules,
                               testkit::SeqTrack extra = {}) {
        testkit::SeqTrack t = std::move(extra);
        for (size_t i = 0; i < std::size(kSlots); ++i) {
            const Slot& slot = kSlots[i];
            if (i == 3) {
                t.program(0, 2, kTuned);
            }
            t.noteOn(i == 0 ? 0 : 80, slot.channel, slot.key, 127)
                .noteOff(400, slot.channel, slot.key);
        }
        t.endOfTrack(80);
        return ConvertTrack(stem, t, rules);
    }
};

TEST_F(DefaultPrograms, EveryChannelSoundsWithItsDefaultProgramUnderBothRules) {
    for (SmfRules rules : {SmfRules::Extended, SmfRules::Classic}) {
        const std::string smf =
            Convert(rules == SmfRules::Extended ? "defaults_ext" : "defaults_classic", rules);
        MusicLoadOutcome loaded = LoadSmfFile(smf);
        ASSERT_EQ(loaded.status, MusicLoadStatus::Ok) << loaded.diagnostics.failure;
        const Rendered out = RenderWith(*collection_, loaded.sequence);
        const double preamble = 12 / 960.0; // the converter's preamble events, in seconds
        for (size_t i = 0; i < std::size(kSlots); ++i) {
            const double from = preamble + 0.5 * static_cast<double>(i) + 0.15;
            const double expected = RegionHz(kSlots[i].program, kSlots[i].key);
            const double measured =
                testkit::MeasureFrequency(out.Left(from, from + 0.25), out.sampleRate);
            // Within 2 cents of the region's pitch.
            EXPECT_NEAR(1200.0 * std::log2(measured / expected), 0.0, 2.0)
                << "slot " << i << (rules == SmfRules::Classic ? " classic" : " extended");
            EXPECT_GT(testkit::Rms(out.Left(from, from + 0.25)), 0.005) << "slot " << i;
        }
    }
}

TEST_F(DefaultPrograms, SegmentChannelsTheBandLeavesEmptyPlayTheirDefaultProgram) {
    // Built from the classic file, the first band holds channel 2's program only (from
    // the start: the band gives a channel its first program at once).
    const std::string smf = Convert("band_classic", SmfRules::Classic);
    NullFeedback feedback;
    SegmentReport report;
    ASSERT_EQ(ConvertSmfToSegment(smf, *folder_ / "bank.dls", feedback, {}, &report),
              SegmentResult::Done)
        << report.diagnostics.failure;
    RenderJob job;
    job.input = report.outputPath; // the band's own collection, no DLS given
    job.output = *folder_ / "band_classic.wav";
    job.plan.tailSeconds = 0.5;
    job.synth = playtest::DrySynth();
    const RenderResult r = RenderToFile(job);
    ASSERT_EQ(r.status, RenderStatus::Ok) << r.error;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    AudioFileContents wav;
    std::string error;
    ASSERT_TRUE(ReadAudioFile(job.output, wav, error)) << error;
    std::vector<float> left(static_cast<size_t>(wav.frames));
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(wav.samples[2 * i]) / 32768.0f;
    }
    for (size_t i = 0; i < std::size(kSlots); ++i) {
        const double from = 12 / 960.0 + 0.5 * static_cast<double>(i) + 0.15;
        const std::span<const float> window(left.data() + static_cast<size_t>(from * 44100),
                                            static_cast<size_t>(0.25 * 44100));
        const int program = i == 2 ? kTuned : kSlots[i].program;
        const double expected = RegionHz(program, kSlots[i].key);
        EXPECT_NEAR(1200.0 * std::log2(testkit::MeasureFrequency(window, 44100.0) / expected), 0.0,
                    2.0)
            << "slot " << i;
    }
}

TEST_F(DefaultPrograms, ChannelsWithoutAnInstrumentAreNamedOrRefused) {
    // Channel 8 never chooses a program and the collection has no program 7: a warning.
    const std::string partial =
        Convert("partial", SmfRules::Classic, testkit::SeqTrack().noteOn(0, 7, 60, 100));
    RenderJob job;
    job.input = partial;
    job.dls = *folder_ / "bank.dls";
    job.output = *folder_ / "partial.wav";
    job.plan.tailSeconds = 0.5;
    job.synth = playtest::DrySynth();
    RenderResult r = RenderToFile(job);
    ASSERT_EQ(r.status, RenderStatus::Ok) << r.error;
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("1 of 6 notes"), std::string::npos) << r.warnings[0];
    EXPECT_NE(r.warnings[0].find("channel 8 (no program change; no program 7 in any bank)"),
              std::string::npos)
        << r.warnings[0];

    // Every note asks for a program the collection lacks: an error naming them, no file.
    testkit::SeqTrack t;
    t.program(0, 0, 40).noteOn(0, 0, 60, 100).noteOff(100, 0, 60).endOfTrack(0);
    job.input = ConvertTrack("none", t);
    job.output = *folder_ / "none.wav";
    r = RenderToFile(job);
    EXPECT_EQ(r.status, RenderStatus::InputFailed);
    EXPECT_NE(r.error.find("channel 1 (bank 1, program 40)"), std::string::npos) << r.error;
    struct stat st {};
    EXPECT_NE(stat(job.output.c_str(), &st), 0) << "a silent file was written";

    // A segment whose band's DLS file has gone: an error naming the file.
    ASSERT_TRUE(
        testkit::WriteFile(*folder_ / "gone.dls", testkit::ReadFile(*folder_ / "bank.dls")));
    NullFeedback feedback;
    SegmentReport report;
    ASSERT_EQ(ConvertSmfToSegment(partial, *folder_ / "gone.dls", feedback, {}, &report),
              SegmentResult::Done)
        << report.diagnostics.failure;
    ASSERT_EQ(std::remove((*folder_ / "gone.dls").c_str()), 0);
    job.input = report.outputPath;
    job.dls.clear();
    job.output = *folder_ / "gone.wav";
    r = RenderToFile(job);
    EXPECT_EQ(r.status, RenderStatus::InputFailed);
    EXPECT_NE(r.error.find("gone.dls"), std::string::npos) << r.error;
    EXPECT_NE(stat(job.output.c_str(), &st), 0) << "a silent file was written";
}

TEST_F(DefaultPrograms, StartBeyondTheEndIsRefusedAndMissingFoldersAreMade) {
    RenderJob job;
    job.input = Convert("start", SmfRules::Extended);
    job.dls = *folder_ / "bank.dls";
    job.output = *folder_ / "made/for/it/start.wav";
    job.synth = playtest::DrySynth();
    job.plan.tailSeconds = 0.2;
    MusicLoadOutcome loaded = LoadSmfFile(job.input);
    ASSERT_EQ(loaded.status, MusicLoadStatus::Ok);
    job.plan.startPoint = loaded.sequence->length;
    RenderResult r = RenderToFile(job);
    EXPECT_EQ(r.status, RenderStatus::BadArguments);
    EXPECT_NE(r.error.find("beyond the end"), std::string::npos) << r.error;
    struct stat st {};
    EXPECT_NE(stat(job.output.c_str(), &st), 0);

    job.plan.startPoint = loaded.sequence->length - kTicksPerQuarter;
    r = RenderToFile(job);
    ASSERT_EQ(r.status, RenderStatus::Ok) << r.error;
    EXPECT_EQ(stat(job.output.c_str(), &st), 0) << "the folders were not made";
    EXPECT_NEAR(r.plannedSeconds, 0.5, 0.002);

    // A folder that cannot be made says why.
    ASSERT_TRUE(testkit::WriteFile(*folder_ / "plain", {1}));
    job.output = *folder_ / "plain/x.wav";
    r = RenderToFile(job);
    EXPECT_EQ(r.status, RenderStatus::OutputFailed);
    EXPECT_NE(r.error.find("plain"), std::string::npos) << r.error;
    EXPECT_GT(r.error.find_last_of(':'), r.error.find("plain")) << "no reason given: " << r.error;
}

// One bar of lead-in, a one-beat loop of key 60, then key 72 to the end; the loop count
// from data entry after the loop start (none when `count` is negative).
class LoopCounts : public ConvertedBank {
  protected:
    struct Song {
        std::string smf;
        Sequence sequence;
        double secondsPerTick = 0.5 / kTicksPerQuarter;
        double Seconds(int32_t musicTime) const { return musicTime * secondsPerTick; }
        double Body() const { return Seconds(sequence.loopEnd - sequence.loopStart); }
    };

    static Song Make(int count) {
        testkit::SeqTrack t;
        t.program(0, 0, kPlain).noteOn(0, 0, 55, 100).noteOff(400, 0, 55);
        t.control(80, 0, 99, 20);
        if (count >= 0) {
            t.control(0, 0, 6, count);
        }
        t.noteOn(0, 0, 60, 100).noteOff(400, 0, 60).control(80, 0, 99, 30);
        t.noteOn(0, 0, 72, 100).noteOff(400, 0, 72).endOfTrack(80);
        Song song;
        song.smf = ConvertTrack("count" + std::to_string(count), t);
        MusicLoadOutcome loaded = LoadSmfFile(song.smf);
        EXPECT_EQ(loaded.status, MusicLoadStatus::Ok) << loaded.diagnostics.failure;
        if (loaded.sequence) {
            song.sequence = *loaded.sequence;
        }
        return song;
    }
};

TEST_F(LoopCounts, FiniteCountsPlayThatManyPassesThenTheEndWithoutFade) {
    double lastNoteDb = 0.0;
    for (int count : {-1, 0, 1, 2, 126}) {
        const Song song = Make(count);
        const Sequence& s = song.sequence;
        ASSERT_GT(s.loopEnd, s.loopStart);
        RenderPlan plan; // the defaults: 2 loops and a fade, which only endless loops use
        plan.tailSeconds = 0.5;
        const Rendered out = RenderWith(*collection_, std::make_shared<Sequence>(s), plan);
        const int passes = std::max(count, 1);
        EXPECT_FALSE(out.summary.fadeStartFrame >= 0) << "count " << count;
        EXPECT_EQ(out.summary.loopsPlayed, static_cast<uint32_t>(passes - 1)) << "count " << count;
        // Full length: the song plus the loop body for every pass after the first.
        const double length = song.Seconds(s.length) + song.Body() * (passes - 1);
        EXPECT_NEAR(static_cast<double>(out.summary.segmentEndFrame) / out.sampleRate, length,
                    0.002)
            << "count " << count;
        // The last note sounds where the full length puts it, at full strength and pitch.
        const double lastNote = length - song.Seconds(s.length - s.loopEnd);
        const auto window = out.Left(lastNote + 0.05, lastNote + 0.35);
        const double hz72 = RegionHz(kPlain, 72);
        EXPECT_NEAR(testkit::MeasureFrequency(window, out.sampleRate), hz72, hz72 * 0.002)
            << "count " << count;
        const double db = testkit::RmsDb(window);
        if (count == -1) {
            lastNoteDb = db;
        } else {
            EXPECT_NEAR(db, lastNoteDb, 0.5) << "count " << count << ": faded";
        }
        // The render ends with the release tail after the song, not later.
        EXPECT_LT(static_cast<double>(out.left.size()) / out.sampleRate, length + 0.5)
            << "count " << count;
    }
}

TEST_F(LoopCounts, EndlessLoopPlaysTheAskedPassesThenFades) {
    const Song song = Make(127);
    const Sequence& s = song.sequence;
    EXPECT_EQ(s.repeats, kRepeatEndless);
    for (int loops : {1, 3}) {
        RenderPlan plan;
        plan.loops = loops;
        plan.fadeSeconds = 1.0;
        const Rendered out = RenderWith(*collection_, std::make_shared<Sequence>(s), plan);
        const double fadeFrom = song.Seconds(s.loopEnd) + song.Body() * (loops - 1);
        ASSERT_GE(out.summary.fadeStartFrame, 0) << loops << " loops";
        EXPECT_NEAR(static_cast<double>(out.summary.fadeStartFrame) / out.sampleRate, fadeFrom,
                    0.002);
        EXPECT_NEAR(static_cast<double>(out.left.size()) / out.sampleRate, fadeFrom + 1.0, 0.002);
        EXPECT_EQ(out.summary.segmentEndFrame, -1);
        // The loop goes on under the fade: key 60 at the loop's pitch, ever quieter.
        const double early = testkit::RmsDb(out.Left(fadeFrom + 0.05, fadeFrom + 0.3));
        const double late = testkit::RmsDb(out.Left(fadeFrom + 0.55, fadeFrom + 0.8));
        EXPECT_NEAR(
            testkit::MeasureFrequency(out.Left(fadeFrom + 0.05, fadeFrom + 0.3), out.sampleRate),
            RegionHz(kPlain, 60), kToneHz * 0.002);
        EXPECT_LT(late, early - 4.0) << loops << " loops";
        EXPECT_NEAR(PlannedSeconds(s, plan), fadeFrom + 1.0, 0.002);
    }
}

} // namespace
} // namespace sonvex
