#include "platform/performance/Performance.h"

#include "platform/com/Guids.h"
#include "platform/loader/Segment.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>
#include <ctime>

namespace qorn::platform {
namespace {

constexpr float kMinTempo = 0.01f;
constexpr float kMaxTempo = 100.0f;
// Below -96 dB nothing is heard; above +20 dB everything clips.
constexpr std::int32_t kMinVolume = -9600;
constexpr std::int32_t kMaxVolume = 2000;

} // namespace

Performance::~Performance() {
    CloseDown();
}

double Performance::GainForVolume(std::int32_t hundredthsOfDb) {
    return std::pow(10.0, double(hundredthsOfDb) / 2000.0);
}

HRESULT Performance::Init(IDirectMusic2** directMusic, void* /*directSound*/, HWND /*window*/) {
    if (initialized_) return E_UNEXPECTED;
    initialized_ = true;
    // A caller that hands in its DirectMusic object shares it with us.
    if (directMusic != nullptr && *directMusic != nullptr) {
        directMusic_ = *directMusic;
        directMusic_->AddRef();
    }
    return S_OK;
}

MusicPort* Performance::findPort(IDirectMusicPort* port) const {
    for (MusicPort* p : ports_)
        if (p == port) return p;
    return nullptr;
}

HRESULT Performance::AddPort(IDirectMusicPort* port) {
    if (port == nullptr) return E_POINTER;
    auto* ours = dynamic_cast<MusicPort*>(port);
    if (ours == nullptr) return E_INVALIDARG;
    if (findPort(port) != nullptr) return S_FALSE;
    ours->AddRef();
    ports_.push_back(ours);
    ours->playback().setMasterTempo(masterTempo_);
    if (ours->hasVolume()) ours->playback().setGain(float(GainForVolume(masterVolume_)));
    return S_OK;
}

HRESULT Performance::RemovePort(IDirectMusicPort* port) {
    MusicPort* ours = findPort(port);
    if (ours == nullptr) return E_INVALIDARG;
    ours->playback().stop(0);
    for (auto& r : routes_)
        if (r == ours) r = nullptr;
    ports_.erase(std::find(ports_.begin(), ports_.end(), ours));
    ours->Release();
    return S_OK;
}

HRESULT Performance::AssignPChannelBlock(DWORD blockNum, IDirectMusicPort* port, DWORD group) {
    MusicPort* ours = findPort(port);
    if (ours == nullptr) return E_INVALIDARG;
    // Every port offers one group of 16 channels.
    if (blockNum >= kBlocks || group != 1) return E_INVALIDARG;
    routes_[blockNum] = ours;
    return S_OK;
}

HRESULT Performance::SetGlobalParam(REFGUID type, void* param, DWORD size) {
    if (param == nullptr) return E_POINTER;
    if (type == GUID_PerfAutoDownload) {
        if (size < sizeof(BOOL)) return E_INVALIDARG;
        BOOL on = FALSE;
        std::memcpy(&on, param, sizeof(on));
        autoDownload_ = on != FALSE;
        return S_OK;
    }
    if (type == GUID_PerfMasterTempo) {
        if (size < sizeof(float)) return E_INVALIDARG;
        float tempo = 1.0f;
        std::memcpy(&tempo, param, sizeof(tempo));
        if (!std::isfinite(tempo)) return E_INVALIDARG;
        masterTempo_ = std::clamp(tempo, kMinTempo, kMaxTempo);
        for (MusicPort* p : ports_)
            p->playback().setMasterTempo(masterTempo_);
        if (silentPlayback_) silentPlayback_->setMasterTempo(masterTempo_);
        return S_OK;
    }
    if (type == GUID_PerfMasterVolume) {
        if (size < sizeof(std::int32_t)) return E_INVALIDARG;
        std::int32_t volume = 0;
        std::memcpy(&volume, param, sizeof(volume));
        masterVolume_ = std::clamp(volume, kMinVolume, kMaxVolume);
        for (MusicPort* p : ports_)
            if (p->hasVolume()) p->playback().setGain(float(GainForVolume(masterVolume_)));
        return S_OK;
    }
    return E_NOTIMPL;
}

PortPlayback& Performance::silentClock() {
    if (!silentPlayback_) {
        silentPlayback_ = std::make_unique<PortPlayback>();
        silentPlayback_->setRunning(true);
        silentPlayback_->setMasterTempo(masterTempo_);
        silentThread_ = std::make_unique<TimingThread>(*silentPlayback_, silentSink_);
    }
    return *silentPlayback_;
}

HRESULT Performance::PlaySegment(IDirectMusicSegment2* segment, DWORD /*flags*/, std::int64_t /*startTime*/,
                                 IDirectMusicSegmentState** segmentState) {
    if (segmentState != nullptr) *segmentState = nullptr;
    if (segment == nullptr) return E_POINTER;
    Segment* seg = Segment::From(segment);
    if (seg == nullptr) return E_INVALIDARG;
    // A port whose device is gone cannot take the piece: say so rather
    // than play into nothing.
    for (std::size_t b = 0; b < kBlocks; ++b)
        if (routes_[b] != nullptr && !routes_[b]->connected()) return E_FAIL;
    const std::uint64_t play = nextPlay_++;
    // A piece composed from a style is composed for this play here, before
    // any of it sounds.
    const Segment::Play playable = seg->playable();
    const auto& sequence = playable.sequence;
    // A primary segment replaces whatever played, on every port.
    bool heard = false;
    for (MusicPort* port : ports_) {
        std::bitset<256> groups;
        for (std::size_t b = 0; b < kBlocks; ++b)
            if (routes_[b] == port) groups.set(b);
        if (groups.none()) {
            port->playback().stop(0);
            continue;
        }
        auto player = std::make_unique<SequencePlayer>(sequence, playable.repeats);
        player->setAudibleGroups(groups);
        port->prepare(*sequence, *player, autoDownload_);
        port->playback().start(std::move(player), play);
        heard = true;
    }
    if (silentPlayback_) silentPlayback_->stop(0);
    if (!heard) silentClock().start(std::make_unique<SequencePlayer>(sequence, playable.repeats), play);
    seg->lastPlay = play;
    if (segmentState != nullptr) *segmentState = new SegmentState(play);
    return S_OK;
}

bool Performance::playingAnywhere(std::uint64_t id) const {
    for (MusicPort* port : ports_)
        if (port->playback().isPlaying(id)) return true;
    return silentPlayback_ && silentPlayback_->isPlaying(id);
}

void Performance::stopEverywhere(std::uint64_t id) {
    for (MusicPort* port : ports_)
        port->playback().stop(id);
    if (silentPlayback_) silentPlayback_->stop(id);
}

HRESULT Performance::Stop(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME /*time*/,
                          DWORD /*flags*/) {
    if (segmentState != nullptr) {
        SegmentState* state = SegmentState::From(segmentState);
        if (state == nullptr) return E_INVALIDARG;
        stopEverywhere(state->play());
        return S_OK;
    }
    if (segment != nullptr) {
        Segment* seg = Segment::From(segment);
        if (seg == nullptr) return E_INVALIDARG;
        if (seg->lastPlay != 0) stopEverywhere(seg->lastPlay);
        return S_OK;
    }
    stopEverywhere(0);
    return S_OK;
}

HRESULT Performance::IsPlaying(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState) {
    std::uint64_t play = 0;
    if (segmentState != nullptr) {
        SegmentState* state = SegmentState::From(segmentState);
        if (state == nullptr) return E_INVALIDARG;
        play = state->play();
    } else if (segment != nullptr) {
        Segment* seg = Segment::From(segment);
        if (seg == nullptr) return E_INVALIDARG;
        play = seg->lastPlay;
    } else {
        return E_POINTER;
    }
    for (MusicPort* port : ports_)
        port->playback().collectGarbage();
    return play != 0 && playingAnywhere(play) ? S_OK : S_FALSE;
}

HRESULT Performance::GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const REFERENCE_TIME t = REFERENCE_TIME(ts.tv_sec) * 10'000'000 + ts.tv_nsec / 100;
    if (now != nullptr) *now = t;
    // Music time of a clock at 120 beats per minute and 768 ticks per beat.
    if (musicNow != nullptr) *musicNow = static_cast<MUSIC_TIME>((t / 10'000 * 768 / 500) & 0x7FFFFFFF);
    return S_OK;
}

HRESULT Performance::CloseDown() {
    stopEverywhere(0);
    for (MusicPort* port : ports_)
        port->Release();
    ports_.clear();
    routes_.fill(nullptr);
    if (silentThread_) silentThread_->stop();
    silentThread_.reset();
    silentPlayback_.reset();
    if (directMusic_ != nullptr) {
        directMusic_->Release();
        directMusic_ = nullptr;
    }
    return S_OK;
}

} // namespace qorn::platform
