// SPDX-License-Identifier: GPL-3.0-or-later
// Signal measurements for playback tests: test tones, frequency by interpolated zero
// crossings, RMS level in dB, when a tail falls silent, and the largest bend in a
// waveform (where a loop that does not join shows up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sonvex::testkit {

// `frames` samples of a sine with `period` samples per cycle, peak `amplitude`.
std::vector<int16_t> SineTone(size_t frames, double period, double amplitude);

// Frequency in Hz from the rising zero crossings (linearly interpolated) within the
// span; 0 when fewer than two crossings are found.
double MeasureFrequency(std::span<const float> signal, double sampleRate);

double Rms(std::span<const float> signal);
// 20 log10 of the RMS; -400 for silence.
double RmsDb(std::span<const float> signal);
// 20 log10(a / b); the level difference between two RMS values.
double LevelDifferenceDb(double a, double b);

// RMS of consecutive windows of `window` frames.
std::vector<double> RmsEnvelope(std::span<const float> signal, size_t window);
// The first window index at or after `from` whose RMS lies more than `dropDb` below
// `reference`; the envelope's size when none does.
size_t FirstWindowBelow(const std::vector<double>& envelope, size_t from, double reference,
                        double dropDb);

// Largest |x[n+1] - 2 x[n] + x[n-1]| over the span: a smooth tone keeps it small, a
// jump (a loop that does not join, a click) makes it large.
double MaxSecondDifference(std::span<const float> signal);
double MaxSecondDifference(std::span<const int16_t> signal);

// Index of the first sample whose magnitude exceeds `threshold`; the size when none.
size_t FirstAbove(std::span<const float> signal, float threshold);
// Index after the last sample whose magnitude exceeds `threshold`; 0 when none.
size_t EndOfSound(std::span<const float> signal, float threshold);

} // namespace sonvex::testkit
