// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the instrument trailers of a DLS file by walking its chunk tree, and turns
// program changes into band instrument records and bend scales.
#include "segment/instrument_table.h"

#include <algorithm>
#include <optional>

#include "formats/file_bytes.h"
#include "formats/riff.h"

namespace sonvex {

namespace {

// File offset of a chunk's data (of the list type, for a LIST or RIFF).
int64_t DataOffset(const RiffChunk& chunk) {
    return chunk.offset + 8;
}

// The first chunk of `parent` from its current position on with this id (and, for a
// LIST or RIFF, this type).
bool Find(RiffWalker& walker, ByteCursor& parent, RiffChunk& chunk, uint32_t id,
          uint32_t type = 0) {
    while (walker.Next(parent, chunk)) {
        if (chunk.id == id && (type == 0 || chunk.listType == type)) {
            return true;
        }
    }
    return false;
}

} // namespace

// This walk is deliberately narrower and odder than the DLS reader's: the segment's
// band bytes depend on where it looks. A chunk may run past its parent (up to the end of
// the file); fixed fields ("colh", "insh", the "art2" header) are read at their data
// offset whatever the chunk's size says; the instrument's "lar2" is looked for right
// behind the 12 "insh" bytes read; the "art2" header size is taken to be 8, and the five
// trailer bytes are read behind the connection blocks even when they lie outside the chunk.
bool ReadInstrumentTable(ChunkFile& dls, InstrumentTable& table, std::string& failure) {
    table = InstrumentTable{};
    auto fail = [&failure](const std::string& what, int64_t offset) {
        failure = "DLS " + what + " at " + HexOffset(offset);
        return false;
    };
    const FileBytes read = ReadFileBytes(dls);
    if (read.status != FileReadStatus::Ok) {
        return fail("file cannot be read (" + read.error + ")", 0);
    }
    const std::span<const uint8_t> file = read.bytes;
    // Bytes at a file offset, wherever it lies; nullopt past the end of the file.
    auto at = [file](int64_t offset, size_t size) -> std::optional<ByteCursor> {
        ByteCursor c(file);
        if (offset < 0 || !c.seek(static_cast<size_t>(offset)) || !c.canRead(size)) {
            return std::nullopt;
        }
        return c;
    };
    Diagnostics walk; // the walk's own notes and faults: a fault ends the search it is in
    RiffWalker walker(file, walk, RiffWalker::Tail::Note, RiffWalker::Overrun::Trust);

    ByteCursor top = walker.File();
    RiffChunk riff;
    if (!Find(walker, top, riff, kRiffId, FourCC("DLS "))) {
        return fail("RIFF form \"DLS \" not found from", 0);
    }
    RiffChunk colh;
    if (!Find(walker, riff.data, colh, FourCC("colh"))) {
        return fail("chunk \"colh\" not found in the form", DataOffset(riff));
    }
    const std::optional<ByteCursor> countBytes = at(DataOffset(colh), 4);
    if (!countBytes) {
        return fail("chunk \"colh\" ends early", DataOffset(colh));
    }
    const uint32_t count = ByteCursor(*countBytes).u32le();
    if (count == 0) {
        return fail("chunk \"colh\" counts no instrument", DataOffset(colh));
    }
    RiffChunk lins;
    if (!Find(walker, riff.data, lins, kListId, FourCC("lins"))) {
        return fail("list \"lins\" not found after", DataOffset(colh));
    }
    // Each search starts where the previous instrument's list ends by its size.
    int64_t searchFrom = walker.OffsetOf(lins.data);
    for (uint32_t i = 0; i < count; ++i) {
        RiffChunk ins;
        if (!Find(walker, lins.data, ins, kListId, FourCC("ins "))) {
            return fail("instrument " + std::to_string(i) + " of " + std::to_string(count) +
                            ": list \"ins \" not found from",
                        searchFrom);
        }
        ByteCursor children = ins.data;
        RiffChunk insh;
        if (!Find(walker, children, insh, FourCC("insh"))) {
            return fail("list \"ins \" without \"insh\"", DataOffset(ins));
        }
        std::optional<ByteCursor> header = at(DataOffset(insh), 12);
        if (!header) {
            return fail("chunk \"insh\" ends early", DataOffset(insh));
        }
        header->skip(8);
        const uint32_t number = header->u32le();
        if (number > 127) {
            return fail("instrument number " + std::to_string(number) + " above 127 in \"insh\"",
                        DataOffset(insh));
        }
        // The instrument's own "lar2" is a direct child of "ins "; the region-level ones
        // inside "lrgn" are skipped with that list.
        RiffChunk lar2;
        const int64_t behindHeader = DataOffset(insh) + 12 - walker.OffsetOf(ins.data) +
                                     static_cast<int64_t>(ins.data.position());
        if (!ins.data.seek(static_cast<size_t>(behindHeader)) ||
            !Find(walker, ins.data, lar2, kListId, FourCC("lar2"))) {
            return fail("list \"ins \" without an instrument \"lar2\"", DataOffset(ins));
        }
        RiffChunk art2;
        if (!Find(walker, lar2.data, art2, FourCC("art2"))) {
            return fail("list \"lar2\" without \"art2\"", DataOffset(lar2));
        }
        std::optional<ByteCursor> art2Header = at(DataOffset(art2), 8);
        if (!art2Header) {
            return fail("chunk \"art2\" ends early", DataOffset(art2));
        }
        art2Header->skip(4);
        const int64_t trailerOffset = DataOffset(art2) + 8 + int64_t{art2Header->u32le()} * 12;
        std::optional<ByteCursor> trailer = at(trailerOffset, kArticulationTrailerSize);
        if (!trailer) {
            return fail("file ends before the trailer of \"art2\"", trailerOffset);
        }
        table[number] = ArticulationTrailer{trailer->u8(), trailer->u8(), trailer->u8(),
                                            trailer->u8(), trailer->u8()};
        searchFrom = DataOffset(ins) + ins.size + (ins.size & 1);
    }
    return true;
}

BendScales BendScalesFor(const ArticulationTrailer& entry) {
    const double d = entry.bendDown;
    const double u = entry.bendUp;
    BendScales s;
    if (entry.bendDown == entry.bendUp) {
        s.up = s.down = entry.bendDown != 0 ? 1.0 : 0.0;
    } else if (entry.bendDown > entry.bendUp) {
        s.down = 1.0;
        s.up = entry.bendUp != 0 ? 1.0 / (d / u) : 0.0;
    } else {
        s.up = 1.0;
        s.down = entry.bendDown != 0 ? 1.0 / (u / d) : 0.0;
    }
    return s;
}

uint16_t ScaleBend(uint8_t lsb, uint8_t msb, const BendScales& scales) {
    const int e = msb * 128 + lsb - 8192;
    if (e == 0) {
        return 0x2000;
    }
    if (e > 0) {
        return static_cast<uint16_t>(8192 + static_cast<int>(e * scales.up + 0.5));
    }
    return static_cast<uint16_t>(8191 + static_cast<int>(e * scales.down + 0.5));
}

InstrumentRecord MakeInstrumentRecord(const InstrumentTable& table, uint8_t program,
                                      uint8_t channel) {
    const ArticulationTrailer& entry = table[program & 0x7F];
    InstrumentRecord r;
    r.patch = program + 0x100u;
    r.assignPatch = program + 0x100u;
    r.channel = channel;
    r.flags = kInstrumentFlags;
    r.pan = entry.pan;
    r.volume = entry.volume;
    r.pitchBendRange = static_cast<int16_t>(std::max(entry.bendDown, entry.bendUp));
    return r;
}

void OnSequenceProgramChange(ChannelBandState& state, const InstrumentTable& table, uint8_t program,
                             uint8_t channel) {
    const size_t ch = channel & 0x0F;
    if (state.currentProgram[ch] == kNoProgram) {
        state.instruments[ch] = MakeInstrumentRecord(table, program, static_cast<uint8_t>(ch));
        state.currentProgram[ch] = program;
    }
    state.scales[ch] = BendScalesFor(table[program & 0x7F]);
}

} // namespace sonvex
