// SPDX-License-Identifier: GPL-3.0-or-later
// The sonvex desktop program.
#include <QApplication>

#include "platform/program_folder.h"
#include "ui/app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Sonvex");
    QApplication::setDesktopFileName("sonvex");
    sonvex::ui::App app(sonvex::ProgramFolder());
    return app.Run();
}
