// SPDX-License-Identifier: GPL-3.0-or-later
// The straightforward window-at-every-offset scanner, kept in the tests as the oracle that
// the scanner's lists and feedback are compared with.
#pragma once

#include <string_view>

#include "analysis/source_scanner.h"

namespace sonvex::testing {

// Same contract as ScanOpenSource.
ScanOutcome ReferenceScanOpenSource(ChunkFile& list, ChunkFile& source, std::string_view entryName,
                                    GroupCounters& counters, Feedback& feedback,
                                    const ScanTrace& trace, RecognitionRules rules,
                                    ScanSummary* summary);

} // namespace sonvex::testing
