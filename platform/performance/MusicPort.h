// What the performance needs of a port beyond IDirectMusicPort: its playback
// hand-over and the preparation of a piece before it starts there.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/music/Sequence.h"
#include "platform/performance/PortPlayback.h"
#include "platform/performance/SequencePlayer.h"

namespace qorn::platform {

class MusicPort : public IDirectMusicPort {
  public:
    virtual PortPlayback& playback() = 0;
    // GUI thread, before `player` starts on this port: make the instruments
    // the piece uses available (when `autoDownload`) and route its patch
    // choices.
    virtual void prepare(const music::Sequence& sequence, SequencePlayer& player, bool autoDownload) = 0;
    // Whether master volume applies (the synthesizer) or not (external ports).
    virtual bool hasVolume() const = 0;
    // False once the device behind the port is gone (an unplugged external
    // port): a piece started there would play into nothing.
    virtual bool connected() const { return true; }
};

} // namespace qorn::platform
