// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a segment file of the kind the segment builder writes back into its header,
// tempo items, sequence items, bands, time signatures and system-exclusive messages,
// for the playback engine and for printing how a file was understood.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"
#include "segment/segment_format.h"

namespace sonvex {

struct SegmentBandInstrument {
    InstrumentRecord record;
    Guid referenceClass;             // class of the referenced object (a DLS collection)
    uint32_t referenceValidData = 0; // which reference fields are present
    std::string referenceName;       // the DLS name without extension
    std::string referenceFile;       // the DLS file name
};

struct SegmentBand {
    int32_t logicalTime = 0;
    int32_t physicalTime = 0;
    Guid guid;
    std::string name;
    std::vector<SegmentBandInstrument> instruments;
};

struct SegmentSysexItem {
    int32_t time = 0;
    uint32_t channel = 0;
    std::vector<uint8_t> data;
};

struct SegmentTrackInfo {
    TrackHeader header;
    int64_t offset = 0; // file offset of the track's "RIFF" header
};

struct SegmentFile {
    SegmentHeader header;
    Guid guid;
    std::string name;                     // "UNAM"
    std::string author;                   // "UART"
    std::string copyright;                // "UCOP"
    std::vector<SegmentTrackInfo> tracks; // every track, in file order, known or not
    std::vector<TempoItem> tempos;
    std::vector<SequenceItem> sequenceItems;
    uint32_t curveCount = 0;
    std::vector<SegmentBand> bands;
    std::vector<TimeSignatureItem> timeSignatures;
    std::vector<SegmentSysexItem> sysex;
};

enum class [[nodiscard]] SegmentReadResult : int{
    Ok = 0,
    OpenFailed = -1, // the file cannot be opened or read
    Malformed = 1,   // not a segment, or a chunk that cannot be followed
};

struct SegmentRead {
    SegmentReadResult status = SegmentReadResult::Ok;
    SegmentFile segment;
    Diagnostics diagnostics; // the failure tells the structure and offset
};

// Reads through the file system seam, at most kLargestWholeFile bytes.
SegmentRead ReadSegmentFile(const std::string& path);
// Reads a segment held in memory.
SegmentRead ReadSegmentBytes(std::span<const uint8_t> bytes);

// True when the bytes start like a segment file: a RIFF form "DMSG".
bool IsSegmentForm(std::span<const uint8_t> bytes);

// A readable account of the segment: header values, tracks, tempos, item counts, bands
// with their instruments and DLS references, time signatures.
std::string DescribeSegment(const SegmentFile& segment);

} // namespace sonvex
