// SPDX-License-Identifier: GPL-3.0-or-later
// The core's feedback on a terminal: messages in English with the file they concern and
// the desktop's message number on stderr, and the status text in English with a progress bar
// (redrawn in place on a terminal, plain lines when stderr is a file or a pipe).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/feedback.h"

namespace sonvex {

class TerminalFeedback : public Feedback {
  public:
    explicit TerminalFeedback(std::FILE* out = stderr, bool quiet = false);
    ~TerminalFeedback() override;

    void ShowMessage(std::string_view text, MessageIcon icon) override;
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override;
    void SetStatusText(std::string_view text) override;
    void SetProgress(int position) override;
    void SetGamePath(std::string_view path) override;
    void Refresh() override;

    // Messages shown so far: a run that showed one did not do all that was asked.
    int messagesShown() const { return messagesShown_; }
    // Ends the progress line so that later output starts on a fresh line.
    void Finish();
    // Prints one line of the command's own ("error: ...", "warning: ..."), on a fresh line.
    void PrintLine(std::string_view line);

  private:
    void Draw(bool force);

    std::FILE* out_;
    bool interactive_;
    bool quiet_;
    std::string status_;
    std::string printedStatus_;
    int progress_ = 0;
    int drawnProgress_ = -1;
    bool lineOpen_ = false;
    int messagesShown_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace sonvex
