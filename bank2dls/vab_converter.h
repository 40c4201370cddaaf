// SPDX-License-Identifier: GPL-3.0-or-later
// One VAB sound bank (VH attributes and VB samples, each at an offset in a game file)
// into one DLS collection file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bank2dls/recognition_rules.h"
#include "formats/diagnostics.h"
#include "platform/feedback.h"
#include "platform/guid.h"
#include "platform/result_code.h"

namespace sonvex {

// How the samples of a VB were located.
enum class SampleLocation {
    Search,   // the zero-block search, sample after sample
    SizeTable // the VH's table of sample sizes: sample i at the VB offset + the sizes before it
};

struct VabConvertOptions {
    // The collection's "dlid"; a new GUID when empty (tests pass a fixed one).
    std::optional<Guid> collectionId;
    // Extended: when the zero-block search finds no sample inside the body (nothing at all,
    // or only past the body's length by the size table), and the table's samples fit in
    // the VB file, the samples are located by the table instead. Classic: never.
    RecognitionRules rules = RecognitionRules::Extended;
};

// What a conversion with options gives back besides the status.
struct VabConversion {
    ConvertResult result = ConvertResult::Done;
    // For a result other than Done, the failure says why the conversion stopped or ended
    // early, naming the structure and its byte offset in hex ("wave 3, block at
    // 0x0001A2F0: flags 9").
    Diagnostics diagnostics;
    SampleLocation location = SampleLocation::Search; // Search when there were no samples
};

// Returns Done (0), CannotConvert (1: a limit or value outside the format; output
// deleted), InputEnded (2: a read came up short; output deleted), PartlyDone (3: the VB
// ran out after at least one wave; the collection is complete with the waves found) or
// OpenFailed (-1: a file could not be opened, or the output could not be written and has
// been deleted; the message has been shown). `listTitle` goes into the INFO names.
[[nodiscard]] ConvertResult ConvertVabToDls(uint64_t vhOffset, uint64_t vbOffset,
                                            const std::string& vhPath, const std::string& vbPath,
                                            const std::string& dlsPath, std::string_view listTitle,
                                            Feedback& feedback);
// The same with options, and with the diagnostics and the sample location.
[[nodiscard]] VabConversion ConvertVabToDls(uint64_t vhOffset, uint64_t vbOffset,
                                            const std::string& vhPath, const std::string& vbPath,
                                            const std::string& dlsPath, std::string_view listTitle,
                                            Feedback& feedback, const VabConvertOptions& options);

} // namespace sonvex
