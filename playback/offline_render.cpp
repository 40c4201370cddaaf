// SPDX-License-Identifier: GPL-3.0-or-later
// Offline rendering to memory or to WAV, FLAC or Ogg files. Files are written by the
// audio file writer, so a failed write is noticed and the file removed.
#include "playback/offline_render.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#include "playback/audio_file.h"
#include "playback/instrument_check.h"
#include "playback/loader.h"
#include "playback/render_core.h"

namespace sonvex {

namespace {

constexpr int kChunkFrames = 4096; // a multiple of the synthesizer's block
constexpr double kCutFadeSeconds = 0.05;
constexpr float kSilence = 1.0f / 65536.0f; // below half a step of 16-bit output
constexpr int64_t kQuietRun = 1024;         // silent frames that end a tail

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

int16_t ToPcm16(float sample) {
    const double x = std::clamp(static_cast<double>(sample), -1.0, 1.0) * 32767.0;
    return static_cast<int16_t>(std::lround(x));
}

RenderSummary RenderSequence(Synth& synth, std::shared_ptr<const Sequence> sequence,
                             const RenderPlan& plan, const AudioConsumer& consumer) {
    RenderSummary summary;
    const double rate = synth.SampleRate();
    const LoopRange loop = EffectiveLoop(*sequence);
    // Only an endless loop is cut short by the plan; a counted one plays as counted.
    const bool endless = loop.Valid() && sequence->repeats == kRepeatEndless;
    summary.looping = loop.Valid() && sequence->repeats > 0;
    const int loops = std::max(plan.loops.value_or(2), 1);
    const bool fade = endless && plan.fadeSeconds > 0.0;
    const int64_t fadeFrames =
        static_cast<int64_t>(std::llround(std::max(plan.fadeSeconds, 0.0) * rate));
    const int64_t tailLimit =
        static_cast<int64_t>(std::llround(std::max(plan.tailSeconds, 0.0) * rate));
    const int64_t cutFade = static_cast<int64_t>(std::llround(kCutFadeSeconds * rate));
    const int64_t maxFrames =
        static_cast<int64_t>(std::llround(std::max(plan.maxSeconds, 0.0) * rate));

    SequencerSettings settings;
    settings.startPoint = plan.startPoint;
    if (!summary.looping) {
        settings.repeats = 0;
    } else if (endless) {
        settings.repeats = fade ? kRepeatEndless : static_cast<uint32_t>(loops - 1);
    } else {
        settings.repeats = sequence->repeats;
    }

    RenderCore core(synth);
    core.SetListener([&](const OutputEvent& e) {
        switch (e.kind) {
        case OutputEvent::Kind::SegmentStart:
            summary.notifications.push_back(e);
            break;
        case OutputEvent::Kind::SegmentLoop:
            summary.notifications.push_back(e);
            summary.loopsPlayed = e.loopsDone;
            if (fade && e.loopsDone == static_cast<uint32_t>(loops) && summary.fadeStartFrame < 0) {
                summary.fadeStartFrame = e.frame;
            }
            break;
        case OutputEvent::Kind::SegmentEnd:
            summary.notifications.push_back(e);
            summary.segmentEndFrame = e.frame;
            break;
        default:
            break;
        }
    });
    core.Start(std::move(sequence), settings);

    std::vector<float> left(kChunkFrames);
    std::vector<float> right(kChunkFrames);
    int64_t produced = 0;
    int64_t stopAt = -1;     // the last frame + 1, once known
    int64_t rampFrom = -1;   // gain falls linearly from 1 at rampFrom to 0 at stopAt
    int64_t finishedAt = -1; // where the last note-off had been dispatched
    int64_t lastAudible = 0; // frame after the last one above silence
    for (;;) {
        int n = kChunkFrames;
        if (stopAt >= 0) {
            n = static_cast<int>(std::min<int64_t>(n, stopAt - produced));
        }
        if (n <= 0) {
            break;
        }
        core.Render(left.data(), right.data(), n);
        if (stopAt < 0 && summary.fadeStartFrame >= 0) {
            rampFrom = summary.fadeStartFrame;
            stopAt = rampFrom + fadeFrames;
        }
        if (stopAt < 0 && produced + n >= maxFrames) {
            summary.cutAtLimit = true;
            stopAt = std::max(maxFrames, produced);
            rampFrom = stopAt - cutFade;
        }
        int keep = n;
        if (stopAt >= 0) {
            keep = static_cast<int>(std::clamp<int64_t>(stopAt - produced, 0, n));
            if (rampFrom >= 0 && stopAt > rampFrom) {
                for (int i = 0; i < keep; ++i) {
                    const int64_t f = produced + i;
                    if (f >= rampFrom) {
                        const float g = static_cast<float>(static_cast<double>(stopAt - f) /
                                                           static_cast<double>(stopAt - rampFrom));
                        left[i] *= g;
                        right[i] *= g;
                    }
                }
            }
        }
        for (int i = keep; i > 0; --i) {
            if (std::fabs(left[i - 1]) > kSilence || std::fabs(right[i - 1]) > kSilence) {
                lastAudible = produced + i;
                break;
            }
        }
        bool last = stopAt >= 0 && produced + keep >= stopAt;
        const Sequencer* current = core.Current();
        if (stopAt < 0 && !fade && current != nullptr && current->Finished()) {
            // The song has ended: its tails (voices, then reverb) sound until they fall
            // silent, for at most the tail limit (then a short fade instead of a cut).
            if (finishedAt < 0) {
                finishedAt = produced;
            }
            if (synth.ActiveVoices() == 0 && lastAudible <= produced + keep - kQuietRun) {
                const int64_t end = std::max(summary.segmentEndFrame, lastAudible);
                keep = static_cast<int>(std::clamp<int64_t>(end - produced, 0, keep));
                last = true;
            } else if (produced - finishedAt >= tailLimit) {
                summary.cutAtLimit = true;
                stopAt = produced + keep + cutFade;
                rampFrom = produced + keep;
            }
        }
        if (keep > 0 && !consumer(left.data(), right.data(), keep)) {
            produced += keep;
            break;
        }
        produced += keep;
        if (last) {
            break;
        }
    }
    summary.frames = produced;
    return summary;
}

bool PrepareMusic(Synth& synth, const std::string& input, const std::string& dls,
                  const std::string& searchFolder, PreparedMusic& prepared, RenderStatus& status,
                  std::string& error) {
    Loader loader;
    const std::string folder = searchFolder.empty() ? FolderOf(input) : searchFolder;
    if (!loader.SetSearchDirectory(folder)) {
        status = RenderStatus::BadArguments;
        error = folder + ": not a folder";
        return false;
    }
    SmfLoadOptions options;
    options.loopsFromMarkers = true;
    LoadResult loaded;
    const std::string inputPath = input.find('/') == std::string::npos ? "./" + input : input;
    std::shared_ptr<Segment> segment = loader.LoadSegment(inputPath, &loaded, options);
    prepared.notes = loaded.diagnostics;
    if (!segment) {
        status = RenderStatus::InputFailed;
        error = loaded.error;
        return false;
    }
    std::shared_ptr<Collection> given;
    if (!dls.empty()) {
        LoadResult bank;
        given = loader.LoadCollection(dls.find('/') == std::string::npos ? "./" + dls : dls, &bank);
        prepared.notes.insert(prepared.notes.end(), bank.diagnostics.begin(),
                              bank.diagnostics.end());
        if (!given) {
            status = RenderStatus::InputFailed;
            error = bank.error;
            return false;
        }
    } else if (segment->FromSmf() && !synth.HasGeneralMidi()) {
        status = RenderStatus::BadArguments;
        error = "an SMF needs a DLS or SoundFont file to play with (no General MIDI SoundFont is "
                "installed)";
        return false;
    }
    if (given) {
        const int slot =
            synth.AddCollection(given->Data(), given->IsSoundFont() ? given->Path() : "");
        if (slot < 0) {
            status = RenderStatus::InputFailed;
            error = given->Path() + ": the synthesizer cannot load it";
            const std::string reason = synth.TakeError();
            if (!reason.empty()) {
                error += ": " + reason;
            }
            return false;
        }
        synth.SetDefaultCollection(slot);
    }
    std::vector<int> slots;
    for (const std::shared_ptr<Collection>& c : segment->BandCollections()) {
        slots.push_back(c ? synth.AddCollection(c->Data(), c->IsSoundFont() ? c->Path() : "") : -1);
    }
    synth.SetBandCollections(std::move(slots));
    prepared.sequence = segment->GetSequence();
    std::string warning;
    if (!CheckSegmentInstruments(*segment, given.get(), synth.HasGeneralMidi(), loader, error,
                                 warning)) {
        status = RenderStatus::InputFailed;
        return false;
    }
    if (!warning.empty()) {
        prepared.warnings.push_back(warning);
    }
    return true;
}

double PlannedSeconds(const Sequence& sequence, const RenderPlan& plan) {
    const TempoMap& t = sequence.tempo;
    const double from = t.SecondsAt(std::clamp(plan.startPoint, 0, sequence.length));
    const LoopRange loop = EffectiveLoop(sequence);
    const double body = loop.Valid() ? t.SecondsAt(loop.end) - t.SecondsAt(loop.start) : 0.0;
    const double whole = t.SecondsAt(sequence.length) - from;
    if (!loop.Valid() || sequence.repeats == 0) {
        return whole;
    }
    if (sequence.repeats != kRepeatEndless) {
        return whole + body * sequence.repeats;
    }
    const int loops = std::max(plan.loops.value_or(2), 1);
    if (plan.fadeSeconds > 0.0) {
        return t.SecondsAt(loop.end) - from + body * (loops - 1) + plan.fadeSeconds;
    }
    return whole + body * (loops - 1);
}

RenderResult RenderToFile(const RenderJob& job) {
    RenderResult result;
    if (!AudioFormatOf(job.output)) {
        result.status = RenderStatus::BadArguments;
        result.error = job.output + ": the output must end in .wav, .flac or .ogg";
        return result;
    }
    std::string error;
    std::unique_ptr<Synth> synth = Synth::Create(job.synth, &error);
    if (!synth) {
        result.status = RenderStatus::SynthFailed;
        result.error = error;
        return result;
    }
    PreparedMusic music;
    if (!PrepareMusic(*synth, job.input, job.dls, job.searchFolder, music, result.status,
                      result.error)) {
        result.notes = music.notes;
        return result;
    }
    result.notes = music.notes;
    result.warnings = music.warnings;
    const Sequence& sequence = *music.sequence;
    if (job.plan.startPoint < 0 ||
        (job.plan.startPoint > 0 && job.plan.startPoint >= sequence.length)) {
        result.status = RenderStatus::BadArguments;
        result.error = "start point " + std::to_string(job.plan.startPoint) +
                       " lies beyond the end of the song (length " +
                       std::to_string(sequence.length) + ")";
        return result;
    }
    result.plannedSeconds = PlannedSeconds(sequence, job.plan);

    // A missing output folder is made, as the converters do.
    const std::filesystem::path folder = std::filesystem::path(job.output).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            result.status = RenderStatus::OutputFailed;
            result.error = folder.string() + ": the folder cannot be made: " + ec.message();
            return result;
        }
    }
    // Written under a temporary name and renamed once complete.
    AudioFileWriter out;
    if (!out.Open(job.output, static_cast<int>(job.synth.sampleRate), job.tags, result.error)) {
        result.status = RenderStatus::OutputFailed;
        return result;
    }
    std::vector<int16_t> interleaved;
    bool writeFailed = false;
    int64_t sinceProgress = 0;
    const int64_t progressEvery = static_cast<int64_t>(job.synth.sampleRate);
    double written = 0.0;
    result.summary = RenderSequence(
        *synth, music.sequence, job.plan, [&](const float* l, const float* r, int n) {
            interleaved.resize(static_cast<size_t>(n) * 2);
            for (int i = 0; i < n; ++i) {
                interleaved[2 * static_cast<size_t>(i)] = ToPcm16(l[i]);
                interleaved[2 * static_cast<size_t>(i) + 1] = ToPcm16(r[i]);
            }
            if (!out.Write(interleaved.data(), n)) {
                writeFailed = true;
                return false;
            }
            written += n;
            sinceProgress += n;
            if (job.progress && sinceProgress >= progressEvery) {
                sinceProgress = 0;
                job.progress(written / job.synth.sampleRate, result.plannedSeconds);
            }
            return true;
        });
    std::string closeError;
    if (!out.Finish(closeError) || writeFailed) {
        result.status = RenderStatus::OutputFailed;
        result.error =
            writeFailed ? job.output + ": writing failed; the file was removed" : closeError;
        return result;
    }
    result.seconds = static_cast<double>(result.summary.frames) / job.synth.sampleRate;
    return result;
}

} // namespace sonvex
