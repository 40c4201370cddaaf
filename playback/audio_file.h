// SPDX-License-Identifier: GPL-3.0-or-later
// Reads back a rendered WAV or FLAC file: its format and its 16-bit frames, for tests
// and for describing files on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonvex {

struct AudioFileContents {
    int sampleRate = 0;
    int channels = 0;
    int64_t frames = 0;
    std::string container;        // "wav" or "flac" (or another libsndfile major format name)
    std::vector<int16_t> samples; // interleaved
};

// False with `error` when the file cannot be opened or is no audio file libsndfile reads.
bool ReadAudioFile(const std::string& path, AudioFileContents& contents, std::string& error);

} // namespace sonvex
