// Signature-pair and zero-run searches: AVX2 where the processor has it, SSE2 otherwise on
// x86-64, and a byte loop everywhere else and for the tails.
#include "analysis/signature_search.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define SONVEX_SEARCH_X86 1
#include <immintrin.h>
#endif

namespace sonvex {

namespace {

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

// Each signature pair owns one bit: 0 "00 00", 1 "pQ", 2 "pB", 3 "SE", 4 "SS", 5 "KC",
// 6 "IE". A byte's bits as a first byte are kFirstLow[low nibble] & kFirstHigh[high nibble];
// every bit stands for one byte value, so the lookup is exact. Likewise for second bytes.
// A pair is one when the first byte's bits and the next byte's bits share one.
#define SONVEX_NIBBLES(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)

__attribute__((target("avx2"), always_inline)) inline __m256i
PairBits(__m256i v, __m256i low, __m256i high, __m256i nibble) {
    const __m256i lo = _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble));
    const __m256i hi = _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
    return _mm256_and_si256(lo, hi);
}

__attribute__((target("avx2"))) size_t FindPairAvx2(const uint8_t* data, size_t from, size_t to) {
    // 0x00 -> bit 0; 'p' 0x70 -> bits 1, 2; 'S' 0x53 -> bits 3, 4; 'K' 0x4B -> 5; 'I' 0x49 -> 6.
    const __m256i firstLow =
        SONVEX_NIBBLES(0x07, 0, 0, 0x18, 0, 0, 0, 0, 0, 0x40, 0, 0x20, 0, 0, 0, 0);
    const __m256i firstHigh =
        SONVEX_NIBBLES(0x01, 0, 0, 0, 0x60, 0x18, 0, 0x06, 0, 0, 0, 0, 0, 0, 0, 0);
    // 0x00 -> 0; 'Q' 0x51 -> 1; 'B' 0x42 -> 2; 'E' 0x45 -> 3, 6; 'S' 0x53 -> 4; 'C' 0x43 -> 5.
    const __m256i secondLow =
        SONVEX_NIBBLES(0x01, 0x02, 0x04, 0x30, 0, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i secondHigh =
        SONVEX_NIBBLES(0x01, 0, 0, 0, 0x6C, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
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

#undef SONVEX_NIBBLES

size_t FindPairSse2(const uint8_t* data, size_t from, size_t to) {
    auto same = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    size_t i = from;
    for (; i + 16 <= to; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i secondE = same(b, 'E');
        __m128i hit = _mm_and_si128(same(a, 0), same(b, 0));
        hit = _mm_or_si128(hit,
                           _mm_and_si128(same(a, 'p'), _mm_or_si128(same(b, 'Q'), same(b, 'B'))));
        hit = _mm_or_si128(hit, _mm_and_si128(same(a, 'S'), _mm_or_si128(secondE, same(b, 'S'))));
        hit = _mm_or_si128(hit, _mm_and_si128(same(a, 'K'), same(b, 'C')));
        hit = _mm_or_si128(hit, _mm_and_si128(same(a, 'I'), secondE));
        const int m = _mm_movemask_epi8(hit);
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
    switch (first) {
    case 0x00:
        return second == 0x00;
    case 'p':
        return second == 'Q' || second == 'B';
    case 'S':
        return second == 'E' || second == 'S';
    case 'K':
        return second == 'C';
    case 'I':
        return second == 'E';
    default:
        return false;
    }
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
