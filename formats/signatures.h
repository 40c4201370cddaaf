// SPDX-License-Identifier: GPL-3.0-or-later
// The byte signatures that open the items a game file is scanned for: one table from which
// the scanner's classification and pre-filter, the test images and the fuzz dictionary are made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sonvex::signatures {

// The scanner looks at the file through a window of this many bytes; every signature
// fits in it and starts at its first byte.
inline constexpr size_t kWindowSize = 16;

// What an item found at a signature is; each kind is one type of convert list entry.
enum class ItemKind : uint8_t { Seq, Vh, Vb, KcetSeq, SceiHead, SceiMidi, GpmHead, GpmSeq };

struct Signature {
    // The signature's bytes as they lie in the file. Most magics were written as
    // little-endian words, so they read reversed ("pQES" for "SEQp").
    std::string_view magic;
    ItemKind kind;
    // How many leading bytes of `magic` already make the window a near miss when the rest
    // differs: such a window is passed without counting as idle (see the scanner's idle
    // steps). magic.size() when the signature has no such family.
    size_t familyLength;
    // Only the extended recognition rules look for it.
    bool extendedOnly = false;
    // The window is a candidate only when the 16-byte block behind it starts a sample: its
    // second byte (window + 17) holds sample-start flags.
    bool needsSampleStartBehind = false;
};

// Sixteen zero bytes: the empty first block of every bank body.
inline constexpr std::string_view kZeroBlock{"\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", kWindowSize};

// The order fixes which bit of the pre-filter's byte lanes each leading byte pair owns
// (first appearance, in table order); the searches check it against their masks.
inline constexpr std::array kSignatures = {
    Signature{kZeroBlock, ItemKind::Vb, 4, false, true},
    Signature{"pQES", ItemKind::Seq, 4},
    Signature{"pBAV", ItemKind::Vh, 4},
    // Some games store the sequence magic byte-reversed; the layout behind it is the same.
    Signature{"SEQp", ItemKind::Seq, 4, true},
    Signature{"SShd", ItemKind::GpmHead, 4},
    Signature{"SSsq", ItemKind::GpmSeq, 4},
    Signature{"KCET", ItemKind::KcetSeq, 4},
    // "IECS" is shared; the second word says which item it opens.
    Signature{"IECSdaeH", ItemKind::SceiHead, 4},
    Signature{"IECSidiM", ItemKind::SceiMidi, 4},
};

// Whether the `available` bytes at `bytes` begin with `prefix`.
constexpr bool StartsWith(const uint8_t* bytes, size_t available, std::string_view prefix) {
    if (available < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (bytes[i] != static_cast<uint8_t>(prefix[i])) {
            return false;
        }
    }
    return true;
}

// The first signature of `kind` in the table: the one a writer of such an item uses.
constexpr std::string_view MagicOf(ItemKind kind) {
    for (const Signature& s : kSignatures) {
        if (s.kind == kind) {
            return s.magic;
        }
    }
    return {};
}

namespace detail {
constexpr bool TableIsSound() {
    for (const Signature& s : kSignatures) {
        // The pre-filter looks at the first two bytes of a window only.
        if (s.magic.size() < 2 || s.magic.size() > kWindowSize || s.familyLength < 2 ||
            s.familyLength > s.magic.size()) {
            return false;
        }
    }
    return true;
}
} // namespace detail

static_assert(detail::TableIsSound(),
              "every signature fits the window and opens with the pair the pre-filter finds");

} // namespace sonvex::signatures
