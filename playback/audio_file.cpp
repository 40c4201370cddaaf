// SPDX-License-Identifier: GPL-3.0-or-later
// Audio file read-back through libsndfile.
#include "playback/audio_file.h"

#include <sndfile.h>

namespace sonvex {

bool ReadAudioFile(const std::string& path, AudioFileContents& contents, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    contents.sampleRate = info.samplerate;
    contents.channels = info.channels;
    contents.frames = info.frames;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    contents.container = major == SF_FORMAT_WAV    ? "wav"
                         : major == SF_FORMAT_FLAC ? "flac"
                                                   : "other";
    contents.samples.assign(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels),
                            0);
    const sf_count_t got = sf_readf_short(file, contents.samples.data(), info.frames);
    sf_close(file);
    if (got != info.frames) {
        error = path + ": short read";
        return false;
    }
    return true;
}

} // namespace sonvex
