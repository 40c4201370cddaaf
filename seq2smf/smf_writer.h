// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the Standard MIDI Files of both sequence converters: format 0, one track,
// a fixed preamble, the converted events, then the header and track sizes patched in.
// Also writes files of any format and track count without a preamble, for tools that
// rewrite an SMF's own events.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "chunkfile/chunk_file.h"

namespace sonvex {

// Largest delta time (ticks) a variable-length quantity can carry.
constexpr uint32_t kMaxDeltaTime = 0x0FFFFFFF;

// File offsets of the fields patched when the file is finished.
constexpr int64_t kSmfHeaderLengthOffset = 4; // 4 bytes, big-endian: 6
constexpr int64_t kSmfTrackLengthOffset = 18; // 4 bytes, big-endian: track bytes after offset 22
constexpr int64_t kSmfTrackDataOffset = 22;   // first byte of the preamble

// Reverse the byte order: big-endian source fields to numbers and back.
constexpr uint32_t SwapBytes32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr uint16_t SwapBytes16(uint16_t v) {
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

// The variable-length form of v (v at most kMaxDeltaTime): 1 to 4 bytes, most significant
// group first, bit 7 set on every byte but the last. Returns the number of bytes used.
int EncodeVarLen(uint32_t v, uint8_t (&out)[4]);

class SmfWriter {
  public:
    SmfWriter() = default;
    SmfWriter(const SmfWriter&) = delete;
    SmfWriter& operator=(const SmfWriter&) = delete;
    ~SmfWriter();

    // Creates `path` (replacing a file of that name), writes the chunk headers with
    // placeholder lengths and the track preamble. `division` is ticks per quarter note,
    // `tempo` microseconds per quarter note (low 24 bits used). False when the file
    // cannot be created.
    bool BeginSmf(const std::string& path, uint16_t division, uint32_t tempo, uint8_t numerator,
                  uint8_t denominatorExponent);

    // Creates `path` with a header of length 6 and the given fields, and no track yet:
    // each track is opened by BeginTrack, filled by WriteDeltaTime and WriteBytes (its
    // end-of-track event included) and closed by EndTrack. FinishSmf then closes the file;
    // no pad byte is added. False when the file cannot be created.
    bool BeginFile(const std::string& path, uint16_t format, uint16_t trackCount,
                   uint16_t division);
    // Writes "MTrk" and a placeholder length; EndTrack patches in the length.
    void BeginTrack();
    void EndTrack();

    // Writes the time that precedes the next event: delta + pending as one quantity, or,
    // when the sum does not fit, pending, a "Delta Over" marker event, then delta.
    void WriteDeltaTime(uint32_t delta, uint32_t pending);

    void WriteBytes(std::initializer_list<uint8_t> bytes);
    void WriteBytes(std::span<const uint8_t> bytes);

    // Pads an odd track with one zero byte, patches both lengths and closes the file.
    // False when any write failed; the file is then deleted, as by AbandonSmf.
    [[nodiscard]] bool FinishSmf();

    // Closes the file and deletes it.
    void AbandonSmf();

    bool IsOpen() const { return file_.IsOpen(); }
    // Sticky: some write since BeginSmf did not reach the file layer.
    bool WriteFailed() const { return file_.WriteFailed(); }
    const std::string& Path() const { return path_; }

  private:
    ChunkFile file_;
    std::string path_;
    bool tracksOwnLengths_ = false; // opened by BeginFile
    int64_t trackStart_ = -1;       // BeginFile: offset of the open track's "MTrk", -1 none
};

} // namespace sonvex
