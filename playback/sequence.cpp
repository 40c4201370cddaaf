// SPDX-License-Identifier: GPL-3.0-or-later
// Tempo map arithmetic and the loop a sequence plays.
#include "playback/sequence.h"

#include <algorithm>
#include <cmath>

namespace sonvex {

namespace {
constexpr double kLowestTempo = 1.0;
constexpr double kHighestTempo = 10000.0;

double SecondsPerTick(double bpm) {
    return 60.0 / (bpm * kTicksPerQuarter);
}
} // namespace

TempoMap::TempoMap(std::vector<TempoPoint> points) {
    std::stable_sort(points.begin(), points.end(),
                     [](const TempoPoint& a, const TempoPoint& b) { return a.time < b.time; });
    points_.push_back({0, kDefaultTempo});
    for (const TempoPoint& p : points) {
        if (p.time < 0 || !(p.bpm >= kLowestTempo && p.bpm <= kHighestTempo)) {
            continue;
        }
        if (points_.back().time == p.time) {
            points_.back().bpm = p.bpm;
        } else {
            points_.push_back(p);
        }
    }
    seconds_.resize(points_.size());
    seconds_[0] = 0.0;
    for (size_t i = 1; i < points_.size(); ++i) {
        seconds_[i] = seconds_[i - 1] +
                      (points_[i].time - points_[i - 1].time) * SecondsPerTick(points_[i - 1].bpm);
    }
}

double TempoMap::SecondsAt(double musicTime) const {
    if (points_.empty()) {
        return musicTime * SecondsPerTick(kDefaultTempo);
    }
    size_t i = 0;
    // The last point at or before musicTime (times before 0 use the first tempo).
    auto it = std::upper_bound(points_.begin(), points_.end(), musicTime,
                               [](double t, const TempoPoint& p) { return t < p.time; });
    if (it != points_.begin()) {
        i = static_cast<size_t>(it - points_.begin()) - 1;
    }
    return seconds_[i] + (musicTime - points_[i].time) * SecondsPerTick(points_[i].bpm);
}

double TempoMap::MusicTimeAt(double seconds) const {
    if (points_.empty()) {
        return seconds / SecondsPerTick(kDefaultTempo);
    }
    size_t i = 0;
    auto it = std::upper_bound(seconds_.begin(), seconds_.end(), seconds);
    if (it != seconds_.begin()) {
        i = static_cast<size_t>(it - seconds_.begin()) - 1;
    }
    return points_[i].time + (seconds - seconds_[i]) / SecondsPerTick(points_[i].bpm);
}

double TempoMap::TempoAt(double musicTime) const {
    if (points_.empty()) {
        return kDefaultTempo;
    }
    auto it = std::upper_bound(points_.begin(), points_.end(), musicTime,
                               [](double t, const TempoPoint& p) { return t < p.time; });
    return it == points_.begin() ? points_.front().bpm : std::prev(it)->bpm;
}

void Sequence::SortEvents() {
    std::stable_sort(events.begin(), events.end(),
                     [](const MusicEvent& a, const MusicEvent& b) { return a.time < b.time; });
}

LoopRange EffectiveLoop(const Sequence& sequence) {
    LoopRange loop;
    if (sequence.length <= 0) {
        return loop;
    }
    if (sequence.loopEnd == 0) {
        loop.start = 0;
        loop.end = sequence.length;
        return loop;
    }
    loop.start = std::max(sequence.loopStart, 0);
    loop.end = std::min(sequence.loopEnd, sequence.length);
    if (loop.end <= loop.start) {
        loop = {};
    }
    return loop;
}

} // namespace sonvex
