// Reads the instrument trailers of a DLS file by walking its chunk tree, and turns
// program changes into band instrument records and bend scales.
#include "segment/instrument_table.h"

#include <algorithm>

#include "formats/file_bytes.h"
#include "formats/riff.h"

namespace sonvex {

namespace {

std::string Where(const std::string& what, int64_t offset) {
    return "DLS " + what + " at " + HexOffset(offset);
}

// File offset of a chunk's data (of the list type, for a LIST or RIFF).
int64_t DataOffset(const RiffChunk& chunk) {
    return chunk.offset + 8;
}

// A little-endian u32 at a file offset, wherever it lies; false past the end of the file.
bool Le32At(std::span<const uint8_t> file, int64_t offset, uint32_t& value) {
    ByteCursor c(file);
    if (offset < 0 || !c.seek(static_cast<size_t>(offset))) {
        return false;
    }
    value = c.u32le();
    return c.ok();
}

// The first chunk of `parent` from its current position on that `match` accepts.
template <typename Match>
bool Find(RiffWalker& walker, ByteCursor& parent, RiffChunk& chunk, Match match) {
    while (walker.Next(parent, chunk)) {
        if (match(chunk)) {
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
    const FileBytes read = ReadFileBytes(dls);
    if (read.status != FileReadStatus::Ok) {
        failure = Where("file cannot be read (" + read.error + ")", 0);
        return false;
    }
    const std::span<const uint8_t> file = read.bytes;
    Diagnostics walk; // the walk's own notes and faults: a fault ends the search it is in
    RiffWalker walker(file, walk, RiffWalker::Tail::Note, RiffWalker::Overrun::Trust);
    auto list = [](uint32_t type) { return [type](const RiffChunk& c) { return c.IsList(type); }; };
    auto plain = [](uint32_t id) { return [id](const RiffChunk& c) { return c.id == id; }; };

    ByteCursor top = walker.File();
    RiffChunk riff;
    if (!Find(walker, top, riff, [](const RiffChunk& c) { return c.IsForm(FourCC("DLS ")); })) {
        failure = Where("RIFF form \"DLS \" not found from", 0);
        return false;
    }
    RiffChunk colh;
    if (!Find(walker, riff.data, colh, plain(FourCC("colh")))) {
        failure = Where("chunk \"colh\" not found in the form", DataOffset(riff));
        return false;
    }
    uint32_t count = 0;
    if (!Le32At(file, DataOffset(colh), count)) {
        failure = Where("chunk \"colh\" ends early", DataOffset(colh));
        return false;
    }
    if (count == 0) {
        failure = Where("chunk \"colh\" counts no instrument", DataOffset(colh));
        return false;
    }
    RiffChunk lins;
    if (!Find(walker, riff.data, lins, list(FourCC("lins")))) {
        failure = Where("list \"lins\" not found after", DataOffset(colh));
        return false;
    }
    // Each search starts where the previous instrument's list ends by its size.
    int64_t searchFrom = walker.OffsetOf(lins.data);
    for (uint32_t i = 0; i < count; ++i) {
        RiffChunk ins;
        if (!Find(walker, lins.data, ins, list(FourCC("ins ")))) {
            failure = Where("instrument " + std::to_string(i) + " of " + std::to_string(count) +
                                ": list \"ins \" not found from",
                            searchFrom);
            return false;
        }
        ByteCursor children = ins.data;
        RiffChunk insh;
        if (!Find(walker, children, insh, plain(FourCC("insh")))) {
            failure = Where("list \"ins \" without \"insh\"", DataOffset(ins));
            return false;
        }
        uint32_t number = 0;
        if (!Le32At(file, DataOffset(insh) + 8, number)) {
            failure = Where("chunk \"insh\" ends early", DataOffset(insh));
            return false;
        }
        if (number > 127) {
            failure =
                Where("instrument number " + std::to_string(number) + " above 127 in \"insh\"",
                      DataOffset(insh));
            return false;
        }
        // The instrument's own "lar2" is a direct child of "ins "; the region-level ones
        // inside "lrgn" are skipped with that list.
        RiffChunk lar2;
        const int64_t behindHeader = DataOffset(insh) + 12 - walker.OffsetOf(ins.data) +
                                     static_cast<int64_t>(ins.data.position());
        if (!ins.data.seek(static_cast<size_t>(behindHeader)) ||
            !Find(walker, ins.data, lar2, list(FourCC("lar2")))) {
            failure = Where("list \"ins \" without an instrument \"lar2\"", DataOffset(ins));
            return false;
        }
        RiffChunk art2;
        if (!Find(walker, lar2.data, art2, plain(FourCC("art2")))) {
            failure = Where("list \"lar2\" without \"art2\"", DataOffset(lar2));
            return false;
        }
        uint32_t blocks = 0;
        if (!Le32At(file, DataOffset(art2) + 4, blocks)) {
            failure = Where("chunk \"art2\" ends early", DataOffset(art2));
            return false;
        }
        const int64_t trailerOffset = DataOffset(art2) + 8 + int64_t{blocks} * 12;
        ByteCursor trailer(file);
        if (!trailer.seek(static_cast<size_t>(trailerOffset)) ||
            !trailer.canRead(kArticulationTrailerSize)) {
            failure = Where("file ends before the trailer of \"art2\"", trailerOffset);
            return false;
        }
        ArticulationTrailer& entry = table[number];
        entry.volume = trailer.u8();
        entry.pan = trailer.u8();
        entry.toneMode = trailer.u8();
        entry.bendDown = trailer.u8();
        entry.bendUp = trailer.u8();
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
