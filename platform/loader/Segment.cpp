#include "platform/loader/Segment.h"

#include "platform/com/Guids.h"
#include "platform/loader/PlayPasses.h"
#include "platform/loader/SegmentAssembly.h"

namespace qorn::platform {

Segment::Segment(std::shared_ptr<const music::Sequence> sequence, std::shared_ptr<const ComposeInput> recompose)
    : sequence_(sequence ? std::move(sequence) : std::make_shared<const music::Sequence>()),
      repeats_(sequence_->repeats), recompose_(std::move(recompose)), seed_(recompose_ ? LoadSeedOf(*recompose_) : 0) {}

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

Segment::Play Segment::playable() {
    if (!recompose_) return {sequence_, repeats_};
    if (hasComposed_ && composedSeed_ == seed_ && composedRepeats_ == repeats_) return composed_;

    const PlayedLoop loop = PlayedLoopOf(*sequence_);
    PassPlan plan = PlanPasses(repeats_, sequence_->events.size());
    if (loop.end == 0) plan = PassPlan{};
    Play play{sequence_, repeats_};
    if (plan.passes() == 1) {
        // One composition plays every pass, as loaded unless another seed is asked for.
        if (seed_ != LoadSeedOf(*recompose_)) {
            TickSpan whole;
            whole.fromSegmentStart = true;
            auto passes = ComposePasses(*recompose_, seed_, {whole});
            if (!passes.empty() && passes.front()) play.sequence = passes.front();
        }
    } else {
        std::vector<TickSpan> spans;
        const std::uint32_t n = plan.passes();
        for (std::uint32_t k = 0; k < n; ++k) {
            TickSpan span;
            span.start = k == 0 ? 0 : loop.start;
            span.fromSegmentStart = k == 0;
            span.end = k + 1 == n ? kToTheEnd : loop.end;
            spans.push_back(span);
        }
        std::vector<std::shared_ptr<const music::Sequence>> passes = ComposePasses(*recompose_, seed_, spans);
        if (auto joined = UnrollPasses(passes, plan)) play = {std::move(joined), plan.cycleRepeats};
    }
    composed_ = play;
    hasComposed_ = true;
    composedSeed_ = seed_;
    composedRepeats_ = repeats_;
    return play;
}

} // namespace qorn::platform
