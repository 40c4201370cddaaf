// The segment reader: a walk over the RIFF tree with byte cursors clamped to each
// chunk, so no chunk size can lead a read outside its parent.
#include "segment/segment_reader.h"

#include <cinttypes>
#include <cstdio>
#include <functional>

#include "chunkfile/chunk_file.h"

namespace sonvex {

namespace {

struct RawChunk {
    uint32_t id = 0;
    uint32_t formType = 0; // LIST and RIFF only
    size_t offset = 0;     // file offset of the chunk header
    ByteCursor body;       // the data, after the form type for LIST and RIFF
};

class SegmentParser {
  public:
    SegmentParser(std::span<const uint8_t> bytes, SegmentFile& segment, std::string& failure)
        : base_(bytes.data()), size_(bytes.size()), segment_(segment), failure_(failure) {}

    bool Parse();

  private:
    size_t OffsetOf(const ByteCursor& c) const {
        return static_cast<size_t>(c.data() - base_) + c.position();
    }
    bool Fail(size_t offset, const std::string& what) {
        char where[32];
        std::snprintf(where, sizeof where, " at 0x%08zX", offset);
        failure_ = what + where;
        return false;
    }
    // Takes the next chunk of `parent` into `chunk`; false at the end (more = false) or
    // on a chunk that does not fit (failure set).
    bool Next(ByteCursor& parent, RawChunk& chunk, bool& more);
    // The body of a chunk that must hold at least `size` bytes.
    bool Need(const RawChunk& chunk, size_t size, const char* what);

    bool ParseUnfo(ByteCursor body);
    bool ParseTrackList(ByteCursor body);
    bool ParseTrack(const RawChunk& track);
    bool ParseItems(const RawChunk& chunk, size_t minimumSize, const char* what,
                    const std::function<void(ByteCursor&)>& take);
    bool ParseSequence(ByteCursor body);
    bool ParseBandForm(ByteCursor body);
    bool ParseBand(ByteCursor body, size_t offset);
    bool ParseBandInstrument(ByteCursor body, size_t offset, SegmentBandInstrument& instrument);
    bool ParseSysex(const RawChunk& chunk);

    const uint8_t* base_;
    size_t size_;
    SegmentFile& segment_;
    std::string& failure_;
};

bool SegmentParser::Next(ByteCursor& parent, RawChunk& chunk, bool& more) {
    more = false;
    if (parent.remaining() == 0) {
        return true;
    }
    chunk = RawChunk{};
    chunk.offset = OffsetOf(parent);
    if (!parent.canRead(8)) {
        return Fail(chunk.offset, "chunk header cut short");
    }
    chunk.id = parent.u32le();
    const uint32_t size = parent.u32le();
    if (size > parent.remaining()) {
        return Fail(chunk.offset, "chunk \"" + FourCCText(chunk.id) + "\" of " +
                                      std::to_string(size) + " bytes runs past its parent");
    }
    chunk.body = parent.sub(size);
    if ((size & 1) && parent.remaining() > 0) {
        parent.skip(1); // pad byte
    }
    if (chunk.id == kRiffId || chunk.id == kListId) {
        if (!chunk.body.canRead(4)) {
            return Fail(chunk.offset, "list without its type");
        }
        chunk.formType = chunk.body.u32le();
    }
    more = true;
    return true;
}

bool SegmentParser::Need(const RawChunk& chunk, size_t size, const char* what) {
    if (chunk.body.size() < size) {
        return Fail(chunk.offset, std::string(what) + " chunk \"" + FourCCText(chunk.id) +
                                      "\" shorter than " + std::to_string(size) + " bytes");
    }
    return true;
}

bool SegmentParser::Parse() {
    segment_ = SegmentFile{};
    ByteCursor file(base_, size_);
    RawChunk form;
    bool more = false;
    if (!Next(file, form, more)) {
        return false;
    }
    if (!more || form.id != kRiffId || form.formType != FourCC("DMSG")) {
        return Fail(0, "not a RIFF form \"DMSG\"");
    }
    bool sawHeader = false;
    ByteCursor body = form.body;
    while (true) {
        RawChunk chunk;
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            break;
        }
        if (chunk.id == FourCC("segh")) {
            if (!Need(chunk, kSegmentHeaderSize, "segment header")) {
                return false;
            }
            segment_.header = DecodeSegmentHeader(chunk.body);
            sawHeader = true;
        } else if (chunk.id == FourCC("guid")) {
            if (!Need(chunk, 16, "identity")) {
                return false;
            }
            segment_.guid = DecodeGuid(chunk.body);
        } else if (chunk.id == kListId && chunk.formType == FourCC("UNFO")) {
            if (!ParseUnfo(chunk.body)) {
                return false;
            }
        } else if (chunk.id == kListId && chunk.formType == FourCC("trkl")) {
            if (!ParseTrackList(chunk.body)) {
                return false;
            }
        }
    }
    if (!sawHeader) {
        return Fail(form.offset, "form \"DMSG\" without \"segh\"");
    }
    return true;
}

bool SegmentParser::ParseUnfo(ByteCursor body) {
    RawChunk chunk;
    bool more = false;
    while (Next(body, chunk, more) && more) {
        if (chunk.id == FourCC("UNAM")) {
            segment_.name = DecodeText(chunk.body);
        } else if (chunk.id == FourCC("UART")) {
            segment_.author = DecodeText(chunk.body);
        } else if (chunk.id == FourCC("UCOP")) {
            segment_.copyright = DecodeText(chunk.body);
        }
    }
    return failure_.empty();
}

bool SegmentParser::ParseTrackList(ByteCursor body) {
    RawChunk chunk;
    bool more = false;
    while (true) {
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            return true;
        }
        if (chunk.id == kRiffId && chunk.formType == FourCC("DMTK")) {
            if (!ParseTrack(chunk)) {
                return false;
            }
        }
    }
}

bool SegmentParser::ParseTrack(const RawChunk& track) {
    ByteCursor body = track.body;
    RawChunk trkh;
    bool more = false;
    if (!Next(body, trkh, more)) {
        return false;
    }
    if (!more || trkh.id != FourCC("trkh")) {
        return Fail(track.offset, "track without \"trkh\"");
    }
    if (!Need(trkh, kTrackHeaderSize, "track header")) {
        return false;
    }
    SegmentTrackInfo info;
    info.header = DecodeTrackHeader(trkh.body);
    info.offset = static_cast<int64_t>(track.offset);
    segment_.tracks.push_back(info);
    const Guid& kind = info.header.classId;

    while (true) {
        RawChunk chunk;
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            return true;
        }
        if (kind == kTempoTrackClass && chunk.id == FourCC("tetr")) {
            if (!ParseItems(chunk, kTempoItemSize, "tempo", [&](ByteCursor& c) {
                    segment_.tempos.push_back(DecodeTempoItem(c));
                })) {
                return false;
            }
        } else if (kind == kSequenceTrackClass && chunk.id == FourCC("seqt")) {
            if (!ParseSequence(chunk.body)) {
                return false;
            }
        } else if (kind == kBandTrackClass && chunk.id == kRiffId &&
                   chunk.formType == FourCC("DMBT")) {
            if (!ParseBandForm(chunk.body)) {
                return false;
            }
        } else if (kind == kTimeSignatureTrackClass && chunk.id == kListId &&
                   chunk.formType == FourCC("TIMS")) {
            ByteCursor list = chunk.body;
            RawChunk tims;
            while (true) {
                if (!Next(list, tims, more)) {
                    return false;
                }
                if (!more) {
                    break;
                }
                if (tims.id == FourCC("tims") &&
                    !ParseItems(tims, kTimeSignatureItemSize, "time-signature", [&](ByteCursor& c) {
                        segment_.timeSignatures.push_back(DecodeTimeSignatureItem(c));
                    })) {
                    return false;
                }
            }
        } else if (kind == kSysexTrackClass && chunk.id == FourCC("syex")) {
            if (!ParseSysex(chunk)) {
                return false;
            }
        }
    }
}

bool SegmentParser::ParseItems(const RawChunk& chunk, size_t minimumSize, const char* what,
                               const std::function<void(ByteCursor&)>& take) {
    ByteCursor body = chunk.body;
    if (!body.canRead(4)) {
        return Fail(chunk.offset, std::string(what) + " items without their item size");
    }
    const uint32_t itemSize = body.u32le();
    if (itemSize < minimumSize) {
        return Fail(chunk.offset, std::string(what) + " item size " + std::to_string(itemSize) +
                                      " below " + std::to_string(minimumSize));
    }
    if (body.remaining() % itemSize != 0) {
        return Fail(chunk.offset, std::string(what) + " items do not fill the chunk");
    }
    while (body.remaining() > 0) {
        ByteCursor item = body.sub(itemSize);
        take(item);
    }
    return true;
}

bool SegmentParser::ParseSequence(ByteCursor body) {
    RawChunk chunk;
    bool more = false;
    while (true) {
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            return true;
        }
        if (chunk.id == FourCC("evtl")) {
            if (!ParseItems(chunk, kSequenceItemSize, "sequence", [&](ByteCursor& c) {
                    segment_.sequenceItems.push_back(DecodeSequenceItem(c));
                })) {
                return false;
            }
        } else if (chunk.id == FourCC("curl")) {
            if (!ParseItems(chunk, kCurveItemSize, "curve",
                            [&](ByteCursor&) { ++segment_.curveCount; })) {
                return false;
            }
        }
    }
}

bool SegmentParser::ParseBandForm(ByteCursor body) {
    RawChunk chunk;
    bool more = false;
    while (true) {
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            return true;
        }
        if (chunk.id != kListId || chunk.formType != FourCC("lbdl")) {
            continue;
        }
        ByteCursor list = chunk.body;
        RawChunk lbnd;
        while (true) {
            if (!Next(list, lbnd, more)) {
                return false;
            }
            if (!more) {
                break;
            }
            if (lbnd.id == kListId && lbnd.formType == FourCC("lbnd") &&
                !ParseBand(lbnd.body, lbnd.offset)) {
                return false;
            }
        }
    }
}

bool SegmentParser::ParseBand(ByteCursor body, size_t offset) {
    SegmentBand band;
    bool sawTimes = false;
    RawChunk chunk;
    bool more = false;
    while (true) {
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            break;
        }
        if (chunk.id == FourCC("bd2h")) {
            if (!Need(chunk, kBandHeaderSize, "band header")) {
                return false;
            }
            band.logicalTime = chunk.body.s32le();
            band.physicalTime = chunk.body.s32le();
            sawTimes = true;
        } else if (chunk.id == kRiffId && chunk.formType == FourCC("DMBD")) {
            ByteCursor form = chunk.body;
            RawChunk part;
            while (true) {
                if (!Next(form, part, more)) {
                    return false;
                }
                if (!more) {
                    break;
                }
                if (part.id == FourCC("guid")) {
                    if (!Need(part, 16, "band identity")) {
                        return false;
                    }
                    band.guid = DecodeGuid(part.body);
                } else if (part.id == kListId && part.formType == FourCC("UNFO")) {
                    ByteCursor unfo = part.body;
                    RawChunk text;
                    while (true) {
                        if (!Next(unfo, text, more)) {
                            return false;
                        }
                        if (!more) {
                            break;
                        }
                        if (text.id == FourCC("UNAM")) {
                            band.name = DecodeText(text.body);
                        }
                    }
                } else if (part.id == kListId && part.formType == FourCC("lbil")) {
                    ByteCursor lbil = part.body;
                    RawChunk lbin;
                    while (true) {
                        if (!Next(lbil, lbin, more)) {
                            return false;
                        }
                        if (!more) {
                            break;
                        }
                        if (lbin.id == kListId && lbin.formType == FourCC("lbin")) {
                            SegmentBandInstrument instrument;
                            if (!ParseBandInstrument(lbin.body, lbin.offset, instrument)) {
                                return false;
                            }
                            band.instruments.push_back(std::move(instrument));
                        }
                    }
                }
            }
        }
    }
    if (!sawTimes) {
        return Fail(offset, "band without \"bd2h\"");
    }
    segment_.bands.push_back(std::move(band));
    return true;
}

bool SegmentParser::ParseBandInstrument(ByteCursor body, size_t offset,
                                        SegmentBandInstrument& instrument) {
    bool sawRecord = false;
    RawChunk chunk;
    bool more = false;
    while (true) {
        if (!Next(body, chunk, more)) {
            return false;
        }
        if (!more) {
            break;
        }
        if (chunk.id == FourCC("bins")) {
            if (!Need(chunk, kInstrumentRecordSize, "band instrument")) {
                return false;
            }
            instrument.record = DecodeInstrumentRecord(chunk.body);
            sawRecord = true;
        } else if (chunk.id == kListId && chunk.formType == FourCC("DMRF")) {
            ByteCursor reference = chunk.body;
            RawChunk part;
            while (true) {
                if (!Next(reference, part, more)) {
                    return false;
                }
                if (!more) {
                    break;
                }
                if (part.id == FourCC("refh")) {
                    if (!Need(part, kReferenceHeaderSize, "reference header")) {
                        return false;
                    }
                    instrument.referenceClass = DecodeGuid(part.body);
                    instrument.referenceValidData = part.body.u32le();
                } else if (part.id == FourCC("name")) {
                    instrument.referenceName = DecodeText(part.body);
                } else if (part.id == FourCC("file")) {
                    instrument.referenceFile = DecodeText(part.body);
                }
            }
        }
    }
    if (!sawRecord) {
        return Fail(offset, "band instrument without \"bins\"");
    }
    return true;
}

bool SegmentParser::ParseSysex(const RawChunk& chunk) {
    ByteCursor body = chunk.body;
    while (body.remaining() > 0) {
        const size_t at = OffsetOf(body);
        if (!body.canRead(kSysexItemHeaderSize)) {
            return Fail(at, "system-exclusive item header cut short");
        }
        SegmentSysexItem item;
        item.time = body.s32le();
        item.channel = body.u32le();
        const uint32_t length = body.u32le();
        if (length > body.remaining()) {
            return Fail(at, "system-exclusive item of " + std::to_string(length) +
                                " bytes runs past its chunk");
        }
        item.data.resize(length);
        body.bytes(item.data.data(), length);
        segment_.sysex.push_back(std::move(item));
    }
    return true;
}

} // namespace

SegmentReadResult ReadSegmentBytes(std::span<const uint8_t> bytes, SegmentFile& segment,
                                   std::string& failure) {
    failure.clear();
    SegmentParser parser(bytes, segment, failure);
    return parser.Parse() ? SegmentReadResult::Ok : SegmentReadResult::Malformed;
}

SegmentReadResult ReadSegmentFile(const std::string& path, SegmentFile& segment,
                                  std::string& failure) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        failure = "cannot open " + path;
        return SegmentReadResult::OpenFailed;
    }
    const int64_t size = file.Size();
    std::vector<uint8_t> bytes(static_cast<size_t>(size > 0 ? size : 0));
    if (file.Read(bytes.data(), static_cast<int64_t>(bytes.size())) !=
        static_cast<int64_t>(bytes.size())) {
        failure = "cannot read " + path;
        return SegmentReadResult::OpenFailed;
    }
    file.Close();
    return ReadSegmentBytes(bytes, segment, failure);
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
