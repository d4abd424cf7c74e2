#include "platform/synth/SynthPort.h"

#include "platform/instruments/DlsInstruments.h"
#include "platform/instruments/GeneralMidiSet.h"
#include "platform/synth/AutoDownload.h"
#include "platform/waves/WaveVoices.h"

#include "platform/runtime/FluidLibrary.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qorn::platform {
namespace {

// FluidSynth's own default level: leaves headroom for dense pieces at 0 dB.
constexpr double kBaseGain = 0.2;
constexpr int kDrumBank = 128;
constexpr int kReverbDepth = 91;
constexpr int kDefaultReverbSend = 40;
constexpr double kReverbDamp = 0.3;
constexpr double kImportantChannelWeight = 50000;

// A hall of about a second, like the reverb DirectMusic pieces were written
// for (FluidSynth's default room is much smaller): a tail that falls about
// 28 dB a second. FluidSynth keeps its reverb's delay lines as many samples
// long at every rate up to 44100 Hz, so the same room size rings longer at
// lower rates (16 dB a second at 11025 Hz); these sizes give every port the
// decay of the 44100 Hz one.
double ReverbRoomSize(int sampleRate) {
    if (sampleRate <= 11025) return 0.33;
    if (sampleRate <= 22050) return 0.49;
    return 0.6;
}
// The output may rest once nothing has played for a second and nothing has
// been heard for a tenth (the longest period of a low note): the voices'
// release is over and the reverb below -80 dBFS, under any room's noise at
// the loudest listening level.
constexpr double kRestAfterIdleSeconds = 1.0;
constexpr double kRestAfterQuietSeconds = 0.1;
constexpr float kInaudible = 1e-4f;

void quietFluidLogging() {
    static std::once_flag once;
    // These would be printed from the audio thread (a missing preset, no
    // free voice); the player has nowhere to show them anyway, and reports
    // its own failures by result.
    std::call_once(once, [] {
        fluid::fluid_set_log_function(FLUID_ERR, nullptr, nullptr);
        fluid::fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid::fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid::fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

// Routes a band's patch choice: an instrument of a collection loaded into the
// synthesizer, else the General MIDI preset through ordinary messages.
class SynthPatchTarget : public PatchTarget {
  public:
    SynthPatchTarget(fluid_synth_t* synth, std::vector<int> collectionFonts, std::uint16_t& drumChannels)
        : synth_(synth), fonts_(std::move(collectionFonts)), drumChannels_(drumChannels) {}

    void selectPatch(const music::PatchSelect& p, MidiSink& sink) override {
        // A drum kit plays drums on whatever channel its PChannel was given.
        const int ch = p.channel & 0x0F;
        fluid::fluid_synth_set_channel_type(synth_, ch, p.drums ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        const auto bit = static_cast<std::uint16_t>(1u << ch);
        drumChannels_ = static_cast<std::uint16_t>(p.drums ? drumChannels_ | bit : drumChannels_ & ~bit);
        if (p.collection < fonts_.size() && fonts_[p.collection] >= 0 &&
            instruments::SelectCollectionPatch(synth_, ch, fonts_[p.collection], p.bankMsb, p.bankLsb, p.program,
                                               p.drums))
            return;
        const auto cc = static_cast<std::uint8_t>(0xB0 | ch);
        sink.shortMessage(cc, 0, p.drums ? 0 : p.bankMsb & 0x7F);
        sink.shortMessage(cc, 32, p.drums ? 0 : p.bankLsb & 0x7F);
        sink.shortMessage(static_cast<std::uint8_t>(0xC0 | ch), p.program & 0x7F, 0);
    }

  private:
    fluid_synth_t* synth_;
    std::vector<int> fonts_;
    std::uint16_t& drumChannels_; // the port's, on the same thread
};

// The waves of one play: owned by its player, so they live exactly as long
// as the audio thread can reach them through the current play.
class SynthWaveTarget : public WaveTarget {
  public:
    SynthWaveTarget(const music::Sequence& sequence, int rate) : voices_(sequence, rate), rate_(rate) {}

    void startWave(const music::WaveItem& wave, double secondsLate) override {
        // Late by less than a block in steady play; more only after a stall.
        const double late = std::clamp(secondsLate * rate_, 0.0, 1e9);
        voices_.start(wave, static_cast<std::size_t>(std::lround(late)));
    }
    void reached(double tick) override { voices_.endBefore(tick); }
    void stopWaves() override { voices_.stopAll(); }
    void mix(float* left, float* right, int frames, float gain) { voices_.mix(left, right, frames, gain); }

  private:
    waves::WaveVoices voices_;
    int rate_;
};

// A synthesizer with its General MIDI set, made on any thread, owned by
// whoever holds it until a port takes it.
struct BuiltSynth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int font = -1;
    formats::Diagnostics warnings;
    std::string error;
    BuiltSynth() = default;
    BuiltSynth(const BuiltSynth&) = delete;
    BuiltSynth& operator=(const BuiltSynth&) = delete;
    ~BuiltSynth() {
        if (synth != nullptr) fluid::delete_fluid_synth(synth);
        if (settings != nullptr) fluid::delete_fluid_settings(settings);
    }
};

std::unique_ptr<BuiltSynth> BuildSynth(const SynthConfig& config, const std::string& soundFontPath, int threads) {
    auto built = std::make_unique<BuiltSynth>();
    fluid_settings_t* settings = built->settings = fluid::new_fluid_settings();
    if (settings == nullptr) {
        built->error = "cannot create synthesizer settings";
        return built;
    }
    fluid::fluid_settings_setnum(settings, "synth.sample-rate", config.sampleRate);
    fluid::fluid_settings_setint(settings, "synth.polyphony", config.voices);
    fluid::fluid_settings_setint(settings, "synth.cpu-cores", threads);
    fluid::fluid_settings_setint(settings, "synth.midi-channels", 16);
    fluid::fluid_settings_setint(settings, "synth.audio-channels", 1);
    fluid::fluid_settings_setint(settings, "synth.audio-groups", 1);
    fluid::fluid_settings_setint(settings, "synth.reverb.active", config.reverb ? 1 : 0);
    fluid::fluid_settings_setint(settings, "synth.chorus.active", config.chorus ? 1 : 0);
    fluid::fluid_settings_setnum(settings, "synth.gain", kBaseGain);
    // A channel a band ranks high gives up its voices last. FluidSynth favours
    // young voices by 1000 / their age in seconds; at the most weight it
    // allows for a marked channel, only notes begun in the last 20 ms outrank
    // it (at its default, those of the last 0.2 s).
    fluid::fluid_settings_setnum(settings, "synth.overflow.important", kImportantChannelWeight);
    fluid::fluid_settings_setnum(settings, "synth.reverb.room-size", ReverbRoomSize(config.sampleRate));
    fluid::fluid_settings_setnum(settings, "synth.reverb.damp", kReverbDamp);
    fluid::fluid_settings_setnum(settings, "synth.reverb.width", 1.0);
    // One thread touches the synthesizer at a time (the gate sees to it), so
    // FluidSynth's own mutex is not needed.
    fluid::fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    // Only the presets in use are read from the 141 MB SoundFont.
    fluid::fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid::fluid_settings_setint(settings, "synth.lock-memory", 0);
    built->synth = fluid::new_fluid_synth(settings);
    if (built->synth == nullptr) {
        built->error = "cannot create the synthesizer";
        return built;
    }
    built->font = instruments::LoadGeneralMidiSet(built->synth, soundFontPath, built->warnings, &built->error);
    return built;
}

// The synthesizer Prepare started, with what it was started for.
struct PreparedSynth {
    SynthConfig config;
    std::string soundFontPath;
    int threads;
    std::future<std::unique_ptr<BuiltSynth>> built;
};

std::optional<PreparedSynth>& Pending() {
    static std::optional<PreparedSynth> prepared;
    return prepared;
}

bool SameSettings(const SynthConfig& a, const SynthConfig& b) {
    return a.sampleRate == b.sampleRate && a.reverb == b.reverb && a.chorus == b.chorus && a.voices == b.voices;
}

} // namespace

void SynthPort::Prepare(const SynthConfig& config) {
    quietFluidLogging();
    // What the environment says is read here: the other thread reads none of it.
    std::string path = SoundFontPath();
    const int threads = SynthThreads();
    Pending().reset();
    Pending().emplace(PreparedSynth{config, path, threads, std::async(std::launch::async, [config, path, threads] {
                                        return BuildSynth(config, path, threads);
                                    })});
}

bool SynthPort::Prepared() {
    const auto& pending = Pending();
    return !pending || pending->built.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

SynthPort* SynthPort::Create(const SynthConfig& config, std::string* error) {
    quietFluidLogging();
    const std::string path = SoundFontPath();
    const int threads = SynthThreads();
    std::unique_ptr<BuiltSynth> built;
    if (auto& prepared = Pending(); prepared && SameSettings(prepared->config, config) &&
                                    prepared->soundFontPath == path && prepared->threads == threads)
        built = prepared->built.get();
    // One made for other settings is of no use any more.
    Pending().reset();
    if (!built) built = BuildSynth(config, path, threads);
    formats::Report(built->warnings);
    if (built->synth == nullptr || built->font < 0) {
        if (error) *error = built->error;
        return nullptr;
    }
    auto* port = new SynthPort(config, built->settings, built->synth, built->font);
    built->settings = nullptr;
    built->synth = nullptr;
    return port;
}

SynthPort* SynthPort::From(IDirectMusicPort* port) {
    return dynamic_cast<SynthPort*>(port);
}

SynthPort::SynthPort(const SynthConfig& config, fluid_settings_t* settings, fluid_synth_t* synth, int soundFont)
    : config_(config), settings_(settings), synth_(synth), soundFont_(soundFont), sink_(synth),
      pinned_((kDrumBank + 1) * 128, false), limiter_(config.sampleRate) {
    playback_.setControls(this);
    // The presets every channel starts with stay loaded, so a program change
    // back to them never reads the SoundFont on the audio thread.
    for (const PresetRef p : {PresetRef{0, 0}, PresetRef{kDrumBank, 0}}) {
        fluid::fluid_synth_pin_preset(synth_, soundFont_, p.bank, p.program);
        pinned_[std::size_t(p.bank * 128 + p.program)] = true;
    }
    // The usual default reverb depth of General MIDI synthesizers, so that
    // effects are heard on pieces that do not set it (FluidSynth starts at 0).
    for (int ch = 0; ch < 16; ++ch)
        fluid::fluid_synth_cc(synth_, ch, kReverbDepth, kDefaultReverbSend);
}

SynthPort::~SynthPort() {
    if (output_) output_->stop();
    output_.reset();
    fluid::delete_fluid_synth(synth_);
    fluid::delete_fluid_settings(settings_);
}

HRESULT SynthPort::Activate(BOOL enable) {
    if (enable) {
        if (!offline_ && !output_) output_ = OpenAudioOutput(config_.sampleRate, &SynthPort::renderCallback, this);
        playback_.setRunning(true);
    } else {
        if (output_) output_->stop();
        output_.reset();
        // No audio thread any more: settle what it left behind here.
        playback_.setRunning(false);
        playback_.drain(sink_, this);
    }
    return S_OK;
}

void SynthPort::lockGate() {
    while (gate_.exchange(true, std::memory_order_acquire))
        std::this_thread::yield();
}

void SynthPort::prepare(const music::Sequence& sequence, SequencePlayer& player, bool autoDownload) {
    if (autoDownload) {
        for (const PresetRef p : PresetsUsedBy(sequence)) {
            const std::size_t slot = std::size_t(p.bank * 128 + p.program);
            if (pinned_[slot]) continue;
            // One preset at a time, so the audio thread is kept from the
            // synthesizer only briefly.
            lockGate();
            fluid::fluid_synth_pin_preset(synth_, soundFont_, p.bank, p.program);
            unlockGate();
            pinned_[slot] = true;
        }
    }
    // Channels a band ranks above standard keep their voices when the
    // synthesizer runs out (FluidSynth counts channels from 1). Set for every
    // piece, so that one piece's ranking does not outlive it.
    std::string important;
    for (const auto& p : sequence.priorities)
        if (p.priority >= music::ChannelPriority::kHigh && player.audibleGroups()[p.group])
            important += (important.empty() ? "" : ",") + std::to_string(p.channel + 1);
    lockGate();
    fluid::fluid_settings_setstr(settings_, "synth.overflow.important-channels", important.c_str());
    unlockGate();
    if (!sequence.waves.empty())
        player.setWaveTarget(std::make_unique<SynthWaveTarget>(sequence, static_cast<int>(config_.sampleRate)));
    std::vector<int> fonts = loadCollections(sequence);
    if (!sequence.patches.empty())
        player.setPatchTarget(std::make_unique<SynthPatchTarget>(synth_, std::move(fonts), drumChannels_));
}

std::vector<int> SynthPort::loadCollections(const music::Sequence& sequence) {
    // Collections of the previous piece that this one does not use go, so
    // memory does not grow with every file played.
    for (auto it = collections_.begin(); it != collections_.end();) {
        const bool used = std::any_of(sequence.collections.begin(), sequence.collections.end(),
                                      [&](const auto& c) { return c.get() == it->first; });
        if (used) {
            ++it;
            continue;
        }
        lockGate();
        instruments::RemoveCollectionFromSynth(synth_, it->second);
        unlockGate();
        it = collections_.erase(it);
    }
    lockGate();
    instruments::ReleaseUnusedCollections(synth_);
    unlockGate();
    // Each collection the piece carries becomes a SoundFont of its own
    // (-1: could not be loaded, General MIDI stands in).
    std::vector<int> fonts;
    for (const auto& collection : sequence.collections) {
        int id = -1;
        for (const auto& [known, knownId] : collections_)
            if (known == collection.get()) id = knownId;
        if (id < 0 && collection) {
            lockGate();
            id = instruments::AddCollectionToSynth(synth_, collection);
            unlockGate();
            if (id >= 0) collections_.emplace_back(collection.get(), id);
        }
        fonts.push_back(id);
    }
    return fonts;
}

void SynthPort::setGain(float linearGain) {
    waveGain_.store(linearGain, std::memory_order_relaxed);
    fluid::fluid_synth_set_gain(synth_, static_cast<float>(kBaseGain * linearGain));
}

void SynthPort::playStarting() {
    // A band's drum kit on another channel, or its instrument on the drum
    // channel, was for its own piece: the next one finds each channel as a
    // fresh synthesizer has it, with the first instrument of its kind (kept
    // loaded, so nothing is read here).
    const auto usual = static_cast<std::uint16_t>(1u << music::kDrumChannel);
    for (int ch = 0; ch < 16; ++ch) {
        if (((drumChannels_ ^ usual) >> ch & 1u) == 0) continue;
        fluid::fluid_synth_set_channel_type(synth_, ch,
                                            ch == music::kDrumChannel ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        fluid::fluid_synth_bank_select(synth_, ch, 0);
        fluid::fluid_synth_program_change(synth_, ch, 0);
    }
    drumChannels_ = usual;
}

void SynthPort::wake() {
    if (output_) output_->wake();
}

bool SynthPort::renderCallback(void* context, float* left, float* right, int frames) {
    return static_cast<SynthPort*>(context)->render(left, right, frames);
}

bool SynthPort::render(float* left, float* right, int frames) {
    while (frames > 0) {
        if (blockPos_ == kBlockFrames) {
            renderBlock();
            blockPos_ = 0;
        }
        const int n = std::min(frames, kBlockFrames - blockPos_);
        std::memcpy(left, block_[0] + blockPos_, sizeof(float) * std::size_t(n));
        std::memcpy(right, block_[1] + blockPos_, sizeof(float) * std::size_t(n));
        blockPos_ += n;
        left += n;
        right += n;
        frames -= n;
    }
    return idleFrames_ < std::uint64_t(kRestAfterIdleSeconds * config_.sampleRate) ||
           quietFrames_ < std::uint64_t(kRestAfterQuietSeconds * config_.sampleRate);
}

void SynthPort::renderBlock() {
    if (gate_.exchange(true, std::memory_order_acquire)) {
        std::memset(block_, 0, sizeof(block_));
        limiter_.process(block_[0], block_[1]);
        frame_ += kBlockFrames;
        quietFrames_ = 0;
        return;
    }
    // Everything due at or before this block's first frame, then the block.
    sink_.setFrame(frame_);
    playback_.applyCommands(sink_, this);
    playback_.advance(double(kBlockFrames) / config_.sampleRate, sink_);
    fluid::fluid_synth_write_float(synth_, kBlockFrames, block_[0], 0, 1, block_[1], 0, 1);
    // Only this port's prepare() gives its plays a wave target.
    SequencePlayer* play = playback_.current();
    if (play != nullptr && play->waveTarget() != nullptr)
        static_cast<SynthWaveTarget*>(play->waveTarget())
            ->mix(block_[0], block_[1], kBlockFrames, waveGain_.load(std::memory_order_relaxed));
    const bool voices = fluid::fluid_synth_get_active_voice_count(synth_) > 0;
    gate_.store(false, std::memory_order_release);
    limiter_.process(block_[0], block_[1]);
    frame_ += kBlockFrames;
    // The last notes' release and the reverb's tail count as sound; the
    // block is looked at only once nothing plays and no voice is left.
    bool quiet = play == nullptr && !voices;
    for (const auto& channel : block_)
        for (std::size_t i = 0; quiet && i < kBlockFrames; ++i)
            quiet = std::fabs(channel[i]) < kInaudible;
    idleFrames_ = play == nullptr ? idleFrames_ + kBlockFrames : 0;
    quietFrames_ = quiet ? quietFrames_ + kBlockFrames : 0;
}

int SynthPort::renderOfflineRun(float* left, float* right, int frames) {
    // What is left of a begun block, or less than a block, goes the usual way.
    if (blockPos_ != kBlockFrames || frames < kBlockFrames) {
        const int n = blockPos_ == kBlockFrames ? frames : std::min(frames, kBlockFrames - blockPos_);
        render(left, right, n);
        return n;
    }
    if (gate_.exchange(true, std::memory_order_acquire)) {
        render(left, right, kBlockFrames);
        return kBlockFrames;
    }
    // The first block as renderBlock() does it; commands come only from this
    // thread between calls, so none arrive during the run.
    const double step = double(kBlockFrames) / config_.sampleRate;
    const bool wasActive = playback_.active();
    sink_.setFrame(frame_);
    playback_.applyCommands(sink_, this);
    playback_.advance(step, sink_);
    int blocks = 1;
    if (playback_.active() == wasActive)
        for (; blocks < frames / kBlockFrames && playback_.quietFor(step); ++blocks)
            playback_.advance(step, sink_);
    const int n = blocks * kBlockFrames;
    fluid::fluid_synth_write_float(synth_, n, left, 0, 1, right, 0, 1);
    if (SequencePlayer* play = playback_.current(); play != nullptr && play->waveTarget() != nullptr)
        static_cast<SynthWaveTarget*>(play->waveTarget())
            ->mix(left, right, n, waveGain_.load(std::memory_order_relaxed));
    gate_.store(false, std::memory_order_release);
    for (int at = 0; at < n; at += kBlockFrames)
        limiter_.process(left + at, right + at);
    frame_ += std::uint64_t(n);
    return n;
}

} // namespace qorn::platform
