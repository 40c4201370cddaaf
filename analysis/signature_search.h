// SPDX-License-Identifier: GPL-3.0-or-later
// Vectorised searches that let the scanner pass over signature-free data and zero padding
// at memory speed: the next byte pair that can start a signature window, and the end of a
// run of zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvex {

// The first two bytes of every window the scanner has to look at closely: the leading
// pair of each signature in the signature table (00 00 for the zero block, and so for every
// window whose first word is 0; "pQ", "pB", "SE", "SS", "KC" and "IE"). A window that does
// not start with one of them is passed over without a look.
bool IsSignaturePair(uint8_t first, uint8_t second);

// The smallest i in [from, to) whose bytes data[i], data[i + 1] are a signature pair, or
// `to` when there is none. data[to] must be readable.
size_t FindSignaturePair(const uint8_t* data, size_t from, size_t to);

// The smallest i in [from, to) with data[i] != 0, or `to`.
size_t FindNonZero(const uint8_t* data, size_t from, size_t to);

} // namespace sonvex
