// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry point for the widget tests: one QApplication for all of them.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/language.h"

int main(int argc, char** argv) {
    // Listing the tests happens at build time without a display; the offscreen
    // platform serves both listing and running when no platform is chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // The tests assert the Japanese source texts; those of the English texts switch to
    // English for their own run.
    sonvex::ui::InstallLanguage(sonvex::ui::Language::Japanese);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
