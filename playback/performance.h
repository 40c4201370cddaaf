// SPDX-License-Identifier: GPL-3.0-or-later
// The performance: plays one segment at a time in real time, from a start point in music
// time, reports whether it plays, the performance's music time and the segment state's
// start time and repeats, stops at once, and posts segment notifications (start, loop,
// end, abort) to an auto-reset event that a notifier thread waits on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "playback/audio_output.h"
#include "playback/loader.h"
#include "playback/render_core.h"
#include "playback/synth.h"

namespace sonvex {

// Signalled by Set, cleared by the one wait it releases.
class AutoResetEvent {
  public:
    void Set();
    void Wait();
    // True when signalled within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// Stays signalled once Set.
class ManualResetEvent {
  public:
    void Set();
    bool IsSet() const;

  private:
    mutable std::mutex mutex_;
    bool signalled_ = false;
};

// Notification options of a segment.
enum class SegmentNotice : uint32_t { Start = 0, End = 1, AlmostEnd = 2, Loop = 3, Abort = 4 };

class SegmentState {
  public:
    SegmentState(std::shared_ptr<Segment> segment, int32_t startTime, uint32_t repeats,
                 int32_t startPoint)
        : segment_(std::move(segment)), startTime_(startTime), repeats_(repeats),
          startPoint_(startPoint) {}
    // The repeat count it plays with (kRepeatEndless without end).
    uint32_t GetRepeats() const { return repeats_; }
    // Performance music time at which it started.
    int32_t GetStartTime() const { return startTime_; }
    int32_t GetStartPoint() const { return startPoint_; }

  private:
    friend class Performance;
    std::shared_ptr<Segment> segment_;
    int32_t startTime_;
    uint32_t repeats_;
    int32_t startPoint_;
    bool ended_ = false;   // its end was reached
    bool stopped_ = false; // stopped before its end
};

struct Notification {
    SegmentNotice option = SegmentNotice::Start;
    int32_t musicTime = 0; // performance music time of the event
    uint32_t loopsDone = 0;
    std::shared_ptr<SegmentState> state;
};

struct PerformanceOptions {
    OutputKind output = OutputKind::Auto;
    SynthOptions synth;
};

class Performance {
  public:
    // Makes the synthesizer and opens the output; null with `error` on failure.
    static std::unique_ptr<Performance> Create(const PerformanceOptions& options,
                                               std::string* error = nullptr);
    ~Performance();
    Performance(const Performance&) = delete;
    Performance& operator=(const Performance&) = delete;

    std::string OutputName() const;

    // Where segment notifications are signalled (null: nowhere).
    void SetNotificationHandle(AutoResetEvent* event);
    // Segment notifications are kept from now on.
    void AddNotificationType();
    // Takes the oldest notification; false when there is none.
    bool GetNotificationPMsg(Notification& notification);

    // Makes the segment's collections playable (done by PlaySegmentEx when forgotten).
    // False when the performance is closed, or with `error` naming the file when the
    // synthesizer cannot load the connected collection (a SoundFont that FluidSynth's
    // loader refuses).
    bool Download(Segment& segment, std::string* error = nullptr);
    void Unload(Segment& segment);

    // Plays the segment from its start point, replacing what plays; null on failure.
    std::shared_ptr<SegmentState> PlaySegmentEx(const std::shared_ptr<Segment>& segment);
    // With both null: whether anything plays.
    bool IsPlaying(const Segment* segment, const SegmentState* state) const;
    // Stops the segment (or, with both null, everything) and silences every voice at once.
    void Stop(const Segment* segment, const SegmentState* state);
    // The performance's music time: it runs on while nothing plays.
    int32_t GetTime() const;
    // Where the state's segment is now (loops folded back) and how many loop passes it made.
    bool GetSegmentPosition(const SegmentState& state, int32_t& position,
                            uint32_t& loopsDone) const;
    int ActiveVoices() const;

    // Stops, unloads everything and closes the output.
    void CloseDown();

  private:
    Performance() = default;
    void Render(float* left, float* right, int frames);
    void OnEvent(const OutputEvent& e);
    void Post(SegmentNotice option, int32_t time, uint32_t loopsDone);
    double PlayedTime() const; // performance time of the current state's playing position

    struct DownloadedSlots {
        int connected = -1;
        std::vector<int> bands;
    };
    int SlotFor(const Collection& collection);
    void ReleaseSlot(int slot);

    mutable std::mutex mutex_;
    std::unique_ptr<Synth> synth_;
    std::unique_ptr<RenderCore> core_;
    std::unique_ptr<AudioOutput> output_;
    double rate_ = 44100.0;
    double clock_ = 0.0; // performance music time
    std::shared_ptr<SegmentState> current_;
    std::map<const Segment*, DownloadedSlots> downloads_;
    std::map<const DlsCollection*, std::pair<int, int>> slots_; // collection -> (slot, users)
    AutoResetEvent* notify_ = nullptr;
    bool notifications_ = false;
    std::deque<Notification> queue_;
    bool closed_ = false;
};

// The worker that waits for notifications and hands each wake-up to `post` (the
// preview dialog posts a window message from it); it ends when `quit` is set and
// the event signalled once more.
class PlaybackNotifier {
  public:
    PlaybackNotifier(AutoResetEvent& notify, ManualResetEvent& quit, std::function<void()> post);
    ~PlaybackNotifier();
    // Sets the quit event, then the notify event, and waits for the thread to end.
    void Shutdown();

  private:
    AutoResetEvent& notify_;
    ManualResetEvent& quit_;
    std::function<void()> post_;
    std::thread thread_;
};

} // namespace sonvex
