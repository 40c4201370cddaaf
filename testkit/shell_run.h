// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a command through the shell for tests that check our output with an outside
// reader or run one of our own programs.
#pragma once

#include <string>

namespace sonvex::testkit {

struct ShellRun {
    int status = -1; // exit status; -1 when the command could not start or was killed
    std::string out; // standard output and standard error together
};

ShellRun Shell(const std::string& command);

} // namespace sonvex::testkit
