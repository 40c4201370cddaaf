// SPDX-License-Identifier: GPL-3.0-or-later
// The audio file writer: each format by its extension, tags read back, and nothing left
// behind by a writer that failed or was never finished.
#include <cmath>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "chunkfile/file_system.h"
#include "playback/audio_file.h"
#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;

// One second of a 441 Hz tone, left and right alike.
std::vector<int16_t> Tone() {
    std::vector<int16_t> frames(44100 * 2);
    for (size_t i = 0; i < frames.size() / 2; ++i) {
        const auto v = static_cast<int16_t>(
            10000.0 * std::sin(6.283185307179586 * 441.0 * static_cast<double>(i) / 44100.0));
        frames[2 * i] = v;
        frames[2 * i + 1] = v;
    }
    return frames;
}

TEST(AudioFileWriter, EveryFormatCarriesItsFramesAndTags) {
    testkit::TempFolder dir;
    const std::vector<int16_t> frames = Tone();
    AudioTags tags;
    tags.title = "Opening \xE3\x81\x82";
    tags.album = "GAME";
    tags.trackNumber = "3";
    for (const char* ext : {".wav", ".flac", ".ogg"}) {
        const std::string path = dir / (std::string("song") + ext);
        std::string error;
        {
            AudioFileWriter writer;
            ASSERT_TRUE(writer.Open(path, 44100, tags, error)) << error;
            ASSERT_TRUE(writer.Write(frames.data(), 44100));
            EXPECT_FALSE(fs::exists(path)) << "visible before it is complete";
            ASSERT_TRUE(writer.Finish(error)) << error;
        }
        EXPECT_FALSE(fs::exists(path + ".tmp"));
        AudioFileContents back;
        ASSERT_TRUE(ReadAudioFile(path, back, error)) << error;
        EXPECT_EQ(back.container, std::string(ext).substr(1));
        EXPECT_EQ(back.frames, 44100) << ext;
        EXPECT_EQ(back.tags.title, tags.title) << ext;
        EXPECT_EQ(back.tags.album, "GAME") << ext;
        // The lossy format keeps the tone's level within a few percent.
        int peak = 0;
        for (int16_t v : back.samples) {
            peak = std::max(peak, std::abs(static_cast<int>(v)));
        }
        EXPECT_NEAR(peak, 10000, 600) << ext;
        if (std::string(ext) != ".ogg") {
            EXPECT_EQ(back.tags.trackNumber, "3") << ext;
            EXPECT_EQ(back.samples, frames) << ext;
        }
    }
}

TEST(AudioFileWriter, FailuresLeaveNothingBehind) {
    testkit::TempFolder dir;
    std::string error;
    {
        AudioFileWriter writer;
        EXPECT_FALSE(writer.Open(dir / "song.mp3", 44100, {}, error));
        EXPECT_EQ(error, dir / "song.mp3" + ": the output must end in .wav, .flac or .ogg");
    }
    {
        AudioFileWriter abandoned;
        ASSERT_TRUE(abandoned.Open(dir / "cut.flac", 44100, {}, error));
        const std::vector<int16_t> frames = Tone();
        ASSERT_TRUE(abandoned.Write(frames.data(), 1000));
    }
    EXPECT_FALSE(fs::exists(dir / "cut.flac.tmp"));
    EXPECT_FALSE(fs::exists(dir / "cut.flac"));

    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);
    faults.FailWritesAfter(5000);
    AudioFileWriter writer;
    ASSERT_TRUE(writer.Open(dir / "full.wav", 44100, {}, error));
    const std::vector<int16_t> frames = Tone();
    writer.Write(frames.data(), 44100);
    EXPECT_FALSE(writer.Finish(error));
    EXPECT_EQ(error, dir / "full.wav" + ": writing failed; the file was removed");
    EXPECT_FALSE(fs::exists(dir / "full.wav"));
    EXPECT_FALSE(fs::exists(dir / "full.wav.tmp"));
}

} // namespace
} // namespace sonvex
