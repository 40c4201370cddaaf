// SPDX-License-Identifier: GPL-3.0-or-later
// Signal measurements for playback tests.
#include "testkit/pcm_analysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonvex::testkit {

std::vector<int16_t> SineTone(size_t frames, double period, double amplitude) {
    std::vector<int16_t> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / period);
        out[i] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
    return out;
}

double MeasureFrequency(std::span<const float> signal, double sampleRate) {
    double first = -1.0;
    double last = -1.0;
    size_t crossings = 0;
    for (size_t i = 1; i < signal.size(); ++i) {
        const float a = signal[i - 1];
        const float b = signal[i];
        if (a < 0.0f && b >= 0.0f) {
            const double at =
                static_cast<double>(i - 1) + static_cast<double>(-a) / static_cast<double>(b - a);
            if (first < 0.0) {
                first = at;
            }
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2 || last <= first) {
        return 0.0;
    }
    return static_cast<double>(crossings - 1) * sampleRate / (last - first);
}

double Rms(std::span<const float> signal) {
    if (signal.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (float v : signal) {
        sum += static_cast<double>(v) * v;
    }
    return std::sqrt(sum / static_cast<double>(signal.size()));
}

double RmsDb(std::span<const float> signal) {
    const double r = Rms(signal);
    return r > 0.0 ? 20.0 * std::log10(r) : -400.0;
}

double LevelDifferenceDb(double a, double b) {
    if (a <= 0.0 || b <= 0.0) {
        return a > b ? 400.0 : (a < b ? -400.0 : 0.0);
    }
    return 20.0 * std::log10(a / b);
}

std::vector<double> RmsEnvelope(std::span<const float> signal, size_t window) {
    std::vector<double> out;
    if (window == 0) {
        return out;
    }
    for (size_t at = 0; at + window <= signal.size(); at += window) {
        out.push_back(Rms(signal.subspan(at, window)));
    }
    return out;
}

size_t FirstWindowBelow(const std::vector<double>& envelope, size_t from, double reference,
                        double dropDb) {
    for (size_t i = from; i < envelope.size(); ++i) {
        if (LevelDifferenceDb(envelope[i], reference) < -dropDb) {
            return i;
        }
    }
    return envelope.size();
}

template <typename T> static double MaxBend(std::span<const T> s) {
    double worst = 0.0;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        const double d = static_cast<double>(s[i + 1]) - 2.0 * static_cast<double>(s[i]) +
                         static_cast<double>(s[i - 1]);
        worst = std::max(worst, std::fabs(d));
    }
    return worst;
}

double MaxSecondDifference(std::span<const float> signal) {
    return MaxBend(signal);
}
double MaxSecondDifference(std::span<const int16_t> signal) {
    return MaxBend(signal);
}

size_t FirstAbove(std::span<const float> signal, float threshold) {
    for (size_t i = 0; i < signal.size(); ++i) {
        if (std::fabs(signal[i]) > threshold) {
            return i;
        }
    }
    return signal.size();
}

size_t EndOfSound(std::span<const float> signal, float threshold) {
    for (size_t i = signal.size(); i > 0; --i) {
        if (std::fabs(signal[i - 1]) > threshold) {
            return i;
        }
    }
    return 0;
}

} // namespace sonvex::testkit
