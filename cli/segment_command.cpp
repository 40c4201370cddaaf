// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli segment SMF DLS`: builds the segment file beside the SMF, whose band
// plays the DLS collection's instruments.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "segment/segment_converter.h"

namespace sonvex::cli {

namespace {

struct SegmentOptions {
    std::string smf;
    std::string dls;
};

int RunSegment(const SegmentOptions& o) {
    TerminalFeedback feedback(stderr, false);
    SegmentReport report;
    const SegmentResult r =
        ConvertSmfToSegment(o.smf, o.dls, feedback, SegmentCallbacks{}, &report);
    feedback.Finish();
    if (r != SegmentResult::Done) {
        if (report.diagnostics.failed()) {
            std::fprintf(stderr, "sonvex-cli: %s\n", report.diagnostics.failure.c_str());
        }
        return 1;
    }
    std::printf("%s: %llu bytes\n", report.outputPath.c_str(),
                static_cast<unsigned long long>(report.outputSize));
    return 0;
}

} // namespace

void AddSegmentCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<SegmentOptions>();
    CLI::App* cmd = app.add_subcommand(
        "segment", "Build a segment file (.sgt) beside an SMF whose band plays a DLS");
    cmd->add_option("smf", options->smf, "Standard MIDI File (.mid) made by the converter")
        ->required();
    cmd->add_option("dls", options->dls, "DLS collection whose instruments the band selects")
        ->required();
    cmd->callback([&run, options] { run = [options] { return RunSegment(*options); }; });
}

} // namespace sonvex::cli
