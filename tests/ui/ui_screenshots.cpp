// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of each dialog (main dialog, list editor, folder browser, and the
// preview dialog on a folder of converted files when one is given) as PNG files into the
// folder given on the command line, for looking at fonts and clipping.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

#include "convlist/convert_list.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"
#include "ui/folder_browser_dialog.h"
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

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screenshots <folder> [preview work folder]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
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

    sonvex::ui::FolderBrowserDialog browser(
        nullptr, QString::fromUtf8(sonvex::ui::kFolderBrowserTitle),
        QString::fromUtf8(sonvex::ui::kOutputFolderPrompt) + "/usr/share", "/usr/share");
    ok &= Save(browser, out + "/folder_browser.png");
    std::printf("selected %s\n", browser.SelectedPath().toUtf8().constData());

    if (argc >= 3) {
        // The preview on a folder of converted files (the null output: no sound here),
        // at rest, then with an SMF and a DLS chosen and the SMF playing.
        sonvex::ui::PlayerOptions options;
        options.performance.output = sonvex::OutputKind::Null;
        sonvex::ui::PreviewDialog preview(argv[2], options);
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
    }
    return ok ? 0 : 1;
}
