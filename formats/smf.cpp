// SPDX-License-Identifier: GPL-3.0-or-later
// SMF reading: the file layout of each dialect, and one decoder for the events of a track.
#include "formats/smf.h"

#include <algorithm>

#include "formats/riff.h"
#include "platform/byte_cursor.h"

namespace sonvex {

namespace {

constexpr uint32_t kHeaderId = 0x4D546864; // "MThd"
constexpr uint32_t kTrackId = 0x4D54726B;  // "MTrk"
constexpr size_t kClassicFirstEvent = 22;  // after the 14-byte header and an 8-byte track header

uint32_t Be32(std::span<const uint8_t> b, size_t at) {
    return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
           (static_cast<uint32_t>(b[at + 2]) << 8) | b[at + 3];
}
uint16_t Be16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

using Cut = SmfTrackEvent::Cut;

// Decodes the events of one track from `begin` up to `end` (Classic: to the end of the
// bytes and on to its end of track).
class TrackDecoder {
  public:
    TrackDecoder(std::span<const uint8_t> bytes, SmfDialect dialect, size_t trackIndex,
                 Diagnostics& diagnostics, SmfTrack& track)
        : bytes_(bytes), dialect_(dialect), trackIndex_(trackIndex), diagnostics_(diagnostics),
          track_(track) {}

    void Run(size_t begin, size_t end) {
        pos_ = begin;
        end_ = end;
        Events();
        track_.stop = Here();
    }

  private:
    bool Is(SmfDialect dialect) const { return dialect_ == dialect; }
    int64_t Here() const { return static_cast<int64_t>(pos_); }
    void Events();
    bool Event();
    bool Channel(SmfTrackEvent& e);
    bool Data(SmfTrackEvent& e);
    bool ClassicData(SmfTrackEvent& e);
    // A variable-length quantity of at most four bytes inside the track.
    bool VarLen(uint32_t& value);
    bool ReadDelta(uint32_t& value, int64_t start, const char* classicSuffix);
    // Records the fault that ends the track, and what was read of the event it cut.
    bool Fault(int64_t offset, const std::string& problem, Cut cut = Cut::None,
               const SmfTrackEvent* partial = nullptr);

    std::span<const uint8_t> bytes_;
    SmfDialect dialect_;
    size_t trackIndex_;
    Diagnostics& diagnostics_;
    SmfTrack& track_;
    size_t pos_ = 0;
    size_t end_ = 0;
    uint64_t tick_ = 0;
    uint8_t running_ = 0;
};

bool TrackDecoder::Fault(int64_t offset, const std::string& problem, Cut cut,
                         const SmfTrackEvent* partial) {
    if (partial != nullptr) {
        track_.events.push_back(*partial);
        track_.events.back().cut = cut;
    }
    if (Is(SmfDialect::Player)) {
        diagnostics_.Note(offset, "track " + std::to_string(trackIndex_),
                          problem + "; the track ends here");
        track_.fault = diagnostics_.notes.back();
    } else {
        diagnostics_.Fail(offset, "SMF", problem);
        track_.fault = diagnostics_.failure;
    }
    return false;
}

bool TrackDecoder::VarLen(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4 && pos_ < end_; ++i) {
        const uint8_t b = bytes_[pos_++];
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            return true;
        }
    }
    return false;
}

bool TrackDecoder::ReadDelta(uint32_t& value, int64_t start, const char* classicSuffix) {
    if (!Is(SmfDialect::Classic)) {
        if (VarLen(value)) {
            return true;
        }
        return Is(SmfDialect::Strict)
                   ? Fault(start, "delta time longer than 4 bytes or cut short")
                   : Fault(Here(), "delta time cut short or longer than four bytes");
    }
    // Any number of bytes; only the value is limited. A wide sum cannot wrap below it.
    uint64_t sum = 0;
    while (true) {
        if (pos_ >= bytes_.size()) {
            return Fault(start, std::string("file ends inside a delta time") + classicSuffix);
        }
        const uint8_t b = bytes_[pos_++];
        sum = sum * 128 + (b & 0x7Fu);
        if (sum > 0x0FFFFFFFu) {
            return Fault(start, std::string("delta time above 0x0FFFFFFF") + classicSuffix);
        }
        if (!(b & 0x80)) {
            value = static_cast<uint32_t>(sum);
            return true;
        }
    }
}

void TrackDecoder::Events() {
    while (Is(SmfDialect::Classic) || pos_ < end_) {
        if (track_.ended && Is(SmfDialect::Strict)) {
            Fault(Here(), "event after the end of track");
            return;
        }
        if (!Event()) {
            return;
        }
        if (track_.ended && !Is(SmfDialect::Strict)) {
            return; // whatever follows the end of track is not read
        }
    }
    if (!track_.ended && Is(SmfDialect::Strict)) {
        Fault(static_cast<int64_t>(end_), "track without end-of-track event");
    }
}

bool TrackDecoder::Event() {
    SmfTrackEvent e;
    e.offset = Here();
    if (!ReadDelta(e.delta, e.offset, "")) {
        return false;
    }
    tick_ += e.delta;
    e.tick = tick_;
    e.statusOffset = Here();
    if (pos_ >= (Is(SmfDialect::Classic) ? bytes_.size() : end_)) {
        // For the player the delta still counts towards the length of the track.
        return Is(SmfDialect::Player)
                   ? Fault(Here(), "delta time without an event", Cut::InHeader, &e)
               : Is(SmfDialect::Strict) ? Fault(Here(), "event cut short by the end of the track")
                                        : Fault(Here(), "file ends before a status byte");
    }
    e.status = bytes_[pos_];
    if (e.status < 0x80) {
        if (Is(SmfDialect::Strict)) {
            return Fault(Here(), "data byte where a status byte is due (running status)");
        }
        if (Is(SmfDialect::Classic)) {
            return Fault(Here(),
                         "data byte " + HexByte(e.status) +
                             " where a status byte belongs (running status)",
                         Cut::InHeader, &e);
        }
        if (running_ == 0) {
            return Fault(Here(), "data byte without a running status", Cut::InHeader, &e);
        }
        e.status = running_; // this byte is the first data byte
        e.runningStatus = true;
    } else {
        ++pos_;
    }
    bool ok = false;
    if (e.status < 0xF0) {
        ok = Channel(e);
    } else if (e.status == 0xFF || e.status == 0xF0 ||
               (e.status == 0xF7 && !Is(SmfDialect::Classic))) {
        ok = Is(SmfDialect::Classic) ? ClassicData(e) : Data(e);
    } else if (Is(SmfDialect::Player)) {
        ok = Fault(Here(), "status byte " + HexByte(e.status).substr(2) + " has no place in a file",
                   Cut::InHeader, &e);
    } else if (Is(SmfDialect::Strict)) {
        ok = Fault(e.statusOffset, "system event F1..FE in a file");
    } else {
        ok = Fault(e.statusOffset, "status " + HexByte(e.status) + " is not accepted",
                   Cut::InHeader, &e);
    }
    if (ok) {
        track_.events.push_back(e);
    }
    return ok;
}

bool TrackDecoder::Channel(SmfTrackEvent& e) {
    const uint8_t kind = e.Kind();
    const size_t count = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
    if (Is(SmfDialect::Classic)) {
        if (kind == 0xA0 || kind == 0xD0) {
            return Fault(e.statusOffset, "status " + HexByte(e.status) + " is not accepted",
                         Cut::InHeader, &e);
        }
        if (bytes_.size() - pos_ < count) {
            return Fault(e.statusOffset,
                         kind == 0xC0 ? "file ends inside a program change"
                                      : "file ends inside a channel event",
                         Cut::InHeader, &e);
        }
    }
    if (Is(SmfDialect::Player)) {
        running_ = e.status;
    }
    uint8_t data[2] = {0, 0};
    for (size_t i = 0; i < count; ++i) {
        if (pos_ >= end_) {
            return Fault(Here(), "channel event cut short", Cut::InHeader, &e);
        }
        data[i] = bytes_[pos_++];
        if (Is(SmfDialect::Strict) && (data[i] & 0x80)) {
            return Fault(Here() - 1, "data byte with bit 7 set");
        }
    }
    e.data1 = data[0];
    e.data2 = data[1];
    return true;
}

// Meta and system-exclusive events of the player and strict dialects: the type byte of
// a meta event, the length as a variable-length quantity, the data.
bool TrackDecoder::Data(SmfTrackEvent& e) {
    const bool meta = e.status == 0xFF;
    const bool strict = Is(SmfDialect::Strict);
    if (meta && pos_ >= end_) {
        return Fault(Here(), strict ? "meta event without type" : "meta event cut short",
                     Cut::InHeader, &e);
    }
    if (meta) {
        e.metaType = bytes_[pos_++];
    }
    const bool sized = VarLen(e.length);
    if (!sized || e.length > end_ - pos_) {
        if (strict) {
            return Fault(e.offset, "event length runs past the end of the track");
        }
        return Fault(Here(), meta ? "meta event cut short" : "system-exclusive data cut short",
                     sized ? Cut::InData : Cut::InHeader, &e);
    }
    e.data = bytes_.subspan(pos_, e.length);
    pos_ += e.length;
    if (e.IsMeta(0x2F)) {
        if (strict && e.length != 0) {
            return Fault(e.offset, "end of track with data");
        }
        track_.ended = true;
    }
    return true;
}

// The classic walk's system exclusive (F0 only) and meta events.
bool TrackDecoder::ClassicData(SmfTrackEvent& e) {
    if (e.status == 0xF0) {
        if (!ReadDelta(e.length, Here(), " (system-exclusive length)")) {
            track_.events.push_back(e);
            track_.events.back().cut = Cut::InHeader;
            return false;
        }
        // Skipped by its length, which may lead past the end: the next delta time then fails.
        e.data = bytes_.subspan(pos_, std::min<size_t>(e.length, bytes_.size() - pos_));
        pos_ += e.length;
        return true;
    }
    if (bytes_.size() - pos_ < 2) {
        return Fault(e.statusOffset, "file ends inside a meta event header", Cut::InHeader, &e);
    }
    e.metaType = bytes_[pos_];
    e.length = bytes_[pos_ + 1]; // one byte, never a variable-length quantity
    pos_ += 2;
    if (e.metaType == 0x2F) {
        track_.ended = true; // the walk stops here; the length is not looked at
        return true;
    }
    if (e.length > bytes_.size() - pos_) {
        return Fault(e.statusOffset, "file ends inside a meta event", Cut::InData, &e);
    }
    e.data = bytes_.subspan(pos_, e.length);
    pos_ += e.length;
    return true;
}

class FileReader {
  public:
    FileReader(std::span<const uint8_t> bytes, SmfDialect dialect)
        : bytes_(bytes), dialect_(dialect) {}

    SmfRead Run() {
        switch (dialect_) {
        case SmfDialect::Player:
            Player();
            break;
        case SmfDialect::Strict:
            Strict();
            break;
        case SmfDialect::Classic:
            Classic();
            break;
        }
        if (out_.status == SmfReadStatus::Ok && out_.diagnostics.failed()) {
            out_.status = SmfReadStatus::Malformed;
        }
        return std::move(out_);
    }

  private:
    void Refuse(SmfReadStatus status, int64_t offset, const std::string& problem) {
        out_.status = status;
        out_.diagnostics.Fail(offset, "SMF", problem);
    }
    void Header(size_t at) {
        SmfFile& smf = out_.smf;
        smf.headerOffset = static_cast<int64_t>(at);
        smf.headerLength = Be32(bytes_, at + 4);
        smf.format = Be16(bytes_, at + 8);
        smf.trackCount = Be16(bytes_, at + 10);
        smf.division = Be16(bytes_, at + 12);
    }
    SmfTrack& Decode(int64_t offset, uint32_t length, size_t begin, size_t end) {
        SmfTrack& track = out_.smf.tracks.emplace_back();
        track.offset = offset;
        track.length = length;
        TrackDecoder(bytes_, dialect_, out_.smf.tracks.size() - 1, out_.diagnostics, track)
            .Run(begin, end);
        return track;
    }
    bool StartsWithHeader(size_t at) const {
        return bytes_.size() - at >= 4 && Be32(bytes_, at) == kHeaderId;
    }

    void Classic();
    void Strict();
    void Player();

    std::span<const uint8_t> bytes_;
    SmfDialect dialect_;
    SmfRead out_;
};

void FileReader::Classic() {
    if (bytes_.size() < 16) {
        return Refuse(SmfReadStatus::NotSmf, 0, "header shorter than 16 bytes");
    }
    if (!StartsWithHeader(0)) {
        return Refuse(SmfReadStatus::NotSmf, 0, "not an MThd header");
    }
    Header(0);
    const uint32_t length = bytes_.size() >= kClassicFirstEvent ? Be32(bytes_, 18) : 0;
    Decode(14, length, kClassicFirstEvent, bytes_.size());
}

void FileReader::Strict() {
    if (bytes_.size() < kClassicFirstEvent) {
        return Refuse(SmfReadStatus::Malformed, 0,
                      "file of " + std::to_string(bytes_.size()) +
                          " bytes is shorter than the chunk headers");
    }
    if (!StartsWithHeader(0)) {
        return Refuse(SmfReadStatus::NotSmf, 0, "no MThd");
    }
    Header(0);
    const SmfFile& smf = out_.smf;
    if (smf.headerLength != 6) {
        return Refuse(SmfReadStatus::Malformed, 4, "header length is not 6");
    }
    if (smf.format != 0 || smf.trackCount != 1) {
        return Refuse(SmfReadStatus::Malformed, 8, "not format 0 with one track");
    }
    if (Be32(bytes_, 14) != kTrackId) {
        return Refuse(SmfReadStatus::Malformed, 14, "no MTrk");
    }
    const uint32_t length = Be32(bytes_, 18);
    const size_t end = kClassicFirstEvent + static_cast<size_t>(length);
    if (bytes_.size() != end + (length & 1)) {
        return Refuse(SmfReadStatus::Malformed, 18,
                      "track length " + std::to_string(length) + " does not match a file of " +
                          std::to_string(bytes_.size()) + " bytes");
    }
    if ((length & 1) != 0 && bytes_[end] != 0) {
        return Refuse(SmfReadStatus::Malformed, static_cast<int64_t>(end), "pad byte is not zero");
    }
    Decode(14, length, kClassicFirstEvent, end);
}

void FileReader::Player() {
    size_t at = 0;
    size_t end = bytes_.size();
    ByteCursor file(bytes_);
    // An RMID file carries the SMF in its "data" chunk.
    if (file.remaining() >= 12 && file.u32le() == kRiffId) {
        file.u32le();
        if (file.u32le() != FourCC("RMID")) {
            return Refuse(SmfReadStatus::NotSmf, 0, "RIFF form is not \"RMID\"");
        }
        // A "data" chunk whose size runs past the file is read to the file's end.
        Diagnostics wrapper;
        RiffWalker walker(bytes_, wrapper, RiffWalker::Tail::Note, RiffWalker::Overrun::Trust);
        RiffChunk chunk;
        bool found = false;
        while (!found && walker.Next(file, chunk)) {
            found = chunk.id == FourCC("data");
        }
        if (!found) {
            return Refuse(SmfReadStatus::Malformed, 12, "RMID without a \"data\" chunk");
        }
        at = static_cast<size_t>(walker.OffsetOf(chunk.data));
        end = at + chunk.data.size();
    }
    if (end - at < 14 || !StartsWithHeader(at)) {
        return Refuse(SmfReadStatus::NotSmf, static_cast<int64_t>(at), "no \"MThd\" header");
    }
    Header(at);
    const SmfFile& smf = out_.smf;
    const int64_t headerAt = smf.headerOffset;
    if (smf.headerLength < 6 || smf.headerLength > end - at - 8) {
        return Refuse(SmfReadStatus::Malformed, headerAt,
                      "header length " + std::to_string(smf.headerLength));
    }
    if (smf.format > 2) {
        return Refuse(SmfReadStatus::Malformed, headerAt + 8,
                      "format " + std::to_string(smf.format));
    }
    if (smf.division == 0) {
        return Refuse(SmfReadStatus::Malformed, headerAt + 12, "division 0");
    }
    // SMPTE timing: the high byte is minus the frames per second, the low one ticks per frame.
    if ((smf.division & 0x8000) != 0 && (smf.division & 0xFF) == 0) {
        return Refuse(SmfReadStatus::Malformed, headerAt + 12, "SMPTE division without ticks");
    }
    size_t pos = at + 8 + smf.headerLength;
    while (end - pos >= 8) {
        const int64_t chunkAt = static_cast<int64_t>(pos);
        const uint32_t id = Be32(bytes_, pos);
        uint32_t size = Be32(bytes_, pos + 4);
        pos += 8;
        if (size > end - pos) {
            out_.diagnostics.Note(chunkAt, "chunk",
                                  "size " + std::to_string(size) +
                                      " runs past the file; read to its end");
            size = static_cast<uint32_t>(end - pos);
        }
        if (id == kTrackId) {
            Decode(chunkAt, size, pos, pos + size);
        }
        pos += size;
    }
    if (smf.tracks.empty()) {
        return Refuse(SmfReadStatus::Malformed, headerAt, "no \"MTrk\" chunk");
    }
    if (smf.tracks.size() != smf.trackCount && smf.format != 2) {
        out_.diagnostics.Note(headerAt, "header",
                              "says " + std::to_string(smf.trackCount) +
                                  " track(s), the file holds " + std::to_string(smf.tracks.size()));
    }
}

} // namespace

SmfRead ReadSmf(std::span<const uint8_t> bytes, SmfDialect dialect) {
    return FileReader(bytes, dialect).Run();
}

} // namespace sonvex
