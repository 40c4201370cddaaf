// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program keeps its settings file and convert lists: the folder of the
// executable, or the user's data folder when that one cannot be written.
#pragma once

#include <filesystem>

namespace sonvex {

// The folder of the running executable (from /proc/self/exe).
std::filesystem::path ExecutableFolder();

// The executable's folder if writable; otherwise $XDG_DATA_HOME/Sonvex (default
// ~/.local/share/Sonvex), created on demand.
std::filesystem::path ProgramFolder();

// The rule itself, for tests: `exeFolder` when writable, else the data folder derived
// from the two environment values (either may be empty).
std::filesystem::path ChooseProgramFolder(const std::filesystem::path& exeFolder,
                                          const char* xdgDataHome, const char* home);

} // namespace sonvex
