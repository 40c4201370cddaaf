// The SMF walk: header check, delta times converted one by one into music time, the
// accepted event kinds, and the values the sequence walk takes from text, marker and
// time-signature events.
#include "segment/smf_reader.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace sonvex {

namespace {

std::string Hex(int64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, static_cast<uint64_t>(offset));
    return text;
}

std::string HexByte(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
    return text;
}

bool IsAcceptedController(uint8_t controller) {
    switch (controller) {
    case 0:
    case 1:
    case 7:
    case 10:
    case 11:
    case 12:
    case 32:
    case 64:
    case 91:
    case 123:
        return true;
    default:
        return false;
    }
}

bool IsAcceptedMeta(uint8_t type) {
    switch (type) {
    case kMetaText:
    case kMetaCopyright:
    case kMetaTrackName:
    case kMetaMarker:
    case kMetaCuePoint:
    case kMetaEndOfTrack:
    case kMetaTempo:
    case kMetaTimeSignature:
        return true;
    default:
        return false;
    }
}

char Lower(uint8_t c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

bool EqualsIgnoringCase(std::span<const uint8_t> text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (Lower(text[i]) != Lower(static_cast<uint8_t>(word[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

bool SmfReader::Fail(int64_t offset, const std::string& what) {
    failure_ = "SMF at " + Hex(offset) + ": " + what;
    return false;
}

bool SmfReader::ReadByte(uint8_t& b) {
    return file_.Read(&b, 1) == 1;
}

bool SmfReader::CheckHeader() {
    failure_.clear();
    uint8_t raw[kSmfHeaderCheckSize];
    if (file_.Seek(0, SeekOrigin::Begin) != 0 ||
        file_.Read(raw, kSmfHeaderCheckSize) != static_cast<int64_t>(kSmfHeaderCheckSize)) {
        return Fail(0, "header shorter than 16 bytes");
    }
    ByteCursor c(raw, sizeof raw);
    SmfHeaderCheck h;
    c.bytes(h.id, 4);
    h.headerLength = c.u32be();
    h.format = c.u16be();
    h.trackCount = c.u16be();
    h.division = c.u16be();
    c.bytes(h.trackIdStart, 2);
    if (h.id[0] != 'M' || h.id[1] != 'T' || h.id[2] != 'h' || h.id[3] != 'd') {
        return Fail(0, "not an MThd header");
    }
    if (h.headerLength != 6) {
        return Fail(4, "header length " + std::to_string(h.headerLength) + ", not 6");
    }
    if (h.format != 0) {
        return Fail(8, "format " + std::to_string(h.format) + ", only format 0 is read");
    }
    if (h.trackCount != 1) {
        return Fail(10, std::to_string(h.trackCount) + " tracks, only one is read");
    }
    if (h.division == 0) {
        return Fail(12, "division 0");
    }
    division_ = h.division;
    ratio_ = static_cast<double>(kMusicTicksPerQuarter) / static_cast<double>(division_);
    return true;
}

int64_t SmfReader::MusicDelta(uint32_t ticks, double ratio) {
    // At most 0x0FFFFFFF ticks times 768: well inside 64 bits.
    return static_cast<int64_t>(static_cast<double>(ticks) * ratio + 0.5);
}

bool SmfReader::ReadDelta(uint32_t& delta) {
    const int64_t start = file_.Tell();
    uint64_t value = 0; // wide enough that one more byte cannot wrap it below the limit
    while (true) {
        uint8_t b = 0;
        if (!ReadByte(b)) {
            return Fail(start, "file ends inside a delta time");
        }
        value = value * 128 + (b & 0x7Fu);
        if (value > 0x0FFFFFFFu) {
            return Fail(start, "delta time above 0x0FFFFFFF");
        }
        if (!(b & 0x80)) {
            break;
        }
    }
    delta = static_cast<uint32_t>(value);
    return true;
}

bool SmfReader::Walk(const Action& action) {
    failure_.clear();
    if (ratio_ <= 0.0) {
        return Fail(0, "walk before a successful header check");
    }
    if (file_.Seek(kFirstEventOffset, SeekOrigin::Begin) != kFirstEventOffset) {
        return Fail(kFirstEventOffset, "cannot reach the first event");
    }
    int64_t now = 0;
    while (true) {
        uint32_t delta = 0;
        if (!ReadDelta(delta)) {
            return false;
        }
        const int64_t statusOffset = file_.Tell();
        SmfEvent event;
        event.offset = statusOffset;
        if (!ReadByte(event.status)) {
            return Fail(statusOffset, "file ends before a status byte");
        }
        // The event's time includes its own delta, whatever the walk does with it, so
        // that every walk sees the same times.
        now += MusicDelta(delta, ratio_);
        if (now > std::numeric_limits<int32_t>::max()) {
            return Fail(statusOffset, "music time beyond 32 bits");
        }
        event.time = static_cast<int32_t>(now);

        const uint8_t status = event.status;
        if (status < 0x80) {
            return Fail(statusOffset, "data byte " + HexByte(status) +
                                          " where a status byte belongs (running status)");
        }
        switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xB0:
        case 0xE0: {
            uint8_t two[2];
            if (file_.Read(two, 2) != 2) {
                return Fail(statusOffset, "file ends inside a channel event");
            }
            event.data1 = two[0];
            event.data2 = two[1];
            if ((status & 0xF0) == 0xB0 && !IsAcceptedController(event.data1)) {
                return Fail(statusOffset,
                            "control change " + std::to_string(event.data1) + " is not accepted");
            }
            break;
        }
        case 0xC0:
            if (!ReadByte(event.data1)) {
                return Fail(statusOffset, "file ends inside a program change");
            }
            break;
        case 0xF0:
            if (status == 0xF0) {
                // The length is read as a variable-length quantity: for 0..127 that is
                // the one length byte, and a larger length never moves the walk back.
                uint32_t length = 0;
                if (!ReadDelta(length)) {
                    failure_ += " (system-exclusive length)";
                    return false;
                }
                file_.Seek(length, SeekOrigin::Current);
                break;
            }
            if (status == 0xFF) {
                uint8_t typeAndLength[2];
                if (file_.Read(typeAndLength, 2) != 2) {
                    return Fail(statusOffset, "file ends inside a meta event header");
                }
                event.metaType = typeAndLength[0];
                const uint8_t length = typeAndLength[1];
                if (!IsAcceptedMeta(event.metaType)) {
                    return Fail(statusOffset,
                                "meta event type " + HexByte(event.metaType) + " is not accepted");
                }
                if (event.metaType == kMetaEndOfTrack) {
                    endTime_ = event.time;
                    return true;
                }
                if (event.metaType == kMetaTempo && length < 3) {
                    return Fail(statusOffset,
                                "tempo event with " + std::to_string(length) + " data bytes");
                }
                if (file_.Read(data_, length) != length) {
                    return Fail(statusOffset, "file ends inside a meta event");
                }
                event.data = std::span<const uint8_t>(data_, length);
                break;
            }
            return Fail(statusOffset, "status " + HexByte(status) + " is not accepted");
        default:
            // 0xA0 polyphonic and 0xD0 channel pressure.
            return Fail(statusOffset, "status " + HexByte(status) + " is not accepted");
        }
        if (!action(event)) {
            if (failure_.empty()) {
                Fail(statusOffset, "the walk's action failed");
            }
            return false;
        }
    }
}

int32_t ParseDecimal(std::span<const uint8_t> text) {
    size_t i = 0;
    auto at = [&](size_t k) -> uint8_t { return k < text.size() ? text[k] : 0; };
    while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) {
        ++i;
    }
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') {
        negative = at(i) == '-';
        ++i;
    }
    int64_t value = 0;
    while (at(i) >= '0' && at(i) <= '9') {
        if (value <= int64_t{1} << 32) {
            value = value * 10 + (at(i) - '0');
        }
        ++i;
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

uint32_t UpdateRepeatCount(uint32_t count, std::span<const uint8_t> text) {
    const uint32_t number = static_cast<uint32_t>(ParseDecimal(text));
    if (count < number) {
        count = number;
    }
    if (count > 126) {
        count = kRepeatForever;
    }
    return count;
}

LoopMarker ClassifyMarker(std::span<const uint8_t> text) {
    size_t length = 0;
    while (length < text.size() && text[length] != 0) {
        ++length;
    }
    const std::span<const uint8_t> name = text.first(length);
    if (EqualsIgnoringCase(name, "Loop_Start")) {
        return LoopMarker::Start;
    }
    if (EqualsIgnoringCase(name, "Loop_End")) {
        return LoopMarker::End;
    }
    return LoopMarker::None;
}

double TempoFromMicroseconds(uint32_t microseconds) {
    if (microseconds == 0) {
        return 0.0;
    }
    return 600.0 / (static_cast<double>(microseconds) / 100000.0);
}

void SequenceValues::Take(const SmfEvent& event) {
    if (event.status != 0xFF) {
        return;
    }
    if (event.metaType == kMetaText) {
        repeats = UpdateRepeatCount(repeats, event.data);
    } else if (event.metaType == kMetaMarker) {
        switch (ClassifyMarker(event.data)) {
        case LoopMarker::Start:
            loopStart = event.time;
            break;
        case LoopMarker::End:
            loopEnd = event.time;
            break;
        case LoopMarker::None:
            break;
        }
    } else if (event.metaType == kMetaTimeSignature && event.data.size() >= 2) {
        // A time signature without its two bytes says nothing and is passed over.
        timeSignature.time = event.time;
        timeSignature.beatsPerMeasure = event.data[0];
        timeSignature.beat = static_cast<uint8_t>(event.data[1] < 8 ? 1u << event.data[1] : 0u);
        timeSignature.gridsPerBeat = 1;
        timeSignatureSeen = true;
    }
}

} // namespace sonvex
