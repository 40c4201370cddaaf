// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program in English: the choice of language, the catalogue's cover of every
// numbered message and every text the core reports, each dialog under English with
// nothing left in Japanese and nothing clipped in either language, Qt's own buttons
// following the language, and the settings key that overrides the locale.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"
#include "scripted_services.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "tests/support/list_bytes.h"
#include "ui/app.h"
#include "ui/folder_browser_dialog.h"
#include "ui/language.h"
#include "ui/list_editor_dialog.h"
#include "ui/main_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/string_table.h"
#include "ui/tip_tool_bar.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

using test::ScriptedServices;
using testkit::TempFolder;

// Switches the program's language for one test and back to Japanese after it.
class ScopedLanguage {
  public:
    explicit ScopedLanguage(Language language) : installed_(InstallLanguage(language)) {}
    ~ScopedLanguage() { InstallLanguage(Language::Japanese); }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;
    bool Installed() const { return installed_; }

  private:
    bool installed_;
};

// Kana, CJK ideographs and punctuation, and the full- and half-width forms.
bool HasJapanese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) ||
            (u >= 0xFF00 && u <= 0xFFEF)) {
            return true;
        }
    }
    return false;
}

// Every text a dialog shows: its title, labels, buttons, boxes, list headers and rows,
// and toolbar tooltips.
std::vector<QString> ShownTexts(QWidget& dialog) {
    std::vector<QString> texts{dialog.windowTitle()};
    for (auto* label : dialog.findChildren<QLabel*>()) {
        texts.push_back(label->text());
    }
    for (auto* button : dialog.findChildren<QAbstractButton*>()) {
        texts.push_back(button->text());
    }
    for (auto* edit : dialog.findChildren<QLineEdit*>()) {
        texts.push_back(edit->text());
    }
    for (auto* table : dialog.findChildren<QTableWidget*>()) {
        for (int c = 0; c < table->columnCount(); ++c) {
            texts.push_back(table->horizontalHeaderItem(c)->text());
        }
        for (int r = 0; r < table->rowCount(); ++r) {
            for (int c = 0; c < table->columnCount(); ++c) {
                texts.push_back(table->item(r, c)->text());
            }
        }
    }
    for (auto* bar : dialog.findChildren<QToolBar*>()) {
        for (QAction* action : bar->actions()) {
            texts.push_back(action->toolTip());
        }
    }
    return texts;
}

void ExpectNoJapanese(QWidget& dialog) {
    for (const QString& text : ShownTexts(dialog)) {
        EXPECT_FALSE(HasJapanese(text))
            << dialog.objectName().toStdString() << ": " << text.toStdString();
    }
}

// Buttons and labels hold their whole text, list headers their column's title.
void ExpectNothingClipped(QWidget& dialog) {
    const std::string name = dialog.objectName().toStdString();
    for (auto* button : dialog.findChildren<QPushButton*>()) {
        EXPECT_GT(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
            << name << ": " << button->text().toStdString();
    }
    for (auto* label : dialog.findChildren<QLabel*>()) {
        if (label->isVisible() && !label->wordWrap()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                      label->contentsRect().width())
                << name << ": " << label->text().toStdString();
        }
    }
    for (auto* table : dialog.findChildren<QTableWidget*>()) {
        const QFontMetrics metrics(table->horizontalHeader()->font());
        for (int c = 0; c < table->columnCount(); ++c) {
            const QString title = table->horizontalHeaderItem(c)->text();
            EXPECT_LT(metrics.horizontalAdvance(title), table->columnWidth(c))
                << name << ": " << title.toStdString();
        }
    }
}

TEST(Language, TheSettingDecidesThenTheLocale) {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(ChooseLanguage("", japanese), Language::Japanese);
    EXPECT_EQ(ChooseLanguage("", english), Language::English);
    EXPECT_EQ(ChooseLanguage("", QLocale::c()), Language::English);
    EXPECT_EQ(ChooseLanguage("", QLocale(QLocale::German, QLocale::Germany)), Language::English);
    EXPECT_EQ(ChooseLanguage("ja", english), Language::Japanese);
    EXPECT_EQ(ChooseLanguage("en", japanese), Language::English);
    EXPECT_EQ(ChooseLanguage("fr", japanese), Language::Japanese); // not ours: the locale
}

TEST(Language, CatalogueCoversEveryMessageFormAndTooltip) {
    ScopedLanguage english(Language::English);
    ASSERT_TRUE(english.Installed());
    ASSERT_EQ(CurrentLanguage(), Language::English);
    for (const MessageText& message : AllMessages()) {
        const QString shown = TrReported(message.text);
        char number[16];
        std::snprintf(number, sizeof number, "(Err %02d)", message.number);
        EXPECT_FALSE(HasJapanese(shown)) << message.number;
        EXPECT_TRUE(shown.endsWith(number)) << shown.toStdString();
    }
    for (const ReportedForm& form : ReportedForms()) {
        const QString pattern = QCoreApplication::translate(kReportedContext, form.pattern);
        EXPECT_FALSE(HasJapanese(pattern)) << form.pattern;
        EXPECT_TRUE(pattern.contains("%1")) << form.pattern;
    }
    for (const int id :
         {kCommandChangeFolder, kCommandMoveUp, kCommandMoveDown, kCommandDelete, kCommandPlay,
          kCommandPause, kCommandStop, kCommandBack, kCommandForward, kCommandConvert}) {
        const QString tip = Tr(TipTextOf(LoadStringEntry(id)));
        EXPECT_FALSE(tip.isEmpty()) << id;
        EXPECT_FALSE(HasJapanese(tip)) << id;
    }
}

TEST(Language, ReportedTextsKeepTheirNamesAndCounts) {
    const std::pair<const char*, const char*> cases[] = {
        {"SMF song_002を作製", "Making SMF song_002"},
        {"DLS song_000を作製", "Making DLS song_000"},
        {"/games/a.bin ｱﾅﾗｲｽﾞ中", "Analyzing /games/a.bin"},
        {"/games/a.bin ｱﾅﾗｲｽﾞ終了", "Analyzed /games/a.bin"},
        {"終了 作製ﾌｧｲﾙ数  3", "Finished: 3 file(s) made"},
        {"song.sgt作製", "Made song.sgt"},
        {"ﾙｰﾌﾟ:007", "Loop:007"},
        {"ﾙｰﾌﾟ: ∞", "Loop: ∞"},
        {"変換中", "Converting"},
        {"unknown text", "unknown text"},
        {Message(MessageId::SegmentNoDls).text, "No DLS file is selected. (Err 39)"},
    };
    {
        ScopedLanguage english(Language::English);
        for (const auto& [reported, shown] : cases) {
            EXPECT_EQ(TrReported(reported).toStdString(), shown);
        }
    }
    // In Japanese every text is shown as it came.
    for (const auto& [reported, shown] : cases) {
        EXPECT_EQ(TrReported(reported).toStdString(), reported);
    }
}

class EnglishDialogs : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(english_.Installed()); }

    ScopedLanguage english_{Language::English};
    TempFolder program_;
    TempFolder work_;
    ScriptedServices services_;
    ScopedDialogServices guard_{services_};
};

// Every status text the core reports while it analyses and converts a game file has an
// English form, and the main dialog shows the last of each run in English.
TEST_F(EnglishDialogs, MainDialogAnalysesAndConvertsInEnglish) {
    testkit::GameImage image(7);
    image.Noise(300).Seq(4).Zeros(64).Vh(1, 1, 2).Zeros(32).Vb(2, 3).Noise(100);
    ASSERT_EQ(image.Verify(), "");
    const std::string game = work_ / "game.bin";
    ASSERT_TRUE(testkit::WriteFile(game, image.bytes()));
    const std::string out = work_ / "out";

    RecordingFeedback core;
    AnalyzeSources({game}, program_.path(), core);
    std::string folderText = out;
    ASSERT_TRUE(StartConversion(folderText, program_ / "game.clg", core).has_value());
    ASSERT_GT(core.StatusTexts().size(), 4u);
    for (const std::string& status : core.StatusTexts()) {
        EXPECT_FALSE(HasJapanese(TrReported(status))) << status;
    }

    MainDialog dialog(program_.path());
    dialog.show();
    ExpectNoJapanese(dialog);
    ExpectNothingClipped(dialog);
    std::vector<std::string> buttons;
    for (const char* name :
         {"analyzeButton", "convertButton", "folderButton", "listenButton", "listButton"}) {
        buttons.push_back(dialog.findChild<QPushButton*>(name)->text().toStdString());
    }
    EXPECT_EQ(buttons,
              (std::vector<std::string>{"Analyze", "Convert", "Folder", "Listen", "List"}));
    EXPECT_EQ(dialog.StatusText().toStdString(), "Ready");

    services_.gameAnswers = {QStringList{QString::fromStdString(game)}};
    dialog.Analyze();
    EXPECT_EQ(dialog.StatusText().toStdString(), "Analysis finished");
    dialog.SetSettings({game, out, 0});
    dialog.Show();
    services_.listAnswers = {QString::fromStdString(program_ / "game.clg")};
    dialog.Convert();
    EXPECT_EQ(dialog.StatusText().toStdString(), "Finished: 2 file(s) made");
    EXPECT_TRUE(services_.messages.empty());
}

// The texts that stand for "nothing chosen" show in English and are kept in Japanese, so
// the convert command and the settings file still know them; messages come in English.
TEST_F(EnglishDialogs, PlaceholdersShowInEnglishAndStayJapaneseInside) {
    MainDialog dialog(program_.path());
    dialog.show();
    dialog.SetSettings({kNoGameFileText, kNoFolderChosenText, 0});
    dialog.Show();
    EXPECT_EQ(dialog.findChild<QLineEdit*>("inputEdit")->text().toStdString(),
              "No game file chosen");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("outputEdit")->text().toStdString(), "No folder chosen");
    dialog.Store();
    EXPECT_EQ(dialog.Settings().inputFile, kNoGameFileText);
    EXPECT_EQ(dialog.Settings().outputFolder, kNoFolderChosenText);
    dialog.Convert();
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{"No output folder is chosen. (Err 07)"});

    dialog.ChooseOutputFolder(); // cancelled, on an empty folder: the placeholder again
    ASSERT_EQ(services_.folderRequests.size(), 1u);
    EXPECT_EQ(services_.folderRequests[0].title.toStdString(), "Choose a folder");
    EXPECT_TRUE(services_.folderRequests[0].prompt.startsWith("Current folder: "));
}

TEST_F(EnglishDialogs, ListEditorAndPreviewSpeakEnglish) {
    auto bytes = test::ListHeader(2, "/home/user/games");
    test::ListEntryBytes(bytes, kTypeSeq, 0, 0x1200, "disc.bin");
    test::ListEntryBytes(bytes, kTypeGpmSeq, 1, 0x2F000, "sound.dat");
    const std::string listPath = work_ / "disc.clg";
    ASSERT_TRUE(testkit::WriteFile(listPath, bytes.bytes()));
    ListEditorDialog editor(QString::fromStdString(listPath));
    editor.show();
    EXPECT_EQ(editor.windowTitle().toStdString(), "Convert list - disc.clg");
    EXPECT_EQ(editor.Table()->horizontalHeaderItem(3)->text().toStdString(), "File name");
    ExpectNoJapanese(editor);
    ExpectNothingClipped(editor);
    // Its folder browser and its question on closing a changed list.
    editor.ChangeFolder(); // cancelled
    ASSERT_EQ(services_.folderRequests.size(), 1u);
    EXPECT_EQ(services_.folderRequests[0].prompt.toStdString(),
              "Current source folder: /home/user/games");
    editor.Table()->selectRow(0);
    editor.MoveDown();
    editor.close(); // answered "No"
    EXPECT_EQ(services_.questions, std::vector<std::string>{"Save the changes?"});

    // The preview, where no sound device opens: its status says so in English.
    ASSERT_TRUE(testkit::WriteFile(work_ / "a.mid", testkit::Bytes{'M', 'T', 'h', 'd'}));
    ASSERT_TRUE(testkit::WriteFile(work_ / "a.dls", testkit::Bytes{'R', 'I', 'F', 'F'}));
    PreviewDialog preview(work_.path(), test::WithoutSoundDevice());
    preview.show();
    EXPECT_EQ(preview.windowTitle().toStdString(), "Listen and convert");
    EXPECT_EQ(preview.StatusPane()->text().toStdString(), "No sound device could be opened");
    EXPECT_EQ(Tr(kSegmentNeedsDlsText).toStdString(), "Select a DLS file to convert to a segment");
    EXPECT_EQ(preview.LoopPane()->text().toStdString(), "Loop:000");
    EXPECT_EQ(preview.ToolBar()->Button(kCommandConvert)->toolTip().toStdString(),
              "Convert to SGT");
    ExpectNoJapanese(preview);
    ExpectNothingClipped(preview);
}

// The preview's texts, the new status text among them, fit in Japanese too (the main
// dialog's layout test covers its own).
TEST(Language, PreviewWithoutSoundDeviceNothingClippedInJapanese) {
    ASSERT_EQ(CurrentLanguage(), Language::Japanese);
    TempFolder program;
    PreviewDialog preview(program.path(), test::WithoutSoundDevice());
    preview.show();
    ExpectNothingClipped(preview);
}

// Qt's own buttons and pickers follow the program's language.
TEST(Language, QtDialogsFollowTheLanguage) {
    const auto cancelText = [] {
        FolderBrowserDialog browser(nullptr, "T", "P", QString());
        return browser.findChild<QDialogButtonBox*>()
            ->button(QDialogButtonBox::Cancel)
            ->text()
            .remove('&');
    };
    {
        ScopedLanguage english(Language::English);
        EXPECT_EQ(cancelText().toStdString(), "Cancel");
        QFileDialog lists;
        ConfigureListPicker(lists, QString());
        EXPECT_EQ(lists.windowTitle().toStdString(), "Choose a convert list");
        EXPECT_EQ(lists.nameFilters(), QStringList{"Convert lists (*.clg)"});
        QFileDialog games;
        ConfigureGamePicker(games, QString());
        EXPECT_EQ(games.windowTitle().toStdString(), "Choose game files");
        EXPECT_EQ(
            games.nameFilters(),
            (QStringList{"Game files (*)",
                         "Disc images and PSF sets (*.cue *.bin *.iso *.img *.psf *.minipsf)"}));
    }
    const QString qtJapanese = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm";
    if (!QFile::exists(qtJapanese)) {
        GTEST_SKIP() << "Qt's Japanese catalogue is not installed";
    }
    EXPECT_TRUE(HasJapanese(cancelText())) << cancelText().toStdString();
}

// The settings key overrides the locale; the program keeps the key when it writes.
TEST(AppLanguage, SettingsKeyOverridesTheLocaleAndIsKept) {
    ScriptedServices services;
    ScopedDialogServices guard(services);
    ScopedLanguage japaneseAfterwards(Language::Japanese);
    TempFolder program;
    const std::string settings = program / "Sonvex.ini";
    const auto run = [&](const std::string& key, const QLocale& locale) {
        const std::string text = std::string("[") + kSettingsSection + "]\n" + key;
        EXPECT_TRUE(testkit::WriteFile(settings, testkit::Bytes(text.begin(), text.end())));
        std::string analyze;
        App app(program.path(), locale);
        app.Run([&](MainDialog& dialog) {
            QTimer::singleShot(0, qApp, [&dialog, &analyze] {
                analyze = dialog.findChild<QPushButton*>("analyzeButton")->text().toStdString();
                dialog.close();
            });
        });
        return analyze;
    };
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(run(std::string(kKeyLanguage) + "=en\n", japanese), "Analyze");
    const testkit::Bytes written = testkit::ReadFile(settings);
    EXPECT_NE(std::string(written.begin(), written.end()).find(std::string(kKeyLanguage) + "=en"),
              std::string::npos);
    EXPECT_EQ(run(std::string(kKeyLanguage) + "=ja\n", english), kButtonAnalyze);
    EXPECT_EQ(run("", english), "Analyze");
    EXPECT_EQ(run("", japanese), kButtonAnalyze);
    EXPECT_EQ(CurrentLanguage(), Language::Japanese);
}

} // namespace
} // namespace sonvex::ui
