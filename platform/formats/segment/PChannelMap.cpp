#include "PChannelMap.h"

#include "platform/music/Sequence.h"

#include <algorithm>
#include <array>

namespace qorn::formats::segment {

namespace {

// The PChannels a sequence's groups can name; the others (broadcast) go nowhere.
constexpr std::uint32_t kPChannels = 256u * 16u;
constexpr std::uint32_t kPortChannels = 16;
// Refused PChannels named one by one in the message; a hostile file could name thousands.
constexpr std::size_t kNamedRefused = 8;

enum Use : std::uint8_t { kSetsUp = 1, kNotes = 2, kDrums = 4, kMayPlay = 8 };
// How much a channel of the port is taken by its own PChannel.
enum Level : std::uint8_t { kFree, kSetUpOnly, kPlaying };

} // namespace

PChannelMap::PChannelMap(const SegmentFile& segment, std::span<const std::uint32_t> alsoPlaying) {
    std::vector<std::uint8_t> use(kPChannels, 0);
    auto mark = [&](std::uint32_t pchannel, std::uint8_t what) {
        if (pchannel < kPChannels) use[pchannel] |= what;
    };
    for (const auto& track : segment.tracks) {
        if (track.kind == Track::Kind::Sequence) {
            for (const auto& e : track.events) {
                const std::uint8_t kind = e.status & 0xF0;
                if (kind < 0x80 || kind == 0xF0) continue;
                mark(e.pchannel, kind == 0x90 && (e.data2 & 0x7F) > 0 ? kNotes : kSetsUp);
            }
            for (const auto& k : track.curves)
                mark(k.pchannel, kSetsUp);
        } else if (track.kind == Track::Kind::Band) {
            for (const auto& band : track.bands)
                for (const auto& inst : band.instruments)
                    mark(inst.pchannel, kSetsUp | ((inst.flags & BandInstrument::kPatch) && inst.drums() ? kDrums : 0));
        }
    }
    for (const std::uint32_t p : alsoPlaying)
        mark(p, kMayPlay);

    std::array<std::uint8_t, kPortChannels> level{};
    for (std::uint32_t c = 0; c < kPortChannels; ++c)
        level[c] = (use[c] & (kNotes | kMayPlay)) ? kPlaying : (use[c] & kSetsUp) ? kSetUpOnly : kFree;
    // A channel where only a band or a controller was set is taken only when
    // no untouched one is left; its settings then give way. A drum kit goes
    // to the drum channel where it can, so that external devices play it as
    // drums too; melodic parts never go there, where FluidSynth and General
    // MIDI devices play drums.
    auto choose = [&](bool drums) -> int {
        if (drums && level[music::kDrumChannel] != kPlaying) return music::kDrumChannel;
        for (const std::uint8_t wanted : {kFree, kSetUpOnly})
            for (std::uint32_t c = 0; c < kPortChannels; ++c)
                if (c != music::kDrumChannel && level[c] == wanted) return int(c);
        return -1;
    };
    // What plays now first, then what later music may play.
    for (const std::uint8_t playing : {kNotes, kMayPlay}) {
        for (std::uint32_t p = kPortChannels; p < kPChannels; ++p) {
            if ((use[p] & playing) == 0 || (playing == kMayPlay && (use[p] & kNotes))) continue;
            const int c = choose((use[p] & kDrums) != 0);
            if (c < 0) {
                refused_.push_back(p);
                continue;
            }
            if (level[std::size_t(c)] == kSetUpOnly) displaced_.set(std::size_t(c));
            level[std::size_t(c)] = kPlaying;
            given_.push_back({p, static_cast<std::uint8_t>(c)});
        }
    }
    std::sort(refused_.begin(), refused_.end());
}

bool PChannelMap::channelOf(std::uint32_t pchannel, std::uint8_t& group, std::uint8_t& channel) const {
    if (pchannel >= kPChannels) return false;
    if (pchannel < kPortChannels) {
        if (displaced_.test(pchannel)) return false;
        group = 0;
        channel = static_cast<std::uint8_t>(pchannel);
        return true;
    }
    for (const Given& g : given_) {
        if (g.pchannel != pchannel) continue;
        group = 0;
        channel = g.channel;
        return true;
    }
    group = static_cast<std::uint8_t>(pchannel / 16);
    channel = static_cast<std::uint8_t>(pchannel % 16);
    return true;
}

std::uint8_t PChannelMap::groupOf(std::uint32_t pchannel) const {
    if (pchannel < kPortChannels || pchannel >= kPChannels) return 0;
    if (std::binary_search(refused_.begin(), refused_.end(), pchannel)) return static_cast<std::uint8_t>(pchannel / 16);
    return 0;
}

std::string PChannelMap::refusedMessage() const {
    if (refused_.empty()) return {};
    std::string names;
    for (std::size_t i = 0; i < refused_.size() && i < kNamedRefused; ++i)
        names += (i == 0 ? "" : ", ") + std::to_string(refused_[i]);
    if (refused_.size() > kNamedRefused) names += " and " + std::to_string(refused_.size() - kNamedRefused) + " more";
    const bool one = refused_.size() == 1;
    return (one ? "channel " : "channels ") + names + " not played: the port has no free channel left for " +
           (one ? "it" : "them");
}

} // namespace qorn::formats::segment
