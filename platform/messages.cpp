// SPDX-License-Identifier: GPL-3.0-or-later
// The numbered error messages the program shows, with their icons. The number at the
// end of each text tells the user where the failure happened; 19 to 22 are unused.
#include "platform/messages.h"

#include <array>

namespace sonvex {

namespace {

const std::array<MessageText, 40> kMessages = {{
    {1, "リストファイルが開けません Ｅｒｒ：０１", MessageIcon::Stop},
    {2, "リストファイルが不正　Ｅｒｒ：０２", MessageIcon::Stop},
    {3, "リストファイルが不正　Ｅｒｒ：０３", MessageIcon::Stop},
    {4, "リストファイルが不正　Ｅｒｒ：０４", MessageIcon::Stop},
    {5, "読み込みファイルが開けません　Ｅｒｒ：０５", MessageIcon::Stop},
    {6, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：０６", MessageIcon::Stop},
    {7, "ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０７", MessageIcon::Stop},
    {8, "ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０８", MessageIcon::Stop},
    {9, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：０９", MessageIcon::Stop},
    {10, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：１０", MessageIcon::Stop},
    {11, "読み込みファイルが開けません　Ｅｒｒ：１１", MessageIcon::Stop},
    {12, "読み込みファイルが開けません　Ｅｒｒ：１２", MessageIcon::Stop},
    {13, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１３", MessageIcon::Stop},
    {14, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１４", MessageIcon::Stop},
    {15, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：１５", MessageIcon::Stop},
    {16, "読み込みﾌｧｲﾙが開けません　Ｅｒｒ：１６", MessageIcon::Stop},
    {17, "読み込みファイルが開けません　Ｅｒｒ：１７", MessageIcon::Stop},
    {18, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１８", MessageIcon::Stop},
    {23, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２３", MessageIcon::Stop},
    {24, "ﾘｽﾄﾌｧｲﾙが指定されていません　Ｅｒｒ：２４", MessageIcon::Stop},
    {25, "ﾊﾟｽが無効です　Ｅｒｒ：２５", MessageIcon::Stop},
    {26, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２６", MessageIcon::Stop},
    {27, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２７", MessageIcon::Stop},
    {28, "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２８", MessageIcon::Stop},
    {29, "ﾊﾟｽの指定が不正です　Ｅｒｒ：２９", MessageIcon::Stop},
    {30, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３０", MessageIcon::Stop},
    {31, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３１", MessageIcon::Stop},
    {32, "ﾊﾟｽの指定が不正です　Ｅｒｒ：３２", MessageIcon::Stop},
    {33, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３３", MessageIcon::Stop},
    {34, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３４", MessageIcon::Stop},
    {35, "ﾊﾟｽの指定が不正です　Ｅｒｒ：３５", MessageIcon::Stop},
    {36, "SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３６", MessageIcon::Stop},
    {37, "DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３７", MessageIcon::Stop},
    {38, "SMFﾌｧｲﾙが指定されていません　Ｅｒｒ：３８", MessageIcon::Stop},
    {39, "DLSﾌｧｲﾙが指定されていません　Ｅｒｒ：３９", MessageIcon::Stop},
    {40, "SMFﾌｧｲﾙ以外は変換できません　Ｅｒｒ：４０", MessageIcon::Stop},
    {41, "SMFﾌｧｲﾙが開けません　Ｅｒｒ：４１", MessageIcon::Stop},
    {42, "SMFﾌｧｲﾙが開けません　Ｅｒｒ：４２", MessageIcon::Stop},
    {43, "書き込みﾌｧｲﾙが開けません　Ｅｒｒ：４３", MessageIcon::Stop},
    {44, "SGTﾌｧｲﾙが作成出来ませんでした　Ｅｒｒ：４４", MessageIcon::Exclamation},
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
    static const MessageText unknown{0, "", MessageIcon::Stop};
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

} // namespace sonvex
