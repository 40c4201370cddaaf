// SPDX-License-Identifier: GPL-3.0-or-later
// Progress and messages on the terminal.
#include "cli/terminal_feedback.h"

#include <unistd.h>

#include "platform/messages.h"

namespace sonvex {

TerminalFeedback::TerminalFeedback(std::FILE* out, bool quiet)
    : out_(out), interactive_(::isatty(::fileno(out)) != 0), quiet_(quiet) {}

TerminalFeedback::~TerminalFeedback() {
    Finish();
}

void TerminalFeedback::ShowMessage(std::string_view text, MessageIcon icon) {
    ShowMessageAbout(text, icon, {});
}

void TerminalFeedback::ShowMessageAbout(std::string_view text, MessageIcon icon,
                                        const MessageSubject& subject) {
    ++messagesShown_;
    const MessageText* m = FindMessageByText(text);
    const std::string line = m != nullptr ? EnglishMessage(*m, subject) : std::string(text);
    PrintLine(std::string(icon == MessageIcon::Stop ? "error: " : "warning: ") + line);
}

void TerminalFeedback::PrintLine(std::string_view line) {
    Finish();
    std::fprintf(out_, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(out_);
}

void TerminalFeedback::SetStatusText(std::string_view text) {
    status_ = EnglishStatusText(text);
    Draw(false);
}

void TerminalFeedback::SetProgress(int position) {
    progress_ = position;
    Draw(false);
}

void TerminalFeedback::SetGamePath(std::string_view) {}

void TerminalFeedback::Refresh() {
    Draw(false);
}

void TerminalFeedback::Draw(bool force) {
    if (quiet_) {
        return;
    }
    if (!interactive_) {
        // One line per status text: logs stay readable and short.
        if (status_ != printedStatus_ && !status_.empty()) {
            std::fprintf(out_, "%s\n", status_.c_str());
            printedStatus_ = status_;
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool changed = status_ != printedStatus_ || progress_ != drawnProgress_;
    // Repaint at most 20 times a second unless the text changed.
    if (!force && (!changed || (status_ == printedStatus_ &&
                                now - lastDraw_ < std::chrono::milliseconds(50)))) {
        return;
    }
    constexpr int kWidth = 30;
    const int filled = progress_ < 0 ? 0 : (progress_ > 100 ? kWidth : progress_ * kWidth / 100);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(out_, "\r\033[K[%s] %3d%% %s", bar.c_str(), progress_, status_.c_str());
    std::fflush(out_);
    lineOpen_ = true;
    printedStatus_ = status_;
    drawnProgress_ = progress_;
    lastDraw_ = now;
}

void TerminalFeedback::Finish() {
    if (lineOpen_) {
        Draw(true);
        std::fputc('\n', out_);
        std::fflush(out_);
        lineOpen_ = false;
    }
}

} // namespace sonvex
