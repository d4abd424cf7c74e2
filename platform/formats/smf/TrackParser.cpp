#include "platform/formats/smf/TrackParser.h"

#include "platform/formats/common/ByteReader.h"

#include <cstring>
#include <limits>
#include <string>

namespace qorn::formats::smf {
namespace {

constexpr std::uint64_t kMaxTick = std::numeric_limits<std::uint32_t>::max();

int DataBytesOfChannelMessage(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0u;
    return (kind == 0xC0u || kind == 0xD0u) ? 1 : 2;
}

// Data bytes that follow a system common or real-time status in a stream;
// such bytes have no place in a file and are skipped with their data.
int DataBytesOfSystemMessage(std::uint8_t status) {
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0; // F4, F5, F9, FD are undefined; F6, F8..FE carry no data
    }
}

class Parser {
  public:
    Parser(std::span<const std::uint8_t> bytes, const TrackOptions& options, music::Sequence& out)
        : bytes_(bytes), reader_(bytes), options_(options), out_(out), tick_(options.tickOffset),
          lastTick_(options.tickOffset) {}

    TrackResult run() {
        TrackResult result;
        bool readDelta = true;
        while (!reader_.atEnd()) {
            const std::size_t eventStart = reader_.position();
            if (readDelta && options_.stopAtTrackTag && trackTagAt(eventStart)) break;
            if (readDelta) {
                std::uint32_t delta = 0;
                if (!reader_.readVarLen(delta)) break;
                if (tick_ + delta > kMaxTick) break; // nothing later can be placed
                tick_ += delta;
            }
            readDelta = true;

            std::uint8_t b = 0;
            if (!reader_.peekU8(b)) break;
            if (b < 0x80u) {
                if (running_ == 0) {
                    // Data with no status to continue: drop it up to the next
                    // status byte, which starts an event at this tick.
                    while (reader_.peekU8(b) && b < 0x80u)
                        reader_.skip(1);
                    readDelta = false;
                    continue;
                }
                if (!channelMessage(running_, result)) break;
                continue;
            }
            reader_.skip(1);
            if (b < 0xF0u) {
                running_ = b;
                if (!channelMessage(b, result)) break;
            } else if (b == 0xFFu) {
                bool endOfTrack = false;
                if (!metaEvent(endOfTrack)) break;
                if (endOfTrack) {
                    result.sawEndOfTrack = true;
                    break;
                }
            } else if (b == 0xF0u || b == 0xF7u) {
                if (!sysexEvent(b)) break;
            } else {
                skipSystemMessage(b);
            }
            // Running status is kept across meta, system-exclusive and stray
            // system bytes, as forgiving players do.
        }
        result.endPosition = reader_.position();
        // Without End-of-Track the track ends with its last complete event.
        result.endTick = static_cast<std::uint32_t>(result.sawEndOfTrack ? tick_ : lastTick_);
        return result;
    }

  private:
    bool trackTagAt(std::size_t pos) const {
        return bytes_.size() - pos >= 8 && std::memcmp(bytes_.data() + pos, "MTrk", 4) == 0;
    }

    std::uint32_t absoluteTick() const { return static_cast<std::uint32_t>(tick_); }

    // False when the track ends here: the bytes end inside the message, or a
    // data byte has its top bit set. Past such a byte the track is garbage
    // (a real file went on with a delta of millions of ticks), so the event
    // is dropped and the track ends with its last valid event.
    bool channelMessage(std::uint8_t status, TrackResult& result) {
        std::uint8_t data[2] = {0, 0};
        const int count = DataBytesOfChannelMessage(status);
        for (int i = 0; i < count; ++i) {
            std::uint8_t b = 0;
            if (!reader_.peekU8(b)) return false;
            if (b >= 0x80u) {
                result.badDataAt = reader_.position();
                return false;
            }
            reader_.skip(1);
            data[i] = b;
        }
        out_.events.push_back(music::SeqEvent{absoluteTick(), status, data[0], data[1], 0});
        lastTick_ = tick_;
        openSysex_ = false; // a later F7 packet is an escape, not a continuation
        return true;
    }

    bool metaEvent(bool& endOfTrack) {
        std::uint8_t type = 0;
        std::uint32_t length = 0;
        if (!reader_.readU8(type) || !reader_.readVarLen(length)) return false;
        if (length > reader_.remaining()) return false;
        auto data = reader_.readBytes(length);
        lastTick_ = tick_;
        if (type == 0x2F) {
            endOfTrack = true;
        } else if (type == 0x51 && length >= 3 && options_.keepTempo) {
            const std::uint32_t us = (std::uint32_t(data[0]) << 16) | (std::uint32_t(data[1]) << 8) | data[2];
            if (us != 0) out_.tempos.push_back(music::TempoChange{absoluteTick(), us});
        } else if (type == 0x06) {
            out_.markers.push_back({absoluteTick(), std::string(data.begin(), data.end())});
        }
        return true;
    }

    // F0 starts a message (stored with its F0); F7 either continues a message
    // whose packet did not end in F7, or escapes raw bytes.
    bool sysexEvent(std::uint8_t status) {
        std::uint32_t length = 0;
        if (!reader_.readVarLen(length)) return false;
        if (length > reader_.remaining()) return false; // cut short: not sent half
        auto data = reader_.readBytes(length);
        lastTick_ = tick_;
        auto& bytes = out_.sysexBytes;
        if (status == 0xF7u && openSysex_) {
            bytes.insert(bytes.end(), data.begin(), data.end());
            out_.sysex.back().length += length;
            if (!data.empty() && data.back() == 0xF7u) openSysex_ = false;
            return true;
        }
        const auto offset = static_cast<std::uint32_t>(bytes.size());
        if (status == 0xF0u) bytes.push_back(0xF0u);
        bytes.insert(bytes.end(), data.begin(), data.end());
        const auto stored = static_cast<std::uint32_t>(bytes.size() - offset);
        if (stored == 0) return true;
        out_.sysex.push_back(music::SysExEvent{absoluteTick(), offset, stored, 0});
        openSysex_ = status == 0xF0u && (data.empty() || data.back() != 0xF7u);
        return true;
    }

    void skipSystemMessage(std::uint8_t status) {
        for (int i = 0; i < DataBytesOfSystemMessage(status); ++i) {
            std::uint8_t b = 0;
            if (!reader_.peekU8(b) || b >= 0x80u) return;
            reader_.skip(1);
        }
    }

    std::span<const std::uint8_t> bytes_;
    ByteReader reader_;
    const TrackOptions& options_;
    music::Sequence& out_;
    std::uint64_t tick_;
    std::uint64_t lastTick_;
    std::uint8_t running_ = 0;
    bool openSysex_ = false;
};

} // namespace

TrackResult ParseTrack(std::span<const std::uint8_t> bytes, const TrackOptions& options, music::Sequence& out) {
    return Parser(bytes, options, out).run();
}

} // namespace qorn::formats::smf
