// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli play INPUT [BANK]`: plays an SMF with its DLS or SoundFont 2 bank, or a
// segment file, on the sound device (or the null output), showing bar, beat, time and the
// loop counter, and stopping cleanly on Ctrl-C.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "cli/commands.h"
#include "playback/play_loop.h"

namespace sonvex::cli {

namespace {

std::atomic<bool> gStopRequested{false};

void OnInterrupt(int) {
    gStopRequested.store(true);
}

struct PlayOptions {
    std::string input;
    std::string dls;
    std::string output = "auto";
    std::string searchFolder;
    int32_t start = 0;
    double gain = 0.5;
    bool noReverb = false;
    bool quiet = false;
};

void ShowPosition(const PlayPosition& p, bool interactive) {
    char loops[48];
    if (p.repeats == 0) {
        loops[0] = '\0';
    } else if (p.repeats == kRepeatEndless) {
        std::snprintf(loops, sizeof loops, "  loop %u/endless", p.loopsDone);
    } else {
        std::snprintf(loops, sizeof loops, "  loop %u/%u", p.loopsDone, p.repeats);
    }
    std::fprintf(stderr, "%sbar %4d beat %d  music time %7d/%d  %7.1f s%s%s",
                 interactive ? "\r" : "", p.bar, p.beat, p.musicTime, p.length, p.seconds, loops,
                 interactive ? "   " : "\n");
    std::fflush(stderr);
}

int RunPlay(const PlayOptions& o) {
    PlayJob job;
    job.input = o.input;
    job.dls = o.dls;
    job.searchFolder = o.searchFolder;
    job.startPoint = o.start;
    job.synth.gain = o.gain;
    job.synth.reverb = !o.noReverb;
    if (!ParseOutputKind(o.output, job.output)) {
        std::fprintf(stderr, "sonvex-cli: unknown output \"%s\"\n", o.output.c_str());
        return 1;
    }
    const bool interactive = isatty(fileno(stderr)) != 0;
    job.reportSeconds = interactive ? 0.1 : 1.0;
    job.warn = [](const std::string& warning) {
        std::fprintf(stderr, "sonvex-cli: warning: %s\n", warning.c_str());
    };

    gStopRequested.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    const PlayOutcome r = PlayFile(
        job,
        [&](const PlayPosition& p) {
            if (!o.quiet) {
                ShowPosition(p, interactive);
            }
        },
        gStopRequested);
    sigaction(SIGINT, &previous, nullptr);
    if (!o.quiet && interactive) {
        std::fprintf(stderr, "\n");
    }
    for (const std::string& note : r.notes) {
        std::fprintf(stderr, "sonvex-cli: note: %s\n", note.c_str());
    }

    switch (r.status) {
    case PlayStatus::Ended:
        std::printf("played %s on %s\n", o.input.c_str(), r.outputName.c_str());
        return 0;
    case PlayStatus::Stopped:
        std::printf("stopped %s on %s\n", o.input.c_str(), r.outputName.c_str());
        return 0;
    case PlayStatus::LoadFailed:
    case PlayStatus::OutputFailed:
        break;
    }
    std::fprintf(stderr, "sonvex-cli: %s\n", r.error.c_str());
    if (r.status == PlayStatus::OutputFailed) {
        std::fprintf(
            stderr,
            "sonvex-cli: \"--output null\" plays without a device; \"render\" writes a file\n");
    }
    return 1;
}

} // namespace

void AddPlayCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<PlayOptions>();
    CLI::App* cmd = app.add_subcommand(
        "play", "Play an SMF with a DLS or SoundFont 2 bank, or a segment file, in real time "
                "(Ctrl-C stops)");
    cmd->footer("Loops: an SMF's loop with a count of 0 to 126 (or none) plays that many passes\n"
                "in all (at least one), then the song plays on to its end; a count of 127 or\n"
                "more loops until stopped. A segment file plays its own repeat count.");
    cmd->add_option("input", options->input, "SMF (.mid, .rmi) or segment file (.sgt)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("bank", options->dls,
                    "DLS collection or SoundFont 2 bank (.sf2, played by FluidSynth's own "
                    "SoundFont loader) the SMF plays with")
        ->check(CLI::ExistingFile);
    cmd->add_option("--output", options->output,
                    "auto (PulseAudio, ALSA, SDL2), pulseaudio, alsa, sdl2 or null")
        ->check(CLI::IsMember({"auto", "pulseaudio", "pipewire", "alsa", "sdl2", "null"}));
    cmd->add_option("--start", options->start, "Start point in music time (768 per quarter note)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--search", options->searchFolder,
                    "Folder of a segment's DLS files (default: the segment's)");
    cmd->add_option("--gain", options->gain, "Synthesizer output gain (default 0.5)")
        ->check(CLI::Range(0.0, 10.0));
    cmd->add_flag("--no-reverb", options->noReverb, "Leave the reverb unit out");
    cmd->add_flag("-q,--quiet", options->quiet, "No position display");
    cmd->callback([&run, options] { run = [options] { return RunPlay(*options); }; });
}

} // namespace sonvex::cli
