// SPDX-License-Identifier: GPL-3.0-or-later
// The subcommands of sonvex-cli; each registers itself on the application and sets
// the function that runs it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace sonvex {
enum class BankFormat; // convert/batch_conversion.h
struct ConversionRunResult;
struct Converters;
class TerminalFeedback;
} // namespace sonvex

namespace sonvex::cli {

// Exit statuses of every subcommand.
constexpr int kExitDone = 0;   // everything asked for was done
constexpr int kExitFailed = 1; // something asked for was not done; the reasons were printed
constexpr int kExitUsage = 2;  // the command line itself was wrong

// Refuses a file that is not a convert list: prints `error: not a convert list "PATH": WHY`
// and returns false. Also false when the file cannot be read.
bool CheckConvertList(const std::string& path, TerminalFeedback& feedback);

// Prints one line per item that made nothing (type, number, game file, offset, reason)
// and the summary line on stdout; returns the exit status of the run.
int ReportConversion(const ConversionRunResult& run, const std::string& folder,
                     TerminalFeedback& feedback);

// What `rip` does, for every command that starts from game files: scans them into a
// convert list in the folder `output` (made when missing), then converts the list there with
// `converters` (with `jobs` > 1, each game file's items beside the scan on that many
// threads), calling `beforeConversion` with the folder first. Prints the reports. The scan
// checks candidates on `jobs` threads too; 0 stands for one a core.
struct RipOutcome {
    bool converted = false;   // the list was made and its conversion ran
    int status = kExitFailed; // the exit status the scan and the conversion call for
    std::string folder;       // the output folder's full path
    std::string listPath;     // the convert list made there
};
RipOutcome RipToFolder(const std::vector<std::string>& gameFiles, std::string output, bool trace,
                       bool classic, int jobs, const Converters& converters,
                       TerminalFeedback& feedback,
                       const std::function<void(const std::string& folder)>& beforeConversion = {});

// The chosen subcommand's work; returns the process exit status.
using CommandRun = std::function<int()>;

// The bank files `convert` and `rip` write: `--sf2` (a SoundFont 2 bank beside every
// DLS) or `--bank-format dls|sf2|both`.
struct BankFormatChoice {
    bool sf2 = false;
    std::string format;
    BankFormat Chosen() const;
};
void AddBankFormatOptions(CLI::App& cmd, BankFormatChoice& choice);

void AddAnalyzeCommand(CLI::App& app, CommandRun& run);
void AddRipCommand(CLI::App& app, CommandRun& run);
void AddConvertCommand(CLI::App& app, CommandRun& run);
void AddSegmentCommand(CLI::App& app, CommandRun& run);
void AddRenderCommand(CLI::App& app, CommandRun& run);
void AddPlayCommand(CLI::App& app, CommandRun& run);
void AddInfoCommand(CLI::App& app, CommandRun& run);
void AddUnrollCommand(CLI::App& app, CommandRun& run);
void AddSoundtrackCommand(CLI::App& app, CommandRun& run);

} // namespace sonvex::cli
