#include "platform/loader/Segment.h"

#include "platform/com/Guids.h"

namespace qorn::platform {

Segment::Segment(std::shared_ptr<const music::Sequence> sequence)
    : sequence_(sequence ? std::move(sequence) : std::make_shared<const music::Sequence>()),
      repeats_(sequence_->repeats) {}

Segment* Segment::From(IDirectMusicSegment2* segment) {
    return dynamic_cast<Segment*>(segment);
}

HRESULT Segment::SetParam(REFGUID type, DWORD /*groupBits*/, DWORD /*index*/, MUSIC_TIME /*time*/, void* /*param*/) {
    // The piece is already in playable form, and instruments are made
    // available by the port when it starts, so both are accepted as they are.
    if (type == GUID_StandardMIDIFile || type == GUID_Unload) return S_OK;
    return E_NOTIMPL;
}

HRESULT Segment::GetRepeats(DWORD* repeats) {
    if (repeats == nullptr) return E_POINTER;
    *repeats = repeats_;
    return S_OK;
}

HRESULT Segment::SetRepeats(DWORD repeats) {
    repeats_ = repeats;
    return S_OK;
}

} // namespace qorn::platform
