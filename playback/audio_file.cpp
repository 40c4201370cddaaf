// SPDX-License-Identifier: GPL-3.0-or-later
// Audio files through libsndfile: writing with tags, and reading back.
#include "playback/audio_file.h"

#include <sndfile.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "chunkfile/chunk_file.h"

namespace sonvex {

namespace {

// libsndfile's view of a ChunkFile.
sf_count_t VioLength(void* user) {
    return static_cast<ChunkFile*>(user)->Size();
}
sf_count_t VioSeek(sf_count_t offset, int whence, void* user) {
    const SeekOrigin origin = whence == SEEK_SET   ? SeekOrigin::Begin
                              : whence == SEEK_CUR ? SeekOrigin::Current
                                                   : SeekOrigin::End;
    return static_cast<ChunkFile*>(user)->Seek(offset, origin);
}
sf_count_t VioRead(void* destination, sf_count_t count, void* user) {
    return static_cast<ChunkFile*>(user)->Read(destination, count);
}
sf_count_t VioWrite(const void* source, sf_count_t count, void* user) {
    return static_cast<ChunkFile*>(user)->Write(source, count);
}
sf_count_t VioTell(void* user) {
    return static_cast<ChunkFile*>(user)->Tell();
}

int SndfileFormatOf(AudioFormat format) {
    switch (format) {
    case AudioFormat::Wav:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case AudioFormat::Flac:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case AudioFormat::Ogg:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    return 0;
}

std::string StringOf(SNDFILE* file, int field) {
    const char* text = sf_get_string(file, field);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

std::optional<AudioFormat> AudioFormatOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::nullopt;
    }
    std::string ext = path.substr(dot);
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (ext == ".wav") {
        return AudioFormat::Wav;
    }
    if (ext == ".flac") {
        return AudioFormat::Flac;
    }
    if (ext == ".ogg") {
        return AudioFormat::Ogg;
    }
    return std::nullopt;
}

const char* ExtensionOf(AudioFormat format) {
    switch (format) {
    case AudioFormat::Wav:
        return ".wav";
    case AudioFormat::Flac:
        return ".flac";
    case AudioFormat::Ogg:
        return ".ogg";
    }
    return "";
}

struct AudioFileWriter::State {
    std::string path;
    std::string temporary;
    ChunkFile file;
    SNDFILE* sound = nullptr;
    bool failed = false;
    bool finished = false;
};

AudioFileWriter::AudioFileWriter() : state_(std::make_unique<State>()) {}

AudioFileWriter::~AudioFileWriter() {
    State& s = *state_;
    if (s.sound != nullptr) {
        sf_close(s.sound);
    }
    if (s.file.IsOpen()) {
        (void)s.file.Close();
    }
    if (!s.finished && !s.temporary.empty()) {
        (void)ChunkFile::Delete(s.temporary);
    }
}

bool AudioFileWriter::Open(const std::string& path, int sampleRate, const AudioTags& tags,
                           std::string& error) {
    State& s = *state_;
    const std::optional<AudioFormat> format = AudioFormatOf(path);
    if (!format) {
        error = path + ": the output must end in .wav, .flac or .ogg";
        return false;
    }
    s.path = path;
    s.temporary = path + ".tmp";
    errno = 0;
    if (!s.file.Create(s.temporary)) {
        const int reason = errno;
        error = path + ": cannot be created" +
                (reason != 0 ? std::string(": ") + std::strerror(reason) : std::string());
        s.temporary.clear();
        return false;
    }
    SF_VIRTUAL_IO io{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SndfileFormatOf(*format);
    s.sound = sf_open_virtual(&io, SFM_WRITE, &info, &s.file);
    if (s.sound == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        (void)s.file.Close();
        (void)ChunkFile::Delete(s.temporary);
        s.temporary.clear();
        return false;
    }
    // The strings go into the header, so they are set before the first frame.
    const std::pair<int, const std::string*> fields[] = {
        {SF_STR_TITLE, &tags.title},     {SF_STR_ALBUM, &tags.album},
        {SF_STR_ARTIST, &tags.artist},   {SF_STR_TRACKNUMBER, &tags.trackNumber},
        {SF_STR_COMMENT, &tags.comment},
    };
    for (const auto& [field, text] : fields) {
        if (!text->empty() && sf_set_string(s.sound, field, text->c_str()) != 0) {
            error = path + ": the tags cannot be written: " + sf_strerror(s.sound);
            return false;
        }
    }
    return true;
}

bool AudioFileWriter::Write(const int16_t* interleaved, int64_t frames) {
    State& s = *state_;
    if (s.sound == nullptr || s.failed) {
        return false;
    }
    if (sf_writef_short(s.sound, interleaved, frames) != frames || s.file.WriteFailed()) {
        s.failed = true;
    }
    return !s.failed;
}

bool AudioFileWriter::Finish(std::string& error) {
    State& s = *state_;
    if (s.sound == nullptr) {
        error = s.path + ": the file was never opened";
        return false;
    }
    const bool closedSound = sf_close(s.sound) == 0;
    s.sound = nullptr;
    const bool closedFile = s.file.Close();
    if (s.failed || !closedSound || !closedFile) {
        (void)ChunkFile::Delete(s.temporary);
        error = s.path + ": writing failed; the file was removed";
        return false;
    }
    if (!ChunkFile::Rename(s.temporary, s.path)) {
        (void)ChunkFile::Delete(s.temporary);
        error = s.path + ": cannot replace it with " + s.temporary;
        return false;
    }
    s.finished = true;
    return true;
}

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
                         : major == SF_FORMAT_OGG  ? "ogg"
                                                   : "other";
    contents.tags.title = StringOf(file, SF_STR_TITLE);
    contents.tags.album = StringOf(file, SF_STR_ALBUM);
    contents.tags.artist = StringOf(file, SF_STR_ARTIST);
    contents.tags.trackNumber = StringOf(file, SF_STR_TRACKNUMBER);
    contents.tags.comment = StringOf(file, SF_STR_COMMENT);
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
