// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shut-down of the desktop program around its one modal dialog.
#include "ui/app.h"

#include "ui/app_settings.h"
#include "ui/main_dialog.h"

namespace sonvex::ui {

App::App(std::filesystem::path programFolder) : programFolder_(std::move(programFolder)) {}

std::filesystem::path App::SettingsFile() const {
    return SettingsPath(programFolder_);
}

int App::Run(const std::function<void(MainDialog&)>& onOpen) {
    MainDialog dialog(programFolder_.string());
    const std::string settingsFile = SettingsFile().string();
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
