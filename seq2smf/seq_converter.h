// SPDX-License-Identifier: GPL-3.0-or-later
// Converts a "pQES" item of a game file (a single sequence or a numbered set of up to
// 16) into Standard MIDI Files, one per sequence.
#pragma once

#include <cstdint>
#include <string>

#include "formats/diagnostics.h"
#include "platform/feedback.h"
#include "platform/result_code.h"
#include "seq2smf/smf_rules.h"

namespace sonvex {

// What one conversion call gives back to the batch driver.
struct SeqConversion {
    ConvertResult result = ConvertResult::Done;
    int smfFilesMade = 0; // complete SMF files left on disk by this call
    // For a result other than Done, the failure says what stopped and where (hex offsets).
    Diagnostics diagnostics;
};

// `offset` is the position of "pQES" in the game file; `smfStem` the output path without
// extension: a single sequence becomes smfStem + ".mid", each sequence of a numbered set
// smfStem + "_NN.mid" with its id. Results: Done; CannotConvert (a delta time above
// 0x0FFFFFFF, the file being written deleted); InputEnded (the game file ended inside a
// header or an event, the file being written deleted); OpenFailed (the game file cannot be
// opened, message 5; an output file cannot be created or written, message 6). Files of
// earlier sequences of a set stay in every case.
[[nodiscard]] SeqConversion ConvertSeq(uint64_t offset, const std::string& gamePath,
                                       const std::string& smfStem, Feedback& feedback,
                                       SmfRules rules = SmfRules::Extended);

} // namespace sonvex
