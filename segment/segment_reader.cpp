// SPDX-License-Identifier: GPL-3.0-or-later
// The segment reader: a walk over the RIFF tree with byte cursors clamped to each
// chunk, so no chunk size can lead a read outside its parent.
#include "segment/segment_reader.h"

#include <cinttypes>
#include <cstdio>
#include <functional>

#include "formats/file_bytes.h"
#include "formats/riff.h"

namespace sonvex {

namespace {

class SegmentParser {
  public:
    SegmentParser(std::span<const uint8_t> bytes, SegmentFile& segment, Diagnostics& diagnostics)
        : segment_(segment), diagnostics_(diagnostics),
          walker_(bytes, diagnostics, RiffWalker::Tail::Fail) {}

    bool Parse();

  private:
    bool Next(ByteCursor& parent, RiffChunk& chunk) { return walker_.Next(parent, chunk); }
    bool Fail(int64_t offset, const std::string& structure, const std::string& what) {
        diagnostics_.Fail(offset, structure, what);
        return false;
    }
    bool failed() const { return diagnostics_.failed(); }
    // The data of a chunk that must hold at least `size` bytes.
    bool Need(const RiffChunk& chunk, size_t size, const char* what);

    // The texts of a "UNFO" list: "UNAM", "UART" and "UCOP" (null: not kept).
    void ParseUnfo(ByteCursor body, std::string* name, std::string* author = nullptr,
                   std::string* copyright = nullptr);
    bool ParseTrackList(ByteCursor body);
    bool ParseTrack(const RiffChunk& track);
    bool ParseItems(const RiffChunk& chunk, size_t minimumSize, const char* what,
                    const std::function<void(ByteCursor&)>& take);
    bool ParseSequence(ByteCursor body);
    bool ParseBandForm(ByteCursor body);
    bool ParseBand(ByteCursor body, int64_t offset);
    bool ParseBandInstrument(ByteCursor body, int64_t offset, SegmentBandInstrument& instrument);
    bool ParseSysex(const RiffChunk& chunk);

    SegmentFile& segment_;
    Diagnostics& diagnostics_;
    RiffWalker walker_;
};

bool SegmentParser::Need(const RiffChunk& chunk, size_t size, const char* what) {
    if (chunk.data.size() < size) {
        return Fail(chunk.offset, std::string(what) + " chunk \"" + FourCCText(chunk.id) + "\"",
                    "shorter than " + std::to_string(size) + " bytes");
    }
    return true;
}

bool SegmentParser::Parse() {
    segment_ = SegmentFile{};
    ByteCursor file = walker_.File();
    RiffChunk form;
    if (!Next(file, form)) {
        return failed() ? false : Fail(0, "file", "not a RIFF form \"DMSG\"");
    }
    if (!form.IsForm(FourCC("DMSG"))) {
        return Fail(0, "file", "not a RIFF form \"DMSG\"");
    }
    bool sawHeader = false;
    RiffChunk chunk;
    while (Next(form.data, chunk)) {
        if (chunk.id == FourCC("segh")) {
            if (!Need(chunk, kSegmentHeaderSize, "segment header")) {
                return false;
            }
            segment_.header = DecodeSegmentHeader(chunk.data);
            sawHeader = true;
        } else if (chunk.id == FourCC("guid")) {
            if (!Need(chunk, 16, "identity")) {
                return false;
            }
            segment_.guid = DecodeGuid(chunk.data);
        } else if (chunk.IsList(FourCC("UNFO"))) {
            ParseUnfo(chunk.data, &segment_.name, &segment_.author, &segment_.copyright);
        } else if (chunk.IsList(FourCC("trkl"))) {
            ParseTrackList(chunk.data);
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawHeader) {
        return Fail(form.offset, "form \"DMSG\"", "no \"segh\"");
    }
    return true;
}

void SegmentParser::ParseUnfo(ByteCursor body, std::string* name, std::string* author,
                              std::string* copyright) {
    RiffChunk chunk;
    while (Next(body, chunk)) {
        std::string* text = chunk.id == FourCC("UNAM")   ? name
                            : chunk.id == FourCC("UART") ? author
                            : chunk.id == FourCC("UCOP") ? copyright
                                                         : nullptr;
        if (text != nullptr) {
            *text = DecodeText(chunk.data);
        }
    }
}

bool SegmentParser::ParseTrackList(ByteCursor body) {
    RiffChunk chunk;
    while (Next(body, chunk)) {
        if (chunk.IsForm(FourCC("DMTK")) && !ParseTrack(chunk)) {
            return false;
        }
    }
    return !failed();
}

bool SegmentParser::ParseTrack(const RiffChunk& track) {
    ByteCursor body = track.data;
    RiffChunk trkh;
    if (!Next(body, trkh)) {
        return failed() ? false : Fail(track.offset, "track", "no \"trkh\"");
    }
    if (trkh.id != FourCC("trkh")) {
        return Fail(track.offset, "track", "no \"trkh\"");
    }
    if (!Need(trkh, kTrackHeaderSize, "track header")) {
        return false;
    }
    SegmentTrackInfo info;
    info.header = DecodeTrackHeader(trkh.data);
    info.offset = track.offset;
    segment_.tracks.push_back(info);
    const Guid& kind = info.header.classId;

    RiffChunk chunk;
    while (Next(body, chunk)) {
        bool ok = true;
        if (kind == kTempoTrackClass && chunk.id == FourCC("tetr")) {
            ok = ParseItems(chunk, kTempoItemSize, "tempo",
                            [&](ByteCursor& c) { segment_.tempos.push_back(DecodeTempoItem(c)); });
        } else if (kind == kSequenceTrackClass && chunk.id == FourCC("seqt")) {
            ok = ParseSequence(chunk.data);
        } else if (kind == kBandTrackClass && chunk.IsForm(FourCC("DMBT"))) {
            ok = ParseBandForm(chunk.data);
        } else if (kind == kTimeSignatureTrackClass && chunk.IsList(FourCC("TIMS"))) {
            RiffChunk tims;
            while (ok && Next(chunk.data, tims)) {
                if (tims.id == FourCC("tims")) {
                    ok = ParseItems(
                        tims, kTimeSignatureItemSize, "time-signature", [&](ByteCursor& c) {
                            segment_.timeSignatures.push_back(DecodeTimeSignatureItem(c));
                        });
                }
            }
        } else if (kind == kSysexTrackClass && chunk.id == FourCC("syex")) {
            ok = ParseSysex(chunk);
        }
        if (!ok) {
            return false;
        }
    }
    return !failed();
}

bool SegmentParser::ParseItems(const RiffChunk& chunk, size_t minimumSize, const char* what,
                               const std::function<void(ByteCursor&)>& take) {
    ByteCursor body = chunk.data;
    const std::string structure = std::string(what) + " items";
    if (!body.canRead(4)) {
        return Fail(chunk.offset, structure, "no item size");
    }
    const uint32_t itemSize = body.u32le();
    if (itemSize < minimumSize) {
        return Fail(chunk.offset, structure,
                    "item size " + std::to_string(itemSize) + " below " +
                        std::to_string(minimumSize));
    }
    if (body.remaining() % itemSize != 0) {
        return Fail(chunk.offset, structure, "do not fill the chunk");
    }
    while (body.remaining() > 0) {
        ByteCursor item = body.sub(itemSize);
        take(item);
    }
    return true;
}

bool SegmentParser::ParseSequence(ByteCursor body) {
    RiffChunk chunk;
    bool ok = true;
    while (ok && Next(body, chunk)) {
        if (chunk.id == FourCC("evtl")) {
            ok = ParseItems(chunk, kSequenceItemSize, "sequence", [&](ByteCursor& c) {
                segment_.sequenceItems.push_back(DecodeSequenceItem(c));
            });
        } else if (chunk.id == FourCC("curl")) {
            ok = ParseItems(chunk, kCurveItemSize, "curve",
                            [&](ByteCursor&) { ++segment_.curveCount; });
        }
    }
    return ok && !failed();
}

bool SegmentParser::ParseBandForm(ByteCursor body) {
    RiffChunk chunk;
    while (Next(body, chunk)) {
        if (!chunk.IsList(FourCC("lbdl"))) {
            continue;
        }
        RiffChunk lbnd;
        while (Next(chunk.data, lbnd)) {
            if (lbnd.IsList(FourCC("lbnd")) && !ParseBand(lbnd.data, lbnd.offset)) {
                return false;
            }
        }
    }
    return !failed();
}

bool SegmentParser::ParseBand(ByteCursor body, int64_t offset) {
    SegmentBand band;
    bool sawTimes = false;
    RiffChunk chunk;
    while (Next(body, chunk)) {
        if (chunk.id == FourCC("bd2h")) {
            if (!Need(chunk, kBandHeaderSize, "band header")) {
                return false;
            }
            band.logicalTime = chunk.data.s32le();
            band.physicalTime = chunk.data.s32le();
            sawTimes = true;
        } else if (chunk.IsForm(FourCC("DMBD"))) {
            RiffChunk part;
            while (Next(chunk.data, part)) {
                if (part.id == FourCC("guid")) {
                    if (!Need(part, 16, "band identity")) {
                        return false;
                    }
                    band.guid = DecodeGuid(part.data);
                } else if (part.IsList(FourCC("UNFO"))) {
                    ParseUnfo(part.data, &band.name);
                } else if (part.IsList(FourCC("lbil"))) {
                    RiffChunk lbin;
                    while (Next(part.data, lbin)) {
                        if (lbin.IsList(FourCC("lbin"))) {
                            SegmentBandInstrument instrument;
                            if (!ParseBandInstrument(lbin.data, lbin.offset, instrument)) {
                                return false;
                            }
                            band.instruments.push_back(std::move(instrument));
                        }
                    }
                }
            }
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawTimes) {
        return Fail(offset, "band", "no \"bd2h\"");
    }
    segment_.bands.push_back(std::move(band));
    return true;
}

bool SegmentParser::ParseBandInstrument(ByteCursor body, int64_t offset,
                                        SegmentBandInstrument& instrument) {
    bool sawRecord = false;
    RiffChunk chunk;
    while (Next(body, chunk)) {
        if (chunk.id == FourCC("bins")) {
            if (!Need(chunk, kInstrumentRecordSize, "band instrument")) {
                return false;
            }
            instrument.record = DecodeInstrumentRecord(chunk.data);
            sawRecord = true;
        } else if (chunk.IsList(FourCC("DMRF"))) {
            RiffChunk part;
            while (Next(chunk.data, part)) {
                if (part.id == FourCC("refh")) {
                    if (!Need(part, kReferenceHeaderSize, "reference header")) {
                        return false;
                    }
                    instrument.referenceClass = DecodeGuid(part.data);
                    instrument.referenceValidData = part.data.u32le();
                } else if (part.id == FourCC("name")) {
                    instrument.referenceName = DecodeText(part.data);
                } else if (part.id == FourCC("file")) {
                    instrument.referenceFile = DecodeText(part.data);
                }
            }
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawRecord) {
        return Fail(offset, "band instrument", "no \"bins\"");
    }
    return true;
}

bool SegmentParser::ParseSysex(const RiffChunk& chunk) {
    ByteCursor body = chunk.data;
    while (body.remaining() > 0) {
        const int64_t at = walker_.OffsetOf(body);
        if (!body.canRead(kSysexItemHeaderSize)) {
            return Fail(at, "system-exclusive item", "header cut short");
        }
        SegmentSysexItem item;
        item.time = body.s32le();
        item.channel = body.u32le();
        const uint32_t length = body.u32le();
        if (length > body.remaining()) {
            return Fail(at, "system-exclusive item",
                        std::to_string(length) + " bytes run past its chunk");
        }
        item.data.resize(length);
        body.bytes(item.data.data(), length);
        segment_.sysex.push_back(std::move(item));
    }
    return true;
}

} // namespace

SegmentRead ReadSegmentBytes(std::span<const uint8_t> bytes) {
    SegmentRead read;
    SegmentParser parser(bytes, read.segment, read.diagnostics);
    if (!parser.Parse()) {
        read.status = SegmentReadResult::Malformed;
    }
    return read;
}

SegmentRead ReadSegmentFile(const std::string& path) {
    return ParseWholeFile<SegmentRead>(
        path, SegmentReadResult::OpenFailed,
        [](std::span<const uint8_t> bytes) { return ReadSegmentBytes(bytes); });
}

bool IsSegmentForm(std::span<const uint8_t> bytes) {
    ByteCursor c(bytes);
    const uint32_t id = c.u32le();
    c.skip(4);
    return id == kRiffId && c.u32le() == FourCC("DMSG") && c.ok();
}

std::string DescribeSegment(const SegmentFile& s) {
    std::string out;
    char line[256];
    auto add = [&](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        out += line;
    };
    add("segment \"%s\" by \"%s\", \"%s\"\n", s.name.c_str(), s.author.c_str(),
        s.copyright.c_str());
    add("guid %s\n", s.guid.ToString().c_str());
    if (s.header.repeats == kRepeatForever) {
        add("length %d, repeats forever", s.header.length);
    } else {
        add("length %d, repeats %u", s.header.length, s.header.repeats);
    }
    add(", play start %d, loop %d to %d\n", s.header.playStart, s.header.loopStart,
        s.header.loopEnd);
    for (const SegmentTrackInfo& t : s.tracks) {
        add("track at 0x%08" PRIX64 ": class %s, chunk \"%s\", form \"%s\"\n",
            static_cast<uint64_t>(t.offset), t.header.classId.ToString().c_str(),
            t.header.chunkId ? FourCCText(t.header.chunkId).c_str() : "",
            t.header.formType ? FourCCText(t.header.formType).c_str() : "");
    }
    for (const TempoItem& t : s.tempos) {
        add("tempo at %d: %.3f bpm\n", t.time, t.tempo);
    }
    size_t notes = 0;
    size_t controllers = 0;
    size_t bends = 0;
    for (const SequenceItem& item : s.sequenceItems) {
        notes += item.status == 0x90;
        controllers += item.status == 0xB0;
        bends += item.status == 0xE0;
    }
    add("sequence: %zu notes, %zu control changes, %zu pitch bends, %u curves\n", notes,
        controllers, bends, s.curveCount);
    for (const SegmentBand& band : s.bands) {
        add("band \"%s\" at %d: %zu instruments\n", band.name.c_str(), band.logicalTime,
            band.instruments.size());
        for (const SegmentBandInstrument& i : band.instruments) {
            add("  channel %u: program %u, volume %u, pan %u, bend range %d, \"%s\"\n",
                i.record.channel, i.record.patch & 0xFFu, i.record.volume, i.record.pan,
                i.record.pitchBendRange, i.referenceFile.c_str());
        }
    }
    for (const TimeSignatureItem& t : s.timeSignatures) {
        add("time signature at %d: %u/%u, %u grids per beat\n", t.time, t.beatsPerMeasure, t.beat,
            t.gridsPerBeat);
    }
    for (const SegmentSysexItem& x : s.sysex) {
        add("system exclusive at %d: %zu bytes\n", x.time, x.data.size());
    }
    return out;
}

} // namespace sonvex
