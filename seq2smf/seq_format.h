// SPDX-License-Identifier: GPL-3.0-or-later
// Reading of the game's sequence data: the 16-byte "pQES" header, the event stream of
// "pQES" and "SSsq" sequences, and the step from one numbered sequence to the next.
// The converters and the source scanner read through these, so they agree on where a
// sequence ends.
#pragma once

#include <cstdint>
#include <span>

#include "chunkfile/chunk_file.h"

namespace sonvex {

constexpr uint32_t kSeqMagic = 0x53455170; // "pQES" read as little-endian u32
constexpr uint32_t kSsqMagic = 0x71735353; // "SSsq" read as little-endian u32
constexpr int kSeqHeaderSize = 16;
// Numbered sets hold at most this many sequences, numbered from 0.
constexpr uint16_t kMaxNumberedSequences = 16;

// The 16 bytes read at a "pQES" item (or, for later sequences of a numbered set, the
// block that starts 6 bytes before the end of the previous sequence). Big-endian fields.
struct SeqHeader {
    uint32_t magic = 0;              // 0, 4 bytes: "pQES" (little-endian value kSeqMagic)
    uint16_t version = 0;            // 4, 2 bytes
    uint16_t id = 0;                 // 6, 2 bytes: sequence id of a numbered set; not both zero
                                     //    for a single sequence (low half of its version)
    uint16_t division = 0;           // 8, 2 bytes: ticks per quarter note
    uint32_t tempo = 0;              // 10, 3 bytes: microseconds per quarter note
    uint8_t numerator = 0;           // 13, 1 byte: time-signature numerator
    uint8_t denominatorExponent = 0; // 14, 1 byte: time-signature denominator as a power of two
    uint8_t lastByte = 0;            // 15, 1 byte: first event byte, or first byte of a data length

    // A numbered set: the id field of the item's first header is 00 00.
    bool Numbered() const { return id == 0; }
};

// Parses exactly kSeqHeaderSize bytes; fewer gives false.
bool ParseSeqHeader(std::span<const uint8_t> bytes, SeqHeader& header);

// Where the two layouts differ in their event data.
enum class SeqDialect {
    Seq, // "pQES": pitch bend with 2 data bytes, tempo FF 51 with 3 bytes big-endian
    Ssq  // "SSsq": pitch bend with 1 data byte, tempo FF 51 with 2 bytes (beats per minute,
         // little-endian)
};

enum class SeqEventKind {
    Channel,    // 8n, 9n, Bn, Cn, En: status and its data bytes
    Unused,     // An, Dn: the status alone, no data bytes read
    Orphan,     // a data byte where a status was due and no running status: it and 2 more bytes
    EndOfTrack, // FF 2F and one byte
    Tempo,      // FF 51 and the tempo bytes (no length byte in the source)
    OtherMeta,  // FF with another type, and one byte after the type
    System      // F0..FE: the status alone
};

struct SeqEvent {
    uint32_t delta = 0; // ticks
    SeqEventKind kind = SeqEventKind::Channel;
    uint8_t status = 0;   // effective status (running status applied)
    uint8_t data[4] = {}; // data bytes as read; meta: type, then the bytes after it
    uint8_t dataCount = 0;
    int64_t offset = 0; // file offset of the event's delta time
};

enum class [[nodiscard]] SeqReadResult{
    Event,         // one event read
    DeltaTooLarge, // the delta time went above 0x0FFFFFFF
    ShortRead      // the file ended inside the event
};

// Reads events one by one from the current position of an open file. Keeps the running
// status; a data byte in place of a status is taken as the first data byte of an event
// with the running status.
class SeqEventReader {
  public:
    SeqEventReader(ChunkFile& file, SeqDialect dialect) : file_(file), dialect_(dialect) {}

    void Reset() { runningStatus_ = 0; }
    [[nodiscard]] SeqReadResult Next(SeqEvent& event);
    ChunkFile& File() { return file_; }

  private:
    bool ReadByte(uint8_t& b);
    bool ReadData(SeqEvent& event, int count);

    ChunkFile& file_;
    SeqDialect dialect_;
    uint8_t runningStatus_ = 0; // status of the last event that set it; 0 = none yet
};

enum class [[nodiscard]] SeqWalkResult{EndOfTrack, DeltaTooLarge, ShortRead};

// Reads one sequence's events from the current position, running status starting
// empty, up to and including its end-of-track event; the file is then positioned just
// past it. `errorOffset`, when given, receives the offset of the event that failed.
[[nodiscard]] SeqWalkResult WalkSeqTrack(ChunkFile& file, SeqDialect dialect,
                                         int64_t* errorOffset = nullptr);

enum class [[nodiscard]] NextSequence{
    Follows,  // the next numbered sequence follows; `next` holds its header fields in the
              // same places as an item header, and the file is at its 4-byte data length
    SetEnds,  // the numbering breaks or reaches 16; the file is back just past the end of track
    FileEnds, // fewer than 16 bytes could be read: nothing of a next sequence is readable
    Truncated // the file ends inside the header of a sequence numbered previousId + 1
};

// Looks behind the end-of-track event of numbered sequence `previousId` (the file is
// positioned just past it) for the next sequence of the set: reads 16 bytes from 6
// bytes back, so that the next id, division, tempo and time signature land where an
// item header has them.
[[nodiscard]] NextSequence ReadNextSequenceHeader(ChunkFile& file, uint16_t previousId,
                                                  SeqHeader& next);

} // namespace sonvex
