// SPDX-License-Identifier: GPL-3.0-or-later
#include "testkit/shell_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace sonvex::testkit {

ShellRun Shell(const std::string& command) {
    ShellRun r;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        r.out.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace sonvex::testkit
