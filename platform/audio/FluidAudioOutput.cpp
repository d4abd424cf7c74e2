#include "platform/audio/FluidAudioOutput.h"

#include "platform/audio/QuietDriverLogs.h"

#include "platform/runtime/FluidLibrary.h"
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

namespace qorn::platform {
namespace {

// Small periods keep latency low; four of them ride out a busy machine.
constexpr int kPeriodFrames = 512;
constexpr int kPeriods = 4;
constexpr int kRealtimePriority = 60;
// A sound server mixes on its own real-time thread and asks for data as its
// buffer drains, so our side needs far less: about 20 ms, in whole blocks of
// the synthesizer (64 frames). 10 to 15 ms still ran dry now and then on a busy
// two-core machine. Overridable for measurements.
constexpr int kSoundServerPeriodsPerSecond = 50;
constexpr int kBlockFrames = 64;

int SoundServerPeriodFrames(int sampleRate) {
    if (const char* forced = std::getenv("QORN_SERVER_PERIOD_FRAMES"); forced != nullptr) {
        const int frames = std::atoi(forced);
        if (frames >= kBlockFrames && frames <= 8192) return frames;
    }
    const int frames = (sampleRate + kSoundServerPeriodsPerSecond - 1) / kSoundServerPeriodsPerSecond;
    return (frames + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { fluid::delete_fluid_settings(s); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;

// FluidSynth warns from inside its driver thread, after probing is over,
// when it may not raise that thread's priority; ask for real-time priority
// only where a thread of ours can actually get it.
bool CanUseRealtimePriority() {
    static const bool allowed = [] {
        bool ok = false;
        std::thread probe([&ok] {
            sched_param param{};
            param.sched_priority = kRealtimePriority;
            ok = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        });
        probe.join();
        return ok;
    }();
    return allowed;
}

// FluidSynth's SDL2 driver needs SDL's audio subsystem started by the
// program. SDL comes with FluidSynth, so it is reached through the loaded
// library rather than linked (no SDL build dependency); reference counted.
// (FluidSynth 2.3 still refuses callback mode on SDL2, so there the driver
// just fails; a version that accepts it finds SDL ready.)
class SdlAudioSubsystem {
  public:
    SdlAudioSubsystem() {
        auto init = reinterpret_cast<int (*)(std::uint32_t)>(dlsym(RTLD_DEFAULT, "SDL_InitSubSystem"));
        quit_ = reinterpret_cast<void (*)(std::uint32_t)>(dlsym(RTLD_DEFAULT, "SDL_QuitSubSystem"));
        started_ = init != nullptr && quit_ != nullptr && init(kSdlInitAudio) == 0;
    }
    ~SdlAudioSubsystem() {
        if (started_) quit_(kSdlInitAudio);
    }
    SdlAudioSubsystem(const SdlAudioSubsystem&) = delete;
    SdlAudioSubsystem& operator=(const SdlAudioSubsystem&) = delete;
    bool started() const { return started_; }

  private:
    static constexpr std::uint32_t kSdlInitAudio = 0x10;
    void (*quit_)(std::uint32_t) = nullptr;
    bool started_ = false;
};

class FluidAudioOutput final : public AudioOutput {
  public:
    FluidAudioOutput(std::string driverName, AudioRenderFn render, void* context)
        : driverName_(std::move(driverName)), render_(render), context_(context) {}

    ~FluidAudioOutput() override { stop(); }

    bool start(SettingsPtr settings) {
        if (driverName_ == "sdl2") {
            sdl_.emplace();
            if (!sdl_->started()) return false;
        }
        settings_ = std::move(settings);
        driver_ = fluid::new_fluid_audio_driver2(settings_.get(), &FluidAudioOutput::callback, this);
        return driver_ != nullptr;
    }

    void stop() override {
        std::lock_guard lock(stopMutex_);
        // Deleting the driver joins its thread: no callback runs afterwards.
        if (driver_ != nullptr) fluid::delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
        sdl_.reset();
    }

    std::string name() const override { return driverName_; }

  private:
    static int callback(void* data, int len, int /*nfx*/, float* /*fx*/[], int nout, float* out[]) {
        auto* self = static_cast<FluidAudioOutput*>(data);
        if (nout < 2 || out == nullptr || len <= 0) return FLUID_OK;
        // FluidSynth's drivers cannot pause: they are fed silence at rest.
        if (self->render_ != nullptr) self->render_(self->context_, out[0], out[1], len);
        return FLUID_OK;
    }

    const std::string driverName_;
    const AudioRenderFn render_;
    void* const context_;
    std::optional<SdlAudioSubsystem> sdl_;
    SettingsPtr settings_;
    fluid_audio_driver_t* driver_ = nullptr;
    std::mutex stopMutex_;
};

} // namespace

std::vector<std::string> PreferredAudioDrivers() {
    return {"pipewire", "pulseaudio", "alsa", "sdl2"};
}

std::vector<std::string> AvailableAudioDrivers() {
    std::vector<std::string> names;
    SettingsPtr settings(fluid::new_fluid_settings());
    if (!settings) return names;
    fluid::fluid_settings_foreach_option(settings.get(), "audio.driver", &names,
                                         [](void* data, const char*, const char* option) {
                                             if (option != nullptr)
                                                 static_cast<std::vector<std::string>*>(data)->push_back(option);
                                         });
    return names;
}

std::unique_ptr<AudioOutput> OpenFluidAudioOutput(const std::string& driver, int sampleRate, AudioRenderFn render,
                                                  void* context) {
    const auto available = AvailableAudioDrivers();
    if (std::find(available.begin(), available.end(), driver) == available.end()) return nullptr;

    QuietDriverLogs quiet;
    SettingsPtr settings(fluid::new_fluid_settings());
    if (!settings) return nullptr;
    fluid::fluid_settings_setstr(settings.get(), "audio.driver", driver.c_str());
    fluid::fluid_settings_setnum(settings.get(), "synth.sample-rate", sampleRate);
    fluid::fluid_settings_setint(settings.get(), "audio.period-size", kPeriodFrames);
    fluid::fluid_settings_setint(settings.get(), "audio.periods", kPeriods);
    fluid::fluid_settings_setint(settings.get(), "audio.realtime-prio",
                                 CanUseRealtimePriority() ? kRealtimePriority : 0);
    if (driver == "pulseaudio" || driver == "pipewire") {
        // These drivers' whole buffer is one period (they ignore audio.periods).
        fluid::fluid_settings_setint(settings.get(), "audio.period-size", SoundServerPeriodFrames(sampleRate));
    }
    if (driver == "pulseaudio") fluid::fluid_settings_setstr(settings.get(), "audio.pulseaudio.media-role", "music");

    auto output = std::make_unique<FluidAudioOutput>(driver, render, context);
    if (!output->start(std::move(settings))) return nullptr;
    return output;
}

} // namespace qorn::platform
