// SPDX-License-Identifier: GPL-3.0-or-later
// The console tools of this build run in a chosen folder, by name, with their standard
// output and exit status; helpers for the files they leave.
#pragma once

#include <string>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

struct ToolRun {
    int status = -1;    // exit status, or 128 + signal number when the tool was killed
    std::string output; // everything written to standard output
};

// The path of tools/<name>/<name> in the build folder.
std::string ToolPath(const std::string& name);
ToolRun RunTool(const std::string& name, const std::vector<std::string>& args,
                const std::string& folder, const std::string& argv0 = "");
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace sonvex::testkit
