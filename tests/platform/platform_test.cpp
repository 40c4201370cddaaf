// SPDX-License-Identifier: GPL-3.0-or-later
// Platform seams: the message table, identifiers, code pages and the program folder.
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/guid.h"
#include "platform/messages.h"
#include "platform/program_folder.h"
#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

std::string FullWidthNumber(int n) {
    static const char* digits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８", "９"};
    return std::string(digits[n / 10]) + digits[n % 10];
}

TEST(Messages, EveryNumberEndsWithItsOwnFullWidthNumber) {
    std::set<int> numbers;
    for (const MessageText& m : AllMessages()) {
        numbers.insert(m.number);
        const std::string text = m.text;
        // Every text ends in a full-width space, "Ｅｒｒ：" and the number; 01 alone has
        // an ordinary space.
        const std::string space = m.number == 1 ? " " : "　";
        const std::string suffix = space + "Ｅｒｒ：" + FullWidthNumber(m.number);
        ASSERT_GE(text.size(), suffix.size()) << m.number;
        EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << m.number;
        EXPECT_TRUE(IsValidUtf8(text)) << m.number;
        EXPECT_EQ(m.icon, m.number == 44 ? MessageIcon::Exclamation : MessageIcon::Stop)
            << m.number;
    }
    // 01 to 44 without 19 to 22.
    EXPECT_EQ(numbers.size(), 40u);
    for (int n = 1; n <= 44; ++n) {
        EXPECT_EQ(FindMessage(n) != nullptr, n < 19 || n > 22) << n;
    }
    EXPECT_STREQ(Message(static_cast<MessageId>(20)).text, "");
}

TEST(Messages, ShownThroughFeedbackWithTheirIcon) {
    RecordingFeedback fb;
    ShowNumberedMessage(fb, MessageId::SegmentNotMade);
    ShowNumberedMessage(fb, MessageId::SeqInputOpenFailed);
    ASSERT_EQ(fb.events.size(), 2u);
    EXPECT_EQ(fb.events[0].text, FindMessage(44)->text);
    EXPECT_EQ(fb.events[0].value, static_cast<int>(MessageIcon::Exclamation));
    EXPECT_EQ(fb.events[1].value, static_cast<int>(MessageIcon::Stop));
}

TEST(Messages, CommandLineFormsAreEnglishAndNameFileOffsetReasonAndNumber) {
    for (const MessageText& m : AllMessages()) {
        const std::string english = m.english;
        EXPECT_FALSE(english.empty()) << m.number;
        for (const char c : english) {
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << m.number << ": " << english;
        }
        // The desktop text finds its message again: the command line goes by it.
        EXPECT_EQ(FindMessageByText(m.text), &m);
    }
    EXPECT_EQ(EnglishMessage(Message(MessageId::SeqInputOpenFailed),
                             {"a/x.seq", -1, "No such file or directory"}),
              "cannot open game file \"a/x.seq\": No such file or directory [05]");
    EXPECT_EQ(EnglishMessage(Message(MessageId::SegmentDlsOpenFailed), {"b.dls", 0x1A2F0, ""}),
              "cannot open DLS file \"b.dls\" at 0x0001A2F0 [42]");
    EXPECT_EQ(EnglishMessage(Message(MessageId::OutputFolderMissing)),
              "no output folder given [07]");

    // Status texts of the batch run, the analysis and the segment builder.
    const std::pair<const char*, const char*> statuses[] = {
        {"変換中", "converting"},
        {"SMF songs_003を作製", "making songs_003.mid"},
        {"DLS std0_000を作製", "making std0_000.dls"},
        {"終了 作製ﾌｧｲﾙ数  7", "finished, 7 file(s) made"},
        {"終了 作製ﾌｧｲﾙ数 123", "finished, 123 file(s) made"},
        {"GAME.BIN ｱﾅﾗｲｽﾞ中", "scanning GAME.BIN"},
        {"GAME.BIN ｱﾅﾗｲｽﾞ終了", "scanned GAME.BIN"},
        {"アナライズ終了", "analysis finished"},
        {"song.sgt作製", "made song.sgt"},
        {"rendering", "rendering"},
    };
    for (const auto& [text, english] : statuses) {
        EXPECT_EQ(EnglishStatusText(text), english);
    }
}

TEST(Messages, SubjectFeedbackNamesTheFileOfAMessageShownWithoutIt) {
    RecordingFeedback fb;
    SubjectFeedback named(fb, [](int number) {
        return MessageSubject{number == 5 ? "game.bin" : "", -1, "gone"};
    });
    ShowNumberedMessage(named, MessageId::SeqInputOpenFailed);
    EXPECT_EQ(named.lastNumber(), 5);
    ShowNumberedMessage(named, MessageId::SeqOutputOpenFailed);
    ShowNumberedMessage(named, MessageId::ListOpenFailed, {"my.clg", -1, ""});
    named.ShowMessage("not a table text", MessageIcon::Stop);
    EXPECT_EQ(named.lastNumber(), 1);
    EXPECT_EQ(fb.MessageSubjects(), (std::vector<std::string>{"game.bin", "", "my.clg", ""}));
    EXPECT_EQ(fb.Messages()[1], Message(MessageId::SeqOutputOpenFailed).text);
}

TEST(Guids, VersionFourStampAndByteLayout) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        Guid g = NewGuid();
        auto b = g.Bytes();
        EXPECT_EQ(b[7] >> 4, 4);      // data3's high nibble, little-endian on disk
        EXPECT_EQ(b[8] & 0xC0, 0x80); // variant bits
        EXPECT_EQ(Guid::FromBytes(b.data()), g);
        seen.insert(g.ToString());
    }
    EXPECT_EQ(seen.size(), 200u);
    Guid fixed;
    fixed.data1 = 0x01020304;
    fixed.data2 = 0x0506;
    fixed.data3 = 0x0708;
    fixed.data4 = {9, 10, 11, 12, 13, 14, 15, 16};
    auto b = fixed.Bytes();
    EXPECT_EQ(b[0], 0x04);
    EXPECT_EQ(b[4], 0x06);
    EXPECT_EQ(b[6], 0x08);
    EXPECT_EQ(b[15], 16);
    EXPECT_EQ(fixed.ToString(), "{01020304-0506-0708-090A-0B0C0D0E0F10}");
}

TEST(CodePages, ShiftJisRoundTripKeepsHalfWidthKatakana) {
    const std::string utf8 = "ｺﾝﾊﾞｰﾄﾃﾞｰﾀ 入力ﾌｧｲﾙ ABC";
    auto sjis = Utf8ToCp932(utf8);
    ASSERT_TRUE(sjis.has_value());
    // Half-width katakana are one byte each in CP932: ｺ is 0xBA.
    EXPECT_EQ(static_cast<uint8_t>((*sjis)[0]), 0xBA);
    auto back = Cp932ToUtf8(*sjis);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, utf8);
    // A lone lead byte is not valid CP932.
    EXPECT_FALSE(Cp932ToUtf8(std::string("\x82", 1)).has_value());
    // Characters outside CP932 cannot be written in it.
    EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x8E\xB5").has_value());
}

TEST(CodePages, Utf16WithSurrogatesAndInvalidBytes) {
    EXPECT_EQ(Utf8ToUtf16("Band1"), u"Band1");
    EXPECT_EQ(Utf8ToUtf16("試聴"), u"試聴");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E\xB5"), std::u16string({0xD83C, 0xDFB5}));
    EXPECT_EQ(Utf16ToUtf8(std::u16string({0xD83C, 0xDFB5})), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(Utf8ToUtf16("a\xFF"), std::u16string({u'a', 0xFFFD}));
    EXPECT_FALSE(IsValidUtf8("a\xC3"));
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // an encoded surrogate
    EXPECT_TRUE(IsValidUtf8("ﾙｰﾌﾟ: ∞"));
}

TEST(ProgramFolder, WritableExecutableFolderElseXdgDataHome) {
    testkit::TempFolder dir;
    EXPECT_EQ(ChooseProgramFolder(dir.path(), "/unused", "/unused"),
              std::filesystem::path(dir.path()));
    // A folder that cannot be written (here: one that does not exist) is passed over.
    const std::string readOnly = dir / "not-there";
    auto chosen = ChooseProgramFolder(readOnly, (dir / "xdg").c_str(), "/home/nobody");
    EXPECT_EQ(chosen, std::filesystem::path(dir / "xdg") / "Sonvex");
    EXPECT_TRUE(std::filesystem::is_directory(chosen));
    auto fromHome = ChooseProgramFolder(readOnly, "", dir.path().c_str());
    EXPECT_EQ(fromHome, std::filesystem::path(dir.path()) / ".local" / "share" / "Sonvex");
}

} // namespace
} // namespace sonvex
