// SPDX-License-Identifier: GPL-3.0-or-later
// The program-folder rule.
#include "platform/program_folder.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace sonvex {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::filesystem::current_path(ec);
    }
    return exe.parent_path();
}

std::filesystem::path ChooseProgramFolder(const std::filesystem::path& exeFolder,
                                          const char* xdgDataHome, const char* home) {
    if (!exeFolder.empty() && ::access(exeFolder.c_str(), W_OK) == 0) {
        return exeFolder;
    }
    std::filesystem::path base;
    if (xdgDataHome && *xdgDataHome) {
        base = xdgDataHome;
    } else if (home && *home) {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        base = std::filesystem::temp_directory_path();
    }
    auto folder = base / "Sonvex";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

std::filesystem::path ProgramFolder() {
    return ChooseProgramFolder(ExecutableFolder(), std::getenv("XDG_DATA_HOME"),
                               std::getenv("HOME"));
}

} // namespace sonvex
