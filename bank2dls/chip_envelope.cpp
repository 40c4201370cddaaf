// SPDX-License-Identifier: GPL-3.0-or-later
// The sound chip's envelope rules (rate = shift and step; a step every 2^(shift-11)
// samples of 2^(11-shift) × step; exponential decrease scales the step by the level,
// exponential increase slows to a quarter above 0x6000) and the DLS figures fitted to them.
#include "bank2dls/chip_envelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonvex {

ChipAdsr DecodeAdsr(uint16_t adsr1, uint16_t adsr2) {
    ChipAdsr a;
    a.attackExponential = (adsr1 & 0x8000) != 0;
    a.attackRate = static_cast<uint8_t>((adsr1 >> 8) & 0x7F);
    a.decayShift = static_cast<uint8_t>((adsr1 >> 4) & 0x0F);
    a.sustainLevel = ((adsr1 & 0x0F) + 1) * 0x800;
    a.sustainExponential = (adsr2 & 0x8000) != 0;
    a.sustainDecrease = (adsr2 & 0x4000) != 0;
    a.sustainRate = static_cast<uint8_t>((adsr2 >> 6) & 0x7F);
    a.releaseExponential = (adsr2 & 0x0020) != 0;
    a.releaseShift = static_cast<uint8_t>(adsr2 & 0x1F);
    return a;
}

ChipEnvelope::ChipEnvelope(const ChipAdsr& adsr) : adsr_(adsr) {
    Enter(ChipPhase::Attack);
}

void ChipEnvelope::KeyOff() {
    if (phase_ != ChipPhase::Off) {
        Enter(ChipPhase::Release);
    }
}

void ChipEnvelope::StartAt(ChipPhase phase, int level) {
    level_ = std::clamp(level, 0, kChipFullLevel);
    Enter(phase);
}

void ChipEnvelope::Enter(ChipPhase phase) {
    phase_ = phase;
    if (phase_ == ChipPhase::Decay && level_ < adsr_.sustainLevel) {
        phase_ = ChipPhase::Sustain; // already at or below the sustain level
    }
    if (phase_ == ChipPhase::Release && level_ == 0) {
        phase_ = ChipPhase::Off;
    }
    StartWait();
}

void ChipEnvelope::StartWait() {
    int step = 0;
    int cycles = 0;
    Rule(step, cycles);
    wait_ = cycles; // 0: this phase never steps
}

void ChipEnvelope::Rule(int& step, int& cycles) const {
    int rate = 0;
    bool exponential = true;
    bool decrease = true;
    switch (phase_) {
    case ChipPhase::Attack:
        rate = adsr_.attackRate;
        exponential = adsr_.attackExponential;
        decrease = false;
        break;
    case ChipPhase::Decay:
        rate = adsr_.decayShift << 2;
        break;
    case ChipPhase::Sustain:
        rate = adsr_.sustainRate;
        exponential = adsr_.sustainExponential;
        decrease = adsr_.sustainDecrease;
        break;
    case ChipPhase::Release:
        rate = adsr_.releaseShift << 2;
        exponential = adsr_.releaseExponential;
        break;
    case ChipPhase::Off:
        step = 0;
        cycles = 0;
        return;
    }
    if (rate == 0x7F) {
        step = 0;
        cycles = 0; // the slowest rate never steps
        return;
    }
    const int shift = rate >> 2;
    const int stepField = rate & 3;
    step = (decrease ? -(8 - stepField) : 7 - stepField) * (1 << std::max(0, 11 - shift));
    cycles = 1 << std::max(0, shift - 11);
    if (exponential && !decrease && level_ > 0x6000) {
        if (shift < 10) {
            step /= 4;
        } else if (shift >= 11) {
            cycles *= 4;
        } else {
            step /= 4;
            cycles *= 4;
        }
    } else if (exponential && decrease) {
        step = (step * level_) >> 15; // rounds toward minus infinity: never 0 above level 0
    }
}

void ChipEnvelope::Tick() {
    if (phase_ == ChipPhase::Off || wait_ == 0 || --wait_ > 0) {
        return;
    }
    int step = 0;
    int cycles = 0;
    Rule(step, cycles);
    level_ = std::clamp(level_ + step, 0, kChipFullLevel);
    switch (phase_) {
    case ChipPhase::Attack:
        if (level_ == kChipFullLevel) {
            Enter(ChipPhase::Decay);
            return;
        }
        break;
    case ChipPhase::Decay:
        if (level_ < adsr_.sustainLevel) {
            Enter(ChipPhase::Sustain);
            return;
        }
        break;
    case ChipPhase::Release:
        if (level_ == 0) {
            Enter(ChipPhase::Off);
            return;
        }
        break;
    default:
        break;
    }
    StartWait();
}

size_t ChipEnvelope::QuietTicks() const {
    if (phase_ == ChipPhase::Off || wait_ == 0) {
        return std::numeric_limits<size_t>::max();
    }
    return static_cast<size_t>(wait_ - 1);
}

void ChipEnvelope::PassQuiet(size_t samples) {
    if (phase_ != ChipPhase::Off && wait_ > 0) {
        wait_ -= static_cast<int>(std::min(samples, QuietTicks()));
    }
}

std::vector<int> SimulateChipEnvelope(uint16_t adsr1, uint16_t adsr2, size_t heldFrames,
                                      size_t frames) {
    ChipEnvelope envelope(DecodeAdsr(adsr1, adsr2));
    std::vector<int> levels(frames);
    for (size_t i = 0; i < frames; ++i) {
        if (i == heldFrames) {
            envelope.KeyOff();
        }
        levels[i] = envelope.level();
        envelope.Tick();
    }
    return levels;
}

namespace {

constexpr double kFloorDb = -60.0;
constexpr double kLongestSeconds = 100.0; // DLS and SF2 times end near here
constexpr size_t kLongestFrames = static_cast<size_t>(kLongestSeconds * kChipRate);
constexpr double kRangeDb = 96.0;
// A linear fall in amplitude from a level reaches silence after tau; the line in dB that
// stays closest to it down to -40 dB falls 29.85 dB per tau (at worst 10.4 dB away).
constexpr double kLinearReleaseDbPerTau = 29.85;

double Db(int level) {
    if (level <= 0) {
        return kFloorDb;
    }
    return std::max(kFloorDb, 20.0 * std::log10(static_cast<double>(level) / kChipFullLevel));
}

// Ticks until `done` (of the level and phase) holds or `limit` samples have passed; returns
// the samples ticked. Samples between the envelope's steps are passed at once.
template <typename Done> size_t RunUntil(ChipEnvelope& envelope, size_t limit, Done done) {
    size_t n = 0;
    while (n < limit && !done(envelope)) {
        const size_t quiet = std::min(envelope.QuietTicks(), limit - n);
        if (quiet > 0) {
            envelope.PassQuiet(quiet);
            n += quiet;
            continue;
        }
        envelope.Tick();
        ++n;
    }
    return n;
}

// The attack's line and the time it holds the peak; both add up to the chip's attack.
double FitAttack(const ChipAdsr& adsr, double& hold) {
    ChipEnvelope e(adsr);
    const size_t knee = RunUntil(e, kLongestFrames, [](const ChipEnvelope& x) {
        return x.level() > 0x6000 || x.phase() != ChipPhase::Attack;
    });
    const size_t rest = RunUntil(e, kLongestFrames - knee, [](const ChipEnvelope& x) {
        return x.phase() != ChipPhase::Attack;
    });
    const double total = static_cast<double>(knee + rest) / kChipRate;
    hold = 0.0;
    if (!adsr.attackExponential || knee == 0 || rest == 0) {
        return total;
    }
    // Rise x (full = 1) at speed v up to a, then v / k: the line x / X closest in dB lies
    // as far below the chip at the start as above it where it reaches full level, so
    // X² / k + X (a - a / k) - 1 = 0 in units of the first speed.
    const double a = static_cast<double>(0x6000) / kChipFullLevel;
    const double t1 = static_cast<double>(knee) / kChipRate;
    const double t2 = static_cast<double>(rest) / kChipRate;
    const double k = (a / t1) / ((1.0 - a) / t2);
    const double b = a - a / k;
    const double x = (-b + std::sqrt(b * b + 4.0 / k)) / (2.0 / k);
    const double line = std::min(x * t1 / a, total);
    hold = total - line;
    return line;
}

// Worst dB difference between the DLS fall (slope dB/s to a held level) and the chip.
double HeldError(const std::vector<double>& chipDb, double stepSeconds, double slope, double held) {
    double worst = 0.0;
    for (size_t i = 0; i < chipDb.size(); ++i) {
        const double dls =
            std::max({-slope * stepSeconds * static_cast<double>(i), -held, kFloorDb});
        worst = std::max(worst, std::abs(dls - chipDb[i]));
    }
    return worst;
}

// The best slope for a held level: the error is searched over the slope's logarithm.
double BestSlope(const std::vector<double>& chipDb, double stepSeconds, double held,
                 double& error) {
    double lo = std::log(0.01);
    double hi = std::log(kRangeDb / 0.0005);
    for (int i = 0; i < 60; ++i) {
        const double m1 = lo + (hi - lo) / 3.0;
        const double m2 = hi - (hi - lo) / 3.0;
        if (HeldError(chipDb, stepSeconds, std::exp(m1), held) <=
            HeldError(chipDb, stepSeconds, std::exp(m2), held)) {
            hi = m2;
        } else {
            lo = m1;
        }
    }
    const double slope = std::exp((lo + hi) / 2.0);
    error = HeldError(chipDb, stepSeconds, slope, held);
    return slope;
}

} // namespace

DlsEnvelopeFit FitDlsEnvelope(uint16_t adsr1, uint16_t adsr2) {
    const ChipAdsr adsr = DecodeAdsr(adsr1, adsr2);
    DlsEnvelopeFit fit;
    fit.attackSeconds = FitAttack(adsr, fit.holdSeconds);

    // The chip from the peak on, key held, every 10 ms for 2 s.
    constexpr size_t kStep = 441;
    constexpr size_t kPoints = 201;
    const double stepSeconds = static_cast<double>(kStep) / kChipRate;
    ChipEnvelope held(adsr);
    held.StartAt(ChipPhase::Decay, kChipFullLevel);
    std::vector<double> chipDb(kPoints);
    size_t decayFrames = 0;
    bool decayEnded = held.phase() != ChipPhase::Decay;
    int decayEndLevel = held.level();
    for (size_t i = 0; i < kPoints; ++i) {
        chipDb[i] = Db(held.level());
        for (size_t s = 0; s < kStep;) {
            const size_t quiet = std::min(held.QuietTicks(), kStep - s);
            const size_t ticks = quiet > 0 ? quiet : 1;
            if (quiet > 0) {
                held.PassQuiet(quiet);
            } else {
                held.Tick();
            }
            s += ticks;
            if (!decayEnded) {
                decayFrames += ticks;
                if (held.phase() != ChipPhase::Decay) {
                    decayEnded = true;
                    decayEndLevel = held.level();
                }
            }
        }
    }

    // The decay's own slope and the sustain level: exact while the sustain phase holds.
    ChipEnvelope decay(adsr);
    decay.StartAt(ChipPhase::Decay, kChipFullLevel);
    const size_t tenDb = RunUntil(decay, kLongestFrames, [](const ChipEnvelope& x) {
        return x.phase() != ChipPhase::Decay || x.level() <= kChipFullLevel / 3;
    });
    const double fallen = -Db(decay.level());
    double bestSlope = tenDb > 0 && fallen > 0.0 ? fallen / (static_cast<double>(tenDb) / kChipRate)
                                                 : kRangeDb / 0.001;
    double bestHeld = decayEnded ? -Db(decayEndLevel) : -chipDb.back();
    if (decayFrames == 0) {
        bestHeld = 0.0;
    }
    double bestError = HeldError(chipDb, stepSeconds, bestSlope, bestHeld);
    if (bestError > 0.05) {
        for (double level = 0.0; level <= -kFloorDb; level += 0.25) {
            double error = 0.0;
            const double slope = BestSlope(chipDb, stepSeconds, level, error);
            if (error < bestError) {
                bestError = error;
                bestSlope = slope;
                bestHeld = level;
            }
        }
    }
    fit.worstHeldErrorDb = bestError;
    fit.decaySeconds = std::clamp(kRangeDb / bestSlope, 0.001, kLongestSeconds);
    fit.sustainDb = bestHeld >= -kFloorDb - 1e-9 ? kRangeDb : bestHeld;

    // Release from the held level.
    const int heldLevel = static_cast<int>(kChipFullLevel * std::pow(10.0, -fit.sustainDb / 20.0));
    if (adsr.releaseExponential) {
        // Linear in dB: the time of the first 40 dB from full level gives the slope.
        ChipEnvelope full(adsr);
        full.StartAt(ChipPhase::Release, kChipFullLevel);
        const size_t frames = RunUntil(full, kLongestFrames, [](const ChipEnvelope& x) {
            return x.level() <= kChipFullLevel / 100;
        });
        fit.releaseSeconds = kRangeDb * (static_cast<double>(frames) / kChipRate) / 40.0;
    } else {
        // A linear fall: the step size does not depend on the level.
        const int rate = adsr.releaseShift << 2;
        const int shift = rate >> 2;
        const double step = 8.0 * (1 << std::max(0, 11 - shift));
        const double cycles = static_cast<double>(1 << std::max(0, shift - 11));
        const double tau = std::max(heldLevel, kChipFullLevel / 1000) / step * cycles / kChipRate;
        fit.releaseSeconds = kRangeDb * tau / kLinearReleaseDbPerTau;
    }
    fit.releaseSeconds = std::clamp(fit.releaseSeconds, 0.001, kLongestSeconds);
    return fit;
}

} // namespace sonvex
