// Reads the instrument trailers of a DLS file by descending through its chunk tree,
// and turns program changes into band instrument records and bend scales.
#include "segment/instrument_table.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace sonvex {

namespace {

std::string Where(const char* what, int64_t offset) {
    char text[96];
    std::snprintf(text, sizeof text, "DLS %s at 0x%08" PRIX64, what, static_cast<uint64_t>(offset));
    return text;
}

uint32_t Le32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

} // namespace

bool ReadInstrumentTable(ChunkFile& dls, InstrumentTable& table, std::string& failure) {
    table = InstrumentTable{};
    if (dls.Seek(0, SeekOrigin::Begin) != 0) {
        failure = Where("file cannot be rewound", 0);
        return false;
    }
    ChunkInfo riff;
    if (!dls.Descend(riff, nullptr, DescendMode::FindRiff, FourCC("DLS "))) {
        failure = Where("RIFF form \"DLS \" not found from", 0);
        return false;
    }
    ChunkInfo colh;
    if (!dls.Descend(colh, &riff, DescendMode::FindChunk, FourCC("colh"))) {
        failure = Where("chunk \"colh\" not found in the form", riff.dataOffset);
        return false;
    }
    uint8_t raw[12];
    if (dls.Read(raw, 4) != 4) {
        failure = Where("chunk \"colh\" ends early", colh.dataOffset);
        return false;
    }
    const uint32_t count = Le32(raw);
    if (count == 0) {
        failure = Where("chunk \"colh\" counts no instrument", colh.dataOffset);
        return false;
    }
    dls.Ascend(colh);
    ChunkInfo lins;
    if (!dls.Descend(lins, &riff, DescendMode::FindList, FourCC("lins"))) {
        failure = Where("list \"lins\" not found after", colh.dataOffset);
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t searchFrom = dls.Tell();
        ChunkInfo ins;
        if (!dls.Descend(ins, &lins, DescendMode::FindList, FourCC("ins "))) {
            failure = Where(("instrument " + std::to_string(i) + " of " + std::to_string(count) +
                             ": list \"ins \" not found from")
                                .c_str(),
                            searchFrom);
            return false;
        }
        ChunkInfo insh;
        if (!dls.Descend(insh, &ins, DescendMode::FindChunk, FourCC("insh"))) {
            failure = Where("list \"ins \" without \"insh\"", ins.dataOffset);
            return false;
        }
        if (dls.Read(raw, 12) != 12) {
            failure = Where("chunk \"insh\" ends early", insh.dataOffset);
            return false;
        }
        const uint32_t number = Le32(raw + 8);
        if (number > 127) {
            failure = Where(
                ("instrument number " + std::to_string(number) + " above 127 in \"insh\"").c_str(),
                insh.dataOffset);
            return false;
        }
        // The search goes on from the end of the 12 bytes read, not from the end of
        // "insh". The instrument's own "lar2" is a direct child of "ins "; the
        // region-level ones inside "lrgn" are skipped with that list.
        ChunkInfo lar2;
        if (!dls.Descend(lar2, &ins, DescendMode::FindList, FourCC("lar2"))) {
            failure = Where("list \"ins \" without an instrument \"lar2\"", ins.dataOffset);
            return false;
        }
        ChunkInfo art2;
        if (!dls.Descend(art2, &lar2, DescendMode::FindChunk, FourCC("art2"))) {
            failure = Where("list \"lar2\" without \"art2\"", lar2.dataOffset);
            return false;
        }
        if (dls.Read(raw, 8) != 8) {
            failure = Where("chunk \"art2\" ends early", art2.dataOffset);
            return false;
        }
        // The header size is taken to be 8; the trailer follows the connection blocks,
        // and a file without it yields whatever five bytes lie there.
        const int64_t blocks = static_cast<int64_t>(Le32(raw + 4));
        dls.Seek(blocks * 12, SeekOrigin::Current);
        const int64_t trailerOffset = dls.Tell();
        uint8_t trailer[kArticulationTrailerSize];
        if (dls.Read(trailer, kArticulationTrailerSize) !=
            static_cast<int64_t>(kArticulationTrailerSize)) {
            failure = Where("file ends before the trailer of \"art2\"", trailerOffset);
            return false;
        }
        table[number] =
            ArticulationTrailer{trailer[0], trailer[1], trailer[2], trailer[3], trailer[4]};
        dls.Ascend(art2);
        dls.Ascend(lar2);
        dls.Ascend(ins);
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
