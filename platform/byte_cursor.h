// SPDX-License-Identifier: GPL-3.0-or-later
// A fail-soft reader over foreign bytes: every read states its width and byte order,
// a read past the end yields 0 and clears ok() for good, and nothing is ever read
// outside the window the cursor was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sonvex {

class ByteCursor {
  public:
    ByteCursor() = default;
    ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteCursor(std::span<const uint8_t> bytes)
        : data_(bytes.data()), size_(bytes.size()) {}

    bool ok() const { return ok_; }
    size_t size() const { return size_; }
    size_t position() const { return position_; }
    size_t remaining() const { return position_ <= size_ ? size_ - position_ : 0; }
    bool canRead(size_t n) const { return ok_ && n <= remaining(); }

    // Moves to an absolute position inside the window; past the end clears ok().
    bool seek(size_t position) {
        if (position > size_) {
            ok_ = false;
            return false;
        }
        position_ = position;
        return true;
    }
    bool skip(size_t n) {
        if (!canRead(n)) {
            ok_ = false;
            return false;
        }
        position_ += n;
        return true;
    }

    uint8_t u8() { return static_cast<uint8_t>(take(1)); }
    int8_t s8() { return static_cast<int8_t>(u8()); }
    uint16_t u16le() { return static_cast<uint16_t>(take(2)); }
    int16_t s16le() { return static_cast<int16_t>(u16le()); }
    uint32_t u32le() { return static_cast<uint32_t>(take(4)); }
    int32_t s32le() { return static_cast<int32_t>(u32le()); }
    uint64_t u64le() { return take(8); }
    uint16_t u16be() { return static_cast<uint16_t>(take<true>(2)); }
    uint32_t u24be() { return static_cast<uint32_t>(take<true>(3)); }
    uint32_t u32be() { return static_cast<uint32_t>(take<true>(4)); }

    // A MIDI variable-length quantity of at most four bytes.
    uint32_t varLen() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = u8();
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80)) {
                return value;
            }
        }
        ok_ = false;
        return 0;
    }

    // Copies n bytes; a short window clears ok() and copies nothing.
    bool bytes(void* destination, size_t n) {
        if (!canRead(n)) {
            ok_ = false;
            return false;
        }
        auto* out = static_cast<uint8_t*>(destination);
        for (size_t i = 0; i < n; ++i) {
            out[i] = data_[position_ + i];
        }
        position_ += n;
        return true;
    }

    // A cursor over the next n bytes (clamped to what is left); this one moves past them.
    ByteCursor sub(size_t n) {
        const size_t take = n <= remaining() ? n : remaining();
        if (take < n) {
            ok_ = false;
        }
        ByteCursor child(data_ + position_, take);
        position_ += take;
        return child;
    }

    const uint8_t* data() const { return data_; }

  private:
    // n bytes as one number, the first byte lowest unless `BigEndian`.
    template <bool BigEndian = false> uint64_t take(size_t n) {
        if (!canRead(n)) {
            ok_ = false;
            position_ = size_;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint64_t byte = data_[position_ + i];
            v = BigEndian ? (v << 8) | byte : v | byte << (8 * i);
        }
        position_ += n;
        return v;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    bool ok_ = true;
};

} // namespace sonvex
