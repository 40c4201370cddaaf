// SPDX-License-Identifier: GPL-3.0-or-later
// Convert lists and game files for tests, laid out byte by byte from descriptions.
#include "testkit/convert_list_builder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sonvex::testkit {

ConvertListBuilder& ConvertListBuilder::folder(std::string_view text) {
    folder_ = std::string(text);
    return *this;
}

ConvertListBuilder& ConvertListBuilder::entry(uint32_t type, int32_t number, uint64_t offset,
                                              std::string_view fileName) {
    items_.push_back(Item{type, number, offset, std::string(fileName), std::nullopt, false});
    return *this;
}

ConvertListBuilder& ConvertListBuilder::count(uint32_t stored) {
    count_ = stored;
    return *this;
}

ConvertListBuilder& ConvertListBuilder::pathLength(uint8_t stored) {
    pathLength_ = stored;
    return *this;
}

ConvertListBuilder& ConvertListBuilder::nameLength(uint8_t stored) {
    if (!items_.empty()) {
        items_.back().lengthByte = stored;
    }
    return *this;
}

ConvertListBuilder& ConvertListBuilder::nameWithoutNul() {
    if (!items_.empty()) {
        items_.back().withoutNul = true;
    }
    return *this;
}

void ConvertListBuilder::appendEntry(ByteBuilder& out, const Item& item) const {
    const size_t stored = item.fileName.size() + (item.withoutNul ? 0 : 1);
    out.u32le(item.type).u32le(static_cast<uint32_t>(item.number)).u64le(item.offset);
    out.u8(item.lengthByte.value_or(static_cast<uint8_t>(stored)));
    out.text(item.fileName);
    if (!item.withoutNul) {
        out.u8(0);
    }
}

Bytes ConvertListBuilder::build() const {
    ByteBuilder out;
    out.u32le(count_.value_or(static_cast<uint32_t>(items_.size())));
    out.u8(pathLength_.value_or(static_cast<uint8_t>(folder_.size() + 1)));
    out.text(folder_).u8(0);
    for (const Item& item : items_) {
        appendEntry(out, item);
    }
    return out.take();
}

Bytes ConvertListBuilder::buildCut(size_t length) const {
    Bytes bytes = build();
    bytes.resize(std::min(length, bytes.size()));
    return bytes;
}

size_t ConvertListBuilder::entryStart(size_t index) const {
    size_t position = 5 + folder_.size() + 1;
    for (size_t i = 0; i < index && i < items_.size(); ++i) {
        position += 17 + items_[i].fileName.size() + (items_[i].withoutNul ? 0 : 1);
    }
    return position;
}

GameFileBuilder& GameFileBuilder::noise(uint32_t seed) {
    noiseSeed_ = seed;
    return *this;
}

GameFileBuilder& GameFileBuilder::put(uint64_t offset, Bytes bytes) {
    pieces_[offset] = std::move(bytes);
    return *this;
}

uint8_t GameFileBuilder::background(uint64_t position) const {
    if (!noiseSeed_) {
        return 0;
    }
    // A position hash, so that any byte can be had without making the ones before it.
    uint64_t x = position * 0x9E3779B97F4A7C15ull + *noiseSeed_;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return static_cast<uint8_t>(x >> 24);
}

Bytes GameFileBuilder::slice(uint64_t offset, uint64_t count) const {
    Bytes out(static_cast<size_t>(count), 0);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t position = offset + i;
        out[static_cast<size_t>(i)] = position < length_ ? background(position) : 0;
    }
    // Pieces in ascending offset, so the later placement of an overlap wins.
    for (const auto& [start, bytes] : pieces_) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const uint64_t position = start + i;
            if (position >= offset && position < offset + count && position < length_) {
                out[static_cast<size_t>(position - offset)] = bytes[i];
            }
        }
    }
    return out;
}

bool GameFileBuilder::writeTo(const std::string& path) const {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        if (noiseSeed_) {
            const Bytes all = build();
            out.write(reinterpret_cast<const char*>(all.data()),
                      static_cast<std::streamsize>(all.size()));
        } else {
            for (const auto& [start, bytes] : pieces_) {
                if (start >= length_) {
                    continue;
                }
                const auto count =
                    static_cast<std::streamsize>(std::min<uint64_t>(bytes.size(), length_ - start));
                out.seekp(static_cast<std::streamoff>(start));
                out.write(reinterpret_cast<const char*>(bytes.data()), count);
            }
        }
        if (!out) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::resize_file(path, length_, error);
    return !error;
}

int64_t MemoryListFile::Read(void* destination, int64_t length) {
    if (length <= 0 || position_ >= bytes_.size()) {
        return 0;
    }
    const size_t count = std::min(static_cast<size_t>(length), bytes_.size() - position_);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count,
                static_cast<uint8_t*>(destination));
    position_ += count;
    return static_cast<int64_t>(count);
}

int64_t MemoryListFile::Write(const void* source, int64_t length) {
    if (length <= 0) {
        return 0;
    }
    size_t count = static_cast<size_t>(length);
    if (writeLimit_) {
        count = std::min(count, *writeLimit_ - std::min(*writeLimit_, written_));
    }
    if (bytes_.size() < position_ + count) {
        bytes_.resize(position_ + count);
    }
    std::copy_n(static_cast<const uint8_t*>(source), count,
                bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += count;
    written_ += count;
    return static_cast<int64_t>(count);
}

bool MemoryListFile::SeekFromStart(int64_t position) {
    if (position < 0) {
        return false;
    }
    position_ = static_cast<size_t>(position);
    return true;
}

bool MemoryListFile::SeekBy(int64_t delta) {
    const auto target = static_cast<int64_t>(position_) + delta;
    return SeekFromStart(target);
}

namespace {

std::string HexDump(const Bytes& bytes, size_t from, size_t count) {
    std::string text;
    char cell[4];
    for (size_t i = from; i < bytes.size() && i < from + count; ++i) {
        std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        text += cell;
    }
    return text.empty() ? "(end)" : text;
}

} // namespace

std::string DescribeDifference(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) {
        return "";
    }
    const auto mismatch =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const auto at = static_cast<size_t>(mismatch.first - actual.begin());
    const size_t from = at >= 8 ? at - 8 : 0;
    char head[128];
    std::snprintf(head, sizeof head,
                  "first difference at 0x%zX (actual %zu bytes, expected %zu bytes)\n", at,
                  actual.size(), expected.size());
    char where[32];
    std::snprintf(where, sizeof where, "from 0x%zX\n", from);
    return std::string(head) + where + "  actual:   " + HexDump(actual, from, 24) +
           "\n  expected: " + HexDump(expected, from, 24);
}

} // namespace sonvex::testkit
