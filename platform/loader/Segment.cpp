#include "platform/loader/Segment.h"

#include "platform/com/Guids.h"
#include "platform/loader/PlayPasses.h"
#include "platform/loader/SegmentAssembly.h"

#include <algorithm>

namespace qorn::platform {

bool PlaysSound(const music::Sequence& sequence) {
    for (const music::SeqEvent& e : sequence.events)
        if (e.group == 0 && (e.status & 0xF0) == 0x90 && e.data2 > 0) return true;
    return std::any_of(sequence.waves.begin(), sequence.waves.end(),
                       [](const music::WaveItem& w) { return w.group == 0; });
}

std::string SilenceReason(const music::Sequence& sequence, const std::vector<std::string>& kinds) {
    if (PlaysSound(sequence)) return {};
    if (kinds.empty()) return "it plays no note (is a style or segment it needs missing?)";
    std::string held;
    for (std::size_t i = 0; i < kinds.size(); ++i)
        held += (i == 0 ? "" : i + 1 == kinds.size() ? " and " : ", ") + kinds[i];
    return "it holds no note or wave, only " + held + ", which " + (kinds.size() == 1 ? "does" : "do") +
           " not sound here";
}

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

HRESULT Segment::GetParam(REFGUID type, DWORD /*groupBits*/, DWORD /*index*/, MUSIC_TIME /*time*/, MUSIC_TIME* next,
                          void* param) {
    if (type != GUID_LoadReport) return E_NOTIMPL;
    if (param == nullptr) return E_POINTER;
    if (next != nullptr) *next = 0;
    auto& report = *static_cast<DMUS_LOAD_REPORT*>(param);
    report.warnings.clear();
    for (const auto& line : loadWarnings)
        report.warnings += line + '\n';
    report.silence = SilenceReason(*sequence_, silentContent);
    // Holding nothing that cannot sound, it lost its notes: the load's first
    // report most likely says how (a band or collection not found).
    if (!report.silence.empty() && silentContent.empty() && !loadWarnings.empty())
        report.silence += "; " + loadWarnings.front();
    return S_OK;
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
