// Child-process running of the console tools for their tests.
#include "tool_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace sonvex::testkit {

std::string ToolPath(const std::string& name) {
    std::string build;
    if (const char* bin = std::getenv("SONVEX_TEST_BIN"); bin != nullptr && *bin != '\0') {
        build = bin;
    } else {
        std::error_code error;
        build = std::filesystem::read_symlink("/proc/self/exe", error)
                    .parent_path()
                    .parent_path()
                    .parent_path()
                    .string();
    }
    return build + "/tools/" + name + "/" + name;
}

ToolRun RunTool(const std::string& name, const std::vector<std::string>& args,
                const std::string& folder, const std::string& argv0) {
    const std::string program = ToolPath(name);
    std::vector<std::string> words{argv0.empty() ? program : argv0};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    ToolRun run;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return run;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char block[4096];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], block, sizeof block)) > 0) {
        run.output.append(block, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return run;
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
