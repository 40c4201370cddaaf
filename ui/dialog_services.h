// SPDX-License-Identifier: GPL-3.0-or-later
// The modal pieces the dialogs ask for, behind one replaceable seam: message boxes,
// the yes/no question, the folder browser and the file pickers. The program uses real
// widgets; tests install scripted answers so that nothing blocks on a modal box.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "platform/feedback.h"

class QFileDialog;
class QWidget;

namespace sonvex::ui {

class DialogServices {
  public:
    virtual ~DialogServices() = default;

    // A message box with an OK button, the stop or exclamation icon and the program's
    // name as caption.
    virtual void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& text) = 0;

    // The folder browser: `title` on its window, `prompt` above the tree, `current`
    // preselected. nullopt when cancelled; an empty text when the choice has no path.
    virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                                const QString& prompt, const QString& current) = 0;
    // The convert list picker, starting in `startFolder`; nullopt when cancelled.
    virtual std::optional<QString> ChooseListFile(QWidget* owner, const QString& startFolder) = 0;
    // The game-file picker with multiple selection, starting in `initialFolder` (empty:
    // wherever the picker likes); an empty list when cancelled.
    virtual QStringList ChooseGameFiles(QWidget* owner, const QString& initialFolder) = 0;
};

// The real widgets.
class WidgetDialogServices : public DialogServices {
  public:
    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    bool AskYesNo(QWidget* owner, const QString& text) override;
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title, const QString& prompt,
                                        const QString& current) override;
    std::optional<QString> ChooseListFile(QWidget* owner, const QString& startFolder) override;
    QStringList ChooseGameFiles(QWidget* owner, const QString& initialFolder) override;
};

// The services every dialog uses.
DialogServices& ActiveDialogServices();

// Installs `services` for as long as the guard lives, then restores the previous ones.
class ScopedDialogServices {
  public:
    explicit ScopedDialogServices(DialogServices& services);
    ~ScopedDialogServices();
    ScopedDialogServices(const ScopedDialogServices&) = delete;
    ScopedDialogServices& operator=(const ScopedDialogServices&) = delete;

  private:
    DialogServices* previous_;
};

// A filter in the "name|pattern|name|pattern||" form as a list of Qt name filters.
// A name that already ends in its pattern in brackets is kept as it is; "*.*" becomes
// "*" so that names without a dot are listed too.
QStringList NameFiltersFrom(const QString& barSeparated);

// Sets up a file dialog as the convert list picker: title, filter, default extension,
// start folder, one existing file.
void ConfigureListPicker(QFileDialog& dialog, const QString& startFolder);
// Sets up a file dialog as the game-file picker: title, the all-files filter, several
// files.
void ConfigureGamePicker(QFileDialog& dialog, const QString& initialFolder);

// The program's name, the caption of every message box.
inline constexpr const char* kProgramName = "Sonvex";

} // namespace sonvex::ui
