// The performance: the ports a piece plays on, the channel blocks routed to
// them, master tempo and volume, and the start and stop of segments. Runs on
// the GUI thread; the real-time work happens on each port's own thread.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/performance/MusicPort.h"
#include "platform/performance/PortPlayback.h"
#include "platform/performance/TimingThread.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace qorn::platform {

class Performance final : public RefCounted<IDirectMusicPerformance2> {
  public:
    Performance() = default;

    HRESULT Init(IDirectMusic2** directMusic, void* directSound, HWND window) override;
    HRESULT AddPort(IDirectMusicPort* port) override;
    HRESULT RemovePort(IDirectMusicPort* port) override;
    HRESULT AssignPChannelBlock(DWORD blockNum, IDirectMusicPort* port, DWORD group) override;
    HRESULT SetGlobalParam(REFGUID type, void* param, DWORD size) override;
    HRESULT PlaySegment(IDirectMusicSegment2* segment, DWORD flags, std::int64_t startTime,
                        IDirectMusicSegmentState** segmentState) override;
    HRESULT Stop(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                 DWORD flags) override;
    HRESULT IsPlaying(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState) override;
    HRESULT GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) override;
    HRESULT CloseDown() override;

    // Linear gain for a master volume in hundredths of a decibel.
    static double GainForVolume(std::int32_t hundredthsOfDb);

  private:
    ~Performance() override;

    static constexpr std::size_t kBlocks = 256;

    MusicPort* findPort(IDirectMusicPort* port) const;
    bool playingAnywhere(std::uint64_t id) const;
    void stopEverywhere(std::uint64_t id);
    PortPlayback& silentClock();

    bool initialized_ = false;
    IDirectMusic2* directMusic_ = nullptr;
    std::vector<MusicPort*> ports_;
    // Port each channel block plays on (null: not heard).
    std::array<MusicPort*, kBlocks> routes_{};
    bool autoDownload_ = false;
    float masterTempo_ = 1.0f;
    std::int32_t masterVolume_ = 0;
    std::uint64_t nextPlay_ = 1;
    // Keeps time for plays that reach no port, so they still end on time.
    std::unique_ptr<PortPlayback> silentPlayback_;
    NullMidiSink silentSink_;
    std::unique_ptr<TimingThread> silentThread_;
};

// The state of one start of a segment.
class SegmentState final : public RefCounted<IDirectMusicSegmentState> {
  public:
    explicit SegmentState(std::uint64_t play) : play_(play) {}
    static SegmentState* From(IDirectMusicSegmentState* state) { return dynamic_cast<SegmentState*>(state); }
    std::uint64_t play() const { return play_; }

  private:
    ~SegmentState() override = default;
    std::uint64_t play_;
};

} // namespace qorn::platform
