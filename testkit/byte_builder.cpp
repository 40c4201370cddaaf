// SPDX-License-Identifier: GPL-3.0-or-later
// Byte building, file helpers and temporary folders for tests.
#include "testkit/byte_builder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sonvex::testkit {

ByteBuilder& ByteBuilder::varLen(uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0 && n < 5);
    while (n > 0) {
        --n;
        u8(groups[n] | (n > 0 ? 0x80 : 0));
    }
    return *this;
}

ByteBuilder& ByteBuilder::noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i < n; ++i) {
        bytes_.push_back(static_cast<uint8_t>(rng() >> 24));
    }
    return *this;
}

ByteBuilder& ByteBuilder::padTo(size_t alignment) {
    while (alignment != 0 && bytes_.size() % alignment != 0) {
        bytes_.push_back(0);
    }
    return *this;
}

ByteBuilder& ByteBuilder::patchU32le(size_t offset, uint32_t v) {
    for (size_t i = 0; i < 4 && offset + i < bytes_.size(); ++i) {
        bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    return *this;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sonvex-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    path_ = made ? std::string(made) : pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace sonvex::testkit
