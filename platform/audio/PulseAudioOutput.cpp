#include "platform/audio/PulseAudioOutput.h"

#include "platform/audio/SilentAudioOutput.h"

#include "platform/runtime/PulseLibrary.h"
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace qorn::platform {
namespace {

std::atomic<long long> gUnderruns{0};

// The whole buffer, server side included, and the step it is refilled in:
// the server asks for a little at a time while most of the buffer is still
// queued, so a late wake-up on either side costs nothing audible. On a busy
// two-core machine 12-15 ms in 3 ms steps still ran dry now and then; 16 ms
// in 2 ms steps did not. Overridable for measurements.
constexpr double kTargetMs = 16.0;
constexpr double kRequestMs = 2.0;
constexpr int kChunkFrames = 1024;
constexpr int kRealtimePriority = 60;
constexpr auto kConnectLimit = std::chrono::seconds(2);
// How often a lost server is looked for again.
constexpr pa_usec_t kRetryUsec = 500'000;

double MsFromEnvironment(const char* name, double fallback) {
    if (const char* text = std::getenv(name); text != nullptr) {
        const double ms = std::atof(text);
        if (ms >= 0.5 && ms <= 1000) return ms;
    }
    return fallback;
}

class PulseAudioOutput final : public AudioOutput {
  public:
    PulseAudioOutput(int sampleRate, AudioRenderFn render, void* context)
        : rate_(sampleRate), render_(render), context_(context) {}

    ~PulseAudioOutput() override { stop(); }

    bool start() {
        loop_ = pulse::pa_threaded_mainloop_new();
        if (loop_ == nullptr) return false;
        pulse::pa_threaded_mainloop_set_name(loop_, "qorn-pulse");
        props_ = pulse::pa_proplist_new();
        pulse::pa_proplist_sets(props_, PA_PROP_APPLICATION_NAME, "Qor_n");
        pulse::pa_proplist_sets(props_, PA_PROP_APPLICATION_ICON_NAME, "qorn");
        pulse::pa_proplist_sets(props_, PA_PROP_MEDIA_ROLE, "music");
        if (pulse::pa_threaded_mainloop_start(loop_) < 0) return false;

        pulse::pa_threaded_mainloop_lock(loop_);
        const bool ready = openServer() && waitUntil([this] {
                               const pa_context_state_t state = pulse::pa_context_get_state(server_);
                               return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
                           }) &&
                           openStream() && waitUntil([this] {
                               const pa_stream_state_t state = pulse::pa_stream_get_state(stream_);
                               return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
                           });
        started_ = ready;
        // Started here, resting until the server is lost: the loop's thread
        // then only wakes it, with no thread to start or memory to take.
        if (ready) fallback_ = MakeSilentAudioOutput(rate_, &PulseAudioOutput::renderOnceLost, this);
        pulse::pa_threaded_mainloop_unlock(loop_);
        return ready;
    }

    void stop() override {
        std::lock_guard lock(stopMutex_);
        if (loop_ != nullptr) {
            pulse::pa_threaded_mainloop_lock(loop_);
            stopping_ = true;
            pa_mainloop_api* api = pulse::pa_threaded_mainloop_get_api(loop_);
            for (pa_time_event** event : {&retry_, &rest_})
                if (*event != nullptr) api->time_free(*event);
            retry_ = rest_ = nullptr;
            closeServer();
            pulse::pa_threaded_mainloop_unlock(loop_);
            // Joins the loop's thread: no callback runs afterwards.
            pulse::pa_threaded_mainloop_stop(loop_);
            pulse::pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
        if (props_ != nullptr) pulse::pa_proplist_free(props_);
        props_ = nullptr;
        if (fallback_) fallback_->stop();
        fallback_.reset();
    }

    std::string name() const override { return kPulseNativeDriver; }

    void wake() override {
        if (loop_ == nullptr) return;
        pulse::pa_threaded_mainloop_lock(loop_);
        if (resting_) {
            // A fresh stream: one whose close is still pending would not ask
            // again for what it asked for while resting, and a new one starts
            // empty, so the new sound is not queued behind anything.
            resting_ = false;
            closeStream();
            if (!lost_.load(std::memory_order_relaxed) && server_ != nullptr &&
                pulse::pa_context_get_state(server_) == PA_CONTEXT_READY && !openStream())
                retryLater();
        }
        // A server that came back since the last try is tried now, so the
        // next play is heard there.
        if (retry_ != nullptr) {
            timeval now{};
            pulse::pa_threaded_mainloop_get_api(loop_)->time_restart(retry_, pulse::pa_gettimeofday(&now));
        }
        pulse::pa_threaded_mainloop_unlock(loop_);
        if (fallback_) fallback_->wake();
    }

  private:
    // Called with the loop locked; `check` gives 1 when done, -1 on failure.
    template <typename Check> bool waitUntil(Check check) {
        const auto deadline = std::chrono::steady_clock::now() + kConnectLimit;
        for (;;) {
            const int result = check();
            if (result != 0) return result > 0;
            if (std::chrono::steady_clock::now() > deadline) return false;
            pulse::pa_threaded_mainloop_unlock(loop_);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            pulse::pa_threaded_mainloop_lock(loop_);
        }
    }

    // With the loop locked (or on its thread): starts connecting to the
    // user's sound server; onServerState follows it.
    bool openServer() {
        server_ = pulse::pa_context_new_with_proplist(pulse::pa_threaded_mainloop_get_api(loop_), "Qor_n", props_);
        if (server_ == nullptr) return false;
        pulse::pa_context_set_state_callback(server_, &PulseAudioOutput::onServerState, this);
        return pulse::pa_context_connect(server_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    // Starts the playback stream on a connected server; onStreamState follows it.
    bool openStream() {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate_), 2};
        pa_channel_map map;
        pulse::pa_channel_map_init_stereo(&map);
        stream_ = pulse::pa_stream_new_with_proplist(server_, "Music", &format, &map, props_);
        if (stream_ == nullptr) return false;
        resting_ = false;
        pulse::pa_stream_set_state_callback(stream_, &PulseAudioOutput::onStreamState, this);
        pulse::pa_stream_set_write_callback(stream_, &PulseAudioOutput::onWrite, this);
        pulse::pa_stream_set_underflow_callback(stream_, &PulseAudioOutput::onUnderflow, nullptr);

        const auto usec = [](double ms) { return static_cast<pa_usec_t>(ms * 1000); };
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(
            pulse::pa_usec_to_bytes(usec(MsFromEnvironment("QORN_PULSE_TARGET_MS", kTargetMs)), &format));
        attr.minreq = static_cast<std::uint32_t>(
            pulse::pa_usec_to_bytes(usec(MsFromEnvironment("QORN_PULSE_REQUEST_MS", kRequestMs)), &format));
        // After running dry, play again as soon as one request has arrived.
        attr.prebuf = attr.minreq;
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // The server splits the target between its own buffer and ours.
        return pulse::pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) >=
               0;
    }

    // With the loop locked: lets go of the stream, quietly.
    void closeStream() {
        if (stream_ == nullptr) return;
        pulse::pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pulse::pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pulse::pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pulse::pa_stream_disconnect(stream_);
        pulse::pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    // With the loop locked: lets go of the stream and the server, quietly.
    void closeServer() {
        closeStream();
        if (server_ != nullptr) {
            pulse::pa_context_set_state_callback(server_, nullptr, nullptr);
            pulse::pa_context_disconnect(server_);
            pulse::pa_context_unref(server_);
            server_ = nullptr;
        }
    }

    // The loop's thread: render what the server asks for straight into its
    // buffer.
    static void onWrite(pa_stream* stream, std::size_t bytes, void* data) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        // Once the silent output renders, a request still queued from the
        // dying server must not: the music has one consumer at a time.
        if (self->lost_.load(std::memory_order_seq_cst) || self->resting_) return;
        if (!self->prioritySet_) {
            self->prioritySet_ = true;
            sched_param param{};
            param.sched_priority = kRealtimePriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); // best effort
        }
        // Just handed back from the silent output, which may still be in
        // its last render: this request gets silence.
        const bool silentStillRenders = self->silentRenders_.load(std::memory_order_seq_cst);
        constexpr std::size_t frameBytes = 2 * sizeof(float);
        while (bytes >= frameBytes) {
            void* buffer = nullptr;
            std::size_t size = std::min(bytes, kChunkFrames * frameBytes);
            if (pulse::pa_stream_begin_write(stream, &buffer, &size) < 0 || buffer == nullptr) return;
            const int frames = static_cast<int>(size / frameBytes);
            if (frames == 0) {
                pulse::pa_stream_cancel_write(stream);
                return;
            }
            // Cleared like a driver's buffers, for renderers that mix into them.
            std::fill_n(self->left_.begin(), frames, 0.0f);
            std::fill_n(self->right_.begin(), frames, 0.0f);
            bool busy = true;
            if (self->render_ != nullptr && !silentStillRenders)
                busy = self->render_(self->context_, self->left_.data(), self->right_.data(), frames);
            auto* out = static_cast<float*>(buffer);
            for (int i = 0; i < frames; ++i) {
                out[2 * i] = self->left_[static_cast<std::size_t>(i)];
                out[2 * i + 1] = self->right_[static_cast<std::size_t>(i)];
            }
            const std::size_t written = static_cast<std::size_t>(frames) * frameBytes;
            if (pulse::pa_stream_write(stream, buffer, written, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
            bytes -= written;
            if (!busy && self->started_) {
                // Nothing to hear for a while: the stream closes (a paused
                // one would still keep the server busy) until wake().
                self->resting_ = true;
                self->schedule(self->rest_, &PulseAudioOutput::onRest, 0);
                return;
            }
        }
    }

    static void onUnderflow(pa_stream*, void*) { gUnderruns.fetch_add(1, std::memory_order_relaxed); }

    static void onServerState(pa_context* server, void* data) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        const pa_context_state_t state = pulse::pa_context_get_state(server);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            self->serverLost();
        } else if (state == PA_CONTEXT_READY && self->started_ && self->stream_ == nullptr) {
            // Back after a loss or a failed try: a stream of its own, handed
            // the music once ready.
            if (!self->openStream()) self->retryLater();
        }
    }

    static void onStreamState(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        const pa_stream_state_t state = pulse::pa_stream_get_state(stream);
        if (!PA_STREAM_IS_GOOD(state)) {
            self->serverLost();
        } else if (state == PA_STREAM_READY && self->lost_.load(std::memory_order_relaxed)) {
            // The server renders again; the silent output stops at its next
            // period (onWrite stays silent until it has).
            self->lost_.store(false, std::memory_order_seq_cst);
        }
    }

    // The server died or dropped the stream: no more requests will come, so
    // the silent sink takes over the rendering and the music's clock runs
    // on, while the server is tried again now and then.
    void serverLost() {
        if (!started_ || stopping_) return;
        if (!lost_.exchange(true, std::memory_order_seq_cst)) fallback_->wake();
        retryLater();
    }

    // `event` runs `handler` on the loop's thread after `delay`, unless
    // already scheduled.
    void schedule(pa_time_event*& event, pa_time_event_cb_t handler, pa_usec_t delay) {
        if (event != nullptr || stopping_) return;
        timeval when{};
        pulse::pa_timeval_add(pulse::pa_gettimeofday(&when), delay);
        pa_mainloop_api* api = pulse::pa_threaded_mainloop_get_api(loop_);
        event = api->time_new(api, &when, handler, this);
    }
    void retryLater() { schedule(retry_, &PulseAudioOutput::onRetry, kRetryUsec); }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        api->time_free(event);
        self->retry_ = nullptr;
        self->closeServer();
        if (!self->openServer()) self->retryLater();
    }

    static void onRest(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        api->time_free(event);
        self->rest_ = nullptr;
        // Unless woken meanwhile.
        if (self->resting_) self->closeStream();
    }

    // The silent sink's thread: renders only while the server is lost,
    // and rests otherwise.
    static bool renderOnceLost(void* data, float* left, float* right, int frames) {
        auto* self = static_cast<PulseAudioOutput*>(data);
        // Marked before looking, so that onWrite, which looks the other way
        // round, never renders at the same time.
        self->silentRenders_.store(true, std::memory_order_seq_cst);
        const bool busy = self->lost_.load(std::memory_order_seq_cst) && self->render_ != nullptr &&
                          self->render_(self->context_, left, right, frames);
        self->silentRenders_.store(false, std::memory_order_release);
        return busy;
    }

    const int rate_;
    const AudioRenderFn render_;
    void* const context_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_proplist* props_ = nullptr;
    // Guarded by the loop's lock.
    pa_context* server_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* rest_ = nullptr;
    bool started_ = false;
    bool stopping_ = false;
    bool resting_ = false;
    std::unique_ptr<AudioOutput> fallback_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> silentRenders_{false};
    // The loop's thread only.
    bool prioritySet_ = false;
    std::array<float, kChunkFrames> left_{};
    std::array<float, kChunkFrames> right_{};
    std::mutex stopMutex_;
};

} // namespace

std::unique_ptr<AudioOutput> OpenPulseAudioOutput(int sampleRate, AudioRenderFn render, void* context) {
    if (sampleRate <= 0) return nullptr;
    auto output = std::make_unique<PulseAudioOutput>(sampleRate, render, context);
    if (!output->start()) return nullptr;
    return output;
}

long long PulseAudioUnderruns() {
    return gUnderruns.load(std::memory_order_relaxed);
}

} // namespace qorn::platform
