// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shut-down of the desktop program around its one modal dialog.
#include "ui/app.h"

#include "ui/app_settings.h"
#include "ui/language.h"
#include "ui/main_dialog.h"

namespace sonvex::ui {

App::App(std::filesystem::path programFolder, QLocale locale)
    : programFolder_(std::move(programFolder)), locale_(std::move(locale)) {}

std::filesystem::path App::SettingsFile() const {
    return SettingsPath(programFolder_);
}

int App::Run(const std::function<void(MainDialog&)>& onOpen) {
    const std::string settingsFile = SettingsFile().string();
    // The language is chosen before any dialog is built: widgets take their texts once.
    if (!InstallLanguage(ChooseLanguage(ReadLanguageSetting(settingsFile), locale_))) {
        qWarning("the English texts cannot be loaded; the program speaks Japanese");
    }
    MainDialog dialog(programFolder_.string());
    dialog.SetSettings(ReadSettings(settingsFile));
    if (onOpen) {
        onOpen(dialog);
    }
    if (dialog.exec() == QDialog::Rejected) {
        // A settings file that cannot be written is not worth a message.
        (void)WriteSettings(settingsFile, dialog.Settings());
    }
    return 0;
}

} // namespace sonvex::ui
