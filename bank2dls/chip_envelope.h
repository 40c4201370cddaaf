// SPDX-License-Identifier: GPL-3.0-or-later
// The console sound chip's volume envelope as its two ADSR words drive it, one sample at
// a time at 44100 Hz, and the DLS envelope figures (attack, decay, sustain, release) that
// follow it most closely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonvex {

// The envelope fields of a tone's two ADSR words. A rate is the chip's 7-bit rate:
// shift (0..31) in bits 2..6, step (0..3) in bits 0..1.
struct ChipAdsr {
    bool attackExponential = false;  // word 1 bit 15
    uint8_t attackRate = 0;          // word 1 bits 8..14
    uint8_t decayShift = 0;          // word 1 bits 4..7; step -8, always exponential
    int sustainLevel = 0;            // word 1 bits 0..3 = n: (n + 1) × 0x800
    bool sustainExponential = false; // word 2 bit 15
    bool sustainDecrease = false;    // word 2 bit 14
    uint8_t sustainRate = 0;         // word 2 bits 6..12
    bool releaseExponential = false; // word 2 bit 5
    uint8_t releaseShift = 0;        // word 2 bits 0..4; step -8
};

ChipAdsr DecodeAdsr(uint16_t adsr1, uint16_t adsr2);

constexpr int kChipFullLevel = 0x7FFF;
constexpr double kChipRate = 44100.0;

enum class ChipPhase { Attack, Decay, Sustain, Release, Off };

// One voice's envelope: starts at key-on in the attack phase at level 0.
class ChipEnvelope {
  public:
    explicit ChipEnvelope(const ChipAdsr& adsr);
    int level() const { return level_; }
    ChipPhase phase() const { return phase_; }
    void KeyOff();
    // Jumps to `phase` at `level` (the state the key-on would reach there).
    void StartAt(ChipPhase phase, int level);
    // Advances one sample.
    void Tick();
    // The samples from now on that change nothing but the wait for the next step (as many as
    // fit in a size_t when the envelope never steps again), and the advance over `samples`
    // of them at once: the same as as many Ticks.
    size_t QuietTicks() const;
    void PassQuiet(size_t samples);

  private:
    void Enter(ChipPhase phase);
    void StartWait();
    // The step and the samples between steps for the current phase at the current level.
    void Rule(int& step, int& cycles) const;

    ChipAdsr adsr_;
    ChipPhase phase_ = ChipPhase::Attack;
    int level_ = 0;
    int wait_ = 0;
};

// The envelope's level (0..0x7FFF) at every sample: key held for `heldFrames`, released,
// `frames` samples in all.
std::vector<int> SimulateChipEnvelope(uint16_t adsr1, uint16_t adsr2, size_t heldFrames,
                                      size_t frames);

// The DLS volume envelope that follows the chip's. The DLS shapes are a linear rise in
// amplitude (attack), a fall linear in dB at one slope to a held level (decay, sustain),
// and a fall linear in dB (release); decay and release times are the times of a fall
// over the whole 96 dB range at their slope.
struct DlsEnvelopeFit {
    double attackSeconds = 0.0;
    double holdSeconds = 0.0; // at the peak, until the chip's attack has ended
    double decaySeconds = 0.0;
    double sustainDb = 0.0; // level held after the decay, dB below the peak (0..96)
    double releaseSeconds = 0.0;
    // The largest difference in dB between the DLS envelope and the chip's at every 10 ms
    // of the first 2 s after the attack, levels below -60 dB counted as -60 dB.
    double worstHeldErrorDb = 0.0;
};

// The fit for one pair of ADSR words:
// - attack: linear mode is a linear rise and is followed exactly; exponential mode rises
//   4 times slower above 0x6000: the linear rise closest to it in dB (at worst 1.36 dB
//   away) reaches the peak early and holds it until the chip's attack ends;
// - decay and sustain: the chip falls exponentially (linear in dB) to the sustain level
//   and then moves at the sustain rate until the key is released; one slope and one held
//   level are chosen to minimise the largest dB difference over the first 2 s (exact when
//   the sustain phase holds its level);
// - release: exponential mode is linear in dB and followed exactly; linear mode falls
//   linearly in amplitude from the held level, and the slope closest in dB down to
//   -40 dB is used.
DlsEnvelopeFit FitDlsEnvelope(uint16_t adsr1, uint16_t adsr2);

} // namespace sonvex
