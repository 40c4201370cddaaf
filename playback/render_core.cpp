// SPDX-License-Identifier: GPL-3.0-or-later
// Block-wise rendering with event dispatch ahead of each block.
#include "playback/render_core.h"

#include <algorithm>

namespace sonvex {

void RenderCore::Start(std::shared_ptr<const Sequence> sequence,
                       const SequencerSettings& settings) {
    SequencerSettings s = settings;
    s.sampleRate = synth_.SampleRate();
    sequencer_ = std::make_unique<Sequencer>(std::move(sequence), s);
    frame_ = 0;
}

void RenderCore::Stop() {
    OutputEvent off;
    off.kind = OutputEvent::Kind::AllSoundsOff;
    synth_.Dispatch(off);
    sequencer_.reset();
    frame_ = 0;
}

void RenderCore::RenderBlock() {
    if (sequencer_) {
        Tee tee(synth_, listener_);
        sequencer_->DispatchUntil(frame_ + kBlockFrames, tee);
        frame_ += kBlockFrames;
    }
    synth_.Render(left_, right_, kBlockFrames);
    used_ = 0;
}

void RenderCore::Render(float* left, float* right, int frames) {
    int done = 0;
    while (done < frames) {
        if (used_ == kBlockFrames) {
            RenderBlock();
        }
        const int n = std::min(frames - done, kBlockFrames - used_);
        std::copy(left_ + used_, left_ + used_ + n, left + done);
        std::copy(right_ + used_, right_ + used_ + n, right + done);
        used_ += n;
        done += n;
    }
}

} // namespace sonvex
