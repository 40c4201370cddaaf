// SPDX-License-Identifier: GPL-3.0-or-later
// The settings the program keeps between runs: the last game file, the output folder
// and a file type carried through unchanged, in "Sonvex.ini" beside the program.
#pragma once

#include <filesystem>
#include <string>

namespace sonvex::ui {

struct AppSettings {
    std::string inputFile;    // content of the input-file box
    std::string outputFolder; // content of the output-folder box
    int fileType = 0;         // read at start, written back unchanged
};

// The settings file of a program folder.
std::filesystem::path SettingsPath(const std::filesystem::path& programFolder);

// Reads the three keys; a missing file or key gives the defaults (empty texts, 0).
AppSettings ReadSettings(const std::string& path);

// Writes the three keys, in the order input file, output folder, file type, into the
// settings file, creating it or its section when needed and keeping every other line
// (the language among them).
// The new text goes to a sibling file first and replaces the old one by a rename, so a
// failed write never leaves a damaged settings file. False when it could not be written.
bool WriteSettings(const std::string& path, const AppSettings& settings);

// The language key of the settings file ("ja", "en"; set by hand, never written), or an
// empty text.
std::string ReadLanguageSetting(const std::string& path);

} // namespace sonvex::ui
