// SPDX-License-Identifier: GPL-3.0-or-later
// The SoundFont 2 writer on banks shaped like real ones: the same instruments, regions
// and waves as the DLS, each value mapping stated, files that FluidSynth's loader and an
// independent reader take, writes that fail leaving nothing, and one song rendered with
// the DLS (our player) and with the SF2 (FluidSynth's player, default settings).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "bank2dls/sf2_writer.h"
#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "formats/dls.h"
#include "formats/sf2.h"
#include "platform/feedback.h"
#include "playback/audio_file.h"
#include "playback/offline_render.h"
#include "playback/play_loop.h"
#include "playback/soundfont_render.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/dls_builder.h"
#include "testkit/pcm_analysis.h"
#include "testkit/shell_run.h"
#include "testkit/smf_builder.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"
#include "tests/playback/playback_test_support.h"
#include "tests/support/program_run.h"

namespace sonvex {
namespace {

// Many programs with gaps between their slots, key splits, shared samples, a looping
// sine, a one-shot sample and a second loop; tone values at their extremes.
testkit::VabBuilder RealShapedBank() {
    testkit::VabBuilder vab;
    auto tone = [](int16_t vag, uint8_t low, uint8_t high, uint8_t fine, uint8_t volume,
                   uint8_t pan, uint16_t adsr1, uint16_t adsr2) {
        testkit::VabTone t = testkit::Tone(vag, low, high);
        t.centreNote = static_cast<uint8_t>(48 + low % 24);
        t.fineTune = fine;
        t.volume = volume;
        t.pan = pan;
        t.adsr1 = adsr1;
        t.adsr2 = adsr2;
        return t;
    };
    vab.program(0, testkit::Program({tone(1, 0, 127, 0, 127, 64, 0x000F, 0x1FE6)}));
    vab.program(1, testkit::Program({tone(1, 0, 127, 64, 64, 0, 0x00B3, 0x1FE8)}));
    vab.program(2, testkit::Program({tone(1, 0, 127, 127, 100, 127, 0x2CA7, 0x1FEA)}));
    vab.program(5, testkit::Program({tone(2, 0, 59, 32, 127, 30, 0x0000, 0x0000),
                                     tone(3, 60, 127, 96, 90, 100, 0xFFFF, 0xFFFF)}));
    vab.program(9, testkit::Program({tone(2, 0, 40, 255, 0, 64, 0x7F0F, 0xC000),
                                     tone(1, 41, 80, 0, 1, 64, 0x80FF, 0x5FC0),
                                     tone(3, 81, 127, 10, 127, 64, 0xB0E1, 0xCD00)}));
    vab.program(37, testkit::Program({tone(3, 0, 127, 64, 127, 64, 0x00DA, 0x0C00)}));
    // Thirty more, every third slot, cycling through the samples and the ADSR fields.
    for (int slot = 40; slot < 128; slot += 3) {
        const auto k = static_cast<uint16_t>(slot);
        vab.program(slot,
                    testkit::Program({tone(
                        static_cast<int16_t>(1 + k % 3), 0, 127, static_cast<uint8_t>(k),
                        static_cast<uint8_t>(k % 128), static_cast<uint8_t>(k * 5 % 128),
                        static_cast<uint16_t>(k * 0x0357), static_cast<uint16_t>(k * 0x1A2B))}));
    }
    const std::vector<int16_t> sine = testkit::SineTone(28 * 14, 49.0, 12000.0);
    testkit::VagShape looped;
    looped.loopStartBlock = 7;
    looped.loopEndBlock = 13;
    vab.sample(testkit::MakeVag(sine, looped));
    std::vector<int16_t> oneShot = testkit::SineTone(28 * 40, 35.0, 9000.0);
    for (size_t i = 0; i < oneShot.size(); ++i) {
        oneShot[i] = static_cast<int16_t>(
            oneShot[i] * (1.0 - static_cast<double>(i) / static_cast<double>(oneShot.size())));
    }
    vab.sample(testkit::MakeVag(oneShot), 7, 0);
    testkit::VagShape second;
    second.loopStartBlock = 2;
    second.loopEndBlock = 9;
    vab.sample(testkit::MakeVag(testkit::SineTone(28 * 10, 56.0, 15000.0), second));
    return vab;
}

class Sf2FromBank : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testkit::TempFolder();
        ASSERT_EQ(banktest::ConvertInFolder(*folder_, RealShapedBank(), "sf2").result,
                  ConvertResult::Done);
        std::string error;
        ASSERT_TRUE(ConvertDlsToSf2(*folder_ / "bank.dls", *folder_ / "bank.sf2", error)) << error;
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static testkit::TempFolder* folder_;
};

testkit::TempFolder* Sf2FromBank::folder_ = nullptr;

int32_t Constant(const DlsRegion& region, uint16_t destination, int32_t fallback) {
    for (const DlsConnection& c : region.articulation) {
        if (c.source == dls::kSrcNone && c.control == dls::kSrcNone &&
            c.destination == destination) {
            return c.scale;
        }
    }
    return fallback;
}

int Gen(const Sf2Zone& zone, uint16_t oper, int fallback) {
    const auto g = zone.Find(oper);
    return g ? g->Signed() : fallback;
}

TEST_F(Sf2FromBank, HoldsTheInstrumentsRegionsAndWavesOfTheDlsWithEachValueMapped) {
    const DlsReadOutcome dls = ReadDlsFile(*folder_ / "bank.dls");
    ASSERT_EQ(dls.status, DlsReadStatus::Ok);
    const Sf2ReadOutcome sf2 = ReadSf2File(*folder_ / "bank.sf2");
    ASSERT_EQ(sf2.status, Sf2ReadStatus::Ok) << sf2.diagnostics.failure;
    const Sf2Bank& bank = sf2.bank;
    EXPECT_EQ(bank.versionMajor, 2);
    EXPECT_EQ(bank.versionMinor, 1);

    // One instrument per DLS instrument; each program as a preset in bank 0 (the MSB the
    // converted SMF selects) and again in the percussion bank 128 for channel 10.
    ASSERT_EQ(bank.instruments.size(), dls.collection.instruments.size());
    ASSERT_EQ(bank.presets.size(), 2 * dls.collection.instruments.size());
    for (const DlsInstrument& ins : dls.collection.instruments) {
        SCOPED_TRACE(::testing::Message() << "program " << int(ins.Program()));
        for (uint16_t presetBank : {uint16_t{0}, kSf2PercussionBank}) {
            const auto preset =
                std::find_if(bank.presets.begin(), bank.presets.end(), [&](const Sf2Preset& p) {
                    return p.bank == presetBank && p.preset == ins.Program();
                });
            ASSERT_NE(preset, bank.presets.end());
            ASSERT_EQ(preset->zones.size(), 1u);
            const auto instrumentGen = preset->zones[0].Find(sf2op::kInstrument);
            ASSERT_TRUE(instrumentGen.has_value());
            const Sf2Instrument& instrument = bank.instruments[instrumentGen->amount];
            ASSERT_EQ(instrument.zones.size(), ins.regions.size());
            for (size_t r = 0; r < ins.regions.size(); ++r) {
                const DlsRegion& region = ins.regions[r];
                const Sf2Zone& zone = instrument.zones[r];
                const DlsSampleInfo& info = *region.sample;
                EXPECT_EQ(zone.generators.front().oper, sf2op::kKeyRange);
                EXPECT_EQ(zone.Find(sf2op::kKeyRange)->Low(), region.keyLow);
                EXPECT_EQ(zone.Find(sf2op::kKeyRange)->High(), region.keyHigh);
                EXPECT_EQ(zone.Find(sf2op::kVelRange)->Low(), 0);
                EXPECT_EQ(zone.Find(sf2op::kVelRange)->High(), 127);
                // Root key = unity note; coarse and fine tune together = the DLS cents.
                EXPECT_EQ(Gen(zone, sf2op::kOverridingRootKey, -1), info.unityNote);
                EXPECT_EQ(100 * Gen(zone, sf2op::kCoarseTune, 0) + Gen(zone, sf2op::kFineTune, 0),
                          info.fineTune);
                // Attenuation: FluidSynth applies 0.4 of the generator, so cB / 0.4.
                const double cb = std::clamp(-info.attenuation / 65536.0, 0.0, 576.0);
                EXPECT_NEAR(Gen(zone, sf2op::kInitialAttenuation, 0), cb / 0.4, 0.5);
                // Pan in tenths of a percent, as the DLS pan.
                EXPECT_EQ(Gen(zone, sf2op::kPan, 0), Constant(region, dls::kDstPan, 0) / 65536);
                // Envelope times in time cents as in the DLS; sustain as 1000 - tenths.
                for (const auto& [gen, dst] : {std::pair{sf2op::kVolEnvAttack, dls::kDstEg1Attack},
                                               {sf2op::kVolEnvDecay, dls::kDstEg1Decay},
                                               {sf2op::kVolEnvRelease, dls::kDstEg1Release},
                                               {sf2op::kVolEnvHold, dls::kDstEg1Hold}}) {
                    const int32_t scale = Constant(region, dst, dls::kTimeZero);
                    const double tc = scale == dls::kTimeZero
                                          ? -12000.0
                                          : std::clamp(scale / 65536.0, -12000.0, 8000.0);
                    EXPECT_NEAR(Gen(zone, gen, 99999), tc, 0.5) << "generator " << gen;
                }
                EXPECT_NEAR(Gen(zone, sf2op::kVolEnvSustain, -1),
                            1000.0 - Constant(region, dls::kDstEg1Sustain, 0) / 65536.0, 0.5);
                // Velocity to filter cutoff is switched off, as a DLS region has it.
                ASSERT_EQ(zone.modulators.size(), 1u);
                EXPECT_EQ(zone.modulators[0].destination, 8);
                EXPECT_EQ(zone.modulators[0].amount, 0);

                // The sample: the wave's frames, 46 zero points after them, the loop at
                // the same frames (with the zone's offsets) and "loop continuously".
                EXPECT_EQ(zone.generators.back().oper, sf2op::kSampleId);
                const Sf2Sample& s = bank.samples[zone.generators.back().amount];
                const DlsWave& wave = *dls.collection.WaveOf(region);
                ASSERT_EQ(s.end - s.start, wave.pcm.size());
                EXPECT_TRUE(std::equal(wave.pcm.begin(), wave.pcm.end(),
                                       bank.samplePoints.begin() + s.start));
                ASSERT_LE(s.end + kSf2SampleGuard, bank.samplePoints.size());
                for (uint32_t g = 0; g < kSf2SampleGuard; ++g) {
                    EXPECT_EQ(bank.samplePoints[s.end + g], 0);
                }
                EXPECT_EQ(s.sampleRate, 44100u);
                if (info.loops.empty()) {
                    EXPECT_EQ(Gen(zone, sf2op::kSampleModes, 0), 0);
                } else {
                    EXPECT_EQ(Gen(zone, sf2op::kSampleModes, 0), 1);
                    const int64_t start = static_cast<int64_t>(s.loopStart) - s.start +
                                          Gen(zone, sf2op::kStartLoopOffset, 0) +
                                          32768 * Gen(zone, sf2op::kStartLoopCoarseOffset, 0);
                    const int64_t end = static_cast<int64_t>(s.loopEnd) - s.start +
                                        Gen(zone, sf2op::kEndLoopOffset, 0) +
                                        32768 * Gen(zone, sf2op::kEndLoopCoarseOffset, 0);
                    EXPECT_EQ(start, info.loops[0].start);
                    EXPECT_EQ(end, info.loops[0].start + info.loops[0].length);
                }
            }
        }
    }
    // Every playable wave once.
    EXPECT_EQ(bank.samples.size(), dls.collection.waves.size());
}

TEST_F(Sf2FromBank, FluidSynthsLoaderAndAnIndependentReaderTakeIt) {
    const SoundFontRender loaded =
        RenderWithSoundFont("", *folder_ / "bank.sf2", playtest::DrySynth(), 0.0);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    for (const std::string& m : loaded.loaderMessages) {
        ADD_FAILURE() << "FluidSynth's loader: " << m;
    }
    if (!std::filesystem::exists("/usr/bin/sf3convert")) {
        GTEST_SKIP() << "sf3convert is not installed";
    }
    // sf3convert reads every chunk of the bank and lists its presets: bank-program in hex.
    const testkit::ShellRun run =
        testkit::Shell("/usr/bin/sf3convert -d '" + *folder_ / "bank.sf2'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("readSection <shdr>"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0000-25 program 037"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0080-25 program 037"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("rror"), std::string::npos) << run.out;
}

TEST_F(Sf2FromBank, AFailedWriteLeavesNothingBehind) {
    const DlsReadOutcome dls = ReadDlsFile(*folder_ / "bank.dls");
    ASSERT_EQ(dls.status, DlsReadStatus::Ok);
    FaultInjectingFileSystem faults(ActiveFileSystem());
    ScopedFileSystem use(faults);
    const std::string out = *folder_ / "failed.sf2";
    for (int fault = 0; fault < 3; ++fault) {
        faults.Clear();
        if (fault == 0) {
            faults.FailCreate(true);
        } else if (fault == 1) {
            faults.FailWritesAfter(1000);
        } else {
            faults.FailRename(true);
        }
        std::string error;
        EXPECT_FALSE(WriteSf2(dls.collection, out, error)) << "fault " << fault;
        EXPECT_NE(error.find(out), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(out)) << "fault " << fault;
        EXPECT_FALSE(std::filesystem::exists(out + ".tmp")) << "fault " << fault;
    }
}

// The song: three notes one after another at 120 beats per minute (960 ticks a second),
// each channel selecting its program the way the converted SMF does (CC0 0, CC32 1).
struct SongNote {
    uint8_t channel;
    uint8_t program;
    uint8_t key;
    double on;
    double off;
};
constexpr SongNote kSong[] = {
    {0, 0, 60, 0.0, 0.8}, // centre, full volume, flat envelope
    {1, 1, 64, 1.0, 1.6}, // left, volume 64, decay to -12 dB
    {9, 2, 55, 2.0, 3.0}, // channel 10, right, attack 0.1 s, decay, release
};

testkit::Bytes SongSmf() {
    testkit::SmfBuilder smf(480);
    smf.tempo(0, 500000);
    for (const SongNote& n : kSong) {
        smf.control(0, n.channel, 0, 0)
            .control(0, n.channel, 32, 1)
            .program(0, n.channel, n.program);
    }
    uint32_t now = 0;
    auto at = [&](double seconds) {
        const auto tick = static_cast<uint32_t>(std::lround(seconds * 960.0));
        const uint32_t delta = tick - now;
        now = tick;
        return delta;
    };
    for (const SongNote& n : kSong) {
        smf.noteOn(at(n.on), n.channel, n.key, 127);
        smf.noteOff(at(n.off), n.channel, n.key);
    }
    smf.endOfTrack(at(4.0));
    return smf.build();
}

struct Measured {
    double hz = 0.0;
    double leftDb = 0.0;
    double rightDb = 0.0;
};

Measured MeasureNote(const std::vector<float>& left, const std::vector<float>& right,
                     const SongNote& n) {
    auto span = [](const std::vector<float>& v, double from, double to) {
        const auto a = std::min(v.size(), static_cast<size_t>(from * 44100.0));
        const auto b = std::min(v.size(), static_cast<size_t>(to * 44100.0));
        return std::span<const float>(v).subspan(a, b - a);
    };
    Measured m;
    const bool useRight = testkit::Rms(span(right, n.on + 0.3, n.off - 0.05)) >
                          testkit::Rms(span(left, n.on + 0.3, n.off - 0.05));
    m.hz = testkit::MeasureFrequency(span(useRight ? right : left, n.on + 0.15, n.off - 0.05),
                                     44100.0);
    m.leftDb = testkit::RmsDb(span(left, n.on + 0.3, n.off - 0.05));
    m.rightDb = testkit::RmsDb(span(right, n.on + 0.3, n.off - 0.05));
    return m;
}

// Every note of the song at the same pitch, level and pan in the SF2 rendering (b) as in
// the DLS rendering (a).
void ExpectSameNotes(const std::vector<float>& aLeft, const std::vector<float>& aRight,
                     const std::vector<float>& bLeft, const std::vector<float>& bRight) {
    for (const SongNote& n : kSong) {
        SCOPED_TRACE(::testing::Message()
                     << "channel " << int(n.channel) << " program " << int(n.program));
        const Measured a = MeasureNote(aLeft, aRight, n);
        const Measured b = MeasureNote(bLeft, bRight, n);
        ASSERT_GT(a.hz, 100.0);
        EXPECT_GT(std::max(b.leftDb, b.rightDb), -40.0) << "silent with the SF2";
        EXPECT_NEAR(1200.0 * std::log2(b.hz / a.hz), 0.0, 0.5); // cents
        EXPECT_NEAR(b.leftDb, a.leftDb, 1.0);
        EXPECT_NEAR(b.rightDb, a.rightDb, 1.0);
        EXPECT_NEAR(b.leftDb - b.rightDb, a.leftDb - a.rightDb, 1.0); // pan balance
    }
}

// Seconds from `from` until the 10 ms RMS envelope first lies `dropDb` below `level`.
double TimeToFall(const std::vector<double>& env, double from, double level, double dropDb) {
    const size_t w =
        testkit::FirstWindowBelow(env, static_cast<size_t>(from / 0.01), level, dropDb);
    return static_cast<double>(w) * 0.01 - from;
}

struct EnvelopeTimes {
    double attack = 0.0;  // onset to the loudest window
    double decay = 0.0;   // the loudest window to 3 dB below it
    double release = 0.0; // note-off to 20 dB below the level held before it
};

EnvelopeTimes MeasureEnvelope(const std::vector<float>& channel, const SongNote& n) {
    const std::vector<double> env = testkit::RmsEnvelope(channel, 441);
    const auto first = static_cast<size_t>(n.on / 0.01);
    const auto last = static_cast<size_t>(n.off / 0.01);
    size_t peak = first;
    for (size_t w = first; w < last; ++w) {
        if (env[w] > env[peak]) {
            peak = w;
        }
    }
    size_t onset = first;
    while (onset < peak && testkit::LevelDifferenceDb(env[onset], env[peak]) < -40.0) {
        ++onset;
    }
    EnvelopeTimes t;
    t.attack = static_cast<double>(peak - onset) * 0.01;
    t.decay = TimeToFall(env, static_cast<double>(peak) * 0.01, env[peak], 3.0);
    t.release = TimeToFall(env, n.off, env[last - 2], 20.0);
    return t;
}

TEST_F(Sf2FromBank, ASongSoundsTheSameWithTheSf2InFluidSynthsPlayerAsWithTheDls) {
    const std::string smf = *folder_ / "song.mid";
    ASSERT_TRUE(testkit::WriteFile(smf, SongSmf()));

    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(playtest::DrySynth(), &error);
    ASSERT_NE(synth, nullptr) << error;
    PreparedMusic prepared;
    RenderStatus status = RenderStatus::Ok;
    ASSERT_TRUE(
        PrepareMusic(*synth, smf, *folder_ / "bank.dls", folder_->path(), prepared, status, error))
        << error;
    RenderPlan plan;
    plan.tailSeconds = 1.0;
    std::vector<float> dlsLeft;
    std::vector<float> dlsRight;
    RenderSequence(*synth, prepared.sequence, plan, [&](const float* l, const float* r, int n) {
        dlsLeft.insert(dlsLeft.end(), l, l + n);
        dlsRight.insert(dlsRight.end(), r, r + n);
        return true;
    });
    const SoundFontRender sf2 =
        RenderWithSoundFont(smf, *folder_ / "bank.sf2", playtest::DrySynth(), 1.0);
    ASSERT_TRUE(sf2.ok) << sf2.error;

    ExpectSameNotes(dlsLeft, dlsRight, sf2.left, sf2.right);
    // Attack, decay and release of the enveloped note, within 10 % (and one window).
    const SongNote& shaped = kSong[2];
    const EnvelopeTimes a = MeasureEnvelope(dlsRight, shaped);
    const EnvelopeTimes b = MeasureEnvelope(sf2.right, shaped);
    EXPECT_GT(a.attack, 0.05);
    EXPECT_NEAR(b.attack, a.attack, 0.1 * a.attack + 0.01);
    EXPECT_GT(a.decay, 0.01);
    EXPECT_NEAR(b.decay, a.decay, 0.1 * a.decay + 0.01);
    EXPECT_GT(a.release, 0.01);
    EXPECT_NEAR(b.release, a.release, 0.1 * a.release + 0.01);
}

// A rendered 16-bit stereo file as two float channels.
struct StereoFile {
    std::vector<float> left;
    std::vector<float> right;
};

StereoFile ReadStereo(const std::string& path) {
    AudioFileContents contents;
    std::string error;
    StereoFile out;
    EXPECT_TRUE(ReadAudioFile(path, contents, error)) << error;
    EXPECT_EQ(contents.channels, 2);
    for (size_t i = 0; i + 1 < contents.samples.size(); i += 2) {
        out.left.push_back(static_cast<float>(contents.samples[i]) / 32768.0f);
        out.right.push_back(static_cast<float>(contents.samples[i + 1]) / 32768.0f);
    }
    return out;
}

TEST_F(Sf2FromBank, TheCommandLineRendersTheSongWithTheSf2AsWithTheDls) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    ASSERT_TRUE(std::filesystem::exists(cli));
    ASSERT_TRUE(testkit::WriteFile(*folder_ / "cli-song.mid", SongSmf()));
    for (const char* bank : {"bank.dls", "bank.sf2"}) {
        const testsupport::ProcessRun r = testsupport::RunProgram(
            cli,
            {"render", "cli-song.mid", bank, "-o", std::string(bank) + ".wav", "--no-reverb", "-q"},
            folder_->path());
        ASSERT_EQ(r.status, 0) << bank << ": " << r.err;
        EXPECT_EQ(r.err, "") << bank;
    }
    const StereoFile dls = ReadStereo(*folder_ / "bank.dls.wav");
    const StereoFile sf2 = ReadStereo(*folder_ / "bank.sf2.wav");
    // The song lasts 4 s; both files end with its release tails, within 50 ms of each other.
    EXPECT_GE(dls.left.size(), static_cast<size_t>(4.0 * 44100));
    EXPECT_NEAR(static_cast<double>(sf2.left.size()), static_cast<double>(dls.left.size()),
                0.05 * 44100);
    ExpectSameNotes(dls.left, dls.right, sf2.left, sf2.right);
}

TEST_F(Sf2FromBank, InfoDescribesPresetsInstrumentsZonesAndSamples) {
    const testsupport::ProcessRun r = testsupport::RunProgram(
        testsupport::BuiltProgram("cli/sonvex-cli"), {"info", "bank.sf2"}, folder_->path());
    ASSERT_EQ(r.status, 0) << r.err;
    // Thirty-six programs, each in bank 0 and in the percussion bank; three VAGs.
    const char* lines[] = {
        "SoundFont 2.01 bank bank.sf2",
        "72 preset(s), 36 instrument(s), 3 sample(s)",
        "preset bank 0 program 5 \"program 005\": instrument 3\n",
        "preset bank 128 program 5 \"program 005\": instrument 3\n",
        // Program 5's key split, its root keys from the tones' centre notes.
        "instrument 3 \"program 005\": 2 zone(s)\n"
        "    zone keys 0-59 velocities 0-127: root key 48, tuning +25 cents",
        "    zone keys 60-127 velocities 0-127: root key 60, tuning +75 cents",
        // Tone pan 0 and 127: hard left, and as far right as the tone goes.
        "pan -50.0 %",
        "pan +49.2 %",
        // Program 2's attack rate of 0x2C: about a tenth of a second.
        "envelope: delay 0.001 s, attack 0.106 s",
        "sample 1 \"wave 001\", played once",
        "sample 2 \"wave 002\", looping",
        // The looped VAG: blocks 7 to 13 of 28 frames each after the leading block.
        "sample 0 \"wave 000\": 420 frame(s) at 44100 Hz, root key 60, correction +0 cents, "
        "loop 223-419",
    };
    for (const char* line : lines) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

// Sixteen notes of program 37 under an endless loop from 0.5 s to 1.5 s.
testkit::Bytes LoopedSmf(uint8_t program) {
    testkit::SmfBuilder smf(480);
    smf.tempo(0, 500000)
        .text(0, "127")
        .control(0, 0, 0, 0)
        .control(0, 0, 32, 1)
        .program(0, 0, program);
    smf.noteOn(0, 0, 60, 100).noteOff(240, 0, 60).marker(240, "Loop_Start");
    for (int i = 0; i < 4; ++i) {
        smf.noteOn(0, 0, static_cast<uint8_t>(60 + i * 2), 100)
            .noteOff(240, 0, static_cast<uint8_t>(60 + i * 2));
    }
    smf.marker(0, "Loop_End").endOfTrack(480);
    return smf.build();
}

TEST_F(Sf2FromBank, TheSf2RendersWithTheSameLoopsFadeAndStartAsTheDls) {
    ASSERT_TRUE(testkit::WriteFile(*folder_ / "looped.mid", LoopedSmf(37)));
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--loops", "3", "--fade", "1"},
          std::vector<std::string>{"--loops", "2", "--fade", "0"},
          std::vector<std::string>{"--start", "720", "--fade", "0.5"}}) {
        std::string summary[2];
        StereoFile files[2];
        for (int i = 0; i < 2; ++i) {
            const std::string bank = i == 0 ? "bank.dls" : "bank.sf2";
            std::vector<std::string> args = {"render",     "looped.mid",  bank, "-o",
                                             "looped.wav", "--no-reverb", "-q"};
            args.insert(args.end(), options.begin(), options.end());
            const testsupport::ProcessRun r = testsupport::RunProgram(cli, args, folder_->path());
            ASSERT_EQ(r.status, 0) << bank << ": " << r.err;
            summary[i] = r.out;
            files[i] = ReadStereo(*folder_ / "looped.wav");
        }
        SCOPED_TRACE(summary[0]);
        // The same passes, fade and length, to the frame where a fade ends the song.
        EXPECT_EQ(summary[1], summary[0]);
        EXPECT_NE(summary[0].find("loop pass"), std::string::npos);
        // Every pass sounds: the last note of each loop pass, at the pitch of the DLS.
        for (double at : {1.3, 2.3}) {
            const auto from = static_cast<size_t>(at * 44100);
            if (options[0] == "--start") {
                continue;
            }
            const std::span<const float> a(files[0].left.data() + from, 4410);
            const std::span<const float> b(files[1].left.data() + from, 4410);
            EXPECT_GT(testkit::RmsDb(b), -40.0) << at;
            EXPECT_NEAR(testkit::RmsDb(b), testkit::RmsDb(a), 1.0) << at;
            EXPECT_NEAR(1200.0 * std::log2(testkit::MeasureFrequency(b, 44100.0) /
                                           testkit::MeasureFrequency(a, 44100.0)),
                        0.0, 0.5)
                << at;
        }
    }
}

// Renders `smf` with `bank` to a file and plays it on the null output: both must refuse it
// with the same reason, the render leaving no file. The reason.
std::string ExpectRenderAndPlayRefuse(const std::string& smf, const std::string& bank) {
    RenderJob job;
    job.input = smf;
    job.dls = bank;
    job.output = smf + ".wav";
    job.synth = playtest::DrySynth();
    const RenderResult rendered = RenderToFile(job);
    EXPECT_EQ(rendered.status, RenderStatus::InputFailed) << bank;
    EXPECT_FALSE(std::filesystem::exists(job.output)) << bank;

    PlayJob play;
    play.input = smf;
    play.dls = bank;
    play.output = OutputKind::Null;
    play.synth = playtest::DrySynth();
    const std::atomic<bool> stop{false};
    const PlayOutcome played = PlayFile(
        play, [](const PlayPosition&) {}, stop);
    EXPECT_EQ(played.status, PlayStatus::LoadFailed) << bank;
    EXPECT_EQ(played.error, rendered.error) << bank;
    return rendered.error;
}

TEST_F(Sf2FromBank, MissingProgramsFailWithTheSf2AsWithTheDls) {
    // Program 3 is none of the bank's.
    ASSERT_TRUE(testkit::WriteFile(*folder_ / "missing.mid", LoopedSmf(3)));
    std::string errors[2];
    for (int i = 0; i < 2; ++i) {
        const std::string bank = *folder_ / (i == 0 ? "bank.dls" : "bank.sf2");
        errors[i] = ExpectRenderAndPlayRefuse(*folder_ / "missing.mid", bank);
    }
    // The DLS holds its programs at bank MSB 0 and LSB 1; a SoundFont is chosen by the MSB.
    EXPECT_EQ(errors[0], *folder_ / "missing.mid" +
                             ": no instrument for any of its notes: the "
                             "collection has no instrument for channel 1 (bank 1, program 3)");
    EXPECT_EQ(errors[1], *folder_ / "missing.mid" +
                             ": no instrument for any of its notes: the "
                             "collection has no instrument for channel 1 (bank 0, program 3)");
}

TEST_F(Sf2FromBank, ABankFluidSynthsLoaderRefusesFailsInsteadOfPlayingSilence) {
    // Our reader takes a version 1 bank; FluidSynth's loader does not.
    testkit::Sf2Parts parts = testkit::OneSampleSf2(37);
    parts.ifil = testkit::Bytes{1, 0, 0, 0};
    const std::string bank = *folder_ / "old.sf2";
    ASSERT_TRUE(testkit::WriteFile(bank, parts.build()));
    ASSERT_TRUE(testkit::WriteFile(*folder_ / "old.mid", LoopedSmf(37)));
    const std::string expected = bank + ": the synthesizer cannot load it";

    const std::string error = ExpectRenderAndPlayRefuse(*folder_ / "old.mid", bank);
    EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
}

} // namespace
} // namespace sonvex
