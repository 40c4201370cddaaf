// Vectorised searches that let the scanner pass over signature-free data and zero padding
// at memory speed: the next byte pair that can start a signature window, and the end of a
// run of zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvex {

// The first two bytes of every window the scanner has to look at closely: 00 00 (sixteen
// zero bytes, and every w0 = 0), "pQ" ("pQES"), "pB" ("pBAV"), "SE" ("SEQp"), "SS" ("SShd",
// "SSsq"), "KC" ("KCET") and "IE" ("IECS"). A window that does not start with one of them is
// passed over without a look.
bool IsSignaturePair(uint8_t first, uint8_t second);

// The smallest i in [from, to) whose bytes data[i], data[i + 1] are a signature pair, or
// `to` when there is none. data[to] must be readable.
size_t FindSignaturePair(const uint8_t* data, size_t from, size_t to);

// The smallest i in [from, to) with data[i] != 0, or `to`.
size_t FindNonZero(const uint8_t* data, size_t from, size_t to);

} // namespace sonvex
