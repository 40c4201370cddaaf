// SPDX-License-Identifier: GPL-3.0-or-later
// The performance: the audio thread renders and posts notifications under one lock; the
// caller's thread loads, starts, stops and asks for the time under the same lock.
#include "playback/performance.h"

#include <cmath>

namespace sonvex {

namespace {
// Music time per frame while nothing plays: the default tempo.
double IdleTicksPerFrame(double rate) {
    return kDefaultTempo / 60.0 * kTicksPerQuarter / rate;
}
} // namespace

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

void AutoResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) {
        return false;
    }
    signalled_ = false;
    return true;
}

void ManualResetEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

std::unique_ptr<Performance> Performance::Create(const PerformanceOptions& options,
                                                 std::string* error) {
    std::unique_ptr<Performance> p(new Performance());
    p->synth_ = Synth::Create(options.synth, error);
    if (!p->synth_) {
        return nullptr;
    }
    p->rate_ = options.synth.sampleRate;
    p->core_ = std::make_unique<RenderCore>(*p->synth_);
    Performance* self = p.get();
    p->core_->SetListener([self](const OutputEvent& e) { self->OnEvent(e); });
    p->output_ = OpenAudioOutput(
        options.output, options.synth.sampleRate,
        [self](float* l, float* r, int n) { self->Render(l, r, n); }, error);
    if (!p->output_) {
        return nullptr;
    }
    return p;
}

Performance::~Performance() {
    CloseDown();
}

std::string Performance::OutputName() const {
    return output_ ? output_->Name() : std::string();
}

void Performance::Render(float* left, float* right, int frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_->Render(left, right, frames);
    if (current_ && core_->Playing()) {
        clock_ = PlayedTime();
        if (core_->Current()->Finished()) {
            core_->Finish(); // every note-off is out; the tails ring on
        }
    } else {
        clock_ += frames * IdleTicksPerFrame(rate_);
    }
}

double Performance::PlayedTime() const {
    const Sequencer* s = core_->Current();
    if (!current_ || s == nullptr) {
        return clock_;
    }
    return current_->startTime_ + s->MusicTimePlayedAt(core_->PlayedFrame());
}

void Performance::Post(SegmentNotice option, int32_t time, uint32_t loopsDone) {
    if (!notifications_) {
        return;
    }
    queue_.push_back({option, time, loopsDone, current_});
    if (notify_ != nullptr) {
        notify_->Set();
    }
}

void Performance::OnEvent(const OutputEvent& e) {
    if (!current_) {
        return;
    }
    const Sequencer* s = core_->Current();
    const int32_t time =
        s != nullptr ? static_cast<int32_t>(current_->startTime_ + s->MusicTimePlayedAt(e.frame))
                     : current_->startTime_;
    switch (e.kind) {
    case OutputEvent::Kind::SegmentStart:
        Post(SegmentNotice::Start, time, 0);
        break;
    case OutputEvent::Kind::SegmentLoop:
        Post(SegmentNotice::Loop, time, e.loopsDone);
        break;
    case OutputEvent::Kind::SegmentEnd:
        current_->ended_ = true;
        Post(SegmentNotice::End, time, s != nullptr ? s->LoopsDone() : 0);
        break;
    default:
        break;
    }
}

void Performance::SetNotificationHandle(AutoResetEvent* event) {
    std::lock_guard<std::mutex> lock(mutex_);
    notify_ = event;
}

void Performance::AddNotificationType() {
    std::lock_guard<std::mutex> lock(mutex_);
    notifications_ = true;
}

bool Performance::GetNotificationPMsg(Notification& notification) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    notification = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

int Performance::SlotFor(const Collection& collection) {
    const std::shared_ptr<const DlsCollection>& data = collection.Data();
    auto it = slots_.find(data.get());
    if (it != slots_.end()) {
        ++it->second.second;
        return it->second.first;
    }
    const int slot =
        synth_->AddCollection(data, collection.IsSoundFont() ? collection.Path() : std::string());
    if (slot >= 0) {
        slots_[data.get()] = {slot, 1};
    }
    return slot;
}

void Performance::ReleaseSlot(int slot) {
    for (auto it = slots_.begin(); it != slots_.end(); ++it) {
        if (it->second.first == slot) {
            if (--it->second.second == 0) {
                synth_->ReleaseCollection(slot);
                slots_.erase(it);
            }
            return;
        }
    }
}

bool Performance::Download(Segment& segment, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
        return false;
    }
    if (downloads_.count(&segment) != 0) {
        return true;
    }
    DownloadedSlots d;
    if (segment.ConnectedCollection()) {
        d.connected = SlotFor(*segment.ConnectedCollection());
        if (d.connected < 0) {
            if (error != nullptr) {
                const std::string reason = synth_->TakeError();
                *error = segment.ConnectedCollection()->Path() +
                         ": the synthesizer cannot load it" +
                         (reason.empty() ? std::string() : ": " + reason);
            }
            return false;
        }
    }
    for (const std::shared_ptr<Collection>& c : segment.BandCollections()) {
        d.bands.push_back(c ? SlotFor(*c) : -1);
    }
    downloads_[&segment] = std::move(d);
    return true;
}

void Performance::Unload(Segment& segment) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = downloads_.find(&segment);
    if (it == downloads_.end()) {
        return;
    }
    if (current_ && current_->segment_.get() == &segment && core_->Playing()) {
        core_->Stop();
        current_->stopped_ = true;
    }
    if (it->second.connected >= 0) {
        ReleaseSlot(it->second.connected);
    }
    for (int slot : it->second.bands) {
        if (slot >= 0) {
            ReleaseSlot(slot);
        }
    }
    downloads_.erase(it);
}

std::shared_ptr<SegmentState> Performance::PlaySegmentEx(const std::shared_ptr<Segment>& segment) {
    if (!segment || closed_) {
        return nullptr;
    }
    Download(*segment);
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ && core_->Playing()) {
        // The segment it replaces loses its pending note-offs: silence it first.
        clock_ = PlayedTime();
        core_->Stop();
        if (!current_->ended_ && !current_->stopped_) {
            current_->stopped_ = true;
            Post(SegmentNotice::Abort, static_cast<int32_t>(clock_), 0);
        }
    }
    const DownloadedSlots& d = downloads_[segment.get()];
    synth_->SetDefaultCollection(d.connected);
    synth_->SetBandCollections(d.bands);
    current_ = std::make_shared<SegmentState>(segment, static_cast<int32_t>(std::floor(clock_)),
                                              segment->GetRepeats(), segment->GetStartPoint());
    SequencerSettings settings;
    settings.startPoint = segment->GetStartPoint();
    settings.repeats = segment->GetRepeats();
    core_->Start(segment->GetSequence(), settings);
    return current_;
}

bool Performance::IsPlaying(const Segment* segment, const SegmentState* state) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!current_ || current_->ended_ || current_->stopped_) {
        return false;
    }
    if (state != nullptr && state != current_.get()) {
        return false;
    }
    if (segment != nullptr && segment != current_->segment_.get()) {
        return false;
    }
    return true;
}

void Performance::Stop(const Segment* segment, const SegmentState* state) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!current_) {
        core_->Stop();
        return;
    }
    if ((state != nullptr && state != current_.get()) ||
        (segment != nullptr && segment != current_->segment_.get())) {
        return;
    }
    clock_ = PlayedTime();
    const bool wasPlaying = !current_->ended_ && !current_->stopped_;
    core_->Stop();
    current_->stopped_ = true;
    if (wasPlaying) {
        Post(SegmentNotice::Abort, static_cast<int32_t>(clock_), 0);
    }
}

int32_t Performance::GetTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(std::floor(clock_));
}

bool Performance::GetSegmentPosition(const SegmentState& state, int32_t& position,
                                     uint32_t& loopsDone) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_.get() != &state) {
        return false;
    }
    const Sequencer* s = core_->Current();
    if (s == nullptr) {
        position = state.ended_ ? state.segment_->GetLength() : state.startPoint_;
        loopsDone = 0;
        return true;
    }
    position = static_cast<int32_t>(s->PositionAt(core_->PlayedFrame()));
    loopsDone = s->LoopsDone();
    return true;
}

int Performance::ActiveVoices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return synth_->ActiveVoices();
}

void Performance::CloseDown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        if (core_) {
            core_->Stop();
        }
    }
    output_.reset(); // joins the audio thread before anything it uses goes
    std::lock_guard<std::mutex> lock(mutex_);
    current_.reset();
    downloads_.clear();
    slots_.clear();
    core_.reset();
    synth_.reset();
}

PlaybackNotifier::PlaybackNotifier(AutoResetEvent& notify, ManualResetEvent& quit,
                                   std::function<void()> post)
    : notify_(notify), quit_(quit), post_(std::move(post)) {
    thread_ = std::thread([this] {
        for (;;) {
            notify_.Wait();
            post_();
            if (quit_.IsSet()) {
                return;
            }
        }
    });
}

PlaybackNotifier::~PlaybackNotifier() {
    Shutdown();
}

void PlaybackNotifier::Shutdown() {
    if (!thread_.joinable()) {
        return;
    }
    quit_.Set();
    notify_.Set();
    thread_.join();
}

} // namespace sonvex
