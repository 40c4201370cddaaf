// SPDX-License-Identifier: GPL-3.0-or-later
// The list editor's file work: loading rows, the folder change and the rewrite on save,
// with their byte results and their behaviour when files fail.
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "chunkfile/file_system.h"
#include "convlist/convert_list.h"
#include "listedit/list_edit_file.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"

namespace sonvex {
namespace {

// The number the user sees for an outcome's message, 0 for none.
template <class Outcome> int MessageNumber(Outcome outcome) {
    const std::optional<MessageId> id = MessageOf(outcome);
    return id ? static_cast<int>(*id) : 0;
}

using test::ListEntryBytes;
using test::ListHeader;
using test::SameBytes;
using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::TempFolder;

constexpr uint32_t kUnknownType = 0x12345678;

// Three entries: a bank header, a sequence at an offset of 2^31 + 5, an unknown type.
Bytes SampleList(std::string_view folder) {
    ByteBuilder b = ListHeader(3, folder);
    ListEntryBytes(b, kTypeVh, 0, 0x10, "game.bin");
    ListEntryBytes(b, kTypeSeq, 7, 0x80000005, "ｹﾞｰﾑ.bin");
    ListEntryBytes(b, kUnknownType, -2, 0x20, "x");
    return b.take();
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

TEST(ListEditFile, LoadShowsNamesNumbersAndLowOffsetsAsSigned) {
    TempFolder folder;
    const std::string path = folder / "a.clg";
    ASSERT_TRUE(testkit::WriteFile(path, SampleList("/games/disc")));
    const EditorLoad load = LoadListRows(path);
    ASSERT_EQ(load.status, EditorLoadStatus::Ok);
    EXPECT_EQ(load.sourceFolder, "/games/disc");
    ASSERT_EQ(load.rows.size(), 3u);
    EXPECT_EQ(load.rows[0].type, "VH");
    EXPECT_EQ(load.rows[0].offset, "16");
    EXPECT_EQ(load.rows[0].fileName, "game.bin");
    EXPECT_EQ(load.rows[1].type, "SEQ");
    EXPECT_EQ(load.rows[1].number, "7");
    EXPECT_EQ(load.rows[1].offset, "-2147483643");
    EXPECT_EQ(load.rows[1].fileName, "ｹﾞｰﾑ.bin");
    EXPECT_EQ(load.rows[2].type, "0x12345678");
    EXPECT_EQ(load.rows[2].number, "-2");
}

TEST(ListEditFile, LoadOfDamagedOrMissingLists) {
    TempFolder folder;
    EXPECT_EQ(LoadListRows(folder / "missing.clg").status, EditorLoadStatus::OpenFailed);
    EXPECT_EQ(MessageNumber(EditorLoadStatus::OpenFailed), 23);

    const Bytes whole = SampleList("/g");
    const size_t headerEnd = 4 + 1 + 3;
    const size_t firstEntryEnd = headerEnd + 17 + 9;
    struct Cut {
        size_t length;
        EditorLoadStatus status;
        size_t rows;
        const char* lastType; // of the last row, nullptr when there is none
        const char* lastName;
    };
    const Cut cuts[] = {
        {3, EditorLoadStatus::ShortHeader, 0, nullptr, nullptr},               // in the count
        {4, EditorLoadStatus::ShortHeader, 0, nullptr, nullptr},               // no length byte
        {6, EditorLoadStatus::ShortHeader, 0, nullptr, nullptr},               // folder cut
        {headerEnd + 10, EditorLoadStatus::ShortEntries, 0, nullptr, nullptr}, // fixed bytes cut
        {headerEnd + 16, EditorLoadStatus::ShortEntries, 1, "VH", ""},         // no name length
        {headerEnd + 20, EditorLoadStatus::ShortEntries, 1, "VH", ""},         // name cut
        {firstEntryEnd, EditorLoadStatus::ShortEntries, 1, "VH", "game.bin"},  // first entry whole
        {firstEntryEnd + 16, EditorLoadStatus::ShortEntries, 2, "SEQ", ""}, // second's name length
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut.length));
        const std::string path = folder / "cut.clg";
        ASSERT_TRUE(testkit::WriteFile(path, Bytes(whole.begin(), whole.begin() + cut.length)));
        const EditorLoad load = LoadListRows(path);
        EXPECT_EQ(load.status, cut.status);
        ASSERT_EQ(load.rows.size(), cut.rows);
        if (cut.lastType) {
            EXPECT_EQ(load.rows.back().type, cut.lastType);
            EXPECT_EQ(load.rows.back().fileName, cut.lastName);
            EXPECT_EQ(load.rows.back().number, load.rows.size() == 1 ? "0" : "7");
        }
    }
}

TEST(ListEditFile, FolderChangeToShorterPathKeepsLengthAndCountedReadersAgree) {
    TempFolder folder;
    const std::string path = folder / "a.clg";
    const Bytes old = SampleList("/games/long folder name");
    ASSERT_TRUE(testkit::WriteFile(path, old));

    ASSERT_EQ(ChangeListFolder(path, "/games/long folder name", "/g"), FolderChangeResult::Done);
    ByteBuilder expected = ListHeader(3, "/g");
    expected.append(Bytes(old.begin() + 5 + 24, old.end()));
    const size_t rewritten = expected.size();
    expected.append(Bytes(old.begin() + static_cast<std::ptrdiff_t>(rewritten), old.end()));
    const Bytes now = testkit::ReadFile(path);
    EXPECT_TRUE(SameBytes(expected.bytes(), now));
    EXPECT_EQ(now.size(), old.size());
    EXPECT_FALSE(FileExists(folder / "a.tmp"));

    ConvertList list;
    ASSERT_EQ(ParseList(now, list), ListLoad::Ok);
    EXPECT_EQ(list.sourceFolder, "/g");
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[1].offset, 0x80000005u);
    EXPECT_EQ(list.entries[2].fileName, "x");
}

TEST(ListEditFile, FolderChangeToLongerPathGrowsTheFile) {
    TempFolder folder;
    const std::string path = folder / "a.clg";
    const Bytes old = SampleList("/g");
    ASSERT_TRUE(testkit::WriteFile(path, old));
    const std::string longest(kMaxFolderBytes, 'd');
    ASSERT_EQ(ChangeListFolder(path, "/g", longest), FolderChangeResult::Done);
    ByteBuilder expected = ListHeader(3, longest);
    expected.append(Bytes(old.begin() + 5 + 3, old.end()));
    EXPECT_TRUE(SameBytes(expected.bytes(), testkit::ReadFile(path)));
}

TEST(ListEditFile, FolderChangeOfAHeaderRunningPastTheEndChangesNothing) {
    TempFolder folder;
    const std::string cut = folder / "cut.clg";
    const Bytes old = SampleList("/g");
    const Bytes shortBytes(old.begin(), old.begin() + 6);
    ASSERT_TRUE(testkit::WriteFile(cut, shortBytes));
    EXPECT_EQ(ChangeListFolder(cut, "/g", "/new"), FolderChangeResult::ShortRead);
    EXPECT_EQ(MessageNumber(FolderChangeResult::ShortRead), 0);
    EXPECT_EQ(testkit::ReadFile(cut), shortBytes);
}

TEST(ListEditFile, FolderChangeFaultsNeverDamageTheList) {
    TempFolder folder;
    const std::string path = folder / "a.clg";
    const Bytes old = SampleList("/g");
    ASSERT_TRUE(testkit::WriteFile(path, old));
    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);

    faults.FailOpenRead(true);
    EXPECT_EQ(ChangeListFolder(path, "/g", "/new"), FolderChangeResult::OpenFailed);
    faults.Clear();
    faults.FailCreate(true);
    EXPECT_EQ(ChangeListFolder(path, "/g", "/new"), FolderChangeResult::OpenFailed);
    faults.Clear();
    faults.FailWritesAfter(7);
    EXPECT_EQ(ChangeListFolder(path, "/g", "/new"), FolderChangeResult::WriteFailed);
    faults.Clear();
    faults.FailRename(true);
    EXPECT_EQ(ChangeListFolder(path, "/g", "/new"), FolderChangeResult::WriteFailed);
    faults.Clear();

    EXPECT_EQ(testkit::ReadFile(path), old);
    EXPECT_FALSE(FileExists(folder / "a.tmp"));
}

TEST(ListEditFile, SaveWritesRowsWithZeroHighOffsetsAndKeepsTheStoredFolder) {
    TempFolder folder;
    const std::string path = folder / "list.clg";
    // Folder bytes after the NUL are copied as stored.
    ByteBuilder old;
    old.u32le(1).u8(6).text("/ab").u8(0).text("zz");
    ListEntryBytes(old, kTypeSceiMidi, 1, 0x0000000500000010ull, "n");
    ASSERT_TRUE(testkit::WriteFile(path, old.bytes()));

    const std::vector<EditorRow> rows = {
        {"SCEIHead", "3", "-2147483643", "ｹﾞｰﾑ.bin"},
        {"0x12345678", "-2", "16", ""},
        {"Bogus", "0", "0", std::string(300, 'n')},
    };
    ASSERT_EQ(SaveListRows(path, rows), SaveResult::Saved);

    ByteBuilder expected;
    expected.u32le(3).u8(6).text("/ab").u8(0).text("zz");
    ListEntryBytes(expected, kTypeSceiHead, 3, 0x80000005u, "ｹﾞｰﾑ.bin");
    ListEntryBytes(expected, kUnknownType, -2, 16, "");
    // A type text that names nothing is written as 0; the length byte of a name that
    // long wraps to 45 and exactly 45 bytes follow, 44 of the name and the NUL.
    expected.u32le(0).u32le(0).u64le(0).u8(45).text(std::string(44, 'n')).u8(0);
    EXPECT_TRUE(SameBytes(expected.bytes(), testkit::ReadFile(path)));
    EXPECT_FALSE(FileExists(folder / "list.tmp"));
}

TEST(ListEditFile, SaveFailuresKeepTheListUnderItsOwnName) {
    TempFolder folder;
    const std::string path = folder / "list.clg";
    const Bytes old = SampleList("/games");
    const std::vector<EditorRow> rows = {{"SEQ", "1", "2", std::string(100, 'a')},
                                         {"VB", "0", "9", "b"}};
    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);

    struct Case {
        const char* name;
        std::function<void()> arm;
        SaveResult result;
        int message;
    };
    const Case cases[] = {
        {"rename", [&] { faults.FailRename(true); }, SaveResult::RenameFailed, 27},
        {"open", [&] { faults.FailOpenRead(true); }, SaveResult::OpenTempFailed, 27},
        {"create", [&] { faults.FailCreate(true); }, SaveResult::CreateFailed, 28},
        {"write", [&] { faults.FailWritesAfter(40); }, SaveResult::WriteFailed, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(testkit::WriteFile(path, old));
        {
            ScopedFileSystem guard(faults);
            faults.Clear();
            c.arm();
            EXPECT_EQ(SaveListRows(path, rows), c.result);
            faults.Clear();
        }
        EXPECT_EQ(MessageNumber(c.result), c.message);
        EXPECT_EQ(testkit::ReadFile(path), old);
        EXPECT_FALSE(FileExists(folder / "list.tmp"));
    }

    // A list whose header is cut short is put back untouched, without a message.
    const Bytes cut(old.begin(), old.begin() + 7);
    ASSERT_TRUE(testkit::WriteFile(path, cut));
    EXPECT_EQ(SaveListRows(path, rows), SaveResult::ShortHeader);
    EXPECT_EQ(MessageNumber(SaveResult::ShortHeader), 0);
    EXPECT_EQ(testkit::ReadFile(path), cut);
    EXPECT_FALSE(FileExists(folder / "list.tmp"));
}

TEST(ListEditFile, AListNamedWithTheTemporaryExtensionSurvivesSaveAndFolderChange) {
    TempFolder folder;
    const std::string path = folder / "list.tmp";
    EXPECT_NE(TemporaryPathOf(path), path);
    EXPECT_EQ(TemporaryPathOf(folder / "list.clg"), folder / "list.tmp");

    ASSERT_TRUE(testkit::WriteFile(path, SampleList("/g")));
    ASSERT_EQ(SaveListRows(path, {{"VB", "4", "8", "b.bin"}}), SaveResult::Saved);
    ByteBuilder expected = ListHeader(1, "/g");
    ListEntryBytes(expected, kTypeVb, 4, 8, "b.bin");
    EXPECT_TRUE(SameBytes(expected.bytes(), testkit::ReadFile(path)));

    // A failed folder change leaves it whole.
    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);
    faults.FailWritesAfter(3);
    EXPECT_EQ(ChangeListFolder(path, "/g", "/new"), FolderChangeResult::WriteFailed);
    faults.Clear();
    EXPECT_TRUE(SameBytes(expected.bytes(), testkit::ReadFile(path)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(ListEditFile, CellTextsReadBack) {
    EXPECT_EQ(ParseSignedCell("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseSignedCell("4294967295"), -1);
    EXPECT_EQ(TypeFromCell("gpmhead"), 0u);
    EXPECT_EQ(TypeFromCell("0x0000abCD"), 0xABCDu);
    EXPECT_EQ(TypeFromCell("0x12G4"), 0u);
    EXPECT_EQ(TypeFromCell("0x123456789"), 0u);
    for (uint32_t code : {kTypeSeq, kTypeVh, kTypeVb, kTypeKcetSeq, kTypeSceiMidi, kTypeSceiHead,
                          kTypeGpmSeq, kTypeGpmHead, 0u, 0xFFFFFFFFu, kUnknownType}) {
        EXPECT_EQ(TypeFromCell(TypeCellText(code)), code) << TypeCellText(code);
    }
}

} // namespace
} // namespace sonvex
