// SPDX-License-Identifier: GPL-3.0-or-later
// The real message boxes and pickers, and the process-wide choice of services.
#include "ui/dialog_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/folder_browser_dialog.h"
#include "ui/language.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

DialogServices*& Installed() {
    static WidgetDialogServices widgets;
    static DialogServices* current = &widgets;
    return current;
}

QWidget* OwnerOr(QWidget* owner) {
    return owner ? owner : QApplication::activeWindow();
}

} // namespace

DialogServices& ActiveDialogServices() {
    return *Installed();
}

ScopedDialogServices::ScopedDialogServices(DialogServices& services) : previous_(Installed()) {
    Installed() = &services;
}

ScopedDialogServices::~ScopedDialogServices() {
    Installed() = previous_;
}

QStringList NameFiltersFrom(const QString& barSeparated) {
    QStringList filters;
    const QStringList parts = barSeparated.split('|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        if (name.isEmpty()) {
            break;
        }
        QString pattern = parts[i + 1];
        pattern.replace("*.*", "*");
        const QString bracketed = " (" + pattern + ")";
        filters << (name.endsWith(bracketed) ? name : name + bracketed);
    }
    return filters;
}

void ConfigureListPicker(QFileDialog& dialog, const QString& startFolder) {
    dialog.setWindowTitle(Tr(kListPickerTitle));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFiltersFrom(Tr(kListPickerFilter)));
    // The default extension is given as "*.clg"; the dialog wants the bare suffix.
    dialog.setDefaultSuffix(QString::fromUtf8(kListPickerDefaultExtension).remove("*."));
    dialog.setDirectory(startFolder);
}

void ConfigureGamePicker(QFileDialog& dialog, const QString& initialFolder) {
    dialog.setWindowTitle(Tr(kGamePickerTitle));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Several files at once. The toolkit's picker offers several files only when they
    // exist; a missing file would be reported by the scanner anyway.
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // Disc images and PSF sets beside all files; images are told by content when scanned.
    dialog.setNameFilters(NameFiltersFrom(Tr(kGamePickerFilter)) +
                          NameFiltersFrom(Tr(kDiscPickerFilter)));
    if (!initialFolder.isEmpty()) {
        dialog.setDirectory(initialFolder);
    }
}

void WidgetDialogServices::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    QString::fromUtf8(kProgramName), text, QMessageBox::Ok, OwnerOr(owner));
    box.exec();
}

bool WidgetDialogServices::AskYesNo(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kProgramName), text,
                    QMessageBox::Yes | QMessageBox::No, OwnerOr(owner));
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetDialogServices::ChooseFolder(QWidget* owner, const QString& title,
                                                          const QString& prompt,
                                                          const QString& current) {
    FolderBrowserDialog browser(owner, title, prompt, current);
    if (browser.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return browser.SelectedPath();
}

std::optional<QString> WidgetDialogServices::ChooseListFile(QWidget* owner,
                                                            const QString& startFolder) {
    QFileDialog dialog(owner);
    ConfigureListPicker(dialog, startFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

QStringList WidgetDialogServices::ChooseGameFiles(QWidget* owner, const QString& initialFolder) {
    QFileDialog dialog(owner);
    ConfigureGamePicker(dialog, initialFolder);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

} // namespace sonvex::ui
