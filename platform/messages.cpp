// SPDX-License-Identifier: GPL-3.0-or-later
// The numbered error messages the program shows, with their icons. The number at the
// end of each text tells the user where the failure happened; 19 to 22 are unused.
#include "platform/messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace sonvex {

namespace {

const std::array<MessageText, 40> kMessages = {{
    {1, "リストファイルが開けません Ｅｒｒ：０１", MessageIcon::Stop, "cannot open convert list"},
    {2, "リストファイルが不正　Ｅｒｒ：０２", MessageIcon::Stop,
     "not a convert list: it ends inside its entry count"},
    {3, "リストファイルが不正　Ｅｒｒ：０３", MessageIcon::Stop,
     "not a convert list: it ends before its source folder"},
    {4, "リストファイルが不正　Ｅｒｒ：０４", MessageIcon::Stop,
     "not a convert list: it ends inside its source folder"},
    {5, "読み込みファイルが開けません　Ｅｒｒ：０５", MessageIcon::Stop, "cannot open game file"},
    {6, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：０６", MessageIcon::Stop, "cannot write SMF file"},
    {7, "ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０７", MessageIcon::Stop, "no output folder given"},
    {8, "ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０８", MessageIcon::Stop, "cannot create output folder"},
    {9, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：０９", MessageIcon::Stop, "convert list not found"},
    {10, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：１０", MessageIcon::Stop, "convert list to edit not found"},
    {11, "読み込みファイルが開けません　Ｅｒｒ：１１", MessageIcon::Stop,
     "cannot open bank header file"},
    {12, "読み込みファイルが開けません　Ｅｒｒ：１２", MessageIcon::Stop,
     "cannot open bank body file"},
    {13, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１３", MessageIcon::Stop, "cannot write DLS file"},
    {14, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１４", MessageIcon::Stop, "cannot write convert list"},
    {15, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：１５", MessageIcon::Stop, "game file not found"},
    {16, "読み込みﾌｧｲﾙが開けません　Ｅｒｒ：１６", MessageIcon::Stop, "cannot open game file"},
    {17, "読み込みファイルが開けません　Ｅｒｒ：１７", MessageIcon::Stop, "cannot open game file"},
    {18, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１８", MessageIcon::Stop, "cannot write SMF file"},
    {23, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２３", MessageIcon::Stop, "cannot open convert list"},
    {24, "ﾘｽﾄﾌｧｲﾙが指定されていません　Ｅｒｒ：２４", MessageIcon::Stop, "no convert list given"},
    {25, "ﾊﾟｽが無効です　Ｅｒｒ：２５", MessageIcon::Stop, "folder path is not valid"},
    {26, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２６", MessageIcon::Stop, "cannot open convert list"},
    {27, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２７", MessageIcon::Stop, "cannot save convert list"},
    {28, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２８", MessageIcon::Stop, "cannot save convert list"},
    {29, "ﾊﾟｽの指定が不正です　Ｅｒｒ：２９", MessageIcon::Stop, "folder path is not valid"},
    {30, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３０", MessageIcon::Stop, "SMF file is not valid"},
    {31, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３１", MessageIcon::Stop, "DLS file is not valid"},
    {32, "ﾊﾟｽの指定が不正です　Ｅｒｒ：３２", MessageIcon::Stop, "folder path is not valid"},
    {33, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３３", MessageIcon::Stop, "SMF file is not valid"},
    {34, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３４", MessageIcon::Stop, "DLS file is not valid"},
    {35, "ﾊﾟｽの指定が不正です　Ｅｒｒ：３５", MessageIcon::Stop, "folder path is not valid"},
    {36, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３６", MessageIcon::Stop, "SMF file is not valid"},
    {37, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３７", MessageIcon::Stop, "DLS file is not valid"},
    {38, "SMFﾌｧｲﾙが指定されていません　Ｅｒｒ：３８", MessageIcon::Stop, "no SMF file given"},
    {39, "DLSﾌｧｲﾙが指定されていません　Ｅｒｒ：３９", MessageIcon::Stop, "no DLS file given"},
    {40, "SMFﾌｧｲﾙ以外は変換できません　Ｅｒｒ：４０", MessageIcon::Stop,
     "not a standard MIDI file"},
    {41, "SMFﾌｧｲﾙが開けません　Ｅｒｒ：４１", MessageIcon::Stop, "cannot open SMF file"},
    {42, "SMFﾌｧｲﾙが開けません　Ｅｒｒ：４２", MessageIcon::Stop, "cannot open DLS file"},
    {43, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：４３", MessageIcon::Stop, "cannot create segment file"},
    {44, "SGTﾌｧｲﾙが作成出来ませんでした　Ｅｒｒ：４４", MessageIcon::Exclamation,
     "cannot make segment file"},
}};

} // namespace

const MessageText* FindMessage(int number) {
    for (const MessageText& m : kMessages) {
        if (m.number == number) {
            return &m;
        }
    }
    return nullptr;
}

const MessageText& Message(MessageId id) {
    static const MessageText unknown{0, "", MessageIcon::Stop, ""};
    const MessageText* m = FindMessage(NumberOf(id));
    return m ? *m : unknown;
}

std::span<const MessageText> AllMessages() {
    return kMessages;
}

void ShowNumberedMessage(Feedback& feedback, MessageId id) {
    const MessageText& m = Message(id);
    feedback.ShowMessage(m.text, m.icon);
}

void ShowNumberedMessage(Feedback& feedback, MessageId id, const MessageSubject& subject) {
    const MessageText& m = Message(id);
    feedback.ShowMessageAbout(m.text, m.icon, subject);
}

const MessageText* FindMessageByText(std::string_view text) {
    for (const MessageText& m : kMessages) {
        if (text == m.text) {
            return &m;
        }
    }
    return nullptr;
}

std::string EnglishMessage(const MessageText& message, const MessageSubject& subject) {
    std::string line = message.english;
    if (!subject.file.empty()) {
        line += " \"" + subject.file + "\"";
    }
    if (subject.offset >= 0) {
        char at[32];
        std::snprintf(at, sizeof at, " at 0x%08" PRIX64, static_cast<uint64_t>(subject.offset));
        line += at;
    }
    if (!subject.reason.empty()) {
        line += ": " + subject.reason;
    }
    char number[8];
    std::snprintf(number, sizeof number, " [%02d]", message.number);
    return line + number;
}

namespace {

bool Cut(std::string_view text, std::string_view prefix, std::string_view suffix,
         std::string& middle) {
    if (text.size() < prefix.size() + suffix.size() || !text.starts_with(prefix) ||
        !text.ends_with(suffix)) {
        return false;
    }
    middle = std::string(text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()));
    return true;
}

} // namespace

std::string EnglishStatusText(std::string_view text) {
    // The status texts of the batch run, the analysis and the segment builder.
    std::string middle;
    if (text == "変換中") {
        return "converting";
    }
    if (text == "アナライズ終了") {
        return "analysis finished";
    }
    if (Cut(text, "終了 作製ﾌｧｲﾙ数 ", "", middle)) {
        const size_t digits = middle.find_first_not_of(' ');
        return "finished, " + middle.substr(digits == std::string::npos ? 0 : digits) +
               " file(s) made";
    }
    if (Cut(text, "SMF ", "を作製", middle)) {
        return "making " + middle + ".mid";
    }
    if (Cut(text, "DLS ", "を作製", middle)) {
        return "making " + middle + ".dls";
    }
    if (Cut(text, "", " ｱﾅﾗｲｽﾞ中", middle)) {
        return "scanning " + middle;
    }
    if (Cut(text, "", " ｱﾅﾗｲｽﾞ終了", middle)) {
        return "scanned " + middle;
    }
    if (Cut(text, "", "作製", middle)) {
        return "made " + middle;
    }
    return std::string(text);
}

std::string CannotReadReason(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return std::strerror(errno);
    }
    ::close(fd);
    return {};
}

std::string CannotCreateReason(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (::access(folder.c_str(), W_OK) != 0) {
        return std::strerror(errno);
    }
    return {};
}

void SubjectFeedback::ShowMessage(std::string_view text, MessageIcon icon) {
    const MessageText* m = FindMessageByText(text);
    if (m == nullptr) {
        inner_.ShowMessage(text, icon);
        return;
    }
    ShowMessageAbout(text, icon, subjectOf_ ? subjectOf_(m->number) : MessageSubject{});
}

void SubjectFeedback::ShowMessageAbout(std::string_view text, MessageIcon icon,
                                       const MessageSubject& subject) {
    const MessageText* m = FindMessageByText(text);
    lastNumber_ = m != nullptr ? m->number : 0;
    lastSubject_ = subject;
    if (subject.file.empty()) {
        inner_.ShowMessage(text, icon);
    } else {
        inner_.ShowMessageAbout(text, icon, subject);
    }
}

} // namespace sonvex
