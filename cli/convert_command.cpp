// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli convert LIST -o OUTDIR`: converts every listed item into OUTDIR.
#include <filesystem>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "convert/batch_conversion.h"

namespace sonvex::cli {

namespace {

struct ConvertOptions {
    std::string list;
    std::string outputFolder;
    bool quiet = false;
    bool classic = false; // the classic sample search only
    BankFormatChoice banks;
};

int RunConvert(const ConvertOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    std::string folder = o.outputFolder;
    auto result = StartConversion(
        folder, o.list, feedback,
        StandardConverters(o.classic ? RecognitionRules::Classic : RecognitionRules::Extended,
                           o.banks.Chosen()));
    feedback.Finish();
    if (!result || !result->ran) {
        return 1;
    }
    std::printf("%d file(s) made in %s\n", result->filesMade, folder.c_str());
    return result->endedEarly || feedback.messagesShown() > 0 ? 1 : 0;
}

} // namespace

BankFormat BankFormatChoice::Chosen() const {
    if (format == "sf2") {
        return BankFormat::Sf2;
    }
    if (format == "both" || (format.empty() && sf2)) {
        return BankFormat::Both;
    }
    return BankFormat::Dls;
}

void AddBankFormatOptions(CLI::App& cmd, BankFormatChoice& choice) {
    CLI::Option* sf2 =
        cmd.add_flag("--sf2", choice.sf2, "Write a SoundFont 2 bank (.sf2) beside every DLS");
    CLI::Option* format =
        cmd.add_option("--bank-format", choice.format,
                       "Bank files to write: dls (the default), sf2 (SoundFont 2 only) or both")
            ->check(CLI::IsMember({"dls", "sf2", "both"}));
    sf2->excludes(format);
}

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
    AddBankFormatOptions(*cmd, options->banks);
    cmd->callback([&run, options] { run = [options] { return RunConvert(*options); }; });
}

} // namespace sonvex::cli
