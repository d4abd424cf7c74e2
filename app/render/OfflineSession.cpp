#include "app/render/OfflineSession.h"

#include "platform/MusicPlatform.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"
#include "platform/synth/SynthPort.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qorn::render {
using namespace qorn::platform;

namespace {

template <typename T> void releaseAndClear(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

constexpr int kChunk = SynthPort::kBlockFrames;
// Most frames rendered at once (93 ms at 44.1 kHz): FluidSynth's threads
// meet once a call, so the fewer calls the better.
constexpr int kRun = 64 * kChunk;

} // namespace

bool OfflineSession::createObjects(std::string* error) {
    RegisterMusicPlatform();
    auto failWith = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (FAILED(CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusic2,
                                reinterpret_cast<void**>(&directMusic_))))
        return failWith("cannot create the DirectMusic object");
    if (FAILED(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDirectMusicPerformance2, reinterpret_cast<void**>(&performance_))) ||
        performance_->Init(nullptr, nullptr, nullptr) != S_OK)
        return failWith("cannot create the performance");
    if (FAILED(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusicLoader,
                                reinterpret_cast<void**>(&loader_))))
        return failWith("cannot create the loader");
    return true;
}

std::unique_ptr<OfflineSession> OfflineSession::CreateWithoutSound(std::string* error) {
    std::unique_ptr<OfflineSession> s(new OfflineSession());
    if (!s->createObjects(error)) return nullptr;
    return s;
}

std::unique_ptr<OfflineSession> OfflineSession::Create(int sampleRate, bool effects, std::string* error) {
    std::unique_ptr<OfflineSession> s(new OfflineSession());
    if (!s->createObjects(error)) return nullptr;
    // The port the player builds for its synthesizer entry at this rate.
    DMUS_PORTPARAMS params = engine::OutputPortParams(true, DWORD(sampleRate), effects);
    TakeErrorInfoText();
    if (FAILED(s->directMusic_->CreatePort(GUID_NULL, &params, &s->portIf_, nullptr)) || s->portIf_ == nullptr) {
        const std::string why = TakeErrorInfoText();
        if (error)
            *error = why.empty() ? "cannot create the synthesizer (is the SoundFont installed?)"
                                 : "cannot create the synthesizer: " + why;
        return nullptr;
    }
    s->synth_ = SynthPort::From(s->portIf_);
    s->sampleRate_ = static_cast<int>(params.dwSampleRate);
    s->synth_->setOffline(true);
    if (engine::ConnectPort(s->performance_, s->portIf_) != engine::PortStep::Done) {
        if (error) *error = "cannot set up the performance";
        return nullptr;
    }
    return s;
}

OfflineSession::~OfflineSession() {
    releaseAndClear(state_);
    releaseAndClear(segment_);
    releaseAndClear(loader_);
    if (performance_ != nullptr) {
        if (portIf_ != nullptr) performance_->RemovePort(portIf_);
        performance_->CloseDown();
    }
    releaseAndClear(performance_);
    releaseAndClear(portIf_);
    releaseAndClear(directMusic_);
}

bool OfflineSession::load(const std::string& path, std::string* error, const std::string& segment) {
    releaseAndClear(state_);
    releaseAndClear(segment_);
    auto desc = std::make_unique<DMUS_OBJECTDESC>();
    std::memset(desc.get(), 0, sizeof(DMUS_OBJECTDESC));
    desc->dwSize = sizeof(DMUS_OBJECTDESC);
    desc->dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FULLPATH;
    desc->guidClass = CLSID_DirectMusicSegment;
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, path.c_str(), -1, desc->wszFileName, DMUS_MAX_FILENAME) == 0) {
        if (error) *error = "the path is too long";
        return false;
    }
    if (!segment.empty()) {
        desc->dwValidData |= DMUS_OBJ_NAME;
        if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, segment.c_str(), -1, desc->wszName, DMUS_MAX_NAME) == 0) {
            if (error) *error = "the segment name is too long";
            return false;
        }
    }
    const HRESULT hr = loader_->GetObject(desc.get(), IID_IDirectMusicSegment2, reinterpret_cast<void**>(&segment_));
    if (FAILED(hr) || segment_ == nullptr) {
        if (error)
            *error =
                dynamic_cast<Loader*>(loader_) != nullptr ? dynamic_cast<Loader*>(loader_)->lastError() : "cannot load";
        segment_ = nullptr;
        return false;
    }
    segment_->SetParam(GUID_StandardMIDIFile, 0xFFFFFFFFu, 0, 0, &performance_);
    return true;
}

DWORD OfflineSession::fileRepeats() {
    DWORD r = 0;
    if (segment_ != nullptr) segment_->GetRepeats(&r);
    return r;
}

void OfflineSession::setRepeats(DWORD repeats) {
    if (segment_ != nullptr) segment_->SetRepeats(repeats);
}

void OfflineSession::setCompositionSeed(std::uint32_t seed) {
    if (Segment* own = Segment::From(segment_)) own->setCompositionSeed(seed);
}

void OfflineSession::setCompositionOptions(const platform::CompositionOptions& options) {
    if (auto* own = dynamic_cast<Loader*>(loader_)) own->setCompositionOptions(options);
}

std::string OfflineSession::lastComposition() const {
    auto* own = dynamic_cast<Loader*>(loader_);
    return own ? own->lastComposition() : std::string();
}

OfflineSession::Play OfflineSession::playable() {
    Segment* own = Segment::From(segment_);
    if (own == nullptr) return {};
    const Segment::Play play = own->playable();
    return {play.sequence, play.repeats};
}

std::string OfflineSession::segmentName() {
    Segment* own = Segment::From(segment_);
    return own == nullptr ? std::string() : own->name;
}

std::vector<std::string> OfflineSession::silentContent() {
    Segment* own = Segment::From(segment_);
    return own == nullptr ? std::vector<std::string>{} : own->silentContent;
}

void OfflineSession::setTempo(float factor) {
    performance_->SetGlobalParam(GUID_PerfMasterTempo, &factor, sizeof(factor));
}

void OfflineSession::setVolumePosition(int position) {
    std::int32_t volume = VolumeForPosition(position);
    performance_->SetGlobalParam(GUID_PerfMasterVolume, &volume, sizeof(volume));
}

bool OfflineSession::play() {
    if (segment_ == nullptr) return false;
    releaseAndClear(state_);
    return SUCCEEDED(performance_->PlaySegment(segment_, 0, 0, &state_));
}

void OfflineSession::stop() {
    performance_->Stop(nullptr, nullptr, 0, 0);
    if (state_ != nullptr) performance_->Stop(nullptr, state_, 0, 0);
    releaseAndClear(state_);
}

bool OfflineSession::isPlaying() {
    if (segment_ == nullptr) return false;
    return performance_->IsPlaying(segment_, state_) == S_OK;
}

void OfflineSession::render(float* left, float* right, int frames) {
    synth_->renderOffline(left, right, frames);
}

int OfflineSession::renderRun(float* left, float* right, int frames) {
    return synth_->renderOfflineRun(left, right, frames);
}

StreamedAudio RenderStream(OfflineSession& session, double maxTail, double maxSeconds, const AudioBlockSink& sink) {
    StreamedAudio out;
    const auto rate = static_cast<std::uint64_t>(session.sampleRate());
    const std::uint64_t maxFrames = static_cast<std::uint64_t>(maxSeconds * double(rate));
    const std::uint64_t tailFrames = static_cast<std::uint64_t>(maxTail * double(rate));
    float l[kRun];
    float r[kRun];
    bool ended = false;
    bool done = false;
    std::uint64_t silentRun = 0;
    while (!done && out.frames < maxFrames) {
        // Whole blocks: the last one may pass the limit.
        const std::uint64_t left = maxFrames - out.frames;
        const int want = left >= std::uint64_t(kRun) ? kRun : int((left + kChunk - 1) / kChunk) * kChunk;
        const int n = session.renderRun(l, r, want);
        // The play ends only in a run's first block: if it is over now, it
        // ended there (and it starts with the first block rendered).
        const bool playing = session.isPlaying();
        // The end and the silent tail are judged block by block.
        int take = 0;
        while (!done && take < n) {
            const int begin = take;
            take = std::min(n, take + kChunk);
            const std::uint64_t at = out.frames + std::uint64_t(take);
            if (!ended && !playing) {
                ended = true;
                out.musicFrames = at;
            }
            if (!ended) continue;
            float peak = 0.0f;
            for (int i = begin; i < take; ++i)
                peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
            silentRun = peak < kSilence ? silentRun + std::uint64_t(take - begin) : 0;
            done = at - out.musicFrames >= tailFrames || silentRun >= rate / 5;
        }
        out.frames += std::uint64_t(take);
        if (!sink(l, r, take)) {
            out.stopped = true;
            break;
        }
    }
    if (!ended) out.musicFrames = out.frames;
    return out;
}

RenderedAudio RenderToEnd(OfflineSession& session, double maxTail, double maxSeconds) {
    RenderedAudio out;
    const StreamedAudio streamed =
        RenderStream(session, maxTail, maxSeconds, [&](const float* l, const float* r, int n) {
            out.left.insert(out.left.end(), l, l + n);
            out.right.insert(out.right.end(), r, r + n);
            return true;
        });
    out.musicFrames = streamed.musicFrames;
    return out;
}

} // namespace qorn::render
