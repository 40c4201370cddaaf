// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli render INPUT [BANK] -o OUT.wav|OUT.flac`: an SMF with its DLS or SoundFont 2
// bank, or a segment file with the collections its bands name, rendered to an audio file
// faster than real time: a counted loop plays as counted, an endless one --loops times and
// then fades out over --fade seconds.
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "cli/commands.h"
#include "playback/offline_render.h"

namespace sonvex::cli {

namespace {

constexpr const char* kLoopRule =
    "Loops: an SMF marks its loop with the markers \"Loop_Start\" and \"Loop_End\" and may\n"
    "give a count in a text event. A count of 0 to 126, or none, is the number of passes\n"
    "through the loop in all (0 and 1: once); the song then plays on to its end, with no\n"
    "fade. A count of 127 or more loops without end: render plays it --loops times, then\n"
    "fades out over --fade seconds (play and the preview loop it until stopped). A segment\n"
    "file plays its own repeat count; an endless one is rendered like an endless SMF loop.";

struct RenderOptions {
    std::string input;
    std::string dls;
    std::string output;
    std::string searchFolder;
    int loops = 0; // 0: not given
    double fade = 10.0;
    int32_t start = 0;
    double gain = 0.5;
    bool noReverb = false;
    bool quiet = false;
};

int RunRender(const RenderOptions& o) {
    RenderJob job;
    job.input = o.input;
    job.dls = o.dls;
    job.output = o.output;
    job.searchFolder = o.searchFolder;
    if (o.loops > 0) {
        job.plan.loops = o.loops;
    }
    job.plan.fadeSeconds = o.fade;
    job.plan.startPoint = o.start;
    job.synth.gain = o.gain;
    job.synth.reverb = !o.noReverb;
    // Progress is redrawn in place on a terminal and left out of logs.
    const bool progress = !o.quiet && isatty(fileno(stderr)) != 0;
    bool drawn = false;
    if (progress) {
        job.progress = [&drawn](double seconds, double planned) {
            std::fprintf(stderr, "\rrendered %.0f s of %.0f s", seconds, planned);
            drawn = true;
        };
    }
    const RenderResult r = RenderToFile(job);
    if (drawn) {
        std::fprintf(stderr, "\n");
    }
    for (const std::string& note : r.notes) {
        std::fprintf(stderr, "sonvex-cli: note: %s\n", note.c_str());
    }
    for (const std::string& warning : r.warnings) {
        std::fprintf(stderr, "sonvex-cli: warning: %s\n", warning.c_str());
    }
    if (r.status != RenderStatus::Ok) {
        std::fprintf(stderr, "sonvex-cli: %s\n", r.error.c_str());
        return 1;
    }
    std::printf("%s: %.3f s, 44100 Hz stereo 16-bit", o.output.c_str(), r.seconds);
    if (r.summary.looping) {
        std::printf(", %u loop pass(es)", r.summary.loopsPlayed);
        if (r.summary.fadeStartFrame >= 0) {
            std::printf(", fade from %.3f s",
                        static_cast<double>(r.summary.fadeStartFrame) / 44100.0);
        }
    }
    if (r.summary.cutAtLimit) {
        std::printf(", cut at the length limit");
    }
    std::printf("\n");
    return 0;
}

} // namespace

void AddRenderCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* cmd = app.add_subcommand(
        "render",
        "Render an SMF with a DLS or SoundFont 2 bank, or a segment file, to a WAV or FLAC file");
    cmd->footer(kLoopRule);
    cmd->add_option("input", options->input, "SMF (.mid, .rmi) or segment file (.sgt)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("bank", options->dls,
                    "DLS collection or SoundFont 2 bank (.sf2, played by FluidSynth's own "
                    "SoundFont loader) the SMF plays with (for a segment: where its own DLS is "
                    "missing)")
        ->check(CLI::ExistingFile);
    cmd->add_option("-o,--output", options->output,
                    "Audio file to write; .wav or .flac decides the format")
        ->required();
    cmd->add_option("--loops", options->loops,
                    "Times an endless loop is heard before the fade (default 2)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                try {
                    size_t used = 0;
                    const long n = std::stol(text, &used);
                    if (used == text.size() && n >= 1 && n <= 1000000) {
                        return {};
                    }
                } catch (const std::exception&) {
                }
                return "takes a whole number of 1 or more, not \"" + text + "\"";
            },
            "N>=1"));
    cmd->add_option("--fade", options->fade,
                    "Seconds of fade-out after the last pass of an endless loop; 0 plays the "
                    "ending instead")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--start", options->start,
                    "Start point in music time (768 per quarter note), before the song's end")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--search", options->searchFolder,
                    "Folder of a segment's DLS files (default: the segment's)");
    cmd->add_option("--gain", options->gain, "Synthesizer output gain (default 0.5)")
        ->check(CLI::Range(0.0, 10.0));
    cmd->add_flag("--no-reverb", options->noReverb, "Leave the reverb unit out");
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->callback([&run, options] { run = [options] { return RunRender(*options); }; });
}

} // namespace sonvex::cli
