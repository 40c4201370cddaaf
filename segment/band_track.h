// SPDX-License-Identifier: GPL-3.0-or-later
// The band track: "Band1" at time 0 with every channel's first program, then one
// band per later program change that switches a channel to another program.
#pragma once

#include <string>
#include <vector>

#include "segment/instrument_table.h"
#include "segment/segment_writer.h"
#include "segment/smf_reader.h"

namespace sonvex {

// One "lbnd" list: its time, name and instruments, each referring to the DLS file.
void WriteBand(SegmentChunkWriter& out, int32_t time, const Guid& guid, const std::string& name,
               const std::vector<InstrumentRecord>& instruments, const DlsReference& dls);

// Writes the "DMBT" form: the first band from `state` (filled by the sequence walk),
// then the band walk over the SMF. False when the walk fails; `failure` says where.
bool WriteBandTrack(SegmentChunkWriter& out, SmfReader& smf, ChannelBandState& state,
                    const InstrumentTable& table, const DlsReference& dls,
                    const GuidSource& newGuid, std::string& failure);

} // namespace sonvex
