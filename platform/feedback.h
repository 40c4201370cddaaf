// SPDX-License-Identifier: GPL-3.0-or-later
// The seam through which the core reports to whoever runs it: the main dialog's
// status bar, progress bar and message boxes, a terminal, or a test recorder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonvex {

enum class MessageIcon { Stop, Exclamation };

// What a message is about, for shells that can say more than a message's fixed text.
struct MessageSubject {
    std::string file;    // the file concerned, as the user named it
    int64_t offset = -1; // the place in it, or -1
    std::string reason;  // why, in the operating system's or a reader's words
};

class Feedback {
  public:
    virtual ~Feedback() = default;
    // A modal message with an OK button, captioned with the program's name.
    virtual void ShowMessage(std::string_view text, MessageIcon icon) = 0;
    // The same message about one file. The desktop shows the text alone; the command line
    // names the file and the reason too.
    virtual void ShowMessageAbout(std::string_view text, MessageIcon icon,
                                  const MessageSubject& subject) {
        (void)subject;
        ShowMessage(text, icon);
    }
    // The text of the status bar's first pane.
    virtual void SetStatusText(std::string_view text) = 0;
    // The progress bar position, 0 to 100.
    virtual void SetProgress(int position) = 0;
    // The game-file path the main dialog shows.
    virtual void SetGamePath(std::string_view path) = 0;
    // Copies the values to the controls and repaints.
    virtual void Refresh() = 0;
};

// Discards everything.
class NullFeedback : public Feedback {
  public:
    void ShowMessage(std::string_view, MessageIcon) override {}
    void SetStatusText(std::string_view) override {}
    void SetProgress(int) override {}
    void SetGamePath(std::string_view) override {}
    void Refresh() override {}
};

// Keeps every call in order, so tests can assert texts, values and their sequence.
class RecordingFeedback : public Feedback {
  public:
    enum class Kind { Message, Status, Progress, GamePath, Refresh };
    struct Event {
        Kind kind;
        std::string text;    // message, status text or path
        int value = 0;       // progress position, or the icon of a message
        std::string subject; // the file a message is about, when it was named
    };

    void ShowMessage(std::string_view text, MessageIcon icon) override {
        events.push_back({Kind::Message, std::string(text), static_cast<int>(icon), {}});
    }
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override {
        events.push_back({Kind::Message, std::string(text), static_cast<int>(icon), subject.file});
    }
    void SetStatusText(std::string_view text) override {
        events.push_back({Kind::Status, std::string(text), 0, {}});
    }
    void SetProgress(int position) override {
        events.push_back({Kind::Progress, {}, position, {}});
    }
    void SetGamePath(std::string_view path) override {
        events.push_back({Kind::GamePath, std::string(path), 0, {}});
    }
    void Refresh() override { events.push_back({Kind::Refresh, {}, 0, {}}); }

    std::vector<std::string> Messages() const { return Texts(Kind::Message); }
    // The files the messages were about, in order ("" where none was named).
    std::vector<std::string> MessageSubjects() const {
        std::vector<std::string> out;
        for (const Event& e : events) {
            if (e.kind == Kind::Message) {
                out.push_back(e.subject);
            }
        }
        return out;
    }
    std::vector<std::string> StatusTexts() const { return Texts(Kind::Status); }
    std::vector<int> ProgressValues() const {
        std::vector<int> out;
        for (const Event& e : events) {
            if (e.kind == Kind::Progress) {
                out.push_back(e.value);
            }
        }
        return out;
    }

    std::vector<Event> events;

  private:
    std::vector<std::string> Texts(Kind kind) const {
        std::vector<std::string> out;
        for (const Event& e : events) {
            if (e.kind == kind) {
                out.push_back(e.text);
            }
        }
        return out;
    }
};

} // namespace sonvex
