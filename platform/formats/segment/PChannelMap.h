// Which channel of the port each PChannel of a segment plays on. The port
// carries PChannels 0-15 as its one channel group (group 0 of a sequence);
// a segment written for an audiopath uses other PChannels freely, and the
// audiopath gave each of them a synthesizer channel of its own. Here each
// such PChannel that plays notes gets a channel of the port that the
// segment's PChannels 0-15 leave free, so what those play stays as it was.
#pragma once

#include "SegmentFile.h"

#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::formats::segment {

class PChannelMap {
  public:
    // Every PChannel of 0-15 plays on its own channel.
    PChannelMap() = default;
    // For what `segment` plays, and `alsoPlaying`: PChannels that may play
    // notes in music composed later for the same piece.
    PChannelMap(const SegmentFile& segment, std::span<const std::uint32_t> alsoPlaying);

    // The group and channel of the channel messages of `pchannel`; false when
    // they go nowhere. A PChannel above 15 that was given no channel keeps
    // its own group, which the port does not play.
    bool channelOf(std::uint32_t pchannel, std::uint8_t& group, std::uint8_t& channel) const;
    // The group of a wave or system-exclusive message on `pchannel`: neither
    // needs a channel, so they play unless their PChannel's notes found none.
    std::uint8_t groupOf(std::uint32_t pchannel) const;
    // PChannels that play notes but found no free channel, ascending.
    const std::vector<std::uint32_t>& refused() const { return refused_; }
    // "channels 40, 41 not played: ...", empty when none was refused.
    std::string refusedMessage() const;

  private:
    struct Given {
        std::uint32_t pchannel;
        std::uint8_t channel;
    };
    std::vector<Given> given_; // at most 16
    // PChannels of 0-15 that only set things up (a band, a controller) and
    // whose channel went to a PChannel that plays notes.
    std::bitset<16> displaced_;
    std::vector<std::uint32_t> refused_;
};

} // namespace qorn::formats::segment
