// SPDX-License-Identifier: GPL-3.0-or-later
// Builds convert lists from readable descriptions, sound or deliberately damaged, and
// game files with chosen bytes at chosen offsets, so that tests make their own inputs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convlist/convert_list.h"
#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// A convert list laid out byte by byte from its description, independently of the
// convlist writers. Damage is described on the entry last added or on the header.
class ConvertListBuilder {
  public:
    ConvertListBuilder& folder(std::string_view text);
    ConvertListBuilder& entry(uint32_t type, int32_t number, uint64_t offset,
                              std::string_view fileName);

    // Damage to the header: a count other than the number of entries, a path length byte
    // other than characters + 1.
    ConvertListBuilder& count(uint32_t stored);
    ConvertListBuilder& pathLength(uint8_t stored);
    // Damage to the entry last added: a length byte that lies (the name and its NUL are
    // still stored in full), or a name stored without its NUL (the length byte then
    // counts the characters only).
    ConvertListBuilder& nameLength(uint8_t stored);
    ConvertListBuilder& nameWithoutNul();

    Bytes build() const;
    // The first `length` bytes of build(): a header or entry cut short.
    Bytes buildCut(size_t length) const;
    // Where entry `index` starts in build() (index == entries gives the end).
    size_t entryStart(size_t index) const;

  private:
    struct Item {
        uint32_t type = 0;
        int32_t number = 0;
        uint64_t offset = 0;
        std::string fileName;
        std::optional<uint8_t> lengthByte;
        bool withoutNul = false;
    };
    void appendEntry(ByteBuilder& out, const Item& item) const;

    std::string folder_ = "/games";
    std::optional<uint32_t> count_;
    std::optional<uint8_t> pathLength_;
    std::vector<Item> items_;
};

// A game file of a given length: zeros or seeded noise underneath, with chosen bytes
// placed at chosen offsets (later placements win). Any byte can be asked for without
// building the whole file, so files of several GiB can be written sparse.
class GameFileBuilder {
  public:
    explicit GameFileBuilder(uint64_t length) : length_(length) {}
    GameFileBuilder& noise(uint32_t seed);
    GameFileBuilder& put(uint64_t offset, Bytes bytes);

    uint64_t length() const { return length_; }
    // Bytes [offset, offset + count) with zeros for everything past the end of the file.
    Bytes slice(uint64_t offset, uint64_t count) const;
    Bytes build() const { return slice(0, length_); }
    // Writes the file; without noise only the placed bytes are written and the rest is
    // left as a hole, so a file beyond 4 GiB costs little. False on failure.
    bool writeTo(const std::string& path) const;

  private:
    uint8_t background(uint64_t position) const;

    uint64_t length_;
    std::optional<uint32_t> noiseSeed_;
    std::map<uint64_t, Bytes> pieces_;
};

// A ListFile over bytes in memory. Writes past the end grow it; with a write limit, the
// write that would pass the limit moves only the bytes up to it (a full disk).
class MemoryListFile : public ListFile {
  public:
    MemoryListFile() = default;
    explicit MemoryListFile(Bytes bytes) : bytes_(std::move(bytes)) {}
    void limitWrites(size_t totalBytes) { writeLimit_ = totalBytes; }
    const Bytes& bytes() const { return bytes_; }
    size_t position() const { return position_; }

    int64_t Read(void* destination, int64_t length) override;
    int64_t Write(const void* source, int64_t length) override;
    bool SeekFromStart(int64_t position) override;
    bool SeekBy(int64_t delta) override;

  private:
    Bytes bytes_;
    size_t position_ = 0;
    std::optional<size_t> writeLimit_;
    size_t written_ = 0;
};

// "" when the two are equal; otherwise where they first differ (hex offset), both
// lengths and a short hex dump of each side from 8 bytes before that offset.
std::string DescribeDifference(const Bytes& actual, const Bytes& expected);

} // namespace sonvex::testkit
