// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog and the application driven through their widgets: layout, the folder,
// list, analyze and convert commands, Enter and Escape, and the settings file.
#include <QApplication>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/program_folder.h"
#include "scripted_services.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "tests/support/list_bytes.h"
#include "ui/app.h"
#include "ui/folder_browser_dialog.h"
#include "ui/list_editor_dialog.h"
#include "ui/main_dialog.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

using test::ScriptedServices;
using testkit::TempFolder;

std::string Text(QWidget* w) {
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text().toStdString();
    }
    return qobject_cast<QAbstractButton*>(w)->text().toStdString();
}

std::string ReadText(const std::string& path) {
    const testkit::Bytes bytes = testkit::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Types `text` into a box as one key event carrying the text (the key helpers of the
// test library only know Latin-1 keys).
void TypeText(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, text, Qt::NoModifier);
}

// Runs `step` once the event loop of the next modal dialog is running.
void WhenModal(std::function<void()> step) {
    QTimer::singleShot(0, qApp, std::move(step));
}

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog_ = std::make_unique<MainDialog>(program_.path());
        dialog_->show();
    }

    QLineEdit* Input() { return dialog_->findChild<QLineEdit*>("inputEdit"); }
    QLineEdit* Output() { return dialog_->findChild<QLineEdit*>("outputEdit"); }
    QPushButton* Button(const char* name) { return dialog_->findChild<QPushButton*>(name); }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    void Type(QLineEdit* edit, const QString& text) { TypeText(edit, text); }
    void Preset(const std::string& input, const std::string& output) {
        dialog_->SetSettings({input, output, 0});
        dialog_->Show();
    }

    TempFolder program_;
    TempFolder work_;
    ScriptedServices services_;
    ScopedDialogServices guard_{services_};
    std::unique_ptr<MainDialog> dialog_;
};

TEST_F(MainDialogTest, LayoutTextsAndNothingClipped) {
    EXPECT_EQ(dialog_->windowTitle().toStdString(), kMainCaption);
    const std::pair<const char*, const char*> buttons[] = {{"analyzeButton", kButtonAnalyze},
                                                           {"convertButton", kButtonConvert},
                                                           {"folderButton", kButtonFolder},
                                                           {"listenButton", kButtonListen},
                                                           {"listButton", kButtonList}};
    int previousRight = -1;
    for (const auto& [name, text] : buttons) {
        QPushButton* b = Button(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(Text(b), text);
        EXPECT_GT(b->width(), b->fontMetrics().horizontalAdvance(b->text())) << name;
        EXPECT_TRUE(dialog_->rect().contains(b->geometry())) << name;
        EXPECT_GE(b->x(), previousRight) << name; // side by side, left to right
        previousRight = b->geometry().right();
    }
    for (QLabel* label : dialog_->findChildren<QLabel*>()) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
    }
    EXPECT_TRUE(Button("listenButton")->isEnabled());

    auto* progress = dialog_->findChild<QProgressBar*>("progressBar");
    EXPECT_EQ(progress->orientation(), Qt::Vertical);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    auto* status = dialog_->findChild<QLabel*>("statusPane");
    EXPECT_EQ(status->text().toStdString(), kReadyText);
    EXPECT_EQ(QFontInfo(status->font()).pixelSize(), 12);
    auto* bar = dialog_->findChild<QStatusBar*>("statusBar");
    EXPECT_EQ(bar->geometry().bottom(), dialog_->rect().bottom());
    EXPECT_GT(bar->y(), Button("listButton")->geometry().bottom());
    EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());
}

TEST_F(MainDialogTest, FolderCommandWorksFromTheStoredFolder) {
    Preset("/in.bin", "");
    // Nothing chosen while the folder was empty: the box says no folder is chosen.
    services_.folderAnswers = {QString()};
    Click("folderButton");
    EXPECT_EQ(Text(Output()), kNoFolderChosenText);
    ASSERT_EQ(services_.folderRequests.size(), 1u);
    EXPECT_EQ(services_.folderRequests[0].title.toStdString(), kFolderBrowserTitle);
    EXPECT_EQ(services_.folderRequests[0].prompt.toStdString(), kOutputFolderPrompt);

    services_.folderAnswers = {QString::fromStdString(work_.path())};
    Click("folderButton");
    EXPECT_EQ(services_.folderRequests[1].prompt.toStdString(),
              std::string(kOutputFolderPrompt) + kNoFolderChosenText);
    EXPECT_EQ(Text(Output()), work_.path());
    EXPECT_EQ(dialog_->OutputFolder(), work_.path());

    // Cancelling keeps the folder but shows both members again: typing is lost.
    Type(Input(), "/typed/game.bin");
    Type(Output(), "/typed/out");
    services_.folderAnswers = {std::nullopt};
    Click("folderButton");
    EXPECT_EQ(services_.folderRequests.back().current.toStdString(), work_.path());
    EXPECT_EQ(Text(Output()), work_.path());
    EXPECT_EQ(Text(Input()), "/in.bin");
}

TEST_F(MainDialogTest, ListCommandStoresFirstAndChecksTheChosenFile) {
    Preset("", "/old/out");
    Type(Output(), "/typed/out");
    Click("listButton"); // cancelled: the typed folder is now the stored one
    EXPECT_EQ(dialog_->OutputFolder(), "/typed/out");
    EXPECT_EQ(Text(Output()), "/typed/out");
    ASSERT_EQ(services_.listPickerFolders.size(), 1u);
    EXPECT_EQ(services_.listPickerFolders[0].toStdString(), program_.path());

    services_.listAnswers = {QString::fromStdString(work_ / "gone.clg")};
    Click("listButton");
    ASSERT_EQ(services_.messages.size(), 1u);
    EXPECT_EQ(services_.messages[0].text, "ﾌｧｲﾙ名が無効です　Ｅｒｒ：１０");
    EXPECT_EQ(services_.messages[0].icon, MessageIcon::Stop);

    // A real list opens the editor modally on that file; the boxes are shown afterwards.
    const std::string listPath = work_ / "real.clg";
    ASSERT_TRUE(testkit::WriteFile(listPath, test::ListHeader(0, "/g").bytes()));
    services_.listAnswers = {QString::fromStdString(listPath)};
    std::string editorTitle;
    WhenModal([&] {
        auto* editor = qobject_cast<ListEditorDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        editorTitle = editor->windowTitle().toStdString();
        Type(Output(), "/ignored while the editor is open");
        editor->reject();
    });
    Click("listButton");
    EXPECT_EQ(editorTitle, std::string(kListEditorTitlePrefix) + "real.clg");
    EXPECT_EQ(Text(Output()), "/typed/out");
}

TEST_F(MainDialogTest, AnalyzePickerCancelAndInitialFolder) {
    Preset("", "");
    Click("analyzeButton"); // cancelled with no game file
    EXPECT_EQ(Text(Input()), kNoGameFileText);
    EXPECT_EQ(services_.gamePickerFolders.back().toStdString(), "");

    Click("analyzeButton"); // the no-file text gives no initial folder either
    EXPECT_EQ(services_.gamePickerFolders.back().toStdString(), "");

    const std::string game = work_ / "game.bin";
    ASSERT_TRUE(testkit::WriteFile(game, {1, 2, 3}));
    Type(Input(), QString::fromStdString(game));
    Click("analyzeButton"); // cancelled with a valid file: unchanged
    EXPECT_EQ(services_.gamePickerFolders.back().toStdString(), work_.path());
    EXPECT_EQ(Text(Input()), game);

    Type(Input(), QString::fromStdString(work_ / "missing.bin"));
    Click("analyzeButton");
    EXPECT_EQ(services_.gamePickerFolders.back().toStdString(), "");
    EXPECT_EQ(Text(Input()), kNoGameFileText);
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(MainDialogTest, AnalyzeThenConvertEndToEnd) {
    testkit::GameImage image(31);
    image.Noise(1000).Seq(8).Zeros(64).Vh(2, 2, 3).Zeros(32).Vb(3, 5).Noise(500).GpmSeq(6).Zeros(
        128);
    ASSERT_EQ(image.Verify(), "");
    const std::string game = work_ / "ｹﾞｰﾑ.bin";
    ASSERT_TRUE(testkit::WriteFile(game, image.bytes()));

    services_.gameAnswers = {QStringList{QString::fromStdString(game)}};
    Click("analyzeButton");
    const std::string listPath = program_ / "ｹﾞｰﾑ.clg";
    ASSERT_TRUE(std::filesystem::exists(listPath));
    EXPECT_TRUE(test::SameBytes(testkit::ExpectedConvertList(work_.path(), {{"ｹﾞｰﾑ.bin", &image}}),
                                testkit::ReadFile(listPath)));
    EXPECT_EQ(dialog_->StatusText().toStdString(), kAnalysisDone);
    EXPECT_EQ(Text(Input()), game);

    // Convert into a folder that does not exist yet, typed as a relative path.
    const std::string out = work_ / "out";
    const auto before = std::filesystem::current_path();
    ASSERT_EQ(::chdir(work_.path().c_str()), 0);
    Type(Output(), "out");
    services_.listAnswers = {QString::fromStdString(listPath)};
    Click("convertButton");
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(services_.listPickerFolders.back().toStdString(), program_.path());
    EXPECT_TRUE(services_.messages.empty()) << services_.messages.front().text;
    EXPECT_EQ(Text(Output()), out);
    EXPECT_EQ(dialog_->ListFile(), listPath);
    EXPECT_EQ(dialog_->Progress(), 100);
    EXPECT_EQ(dialog_->StatusText().toStdString(), "終了 作製ﾌｧｲﾙ数  3");
    EXPECT_TRUE(std::filesystem::exists(out + "/ｹﾞｰﾑ_000.mid"));
    EXPECT_TRUE(std::filesystem::exists(out + "/ｹﾞｰﾑ_001.mid"));
    EXPECT_TRUE(std::filesystem::exists(out + "/ｹﾞｰﾑ_000.dls"));
}

TEST_F(MainDialogTest, ConvertRefusesTheNoFolderTextAndCancelKeepsTheStatus) {
    Preset("", kNoFolderChosenText);
    Click("convertButton");
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{"ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０７"});
    EXPECT_TRUE(services_.listPickerFolders.empty());

    Type(Output(), QString::fromStdString(work_ / "new"));
    Click("convertButton"); // list picker cancelled: the folder exists now, no run
    EXPECT_TRUE(std::filesystem::is_directory(work_ / "new"));
    EXPECT_EQ(dialog_->StatusText().toStdString(), kReadyText);
    EXPECT_EQ(dialog_->Progress(), 0);
    EXPECT_EQ(services_.messages.size(), 1u);
}

TEST_F(MainDialogTest, FeedbackGoesToTheStatusBarProgressBarAndBoxes) {
    dialog_->SetStatusText("SMF a_000を作製");
    dialog_->SetProgress(42);
    dialog_->SetGamePath("/scanned/last.bin");
    EXPECT_EQ(Text(Input()), ""); // a member only, until the refresh
    dialog_->Refresh();
    EXPECT_EQ(Text(Input()), "/scanned/last.bin");
    EXPECT_EQ(dialog_->StatusText().toStdString(), "SMF a_000を作製");
    EXPECT_EQ(dialog_->Progress(), 42);
    dialog_->ShowMessage("text", MessageIcon::Exclamation);
    ASSERT_EQ(services_.messages.size(), 1u);
    EXPECT_EQ(services_.messages[0].icon, MessageIcon::Exclamation);
}

// The scan refreshes at every percent: a new progress value alone is painted at most four
// times a second, a new status text or game path at once, and what waits is on screen
// before a message box.
TEST_F(MainDialogTest, ProgressAloneWaitsForTheIntervalNewTextsPaintAtOnce) {
    dialog_->SetProgress(10);
    dialog_->Refresh();
    ASSERT_EQ(dialog_->Progress(), 10);

    dialog_->SetProgress(20);
    dialog_->Refresh();
    EXPECT_EQ(dialog_->Progress(), 10);
    dialog_->SetStatusText("scanning");
    dialog_->Refresh();
    EXPECT_EQ(dialog_->StatusText().toStdString(), "scanning");
    EXPECT_EQ(dialog_->Progress(), 20);

    dialog_->SetProgress(30);
    dialog_->Refresh();
    dialog_->SetGamePath("/games/two.bin");
    dialog_->Refresh();
    EXPECT_EQ(Text(Input()), "/games/two.bin");
    EXPECT_EQ(dialog_->Progress(), 30);

    dialog_->SetProgress(40);
    dialog_->SetStatusText("scanning"); // the same text: nothing new to say
    dialog_->Refresh();
    EXPECT_EQ(dialog_->Progress(), 30);
    dialog_->ShowMessage("box", MessageIcon::Stop);
    EXPECT_EQ(dialog_->Progress(), 40);

    dialog_->SetProgress(50);
    dialog_->Refresh();
    EXPECT_EQ(dialog_->Progress(), 40);
    QTest::qWait(static_cast<int>(MainDialog::kRepaintIntervalMs) + 50);
    dialog_->Refresh();
    EXPECT_EQ(dialog_->Progress(), 50);
}

// The real message box, picker and folder browser, answered by a timer.
TEST(WidgetServices, RealBoxesAndPickers) {
    WidgetDialogServices real;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModal([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    real.ShowMessage(nullptr, "x", MessageIcon::Stop);
    EXPECT_EQ(title.toStdString(), kProgramName);
    EXPECT_EQ(icon, QMessageBox::Critical);

    WhenModal([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(real.AskYesNo(nullptr, QString::fromUtf8(kSaveQuestion)));

    TempFolder folder;
    const std::string list = folder / "a.clg";
    ASSERT_TRUE(testkit::WriteFile(list, {0}));
    QStringList filters;
    WhenModal([&] {
        auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(picker, nullptr);
        title = picker->windowTitle();
        filters = picker->nameFilters();
        picker->selectFile(QString::fromStdString(list));
        static_cast<QDialog*>(picker)
            ->accept(); // the picker's own accept, reached through its base
    });
    const auto chosen = real.ChooseListFile(nullptr, QString::fromStdString(folder.path()));
    EXPECT_EQ(title.toStdString(), kListPickerTitle);
    EXPECT_EQ(filters, QStringList{"ｺﾝﾊﾞｰﾄﾘｽﾄﾌｧｲﾙ (*.clg)"});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->toStdString(), list);

    QString prompt;
    WhenModal([&] {
        auto* browser = qobject_cast<FolderBrowserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(browser, nullptr);
        title = browser->windowTitle();
        prompt = browser->findChild<QLabel*>("folderPrompt")->text();
        EXPECT_EQ(browser->SelectedPath().toStdString(), folder.path());
        browser->reject();
    });
    EXPECT_FALSE(
        real.ChooseFolder(nullptr, "T", "P", QString::fromStdString(folder.path())).has_value());
    EXPECT_EQ(title.toStdString(), "T");
    EXPECT_EQ(prompt.toStdString(), "P");

    EXPECT_EQ(NameFiltersFrom(QString::fromUtf8(kGamePickerFilter)), QStringList{"PSﾌｧｲﾙ (*)"});
    EXPECT_EQ(NameFiltersFrom("A|*.a|B (*.b)|*.b||"), (QStringList{"A (*.a)", "B (*.b)"}));
}

// The application: settings in, the dialog run, settings out only after a close.
class AppTest : public ::testing::Test {
  protected:
    std::string Settings() const { return program_ / "Sonvex.ini"; }

    // Runs the program; `act` gets the dialog once it runs modally.
    void RunWith(const std::function<void(MainDialog&)>& act) {
        App app(program_.path(), QLocale(QLocale::Japanese, QLocale::Japan));
        app.Run([&](MainDialog& dialog) { WhenModal([&dialog, &act] { act(dialog); }); });
    }
    static void TypeInto(MainDialog& d, const char* box, const std::string& text) {
        TypeText(d.findChild<QLineEdit*>(box), QString::fromStdString(text));
    }

    TempFolder program_;
    ScriptedServices services_;
    ScopedDialogServices guard_{services_};
};

TEST_F(AppTest, FirstRunCreatesTheSettingsWithAllThreeKeys) {
    std::string shown;
    RunWith([&](MainDialog& d) {
        shown = d.findChild<QLineEdit*>("inputEdit")->text().toStdString() +
                d.findChild<QLineEdit*>("outputEdit")->text().toStdString();
        d.close();
    });
    EXPECT_EQ(shown, "");
    EXPECT_EQ(ReadText(Settings()), std::string("[") + kSettingsSection + "]\n" + kKeyInputFile +
                                        "=\n" + kKeyOutputFolder + "=\n" + kKeyFileType + "=0\n");
}

TEST_F(AppTest, EscapeWritesWhatTheBoxesShowAndKeepsFileType) {
    ASSERT_TRUE(testkit::WriteFile(Settings(), [] {
        const std::string t = std::string("[") + kSettingsSection + "]\n" + kKeyFileType + "=7\n" +
                              kKeyInputFile + "=/a.bin\n" + kKeyOutputFolder + "=" +
                              kNoFolderChosenText + "\n";
        return testkit::Bytes(t.begin(), t.end());
    }()));
    std::string shownOutput;
    RunWith([&](MainDialog& d) {
        shownOutput = d.findChild<QLineEdit*>("outputEdit")->text().toStdString();
        TypeInto(d, "inputEdit", "/ｹﾞｰﾑ/b.bin");
        QTest::keyClick(d.findChild<QLineEdit*>("inputEdit"), Qt::Key_Escape);
    });
    EXPECT_EQ(shownOutput, kNoFolderChosenText);
    EXPECT_EQ(ReadText(Settings()), std::string("[") + kSettingsSection + "]\n" + kKeyFileType +
                                        "=7\n" + kKeyInputFile + "=/ｹﾞｰﾑ/b.bin\n" +
                                        kKeyOutputFolder + "=" + kNoFolderChosenText + "\n");
}

TEST_F(AppTest, EnterEndsTheProgramAndLeavesTheSettingsAlone) {
    const std::string original =
        std::string("[") + kSettingsSection + "]\n" + kKeyInputFile + "=/a.bin\n";
    ASSERT_TRUE(testkit::WriteFile(Settings(), testkit::Bytes(original.begin(), original.end())));
    bool ended = false;
    RunWith([&](MainDialog& d) {
        TypeInto(d, "outputEdit", "/edited");
        QTest::keyClick(d.findChild<QLineEdit*>("outputEdit"), Qt::Key_Return);
        ended = !d.isVisible();
        EXPECT_EQ(d.OutputFolder(), "/edited"); // stored, but not written
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(ReadText(Settings()), original);
}

TEST_F(AppTest, SettingsFileSitsBesideTheProgramWhateverTheWorkingFolder) {
    TempFolder elsewhere;
    const auto before = std::filesystem::current_path();
    ASSERT_EQ(::chdir(elsewhere.path().c_str()), 0);
    const App app(ProgramFolder());
    EXPECT_EQ(app.SettingsFile().parent_path(), ProgramFolder());
    EXPECT_EQ(app.SettingsFile().filename(), "Sonvex.ini");
    if (::access(ExecutableFolder().c_str(), W_OK) == 0) {
        EXPECT_EQ(app.SettingsFile().parent_path(), ExecutableFolder());
    }
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

} // namespace
} // namespace sonvex::ui
