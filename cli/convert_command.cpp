// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli convert LIST -o OUTDIR`: converts every listed item into OUTDIR.
#include <filesystem>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "cli/unroll_command.h"
#include "convert/batch_conversion.h"

namespace sonvex::cli {

namespace {

struct ConvertOptions {
    std::string list;
    std::string outputFolder;
    bool quiet = false;
    bool classic = false; // the classic sample search only
    UnrollAfterRun unroll;
};

int RunConvert(const ConvertOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    UnrollAfterRun unroll = o.unroll;
    unroll.Before(o.outputFolder);
    std::string folder = o.outputFolder;
    auto result = StartConversion(
        folder, o.list, feedback,
        StandardConverters(o.classic ? RecognitionRules::Classic : RecognitionRules::Extended));
    feedback.Finish();
    if (!result || !result->ran) {
        return 1;
    }
    std::printf("%d file(s) made in %s\n", result->filesMade, folder.c_str());
    const bool unrolled = unroll.After(folder);
    return result->endedEarly || feedback.messagesShown() > 0 || !unrolled ? 1 : 0;
}

} // namespace

void AddConvertCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* cmd = app.add_subcommand(
        "convert", "Convert the items of a convert list (.clg) to MIDI and DLS files");
    cmd->add_option("list", options->list, "Convert list to read")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("-o,--output", options->outputFolder,
                    "Output folder (created if missing, one level)")
        ->required();
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->add_flag("--classic", options->classic,
                  "Locate bank samples by the classic zero-block search only, never by the "
                  "header's size table");
    options->unroll.AddOptions(*cmd);
    cmd->callback([&run, options] { run = [options] { return RunConvert(*options); }; });
}

} // namespace sonvex::cli
