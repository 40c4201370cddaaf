// SPDX-License-Identifier: GPL-3.0-or-later
// Rendering through FluidSynth's own SF2 loader and MIDI player.
#include "playback/soundfont_render.h"

#include <fluidsynth.h>

#include <memory>

namespace sonvex {

namespace {

thread_local std::vector<std::string>* tLoaderMessages = nullptr;

void KeepLoaderMessage(int, const char* message, void*) {
    if (tLoaderMessages != nullptr && message != nullptr) {
        tLoaderMessages->emplace_back(message);
    }
}

// The longest song rendered, in seconds.
constexpr double kLongestSeconds = 3600.0;
constexpr int kBlock = 64;

} // namespace

SoundFontRender RenderWithSoundFont(const std::string& smfPath, const std::string& sf2Path,
                                    const SynthOptions& options, double tailSeconds) {
    SoundFontRender out;
    out.sampleRate = options.sampleRate;
    PrepareSynthLibrary();
    std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> settings(
        new_fluid_settings(), delete_fluid_settings);
    if (!settings) {
        out.error = "the synthesizer settings cannot be made";
        return out;
    }
    fluid_settings_setnum(settings.get(), "synth.sample-rate", options.sampleRate);
    fluid_settings_setnum(settings.get(), "synth.gain", options.gain);
    fluid_settings_setint(settings.get(), "synth.reverb.active", options.reverb ? 1 : 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", options.chorus ? 1 : 0);
    fluid_settings_setint(settings.get(), "synth.polyphony", options.polyphony);
    fluid_settings_setint(settings.get(), "synth.cpu-cores", 1);
    fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
    std::unique_ptr<fluid_synth_t, decltype(&delete_fluid_synth)> synth(
        new_fluid_synth(settings.get()), delete_fluid_synth);
    if (!synth) {
        out.error = "the synthesizer cannot be made";
        return out;
    }

    // The loader's warnings and errors are caught here; PrepareSynthLibrary's handlers
    // (which take no data) are put back afterwards.
    tLoaderMessages = &out.loaderMessages;
    fluid_log_function_t oldWarn = fluid_set_log_function(FLUID_WARN, KeepLoaderMessage, nullptr);
    fluid_log_function_t oldErr = fluid_set_log_function(FLUID_ERR, KeepLoaderMessage, nullptr);
    const int font = fluid_synth_sfload(synth.get(), sf2Path.c_str(), 1);
    fluid_set_log_function(FLUID_WARN, oldWarn, nullptr);
    fluid_set_log_function(FLUID_ERR, oldErr, nullptr);
    tLoaderMessages = nullptr;
    if (font < 0) {
        out.error = sf2Path + ": FluidSynth's SoundFont loader cannot load it";
        return out;
    }

    const auto render = [&](int frames) {
        const size_t at = out.left.size();
        out.left.resize(at + frames);
        out.right.resize(at + frames);
        fluid_synth_write_float(synth.get(), frames, out.left.data() + at, 0, 1,
                                out.right.data() + at, 0, 1);
    };
    const auto longest = static_cast<size_t>(kLongestSeconds * options.sampleRate);
    if (!smfPath.empty()) {
        std::unique_ptr<fluid_player_t, decltype(&delete_fluid_player)> player(
            new_fluid_player(synth.get()), delete_fluid_player);
        if (!player || fluid_player_add(player.get(), smfPath.c_str()) != FLUID_OK ||
            fluid_player_play(player.get()) != FLUID_OK) {
            out.error = smfPath + ": FluidSynth's MIDI player cannot play it";
            return out;
        }
        while (fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING &&
               out.left.size() < longest) {
            render(kBlock);
        }
    }
    render(static_cast<int>(tailSeconds * options.sampleRate));
    out.ok = true;
    return out;
}

} // namespace sonvex
