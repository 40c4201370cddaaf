// SPDX-License-Identifier: GPL-3.0-or-later
// Vectorised searches that let the scanner pass over signature-free data, zero padding and
// the common events of a sequence at memory speed: the next byte pair that can start a
// signature window, the end of a run of zero bytes, and the end of a run of plain events.
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

// Sequence events while the running status is a channel status with two data bytes (8x,
// 9x, Bx or Ex). Such an event is plain when its delta time has one to three bytes (up to
// 2,097,151 ticks) and what follows is a status byte 8x, 9x, Bx or Ex (and its two data bytes),
// An or Dn (no data), or a data byte in place of the status (the first of the two the running
// status takes). A plain event leaves the running status of that kind, so a run of them is
// walked by their lengths alone. Every other event (a longer delta, Cx, F0..FF) is left to the
// caller.
// From the event at data[from], passes plain events that end by `end`; returns the start of
// the first event that is not plain or would run past `end`. Reads only data[from, end).
size_t SkipPlainSeqEvents(const uint8_t* data, size_t from, size_t end);

} // namespace sonvex
