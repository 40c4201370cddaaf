// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli convert LIST -o OUTDIR`: converts every listed item into OUTDIR.
#include <cinttypes>
#include <filesystem>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "cli/unroll_command.h"
#include "convert/batch_conversion.h"
#include "convlist/convert_list.h"
#include "formats/file_bytes.h"
#include "platform/messages.h"

namespace sonvex::cli {

bool CheckConvertList(const std::string& path, TerminalFeedback& feedback) {
    const FileBytes file = ReadFileBytes(path);
    std::string problem;
    if (file.status != FileReadStatus::Ok) {
        std::string reason = CannotReadReason(path);
        feedback.PrintLine("error: " +
                           EnglishMessage(Message(MessageId::ListOpenFailed),
                                          {path, -1, reason.empty() ? file.error : reason}));
        return false;
    }
    problem = ListProblem(file.bytes);
    if (!problem.empty()) {
        feedback.PrintLine("error: not a convert list \"" + path + "\": " + problem);
        return false;
    }
    return true;
}

int ReportConversion(const ConversionRunResult& run, const std::string& folder,
                     TerminalFeedback& feedback) {
    for (const ItemFailure& f : run.failures) {
        const char* type = TypeName(f.type);
        char line[96];
        std::snprintf(line, sizeof line, "failed: %s %" PRId32 " of ", type ? type : "item",
                      f.number);
        char at[32];
        std::snprintf(at, sizeof at, " at 0x%08" PRIX64 ": ", f.offset);
        feedback.PrintLine(line + ("\"" + f.gameFile + "\"") + at + f.reason);
    }
    std::printf("%d file(s) made in %s; items: %d made, %zu failed, %d skipped\n", run.filesMade,
                folder.c_str(), run.itemsMade, run.failures.size(), run.itemsSkipped);
    return run.endedEarly || !run.failures.empty() || feedback.messagesShown() > 0 ? kExitFailed
                                                                                   : kExitDone;
}

namespace {

struct ConvertOptions {
    std::string list;
    std::string outputFolder;
    bool quiet = false;
    bool classic = false; // the classic sample search only
    BankFormatChoice banks;
    UnrollAfterRun unroll;
};

int RunConvert(const ConvertOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    if (!CheckConvertList(o.list, feedback)) {
        return kExitFailed;
    }
    UnrollAfterRun unroll = o.unroll;
    unroll.Before(o.outputFolder);
    std::string folder = o.outputFolder;
    auto result = StartConversion(
        folder, o.list, feedback,
        StandardConverters(o.classic ? RecognitionRules::Classic : RecognitionRules::Extended,
                           o.banks.Chosen()));
    feedback.Finish();
    if (!result || !result->ran) {
        return kExitFailed;
    }
    const int status = ReportConversion(*result, folder, feedback);
    const bool unrolled = unroll.After(folder);
    return unrolled ? status : kExitFailed;
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
    cmd->add_option("list", options->list, "Convert list to read")->required();
    cmd->add_option("-o,--output", options->outputFolder,
                    "Output folder (created if missing, one level)")
        ->required();
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->add_flag("--classic", options->classic,
                  "Locate bank samples by the classic zero-block search only, never by the "
                  "header's size table");
    AddBankFormatOptions(*cmd, options->banks);
    options->unroll.AddOptions(*cmd);
    cmd->callback([&run, options] { run = [options] { return RunConvert(*options); }; });
}

} // namespace sonvex::cli
