// SPDX-License-Identifier: GPL-3.0-or-later
// Rendered audio files through libsndfile: a writer for WAV, FLAC and Ogg Vorbis with
// text tags (written under a temporary name and renamed once complete), and the read-back
// of such a file for tests and for describing files on the command line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonvex {

enum class AudioFormat { Wav, Flac, Ogg };

// The format a file name asks for by its extension (any case): .wav, .flac, .ogg.
std::optional<AudioFormat> AudioFormatOf(const std::string& path);
// The extension of a format, with its dot.
const char* ExtensionOf(AudioFormat format);

// Text tags as libsndfile's string fields carry them; empty ones are not written.
struct AudioTags {
    std::string title;
    std::string album;
    std::string artist;
    std::string trackNumber;
    std::string comment;
};

// Writes 16-bit stereo frames to `path`: the data goes to "PATH.tmp", which Finish renames
// to `path`; a writer that is not finished removes its temporary file.
class AudioFileWriter {
  public:
    AudioFileWriter();
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // False with `error` ("PATH: reason") when the format is unknown or the file cannot
    // be created.
    bool Open(const std::string& path, int sampleRate, const AudioTags& tags, std::string& error);
    // Interleaved left/right frames; false once a write has failed.
    bool Write(const int16_t* interleaved, int64_t frames);
    // Closes and renames; false with `error` when anything failed (nothing is left behind).
    bool Finish(std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

struct AudioFileContents {
    int sampleRate = 0;
    int channels = 0;
    int64_t frames = 0;
    std::string container;        // "wav", "flac" or "ogg" (else "other")
    std::vector<int16_t> samples; // interleaved
    AudioTags tags;
};

// False with `error` when the file cannot be opened or is no audio file libsndfile reads.
bool ReadAudioFile(const std::string& path, AudioFileContents& contents, std::string& error);

} // namespace sonvex
