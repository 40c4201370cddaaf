// SPDX-License-Identifier: GPL-3.0-or-later
// Where real-time audio goes: a sound device through FluidSynth's audio drivers
// (PulseAudio, which PipeWire also serves, then ALSA, then SDL2), or a null output that
// pulls audio at the pace of real time without any device.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sonvex {

enum class OutputKind { Auto, PulseAudio, Alsa, Sdl2, Null };

// Fills `frames` frames of both channels; called from the output's own thread.
using AudioCallback = std::function<void(float* left, float* right, int frames)>;

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // The driver in use: "pulseaudio", "alsa", "sdl2" or "null".
    virtual std::string Name() const = 0;
};

// Opens an output that starts calling `callback` at once. Auto tries the devices in
// order and fails when none opens (it never falls back to Null on its own). Null
// with `error` saying why for each driver tried.
std::unique_ptr<AudioOutput> OpenAudioOutput(OutputKind kind, double sampleRate,
                                             AudioCallback callback, std::string* error);

// "auto", "pulseaudio", "alsa", "sdl2", "null"; false for anything else.
bool ParseOutputKind(std::string_view text, OutputKind& kind);

} // namespace sonvex
