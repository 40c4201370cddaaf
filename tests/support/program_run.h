// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program of this build as a child process in a chosen folder, with its standard
// output and error captured and, when asked, a limit on the size of any file it writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonvex::testsupport {

struct ProcessRun {
    int status = -1; // exit status, or 128 + signal number when the program was killed
    std::string out;
    std::string err;
};

// A program of the build folder ($SONVEX_TEST_BIN, or the folder three levels above this
// test program), e.g. "tools/partcut/partcut".
std::string BuiltProgram(const std::string& relativePath);

// Writes past `fileSizeLimit` fail with EFBIG instead of ending the program. `argv0`
// replaces the program path as the name the program sees itself called by.
ProcessRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& folder,
                      std::optional<uint64_t> fileSizeLimit = std::nullopt,
                      const std::string& argv0 = "");

} // namespace sonvex::testsupport
