// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a segment file from an open SMF and an open DLS: the "DMSG" form with its
// header, identity, names and five tracks, items appended while the SMF is walked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "chunkfile/chunk_file.h"
#include "platform/guid.h"
#include "segment/instrument_table.h"
#include "segment/segment_format.h"
#include "segment/smf_reader.h"

namespace sonvex {

// Where new GUIDs come from: NewGuid in the product, a fixed series in golden tests.
using GuidSource = std::function<Guid()>;

// How a band names the DLS file its instruments come from.
struct DlsReference {
    std::string name; // the DLS file name without its extension
    std::string file; // the DLS file name with its extension, no folder
};

// Chunk writing with one sticky success flag, so a track writer can go on writing
// and the caller learns at the end whether every chunk operation succeeded.
class SegmentChunkWriter {
  public:
    explicit SegmentChunkWriter(ChunkFile& file) : file_(file) {}

    ChunkFile& File() { return file_; }
    bool ok() const { return ok_ && !file_.WriteFailed(); }

    void Chunk(ChunkInfo& chunk, uint32_t id) { Check(file_.CreateChunk(chunk, id)); }
    void List(ChunkInfo& chunk, uint32_t type) { Check(file_.CreateList(chunk, type)); }
    void Riff(ChunkInfo& chunk, uint32_t type) { Check(file_.CreateRiff(chunk, type)); }
    void Close(ChunkInfo& chunk) { Check(file_.Ascend(chunk)); }
    void Bytes(const std::vector<uint8_t>& bytes) { Check(file_.WriteBytes(bytes)); }
    void U32(uint32_t v) { Check(file_.WriteU32le(v)); }
    // A whole chunk holding `bytes`.
    void Whole(uint32_t id, const std::vector<uint8_t>& bytes);
    // A whole text chunk: the UTF-16LE name with its NUL.
    void Text(uint32_t id, std::string_view utf8) { Whole(id, EncodeText(utf8)); }
    void Check(bool step) { ok_ = ok_ && step; }

  private:
    ChunkFile& file_;
    bool ok_ = true;
};

// The 32 notes whose durations are still open: where each one's item lies in the
// output, when it started, and its channel and note. An item offset of 0 marks a free slot.
struct PendingNote {
    uint32_t itemOffset = 0; // file offset of the note's sequence item, 0 = free
    int32_t startTime = 0;   // music time of the note on
    uint8_t channel = 0;
    uint8_t note = 0;
};
using PendingNoteTable = std::array<PendingNote, 32>;

// Writes the sequence track's items during the sequence walk: notes with durations
// patched in place when they end, controllers, pitch bends scaled per channel;
// program changes go to the band state and the meta values to `values`.
class SequenceTrackWriter {
  public:
    SequenceTrackWriter(SegmentChunkWriter& out, const InstrumentTable& table,
                        ChannelBandState& band, SequenceValues& values)
        : out_(out), table_(table), band_(band), values_(values) {}

    bool OnEvent(const SmfEvent& event);
    const PendingNoteTable& Pending() const { return pending_; }

  private:
    void Append(const SequenceItem& item);

    SegmentChunkWriter& out_;
    const InstrumentTable& table_;
    ChannelBandState& band_;
    SequenceValues& values_;
    PendingNoteTable pending_{};
};

struct SegmentNames {
    std::string segmentName; // "UNAM" of the segment: the SMF name without its extension
    DlsReference dls;
};

// Writes the whole segment into `out`, which must be empty and open for writing.
// False when the SMF or the DLS cannot be followed or a write fails; `failure` then
// tells why and where.
bool WriteSegment(ChunkFile& smf, ChunkFile& dls, ChunkFile& out, const SegmentNames& names,
                  const GuidSource& newGuid, std::string& failure);

} // namespace sonvex
