// SPDX-License-Identifier: GPL-3.0-or-later
// Band track writing: band lists with their instruments and DLS references, and the
// band walk that adds a band whenever a channel changes to another program.
#include "segment/band_track.h"

#include <cstdio>

namespace sonvex {

namespace {

void WriteBandInstrument(SegmentChunkWriter& out, const InstrumentRecord& record,
                         const DlsReference& dls) {
    ChunkInfo lbin;
    out.List(lbin, FourCC("lbin"));
    out.Whole(FourCC("bins"), EncodeInstrumentRecord(record));
    ChunkInfo dmrf;
    out.List(dmrf, FourCC("DMRF"));
    LeBytes refh;
    refh.guid(kCollectionClass).u32(kReferenceValidData);
    out.Whole(FourCC("refh"), refh.bytes());
    out.Text(FourCC("name"), dls.name);
    out.Text(FourCC("file"), dls.file);
    out.Close(dmrf);
    out.Close(lbin);
}

} // namespace

void WriteBand(SegmentChunkWriter& out, int32_t time, const Guid& guid, const std::string& name,
               const std::vector<InstrumentRecord>& instruments, const DlsReference& dls) {
    ChunkInfo lbnd;
    out.List(lbnd, FourCC("lbnd"));
    LeBytes bd2h;
    bd2h.i32(time).i32(time); // logical and physical time
    out.Whole(FourCC("bd2h"), bd2h.bytes());
    ChunkInfo dmbd;
    out.Riff(dmbd, FourCC("DMBD"));
    LeBytes id;
    id.guid(guid);
    out.Whole(FourCC("guid"), id.bytes());
    ChunkInfo unfo;
    out.List(unfo, FourCC("UNFO"));
    out.Text(FourCC("UNAM"), name);
    out.Close(unfo);
    ChunkInfo lbil;
    out.List(lbil, FourCC("lbil"));
    for (const InstrumentRecord& record : instruments) {
        WriteBandInstrument(out, record, dls);
    }
    out.Close(lbil);
    out.Close(dmbd);
    out.Close(lbnd);
}

bool WriteBandTrack(SegmentChunkWriter& out, SmfReader& smf, ChannelBandState& state,
                    const InstrumentTable& table, const DlsReference& dls,
                    const GuidSource& newGuid, std::string& failure) {
    ChunkInfo dmbt;
    out.Riff(dmbt, FourCC("DMBT"));
    ChunkInfo lbdl;
    out.List(lbdl, FourCC("lbdl"));

    // The first band holds the channels that had a program change, in channel order.
    std::vector<InstrumentRecord> first;
    for (const InstrumentRecord& record : state.instruments) {
        if (record.flags != 0) {
            first.push_back(record);
        }
    }
    WriteBand(out, 0, newGuid(), "Band1", first, dls);

    int bandNumber = 2;
    const bool walked = smf.Walk([&](const SmfEvent& event) {
        if (event.Kind() != 0xC0) {
            return true;
        }
        const uint8_t ch = event.Channel();
        const uint8_t program = event.data1;
        if (program == state.currentProgram[ch]) {
            return true;
        }
        char name[24];
        std::snprintf(name, sizeof name, "Band%d", bandNumber);
        WriteBand(out, event.time, newGuid(), name, {MakeInstrumentRecord(table, program, ch)},
                  dls);
        ++bandNumber;
        state.currentProgram[ch] = program;
        return true;
    });
    if (!walked) {
        failure = "band walk: " + smf.Failure();
        return false;
    }
    out.Close(lbdl);
    out.Close(dmbt);
    return true;
}

} // namespace sonvex
