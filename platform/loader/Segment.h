// A loaded piece as the engine holds it: the shared, read-only Sequence and
// the repeat count of its next start. A segment composed from a style also
// keeps what it was composed from, so that each play composes every pass
// anew.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::platform {

struct ComposeInput;

// Whether any note or wave of the sequence sounds on the port (group 0).
bool PlaysSound(const music::Sequence& sequence);
// Why a piece that plays nothing sounds (for "nothing in X can sound: ..."),
// from what it holds that does not sound here; empty when it plays sound.
std::string SilenceReason(const music::Sequence& sequence, const std::vector<std::string>& silentContent);

class Segment final : public RefCounted<IDirectMusicSegment2> {
  public:
    explicit Segment(std::shared_ptr<const music::Sequence> sequence,
                     std::shared_ptr<const ComposeInput> recompose = nullptr);

    // The segment behind `segment`, or null when it is not one of ours.
    static Segment* From(IDirectMusicSegment2* segment);

    HRESULT SetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, void* param) override;
    // GUID_LoadReport only.
    HRESULT GetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, MUSIC_TIME* next,
                     void* param) override;
    HRESULT GetRepeats(DWORD* repeats) override;
    HRESULT SetRepeats(DWORD repeats) override;

    // The piece as loaded (for a composed one: its first pass).
    const std::shared_ptr<const music::Sequence>& sequence() const { return sequence_; }
    DWORD repeats() const { return repeats_; }
    // The play that started last (0: never started); kept by the performance.
    std::uint64_t lastPlay = 0;
    // What the piece holds that does not sound here, one entry per kind
    // ("parameter control (effect settings)"), to say why a piece is silent.
    std::vector<std::string> silentContent;
    // Its name in the script or container that holds it (empty for a file's).
    std::string name;
    // What the load reported, one line each ("FILE: MESSAGE").
    std::vector<std::string> loadWarnings;

    bool composesAnew() const { return recompose_ != nullptr; }
    // The base seed of the passes a play composes; the load's seed until
    // set, so plays of one load sound alike and a test can choose.
    std::uint32_t compositionSeed() const { return seed_; }
    void setCompositionSeed(std::uint32_t seed) { seed_ = seed; }

    struct Play {
        std::shared_ptr<const music::Sequence> sequence;
        std::uint32_t repeats = 0;
    };
    // What a play with the current repeat count plays. A piece that is not
    // composed plays as loaded; a composed one has each pass composed anew
    // and joined in one piece of the same length. Called on the engine's
    // thread, never while audio renders.
    Play playable();

  private:
    ~Segment() override = default;

    std::shared_ptr<const music::Sequence> sequence_;
    DWORD repeats_;
    std::shared_ptr<const ComposeInput> recompose_;
    std::uint32_t seed_ = 0;
    // The last play composed, reused while seed and repeats stay.
    Play composed_;
    bool hasComposed_ = false;
    std::uint32_t composedSeed_ = 0;
    DWORD composedRepeats_ = 0;
};

} // namespace qorn::platform
