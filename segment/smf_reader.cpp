// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF walk: header check, delta times converted one by one into music time, the
// accepted event kinds, and the values the sequence walk takes from text, marker and
// time-signature events.
#include "segment/smf_reader.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "formats/file_bytes.h"

namespace sonvex {

namespace {

bool IsAcceptedController(uint8_t controller) {
    constexpr uint8_t kAccepted[] = {0, 1, 7, 10, 11, 12, 32, 64, 91, 123};
    return std::find(std::begin(kAccepted), std::end(kAccepted), controller) != std::end(kAccepted);
}

bool IsAcceptedMeta(uint8_t type) {
    constexpr uint8_t kAccepted[] = {kMetaText,   kMetaCopyright,    kMetaTrackName,
                                     kMetaMarker, kMetaCuePoint,     kMetaEndOfTrack,
                                     kMetaTempo,  kMetaTimeSignature};
    return std::find(std::begin(kAccepted), std::end(kAccepted), type) != std::end(kAccepted);
}

bool EqualsIgnoringCase(std::span<const uint8_t> text, std::string_view word) {
    auto lower = [](uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return std::equal(text.begin(), text.end(), word.begin(), word.end(), [&](uint8_t a, char b) {
        return lower(a) == lower(static_cast<uint8_t>(b));
    });
}

// Music delta of one delta in ticks: rounded by itself, never from the absolute time.
int64_t MusicDelta(uint32_t ticks, double ratio) {
    // At most 0x0FFFFFFF ticks times 768: well inside 64 bits.
    return static_cast<int64_t>(static_cast<double>(ticks) * ratio + 0.5);
}

} // namespace

bool SmfReader::Fail(int64_t offset, const std::string& what) {
    failure_ = DiagnosticText("SMF", offset, what);
    return false;
}

bool SmfReader::CheckHeader() {
    failure_.clear();
    FileBytes file = ReadFileBytes(file_);
    if (file.status != FileReadStatus::Ok) {
        failure_ = file.error;
        return false;
    }
    bytes_ = std::move(file.bytes);
    read_ = ReadSmf(bytes_, SmfDialect::Classic);
    const SmfFile& h = read_.smf;
    if (h.tracks.empty()) {
        failure_ = read_.diagnostics.failure;
        return false;
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

bool SmfReader::Walk(const Action& action) {
    failure_.clear();
    if (ratio_ <= 0.0) {
        return Fail(0, "walk before a successful header check");
    }
    const SmfTrack& track = read_.smf.tracks.front();
    int64_t now = 0;
    // The checks run in the order the bytes are met: the time as soon as the status byte
    // is read, then the event's own fields, then (for a cut event) the fault.
    for (const SmfTrackEvent& e : track.events) {
        now += MusicDelta(e.delta, ratio_);
        if (now > std::numeric_limits<int32_t>::max()) {
            return Fail(e.statusOffset, "music time beyond 32 bits");
        }
        if (e.Kind() == 0xB0 && e.Complete() && !IsAcceptedController(e.data1)) {
            return Fail(e.statusOffset,
                        "control change " + std::to_string(e.data1) + " is not accepted");
        }
        if (e.status == 0xFF && e.cut != SmfTrackEvent::Cut::InHeader) {
            if (!IsAcceptedMeta(e.metaType)) {
                return Fail(e.statusOffset,
                            "meta event type " + HexByte(e.metaType) + " is not accepted");
            }
            if (e.metaType == kMetaEndOfTrack) {
                endTime_ = static_cast<int32_t>(now);
                return true;
            }
            if (e.metaType == kMetaTempo && e.length < 3) {
                return Fail(e.statusOffset,
                            "tempo event with " + std::to_string(e.length) + " data bytes");
            }
        }
        if (!e.Complete()) {
            break;
        }
        SmfEvent event;
        static_cast<SmfTrackEvent&>(event) = e;
        event.time = static_cast<int32_t>(now);
        if (e.status == 0xF0) {
            event.data = {};
        }
        if (!action(event)) {
            if (failure_.empty()) {
                Fail(e.statusOffset, "the walk's action failed");
            }
            return false;
        }
    }
    failure_ = track.fault;
    return false;
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
    const std::span<const uint8_t> name(text.begin(), std::find(text.begin(), text.end(), 0));
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
            loopMarked = true;
            break;
        case LoopMarker::End:
            loopEnd = event.time;
            loopMarked = true;
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
