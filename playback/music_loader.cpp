// SMF and segment loaders: bounds-checked reads into the Sequence the sequencer plays.
#include "playback/music_loader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <optional>

#include "chunkfile/chunk_file.h"
#include "platform/byte_cursor.h"
#include "segment/segment_reader.h"
#include "segment/smf_reader.h"

namespace sonvex {

namespace {

constexpr int64_t kLargestFile = int64_t{1} << 30;
constexpr int64_t kLastMusicTime = 0x7FFFFFFF;
// Music time per second for files timed in SMPTE frames: they ignore tempo events and
// are laid out at the default tempo.
constexpr double kSmpteMusicPerSecond = kDefaultTempo / 60.0 * kTicksPerQuarter;

std::string Hex(int64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, static_cast<uint64_t>(offset));
    return text;
}

struct TrackInfo {
    int64_t endTime = 0; // music time of the end of track (or of the last event)
};

class SmfParser {
  public:
    SmfParser(std::span<const uint8_t> bytes, const SmfLoadOptions& options)
        : origin_(bytes.data()), bytes_(bytes), options_(options) {}

    MusicLoadOutcome Run();

  private:
    int64_t At(const ByteCursor& c) const {
        return (c.data() - origin_) + static_cast<int64_t>(c.position());
    }
    void Note(const ByteCursor& c, const std::string& what) {
        out_.diagnostics.push_back("track " + std::to_string(track_) + " at " + Hex(At(c)) + ": " +
                                   what);
    }
    MusicLoadOutcome Fail(MusicLoadStatus status, int64_t offset, const std::string& what) {
        out_.status = status;
        out_.error = "SMF at " + Hex(offset) + ": " + what;
        out_.sequence.reset();
        return std::move(out_);
    }
    // Music time of an absolute tick count; nullopt past the range of music time.
    std::optional<int32_t> MusicTimeOf(uint64_t tick) const;
    TrackInfo ReadTrack(ByteCursor c);

    const uint8_t* origin_;
    std::span<const uint8_t> bytes_;
    SmfLoadOptions options_;
    MusicLoadOutcome out_;
    Sequence* seq_ = nullptr;
    uint16_t division_ = 0;
    bool smpte_ = false;
    double ticksPerSecond_ = 0.0;
    int track_ = 0;
    bool timeSignatureSeen_ = false;
    std::vector<TempoPoint> tempos_;
    // Meta events that decide the loop, in music time, for loopsFromMarkers.
    struct LoopText {
        int32_t time;
        uint8_t type;
        std::vector<uint8_t> data;
    };
    std::vector<LoopText> loopTexts_;
};

std::optional<int32_t> SmfParser::MusicTimeOf(uint64_t tick) const {
    if (smpte_) {
        const double t = static_cast<double>(tick) / ticksPerSecond_ * kSmpteMusicPerSecond + 0.5;
        if (t > static_cast<double>(kLastMusicTime)) {
            return std::nullopt;
        }
        return static_cast<int32_t>(t);
    }
    if (tick > (uint64_t{1} << 40)) {
        return std::nullopt;
    }
    const uint64_t t = (tick * kTicksPerQuarter + division_ / 2) / division_;
    if (t > static_cast<uint64_t>(kLastMusicTime)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(t);
}

TrackInfo SmfParser::ReadTrack(ByteCursor c) {
    TrackInfo info;
    uint64_t tick = 0;
    uint8_t running = 0;
    int32_t now = 0;
    // Open notes of this track by channel and key, oldest first: index into events.
    std::map<uint16_t, std::vector<size_t>> open;
    auto closeNote = [&](uint8_t channel, uint8_t key) {
        auto it = open.find(static_cast<uint16_t>(channel << 8 | key));
        if (it == open.end() || it->second.empty()) {
            return;
        }
        MusicEvent& note = seq_->events[it->second.front()];
        note.duration = now - note.time;
        it->second.erase(it->second.begin());
    };
    bool ended = false;
    while (c.remaining() > 0) {
        const uint32_t delta = c.varLen();
        if (!c.ok()) {
            Note(c, "delta time cut short or longer than four bytes; the track ends here");
            break;
        }
        tick += delta;
        const std::optional<int32_t> time = MusicTimeOf(tick);
        if (!time) {
            Note(c, "event beyond the range of music time; the track ends here");
            break;
        }
        now = *time;
        if (c.remaining() == 0) {
            Note(c, "delta time without an event; the track ends here");
            break;
        }
        uint8_t status = c.data()[c.position()];
        if (status < 0x80) {
            if (running == 0) {
                Note(c, "data byte without a running status; the track ends here");
                break;
            }
            status = running; // running status: this byte is the first data byte
        } else {
            c.skip(1);
        }
        if (status < 0xF0) {
            running = status;
            const uint8_t kind = status & 0xF0;
            const bool oneByte = kind == 0xC0 || kind == 0xD0;
            const uint8_t d1 = static_cast<uint8_t>(c.u8() & 0x7F);
            const uint8_t d2 = oneByte ? 0 : static_cast<uint8_t>(c.u8() & 0x7F);
            if (!c.ok()) {
                Note(c, "channel event cut short; the track ends here");
                break;
            }
            const uint8_t channel = status & 0x0F;
            if (kind == 0x90 && d2 > 0) {
                MusicEvent e;
                e.time = now;
                e.kind = MusicEventKind::Note;
                e.status = status;
                e.data1 = d1;
                e.data2 = d2;
                e.duration = -1; // until its note-off
                open[static_cast<uint16_t>(channel << 8 | d1)].push_back(seq_->events.size());
                seq_->events.push_back(e);
            } else if (kind == 0x80 || kind == 0x90) {
                closeNote(channel, d1);
            } else {
                MusicEvent e;
                e.time = now;
                e.kind = MusicEventKind::Channel;
                e.status = status;
                e.data1 = d1;
                e.data2 = d2;
                seq_->events.push_back(e);
            }
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            const uint32_t length = c.varLen();
            if (!c.ok() || !c.skip(length)) {
                Note(c, "system-exclusive data cut short; the track ends here");
                break;
            }
            continue; // the synthesizer's state is ours to keep: system exclusive is not sent
        }
        if (status == 0xFF) {
            const uint8_t type = c.u8();
            const uint32_t length = c.varLen();
            if (!c.ok() || length > c.remaining()) {
                Note(c, "meta event cut short; the track ends here");
                break;
            }
            ByteCursor data = c.sub(length);
            if (type == 0x2F) {
                ended = true;
                break;
            }
            if (type == 0x51 && length >= 3 && !smpte_) {
                const uint32_t micros = data.u24be();
                if (micros > 0) {
                    tempos_.push_back({now, 60000000.0 / micros});
                }
            } else if (type == 0x58 && length >= 2 && !timeSignatureSeen_) {
                const uint8_t numerator = data.u8();
                const uint8_t power = data.u8();
                if (numerator > 0 && power <= 6) {
                    seq_->beatsPerBar = numerator;
                    seq_->beatUnit = 1 << power;
                    timeSignatureSeen_ = true;
                }
            } else if (type == 0x01 || type == 0x06) {
                LoopText text{now, type, std::vector<uint8_t>(data.data(), data.data() + length)};
                loopTexts_.push_back(std::move(text));
            }
            continue;
        }
        Note(c, "status byte " + Hex(status).substr(8) +
                    " has no place in a file; the track ends here");
        break;
    }
    if (!ended) {
        Note(c, "no end-of-track event");
    }
    info.endTime = now;
    // Notes never switched off sound to the end of their track.
    for (auto& [key, indexes] : open) {
        for (size_t i : indexes) {
            seq_->events[i].duration = now - seq_->events[i].time;
        }
    }
    return info;
}

MusicLoadOutcome SmfParser::Run() {
    ByteCursor file(bytes_);
    // An RMID file carries the SMF in its "data" chunk.
    if (file.remaining() >= 12 && file.u32le() == kRiffId) {
        file.u32le();
        if (file.u32le() != FourCC("RMID")) {
            return Fail(MusicLoadStatus::NotRecognised, 0, "RIFF form is not \"RMID\"");
        }
        bool found = false;
        while (file.remaining() >= 8) {
            const uint32_t id = file.u32le();
            const uint32_t size = file.u32le();
            if (id == FourCC("data")) {
                file = file.sub(size);
                found = true;
                break;
            }
            if (!file.skip(size + (size & 1))) {
                break;
            }
        }
        if (!found) {
            return Fail(MusicLoadStatus::Malformed, 12, "RMID without a \"data\" chunk");
        }
    } else {
        file = ByteCursor(bytes_);
    }
    const int64_t headerAt = At(file);
    if (file.remaining() < 14 || file.u32be() != 0x4D546864) { // "MThd"
        return Fail(MusicLoadStatus::NotRecognised, headerAt, "no \"MThd\" header");
    }
    const uint32_t headerLength = file.u32be();
    if (headerLength < 6 || headerLength > file.remaining()) {
        return Fail(MusicLoadStatus::Malformed, headerAt,
                    "header length " + std::to_string(headerLength));
    }
    ByteCursor header = file.sub(headerLength);
    const uint16_t format = header.u16be();
    const uint16_t trackCount = header.u16be();
    division_ = header.u16be();
    if (format > 2) {
        return Fail(MusicLoadStatus::Malformed, headerAt + 8, "format " + std::to_string(format));
    }
    if (division_ == 0) {
        return Fail(MusicLoadStatus::Malformed, headerAt + 12, "division 0");
    }
    if ((division_ & 0x8000) != 0) {
        smpte_ = true;
        const int frames = 256 - (division_ >> 8);
        const int perFrame = division_ & 0xFF;
        const double fps = frames == 29 ? 29.97 : frames;
        ticksPerSecond_ = fps * perFrame;
        if (perFrame == 0 || frames <= 0) {
            return Fail(MusicLoadStatus::Malformed, headerAt + 12, "SMPTE division without ticks");
        }
    }

    out_.sequence = std::make_shared<Sequence>();
    seq_ = out_.sequence.get();
    int64_t length = 0;
    int tracksRead = 0;
    while (file.remaining() >= 8) {
        const int64_t chunkAt = At(file);
        const uint32_t id = file.u32be();
        uint32_t size = file.u32be();
        if (size > file.remaining()) {
            out_.diagnostics.push_back("chunk at " + Hex(chunkAt) + ": size " +
                                       std::to_string(size) +
                                       " runs past the file; read to its end");
            size = static_cast<uint32_t>(file.remaining());
        }
        ByteCursor body = file.sub(size);
        if (id != 0x4D54726B) { // "MTrk"
            continue;
        }
        if (format == 2 && tracksRead > 0) {
            out_.diagnostics.push_back("chunk at " + Hex(chunkAt) +
                                       ": a format 2 file plays its first track only");
            break;
        }
        track_ = tracksRead;
        const TrackInfo info = ReadTrack(body);
        length = std::max(length, info.endTime);
        ++tracksRead;
    }
    if (tracksRead == 0) {
        return Fail(MusicLoadStatus::Malformed, headerAt, "no \"MTrk\" chunk");
    }
    if (tracksRead != trackCount && format != 2) {
        out_.diagnostics.push_back("header at " + Hex(headerAt) + ": says " +
                                   std::to_string(trackCount) + " track(s), the file holds " +
                                   std::to_string(tracksRead));
    }
    seq_->SortEvents();
    seq_->tempo = TempoMap(std::move(tempos_));
    seq_->length = static_cast<int32_t>(length);

    if (options_.loopsFromMarkers) {
        std::stable_sort(loopTexts_.begin(), loopTexts_.end(),
                         [](const LoopText& a, const LoopText& b) { return a.time < b.time; });
        for (const LoopText& t : loopTexts_) {
            if (t.type == 0x01) {
                seq_->repeats = UpdateRepeatCount(seq_->repeats, t.data);
            } else {
                switch (ClassifyMarker(t.data)) {
                case LoopMarker::Start:
                    seq_->loopStart = t.time;
                    seq_->loopMarked = true;
                    break;
                case LoopMarker::End:
                    seq_->loopEnd = t.time;
                    seq_->loopMarked = true;
                    break;
                case LoopMarker::None:
                    break;
                }
            }
        }
    }
    return std::move(out_);
}

// Segment files: everything the reader understood, as events in music time.
MusicLoadOutcome FromSegment(const SegmentFile& file) {
    MusicLoadOutcome out;
    out.sequence = std::make_shared<Sequence>();
    Sequence& seq = *out.sequence;
    std::vector<TempoPoint> tempos;
    for (const TempoItem& t : file.tempos) {
        tempos.push_back({t.time, t.tempo});
    }
    seq.tempo = TempoMap(std::move(tempos));

    std::map<std::string, int> collectionIndex; // file name in lower case
    for (const SegmentBand& band : file.bands) {
        std::vector<BandInstrument> instruments;
        for (const SegmentBandInstrument& in : band.instruments) {
            BandInstrument b;
            b.channel = static_cast<uint8_t>(in.record.channel & 0x0F);
            if (in.record.channel > 15) {
                out.diagnostics.push_back("band \"" + band.name + "\": performance channel " +
                                          std::to_string(in.record.channel) + " plays on channel " +
                                          std::to_string(b.channel + 1));
            }
            b.patch = in.record.patch;
            b.flags = in.record.flags;
            b.volume = static_cast<uint8_t>(in.record.volume & 0x7F);
            b.pan = static_cast<uint8_t>(in.record.pan & 0x7F);
            b.bendRange = in.record.pitchBendRange;
            std::string dlsName =
                in.referenceFile.empty() ? in.referenceName + ".dls" : in.referenceFile;
            if (!in.referenceFile.empty() || !in.referenceName.empty()) {
                std::string key;
                for (char c : dlsName) {
                    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                }
                auto [it, added] =
                    collectionIndex.emplace(key, static_cast<int>(seq.collections.size()));
                if (added) {
                    seq.collections.push_back(dlsName);
                }
                b.collection = it->second;
            }
            instruments.push_back(b);
        }
        MusicEvent e;
        e.time = std::max(band.logicalTime, 0);
        e.kind = MusicEventKind::Band;
        e.band = static_cast<uint32_t>(seq.bands.size());
        seq.bands.push_back(std::move(instruments));
        seq.events.push_back(e);
    }
    int64_t lastEnd = 0;
    for (const SequenceItem& item : file.sequenceItems) {
        MusicEvent e;
        e.time = std::max(item.time, 0);
        const uint8_t channel = static_cast<uint8_t>(item.channel & 0x0F);
        const uint8_t kind = static_cast<uint8_t>(item.status & 0xF0);
        e.data1 = static_cast<uint8_t>(item.data1 & 0x7F);
        e.data2 = static_cast<uint8_t>(item.data2 & 0x7F);
        if (kind == 0x90) {
            if (e.data2 == 0) {
                continue; // a note without velocity plays nothing
            }
            e.kind = MusicEventKind::Note;
            e.status = static_cast<uint8_t>(0x90 | channel);
            e.duration = std::max(item.duration, 0);
        } else if (kind >= 0xA0 && kind <= 0xE0) {
            e.kind = MusicEventKind::Channel;
            e.status = static_cast<uint8_t>(kind | channel);
        } else {
            out.diagnostics.push_back("sequence item at " + std::to_string(item.time) +
                                      ": status " + std::to_string(item.status) + " is not played");
            continue;
        }
        lastEnd = std::max<int64_t>(lastEnd, static_cast<int64_t>(e.time) + e.duration);
        seq.events.push_back(e);
    }
    seq.SortEvents();
    seq.length = file.header.length;
    if (seq.length <= 0 && lastEnd > 0) {
        out.diagnostics.push_back("segment header: length " + std::to_string(file.header.length) +
                                  "; the items end at " + std::to_string(lastEnd));
        seq.length = static_cast<int32_t>(std::min<int64_t>(lastEnd, kLastMusicTime));
    }
    if (!file.timeSignatures.empty()) {
        const TimeSignatureItem& t = file.timeSignatures.front();
        if (t.beatsPerMeasure > 0 && t.beat > 0 && t.beat <= 64 && (t.beat & (t.beat - 1)) == 0) {
            seq.beatsPerBar = t.beatsPerMeasure;
            seq.beatUnit = t.beat;
        }
    }
    seq.repeats = file.header.repeats;
    seq.loopStart = file.header.loopStart;
    seq.loopEnd = file.header.loopEnd;
    seq.loopMarked = file.header.repeats > 0;
    return out;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        error = path + ": cannot be opened";
        return false;
    }
    const int64_t size = file.Size();
    if (size < 0 || size > kLargestFile) {
        error = path + ": size " + std::to_string(size) + " cannot be read";
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (file.Read(bytes.data(), size) != size) {
        error = path + ": short read";
        return false;
    }
    file.Close();
    return true;
}

MusicLoadOutcome LoadSmf(std::span<const uint8_t> bytes, const SmfLoadOptions& options) {
    SmfParser parser(bytes, options);
    return parser.Run();
}

MusicLoadOutcome LoadSmfFile(const std::string& path, const SmfLoadOptions& options) {
    std::vector<uint8_t> bytes;
    MusicLoadOutcome out;
    if (!ReadWholeFile(path, bytes, out.error)) {
        out.status = MusicLoadStatus::OpenFailed;
        return out;
    }
    return LoadSmf(bytes, options);
}

MusicLoadOutcome LoadSegment(std::span<const uint8_t> bytes) {
    SegmentFile file;
    std::string failure;
    MusicLoadOutcome out;
    if (ReadSegmentBytes(bytes, file, failure) != SegmentReadResult::Ok) {
        const bool isRiff = bytes.size() >= 12 && bytes[0] == 'R' && bytes[1] == 'I' &&
                            bytes[2] == 'F' && bytes[3] == 'F' && bytes[8] == 'D' &&
                            bytes[9] == 'M' && bytes[10] == 'S' && bytes[11] == 'G';
        out.status = isRiff ? MusicLoadStatus::Malformed : MusicLoadStatus::NotRecognised;
        out.error = "segment: " + failure;
        return out;
    }
    return FromSegment(file);
}

MusicLoadOutcome LoadSegmentFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    MusicLoadOutcome out;
    if (!ReadWholeFile(path, bytes, out.error)) {
        out.status = MusicLoadStatus::OpenFailed;
        return out;
    }
    return LoadSegment(bytes);
}

} // namespace sonvex
