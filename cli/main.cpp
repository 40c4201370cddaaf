// SPDX-License-Identifier: GPL-3.0-or-later
// sonvex-cli: the command-line front end over the same core as the desktop program.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "gamesource/game_source.h"

namespace {

// The names of the subcommands, for a short plain line when none or a wrong one is given.
std::string CommandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    return names;
}

} // namespace

int main(int argc, char** argv) {
    const sonvex::ScopedGameSources gameSources; // images and PSF sets open like folders
    CLI::App app{"Sonvex: PlayStation game music to MIDI, DLS and segment files", "sonvex-cli"};
    app.set_version_flag("--version", "sonvex-cli 0.26");
    app.require_subcommand(1);
    sonvex::cli::CommandRun run;
    sonvex::cli::AddAnalyzeCommand(app, run);
    sonvex::cli::AddConvertCommand(app, run);
    sonvex::cli::AddRipCommand(app, run);
    sonvex::cli::AddSegmentCommand(app, run);
    sonvex::cli::AddRenderCommand(app, run);
    sonvex::cli::AddPlayCommand(app, run);
    sonvex::cli::AddInfoCommand(app, run);
    sonvex::cli::AddUnrollCommand(app, run);
    sonvex::cli::AddSoundtrackCommand(app, run);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const std::string first = argc > 1 ? argv[1] : "";
        if (first.empty()) {
            std::fprintf(stderr, "error: no command given; the commands are %s\n",
                         CommandNames(app).c_str());
        } else if (first[0] != '-' && app.get_subcommands().empty()) {
            std::fprintf(stderr, "error: unknown command \"%s\"; the commands are %s\n",
                         first.c_str(), CommandNames(app).c_str());
        } else {
            std::fprintf(stderr, "error: %s\n", e.what());
        }
        std::fprintf(stderr, "Try \"sonvex-cli --help\".\n");
        return sonvex::cli::kExitUsage;
    }
    return run ? run() : sonvex::cli::kExitUsage;
}
