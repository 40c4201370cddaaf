// SPDX-License-Identifier: GPL-3.0-or-later
// The INI text (lookup, in-place replacement, encodings) and the settings file.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "chunkfile/file_system.h"
#include "convert/batch_conversion.h"
#include "platform/code_page.h"
#include "testkit/byte_builder.h"
#include "ui/app_settings.h"
#include "ui/ini_file.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

using testkit::TempFolder;

std::string ReadText(const std::string& path) {
    const testkit::Bytes bytes = testkit::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(testkit::WriteFile(path, testkit::Bytes(text.begin(), text.end())));
}

TEST(IniDocument, LooksUpTheFirstSectionAndKeyIgnoringAsciiCaseAndBlanks) {
    const IniDocument doc = IniDocument::Parse("; comment=1\n"
                                               "[Other]\n"
                                               "path=wrong\n"
                                               "[ Main ]\n"
                                               "; path=commented\n"
                                               "  PATH =  /games/a b  \n"
                                               "path=second\n"
                                               "[main]\n"
                                               "path=third\n");
    EXPECT_EQ(doc.Get("main", "path"), "/games/a b");
    EXPECT_EQ(doc.Get("MAIN", "Path"), "/games/a b");
    EXPECT_EQ(doc.Get("Other", "path"), "wrong");
    EXPECT_EQ(doc.Get("main", "missing"), std::nullopt);
    EXPECT_EQ(doc.Get("absent", "path"), std::nullopt);
    // A key of one section is never taken from the lines of the next one.
    EXPECT_EQ(IniDocument::Parse("[a]\n[b]\nk=1\n").Get("a", "k"), std::nullopt);
}

TEST(IniDocument, IntegersReadLikeTheProfileService) {
    const IniDocument doc =
        IniDocument::Parse("[s]\nseven=7\nneg=-3\ntrail=12abc\nword=abc\nhuge=99999999999\n");
    EXPECT_EQ(doc.GetInt("s", "seven", 5), 7);
    EXPECT_EQ(doc.GetInt("s", "neg", 5), -3);
    EXPECT_EQ(doc.GetInt("s", "trail", 5), 12);
    EXPECT_EQ(doc.GetInt("s", "word", 5), 0);
    EXPECT_EQ(doc.GetInt("s", "missing", 5), 5);
    EXPECT_EQ(doc.GetInt("s", "huge", 5), 2147483647);
}

TEST(IniDocument, SetReplacesInPlaceAndKeepsEverythingElse) {
    IniDocument doc = IniDocument::Parse("[first]\r\n"
                                         "a=1\r\n"
                                         "; note\r\n"
                                         "b = 2\r\n"
                                         "\r\n"
                                         "[second]\r\n"
                                         "b=keep\r\n");
    doc.Set("FIRST", "B", "20");
    doc.Set("first", "c", "3");
    doc.Set("third", "d", "4");
    // The replaced key keeps its spelling, a new key follows the section's last entry
    // (before the blank line), a new section goes to the end; CR LF stays CR LF.
    EXPECT_EQ(doc.Text(), "[first]\r\n"
                          "a=1\r\n"
                          "; note\r\n"
                          "b=20\r\n"
                          "c=3\r\n"
                          "\r\n"
                          "[second]\r\n"
                          "b=keep\r\n"
                          "[third]\r\n"
                          "d=4\r\n");
}

TEST(IniDocument, SetOnTextWithoutFinalLineBreakAndOnEmptyText) {
    IniDocument doc = IniDocument::Parse("[s]\nk=v");
    doc.Set("s", "n", "1");
    EXPECT_EQ(doc.Text(), "[s]\nk=v\nn=1\n");

    IniDocument empty = IniDocument::Parse("");
    empty.Set("s", "k", "v");
    EXPECT_EQ(empty.Text(), "[s]\nk=v\n");
}

TEST(IniDocument, ValueWithLineBreaksCannotAddLines) {
    IniDocument doc = IniDocument::Parse("[s]\nk=old\n");
    doc.Set("s", "k", "a\n[evil]\r\nx=1");
    EXPECT_EQ(doc.Text(), "[s]\nk=a [evil]  x=1\n");
    EXPECT_EQ(IniDocument::Parse(doc.Text()).Get("evil", "x"), std::nullopt);
}

TEST(IniDocument, DecodesUtf8WithMarkAndCp932) {
    const std::string utf8 =
        std::string("[") + kSettingsSection + "]\n" + kKeyInputFile + "=/ゲーム/ﾃﾞｰﾀ.bin\n";
    EXPECT_EQ(IniDocument::FromBytes("\xEF\xBB\xBF" + utf8).Get(kSettingsSection, kKeyInputFile),
              "/ゲーム/ﾃﾞｰﾀ.bin");

    // Half-width katakana U+FF61..U+FF9F are the single CP932 bytes 0xA1..0xDF.
    const std::u16string section = Utf8ToUtf16(kSettingsSection);
    std::string cp932Section;
    for (char16_t c : section) {
        ASSERT_GE(c, 0xFF61);
        ASSERT_LE(c, 0xFF9F);
        cp932Section.push_back(static_cast<char>(c - 0xFEC0));
    }
    const auto cp932Key = Utf8ToCp932(kKeyOutputFolder);
    const auto cp932Value = Utf8ToCp932("C:\\出力\\ﾃﾞｰﾀ");
    ASSERT_TRUE(cp932Key && cp932Value);
    const std::string cp932 = "[" + cp932Section + "]\r\n" + *cp932Key + "=" + *cp932Value + "\r\n";
    ASSERT_FALSE(IsValidUtf8(cp932));
    EXPECT_EQ(IniDocument::FromBytes(cp932).Get(kSettingsSection, kKeyOutputFolder),
              "C:\\出力\\ﾃﾞｰﾀ");
}

TEST(Settings, FirstRunReadsDefaultsAndWritingCreatesTheFile) {
    TempFolder folder;
    const std::string path = SettingsPath(folder.path()).string();
    EXPECT_EQ(std::filesystem::path(path).filename(), "Sonvex.ini");

    const AppSettings none = ReadSettings(path);
    EXPECT_EQ(none.inputFile, "");
    EXPECT_EQ(none.outputFolder, "");
    EXPECT_EQ(none.fileType, 0);

    ASSERT_TRUE(WriteSettings(path, none));
    const std::string expected = std::string("[") + kSettingsSection + "]\n" + kKeyInputFile +
                                 "=\n" + kKeyOutputFolder + "=\n" + kKeyFileType + "=0\n";
    EXPECT_EQ(ReadText(path), expected);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(Settings, RoundTripKeepsFileTypeOtherSectionsAndTheNoFolderText) {
    TempFolder folder;
    const std::string path = folder / "Sonvex.ini";
    WriteText(path, std::string("[Window]\nx=10\n[") + kSettingsSection + "]\n" + kKeyFileType +
                        "=7\n" + kKeyInputFile + "=/old.bin\n");
    AppSettings settings = ReadSettings(path);
    EXPECT_EQ(settings.fileType, 7);
    EXPECT_EQ(settings.inputFile, "/old.bin");

    settings.inputFile = "/games/ＦＦ/disc 1.bin";
    settings.outputFolder = kNoFolderChosenText;
    ASSERT_TRUE(WriteSettings(path, settings));
    EXPECT_EQ(ReadText(path), std::string("[Window]\nx=10\n[") + kSettingsSection + "]\n" +
                                  kKeyFileType + "=7\n" + kKeyInputFile +
                                  "=/games/ＦＦ/disc 1.bin\n" + kKeyOutputFolder + "=" +
                                  kNoFolderChosenText + "\n");

    const AppSettings again = ReadSettings(path);
    EXPECT_EQ(again.inputFile, settings.inputFile);
    EXPECT_EQ(again.outputFolder, kNoFolderChosenText);
    EXPECT_EQ(again.fileType, 7);
}

TEST(Settings, Cp932FileIsReadAndWrittenBackAsUtf8WithItsOtherLines) {
    TempFolder folder;
    const std::string path = folder / "Sonvex.ini";
    const std::string utf8 = std::string("[注記]\r\nメモ=ﾒﾓ\r\n[") + kSettingsSection + "]\r\n" +
                             kKeyInputFile + "=C:\\ｹﾞｰﾑ\\a.bin\r\n" + kKeyFileType + "=3\r\n";
    const auto cp932 = Utf8ToCp932(utf8);
    ASSERT_TRUE(cp932);
    WriteText(path, *cp932);

    AppSettings settings = ReadSettings(path);
    EXPECT_EQ(settings.inputFile, "C:\\ｹﾞｰﾑ\\a.bin");
    EXPECT_EQ(settings.fileType, 3);
    settings.outputFolder = "/out";
    ASSERT_TRUE(WriteSettings(path, settings));
    const std::string written = ReadText(path);
    EXPECT_TRUE(IsValidUtf8(written));
    EXPECT_EQ(written, std::string("[注記]\r\nメモ=ﾒﾓ\r\n[") + kSettingsSection + "]\r\n" +
                           kKeyInputFile + "=C:\\ｹﾞｰﾑ\\a.bin\r\n" + kKeyFileType + "=3\r\n" +
                           kKeyOutputFolder + "=/out\r\n");
}

TEST(Settings, FailedWriteLeavesTheOldFileWhole) {
    TempFolder folder;
    const std::string path = folder / "Sonvex.ini";
    const std::string original =
        std::string("[") + kSettingsSection + "]\n" + kKeyFileType + "=7\n";
    WriteText(path, original);
    AppSettings settings;
    settings.inputFile = std::string(200, 'x');

    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);

    faults.FailWritesAfter(10);
    EXPECT_FALSE(WriteSettings(path, settings));
    EXPECT_EQ(ReadText(path), original);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));

    faults.Clear();
    faults.FailCreate(true);
    EXPECT_FALSE(WriteSettings(path, settings));
    EXPECT_EQ(ReadText(path), original);

    faults.Clear();
    faults.FailRename(true);
    EXPECT_FALSE(WriteSettings(path, settings));
    EXPECT_EQ(ReadText(path), original);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

} // namespace
} // namespace sonvex::ui
