// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled demo end to end: the demo's game image is ripped into SMF and DLS files,
// and a converted song renders to a FLAC file as long as another MIDI reader says the
// song is, plus whatever tail it still sounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/feedback.h"
#include "playback/audio_file.h"
#include "playback/offline_render.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

// Seconds to the end-of-track event as Debian's python3-mido reads the file; -1 when
// the checker is not there.
double IndependentLength(const std::string& smf) {
    struct stat st {};
    if (stat("/usr/bin/python3", &st) != 0) {
        return -1.0;
    }
    const std::string command =
        "/usr/bin/python3 -c \"import mido,sys; print(mido.MidiFile(sys.argv[1]).length)\" '" +
        smf + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1.0;
    }
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = pclose(pipe);
    if (!got || status != 0) {
        return -1.0;
    }
    return std::atof(line);
}

TEST(DemoRender, ConvertedSongRendersToFlacOfTheExpectedLength) {
    testkit::TempFolder folder;
    // The demo's image, composed as the demo composer does, but with a first bank that
    // holds every program the composed songs choose (16 to 47) over all their keys.
    testkit::GameImage image(2026);
    image.Noise(3000).Zeros(2048);
    image.Vh(48, 9, 4).Zeros(512).Vb(4, 24).Zeros(2048);
    image.Seq(32).Zeros(1024).Noise(5000);
    image.SeqSet(3, 16).Zeros(4096);
    image.Vh(2, 3, 2, 2).Zeros(256).Vb(2, 40).Noise(7000);
    image.GpmSeq(24).Zeros(2048);
    image.Seq(48).Noise(4000).Zeros(8192);
    ASSERT_TRUE(image.Verify().empty()) << image.Verify();
    const std::string game = folder / "DEMO.BIN";
    ASSERT_TRUE(testkit::WriteGameImage(game, image));
    NullFeedback feedback;
    const AnalysisResult analysis = AnalyzeSources({game}, folder.path(), feedback);
    ASSERT_EQ(analysis.status, AnalysisStatus::ListWritten);
    std::filesystem::create_directory(folder / "music");
    const ConversionRunResult run = RunConversion(analysis.listPath, folder / "music",
                                                  ListTitleOf(analysis.listPath), feedback);
    ASSERT_TRUE(run.ran);

    const std::string smf = folder / "music/DEMO_003.mid";
    const std::string dls = folder / "music/DEMO_000.dls";
    ASSERT_TRUE(std::filesystem::exists(smf));
    ASSERT_TRUE(std::filesystem::exists(dls));
    const double expected = IndependentLength(smf);
    if (expected < 0) {
        GTEST_SKIP() << "python3-mido is not available to say how long the song is";
    }
    RenderJob job;
    job.input = smf;
    // The second bank lacks the song's program: an error naming it, no silent file.
    job.dls = folder / "music/DEMO_001.dls";
    job.output = folder / "silent.flac";
    RenderResult r = RenderToFile(job);
    EXPECT_EQ(r.status, RenderStatus::InputFailed);
    EXPECT_NE(r.error.find("channel 1 (bank 1, program "), std::string::npos) << r.error;
    EXPECT_FALSE(std::filesystem::exists(job.output));

    job.dls = dls;
    job.output = folder / "demo.flac";
    r = RenderToFile(job);
    ASSERT_EQ(r.status, RenderStatus::Ok) << r.error;
    AudioFileContents flac;
    std::string error;
    ASSERT_TRUE(ReadAudioFile(job.output, flac, error)) << error;
    EXPECT_EQ(flac.container, "flac");
    EXPECT_EQ(flac.sampleRate, 44100);
    EXPECT_EQ(flac.channels, 2);
    const double seconds = static_cast<double>(flac.frames) / 44100.0;
    int peak = 0;
    for (int16_t s : flac.samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    // The song's own length, then a release or reverb tail no longer than the limit.
    EXPECT_GE(seconds, expected - 0.001);
    EXPECT_LE(seconds, expected + job.plan.tailSeconds + 0.1);
    EXPECT_GT(peak, 0);
    RecordProperty("seconds", std::to_string(seconds));
    RecordProperty("peak", std::to_string(peak));
}

} // namespace
} // namespace sonvex
