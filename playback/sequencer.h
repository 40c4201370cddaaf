// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline of one playing segment: music time through the tempo map to output
// frames, loop passes and repeat counts, note-offs scheduled by duration, and the
// channel state chased when playback starts inside the segment.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <queue>
#include <vector>

#include "playback/sequence.h"

namespace sonvex {

struct SequencerSettings {
    double sampleRate = 44100.0;
    int32_t startPoint = 0;          // music time within the segment
    std::optional<uint32_t> repeats; // replaces the segment's own repeat count
};

class Sequencer {
  public:
    Sequencer(std::shared_ptr<const Sequence> sequence, const SequencerSettings& settings);

    // Hands `sink` every event whose frame lies before `untilFrame`, in frame order.
    // The first call starts with ResetChannels, the chased state and SegmentStart.
    void DispatchUntil(int64_t untilFrame, EventSink& sink);

    // The segment's end has been dispatched.
    bool SegmentEnded() const { return ended_; }
    // Ended, and every scheduled note-off has been dispatched.
    bool Finished() const { return ended_ && noteOffs_.empty(); }
    uint32_t LoopsDone() const { return loopsDone_; }
    // Position within the segment at an output frame at or before the last one
    // dispatched (loops folded back), and music time played since the start.
    double PositionAt(int64_t frame) const;
    double MusicTimePlayedAt(int64_t frame) const;
    double TempoAt(int64_t frame) const;
    const Sequence& GetSequence() const { return *sequence_; }

  private:
    struct Span {
        int32_t from = 0;        // music time
        int32_t to = 0;          // music time, exclusive
        double startFrame = 0;   // exact output frame of `from`
        double playedBefore = 0; // music time played before this span
        bool last = false;       // ends the segment (else loops back)
    };
    struct PendingOff {
        int64_t frame;
        uint64_t order;
        uint8_t channel;
        uint8_t key;
        bool operator>(const PendingOff& o) const {
            return frame != o.frame ? frame > o.frame : order > o.order;
        }
    };

    void Start(EventSink& sink);
    void DispatchEvent(const MusicEvent& e, int64_t frame, double exactFrame, EventSink& sink);
    void EnterSpan(int32_t from, double startFrame, double playedBefore);
    double SpanFrame(const Span& span, double musicTime) const;
    const Span& SpanAt(int64_t frame) const;

    std::shared_ptr<const Sequence> sequence_;
    double rate_;
    int32_t startPoint_;
    uint32_t repeats_;
    LoopRange loop_;
    bool started_ = false;
    bool ended_ = false;
    int64_t endFrame_ = 0;
    uint32_t loopsDone_ = 0;
    size_t next_ = 0;        // next event of the current span
    std::deque<Span> spans_; // the current span last; a few earlier ones for position queries
    std::priority_queue<PendingOff, std::vector<PendingOff>, std::greater<PendingOff>> noteOffs_;
    uint64_t offOrder_ = 0;
};

} // namespace sonvex
