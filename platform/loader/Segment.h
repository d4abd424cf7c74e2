// A loaded piece as the engine holds it: the shared, read-only Sequence and
// the repeat count of its next start.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>

namespace qorn::platform {

class Segment final : public RefCounted<IDirectMusicSegment2> {
  public:
    explicit Segment(std::shared_ptr<const music::Sequence> sequence);

    // The segment behind `segment`, or null when it is not one of ours.
    static Segment* From(IDirectMusicSegment2* segment);

    HRESULT SetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, void* param) override;
    HRESULT GetRepeats(DWORD* repeats) override;
    HRESULT SetRepeats(DWORD repeats) override;

    const std::shared_ptr<const music::Sequence>& sequence() const { return sequence_; }
    DWORD repeats() const { return repeats_; }
    // The play that started last (0: never started); kept by the performance.
    std::uint64_t lastPlay = 0;

  private:
    ~Segment() override = default;

    std::shared_ptr<const music::Sequence> sequence_;
    DWORD repeats_;
};

} // namespace qorn::platform
