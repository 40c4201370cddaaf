// SPDX-License-Identifier: GPL-3.0-or-later
// Sequencer: walks a segment pass by pass (start point to loop end, loop passes, the
// last pass to the end), turning music time into output frames through the tempo map.
#include "playback/sequencer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonvex {

namespace {
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr size_t kSpansKept = 8;

int64_t RoundFrame(double exact) {
    return static_cast<int64_t>(std::floor(exact + 0.5));
}
} // namespace

Sequencer::Sequencer(std::shared_ptr<const Sequence> sequence, const SequencerSettings& settings)
    : sequence_(std::move(sequence)),
      rate_(settings.sampleRate > 0 ? settings.sampleRate : 44100.0),
      startPoint_(std::max(settings.startPoint, 0)),
      repeats_(settings.repeats.value_or(sequence_->repeats)) {
    if (repeats_ > 0) {
        loop_ = EffectiveLoop(*sequence_);
    }
}

double Sequencer::SpanFrame(const Span& span, double musicTime) const {
    const TempoMap& tempo = sequence_->tempo;
    return span.startFrame + (tempo.SecondsAt(musicTime) - tempo.SecondsAt(span.from)) * rate_;
}

void Sequencer::EnterSpan(int32_t from, double startFrame, double playedBefore) {
    Span span;
    span.from = from;
    span.startFrame = startFrame;
    span.playedBefore = playedBefore;
    const bool loopsLeft = repeats_ == kRepeatEndless || loopsDone_ < repeats_;
    if (loop_.Valid() && from < loop_.end && loopsLeft) {
        span.to = loop_.end;
        span.last = false;
    } else {
        span.to = sequence_->length;
        span.last = true;
    }
    spans_.push_back(span);
    if (spans_.size() > kSpansKept) {
        spans_.pop_front();
    }
    const auto& events = sequence_->events;
    next_ = static_cast<size_t>(
        std::lower_bound(events.begin(), events.end(), from,
                         [](const MusicEvent& e, int32_t t) { return e.time < t; }) -
        events.begin());
}

void Sequencer::Start(EventSink& sink) {
    started_ = true;
    OutputEvent reset;
    reset.kind = OutputEvent::Kind::ResetChannels;
    sink.Dispatch(reset);
    // What a listener expects at the start point: programs, controllers, bends and
    // bands as the events before it left them; notes before it stay silent.
    for (const MusicEvent& e : sequence_->events) {
        if (e.time >= startPoint_) {
            break;
        }
        if (e.kind != MusicEventKind::Note) {
            DispatchEvent(e, 0, 0.0, sink);
        }
    }
    OutputEvent start;
    start.kind = OutputEvent::Kind::SegmentStart;
    start.musicTime = startPoint_;
    sink.Dispatch(start);
    if (startPoint_ >= sequence_->length) {
        ended_ = true;
        endFrame_ = 0;
        OutputEvent end;
        end.kind = OutputEvent::Kind::SegmentEnd;
        end.musicTime = sequence_->length;
        sink.Dispatch(end);
        return;
    }
    EnterSpan(startPoint_, 0.0, 0.0);
}

void Sequencer::DispatchEvent(const MusicEvent& e, int64_t frame, double exactFrame,
                              EventSink& sink) {
    OutputEvent out;
    out.frame = frame;
    out.musicTime = e.time;
    out.status = e.status;
    out.data1 = e.data1;
    out.data2 = e.data2;
    switch (e.kind) {
    case MusicEventKind::Note: {
        out.kind = OutputEvent::Kind::NoteOn;
        sink.Dispatch(out);
        const TempoMap& tempo = sequence_->tempo;
        const double held = tempo.SecondsAt(static_cast<double>(e.time) + std::max(e.duration, 0)) -
                            tempo.SecondsAt(e.time);
        noteOffs_.push({RoundFrame(exactFrame + held * rate_), offOrder_++,
                        static_cast<uint8_t>(e.status & 0x0F), e.data1});
        break;
    }
    case MusicEventKind::Channel:
        out.kind = OutputEvent::Kind::Channel;
        sink.Dispatch(out);
        break;
    case MusicEventKind::Band:
        if (e.band < sequence_->bands.size()) {
            out.kind = OutputEvent::Kind::Band;
            for (const BandInstrument& instrument : sequence_->bands[e.band]) {
                out.instrument = &instrument;
                out.status = static_cast<uint8_t>(instrument.channel & 0x0F);
                sink.Dispatch(out);
            }
        }
        break;
    }
}

void Sequencer::DispatchUntil(int64_t untilFrame, EventSink& sink) {
    if (!started_) {
        Start(sink);
    }
    const auto& events = sequence_->events;
    for (;;) {
        const int64_t offFrame = noteOffs_.empty() ? kNever : noteOffs_.top().frame;
        int64_t eventFrame = kNever;
        double eventExact = 0.0;
        int64_t boundaryFrame = kNever;
        double boundaryExact = 0.0;
        if (!ended_) {
            const Span& span = spans_.back();
            if (next_ < events.size() && events[next_].time < span.to) {
                eventExact = SpanFrame(span, events[next_].time);
                eventFrame = RoundFrame(eventExact);
            }
            boundaryExact = SpanFrame(span, span.to);
            boundaryFrame = RoundFrame(boundaryExact);
        }
        const int64_t first = std::min({offFrame, eventFrame, boundaryFrame});
        if (first == kNever || first >= untilFrame) {
            return;
        }
        if (offFrame == first) {
            const PendingOff off = noteOffs_.top();
            noteOffs_.pop();
            OutputEvent out;
            out.kind = OutputEvent::Kind::NoteOff;
            out.frame = off.frame;
            out.status = static_cast<uint8_t>(0x80 | off.channel);
            out.data1 = off.key;
            out.musicTime = static_cast<int32_t>(PositionAt(off.frame));
            sink.Dispatch(out);
            continue;
        }
        if (eventFrame == first) {
            DispatchEvent(events[next_++], eventFrame, eventExact, sink);
            continue;
        }
        const Span span = spans_.back();
        OutputEvent out;
        out.frame = boundaryFrame;
        if (span.last) {
            ended_ = true;
            endFrame_ = boundaryFrame;
            out.kind = OutputEvent::Kind::SegmentEnd;
            out.musicTime = sequence_->length;
            sink.Dispatch(out);
        } else {
            ++loopsDone_;
            out.kind = OutputEvent::Kind::SegmentLoop;
            out.musicTime = loop_.start;
            out.loopsDone = loopsDone_;
            sink.Dispatch(out);
            EnterSpan(loop_.start, boundaryExact, span.playedBefore + (span.to - span.from));
        }
    }
}

const Sequencer::Span& Sequencer::SpanAt(int64_t frame) const {
    for (auto it = spans_.rbegin(); it != spans_.rend(); ++it) {
        if (it->startFrame <= static_cast<double>(frame)) {
            return *it;
        }
    }
    return spans_.front();
}

double Sequencer::PositionAt(int64_t frame) const {
    if (spans_.empty()) {
        return ended_ ? sequence_->length : startPoint_;
    }
    if (ended_ && frame >= endFrame_) {
        return sequence_->length;
    }
    const Span& span = SpanAt(frame);
    const TempoMap& tempo = sequence_->tempo;
    const double seconds =
        (static_cast<double>(frame) - span.startFrame) / rate_ + tempo.SecondsAt(span.from);
    return std::clamp(tempo.MusicTimeAt(seconds), static_cast<double>(span.from),
                      static_cast<double>(span.to));
}

double Sequencer::MusicTimePlayedAt(int64_t frame) const {
    if (spans_.empty()) {
        return 0.0;
    }
    const Span& span = (ended_ && frame >= endFrame_) ? spans_.back() : SpanAt(frame);
    return span.playedBefore + (PositionAt(frame) - span.from);
}

double Sequencer::TempoAt(int64_t frame) const {
    return sequence_->tempo.TempoAt(PositionAt(frame));
}

} // namespace sonvex
