// SPDX-License-Identifier: GPL-3.0-or-later
// The sonvex desktop program.
#include <QApplication>

#include "gamesource/game_source.h"
#include "platform/program_folder.h"
#include "ui/app.h"

int main(int argc, char** argv) {
    const sonvex::ScopedGameSources gameSources; // images and PSF sets open like folders
    QApplication application(argc, argv);
    QApplication::setApplicationName("Sonvex");
    QApplication::setDesktopFileName("sonvex");
    sonvex::ui::App app(sonvex::ProgramFolder());
    return app.Run();
}
