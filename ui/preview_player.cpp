// SPDX-License-Identifier: GPL-3.0-or-later
// The preview player's commands on the playback engine, the toolbar states they leave
// behind (idle, playing, paused) and the loop pane.
#include "ui/preview_player.h"

#include <algorithm>
#include <cstdio>

#include "playback/instrument_check.h"
#include "playback/synth.h"
#include "segment/segment_converter.h"
#include "ui/string_table.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

// Toolbar images of the two buttons that change their look.
constexpr int kImagePlay = 0;
constexpr int kImagePause = 1;
constexpr int kImagePlaying = 5;
constexpr int kImagePaused = 6;

// Repeat counts above this are shown as without end.
constexpr uint32_t kLargestCountShown = 1000;

// Messages of a load for play or a change of sequence, and of a change of bank while
// playing or while paused: path, SMF, DLS.
constexpr PreviewPlayer::LoadMessages kPlayMessages{
    MessageId::PlayPathInvalid, MessageId::PlaySmfInvalid, MessageId::PlayDlsInvalid};
constexpr PreviewPlayer::LoadMessages kPlayingBankMessages{MessageId::PlayingBankPathInvalid,
                                                           MessageId::PlayingBankSmfInvalid,
                                                           MessageId::PlayingBankDlsInvalid};
constexpr PreviewPlayer::LoadMessages kPausedBankMessages{MessageId::PausedBankPathInvalid,
                                                          MessageId::PausedBankSmfInvalid,
                                                          MessageId::PausedBankDlsInvalid};

// A file that needs a collection: its name ends in "mid" or "rmi", in any letter case.
bool NeedsCollection(std::string_view name) {
    if (name.size() < 3) {
        return false;
    }
    const std::string_view last = name.substr(name.size() - 3);
    return SameFileName(last, "mid") || SameFileName(last, "rmi");
}

} // namespace

std::string_view ExtensionOf(std::string_view name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool IsSmfName(std::string_view name) {
    return SameFileName(ExtensionOf(name), ".mid");
}

bool IsSegmentName(std::string_view name) {
    return SameFileName(ExtensionOf(name), ".sgt");
}

bool IsSoundFontName(std::string_view name) {
    return SameFileName(ExtensionOf(name), ".sf2");
}

PreviewPlayer::PreviewPlayer(PlayerView& view, PlayerOptions options)
    : view_(view), options_(std::move(options)) {}

PreviewPlayer::~PreviewPlayer() {
    Shutdown();
}

bool PreviewPlayer::StartUp(std::string workFolder, std::function<void()> post) {
    workFolder_ = std::move(workFolder);
    segment_.reset();
    state_.reset();
    collection_.reset();
    isPlaying_ = false;
    isPaused_ = false;
    loopsLeft_ = 0;
    selectedSequence_.clear();

    loader_ = std::make_unique<Loader>();
    performance_ = options_.createPerformance
                       ? options_.createPerformance(options_.performance, &startUpError_)
                       : Performance::Create(options_.performance, &startUpError_);
    if (!performance_) {
        if (startUpError_.empty()) {
            startUpError_ = "the playback engine cannot be made";
        }
        return false;
    }
    if (!notifier_) {
        notifier_ = std::make_unique<PlaybackNotifier>(notify_, quit_, std::move(post));
    }
    performance_->SetNotificationHandle(&notify_);
    performance_->AddNotificationType();
    return true;
}

void PreviewPlayer::ReleaseCurrentFile() {
    if (segment_) {
        if (performance_->IsPlaying(segment_.get(), nullptr)) {
            performance_->Stop(segment_.get(), nullptr);
        }
        state_.reset();
        performance_->Unload(*segment_);
        loader_->ReleaseObject(*segment_);
        segment_.reset();
    }
    if (collection_) {
        loader_->ReleaseObject(*collection_);
        collection_.reset();
    }
    loader_->CollectGarbage();
}

PreviewPlayer::Started PreviewPlayer::LoadAndStart(const std::string& name,
                                                   std::optional<int32_t> startPoint,
                                                   std::optional<uint32_t> repeats,
                                                   const LoadMessages& messages) {
    if (!loader_->SetSearchDirectory(workFolder_)) {
        view_.ShowNumberedMessage(messages.path);
        return Started::LoadFailed;
    }
    segment_ = name.empty() ? nullptr : loader_->LoadSegment(name);
    if (!segment_) {
        view_.ShowNumberedMessage(messages.smf);
        return Started::LoadFailed;
    }
    // A segment file's band names its own collection; an SMF plays with the chosen one.
    if (NeedsCollection(name)) {
        collection_ = selectedBank_.empty() ? nullptr : loader_->LoadCollection(selectedBank_);
        if (!collection_) {
            view_.ShowNumberedMessage(messages.dls);
            ReleaseCurrentFile();
            return Started::LoadFailed;
        }
        segment_->ConnectToCollection(collection_);
    }
    // Music whose notes would find no instrument at all is refused with the reason, not
    // played as silence; a partial miss plays and names the channels left silent.
    std::string error;
    std::string warning;
    if (!CheckSegmentInstruments(*segment_, segment_->ConnectedCollection().get(),
                                 GeneralMidiSoundFontFound(options_.performance.synth), *loader_,
                                 error, warning)) {
        view_.ShowPlayerStatus(error);
        ReleaseCurrentFile();
        return Started::LoadFailed;
    }
    if (!warning.empty()) {
        view_.ShowPlayerStatus(warning);
    }
    if (!performance_->Download(*segment_, &error) && !error.empty()) {
        view_.ShowPlayerStatus(error);
        ReleaseCurrentFile();
        return Started::LoadFailed;
    }
    if (startPoint) {
        segment_->SetStartPoint(*startPoint);
    }
    if (repeats) {
        segment_->SetRepeats(*repeats);
    }
    state_ = performance_->PlaySegmentEx(segment_);
    if (!state_) {
        return Started::PlayFailed;
    }
    RefreshLoopPane();
    return Started::Yes;
}

void PreviewPlayer::RefreshLoopPane() {
    const uint32_t repeats = state_->GetRepeats();
    if (repeats <= kLargestCountShown) {
        ShowLoopCount(static_cast<int32_t>(repeats));
    } else {
        loopsLeft_ = -1;
        view_.SetLoopText(kLoopEndlessText);
    }
}

void PreviewPlayer::ShowLoopCount(int32_t count) {
    loopsLeft_ = count;
    char text[64];
    std::snprintf(text, sizeof text, kLoopCountFormat, static_cast<int>(count));
    view_.SetLoopText(text);
}

void PreviewPlayer::EnterPlaying() {
    playPosition_ = 0;
    view_.EnableButton(kCommandStop, true);
    view_.EnableButton(kCommandPause, true);
    view_.EnableButton(kCommandConvert, false);
    view_.SetButtonImage(kCommandPlay, kImagePlaying);
    view_.SetButtonPressed(kCommandPlay, true);
    isPaused_ = false;
    isPlaying_ = true;
}

void PreviewPlayer::ReturnToIdle() {
    playPosition_ = 0;
    view_.EnableButton(kCommandStop, false);
    view_.SetButtonImage(kCommandPlay, kImagePlay);
    view_.SetButtonPressed(kCommandPlay, false);
    view_.SetButtonImage(kCommandPause, kImagePause);
    view_.SetButtonPressed(kCommandPause, false);
    view_.EnableButton(kCommandPause, false);
    view_.EnableButton(kCommandConvert, IsSmfName(selectedSequence_));
    isPlaying_ = false;
    isPaused_ = false;
    ShowLoopCount(0);
}

void PreviewPlayer::StopRoutine() {
    if (!segment_) {
        return;
    }
    if (performance_->IsPlaying(segment_.get(), nullptr)) {
        performance_->Stop(segment_.get(), nullptr);
    }
    state_.reset();
    ReturnToIdle(); // the segment stays loaded
}

bool PreviewPlayer::HoldPosition(std::optional<uint32_t>& repeatsLeft) {
    int32_t position = 0;
    uint32_t loopsDone = 0;
    if (!state_ || !performance_->IsPlaying(segment_.get(), nullptr) ||
        !performance_->GetSegmentPosition(*state_, position, loopsDone)) {
        return false; // it has ended: its end notification is on its way
    }
    performance_->Stop(segment_.get(), nullptr);
    if (position < 0 || position >= segment_->GetLength()) {
        return false;
    }
    // The position comes folded back through the loops, so it always lies inside the
    // segment; what is left to play is the loops not yet made.
    playPosition_ = position;
    const uint32_t repeats = state_->GetRepeats();
    if (repeats <= kLargestCountShown) {
        const uint32_t left = repeats - std::min(loopsDone, repeats);
        repeatsLeft = left;
        ShowLoopCount(static_cast<int32_t>(left));
    } else {
        repeatsLeft.reset();
    }
    return true;
}

void PreviewPlayer::Play() {
    if (isPlaying_ || !performance_) {
        return;
    }
    ReleaseCurrentFile();
    if (LoadAndStart(selectedSequence_, std::nullopt, std::nullopt, kPlayMessages) !=
        Started::Yes) {
        return;
    }
    EnterPlaying();
}

void PreviewPlayer::PauseResume() {
    if (!segment_ || !isPlaying_) {
        return;
    }
    if (!isPaused_) {
        std::optional<uint32_t> repeatsLeft;
        if (!HoldPosition(repeatsLeft)) {
            StopRoutine();
            return;
        }
        segment_->SetStartPoint(playPosition_);
        if (repeatsLeft) {
            segment_->SetRepeats(*repeatsLeft);
        }
        state_.reset();
        isPaused_ = true;
        view_.SetButtonImage(kCommandPause, kImagePaused);
        view_.SetButtonPressed(kCommandPause, true);
        return;
    }
    state_ = performance_->PlaySegmentEx(segment_);
    if (!state_) {
        ReturnToIdle();
        return;
    }
    view_.SetButtonImage(kCommandPause, kImagePause);
    view_.SetButtonPressed(kCommandPause, false);
    isPaused_ = false;
}

void PreviewPlayer::Stop() {
    StopRoutine();
}

void PreviewPlayer::ChangeSequence() {
    if (!performance_) {
        return;
    }
    if (isPaused_) {
        view_.SetButtonImage(kCommandPause, kImagePause);
        view_.SetButtonPressed(kCommandPause, false);
        isPaused_ = false;
    }
    ReleaseCurrentFile();
    if (LoadAndStart(selectedSequence_, std::nullopt, std::nullopt, kPlayMessages) !=
        Started::Yes) {
        // Nothing is loaded any more: the toolbar must not go on saying it plays.
        ReturnToIdle();
        return;
    }
    EnterPlaying();
}

void PreviewPlayer::ChangeBank() {
    if (!performance_ || !isPlaying_) {
        return;
    }
    std::optional<uint32_t> repeatsLeft;
    LoadMessages messages = kPlayingBankMessages;
    if (!isPaused_) {
        if (segment_ && !HoldPosition(repeatsLeft)) {
            StopRoutine();
            return;
        }
        state_.reset();
    } else {
        view_.SetButtonImage(kCommandPause, kImagePause);
        view_.SetButtonPressed(kCommandPause, false);
        isPaused_ = false;
        if (loopsLeft_ >= 0) {
            repeatsLeft = static_cast<uint32_t>(loopsLeft_);
        }
        messages = kPausedBankMessages;
    }
    ReleaseCurrentFile();
    switch (LoadAndStart(selectedSequence_, playPosition_, repeatsLeft, messages)) {
    case Started::Yes:
        break;
    case Started::PlayFailed:
        StopRoutine();
        break;
    case Started::LoadFailed:
        // Nothing is loaded any more: the toolbar must not go on saying it plays.
        ReturnToIdle();
        break;
    }
}

void PreviewPlayer::OnNotification() {
    if (!performance_ || !segment_) {
        return;
    }
    // Several notifications can share one wake-up: take them all. Those of an earlier
    // segment state (a paused or replaced one) say nothing about what plays now.
    Notification notification;
    while (performance_->GetNotificationPMsg(notification)) {
        if (!state_ || notification.state != state_) {
            continue;
        }
        if (notification.option == SegmentNotice::End) {
            StopRoutine();
        } else if (notification.option == SegmentNotice::Loop && loopsLeft_ != -1) {
            ShowLoopCount(std::max(loopsLeft_ - 1, 0));
        }
    }
}

void PreviewPlayer::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (segment_ && performance_) {
        performance_->Stop(segment_.get(), nullptr);
        performance_->Unload(*segment_);
        state_.reset();
    }
    if (loader_) {
        if (segment_) {
            loader_->ReleaseObject(*segment_);
        }
        if (collection_) {
            loader_->ReleaseObject(*collection_);
        }
    }
    segment_.reset();
    collection_.reset();
    state_.reset();
    if (loader_) {
        loader_->CollectGarbage();
        loader_->ClearCache();
        loader_.reset();
    }
    if (performance_) {
        performance_->CloseDown();
        performance_.reset();
    }
    if (notifier_) {
        notifier_->Shutdown(); // quit event, then the notify event, then the join
        notifier_.reset();
    }
}

void PreviewPlayer::StopLoadedSegment() {
    if (segment_ && performance_ && performance_->IsPlaying(segment_.get(), nullptr)) {
        performance_->Stop(segment_.get(), nullptr);
    }
}

void PreviewPlayer::ClearLoaderCache() {
    if (loader_) {
        loader_->ClearCache();
    }
}

bool PreviewPlayer::CurrentPosition(int32_t& position) const {
    uint32_t loops = 0;
    return state_ && performance_ && performance_->GetSegmentPosition(*state_, position, loops);
}

} // namespace sonvex::ui
