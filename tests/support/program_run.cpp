// SPDX-License-Identifier: GPL-3.0-or-later
// Child-process runs of the programs of this build for their tests.
#include "tests/support/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace sonvex::testsupport {

std::string BuiltProgram(const std::string& relativePath) {
    const char* bin = std::getenv("SONVEX_TEST_BIN");
    const std::string root = bin != nullptr && *bin != '\0'
                                 ? std::string(bin)
                                 : std::filesystem::canonical("/proc/self/exe")
                                       .parent_path()
                                       .parent_path()
                                       .parent_path()
                                       .string();
    return root + "/" + relativePath;
}

ProcessRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& folder, std::optional<uint64_t> fileSizeLimit,
                      const std::string& argv0) {
    ProcessRun run;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        if (fileSizeLimit) {
            // A write past the limit then fails with EFBIG instead of ending the program.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(*fileSizeLimit),
                               static_cast<rlim_t>(*fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(argv0.empty() ? program.c_str() : argv0.c_str()));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return run;
}

} // namespace sonvex::testsupport
