// SPDX-License-Identifier: GPL-3.0-or-later
// Real-time playback loop over a Performance: load, connect, play, report, stop.
#include "playback/play_loop.h"

#include <chrono>
#include <thread>

#include "playback/instrument_check.h"
#include "playback/loader.h"
#include "playback/performance.h"

namespace sonvex {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WithFolder(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

} // namespace

PlayOutcome PlayFile(const PlayJob& job, const std::function<void(const PlayPosition&)>& report,
                     const std::atomic<bool>& stop) {
    PlayOutcome outcome;
    Loader loader;
    const std::string folder = job.searchFolder.empty() ? FolderOf(job.input) : job.searchFolder;
    if (!loader.SetSearchDirectory(folder)) {
        outcome.status = PlayStatus::LoadFailed;
        outcome.error = folder + ": not a folder";
        return outcome;
    }
    SmfLoadOptions options;
    options.loopsFromMarkers = true;
    LoadResult loaded;
    std::shared_ptr<Segment> segment = loader.LoadSegment(WithFolder(job.input), &loaded, options);
    outcome.notes = loaded.diagnostics;
    if (!segment) {
        outcome.status = PlayStatus::LoadFailed;
        outcome.error = loaded.error;
        return outcome;
    }
    if (!job.dls.empty()) {
        LoadResult bank;
        std::shared_ptr<Collection> collection = loader.LoadCollection(WithFolder(job.dls), &bank);
        if (!collection) {
            outcome.status = PlayStatus::LoadFailed;
            outcome.error = bank.error;
            return outcome;
        }
        segment->ConnectToCollection(collection);
    }
    std::string warning;
    if (!CheckSegmentInstruments(*segment, segment->ConnectedCollection().get(),
                                 GeneralMidiSoundFontFound(job.synth), loader, outcome.error,
                                 warning)) {
        outcome.status = PlayStatus::LoadFailed;
        return outcome;
    }
    if (!warning.empty()) {
        outcome.warnings.push_back(warning);
        if (job.warn) {
            job.warn(warning);
        }
    }
    if (job.startPoint != 0 && !segment->SetStartPoint(job.startPoint)) {
        outcome.status = PlayStatus::LoadFailed;
        outcome.error = "start point " + std::to_string(job.startPoint) +
                        " lies outside the segment (length " +
                        std::to_string(segment->GetLength()) + ")";
        return outcome;
    }

    PerformanceOptions po;
    po.output = job.output;
    po.synth = job.synth;
    std::string error;
    std::unique_ptr<Performance> performance = Performance::Create(po, &error);
    if (!performance) {
        outcome.status = PlayStatus::OutputFailed;
        outcome.error = error;
        return outcome;
    }
    outcome.outputName = performance->OutputName();
    if (!performance->Download(*segment, &outcome.error)) {
        outcome.status = PlayStatus::LoadFailed;
        return outcome;
    }
    std::shared_ptr<SegmentState> state = performance->PlaySegmentEx(segment);
    if (!state) {
        outcome.status = PlayStatus::OutputFailed;
        outcome.error = "the segment cannot be played";
        return outcome;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto every = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(job.reportSeconds > 0 ? job.reportSeconds : 0.1));
    const Sequence& seq = *segment->GetSequence();
    for (;;) {
        if (stop.load()) {
            performance->Stop(segment.get(), state.get());
            outcome.status = PlayStatus::Stopped;
            break;
        }
        PlayPosition p;
        p.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        performance->GetSegmentPosition(*state, p.musicTime, p.loopsDone);
        p.length = seq.length;
        p.repeats = state->GetRepeats();
        const int32_t bar = seq.BarLength() > 0 ? seq.BarLength() : 4 * kTicksPerQuarter;
        const int32_t beat = bar / (seq.beatsPerBar > 0 ? seq.beatsPerBar : 4);
        p.bar = p.musicTime / bar + 1;
        p.beat = (p.musicTime % bar) / (beat > 0 ? beat : kTicksPerQuarter) + 1;
        if (report) {
            report(p);
        }
        if (!performance->IsPlaying(segment.get(), state.get()) &&
            performance->ActiveVoices() == 0) {
            outcome.status = PlayStatus::Ended;
            break;
        }
        std::this_thread::sleep_for(every);
    }
    performance->Unload(*segment);
    performance->CloseDown();
    return outcome;
}

} // namespace sonvex
