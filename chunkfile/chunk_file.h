// SPDX-License-Identifier: GPL-3.0-or-later
// Buffered file with RIFF chunk operations: create a chunk, LIST or RIFF, ascend
// (fixing the size and adding the pad byte), and descend to a named chunk.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"

namespace sonvex {

// A four-character code as it stands in a RIFF file, first character in the low byte.
constexpr uint32_t FourCC(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}

constexpr uint32_t kRiffId = FourCC("RIFF");
constexpr uint32_t kListId = FourCC("LIST");

enum class SeekOrigin { Begin, Current, End };

// One chunk's header as the file holds it, and where its data begins.
struct ChunkInfo {
    uint32_t id = 0;        // four-character chunk id
    uint32_t size = 0;      // data bytes, form type included for LIST and RIFF
    uint32_t formType = 0;  // list or form type of a LIST or RIFF chunk
    int64_t dataOffset = 0; // file offset of the first data byte (the form type for LIST/RIFF)
    bool created = false;   // made by Create*; Ascend then writes the size back

    int64_t End() const { return dataOffset + size; }
};

// How Descend picks the chunk it enters.
enum class DescendMode {
    Next,      // the next chunk, whatever its id
    FindChunk, // the next chunk with the given id
    FindList,  // the next LIST with the given list type
    FindRiff   // the next RIFF with the given form type
};

class ChunkFile {
  public:
    static constexpr int64_t kBufferSize = 64 * 1024;

    ChunkFile();
    ~ChunkFile();
    ChunkFile(const ChunkFile&) = delete;
    ChunkFile& operator=(const ChunkFile&) = delete;

    // Opens an existing file for reading.
    bool OpenRead(const std::string& path);
    // Reads `file`, opened already (false when it is null); `path` is what Path() tells.
    bool OpenRead(std::unique_ptr<RawFile> file, const std::string& path);
    // Creates a file for reading and writing, replacing one of the same name.
    bool Create(const std::string& path);
    // Flushes and closes; false when any write since opening failed.
    bool Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

    // Return the number of bytes moved; fewer than asked is a short read or a failed write.
    // Reads inside lent bytes take no call: the checks of the scanner read byte by byte.
    int64_t Read(void* destination, int64_t length) {
        const int64_t at = position_ - lentStart_;
        if (at >= 0 && length > 0 && length <= lentLength_ - at) {
            if (length == 1) {
                *static_cast<uint8_t*>(destination) = lent_[at];
            } else {
                std::memcpy(destination, lent_ + at, static_cast<size_t>(length));
            }
            position_ += length;
            return length;
        }
        return ReadThroughBuffer(destination, length);
    }
    int64_t Write(const void* source, int64_t length);
    bool WriteBytes(const std::vector<uint8_t>& bytes) {
        return Write(bytes.data(), static_cast<int64_t>(bytes.size())) ==
               static_cast<int64_t>(bytes.size());
    }
    bool WriteU8(uint8_t v) { return Write(&v, 1) == 1; }
    bool WriteU16le(uint16_t v);
    bool WriteU32le(uint32_t v);

    // Returns the new position, or -1 when it would lie before the start.
    int64_t Seek(int64_t offset, SeekOrigin origin);
    int64_t Tell() const { return position_; }
    int64_t Size();

    // A file opened for reading: bytes [start, start + length) of the file that the caller
    // already holds in memory, unchanged and valid until the next call or Close. Reads
    // within them copy from there instead of going to the file. Length 0 ends the loan.
    // `toFileEnd`: the lent bytes run to the end of the file.
    void LendBytes(int64_t start, const uint8_t* bytes, int64_t length, bool toFileEnd = false);

    // The bytes lent, if any: their first byte's position in the file, and whether the file
    // ends with them.
    struct Loan {
        const uint8_t* bytes = nullptr;
        int64_t start = 0;
        int64_t length = 0;
        bool toFileEnd = false;
    };
    Loan Lent() const { return {lent_, lentStart_, lentLength_, lentToFileEnd_}; }

    // Sticky: a write since opening moved fewer bytes than asked.
    bool WriteFailed() const { return writeFailed_; }

    // Writes an 8-byte chunk header (id, size 0) and remembers where its data starts.
    bool CreateChunk(ChunkInfo& chunk, uint32_t id);
    // A LIST chunk with its list type.
    bool CreateList(ChunkInfo& chunk, uint32_t listType);
    // A RIFF chunk with its form type.
    bool CreateRiff(ChunkInfo& chunk, uint32_t formType);
    // Leaves a chunk. For a created chunk: writes its size (current position minus data
    // start) into the header, and one zero pad byte after odd data that the size does not
    // count. For a chunk descended into: moves past its data and pad byte.
    bool Ascend(ChunkInfo& chunk);
    // Enters the next chunk within `parent` (or the whole file) that fits `mode`; on
    // success the position is at its data, after the form type for LIST and RIFF.
    bool Descend(ChunkInfo& chunk, const ChunkInfo* parent, DescendMode mode, uint32_t id = 0);

    static bool Delete(const std::string& path) { return ActiveFileSystem().Remove(path); }
    static bool Rename(const std::string& from, const std::string& to) {
        return ActiveFileSystem().Rename(from, to);
    }

  private:
    int64_t ReadThroughBuffer(void* destination, int64_t length);
    bool Flush();
    void LoadWindow(int64_t position);

    std::unique_ptr<RawFile> file_;
    std::string path_;
    std::vector<uint8_t> buffer_;
    int64_t windowStart_ = 0;  // file offset of buffer_[0]
    int64_t windowLength_ = 0; // valid bytes in buffer_
    bool windowLoaded_ = false;
    int64_t dirtyBegin_ = -1; // buffer range to write back, -1 when clean
    int64_t dirtyEnd_ = -1;
    int64_t position_ = 0;
    const uint8_t* lent_ = nullptr; // bytes of the file the caller holds, from lentStart_
    int64_t lentStart_ = 0;
    int64_t lentLength_ = 0;
    bool lentToFileEnd_ = false;
    bool writable_ = false;
    bool writeFailed_ = false;
};

} // namespace sonvex
