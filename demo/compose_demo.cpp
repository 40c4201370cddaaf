// SPDX-License-Identifier: GPL-3.0-or-later
// Composes the bundled demo: a synthetic game image holding a song with its own sound
// bank (lead, bass and pluck instruments, looped) and a numbered set of three shorter
// pieces for the same bank, then a second bank (organ, bass and bell) with an SSsq piece
// and a single sequence of its own, all between noise and zero padding as on a disc. Every
// piece plays only instruments of the bank before it.
//   compose-demo OUTPUT_FILE
#include <cmath>
#include <cstdio>
#include <vector>

#include "testkit/adpcm_encoder.h"
#include "testkit/game_image.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"

namespace {

using namespace sonvex::testkit;

constexpr double kPi = 3.141592653589793;
// 28 blocks of 28 samples hold exactly five periods: 281.25 Hz at 44100 Hz, a loop
// without a seam. That is C#4 25 cents sharp; the tones say so with their unity note
// and fine tune.
constexpr size_t kLoopSamples = 28 * 28;
constexpr double kCycles = 5.0;

std::vector<int16_t> Wave(double (*shape)(double), double amplitude) {
    std::vector<int16_t> pcm(kLoopSamples);
    for (size_t t = 0; t < pcm.size(); ++t) {
        const double phase = kCycles * static_cast<double>(t) / static_cast<double>(kLoopSamples);
        pcm[t] = static_cast<int16_t>(amplitude * shape(phase - std::floor(phase)));
    }
    return pcm;
}

// A soft square: the first four odd harmonics.
double Lead(double x) {
    double v = 0;
    for (int h = 1; h <= 7; h += 2) {
        v += std::sin(2 * kPi * h * x) / h;
    }
    return v * 0.8;
}

double Bass(double x) {
    return x < 0.5 ? 4 * x - 1 : 3 - 4 * x;
}

// A struck tone, unlooped, of `blocks` blocks of 28 samples: `shape` gives its signal at
// `s` seconds for the fundamental `f`, 281.25 Hz as the looped waves have it.
Bytes Struck(size_t blocks, double (*shape)(double s, double f)) {
    std::vector<int16_t> pcm(28 * blocks);
    for (size_t t = 0; t < pcm.size(); ++t) {
        pcm[t] = static_cast<int16_t>(shape(static_cast<double>(t) / 44100.0, 281.25));
    }
    return MakeVag(pcm);
}

double Pluck(double s, double f) {
    return 14000.0 * std::exp(-6.0 * s) *
           (std::sin(2 * kPi * f * s) + 0.3 * std::sin(4 * kPi * f * s));
}

VabTone Tuned(int16_t vag, uint16_t adsr1, uint16_t adsr2) {
    VabTone tone = Tone(vag);
    tone.centreNote = 61; // C#4, 25 cents sharp: fine 95 → +25 cents
    tone.fineTune = 95;
    tone.adsr1 = adsr1;
    tone.adsr2 = adsr2;
    return tone;
}

// A bank of three looped or decaying instruments, programs 0, 1 and 2.
void Bank(double (*lead)(double), double (*bass)(double), const Bytes& third, Bytes& vh,
          Bytes& vb) {
    VagShape looped;
    looped.loopStartBlock = 0;
    looped.loopEndBlock = 27;
    VabBuilder bank;
    bank.program(0, Program({Tuned(1, 0x80FF, 0x5FC6)})); // lead: fast attack, full sustain
    bank.program(1, Program({Tuned(2, 0x80FF, 0x5FC4)})); // bass
    bank.program(2, Program({Tuned(3, 0x80FF, 0x5FC8)})); // the sample itself decays
    bank.sample(MakeVag(Wave(lead, 9000), looped));
    bank.sample(MakeVag(Wave(bass, 12000), looped));
    bank.sample(third);
    vh = bank.BuildVh();
    vb = bank.BuildVb();
}

// Sine with its octave and twelfth.
double Organ(double x) {
    return 0.6 * std::sin(2 * kPi * x) + 0.3 * std::sin(4 * kPi * x) + 0.2 * std::sin(6 * kPi * x);
}

double Saw(double x) {
    return 0.9 * (2 * x - 1);
}

// A bell: inharmonic partials that die away.
double Bell(double s, double f) {
    return 12000.0 * std::exp(-3.0 * s) *
           (std::sin(2 * kPi * f * s) +
            0.5 * std::exp(-4.0 * s) * std::sin(2 * kPi * 2.76 * f * s) +
            0.25 * std::sin(2 * kPi * 5.4 * f * s) * std::exp(-8.0 * s));
}

// Bars of C, Am, F, G (transposed by `shift` semitones), the tune's melody over a bass
// note and pluck eighths; with `loop`, loop markers around the whole.
SeqTrack Tune(int shift, int bars, bool loop) {
    constexpr uint32_t q = 480; // ticks per quarter note
    const int roots[4] = {48, 45, 41, 43};
    const int chords[4][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}};
    const int melody[8][4] = {{72, 71, 72, 76}, {69, 71, 72, 69}, {65, 67, 69, 72},
                              {71, 69, 67, 62}, {64, 67, 72, 76}, {76, 74, 72, 69},
                              {69, 72, 77, 76}, {74, 71, 67, 71}};
    SeqTrack t;
    t.program(0, 0, 0).program(0, 1, 1).program(0, 2, 2);
    t.control(0, 0, 7, 100).control(0, 1, 7, 110).control(0, 2, 7, 90);
    t.control(0, 0, 10, 64).control(0, 1, 10, 50).control(0, 2, 10, 80);
    if (loop) {
        t.control(0, 0, 99, 20); // loop start
    }
    uint32_t pending = 0;
    for (int bar = 0; bar < bars; ++bar) {
        const int c = bar % 4;
        t.noteOn(pending, 1, roots[c] + shift, 100);
        pending = 0;
        for (int beat = 0; beat < 4; ++beat) {
            const int note = melody[bar % 8][beat] + shift;
            t.noteOn(beat == 0 ? 0 : pending, 0, note, 96);
            for (int eighth = 0; eighth < 2; ++eighth) {
                const int chordNote = chords[c][(beat * 2 + eighth) % 3] + shift;
                t.noteOn(eighth == 0 ? 0 : q / 2 - 20, 2, chordNote, 80);
                t.noteOff(20, 2, chordNote);
            }
            t.noteOff(q / 2 - 20 - 10, 0, note);
            pending = 10;
        }
        t.noteOff(0, 1, roots[c] + shift);
    }
    if (loop) {
        t.control(pending, 0, 99, 30); // loop end
        pending = 0;
    }
    t.endOfTrack(pending);
    return t;
}

SeqTiming Timing(uint32_t tempo) {
    SeqTiming timing;
    timing.division = 480;
    timing.tempo = tempo;
    return timing;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compose-demo OUTPUT_FILE\n");
        return 2;
    }
    Bytes vh;
    Bytes vb;
    Bank(Lead, Bass, Struck(600, Pluck), vh, vb);
    Bytes vh2;
    Bytes vb2;
    Bank(Organ, Saw, Struck(900, Bell), vh2, vb2);
    const std::vector<NumberedSeq> set = {{0, Timing(500000), Tune(2, 4, false)},
                                          {1, Timing(400000), Tune(-3, 4, true)},
                                          {2, Timing(600000), Tune(5, 2, false)}};
    GameImage image(2026);
    image.Noise(3000).Zeros(2048);
    image.Raw(vh).Zeros(512).Raw(vb).Zeros(2048);
    image.Raw(BuildSingleSeq(Timing(500000), Tune(0, 8, true))).Zeros(1024).Noise(5000);
    image.Raw(BuildSeqSet(set).bytes).Zeros(4096);
    image.Raw(vh2).Zeros(256).Raw(vb2).Noise(7000);
    image.Raw(BuildSsq(480, 132, Tune(-5, 8, true))).Zeros(2048);
    image.Raw(BuildSingleSeq(Timing(450000), Tune(7, 4, false))).Noise(4000).Zeros(8192);
    if (!WriteFile(argv[1], image.bytes())) {
        std::fprintf(stderr, "compose-demo: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %llu bytes of synthetic game data\n", argv[1],
                static_cast<unsigned long long>(image.size()));
    return 0;
}
