// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: reads the settings, runs the main dialog modally and writes
// the settings back when the dialog was closed (not when it ended with Enter).
#pragma once

#include <QLocale>
#include <filesystem>
#include <functional>

namespace sonvex::ui {

class MainDialog;

class App {
  public:
    // `programFolder` holds the settings file and the convert lists; `locale` chooses the
    // language unless the settings file names one.
    explicit App(std::filesystem::path programFolder, QLocale locale = QLocale::system());

    // Runs the main dialog until it ends. `onOpen`, when given, is called with the
    // dialog after it is filled and before it runs (tests drive it from there).
    // Returns the program's exit status.
    int Run(const std::function<void(MainDialog&)>& onOpen = {});

    std::filesystem::path SettingsFile() const;

  private:
    std::filesystem::path programFolder_;
    QLocale locale_;
};

} // namespace sonvex::ui
