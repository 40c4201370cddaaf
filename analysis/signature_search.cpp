// SPDX-License-Identifier: GPL-3.0-or-later
// Signature-pair and zero-run searches: AVX2 where the processor has it, SSE2 otherwise on
// x86-64, and a byte loop everywhere else and for the tails.
#include "analysis/signature_search.h"

#include <array>
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

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

#endif

} // namespace

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
