// SPDX-License-Identifier: GPL-3.0-or-later
// The table of numbered messages (01 to 44) with their exact texts and icons, and the
// names by which the code picks one.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/feedback.h"

namespace sonvex {

// Each value is the number the user sees at the end of the text ("Ｅｒｒ：０５"), so it
// tells where a failure happened; 19 to 22 are unused. Several texts read alike; the
// names say which step shows them.
enum class MessageId : int {
    // Batch conversion of a convert list.
    ListOpenFailed = 1,         // the list cannot be opened
    ListCountCut = 2,           // the list ends inside its entry count
    ListFolderLengthCut = 3,    // ... inside the length byte of its source folder
    ListFolderCut = 4,          // ... inside the source folder itself
    SeqInputOpenFailed = 5,     // SEQ conversion: the game file cannot be opened
    SeqOutputOpenFailed = 6,    // SEQ conversion: the SMF cannot be created or written
    OutputFolderMissing = 7,    // no output folder was chosen
    OutputFolderNotMade = 8,    // the output folder cannot be made
    ChosenListNotAFile = 9,     // the chosen convert list is not a file
    EditedListMissing = 10,     // the list chosen for editing does not exist
    BankHeaderOpenFailed = 11,  // bank conversion: the header file cannot be opened
    BankBodyOpenFailed = 12,    // bank conversion: the body file cannot be opened
    BankOutputOpenFailed = 13,  // bank conversion: the DLS cannot be created or written
    AnalysisListNotMade = 14,   // analysis: the list cannot be created or finished
    ScannedFileMissing = 15,    // analysis: a chosen game file does not exist
    ScannedFileOpenFailed = 16, // analysis: a chosen game file cannot be opened
    SsqInputOpenFailed = 17,    // SSQ conversion: the game file cannot be opened
    SsqOutputOpenFailed = 18,   // SSQ conversion: the SMF cannot be created or written
    // The list editor.
    EditorListOpenFailed = 23,   // the list cannot be opened for editing
    EditorNoSourceFolder = 24,   // the list names no source folder to change
    EditorFolderTooLong = 25,    // the new source folder is longer than a list holds
    EditorFolderOpenFailed = 26, // the list cannot be opened to change its folder
    EditorSaveMoveFailed = 27,   // the list cannot be moved aside or read back to save
    EditorSaveWriteFailed = 28,  // the saved list cannot be created or written
    // The preview dialog's loads: a change of bank while playing, while paused, and a
    // start of play or change of sequence; each names the path, the SMF and the DLS.
    PlayingBankPathInvalid = 29,
    PlayingBankSmfInvalid = 30,
    PlayingBankDlsInvalid = 31,
    PausedBankPathInvalid = 32,
    PausedBankSmfInvalid = 33,
    PausedBankDlsInvalid = 34,
    PlayPathInvalid = 35,
    PlaySmfInvalid = 36,
    PlayDlsInvalid = 37,
    // The segment builder.
    SegmentNoSmf = 38,            // no SMF selected
    SegmentNoDls = 39,            // no DLS selected
    SegmentNotSmf = 40,           // the selected file is not an SMF
    SegmentSmfOpenFailed = 41,    // the SMF cannot be opened
    SegmentDlsOpenFailed = 42,    // the DLS cannot be opened
    SegmentOutputOpenFailed = 43, // the segment file cannot be created
    SegmentNotMade = 44,          // the SMF or DLS cannot be followed, or writing failed
};

constexpr int NumberOf(MessageId id) {
    return static_cast<int>(id);
}

struct MessageText {
    int number;
    const char* text; // UTF-8, as the desktop program shows it
    MessageIcon icon;
    const char* english; // what the command line says, before the file it names
};

// The message with this number, or nullptr for an unused number.
const MessageText* FindMessage(int number);
// The message; an empty text for an unused number.
const MessageText& Message(MessageId id);
std::span<const MessageText> AllMessages();
// The message whose desktop text this is, or nullptr.
const MessageText* FindMessageByText(std::string_view text);
// Shows the message with its own icon.
void ShowNumberedMessage(Feedback& feedback, MessageId id);
// The same, about one file.
void ShowNumberedMessage(Feedback& feedback, MessageId id, const MessageSubject& subject);

// The command line's form of a message: its English text, the file in double quotes, the
// offset, the reason and the number the desktop would show:
// `cannot open game file "a/x.seq": No such file or directory [05]`.
std::string EnglishMessage(const MessageText& message, const MessageSubject& subject = {});
// The command line's form of a status text the core shows ("変換中" is "converting");
// a text it does not know comes back unchanged.
std::string EnglishStatusText(std::string_view text);

// Why a file cannot be opened for reading, in the operating system's words; empty when
// it can be opened now.
std::string CannotReadReason(const std::string& path);
// Why a file cannot be created in its folder; empty when nothing stands in the way.
std::string CannotCreateReason(const std::string& path);

// Passes everything on to another feedback; a numbered message shown without naming its
// file gets the subject that `subjectOf` gives for its number (an empty file: none). Code
// that calls a converter uses it to name the files the converter did not.
class SubjectFeedback : public Feedback {
  public:
    SubjectFeedback(Feedback& inner, std::function<MessageSubject(int number)> subjectOf)
        : inner_(inner), subjectOf_(std::move(subjectOf)) {}

    void ShowMessage(std::string_view text, MessageIcon icon) override;
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override;
    void SetStatusText(std::string_view text) override { inner_.SetStatusText(text); }
    void SetProgress(int position) override { inner_.SetProgress(position); }
    void SetGamePath(std::string_view path) override { inner_.SetGamePath(path); }
    void Refresh() override { inner_.Refresh(); }

    // The number of the last numbered message shown through it, 0 when none.
    int lastNumber() const { return lastNumber_; }
    const MessageSubject& lastSubject() const { return lastSubject_; }

  private:
    Feedback& inner_;
    std::function<MessageSubject(int)> subjectOf_;
    int lastNumber_ = 0;
    MessageSubject lastSubject_;
};

} // namespace sonvex
