// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF writer: chunk headers, preamble, delta times and the final size patch.
#include "seq2smf/smf_writer.h"

#include <string_view>

namespace sonvex {

namespace {

// Names written into every file's preamble, and the marker of an oversized delta.
constexpr std::string_view kTrackName = "PS GAME'S SEQ";
constexpr std::string_view kMakerText = "PS GAME'S MAKER";
constexpr std::string_view kDeltaOver = "Delta Over";

void WriteU32be(ChunkFile& file, uint32_t v) {
    const uint32_t swapped = SwapBytes32(v);
    const uint8_t b[4] = {static_cast<uint8_t>(swapped), static_cast<uint8_t>(swapped >> 8),
                          static_cast<uint8_t>(swapped >> 16), static_cast<uint8_t>(swapped >> 24)};
    file.Write(b, 4);
}

void WriteText(ChunkFile& file, std::string_view text) {
    file.Write(text.data(), static_cast<int64_t>(text.size()));
}

} // namespace

int EncodeVarLen(uint32_t v, uint8_t (&out)[4]) {
    int n = 1;
    if (v > 0x1FFFFF) {
        n = 4;
    } else if (v > 0x3FFF) {
        n = 3;
    } else if (v > 0x7F) {
        n = 2;
    }
    for (int i = 0; i < n; ++i) {
        const int shift = 7 * (n - 1 - i);
        const auto group = static_cast<uint8_t>((v >> shift) & 0x7F);
        out[i] = static_cast<uint8_t>(i + 1 < n ? group | 0x80 : group);
    }
    return n;
}

SmfWriter::~SmfWriter() {
    if (file_.IsOpen()) {
        AbandonSmf();
    }
}

bool SmfWriter::BeginSmf(const std::string& path, uint16_t division, uint32_t tempo,
                         uint8_t numerator, uint8_t denominatorExponent) {
    if (file_.IsOpen()) {
        AbandonSmf();
    }
    if (!file_.Create(path)) {
        return false;
    }
    path_ = path;
    tracksOwnLengths_ = false;

    // Header chunk; its length and the track length are placeholders until FinishSmf.
    WriteText(file_, "MThd");
    WriteU32be(file_, 0);
    WriteBytes({0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>(division >> 8),
                static_cast<uint8_t>(division)});
    WriteText(file_, "MTrk");
    WriteU32be(file_, 0);

    // Preamble: track name, maker text, XG System On, tempo at tick 4, time signature at tick 12.
    WriteBytes({0x00, 0xFF, 0x03, static_cast<uint8_t>(kTrackName.size())});
    WriteText(file_, kTrackName);
    WriteBytes({0x00, 0xFF, 0x02, static_cast<uint8_t>(kMakerText.size())});
    WriteText(file_, kMakerText);
    WriteBytes({0x00, 0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    WriteBytes({0x04, 0xFF, 0x51, 0x03, static_cast<uint8_t>(tempo >> 16),
                static_cast<uint8_t>(tempo >> 8), static_cast<uint8_t>(tempo)});
    WriteBytes({0x08, 0xFF, 0x58, 0x04, numerator, denominatorExponent, 0x18, 0x08});
    return true;
}

bool SmfWriter::BeginFile(const std::string& path, uint16_t format, uint16_t trackCount,
                          uint16_t division) {
    if (file_.IsOpen()) {
        AbandonSmf();
    }
    if (!file_.Create(path)) {
        return false;
    }
    path_ = path;
    tracksOwnLengths_ = true;
    trackStart_ = -1;
    WriteText(file_, "MThd");
    WriteU32be(file_, 6);
    WriteBytes({static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
                static_cast<uint8_t>(trackCount >> 8), static_cast<uint8_t>(trackCount),
                static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
    return true;
}

void SmfWriter::BeginTrack() {
    EndTrack();
    trackStart_ = file_.Tell();
    WriteText(file_, "MTrk");
    WriteU32be(file_, 0);
}

void SmfWriter::EndTrack() {
    if (trackStart_ < 0) {
        return;
    }
    const int64_t end = file_.Tell();
    const int64_t length = end - trackStart_ - 8;
    file_.Seek(trackStart_ + 4, SeekOrigin::Begin);
    WriteU32be(file_, static_cast<uint32_t>(length));
    file_.Seek(end, SeekOrigin::Begin);
    trackStart_ = -1;
}

void SmfWriter::WriteDeltaTime(uint32_t delta, uint32_t pending) {
    uint8_t buffer[4];
    const uint64_t sum = static_cast<uint64_t>(delta) + pending;
    if (sum <= kMaxDeltaTime) {
        file_.Write(buffer, EncodeVarLen(static_cast<uint32_t>(sum), buffer));
        return;
    }
    // The pending time goes before a marker event, the event keeps its own delta.
    file_.Write(buffer, EncodeVarLen(pending, buffer));
    WriteBytes({0xFF, 0x06, static_cast<uint8_t>(kDeltaOver.size() + 1)});
    WriteText(file_, kDeltaOver);
    WriteBytes({0x00});
    file_.Write(buffer, EncodeVarLen(delta, buffer));
}

void SmfWriter::WriteBytes(std::initializer_list<uint8_t> bytes) {
    file_.Write(bytes.begin(), static_cast<int64_t>(bytes.size()));
}

void SmfWriter::WriteBytes(std::span<const uint8_t> bytes) {
    file_.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
}

bool SmfWriter::FinishSmf() {
    if (!file_.IsOpen()) {
        return false;
    }
    if (tracksOwnLengths_) {
        EndTrack();
        if (!file_.Close()) {
            ChunkFile::Delete(path_);
            return false;
        }
        return true;
    }
    const int64_t end = file_.Tell();
    const int64_t trackLength = end - kSmfTrackDataOffset;
    if (trackLength < 0 || trackLength > 0xFFFFFFFFLL) {
        AbandonSmf();
        return false;
    }
    if (trackLength & 1) {
        file_.WriteU8(0);
    }
    file_.Seek(kSmfTrackLengthOffset, SeekOrigin::Begin);
    WriteU32be(file_, static_cast<uint32_t>(trackLength));
    file_.Seek(kSmfHeaderLengthOffset, SeekOrigin::Begin);
    WriteU32be(file_, 6);
    if (!file_.Close()) {
        ChunkFile::Delete(path_);
        return false;
    }
    return true;
}

void SmfWriter::AbandonSmf() {
    if (!file_.IsOpen()) {
        return;
    }
    (void)file_.Close();
    ChunkFile::Delete(path_);
}

} // namespace sonvex
