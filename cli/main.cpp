// SPDX-License-Identifier: GPL-3.0-or-later
// sonvex-cli: the command-line front end over the same core as the desktop program.
#include <cstdio>

#include "cli/commands.h"

int main(int argc, char** argv) {
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
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return run ? run() : 2;
}
