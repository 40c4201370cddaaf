// SPDX-License-Identifier: GPL-3.0-or-later
// Signature-pair and zero-run searches: AVX2 where the processor has it, SSE2 otherwise on
// x86-64, and a byte loop everywhere else and for the tails. The run of plain sequence
// events: AVX2, or eight bytes at a time in a general register.
#include "analysis/signature_search.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "formats/signatures.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define SONVEX_SEARCH_X86 1
#include <immintrin.h>
#endif

namespace sonvex {

namespace {

using BytePair = std::array<uint8_t, 2>;

// The distinct leading byte pairs of the signature table, in table order; pair i owns bit
// i of the byte lanes below.
struct PairList {
    std::array<BytePair, 8> pairs{};
    size_t count = 0;
};

constexpr PairList SignaturePairs() {
    PairList list;
    for (const signatures::Signature& s : signatures::kSignatures) {
        const BytePair pair = {static_cast<uint8_t>(s.magic[0]), static_cast<uint8_t>(s.magic[1])};
        bool known = false;
        for (size_t i = 0; i < list.count; ++i) {
            known = known || list.pairs[i] == pair;
        }
        if (!known) {
            // More than eight pairs would not fit the bytes of the lanes; the count shows it.
            if (list.count < list.pairs.size()) {
                list.pairs[list.count] = pair;
            }
            ++list.count;
        }
    }
    return list;
}

constexpr PairList kPairs = SignaturePairs();
static_assert(kPairs.count <= 8, "one bit per signature pair in a byte");

// For every byte value, the bits of the pairs that have it as their first (side 0) or
// second (side 1) byte. A pair (a, b) is a signature pair when the bits of a as a first
// byte and of b as a second byte share one: each bit stands for one pair, so this is exact.
constexpr std::array<uint8_t, 256> PairBitsOf(size_t side) {
    std::array<uint8_t, 256> bits{};
    for (size_t i = 0; i < kPairs.count; ++i) {
        bits[kPairs.pairs[i][side]] |= static_cast<uint8_t>(1u << i);
    }
    return bits;
}

constexpr std::array<uint8_t, 256> kFirstBits = PairBitsOf(0);
constexpr std::array<uint8_t, 256> kSecondBits = PairBitsOf(1);

size_t FindPairBytes(const uint8_t* data, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (IsSignaturePair(data[i], data[i + 1])) {
            return i;
        }
    }
    return to;
}

size_t FindNonZeroBytes(const uint8_t* data, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (data[i] != 0) {
            return i;
        }
    }
    return to;
}

// Bytes of a plain event behind its delta time, by the high nibble of the byte right after
// the delta: a data byte (0..7) and the second data byte; a status byte 8x, 9x, Bx or Ex and
// its two data bytes; An or Dn alone. 0 for Cx and Fx, which end a run.
constexpr std::array<uint8_t, 16> kPlainTail = {2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 1, 3, 0, 1, 3, 0};
// The longest plain event: a three-byte delta, a status and two data bytes.
constexpr size_t kLongestPlainEvent = 6;

// The length of the plain event at data[at], or 0 when it is not plain or runs past `end`.
size_t PlainEventLength(const uint8_t* data, size_t at, size_t end) {
    size_t next = at;
    for (int deltaBytes = 0;; ++deltaBytes) {
        if (next >= end || deltaBytes == 3) {
            return 0;
        }
        if ((data[next++] & 0x80) == 0) {
            break;
        }
    }
    if (next >= end) {
        return 0;
    }
    const size_t tail = kPlainTail[data[next] >> 4];
    const size_t length = next - at + tail;
    return tail != 0 && end - at >= length ? length : 0;
}

size_t SkipPlainBytes(const uint8_t* data, size_t at, size_t end) {
    // Eight bytes hold any plain event whole: the last byte of the delta is the lowest byte
    // without its top bit, and the byte after it decides the rest.
    static_assert(kLongestPlainEvent <= sizeof(uint64_t));
    while (at < end && end - at >= sizeof(uint64_t)) {
        uint64_t word = 0;
        std::memcpy(&word, data + at, sizeof word);
        if constexpr (std::endian::native == std::endian::big) {
            word = __builtin_bswap64(word);
        }
        const uint64_t lastDeltaByte = ~word & 0x808080U;
        if (lastDeltaByte == 0) {
            return at; // a delta of four bytes or more
        }
        const int deltaBytes = std::countr_zero(lastDeltaByte) / 8 + 1;
        const size_t tail = kPlainTail[(word >> (8 * deltaBytes + 4)) & 0x0F];
        if (tail == 0) {
            return at;
        }
        at += static_cast<size_t>(deltaBytes) + tail;
    }
    for (size_t length = 0; at < end && (length = PlainEventLength(data, at, end)) != 0;) {
        at += length;
    }
    return at;
}

#ifdef SONVEX_SEARCH_X86

// The same bits looked up by nibble: a byte's bits as a first byte are
// kFirstLow[low nibble] & kFirstHigh[high nibble]. Every bit stands for one byte value, so
// the split lookup is as exact as the whole one. Likewise for second bytes.
constexpr std::array<uint8_t, 16> NibbleBits(size_t side, bool high) {
    std::array<uint8_t, 16> bits{};
    for (size_t i = 0; i < kPairs.count; ++i) {
        const uint8_t value = kPairs.pairs[i][side];
        bits[high ? value >> 4 : value & 0x0F] |= static_cast<uint8_t>(1u << i);
    }
    return bits;
}

using Nibbles = std::array<uint8_t, 16>;
alignas(16) constexpr Nibbles kFirstLow = NibbleBits(0, false);
alignas(16) constexpr Nibbles kFirstHigh = NibbleBits(0, true);
alignas(16) constexpr Nibbles kSecondLow = NibbleBits(1, false);
alignas(16) constexpr Nibbles kSecondHigh = NibbleBits(1, true);

__attribute__((target("avx2"))) inline __m256i BothLanes(const Nibbles& bits) {
    return _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(bits.data())));
}

__attribute__((target("avx2"), always_inline)) inline __m256i
PairBits(__m256i v, __m256i low, __m256i high, __m256i nibble) {
    const __m256i lo = _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble));
    const __m256i hi = _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
    return _mm256_and_si256(lo, hi);
}

__attribute__((target("avx2"))) size_t FindPairAvx2(const uint8_t* data, size_t from, size_t to) {
    const __m256i firstLow = BothLanes(kFirstLow);
    const __m256i firstHigh = BothLanes(kFirstHigh);
    const __m256i secondLow = BothLanes(kSecondLow);
    const __m256i secondHigh = BothLanes(kSecondHigh);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    size_t i = from;
    // data[i + 32] is the last byte a step reads; it is within [.., to].
    for (; i + 64 <= to; i += 64) {
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 33));
        const __m256i hit0 = _mm256_and_si256(PairBits(a0, firstLow, firstHigh, nibble),
                                              PairBits(b0, secondLow, secondHigh, nibble));
        const __m256i hit1 = _mm256_and_si256(PairBits(a1, firstLow, firstHigh, nibble),
                                              PairBits(b1, secondLow, secondHigh, nibble));
        if (!_mm256_testz_si256(_mm256_or_si256(hit0, hit1), _mm256_or_si256(hit0, hit1))) {
            const auto m0 =
                static_cast<uint32_t>(~_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit0, zero)));
            if (m0 != 0) {
                return i + static_cast<size_t>(__builtin_ctz(m0));
            }
            const auto m1 =
                static_cast<uint32_t>(~_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit1, zero)));
            return i + 32 + static_cast<size_t>(__builtin_ctz(m1));
        }
    }
    return FindPairBytes(data, i, to);
}

__attribute__((target("avx2"))) size_t FindNonZeroAvx2(const uint8_t* data, size_t from,
                                                       size_t to) {
    size_t i = from;
    for (; i + 128 <= to; i += 128) {
        const auto* p = reinterpret_cast<const __m256i*>(data + i);
        const __m256i any =
            _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)),
                            _mm256_or_si256(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3)));
        if (!_mm256_testz_si256(any, any)) {
            break;
        }
    }
    const __m256i zero = _mm256_setzero_si256();
    for (; i + 32 <= to; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        const auto m = static_cast<uint32_t>(~_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
        if (m != 0) {
            return i + static_cast<size_t>(__builtin_ctz(m));
        }
    }
    return FindNonZeroBytes(data, i, to);
}

// One compare of each byte and its successor per pair; the compiler folds the repeated
// byte compares.
template <size_t... I> __m128i PairHitsSse2(__m128i a, __m128i b, std::index_sequence<I...>) {
    auto same = [](__m128i v, uint8_t c) {
        return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)));
    };
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit,
                         _mm_and_si128(same(a, kPairs.pairs[I][0]), same(b, kPairs.pairs[I][1])))),
     ...);
    return hit;
}

size_t FindPairSse2(const uint8_t* data, size_t from, size_t to) {
    size_t i = from;
    for (; i + 16 <= to; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const int m =
            _mm_movemask_epi8(PairHitsSse2(a, b, std::make_index_sequence<kPairs.count>{}));
        if (m != 0) {
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(m)));
        }
    }
    return FindPairBytes(data, i, to);
}

size_t FindNonZeroSse2(const uint8_t* data, size_t from, size_t to) {
    const __m128i zero = _mm_setzero_si128();
    size_t i = from;
    for (; i + 16 <= to; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const int m = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) ^ 0xFFFF;
        if (m != 0) {
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(m)));
        }
    }
    return FindNonZeroBytes(data, i, to);
}

// Plain sequence events, 32 starting positions at a time, as two lanes of 16. For every
// position j of a lane, next[j] says where the plain event starting there leads: the
// position behind it in the lane, 0x80 + its offset into the next lane when it ends past
// the lane, or j itself when the event there is not plain (where a walk stops). Three rounds
// of next[j] = next[next[j]] follow eight events at once; a plain event takes two bytes at
// least, so eight leave the lane from any position unless a stop comes first. The walk of
// the first lane is then carried on through the second, and two stretches of 32 bytes are
// joined the same way, so that the walk takes one look-up per 64 bytes. A walk enters a
// stretch at most five bytes in (the longest plain event less one), so the first lane's
// entries are all it needs.
alignas(16) constexpr std::array<uint8_t, 16> kPlainTailOrStop = [] {
    std::array<uint8_t, 16> tails{};
    for (size_t i = 0; i < tails.size(); ++i) {
        tails[i] = kPlainTail[i] != 0 ? kPlainTail[i] : 0x80; // the top bit: not plain
    }
    return tails;
}();

// Bytes from the start of a stretch of 32 positions that they need: the events that start
// there must end within them.
constexpr size_t kPlainBlockReach = 32 + kLongestPlainEvent - 1;

// Where the walk from the entries of `first` (its first lane) ends when it goes on through
// `second` (entered at its first lane), whose positions lie `span` bytes further on: a stop
// in `first` stays; a lead past it (0x80 + the entry into `second`) becomes where `second`
// leads from that entry.
__attribute__((target("avx2"), always_inline)) inline __m256i
ThenThrough(__m256i first, __m256i second, __m256i span) {
    const __m256i on = _mm256_shuffle_epi8(second, _mm256_and_si256(first, _mm256_set1_epi8(0x0F)));
    const __m256i past = _mm256_cmpgt_epi8(_mm256_setzero_si256(), on);
    const __m256i moved = _mm256_add_epi8(on, _mm256_andnot_si256(past, span));
    return _mm256_blendv_epi8(first, moved, first);
}

// The leads from the first 16 positions at `at` through the 32 there.
__attribute__((target("avx2"), always_inline)) inline __m256i
PlainEventLeads(const uint8_t* at, __m256i tails, __m256i positions) {
    const __m256i zero = _mm256_setzero_si256();
    // bK: the byte K places after each position.
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2));
    const __m256i b3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 3));
    // longerK: the delta time has more than K bytes (all lanes -1 where so).
    const __m256i longer1 = _mm256_cmpgt_epi8(zero, b0);
    const __m256i longer2 = _mm256_and_si256(longer1, _mm256_cmpgt_epi8(zero, b1));
    const __m256i longer3 = _mm256_and_si256(longer2, _mm256_cmpgt_epi8(zero, b2));
    // The byte right behind the delta time.
    __m256i status = _mm256_blendv_epi8(b1, b2, longer1);
    status = _mm256_blendv_epi8(status, b3, longer2);
    const __m256i tail = _mm256_shuffle_epi8(
        tails, _mm256_and_si256(_mm256_srli_epi16(status, 4), _mm256_set1_epi8(0x0F)));
    // 1 + the delta's extra bytes (the masks count -1 each) + the tail; what it gives for an
    // event that is not plain does not matter, as the stop replaces it.
    const __m256i length = _mm256_sub_epi8(
        _mm256_sub_epi8(_mm256_add_epi8(tail, _mm256_set1_epi8(1)), longer1), longer2);
    const __m256i behind = _mm256_add_epi8(positions, length);
    const __m256i leaves = _mm256_cmpgt_epi8(behind, _mm256_set1_epi8(15));
    __m256i next = _mm256_add_epi8(behind, _mm256_and_si256(leaves, _mm256_set1_epi8(0x70)));
    // The top bit of either: a status that ends a run, or a delta of four bytes or more.
    next = _mm256_blendv_epi8(next, positions, _mm256_or_si256(tail, longer3));
    // Where next[j] has left the lane (0x80 and above), the shuffle gives 0 and the larger
    // value is next[j] itself; elsewhere next[next[j]] is never smaller than next[j], since a
    // walk only moves forward.
    for (int round = 0; round < 3; ++round) {
        next = _mm256_max_epu8(next, _mm256_shuffle_epi8(next, next));
    }
    return ThenThrough(next, _mm256_permute2x128_si256(next, next, 0x11), _mm256_set1_epi8(16));
}

__attribute__((target("avx2"))) size_t SkipPlainAvx2(const uint8_t* data, size_t from, size_t end) {
    const __m256i tails = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPlainTailOrStop.data())));
    const __m256i positions =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6,
                         7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i span = _mm256_set1_epi8(32);
    alignas(32) uint8_t leads[32];
    size_t stretch = from;
    unsigned entry = 0; // where the walk enters the stretch, from its start
    // 64 bytes at a time, then 32.
    for (size_t bytes = 64; bytes >= 32; bytes -= 32) {
        while (end - stretch >= bytes - 32 + kPlainBlockReach) {
            __m256i lead = PlainEventLeads(data + stretch, tails, positions);
            if (bytes == 64) {
                lead =
                    ThenThrough(lead, PlainEventLeads(data + stretch + 32, tails, positions), span);
            }
            _mm256_store_si256(reinterpret_cast<__m256i*>(leads), lead);
            const unsigned to = leads[entry];
            if (to < 0x80) {
                return stretch + to;
            }
            entry = to - 0x80;
            stretch += bytes;
        }
    }
    return SkipPlainBytes(data, stretch + entry, end);
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

#endif

} // namespace

size_t SkipPlainSeqEvents(const uint8_t* data, size_t from, size_t end) {
    if (from >= end) {
        return from;
    }
#ifdef SONVEX_SEARCH_X86
    if (HasAvx2()) {
        return SkipPlainAvx2(data, from, end);
    }
#endif
    return SkipPlainBytes(data, from, end);
}

bool IsSignaturePair(uint8_t first, uint8_t second) {
    return (kFirstBits[first] & kSecondBits[second]) != 0;
}

size_t FindSignaturePair(const uint8_t* data, size_t from, size_t to) {
    if (from >= to) {
        return to;
    }
#ifdef SONVEX_SEARCH_X86
    return HasAvx2() ? FindPairAvx2(data, from, to) : FindPairSse2(data, from, to);
#else
    return FindPairBytes(data, from, to);
#endif
}

size_t FindNonZero(const uint8_t* data, size_t from, size_t to) {
    if (from >= to) {
        return to;
    }
#ifdef SONVEX_SEARCH_X86
    return HasAvx2() ? FindNonZeroAvx2(data, from, to) : FindNonZeroSse2(data, from, to);
#else
    return FindNonZeroBytes(data, from, to);
#endif
}

} // namespace sonvex
