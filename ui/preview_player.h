// SPDX-License-Identifier: GPL-3.0-or-later
// The preview player: plays the selected sequence with the selected DLS collection or
// SoundFont 2 bank (or a segment file alone) on the playback engine, with pause and resume at the
// position reached, stop, live changes of sequence and bank, the loop counter, and the notifier
// thread that wakes the dialog for every segment notification.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/messages.h"
#include "playback/loader.h"
#include "playback/performance.h"

namespace sonvex::ui {

// What the player changes in its dialog: toolbar buttons by command id, the loop pane,
// numbered message boxes and the status text.
class PlayerView {
  public:
    virtual ~PlayerView() = default;
    // Image `image` of the toolbar strip on the button.
    virtual void SetButtonImage(int commandId, int image) = 0;
    // The button's pressed (checked) look.
    virtual void SetButtonPressed(int commandId, bool pressed) = 0;
    virtual void EnableButton(int commandId, bool enable) = 0;
    virtual void SetLoopText(const std::string& text) = 0;
    virtual void ShowNumberedMessage(MessageId id) = 0;
    // Why the music cannot sound, or which channels stay silent.
    virtual void ShowPlayerStatus(const std::string& text) = 0;
};

// How the player makes its performance.
struct PlayerOptions {
    PerformanceOptions performance; // output Auto: a sound device or nothing
    // Replaces Performance::Create when set (tests hand in a failing engine).
    std::function<std::unique_ptr<Performance>(const PerformanceOptions&, std::string*)>
        createPerformance;
};

// The extension of a file name from its last dot ("" without a dot).
std::string_view ExtensionOf(std::string_view name);
// The extension is ".mid", in any letter case.
bool IsSmfName(std::string_view name);
// The extension is ".sgt", in any letter case.
bool IsSegmentName(std::string_view name);
// The extension is ".sf2", in any letter case: a SoundFont 2 bank in the bank list.
bool IsSoundFontName(std::string_view name);

class PreviewPlayer {
  public:
    PreviewPlayer(PlayerView& view, PlayerOptions options);
    ~PreviewPlayer();
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // Makes the loader and the performance, starts the notifier thread (which calls
    // `post` on every wake-up, from its own thread) and asks for segment notifications.
    // False when the engine cannot be made (no sound device): nothing can play then.
    bool StartUp(std::string workFolder, std::function<void()> post);
    // Why the start-up failed.
    const std::string& StartUpError() const { return startUpError_; }

    // File names without folder, as the dialog's lists show them.
    void SetSelectedSequence(std::string name) { selectedSequence_ = std::move(name); }
    void SetSelectedBank(std::string name) { selectedBank_ = std::move(name); }
    const std::string& SelectedSequence() const { return selectedSequence_; }
    const std::string& SelectedBank() const { return selectedBank_; }

    // The toolbar's play, pause / resume and stop commands.
    void Play();
    void PauseResume();
    void Stop();
    // A new selection while playing: the new sequence from its start, or the same
    // sequence with the new bank from the position reached.
    void ChangeSequence();
    void ChangeBank();
    // The notifier's wake-up, on the dialog's thread: every notification waiting is taken.
    void OnNotification();
    // Silences the music, releases the engine and ends the notifier thread; once only.
    void Shutdown();

    // For the segment builder: stops the loaded segment if it plays, and clears the
    // loader's cache (a new segment file may replace one that was read).
    void StopLoadedSegment();
    void ClearLoaderCache();

    bool IsPlaying() const { return isPlaying_; }
    bool IsPaused() const { return isPaused_; }
    int32_t PlayPosition() const { return playPosition_; }
    int32_t LoopsLeft() const { return loopsLeft_; }
    Performance* GetPerformance() const { return performance_.get(); }
    const Segment* LoadedSegment() const { return segment_.get(); }
    const SegmentState* CurrentState() const { return state_.get(); }
    const Collection* ConnectedCollection() const { return collection_.get(); }
    bool NotifierRunning() const { return notifier_ != nullptr; }
    // Where the playing segment is now, loops folded back; false when nothing plays.
    bool CurrentPosition(int32_t& position) const;

    // The messages one kind of load shows when the folder, the sequence or the bank fails.
    struct LoadMessages {
        MessageId path;
        MessageId smf;
        MessageId dls;
    };

  private:
    enum class [[nodiscard]] Started{Yes, LoadFailed, PlayFailed};

    void ReleaseCurrentFile();
    Started LoadAndStart(const std::string& name, std::optional<int32_t> startPoint,
                         std::optional<uint32_t> repeats, const LoadMessages& messages);
    void RefreshLoopPane();
    void ShowLoopCount(int32_t count);
    void EnterPlaying();
    void ReturnToIdle();
    void StopRoutine();
    // Takes the playing position and the loops still to come, then stops the music.
    bool HoldPosition(std::optional<uint32_t>& repeatsLeft);

    PlayerView& view_;
    PlayerOptions options_;
    std::string workFolder_;
    std::string selectedSequence_;
    std::string selectedBank_;
    std::string startUpError_;

    std::unique_ptr<Loader> loader_;
    std::unique_ptr<Performance> performance_;
    std::shared_ptr<Segment> segment_;
    std::shared_ptr<SegmentState> state_;
    std::shared_ptr<Collection> collection_;

    int32_t playPosition_ = 0; // music time within the segment of the next resume
    bool isPlaying_ = false;
    bool isPaused_ = false;
    int32_t loopsLeft_ = 0; // -1: without end

    AutoResetEvent notify_;
    ManualResetEvent quit_;
    std::unique_ptr<PlaybackNotifier> notifier_; // declared last: it ends before the events go
    bool shutDown_ = false;
};

} // namespace sonvex::ui
