// SPDX-License-Identifier: GPL-3.0-or-later
// The list editor driven through its widgets: row clicks, toolbar buttons, Escape,
// Enter and the close box, and the bytes of the list afterwards.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>

#include "chunkfile/file_system.h"
#include "convlist/convert_list.h"
#include "scripted_services.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"
#include "ui/list_editor_dialog.h"
#include "ui/string_table.h"
#include "ui/tip_tool_bar.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

using test::ListEntryBytes;
using test::ListHeader;
using test::SameBytes;
using test::ScriptedServices;
using testkit::ByteBuilder;
using testkit::Bytes;

const std::string kFolder = "/games/disc one";

struct Entry {
    uint32_t type;
    int32_t number;
    uint64_t offset;
    std::string name;
};

Bytes ListOf(const std::string& folder, const std::vector<Entry>& entries, uint32_t count) {
    ByteBuilder b = ListHeader(count, folder);
    for (const Entry& e : entries) {
        ListEntryBytes(b, e.type, e.number, e.offset, e.name);
    }
    return b.take();
}

Bytes ListOf(const std::string& folder, const std::vector<Entry>& entries) {
    return ListOf(folder, entries, static_cast<uint32_t>(entries.size()));
}

const std::vector<Entry> kEntries = {
    {kTypeSceiMidi, 0, 0x0000000700000100ull, "a.bin"}, // high offset bits that a save drops
    {kTypeSceiHead, 1, 0x80000000ull, "ｹﾞｰﾑ.bin"},
    {kTypeVb, 2, 0x30, "a.bin"},
};

class ListEditorTest : public ::testing::Test {
  protected:
    void SetUp() override { path_ = folder_ / "disc.clg"; }

    void Write(const Bytes& bytes) { ASSERT_TRUE(testkit::WriteFile(path_, bytes)); }
    Bytes OnDisk() const { return testkit::ReadFile(path_); }

    std::unique_ptr<ListEditorDialog> Open() {
        auto dialog = std::make_unique<ListEditorDialog>(QString::fromStdString(path_));
        dialog->show();
        return dialog;
    }

    static void ClickRow(ListEditorDialog& d, int row) {
        QTableWidget* table = d.Table();
        const QRect rect = table->visualItemRect(table->item(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    }
    static QToolButton* ButtonOf(ListEditorDialog& d, int command) {
        return qobject_cast<QToolButton*>(
            d.ToolBar()->widgetForAction(d.ToolBar()->Button(command)));
    }
    static void Press(ListEditorDialog& d, int command) {
        QTest::mouseClick(ButtonOf(d, command), Qt::LeftButton);
    }
    static bool Enabled(ListEditorDialog& d, int command) {
        return d.ToolBar()->Button(command)->isEnabled();
    }
    static std::vector<std::string> Column(ListEditorDialog& d, int column) {
        std::vector<std::string> out;
        for (int r = 0; r < d.Table()->rowCount(); ++r) {
            out.push_back(d.Table()->item(r, column)->text().toStdString());
        }
        return out;
    }

    // Expected bytes after a save: the entries in `order`, offsets cut to 32 bits.
    Bytes Saved(const std::string& folder, const std::vector<int>& order) const {
        std::vector<Entry> entries;
        for (int i : order) {
            Entry e = kEntries[static_cast<size_t>(i)];
            e.offset &= 0xFFFFFFFFu;
            entries.push_back(e);
        }
        return ListOf(folder, entries);
    }

    testkit::TempFolder folder_;
    std::string path_;
    ScriptedServices services_;
    ScopedDialogServices guard_{services_};
};

TEST_F(ListEditorTest, OpensWithTitleColumnsFolderAndNoRowChosen) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    EXPECT_EQ(d->windowTitle().toStdString(), std::string(kListEditorTitlePrefix) + "disc.clg");
    QTableWidget* table = d->Table();
    ASSERT_EQ(table->columnCount(), 4);
    const int minimumWidths[] = {70, 60, 70, 110};
    const char* headers[] = {kColumnType, kColumnNumber, kColumnOffset, kColumnFileName};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(table->horizontalHeaderItem(c)->text().toStdString(), headers[c]);
        EXPECT_GE(table->columnWidth(c), minimumWidths[c]);
        // Every cell's text fits its column.
        for (int r = 0; r < table->rowCount(); ++r) {
            EXPECT_LE(table->fontMetrics().horizontalAdvance(table->item(r, c)->text()),
                      table->columnWidth(c))
                << "row " << r << " column " << c;
        }
    }
    EXPECT_EQ(Column(*d, 0), (std::vector<std::string>{"SCEIMidi", "SCEIHead", "VB"}));
    EXPECT_EQ(Column(*d, 1), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(Column(*d, 2), (std::vector<std::string>{"256", "-2147483648", "48"}));
    EXPECT_EQ(Column(*d, 3), (std::vector<std::string>{"a.bin", "ｹﾞｰﾑ.bin", "a.bin"}));
    EXPECT_TRUE(table->item(0, 1)->textAlignment() & Qt::AlignRight);
    EXPECT_TRUE(table->item(0, 2)->textAlignment() & Qt::AlignRight);
    EXPECT_EQ(table->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(d->FolderLabel()->text().toStdString(), kFolder);
    EXPECT_EQ(d->Selection(), -1);
    EXPECT_FALSE(Enabled(*d, kCommandMoveUp));
    EXPECT_FALSE(Enabled(*d, kCommandMoveDown));
    EXPECT_FALSE(Enabled(*d, kCommandDelete));
    EXPECT_TRUE(Enabled(*d, kCommandChangeFolder));
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(ListEditorTest, ToolbarTooltipsComeFromTheStringTable) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    const std::pair<int, const char*> tips[] = {{kCommandMoveUp, "一つ上に"},
                                                {kCommandMoveDown, "一つ下に"},
                                                {kCommandDelete, "削除"},
                                                {kCommandChangeFolder, "ﾌｫﾙﾀﾞの変更"}};
    for (const auto& [command, tip] : tips) {
        EXPECT_EQ(ButtonOf(*d, command)->toolTip().toStdString(), tip);
    }
    // Buttons sit left to right after the folder label.
    EXPECT_LT(ButtonOf(*d, kCommandMoveUp)->x(), ButtonOf(*d, kCommandMoveDown)->x());
    EXPECT_LT(ButtonOf(*d, kCommandDelete)->x(), ButtonOf(*d, kCommandChangeFolder)->x());
    EXPECT_GE(ButtonOf(*d, kCommandMoveUp)->x(), 237 + 3);

    EXPECT_EQ(TipTextOf("no newline"), "");
    EXPECT_EQ(TipTextOf("name\nfirst\nsecond"), "first\nsecond");
    // 79 bytes at most, never half a character: 26 three-byte characters are 78 bytes.
    std::string longTip = "\n";
    for (int i = 0; i < 40; ++i) {
        longTip += "削";
    }
    EXPECT_EQ(TipTextOf(longTip).size(), 78u);
    // Only the first 255 bytes of an entry are read.
    EXPECT_EQ(TipTextOf(std::string(255, 'x') + "\ntip"), "");
}

TEST_F(ListEditorTest, ButtonsFollowTheSelectedRow) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    ClickRow(*d, 0);
    EXPECT_EQ(d->Selection(), 0);
    EXPECT_FALSE(Enabled(*d, kCommandMoveUp));
    EXPECT_TRUE(Enabled(*d, kCommandMoveDown));
    EXPECT_TRUE(Enabled(*d, kCommandDelete));
    ClickRow(*d, 1);
    EXPECT_TRUE(Enabled(*d, kCommandMoveUp));
    EXPECT_TRUE(Enabled(*d, kCommandMoveDown));
    ClickRow(*d, 2);
    EXPECT_EQ(d->Selection(), 2);
    EXPECT_TRUE(Enabled(*d, kCommandMoveUp));
    EXPECT_FALSE(Enabled(*d, kCommandMoveDown));
    EXPECT_FALSE(d->Modified());
}

TEST_F(ListEditorTest, MoveDownAndBackUpSavesTheSameEntriesWithHighOffsetsZero) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    ClickRow(*d, 0);
    Press(*d, kCommandMoveDown);
    EXPECT_EQ(d->Selection(), 1);
    EXPECT_EQ(Column(*d, 0), (std::vector<std::string>{"SCEIHead", "SCEIMidi", "VB"}));
    EXPECT_EQ(Column(*d, 2), (std::vector<std::string>{"-2147483648", "256", "48"}));
    EXPECT_TRUE(Enabled(*d, kCommandMoveUp));
    Press(*d, kCommandMoveUp);
    EXPECT_EQ(d->Selection(), 0);
    EXPECT_FALSE(Enabled(*d, kCommandMoveUp));
    EXPECT_TRUE(d->Modified());

    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_EQ(services_.questions, std::vector<std::string>{kSaveQuestion});
    EXPECT_TRUE(SameBytes(Saved(kFolder, {0, 1, 2}), OnDisk()));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "disc.tmp"));
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(ListEditorTest, MovedEightCharacterTypesKeepTheirCodes) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    ClickRow(*d, 2);
    Press(*d, kCommandMoveUp);
    Press(*d, kCommandMoveUp);
    EXPECT_EQ(Column(*d, 0), (std::vector<std::string>{"VB", "SCEIMidi", "SCEIHead"}));
    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_TRUE(SameBytes(Saved(kFolder, {2, 0, 1}), OnDisk()));
}

TEST_F(ListEditorTest, DeletingTheLastRowSelectsTheNewLastRow) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    ClickRow(*d, 2);
    Press(*d, kCommandDelete);
    EXPECT_EQ(d->Table()->rowCount(), 2);
    EXPECT_EQ(d->Selection(), 1);
    EXPECT_TRUE(d->Table()->item(1, 0)->isSelected());
    EXPECT_FALSE(Enabled(*d, kCommandMoveDown));
    EXPECT_TRUE(Enabled(*d, kCommandMoveUp));
    // Deleting the first of two leaves one row, selected, that can move nowhere.
    ClickRow(*d, 0);
    Press(*d, kCommandDelete);
    EXPECT_EQ(Column(*d, 0), std::vector<std::string>{"SCEIHead"});
    EXPECT_EQ(d->Selection(), 0);
    EXPECT_FALSE(Enabled(*d, kCommandMoveUp));
    EXPECT_FALSE(Enabled(*d, kCommandMoveDown));
    EXPECT_TRUE(Enabled(*d, kCommandDelete));
    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_TRUE(SameBytes(Saved(kFolder, {1}), OnDisk()));
}

TEST_F(ListEditorTest, DeletingTheOnlyRowLeavesAnEmptyListWithItsFolder) {
    Write(ListOf(kFolder, {kEntries[1]}));
    auto d = Open();
    ClickRow(*d, 0);
    Press(*d, kCommandDelete);
    EXPECT_EQ(d->Table()->rowCount(), 0);
    EXPECT_EQ(d->Selection(), -1);
    EXPECT_FALSE(Enabled(*d, kCommandDelete));
    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_TRUE(SameBytes(ListHeader(0, kFolder).bytes(), OnDisk()));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "disc.tmp"));
}

TEST_F(ListEditorTest, EscapeAndEnterDiscardWithoutAskingNoKeepsTheFile) {
    const Bytes original = ListOf(kFolder, kEntries);
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        Write(original);
        auto d = Open();
        ClickRow(*d, 0);
        Press(*d, kCommandDelete);
        QTest::keyClick(d->Table(), key);
        EXPECT_FALSE(d->isVisible());
        EXPECT_EQ(d->result(), key == Qt::Key_Escape ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_TRUE(services_.questions.empty());
        EXPECT_EQ(OnDisk(), original);
    }

    // The close box asks; "No" closes and keeps the file.
    auto d = Open();
    ClickRow(*d, 1);
    Press(*d, kCommandMoveUp);
    services_.yesNoAnswers = {false};
    d->close();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(services_.questions.size(), 1u);
    EXPECT_EQ(OnDisk(), original);

    // Without changes the close box does not ask.
    auto unchanged = Open();
    ClickRow(*unchanged, 1);
    unchanged->close();
    EXPECT_EQ(services_.questions.size(), 1u);
    EXPECT_EQ(OnDisk(), original);
}

TEST_F(ListEditorTest, FolderChangePatchesTheFileAndTheLaterSaveKeepsIt) {
    Write(ListOf(kFolder, kEntries));
    auto d = Open();
    services_.folderAnswers = {QString("/g")};
    Press(*d, kCommandChangeFolder);
    ASSERT_EQ(services_.folderRequests.size(), 1u);
    EXPECT_EQ(services_.folderRequests[0].title.toStdString(), kFolderBrowserTitle);
    EXPECT_EQ(services_.folderRequests[0].prompt.toStdString(),
              std::string(kSourceFolderPrompt) + kFolder);
    EXPECT_EQ(services_.folderRequests[0].current.toStdString(), kFolder);
    EXPECT_EQ(d->FolderLabel()->text().toStdString(), "/g");
    EXPECT_FALSE(d->Modified());

    // On disk at once: same length, counted readers see the new folder and all entries.
    const Bytes patched = OnDisk();
    EXPECT_EQ(patched.size(), ListOf(kFolder, kEntries).size());
    ConvertList list;
    ASSERT_EQ(ParseList(patched, list), ListLoad::Ok);
    EXPECT_EQ(list.sourceFolder, "/g");
    EXPECT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0].offset, 0x0000000700000100ull);

    ClickRow(*d, 0);
    Press(*d, kCommandDelete);
    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_TRUE(SameBytes(Saved("/g", {1, 2}), OnDisk()));
}

TEST_F(ListEditorTest, FolderChangeRefusals) {
    const Bytes original = ListOf(kFolder, kEntries);
    Write(original);
    auto d = Open();

    services_.folderAnswers = {std::nullopt, QString(), QString(std::string(129, 'p').c_str())};
    Press(*d, kCommandChangeFolder); // cancelled
    Press(*d, kCommandChangeFolder); // no path
    EXPECT_TRUE(services_.messages.empty());
    Press(*d, kCommandChangeFolder); // too long
    EXPECT_EQ(services_.MessageTexts(), std::vector<std::string>{"ﾊﾟｽが無効です　Ｅｒｒ：２５"});
    EXPECT_EQ(services_.messages.back().icon, MessageIcon::Stop);

    std::filesystem::remove(path_);
    services_.folderAnswers = {QString("/g")};
    Press(*d, kCommandChangeFolder);
    EXPECT_EQ(services_.MessageTexts().back(), "ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２６");
    EXPECT_EQ(d->FolderLabel()->text().toStdString(), kFolder);
    EXPECT_FALSE(std::filesystem::exists(path_));

    // A list without a folder cannot be pointed anywhere; the browser is not opened.
    Write(ListOf("", kEntries));
    auto empty = Open();
    const size_t asked = services_.folderRequests.size();
    Press(*empty, kCommandChangeFolder);
    EXPECT_EQ(services_.MessageTexts().back(), "ﾘｽﾄﾌｧｲﾙが指定されていません　Ｅｒｒ：２４");
    EXPECT_EQ(services_.folderRequests.size(), asked);
}

TEST_F(ListEditorTest, DamagedListsOpenAsFarAsTheyGo) {
    // Missing file: message 23, empty, everything disabled.
    auto missing = Open();
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{"ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２３"});
    EXPECT_EQ(missing->Table()->rowCount(), 0);
    EXPECT_FALSE(Enabled(*missing, kCommandChangeFolder));

    // Header cut short: no message, empty.
    Write(Bytes{3, 0, 0});
    auto cut = Open();
    EXPECT_EQ(services_.messages.size(), 1u);
    EXPECT_EQ(cut->Table()->rowCount(), 0);
    EXPECT_FALSE(Enabled(*cut, kCommandChangeFolder));

    // The count promises four entries, three follow: three rows, no folder change, but
    // the rows can still be edited.
    Write(ListOf(kFolder, kEntries, 4));
    auto shortList = Open();
    EXPECT_EQ(shortList->Table()->rowCount(), 3);
    EXPECT_FALSE(Enabled(*shortList, kCommandChangeFolder));
    ClickRow(*shortList, 0);
    EXPECT_TRUE(Enabled(*shortList, kCommandDelete));
    EXPECT_EQ(services_.messages.size(), 1u);
}

TEST_F(ListEditorTest, FailedSaveShowsItsMessageAndKeepsTheList) {
    const Bytes original = ListOf(kFolder, kEntries);
    Write(original);
    auto d = Open();
    ClickRow(*d, 0);
    Press(*d, kCommandDelete);

    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem fs(faults);
    faults.FailCreate(true);
    services_.yesNoAnswers = {true};
    d->close();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{"ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２８"});
    EXPECT_EQ(OnDisk(), original);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "disc.tmp"));
}

} // namespace
} // namespace sonvex::ui
