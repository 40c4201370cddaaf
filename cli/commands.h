// SPDX-License-Identifier: GPL-3.0-or-later
// The subcommands of sonvex-cli; each registers itself on the application and sets
// the function that runs it.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace sonvex::cli {

// The chosen subcommand's work; returns the process exit status.
using CommandRun = std::function<int()>;

void AddAnalyzeCommand(CLI::App& app, CommandRun& run);
void AddRipCommand(CLI::App& app, CommandRun& run);
void AddConvertCommand(CLI::App& app, CommandRun& run);
void AddSegmentCommand(CLI::App& app, CommandRun& run);
void AddRenderCommand(CLI::App& app, CommandRun& run);
void AddPlayCommand(CLI::App& app, CommandRun& run);
void AddInfoCommand(CLI::App& app, CommandRun& run);
void AddUnrollCommand(CLI::App& app, CommandRun& run);

} // namespace sonvex::cli
