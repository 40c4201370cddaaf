// SPDX-License-Identifier: GPL-3.0-or-later
// The audio loop shared by real-time and offline output: the synthesizer renders in
// blocks of 64 frames, and before each block the sequencer dispatches every event that
// falls inside it, so the result never depends on how callers cut their buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "playback/sequencer.h"
#include "playback/synth.h"

namespace sonvex {

class RenderCore {
  public:
    static constexpr int kBlockFrames = 64;
    // Receives every event after the synthesizer (segment start, loop and end included).
    using Listener = std::function<void(const OutputEvent&)>;

    explicit RenderCore(Synth& synth) : synth_(synth) {}

    // Plays a sequence from the next block on, replacing the one playing.
    void Start(std::shared_ptr<const Sequence> sequence, const SequencerSettings& settings);
    // Silences every voice at once and drops the sequence.
    void Stop();
    // Drops a sequence that has finished, letting its voices ring out.
    void Finish() {
        sequencer_.reset();
        frame_ = 0;
    }
    bool Playing() const { return sequencer_ != nullptr; }
    const Sequencer* Current() const { return sequencer_.get(); }
    // Frames of the current sequence dispatched and rendered (its frame 0 is its first block).
    int64_t Frame() const { return frame_; }
    // Of those, the frames already handed out by Render.
    int64_t PlayedFrame() const {
        const int64_t played = frame_ - (kBlockFrames - used_);
        return played > 0 ? played : 0;
    }
    void SetListener(Listener listener) { listener_ = std::move(listener); }

    // Renders any number of frames into the two buffers (overwriting them).
    void Render(float* left, float* right, int frames);

  private:
    class Tee : public EventSink {
      public:
        Tee(Synth& synth, const Listener& listener) : synth_(synth), listener_(listener) {}
        void Dispatch(const OutputEvent& e) override {
            synth_.Dispatch(e);
            if (listener_) {
                listener_(e);
            }
        }

      private:
        Synth& synth_;
        const Listener& listener_;
    };

    void RenderBlock();

    Synth& synth_;
    Listener listener_;
    std::unique_ptr<Sequencer> sequencer_;
    int64_t frame_ = 0;
    float left_[kBlockFrames]{};
    float right_[kBlockFrames]{};
    int used_ = kBlockFrames; // frames of the staged block already handed out
};

} // namespace sonvex
