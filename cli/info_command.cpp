// `sonvex-cli info FILE`: says what a file that the suite reads or writes holds.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/commands.h"
#include "convlist/convert_list.h"

namespace sonvex::cli {

namespace {

const char* LoadStatusText(ListLoad status) {
    switch (status) {
    case ListLoad::Ok:
        return "complete";
    case ListLoad::ShortHeader:
        return "header cut short";
    case ListLoad::ShortEntries:
        return "fewer entries than its count";
    }
    return "";
}

int InfoConvertList(const std::string& path) {
    ListLoad status = ListLoad::Ok;
    auto list = LoadList(path, &status);
    if (!list) {
        std::fprintf(stderr, "sonvex-cli: cannot read %s\n", path.c_str());
        return 1;
    }
    std::printf("convert list %s\n", path.c_str());
    std::printf("  count %" PRIu32 ", %zu entries read (%s)\n", list->count, list->entries.size(),
                LoadStatusText(status));
    std::printf("  source folder \"%s\"\n", list->sourceFolder.c_str());
    std::printf("  %-8s %6s %12s %12s  %s\n", "type", "number", "offset", "size", "game file");
    for (const ListEntry& e : list->entries) {
        const char* name = TypeName(e.type);
        char unknown[16];
        if (!name) {
            std::snprintf(unknown, sizeof unknown, "0x%08" PRIX32, e.type);
            name = unknown;
        }
        std::printf("  %-8s %6" PRId32 " %12" PRIu64 " %12" PRId64 "  %s\n", name, e.number, e.offset, e.size,
                    e.fileName.c_str());
    }
    return status == ListLoad::Ok ? 0 : 1;
}

int RunInfo(const std::string& path) {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".clg") {
        return InfoConvertList(path);
    }
    std::fprintf(stderr, "sonvex-cli: %s: not a file kind that info knows (.clg)\n", path.c_str());
    return 1;
}

} // namespace

void AddInfoCommand(CLI::App& app, CommandRun& run) {
    auto path = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("info", "Describe what a convert list, sequence, bank, SMF or DLS file holds");
    cmd->add_option("file", *path, "File to describe")->required()->check(CLI::ExistingFile);
    cmd->callback([&run, path] { run = [path] { return RunInfo(*path); }; });
}

} // namespace sonvex::cli
