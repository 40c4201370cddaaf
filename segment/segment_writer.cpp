// SPDX-License-Identifier: GPL-3.0-or-later
// The segment file in file order: header placeholder, identity and names, then the
// tempo, sequence, band, time-signature and system-exclusive tracks, and last the
// header rewritten with the values the sequence walk found.
#include "segment/segment_writer.h"

#include "segment/band_track.h"

namespace sonvex {

namespace {

// XG System On, the segment's one system-exclusive message.
const std::vector<uint8_t> kXgSystemOn = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

bool IsSequenceController(uint8_t controller) {
    switch (controller) {
    case 1:
    case 7:
    case 10:
    case 11:
    case 12:
    case 64:
    case 91:
    case 123:
        return true;
    default:
        return false; // 0 and 32 (bank select) write nothing
    }
}

void WriteTrackHeader(SegmentChunkWriter& out, const Guid& classId, uint32_t chunkId,
                      uint32_t formType) {
    TrackHeader h;
    h.classId = classId;
    h.chunkId = chunkId;
    h.formType = formType;
    out.Whole(FourCC("trkh"), EncodeTrackHeader(h));
}

} // namespace

void SegmentChunkWriter::Whole(uint32_t id, const std::vector<uint8_t>& bytes) {
    ChunkInfo chunk;
    Chunk(chunk, id);
    Bytes(bytes);
    Close(chunk);
}

void SequenceTrackWriter::Append(const SequenceItem& item) {
    out_.Bytes(EncodeSequenceItem(item));
}

bool SequenceTrackWriter::OnEvent(const SmfEvent& event) {
    values_.Take(event);
    const uint8_t ch = event.Channel();
    const uint8_t kind = event.Kind();
    ChunkFile& file = out_.File();
    if (kind == 0x90 && event.data2 > 0) {
        for (PendingNote& slot : pending_) {
            if (slot.itemOffset == 0) {
                slot.itemOffset = static_cast<uint32_t>(file.Tell());
                slot.startTime = event.time;
                slot.channel = ch;
                slot.note = event.data1;
                SequenceItem item;
                item.time = event.time;
                item.channel = ch;
                item.status = 0x90;
                item.data1 = event.data1;
                item.data2 = event.data2;
                Append(item);
                return true;
            }
        }
        return true; // 32 notes open: this one is dropped
    }
    if (kind == 0x80 || kind == 0x90) {
        const int64_t end = file.Tell();
        for (PendingNote& slot : pending_) {
            if (slot.itemOffset != 0 && slot.channel == ch && slot.note == event.data1) {
                file.Seek(static_cast<int64_t>(slot.itemOffset) + 4, SeekOrigin::Begin);
                out_.U32(static_cast<uint32_t>(event.time - slot.startTime));
                slot = PendingNote{};
            }
        }
        file.Seek(end, SeekOrigin::Begin);
        return true;
    }
    if (kind == 0xB0) {
        if (IsSequenceController(event.data1)) {
            SequenceItem item;
            item.time = event.time;
            item.duration = 1;
            item.channel = ch;
            item.status = 0xB0;
            item.data1 = event.data1;
            item.data2 = event.data2;
            Append(item);
        }
        return true;
    }
    if (kind == 0xC0) {
        OnSequenceProgramChange(band_, table_, event.data1, ch);
        return true;
    }
    if (kind == 0xE0) {
        const uint16_t w = ScaleBend(event.data1, event.data2, band_.scales[ch]);
        SequenceItem item;
        item.time = event.time;
        item.duration = 1;
        item.channel = ch;
        item.status = 0xE0;
        item.data1 = static_cast<uint8_t>(w & 0x7F);
        item.data2 = static_cast<uint8_t>(w >> 7);
        Append(item);
        return true;
    }
    return true;
}

bool WriteSegment(ChunkFile& smf, ChunkFile& dls, ChunkFile& out, const SegmentNames& names,
                  const GuidSource& newGuid, std::string& failure) {
    SegmentChunkWriter w(out);
    SmfReader reader(smf);

    ChunkInfo dmsg;
    w.Riff(dmsg, FourCC("DMSG"));
    ChunkInfo segh;
    w.Chunk(segh, FourCC("segh"));
    const int64_t headerOffset = out.Tell();
    w.Bytes(std::vector<uint8_t>(kSegmentHeaderSize, 0));
    w.Close(segh);
    LeBytes id;
    id.guid(newGuid());
    w.Whole(FourCC("guid"), id.bytes());
    ChunkInfo unfo;
    w.List(unfo, FourCC("UNFO"));
    w.Text(FourCC("UNAM"), names.segmentName);
    w.Text(FourCC("UART"), kSegmentAuthor);
    w.Text(FourCC("UCOP"), kSegmentCopyright);
    w.Close(unfo);
    ChunkInfo trkl;
    w.List(trkl, FourCC("trkl"));

    // Tempo track.
    {
        ChunkInfo dmtk;
        w.Riff(dmtk, FourCC("DMTK"));
        WriteTrackHeader(w, kTempoTrackClass, FourCC("tetr"), 0);
        ChunkInfo tetr;
        w.Chunk(tetr, FourCC("tetr"));
        w.U32(kTempoItemSize);
        if (!reader.CheckHeader()) {
            failure = reader.Failure();
            return false;
        }
        const bool walked = reader.Walk([&](const SmfEvent& event) {
            if (!event.IsMeta(kMetaTempo)) {
                return true;
            }
            const uint32_t microseconds = (static_cast<uint32_t>(event.data[0]) << 16) |
                                          (static_cast<uint32_t>(event.data[1]) << 8) |
                                          event.data[2];
            if (microseconds == 0) {
                return true; // no tempo has zero length; the item would be infinite
            }
            TempoItem item;
            item.time = event.time;
            item.tempo = TempoFromMicroseconds(microseconds);
            w.Bytes(EncodeTempoItem(item));
            return true;
        });
        if (!walked) {
            failure = "tempo walk: " + reader.Failure();
            return false;
        }
        w.Close(tetr);
        w.Close(dmtk);
    }

    // Sequence track; the instrument table is read first so the walk can scale bends.
    InstrumentTable table{};
    ChannelBandState band;
    SequenceValues values;
    {
        ChunkInfo dmtk;
        w.Riff(dmtk, FourCC("DMTK"));
        WriteTrackHeader(w, kSequenceTrackClass, FourCC("seqt"), 0);
        ChunkInfo seqt;
        w.Chunk(seqt, FourCC("seqt"));
        ChunkInfo evtl;
        w.Chunk(evtl, FourCC("evtl"));
        w.U32(kSequenceItemSize);
        if (!ReadInstrumentTable(dls, table, failure)) {
            return false;
        }
        SequenceTrackWriter sequence(w, table, band, values);
        if (!reader.Walk([&](const SmfEvent& event) { return sequence.OnEvent(event); })) {
            failure = "sequence walk: " + reader.Failure();
            return false;
        }
        w.Close(evtl);
        LeBytes curl;
        curl.u32(kCurveItemSize);
        w.Whole(FourCC("curl"), curl.bytes());
        w.Close(seqt);
        w.Close(dmtk);
    }
    const int32_t length = reader.EndTime();

    // Band track.
    {
        ChunkInfo dmtk;
        w.Riff(dmtk, FourCC("DMTK"));
        WriteTrackHeader(w, kBandTrackClass, 0, FourCC("DMBT"));
        if (!WriteBandTrack(w, reader, band, table, names.dls, newGuid, failure)) {
            return false;
        }
        w.Close(dmtk);
    }

    // Time-signature track.
    {
        ChunkInfo dmtk;
        w.Riff(dmtk, FourCC("DMTK"));
        WriteTrackHeader(w, kTimeSignatureTrackClass, 0, FourCC("TIMS"));
        ChunkInfo tims;
        w.List(tims, FourCC("TIMS"));
        ChunkInfo item;
        w.Chunk(item, FourCC("tims"));
        w.U32(kTimeSignatureItemSize);
        w.Bytes(EncodeTimeSignatureItem(values.timeSignature));
        w.Close(item);
        w.Close(tims);
        w.Close(dmtk);
    }

    // System-exclusive track: one message at time 0 on performance channel 0.
    {
        ChunkInfo dmtk;
        w.Riff(dmtk, FourCC("DMTK"));
        WriteTrackHeader(w, kSysexTrackClass, FourCC("syex"), 0);
        ChunkInfo syex;
        w.Chunk(syex, FourCC("syex"));
        LeBytes header;
        header.i32(0).u32(0).u32(static_cast<uint32_t>(kXgSystemOn.size()));
        w.Bytes(header.bytes());
        w.Bytes(kXgSystemOn);
        w.Close(syex);
        w.Close(dmtk);
    }
    w.Close(trkl);
    w.Close(dmsg);

    SegmentHeader header;
    header.repeats = values.repeats;
    header.length = length;
    header.loopStart = values.loopStart;
    header.loopEnd = values.loopEnd;
    w.Check(out.Seek(headerOffset, SeekOrigin::Begin) == headerOffset);
    w.Bytes(EncodeSegmentHeader(header));
    if (!w.ok()) {
        failure = "writing the segment file failed";
        return false;
    }
    return true;
}

} // namespace sonvex
