// SPDX-License-Identifier: GPL-3.0-or-later
// Real-time outputs: FluidSynth's audio drivers with our render callback, and a null
// output whose thread asks for one period at a time on a steady clock.
#include "playback/audio_output.h"

#include <fluidsynth.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "playback/synth.h"

namespace sonvex {

namespace {

constexpr int kPeriodFrames = 512;

// The sound libraries report a missing device on stderr themselves; the error we return
// says it already, so their lines are kept off the terminal while a driver opens.
class QuietStderr {
  public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) {
            dup2(null, 2);
        }
        if (null >= 0) {
            close(null);
        }
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

class DriverOutput : public AudioOutput {
  public:
    DriverOutput(std::string name, AudioCallback callback)
        : name_(std::move(name)), callback_(std::move(callback)) {}
    ~DriverOutput() override {
        if (driver_ != nullptr) {
            delete_fluid_audio_driver(driver_);
        }
        if (settings_ != nullptr) {
            delete_fluid_settings(settings_);
        }
    }
    std::string Name() const override { return name_; }

    bool Open(double sampleRate, std::string& error) {
        settings_ = new_fluid_settings();
        if (settings_ == nullptr) {
            error = "settings cannot be made";
            return false;
        }
        fluid_settings_setstr(settings_, "audio.driver", name_.c_str());
        fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
        fluid_settings_setint(settings_, "audio.period-size", kPeriodFrames);
        fluid_settings_setint(settings_, "audio.periods", 4);
        SynthErrorText driverErrors;
        {
            SynthLogCapture capture(driverErrors);
            driver_ = new_fluid_audio_driver2(settings_, &DriverOutput::Callback, this);
        }
        if (driver_ == nullptr) {
            error = driverErrors.Take();
            if (error.empty()) {
                error = "no device";
            }
            return false;
        }
        return true;
    }

  private:
    static int Callback(void* data, int len, int, float*[], int nout, float* out[]) {
        auto* self = static_cast<DriverOutput*>(data);
        if (nout < 2 || len <= 0) {
            return FLUID_OK;
        }
        self->callback_(out[0], out[1], len);
        return FLUID_OK;
    }

    std::string name_;
    AudioCallback callback_;
    fluid_settings_t* settings_ = nullptr;
    fluid_audio_driver_t* driver_ = nullptr;
};

class NullOutput : public AudioOutput {
  public:
    NullOutput(double sampleRate, AudioCallback callback)
        : rate_(sampleRate), callback_(std::move(callback)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~NullOutput() override {
        quit_ = true;
        thread_.join();
    }
    std::string Name() const override { return "null"; }

  private:
    void Run() {
        std::vector<float> left(kPeriodFrames);
        std::vector<float> right(kPeriodFrames);
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(kPeriodFrames / rate_));
        auto due = std::chrono::steady_clock::now();
        while (!quit_) {
            callback_(left.data(), right.data(), kPeriodFrames);
            due += period;
            std::this_thread::sleep_until(due);
        }
    }

    double rate_;
    AudioCallback callback_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace

bool ParseOutputKind(std::string_view text, OutputKind& kind) {
    if (text == "auto") {
        kind = OutputKind::Auto;
    } else if (text == "pulseaudio" || text == "pulse" || text == "pipewire") {
        kind = OutputKind::PulseAudio;
    } else if (text == "alsa") {
        kind = OutputKind::Alsa;
    } else if (text == "sdl2") {
        kind = OutputKind::Sdl2;
    } else if (text == "null") {
        kind = OutputKind::Null;
    } else {
        return false;
    }
    return true;
}

std::unique_ptr<AudioOutput> OpenAudioOutput(OutputKind kind, double sampleRate,
                                             AudioCallback callback, std::string* error) {
    if (kind == OutputKind::Null) {
        return std::make_unique<NullOutput>(sampleRate, std::move(callback));
    }
    std::vector<std::string> drivers;
    switch (kind) {
    case OutputKind::PulseAudio:
        drivers = {"pulseaudio"};
        break;
    case OutputKind::Alsa:
        drivers = {"alsa"};
        break;
    case OutputKind::Sdl2:
        drivers = {"sdl2"};
        break;
    default:
        drivers = {"pulseaudio", "alsa", "sdl2"};
        break;
    }
    PrepareSynthLibrary();
    std::string why;
    for (const std::string& name : drivers) {
        auto output = std::make_unique<DriverOutput>(name, callback);
        std::string reason;
        bool opened = false;
        {
            QuietStderr quiet;
            opened = output->Open(sampleRate, reason);
        }
        if (opened) {
            return output;
        }
        why += (why.empty() ? "" : "; ") + name + ": " + reason;
    }
    if (error != nullptr) {
        *error = "no sound device could be opened (" + why + ")";
    }
    return nullptr;
}

} // namespace sonvex
