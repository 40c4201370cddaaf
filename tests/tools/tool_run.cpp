// SPDX-License-Identifier: GPL-3.0-or-later
// Child-process running of the console tools for their tests.
#include "tool_run.h"

#include "tests/support/program_run.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace sonvex::testkit {

std::string ToolPath(const std::string& name) {
    return testsupport::BuiltProgram("tools/" + name + "/" + name);
}

ToolRun RunTool(const std::string& name, const std::vector<std::string>& args,
                const std::string& folder, const std::string& argv0) {
    const testsupport::ProcessRun run =
        testsupport::RunProgram(ToolPath(name), args, folder, std::nullopt, argv0);
    return ToolRun{run.status, run.out};
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

} // namespace sonvex::testkit
