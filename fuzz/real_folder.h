// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of real files for fuzz inputs that must be read from disk (mapped, as game
// files and track files are), in memory where the system has such a folder: made once on
// first use and removed with everything in it when the target ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace sonvex::fuzz {

class RealFolder {
  public:
    // The folder's path; empty when it could not be made.
    static const std::string& Path() {
        static const RealFolder folder;
        return folder.path_;
    }

  private:
    RealFolder() {
        std::string pattern =
            (std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path()) /
            "sonvex-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~RealFolder() {
        std::error_code error;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, error);
        }
    }
    std::string path_;
};

} // namespace sonvex::fuzz
