// SPDX-License-Identifier: GPL-3.0-or-later
// The loop unroller: the SMF's events merged into one time line, the loop and its count
// taken as the player takes them, then the passes written one after the other with the
// state of the loop start restored at every repeat, and the fade of an endless loop.
#include "unroll/loop_unroller.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <optional>

#include "chunkfile/chunk_file.h"
#include "formats/file_bytes.h"
#include "formats/smf.h"
#include "segment/smf_reader.h"
#include "seq2smf/smf_writer.h"

namespace sonvex {

namespace {

// The whole output fits one delta time, so no delta of any track can overflow.
constexpr uint64_t kMaxOutputTicks = kMaxDeltaTime;
constexpr size_t kMaxOutputEvents = 4'000'000;
// Loop passes a fade may take (a loop of a few ticks at a fast tempo takes many).
constexpr uint64_t kMaxFadePasses = 65536;
// Points in time at which the fade lowers the expression of every channel.
constexpr int kFadeSteps = 64;
constexpr uint32_t kDefaultMicrosPerQuarter = 500000; // 120 beats per minute
constexpr uint8_t kExpression = 11;
constexpr uint8_t kAllNotesOff = 123;

// Besides the meta types segment/smf_reader.h names.
constexpr uint8_t kMetaKeySignature = 0x59;

struct SourceEvent {
    uint64_t tick = 0;
    uint16_t track = 0;
    const SmfTrackEvent* event = nullptr;
};

bool IsChannelEvent(const SmfTrackEvent& e) {
    return e.status >= 0x80 && e.status < 0xF0;
}

// Controllers that hold a channel's state. Parameter numbers and data entry edit a
// parameter rather than hold one, and the mode messages (120..127) are commands.
bool IsStateController(uint8_t c) {
    return c < 120 && c != 6 && c != 38 && !(c >= 96 && c <= 101);
}

// Controllers whose value before the first one a song sends is known: what a synthesizer
// starts with and what "reset all controllers" leaves.
std::optional<uint8_t> PowerOnController(uint8_t c) {
    switch (c) {
    case 0:
    case 1:
    case 32:
    case 64:
    case 65:
    case 66:
    case 67:
    case 68:
    case 69:
        return 0;
    case 7:
        return 100;
    case 10:
        return 64;
    case 11:
        return 127;
    case 91:
        return 40;
    case 93:
        return 0;
    default:
        return std::nullopt;
    }
}

std::vector<uint8_t> PowerOnMeta(uint8_t type) {
    switch (type) {
    case kMetaTempo:
        return {0x07, 0xA1, 0x20};
    case kMetaTimeSignature:
        return {4, 2, 24, 8};
    case kMetaKeySignature:
        return {0, 0};
    default:
        return {};
    }
}

// A text the player reads as a loop count: a number after any blanks ("002", " 127", "-1").
bool IsCountText(std::span<const uint8_t> text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

void AppendVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t buffer[4];
    const int n = EncodeVarLen(v, buffer);
    out.insert(out.end(), buffer, buffer + n);
}

std::vector<uint8_t> MetaBytes(uint8_t type, std::span<const uint8_t> data) {
    std::vector<uint8_t> out = {0xFF, type};
    AppendVarLen(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> EventBytes(const SmfTrackEvent& e) {
    if (e.status == 0xFF) {
        return MetaBytes(e.metaType, e.data);
    }
    if (e.status == 0xF0 || e.status == 0xF7) {
        std::vector<uint8_t> out = {e.status};
        AppendVarLen(out, static_cast<uint32_t>(e.data.size()));
        out.insert(out.end(), e.data.begin(), e.data.end());
        return out;
    }
    const uint8_t kind = e.Kind();
    if (kind == 0xC0 || kind == 0xD0) {
        return {e.status, static_cast<uint8_t>(e.data1 & 0x7F)};
    }
    return {e.status, static_cast<uint8_t>(e.data1 & 0x7F), static_cast<uint8_t>(e.data2 & 0x7F)};
}

// A value of the song's state and the track whose event set it; -1 while never set.
struct Setting {
    int32_t value = -1;
    uint16_t track = 0;
    bool operator==(const Setting& o) const { return value == o.value; }
};

struct ChannelState {
    std::array<Setting, 128> controllers;
    Setting program;
    Setting bend; // 14 bits, 0x2000 the centre
};

struct MetaSetting {
    bool set = false;
    uint16_t track = 0;
    std::vector<uint8_t> data;
};

// Notes sounding, by channel and key, oldest first: their velocity and track.
struct HeldNote {
    uint8_t velocity = 0;
    uint16_t track = 0;
};
using HeldNotes = std::map<uint16_t, std::deque<HeldNote>>;

uint16_t NoteKey(uint8_t channel, uint8_t key) {
    return static_cast<uint16_t>(channel << 8 | key);
}

// Follows note-ons and note-offs (and the mode messages that end every note of a channel).
void TrackNotes(HeldNotes& held, const std::vector<uint8_t>& bytes, uint16_t track) {
    if (bytes.size() < 3 || bytes[0] < 0x80 || bytes[0] >= 0xF0) {
        return;
    }
    const uint8_t kind = bytes[0] & 0xF0;
    const uint8_t channel = bytes[0] & 0x0F;
    if (kind == 0x90 && bytes[2] > 0) {
        held[NoteKey(channel, bytes[1])].push_back({bytes[2], track});
    } else if (kind == 0x80 || kind == 0x90) {
        auto it = held.find(NoteKey(channel, bytes[1]));
        if (it != held.end() && !it->second.empty()) {
            it->second.pop_front();
        }
    } else if (kind == 0xB0 && (bytes[1] == 120 || bytes[1] >= 123)) {
        for (auto& [key, notes] : held) {
            if ((key >> 8) == channel) {
                notes.clear();
            }
        }
    }
}

struct SongState {
    std::array<ChannelState, 16> channels;
    std::map<uint8_t, MetaSetting> metas; // tempo, time and key signature
    HeldNotes held;

    void Take(const SourceEvent& s) {
        const SmfTrackEvent& e = *s.event;
        if (e.status == 0xFF) {
            if (e.metaType == kMetaTempo || e.metaType == kMetaTimeSignature ||
                e.metaType == kMetaKeySignature) {
                metas[e.metaType] = {true, s.track, {e.data.begin(), e.data.end()}};
            }
            return;
        }
        if (!IsChannelEvent(e)) {
            return;
        }
        TrackNotes(held, EventBytes(e), s.track);
        ChannelState& c = channels[e.Channel()];
        const uint8_t d1 = e.data1 & 0x7F;
        const uint8_t d2 = e.data2 & 0x7F;
        switch (e.Kind()) {
        case 0xB0:
            if (IsStateController(d1)) {
                c.controllers[d1] = {d2, s.track};
            } else if (d1 == 121) {
                // Reset all controllers: what it resets, to the values it resets them to.
                for (const uint8_t r : std::array<uint8_t, 8>{1, 11, 64, 65, 66, 67, 68, 69}) {
                    c.controllers[r] = {*PowerOnController(r), s.track};
                }
                c.bend = {0x2000, s.track};
            }
            break;
        case 0xC0:
            c.program = {d1, s.track};
            break;
        case 0xE0:
            c.bend = {d2 << 7 | d1, s.track};
            break;
        default:
            break;
        }
    }
};

// Seconds at a source tick, and back, from the tempo events of every track (or the fixed
// rate of a division in SMPTE frames).
class TempoMap {
  public:
    TempoMap(const std::vector<SourceEvent>& timeline, uint16_t division) {
        if (division & 0x8000) {
            const int frames = 256 - (division >> 8);
            ticksPerSecond_ = (frames == 29 ? 29.97 : frames) * (division & 0xFF);
            return;
        }
        quarterTicks_ = division;
        points_.push_back({0, 0.0, kDefaultMicrosPerQuarter});
        for (const SourceEvent& s : timeline) {
            const SmfTrackEvent& e = *s.event;
            if (!e.IsMeta(kMetaTempo) || e.data.size() < 3) {
                continue;
            }
            const uint32_t micros = static_cast<uint32_t>(e.data[0]) << 16 |
                                    static_cast<uint32_t>(e.data[1]) << 8 | e.data[2];
            if (micros == 0) {
                continue;
            }
            Point p{s.tick, SecondsAt(s.tick), micros};
            if (points_.back().tick == s.tick) {
                points_.back() = p;
            } else {
                points_.push_back(p);
            }
        }
    }

    bool Usable() const { return ticksPerSecond_ > 0.0 || quarterTicks_ > 0; }

    double SecondsAt(uint64_t tick) const {
        if (ticksPerSecond_ > 0.0) {
            return static_cast<double>(tick) / ticksPerSecond_;
        }
        const Point& p = PointAt(tick);
        return p.seconds + static_cast<double>(tick - p.tick) * SecondsPerTick(p);
    }

    // The first tick at or after which `seconds` have passed (rounded to the nearest).
    uint64_t TickAt(double seconds) const {
        // Rounding can take a time a hair before the start.
        if (!(seconds > 0.0)) {
            return 0;
        }
        if (ticksPerSecond_ > 0.0) {
            return static_cast<uint64_t>(std::llround(seconds * ticksPerSecond_));
        }
        auto it = std::upper_bound(points_.begin(), points_.end(), seconds,
                                   [](double s, const Point& p) { return s < p.seconds; });
        const Point& p = *std::prev(it);
        return p.tick +
               static_cast<uint64_t>(std::llround((seconds - p.seconds) / SecondsPerTick(p)));
    }

  private:
    struct Point {
        uint64_t tick;
        double seconds;
        uint32_t micros;
    };
    const Point& PointAt(uint64_t tick) const {
        auto it = std::upper_bound(points_.begin(), points_.end(), tick,
                                   [](uint64_t t, const Point& p) { return t < p.tick; });
        return *std::prev(it);
    }
    double SecondsPerTick(const Point& p) const {
        return static_cast<double>(p.micros) / 1e6 / quarterTicks_;
    }

    double ticksPerSecond_ = 0.0;
    uint16_t quarterTicks_ = 0;
    std::vector<Point> points_;
};

class Unroller {
  public:
    Unroller(const SmfFile& smf, const UnrollOptions& options, UnrollResult& result)
        : smf_(smf), options_(options), result_(result), summary_(result.summary) {}

    UnrollStatus Run(UnrolledSmf& out);

  private:
    UnrollStatus Fail(UnrollStatus status, const std::string& problem) {
        result_.diagnostics.failure = problem;
        return status;
    }
    void MergeTracks();
    void FindLoop();
    bool Copied(const SmfTrackEvent& e) const;
    SongState StateBefore(uint64_t tick) const;
    void PlanRepeat();
    void Emit(uint64_t tick, uint16_t track, std::vector<uint8_t> bytes);
    // Copies the events in [from, to) to output ticks `at` onwards, those before `limit`.
    void EmitRange(uint64_t from, uint64_t to, uint64_t at, uint64_t limit = UINT64_MAX);
    // The loop end reached with passes to go: sounding notes end, the loop start's state
    // and held notes return.
    void EmitRepeatStart(uint64_t at);
    void EmitNotesOff(uint64_t at);
    double FadeSeconds(uint64_t outputTick) const;
    uint64_t FadeTick(double seconds) const;
    void ApplyFade();

    const SmfFile& smf_;
    UnrollOptions options_;
    UnrollResult& result_;
    UnrollSummary& summary_;
    std::vector<SourceEvent> timeline_;
    std::optional<TempoMap> tempo_;
    std::array<bool, 16> used_{};
    std::array<uint16_t, 16> channelTrack_{};
    std::vector<UnrolledEvent> restate_; // state of the loop start that the loop end changed
    std::vector<UnrolledEvent> restart_; // notes held across the loop start
    std::vector<UnrolledEvent> out_;     // in output order, all tracks
    HeldNotes sounding_;                 // in the output so far
    bool overflow_ = false;
};

void Unroller::MergeTracks() {
    for (size_t t = 0; t < smf_.tracks.size(); ++t) {
        for (const SmfTrackEvent& e : smf_.tracks[t].events) {
            summary_.songLength = std::max(summary_.songLength, e.tick);
            if (!e.Complete()) {
                continue;
            }
            timeline_.push_back({e.tick, static_cast<uint16_t>(t), &e});
            if (IsChannelEvent(e) && !used_[e.Channel()]) {
                used_[e.Channel()] = true;
                channelTrack_[e.Channel()] = static_cast<uint16_t>(t);
            }
        }
    }
    std::stable_sort(timeline_.begin(), timeline_.end(),
                     [](const SourceEvent& a, const SourceEvent& b) { return a.tick < b.tick; });
}

// As the player takes them: count texts and markers in time order over all tracks, the
// last marker of a kind winning; no loop end means the whole song.
void Unroller::FindLoop() {
    uint32_t count = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    for (const SourceEvent& s : timeline_) {
        const SmfTrackEvent& e = *s.event;
        if (e.IsMeta(kMetaText)) {
            count = UpdateRepeatCount(count, e.data);
        } else if (e.IsMeta(kMetaMarker)) {
            const LoopMarker marker = ClassifyMarker(e.data);
            if (marker == LoopMarker::Start) {
                start = s.tick;
            } else if (marker == LoopMarker::End) {
                end = s.tick;
            }
        }
    }
    if (end == 0) {
        start = 0;
        end = summary_.songLength;
    }
    end = std::min(end, summary_.songLength);
    summary_.loopStart = start;
    summary_.loopEnd = end;
    if (end <= start || count < 2) {
        summary_.loop = UnrolledLoop::None;
    } else if (count == kRepeatForever) {
        summary_.loop = UnrolledLoop::Endless;
    } else {
        summary_.loop = UnrolledLoop::Counted;
        summary_.passes = count;
    }
}

// Everything but the loop's own markers and count texts (the output has no loop) and the
// ends of track, which are written anew.
bool Unroller::Copied(const SmfTrackEvent& e) const {
    if (e.IsMeta(kMetaEndOfTrack)) {
        return false;
    }
    if (e.IsMeta(kMetaMarker)) {
        return ClassifyMarker(e.data) == LoopMarker::None;
    }
    if (e.IsMeta(kMetaText)) {
        return !IsCountText(e.data);
    }
    return true;
}

SongState Unroller::StateBefore(uint64_t tick) const {
    SongState state;
    for (const SourceEvent& s : timeline_) {
        if (s.tick >= tick) {
            break;
        }
        state.Take(s);
    }
    return state;
}

// What every repeat writes at its start: the loop start's tempo, signatures and channel
// state where the loop end left something else, and the notes held across the loop start.
void Unroller::PlanRepeat() {
    const SongState atStart = StateBefore(summary_.loopStart);
    const SongState atEnd = StateBefore(summary_.loopEnd);
    for (const auto& [type, setting] : atEnd.metas) {
        auto it = atStart.metas.find(type);
        if (it != atStart.metas.end() && it->second.data == setting.data) {
            continue;
        }
        const bool known = it != atStart.metas.end();
        const std::vector<uint8_t> data = known ? it->second.data : PowerOnMeta(type);
        restate_.push_back({0, known ? it->second.track : setting.track, MetaBytes(type, data)});
    }
    for (uint8_t ch = 0; ch < 16; ++ch) {
        const ChannelState& s = atStart.channels[ch];
        const ChannelState& e = atEnd.channels[ch];
        const auto status = [ch](uint8_t kind) { return static_cast<uint8_t>(kind | ch); };
        // The value to return to, or nothing when the loop start's value is not known.
        const auto target = [&](const Setting& from, const Setting& now,
                                std::optional<uint8_t> powerOn, const char* what) {
            std::optional<Setting> t;
            if (from.value >= 0) {
                t = from;
            } else if (powerOn) {
                t = Setting{*powerOn, now.track};
            } else {
                result_.diagnostics.notes.push_back(
                    "channel " + std::to_string(ch + 1) + ": " + what +
                    " at the loop start is not known; repeats keep the one the loop set");
            }
            return t;
        };
        const bool bankChanged =
            !(s.controllers[0] == e.controllers[0]) || !(s.controllers[32] == e.controllers[32]);
        for (const uint8_t c : std::array<uint8_t, 2>{0, 32}) {
            if (!(s.controllers[c] == e.controllers[c])) {
                if (auto t = target(s.controllers[c], e.controllers[c], uint8_t{0}, "the bank")) {
                    restate_.push_back(
                        {0, t->track, {status(0xB0), c, static_cast<uint8_t>(t->value)}});
                }
            }
        }
        // A bank select takes effect with the next program change.
        if (!(s.program == e.program) || (bankChanged && s.program.value >= 0)) {
            if (auto t = target(s.program, e.program, std::nullopt, "the program")) {
                restate_.push_back({0, t->track, {status(0xC0), static_cast<uint8_t>(t->value)}});
            }
        }
        for (int c = 1; c < 128; ++c) {
            if (c == 32 || s.controllers[c] == e.controllers[c]) {
                continue;
            }
            const auto cc = static_cast<uint8_t>(c);
            const std::string what = "controller " + std::to_string(c);
            if (auto t = target(s.controllers[c], e.controllers[c], PowerOnController(cc),
                                what.c_str())) {
                restate_.push_back(
                    {0, t->track, {status(0xB0), cc, static_cast<uint8_t>(t->value)}});
            }
        }
        if (!(s.bend == e.bend)) {
            // Before any bend a channel plays at the centre.
            const Setting t = s.bend.value >= 0 ? s.bend : Setting{0x2000, e.bend.track};
            restate_.push_back({0,
                                t.track,
                                {status(0xE0), static_cast<uint8_t>(t.value & 0x7F),
                                 static_cast<uint8_t>(t.value >> 7)}});
        }
    }
    for (const auto& [key, notes] : atStart.held) {
        for (const HeldNote& n : notes) {
            restart_.push_back({0,
                                n.track,
                                {static_cast<uint8_t>(0x90 | key >> 8),
                                 static_cast<uint8_t>(key & 0x7F), n.velocity}});
        }
    }
}

void Unroller::Emit(uint64_t tick, uint16_t track, std::vector<uint8_t> bytes) {
    if (out_.size() >= kMaxOutputEvents) {
        overflow_ = true;
        return;
    }
    TrackNotes(sounding_, bytes, track);
    out_.push_back({tick, track, std::move(bytes)});
}

void Unroller::EmitRange(uint64_t from, uint64_t to, uint64_t at, uint64_t limit) {
    auto it = std::lower_bound(timeline_.begin(), timeline_.end(), from,
                               [](const SourceEvent& s, uint64_t t) { return s.tick < t; });
    for (; it != timeline_.end() && it->tick < to && !overflow_; ++it) {
        const uint64_t tick = at + (it->tick - from);
        if (tick >= limit) {
            break;
        }
        if (Copied(*it->event)) {
            Emit(tick, it->track, EventBytes(*it->event));
        }
    }
}

void Unroller::EmitNotesOff(uint64_t at) {
    std::vector<UnrolledEvent> offs;
    for (const auto& [key, notes] : sounding_) {
        for (const HeldNote& n : notes) {
            offs.push_back(
                {at,
                 n.track,
                 {static_cast<uint8_t>(0x80 | key >> 8), static_cast<uint8_t>(key & 0x7F), 0x40}});
        }
    }
    for (UnrolledEvent& e : offs) {
        Emit(at, e.track, std::move(e.bytes));
    }
}

void Unroller::EmitRepeatStart(uint64_t at) {
    EmitNotesOff(at);
    for (const UnrolledEvent& e : restate_) {
        Emit(at, e.track, e.bytes);
    }
    for (const UnrolledEvent& e : restart_) {
        Emit(at, e.track, e.bytes);
    }
}

// Seconds since the fade began at an output tick inside it: whole loop passes and the
// part of the one under way.
double Unroller::FadeSeconds(uint64_t outputTick) const {
    const uint64_t body = summary_.loopEnd - summary_.loopStart;
    const uint64_t since = outputTick - summary_.fadeStart;
    const double pass = tempo_->SecondsAt(summary_.loopEnd) - tempo_->SecondsAt(summary_.loopStart);
    return static_cast<double>(since / body) * pass +
           tempo_->SecondsAt(summary_.loopStart + since % body) -
           tempo_->SecondsAt(summary_.loopStart);
}

uint64_t Unroller::FadeTick(double seconds) const {
    const uint64_t body = summary_.loopEnd - summary_.loopStart;
    const double startSeconds = tempo_->SecondsAt(summary_.loopStart);
    const double pass = tempo_->SecondsAt(summary_.loopEnd) - startSeconds;
    const auto passes = static_cast<uint64_t>(std::floor(seconds / pass));
    const double rest = std::max(0.0, seconds - static_cast<double>(passes) * pass);
    const uint64_t into =
        std::clamp(tempo_->TickAt(startSeconds + rest), summary_.loopStart, summary_.loopEnd) -
        summary_.loopStart;
    return summary_.fadeStart + passes * body + into;
}

// Expression falls linearly in time to 0 at the fade's end: every channel's own
// expression is scaled by what is left of the fade, in steps, and so is every expression
// the loop sends meanwhile.
void Unroller::ApplyFade() {
    const double fade = options_.fadeSeconds;
    std::array<int, 16> expression;
    std::array<int, 16> written;
    expression.fill(127);
    written.fill(-1);
    std::vector<UnrolledEvent> faded;
    faded.reserve(out_.size() + 16 * kFadeSteps);
    int step = 1;
    uint64_t stepTick = FadeTick(fade / kFadeSteps);
    const auto writeStep = [&] {
        const double gain = 1.0 - static_cast<double>(step) / kFadeSteps;
        for (uint8_t ch = 0; ch < 16; ++ch) {
            const int value = static_cast<int>(std::lround(expression[ch] * gain));
            if (used_[ch] && value != written[ch]) {
                faded.push_back(
                    {stepTick,
                     channelTrack_[ch],
                     {static_cast<uint8_t>(0xB0 | ch), kExpression, static_cast<uint8_t>(value)}});
                written[ch] = value;
            }
        }
        ++step;
        if (step <= kFadeSteps) {
            stepTick = FadeTick(fade * step / kFadeSteps);
        }
    };
    for (UnrolledEvent& e : out_) {
        while (step <= kFadeSteps && stepTick < e.tick) {
            writeStep();
        }
        if (e.bytes.size() == 3 && (e.bytes[0] & 0xF0) == 0xB0 && e.bytes[1] == kExpression) {
            const uint8_t ch = e.bytes[0] & 0x0F;
            expression[ch] = e.bytes[2];
            if (e.tick >= summary_.fadeStart) {
                const double gain = std::max(0.0, 1.0 - FadeSeconds(e.tick) / fade);
                e.bytes[2] = static_cast<uint8_t>(std::lround(e.bytes[2] * gain));
            }
            written[ch] = e.bytes[2];
        }
        faded.push_back(std::move(e));
    }
    while (step <= kFadeSteps) {
        writeStep();
    }
    out_ = std::move(faded);
}

UnrollStatus Unroller::Run(UnrolledSmf& out) {
    if (options_.loops < 1 || options_.loops > kMaxUnrollLoops) {
        return Fail(UnrollStatus::Unsupported,
                    "loops must be 1 to " + std::to_string(kMaxUnrollLoops));
    }
    if (!(options_.fadeSeconds >= 0.0 && options_.fadeSeconds <= kMaxUnrollFadeSeconds)) {
        return Fail(UnrollStatus::Unsupported, "the fade must be 0 to " +
                                                   std::to_string(int(kMaxUnrollFadeSeconds)) +
                                                   " seconds");
    }
    if (smf_.format > 1) {
        return Fail(UnrollStatus::Unsupported,
                    "format " + std::to_string(smf_.format) +
                        " (independent songs in one file) cannot be unrolled");
    }
    if (smf_.tracks.empty()) {
        return Fail(UnrollStatus::Unsupported, "the file holds no track");
    }
    MergeTracks();
    tempo_.emplace(timeline_, smf_.division);
    if (!tempo_->Usable()) {
        return Fail(UnrollStatus::Unsupported,
                    "division " + std::to_string(smf_.division) + " gives no ticks per second");
    }
    if (summary_.songLength > kMaxOutputTicks) {
        return Fail(UnrollStatus::TooLong,
                    "the song is longer than " + std::to_string(kMaxOutputTicks) + " ticks");
    }
    FindLoop();
    const uint64_t start = summary_.loopStart;
    const uint64_t end = summary_.loopEnd;
    const uint64_t body = end - start;
    const uint64_t tail = summary_.songLength - end;
    const bool endless = summary_.loop == UnrolledLoop::Endless;
    const bool fade = endless && options_.fadeSeconds > 0.0;
    if (endless) {
        summary_.passes = static_cast<uint32_t>(options_.loops);
    }
    const uint64_t passes = std::max<uint64_t>(summary_.passes, 1);
    uint64_t length = 0;
    if (summary_.loop == UnrolledLoop::None) {
        length = summary_.songLength;
    } else {
        summary_.fadeStart = end + body * (passes - 1);
        if (fade) {
            const double pass = tempo_->SecondsAt(end) - tempo_->SecondsAt(start);
            if (!(options_.fadeSeconds / pass < static_cast<double>(kMaxFadePasses))) {
                return Fail(UnrollStatus::TooLong, "the fade would take more than " +
                                                       std::to_string(kMaxFadePasses) +
                                                       " passes of the loop");
            }
            summary_.fadeEnd = FadeTick(options_.fadeSeconds);
            length = summary_.fadeEnd;
        } else {
            summary_.fadeStart = 0;
            length = end + body * (passes - 1) + tail;
        }
    }
    if (length > kMaxOutputTicks) {
        return Fail(UnrollStatus::TooLong, "the unrolled song would be longer than " +
                                               std::to_string(kMaxOutputTicks) + " ticks");
    }
    summary_.length = length;

    if (summary_.loop == UnrolledLoop::None) {
        EmitRange(0, summary_.songLength + 1, 0);
    } else {
        PlanRepeat();
        EmitRange(0, end, 0);
        uint64_t at = end;
        for (uint64_t pass = 1; pass < passes; ++pass, at += body) {
            EmitRepeatStart(at);
            EmitRange(start, end, at);
        }
        if (fade) {
            for (; at < summary_.fadeEnd && !overflow_; at += body) {
                EmitRepeatStart(at);
                EmitRange(start, end, at, summary_.fadeEnd);
                ++summary_.fadePasses;
            }
            ApplyFade();
            EmitNotesOff(length);
            for (uint8_t ch = 0; ch < 16; ++ch) {
                if (used_[ch]) {
                    Emit(length, channelTrack_[ch],
                         {static_cast<uint8_t>(0xB0 | ch), kAllNotesOff, 0});
                }
            }
        } else {
            EmitRange(end, summary_.songLength + 1, at);
        }
    }
    if (overflow_) {
        return Fail(UnrollStatus::TooLong, "the unrolled song would hold more than " +
                                               std::to_string(kMaxOutputEvents) + " events");
    }

    out.format = smf_.format;
    out.division = smf_.division;
    out.tracks.assign(smf_.tracks.size(), {});
    for (UnrolledEvent& e : out_) {
        out.tracks[e.track].push_back(std::move(e));
    }
    for (size_t t = 0; t < out.tracks.size(); ++t) {
        out.tracks[t].push_back({length, static_cast<uint16_t>(t), MetaBytes(kMetaEndOfTrack, {})});
    }
    summary_.events = out_.size() + out.tracks.size();
    return UnrollStatus::Ok;
}

} // namespace

UnrollResult UnrollSmf(std::span<const uint8_t> bytes, const UnrollOptions& options,
                       UnrolledSmf& out) {
    UnrollResult result;
    out = {};
    SmfRead read = ReadSmf(bytes, SmfDialect::Player);
    result.diagnostics = read.diagnostics;
    if (read.status != SmfReadStatus::Ok) {
        result.status =
            read.status == SmfReadStatus::NotSmf ? UnrollStatus::NotSmf : UnrollStatus::Malformed;
        if (!result.diagnostics.failed()) {
            result.diagnostics.failure = "not a Standard MIDI File";
        }
        return result;
    }
    Unroller unroller(read.smf, options, result);
    result.status = unroller.Run(out);
    if (result.status != UnrollStatus::Ok) {
        out = {};
    }
    return result;
}

UnrollResult UnrollSmfFile(const std::string& input, const std::string& output,
                           const UnrollOptions& options) {
    UnrollResult result;
    const FileBytes file = ReadFileBytes(input);
    if (file.status != FileReadStatus::Ok) {
        result.status = UnrollStatus::ReadFailed;
        result.diagnostics.failure = file.error;
        return result;
    }
    UnrolledSmf smf;
    result = UnrollSmf(file.bytes, options, smf);
    if (result.status != UnrollStatus::Ok) {
        result.diagnostics.failure = input + ": " + result.diagnostics.failure;
        return result;
    }
    const std::string temporary = output + ".tmp";
    SmfWriter writer;
    bool written = writer.BeginFile(temporary, smf.format, static_cast<uint16_t>(smf.tracks.size()),
                                    smf.division);
    if (written) {
        for (const std::vector<UnrolledEvent>& track : smf.tracks) {
            writer.BeginTrack();
            uint64_t tick = 0;
            for (const UnrolledEvent& e : track) {
                writer.WriteDeltaTime(static_cast<uint32_t>(e.tick - tick), 0);
                writer.WriteBytes(e.bytes);
                tick = e.tick;
            }
        }
        written = writer.FinishSmf();
    }
    if (!written || !ChunkFile::Rename(temporary, output)) {
        ChunkFile::Delete(temporary);
        result.status = UnrollStatus::WriteFailed;
        result.diagnostics.failure = output + ": cannot be written";
    }
    return result;
}

std::string UnrolledPath(const std::string& smfPath) {
    const size_t slash = smfPath.find_last_of('/');
    const size_t dot = smfPath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? smfPath.substr(0, dot) : smfPath) + ".unrolled.mid";
}

} // namespace sonvex
