// SPDX-License-Identifier: GPL-3.0-or-later
// Converts an "SSsq" item of a game file into one Standard MIDI File. Its header fields
// lie in the 16 bytes before the magic; its events begin 259 bytes after it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/feedback.h"
#include "seq2smf/seq_converter.h"

namespace sonvex {

// Offsets relative to the magic.
constexpr int64_t kSsqBlockStart = -16; // first byte of the header block read
constexpr int64_t kSsqBlockSize = 276;  // bytes read as the header block
constexpr int64_t kSsqDivisionAt = -10; // 2 bytes little-endian: ticks per quarter note
constexpr int64_t kSsqTempoAt = -8;     // 4 bytes little-endian: beats per minute
constexpr int64_t kSsqEventsAt = 259;   // first byte of the event data

// `offset` is the position of "SSsq" in the game file; the output is smfStem + ".mid".
// Results as ConvertSeq, with messages 17 (game file) and 18 (output). An item whose
// header block would begin before the start of the file (offset below 16) cannot be
// converted: CannotConvert, no output.
[[nodiscard]] SeqConversion ConvertSsq(uint64_t offset, const std::string& gamePath,
                                       const std::string& smfStem, Feedback& feedback,
                                       SmfRules rules = SmfRules::Extended);

} // namespace sonvex
