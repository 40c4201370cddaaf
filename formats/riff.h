// SPDX-License-Identifier: GPL-3.0-or-later
// The one walk over RIFF chunk trees: each step yields a chunk's id, its list type, its
// file offset and a cursor bounded to its data, and reports a chunk that does not fit
// its parent by id and hex offset.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "chunkfile/chunk_file.h"
#include "formats/diagnostics.h"
#include "platform/byte_cursor.h"

namespace sonvex {

// The four characters of a chunk id as text, '?' for any that is not printable.
std::string FourCCText(uint32_t id);

struct RiffChunk {
    uint32_t id = 0;
    uint32_t listType = 0; // "RIFF" and "LIST" chunks only: the four bytes after the size
    int64_t offset = 0;    // file offset of the 8-byte header
    uint32_t size = 0;     // as stored, the list type included
    ByteCursor data;       // the data, after the list type for "RIFF" and "LIST"

    bool IsList(uint32_t type) const { return id == kListId && listType == type; }
    bool IsForm(uint32_t type) const { return id == kRiffId && listType == type; }
};

class RiffWalker {
  public:
    // What a parent's last few bytes, too few for a chunk header, amount to.
    enum class Tail { Note, Fail };
    // What a chunk whose size runs past its parent amounts to: a failure, or (noted) a
    // chunk that keeps its size up to the end of the file and ends its parent, as a
    // descent that trusts every size would see it.
    enum class Overrun { Fail, Trust };

    // `file` is the whole image that offsets count from; faults and notes go to `diagnostics`.
    RiffWalker(std::span<const uint8_t> file, Diagnostics& diagnostics, Tail tail = Tail::Note,
               Overrun overrun = Overrun::Fail)
        : file_(file), diagnostics_(diagnostics), tail_(tail), overrun_(overrun) {}

    ByteCursor File() const { return ByteCursor(file_); }
    // File offset of the cursor's position (the cursor must lie inside the file).
    int64_t OffsetOf(const ByteCursor& c) const {
        return (c.data() - file_.data()) + static_cast<int64_t>(c.position());
    }

    // Takes the next chunk of `parent`, skipping the pad byte after odd data. False at
    // the end of the parent, after a failure, or on a chunk that does not fit (which
    // then becomes the failure unless sizes are trusted).
    bool Next(ByteCursor& parent, RiffChunk& chunk);

  private:
    std::span<const uint8_t> file_;
    Diagnostics& diagnostics_;
    Tail tail_;
    Overrun overrun_;
};

} // namespace sonvex
