// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli unroll SMF [-o OUT] [--loops N] [--fade S]`: the SMF with its loop written
// out as render plays it, for players that ignore loop markers; and the same step after
// convert and rip.
#include "cli/unroll_command.h"

#include <cstdio>
#include <memory>

#include "unroll/loop_unroller.h"

namespace sonvex::cli {

namespace {

constexpr const char* kUnrollRule =
    "Loops: an SMF marks its loop with the markers \"Loop_Start\" and \"Loop_End\" and may\n"
    "give a count in a text event. A count of 0 or 1, or none, plays the loop once: the song\n"
    "is written as it is. A count of 2 to 126 is the number of passes through the loop in\n"
    "all; the song then goes on to its end. A count of 127 or more loops without end: the\n"
    "loop is written --loops times, then it goes on looping while every channel's\n"
    "expression (controller 11) fades to 0 over --fade seconds, and all notes end (--fade 0\n"
    "writes the part after the loop end instead). Without \"Loop_End\" the loop is the whole\n"
    "song. At every repeat the loop start's program, controllers, pitch bend and tempo\n"
    "return, notes sounding at the loop end stop there and notes held across the loop start\n"
    "sound again. The loop markers and the count are left out of the output.";

struct UnrollCommandOptions {
    std::string input;
    std::string output;
    int loops = 2;
    double fade = 10.0;
};

const char* LoopName(UnrolledLoop loop) {
    switch (loop) {
    case UnrolledLoop::None:
        return "no repeating loop";
    case UnrolledLoop::Counted:
        return "counted loop";
    case UnrolledLoop::Endless:
        return "endless loop";
    }
    return "";
}

// Unrolls one file and says what came of it; false on failure.
bool UnrollOne(const std::string& input, const std::string& output, const UnrollOptions& options) {
    const UnrollResult r = UnrollSmfFile(input, output, options);
    for (const std::string& note : r.diagnostics.notes) {
        std::fprintf(stderr, "sonvex-cli: %s: note: %s\n", input.c_str(), note.c_str());
    }
    if (r.status != UnrollStatus::Ok) {
        std::fprintf(stderr, "sonvex-cli: %s\n", r.diagnostics.failure.c_str());
        return false;
    }
    const UnrollSummary& s = r.summary;
    std::printf("%s: %s, %u pass(es)", output.c_str(), LoopName(s.loop), s.passes);
    if (s.fadeEnd > s.fadeStart) {
        std::printf(", fade from tick %llu", static_cast<unsigned long long>(s.fadeStart));
    }
    std::printf(", %llu ticks, %zu events\n", static_cast<unsigned long long>(s.length), s.events);
    return true;
}

int RunUnroll(const UnrollCommandOptions& o) {
    UnrollOptions options;
    options.loops = o.loops;
    options.fadeSeconds = o.fade;
    const std::string output = o.output.empty() ? UnrolledPath(o.input) : o.output;
    return UnrollOne(o.input, output, options) ? 0 : 1;
}

void AddLoopOptions(CLI::App& cmd, const std::string& name, int& loops, double& fade,
                    const std::string& loopsHelp) {
    cmd.add_option(name, loops, loopsHelp)->check(CLI::Range(1, kMaxUnrollLoops));
    cmd.add_option("--fade", fade,
                   "Seconds of expression fade after the passes of an endless loop (default 10); "
                   "0 writes the ending instead")
        ->check(CLI::Range(0.0, kMaxUnrollFadeSeconds));
}

} // namespace

void UnrollAfterRun::AddOptions(CLI::App& cmd) {
    AddLoopOptions(cmd, "--unroll-loops", loops_, fade_,
                   "Also write NAME.unrolled.mid beside every SMF made, an endless loop "
                   "written out N times (see `sonvex-cli unroll --help`)");
}

void UnrollAfterRun::Before(const std::string& folder) {
    if (loops_ > 0) {
        before_ = SnapshotSmfs(folder);
    }
}

bool UnrollAfterRun::After(const std::string& folder) const {
    if (loops_ == 0) {
        return true;
    }
    UnrollOptions options;
    options.loops = loops_;
    options.fadeSeconds = fade_;
    bool ok = true;
    for (const std::string& smf : SmfsMadeSince(folder, before_)) {
        ok = UnrollOne(smf, UnrolledPath(smf), options) && ok;
    }
    return ok;
}

void AddUnrollCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<UnrollCommandOptions>();
    CLI::App* cmd = app.add_subcommand(
        "unroll", "Write an SMF with its loop written out, for players that ignore loop markers");
    cmd->footer(kUnrollRule);
    cmd->add_option("smf", options->input, "Standard MIDI File (format 0 or 1)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("-o,--output", options->output,
                    "SMF to write (default: NAME.unrolled.mid beside the input)");
    AddLoopOptions(*cmd, "--loops", options->loops, options->fade,
                   "Passes of an endless loop before the fade (default 2)");
    cmd->callback([&run, options] { run = [options] { return RunUnroll(*options); }; });
}

} // namespace sonvex::cli
