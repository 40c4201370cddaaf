// SPDX-License-Identifier: GPL-3.0-or-later
// Builds byte strings from readable pieces: integers of stated width and byte order,
// text, fills and random noise. Every testkit builder writes through it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sonvex::testkit {

using Bytes = std::vector<uint8_t>;

class ByteBuilder {
  public:
    ByteBuilder& u8(uint32_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    ByteBuilder& u16le(uint32_t v) { return u8(v).u8(v >> 8); }
    ByteBuilder& u32le(uint32_t v) { return u16le(v).u16le(v >> 16); }
    ByteBuilder& u64le(uint64_t v) {
        return u32le(static_cast<uint32_t>(v)).u32le(static_cast<uint32_t>(v >> 32));
    }
    ByteBuilder& u16be(uint32_t v) { return u8(v >> 8).u8(v); }
    ByteBuilder& u24be(uint32_t v) { return u8(v >> 16).u8(v >> 8).u8(v); }
    ByteBuilder& u32be(uint32_t v) { return u16be(v >> 16).u16be(v); }
    // A MIDI variable-length quantity.
    ByteBuilder& varLen(uint32_t v);
    // The characters of `s`, no terminator.
    ByteBuilder& text(std::string_view s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    ByteBuilder& append(const Bytes& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    ByteBuilder& fill(size_t n, uint8_t value = 0) {
        bytes_.insert(bytes_.end(), n, value);
        return *this;
    }
    // n bytes from a seeded generator: the same seed gives the same bytes.
    ByteBuilder& noise(size_t n, uint32_t seed);
    // Zero bytes up to the next multiple of `alignment`.
    ByteBuilder& padTo(size_t alignment);
    // Overwrites a little-endian u32 at `offset` (for sizes known only at the end).
    ByteBuilder& patchU32le(size_t offset, uint32_t v);

    size_t size() const { return bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

// Writes bytes to a file, replacing it; false on failure.
bool WriteFile(const std::string& path, const Bytes& bytes);
// The whole file, or an empty vector when it cannot be read.
Bytes ReadFile(const std::string& path);

// A fresh, empty folder under the system's temporary folder, removed on destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  private:
    std::string path_;
};

} // namespace sonvex::testkit
