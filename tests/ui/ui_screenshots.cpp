// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of each dialog (main dialog, list editor, folder browser, list picker,
// message boxes, the preview without a sound device, and the preview on a folder of
// converted files when one is given) in Japanese and in English, as PNG files into the
// "ja" and "en" subfolders of the folder given on the command line, for looking at fonts
// and clipping.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

#include "convert/batch_conversion.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"
#include "scripted_services.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"
#include "ui/dialog_services.h"
#include "ui/folder_browser_dialog.h"
#include "ui/language.h"
#include "ui/list_editor_dialog.h"
#include "ui/main_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/string_table.h"
#include "ui/ui_texts.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    // Let background work (the folder model) settle before the picture is taken.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

// The pictures of every dialog in the language installed, into `out`.
bool SaveAll(const QString& out, const char* workFolder) {
    QDir().mkpath(out);
    bool ok = true;

    sonvex::testkit::TempFolder temp;
    sonvex::ui::MainDialog main(temp.path());
    main.SetSettings({"/home/user/ゲーム/ﾃﾞｨｽｸ1.bin", "/home/user/出力", 0});
    ok &= Save(main, out + "/main_dialog.png");
    main.SetStatusText("SMF ﾃﾞｨｽｸ1_002を作製");
    main.SetProgress(60);
    main.Refresh(); // the values wait in members until the work asks for a repaint
    ok &= Save(main, out + "/main_dialog_working.png");
    main.SetSettings({sonvex::ui::kNoGameFileText, sonvex::kNoFolderChosenText, 0});
    main.SetStatusText("終了 作製ﾌｧｲﾙ数 12");
    main.Refresh();
    ok &= Save(main, out + "/main_dialog_nothing_chosen.png");
    main.hide();

    using namespace sonvex::test;
    auto bytes = ListHeader(6, "/home/user/ゲーム");
    ListEntryBytes(bytes, sonvex::kTypeSeq, 0, 0x1200, "ﾃﾞｨｽｸ1.bin");
    ListEntryBytes(bytes, sonvex::kTypeVh, 0, 0x8000, "ﾃﾞｨｽｸ1.bin");
    ListEntryBytes(bytes, sonvex::kTypeVb, 0, 0x8A20, "ﾃﾞｨｽｸ1.bin");
    ListEntryBytes(bytes, sonvex::kTypeSceiMidi, 1, 0x80001000, "ﾃﾞｨｽｸ1.bin");
    ListEntryBytes(bytes, sonvex::kTypeGpmSeq, 2, 0x2F000, "sound.dat");
    ListEntryBytes(bytes, 0x12345678, 3, 0x40, "sound.dat");
    const std::string listPath = temp / "ﾃﾞｨｽｸ1.clg";
    sonvex::testkit::WriteFile(listPath, bytes.bytes());
    sonvex::ui::ListEditorDialog editor(QString::fromStdString(listPath));
    ok &= Save(editor, out + "/list_editor.png");
    editor.Table()->selectRow(3);
    ok &= Save(editor, out + "/list_editor_selected.png");
    editor.hide();

    sonvex::ui::FolderBrowserDialog browser(
        nullptr, sonvex::ui::Tr(sonvex::ui::kFolderBrowserTitle),
        sonvex::ui::Tr(sonvex::ui::kOutputFolderPrompt) + "/usr/share", "/usr/share");
    ok &= Save(browser, out + "/folder_browser.png");
    std::printf("selected %s\n", browser.SelectedPath().toUtf8().constData());
    browser.hide();

    // Qt's own picker and message boxes, as the program sets them up.
    QFileDialog picker;
    picker.setOption(QFileDialog::DontUseNativeDialog);
    sonvex::ui::ConfigureListPicker(picker, QString::fromStdString(temp.path()));
    ok &= Save(picker, out + "/list_picker.png");
    picker.hide();
    const sonvex::MessageText& message = sonvex::Message(sonvex::MessageId::OutputFolderMissing);
    QMessageBox box(QMessageBox::Critical, sonvex::ui::kProgramName,
                    sonvex::ui::TrReported(message.text), QMessageBox::Ok);
    ok &= Save(box, out + "/message_box.png");
    box.hide();
    QMessageBox question(QMessageBox::Question, sonvex::ui::kProgramName,
                         sonvex::ui::Tr(sonvex::ui::kSaveQuestion),
                         QMessageBox::Yes | QMessageBox::No);
    ok &= Save(question, out + "/save_question.png");
    question.hide();

    // The preview where no sound device opens: it lists and converts, and says so.
    sonvex::ui::PreviewDialog silent(workFolder != nullptr ? workFolder : temp.path(),
                                     sonvex::test::WithoutSoundDevice());
    ok &= Save(silent, out + "/preview_dialog_no_sound_device.png");
    silent.hide();

    if (workFolder != nullptr) {
        // The preview on a folder of converted files (the null output: no sound here),
        // at rest, then with an SMF and a DLS chosen and the SMF playing.
        sonvex::ui::PlayerOptions options;
        options.performance.output = sonvex::OutputKind::Null;
        sonvex::ui::PreviewDialog preview(workFolder, options);
        ok &= Save(preview, out + "/preview_dialog.png");
        QTableWidget* sequences = preview.SequenceList();
        QTableWidget* banks = preview.BankList();
        for (int row = 0; row < sequences->rowCount(); ++row) {
            if (sequences->item(row, 0)->text().endsWith(".mid", Qt::CaseInsensitive)) {
                sequences->selectRow(row);
                break;
            }
        }
        if (banks->rowCount() > 0) {
            banks->selectRow(0);
        }
        ok &= Save(preview, out + "/preview_dialog_selected.png");
        preview.RunCommand(sonvex::ui::kCommandPlay);
        ok &= Save(preview, out + "/preview_dialog_playing.png");
        std::printf("loop pane %s\n", preview.LoopPane()->text().toUtf8().constData());
        preview.RunCommand(sonvex::ui::kCommandStop);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screenshots <folder> [preview work folder]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const char* workFolder = argc >= 3 ? argv[2] : nullptr;
    bool ok = true;
    // Both languages, each into its own subfolder.
    for (const auto& [language, folder] : {std::pair{sonvex::ui::Language::Japanese, "/ja"},
                                           std::pair{sonvex::ui::Language::English, "/en"}}) {
        if (!sonvex::ui::InstallLanguage(language)) {
            std::fprintf(stderr, "cannot install the language of %s\n", folder);
            ok = false;
            continue;
        }
        ok &= SaveAll(out + folder, workFolder);
    }
    return ok ? 0 : 1;
}
