// An external MIDI port reached through the ALSA sequencer; a timing thread
// of its own sends the events when they are due.
#pragma once

#include "platform/alsa/AlsaPorts.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/performance/MusicPort.h"
#include "platform/performance/TimingThread.h"

#include <memory>

namespace qorn::platform {

class AlsaPort final : public RefCounted<MusicPort> {
  public:
    explicit AlsaPort(std::unique_ptr<AlsaOutput> output);

    HRESULT Activate(BOOL enable) override;
    PortPlayback& playback() override { return playback_; }
    void prepare(const music::Sequence&, SequencePlayer&, bool) override {}
    bool hasVolume() const override { return false; }
    bool connected() const override { return output_ && output_->alive(); }

  private:
    ~AlsaPort() override;

    std::unique_ptr<AlsaOutput> output_;
    PortPlayback playback_;
    std::unique_ptr<TimingThread> thread_;
};

} // namespace qorn::platform
