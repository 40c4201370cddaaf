// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli segment SMF DLS`: builds the segment file beside the SMF, whose band
// plays the DLS collection's instruments.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "platform/messages.h"
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
    const std::string output = std::filesystem::path(o.smf).replace_extension(".sgt").string();
    // The builder's messages name the file they are about.
    SubjectFeedback named(feedback, [&o, &output](int number) {
        switch (number) {
        case NumberOf(MessageId::SegmentNotSmf):
            return MessageSubject{o.smf, -1, {}};
        case NumberOf(MessageId::SegmentSmfOpenFailed):
            return MessageSubject{o.smf, -1, CannotReadReason(o.smf)};
        case NumberOf(MessageId::SegmentDlsOpenFailed):
            return MessageSubject{o.dls, -1, CannotReadReason(o.dls)};
        case NumberOf(MessageId::SegmentOutputOpenFailed):
            return MessageSubject{output, -1, CannotCreateReason(output)};
        default:
            return MessageSubject{output, -1, {}};
        }
    });
    const SegmentResult r = ConvertSmfToSegment(o.smf, o.dls, named, SegmentCallbacks{}, &report);
    feedback.Finish();
    if (r != SegmentResult::Done) {
        // Open failures are said in full by their message; other failures get the reason.
        const int shown = named.lastNumber();
        if (report.diagnostics.failed() &&
            (shown == 0 || shown == NumberOf(MessageId::SegmentNotMade))) {
            feedback.PrintLine("error: " + report.diagnostics.failure);
        }
        return kExitFailed;
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
