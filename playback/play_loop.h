// SPDX-License-Identifier: GPL-3.0-or-later
// Real-time playback of one file until it ends or the caller asks it to stop, reporting
// the position (bar, beat, music time) and the loop counter as it goes: the core of
// "sonvex-cli play".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "playback/audio_output.h"
#include "playback/synth.h"

namespace sonvex {

struct PlayJob {
    std::string input;        // .mid, .rmi or .sgt
    std::string dls;          // the collection an SMF plays with
    std::string searchFolder; // a segment's band collections; default: the input's folder
    OutputKind output = OutputKind::Auto;
    SynthOptions synth;
    int32_t startPoint = 0;     // music time
    double reportSeconds = 0.1; // how often the position is reported
    // Told at once, before playback starts, about notes that will play no instrument.
    std::function<void(const std::string&)> warn;
};

struct PlayPosition {
    double seconds = 0.0;  // since playback started
    int32_t musicTime = 0; // within the segment, loops folded back
    int32_t length = 0;
    int32_t bar = 1; // counted from 1, four quarter notes to the bar
    int32_t beat = 1;
    uint32_t loopsDone = 0;
    uint32_t repeats = 0; // kRepeatEndless without end
};

enum class [[nodiscard]] PlayStatus{Ended, Stopped, LoadFailed, OutputFailed};

struct PlayOutcome {
    PlayStatus status = PlayStatus::Ended;
    std::string error;
    std::string outputName;
    std::vector<std::string> notes;
    std::vector<std::string> warnings; // notes that play no instrument
};

// Plays until the segment and its release tails end, or until `stop` becomes true
// (then every voice falls silent at once).
PlayOutcome PlayFile(const PlayJob& job, const std::function<void(const PlayPosition&)>& report,
                     const std::atomic<bool>& stop);

} // namespace sonvex
