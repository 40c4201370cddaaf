// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli analyze GAMEFILE... [-o LIST] [-j N]` and `sonvex-cli rip GAMEFILE... -o OUTDIR`:
// scan game files into a convert list, and (rip) convert it at once.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "analysis/analysis_run.h"
#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "cli/unroll_command.h"
#include "convert/batch_conversion.h"
#include "convert/conversion_pipeline.h"
#include "gamesource/game_source.h"

namespace sonvex::cli {

namespace {

namespace fs = std::filesystem;

struct AnalyzeOptions {
    std::vector<std::string> gameFiles;
    std::string output; // list path (analyze) or output folder (rip)
    bool quiet = false;
    bool trace = false;
    bool classic = false;   // the classic recognition rules only
    BankFormatChoice banks; // rip only
    UnrollAfterRun unroll;  // rip only
    // Threads that check candidates (analyze; rip: and convert beside the scan; 1 converts
    // after it); 0: one a core.
    int jobs = 0;
};

RecognitionRules RulesOf(bool classic) {
    return classic ? RecognitionRules::Classic : RecognitionRules::Extended;
}

constexpr const char* kClassicHelp =
    "Recognise items by the classic rules only (no bank bodies by size table, no \"SEQp\", files "
    "in "
    "picked order), for lists that must match ones made by those rules";

ScanTrace TraceTo(bool on) {
    if (!on) {
        return {};
    }
    return [](std::string_view line) {
        std::fprintf(stderr, "trace: %.*s\n", static_cast<int>(line.size()), line.data());
    };
}

// Reports how an analysis ended; true when a list was written.
bool ReportAnalysis(const AnalysisResult& r) {
    switch (r.status) {
    case AnalysisStatus::ListWritten:
        std::printf("%s: %u sequence(s), %u bank header(s), %u bank body(s)\n", r.listPath.c_str(),
                    r.counters.sequences, r.counters.bankHeaders, r.counters.bankBodies);
        return true;
    case AnalysisStatus::NothingFound:
        std::fprintf(stderr, "error: no sequence or sound bank found; no list written\n");
        return false;
    case AnalysisStatus::NoFiles:
        std::fprintf(stderr, "error: no game file given\n");
        return false;
    case AnalysisStatus::ListNotCreated:
    case AnalysisStatus::ListWriteFailed:
    case AnalysisStatus::PathTooLong:
        return false; // the core has shown its message
    }
    return false;
}

// Passes everything on, naming the list by its final path where a message names the list
// being made in the working folder.
class ListNamingFeedback : public Feedback {
  public:
    ListNamingFeedback(Feedback& inner, std::string workList, std::string finalList)
        : inner_(inner), workList_(std::move(workList)), finalList_(std::move(finalList)) {}
    void ShowMessage(std::string_view text, MessageIcon icon) override {
        inner_.ShowMessage(text, icon);
    }
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override {
        MessageSubject renamed = subject;
        if (renamed.file == workList_) {
            renamed.file = finalList_;
        }
        inner_.ShowMessageAbout(text, icon, renamed);
    }
    void SetStatusText(std::string_view text) override { inner_.SetStatusText(text); }
    void SetProgress(int position) override { inner_.SetProgress(position); }
    void SetGamePath(std::string_view path) override { inner_.SetGamePath(path); }
    void Refresh() override { inner_.Refresh(); }

  private:
    Feedback& inner_;
    std::string workList_;
    std::string finalList_;
};

int RunAnalyze(const AnalyzeOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    std::error_code ec;
    // The list is named after the first game file unless -o names it; either way it is
    // made in a fresh folder beside its final place first, so that no other list of the
    // first file's name is replaced on the way.
    fs::path target =
        o.output.empty()
            ? fs::current_path(ec) / (fs::path(o.gameFiles.front()).stem().string() + ".clg")
            : fs::absolute(o.output, ec);
    fs::path folder = target.parent_path();
    std::string pattern = (folder / ".sonvex-analyze-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::fprintf(stderr, "error: cannot write convert list \"%s\": %s [14]\n", target.c_str(),
                     std::strerror(errno));
        return kExitFailed;
    }
    const fs::path work = pattern;
    // Messages about the list name the place the user asked for, not the working folder.
    const std::string workList = ListPathFor(work.string(), o.gameFiles.front());
    ListNamingFeedback named(feedback, workList, target.string());
    AnalysisResult r = AnalyzeSources(o.gameFiles, work.string(), named, TraceTo(o.trace),
                                      RulesOf(o.classic), nullptr, static_cast<unsigned>(o.jobs));
    feedback.Finish();
    bool written = r.status == AnalysisStatus::ListWritten;
    if (written) {
        fs::rename(r.listPath, target, ec);
        if (ec) {
            std::fprintf(stderr, "error: cannot write convert list \"%s\": %s [14]\n",
                         target.c_str(), ec.message().c_str());
            written = false;
        } else {
            r.listPath = target.string();
        }
    }
    fs::remove_all(work, ec);
    if (!ReportAnalysis(r) || !written) {
        return kExitFailed;
    }
    return feedback.messagesShown() > 0 ? kExitFailed : kExitDone;
}

// Feeds what the scan lists to the conversion pipeline, file by file.
class PipelineFeed : public ScanListener {
  public:
    explicit PipelineFeed(ConversionPipeline& pipeline) : pipeline_(pipeline) {}
    void ListStarted(const std::string& listPath, const std::string& sourceFolder) override {
        pipeline_.Begin(sourceFolder, ListTitleOf(listPath));
    }
    void EntriesAdded(const std::vector<ListEntry>& entries) override { pipeline_.Add(entries); }
    void Quiesce() override { pipeline_.Drain(); }

  private:
    ConversionPipeline& pipeline_;
};

// While it lives, the game source layer's failure reports met while converting an item
// beside the scan are kept with the item and given out when the list walk reaches it.
class KeepConversionReports {
  public:
    explicit KeepConversionReports(ConversionPipeline& pipeline) : sources_(ActiveGameSources()) {
        if (sources_ == nullptr) {
            return;
        }
        previous_ = sources_->SetReport([this](std::string_view message) {
            if (!ConversionPipeline::KeepReport(message) && previous_) {
                previous_(message);
            }
        });
        pipeline.SetReportReplay([this](std::string_view message) {
            if (previous_) {
                previous_(message);
            }
        });
    }
    ~KeepConversionReports() {
        if (sources_ != nullptr) {
            sources_->SetReport(previous_);
        }
    }
    KeepConversionReports(const KeepConversionReports&) = delete;
    KeepConversionReports& operator=(const KeepConversionReports&) = delete;

  private:
    GameSourceFileSystem* sources_;
    SourceReport previous_;
};

int RunRip(const AnalyzeOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    UnrollAfterRun unroll = o.unroll;
    const RipOutcome rip =
        RipToFolder(o.gameFiles, o.output, o.trace, o.classic, o.jobs,
                    StandardConverters(RulesOf(o.classic), o.banks.Chosen()), feedback,
                    [&unroll](const std::string& folder) { unroll.Before(folder); });
    if (!rip.converted) {
        return kExitFailed;
    }
    const bool unrolled = unroll.After(rip.folder);
    return !unrolled ? kExitFailed : rip.status;
}

} // namespace

RipOutcome RipToFolder(const std::vector<std::string>& gameFiles, std::string output, bool trace,
                       bool classic, int jobs, const Converters& converters,
                       TerminalFeedback& feedback,
                       const std::function<void(const std::string& folder)>& beforeConversion) {
    RipOutcome outcome;
    std::error_code ec;
    const bool existed = fs::exists(fs::absolute(output, ec), ec);
    auto folder = PrepareOutputFolder(output, feedback);
    if (!folder) {
        return outcome;
    }
    // With more than one job the items of each game file are converted while the next is
    // scanned; the walk after the scan takes them in list order. Declared in this order so
    // that the reports are routed back before the workers stop.
    std::unique_ptr<ConversionPipeline> pipeline;
    std::unique_ptr<KeepConversionReports> reports;
    std::unique_ptr<PipelineFeed> feed;
    jobs = static_cast<int>(ScanThreadCount(static_cast<unsigned>(std::max(jobs, 0))));
    if (jobs > 1) {
        pipeline = std::make_unique<ConversionPipeline>(converters, *folder, jobs);
        reports = std::make_unique<KeepConversionReports>(*pipeline);
        feed = std::make_unique<PipelineFeed>(*pipeline);
    }
    AnalysisResult analysis =
        AnalyzeSources(gameFiles, *folder, feedback, TraceTo(trace), RulesOf(classic), feed.get(),
                       static_cast<unsigned>(jobs));
    feedback.Finish();
    if (!ReportAnalysis(analysis)) {
        pipeline.reset(); // its staging folder goes before the folder is looked at
        reports.reset();

        // A folder made for this run and left empty goes again (a folder that holds
        // anything is never removed).
        if (!existed) {
            fs::remove(*folder, ec);
        }
        return outcome;
    }
    outcome.folder = *folder;
    outcome.listPath = analysis.listPath;
    const int scanMessages = feedback.messagesShown();
    if (beforeConversion) {
        beforeConversion(*folder);
    }
    ConversionRunResult run =
        RunConversion(analysis.listPath, *folder, ListTitleOf(analysis.listPath), feedback,
                      converters, pipeline.get());
    pipeline.reset();
    reports.reset();
    feedback.Finish();
    if (!run.ran) {
        return outcome;
    }
    outcome.converted = true;
    const int status = ReportConversion(run, *folder, feedback);
    outcome.status = scanMessages > 0 ? kExitFailed : status;
    return outcome;
}

void AddAnalyzeCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<AnalyzeOptions>();
    CLI::App* cmd = app.add_subcommand(
        "analyze", "Scan game files for sequences and sound banks into a convert list");
    cmd->add_option("gamefiles", options->gameFiles, "Game files to scan, in this order")
        ->required();
    cmd->add_option(
        "-o,--output", options->output,
        "Convert list to write (default: the first file's name with .clg, in the current folder)");
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->add_flag("--trace", options->trace,
                  "Print every candidate checked and what the check found");
    cmd->add_flag("--classic", options->classic, kClassicHelp);
    cmd->add_option("-j,--jobs", options->jobs,
                    "Check candidates on N threads (default: one a core); the list is the same")
        ->check(CLI::Range(1, 64));
    cmd->callback([&run, options] { run = [options] { return RunAnalyze(*options); }; });
}

void AddRipCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<AnalyzeOptions>();
    CLI::App* cmd =
        app.add_subcommand("rip", "Scan game files and convert what was found, in one go");
    cmd->add_option("gamefiles", options->gameFiles, "Game files to scan, in this order")
        ->required();
    cmd->add_option("-o,--output", options->output,
                    "Output folder; the convert list is kept there too")
        ->required();
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->add_flag("--trace", options->trace,
                  "Print every candidate checked and what the check found");
    cmd->add_flag("--classic", options->classic, kClassicHelp);
    AddBankFormatOptions(*cmd, options->banks);
    options->unroll.AddOptions(*cmd);
    cmd->add_option("-j,--jobs", options->jobs,
                    "Check candidates and convert on N threads while the scan goes on (default: "
                    "one a core; 1 converts after the scan, one item after the other); outputs "
                    "and messages are the same")
        ->check(CLI::Range(1, 64));
    cmd->callback([&run, options] { run = [options] { return RunRip(*options); }; });
}

} // namespace sonvex::cli
