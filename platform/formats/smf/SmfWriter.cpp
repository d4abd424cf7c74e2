#include "platform/formats/smf/SmfWriter.h"

#include <algorithm>
#include <array>

namespace qorn::formats {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;
constexpr std::uint32_t kMaxDivision = 0x7FFF;

void PutVarLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = static_cast<std::uint8_t>(v & 0x7F);
    while ((v >>= 7) != 0)
        bytes[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0)
        out.push_back(bytes[--n]);
}

// One MTrk chunk being written: delta times and running status.
class TrackChunk {
  public:
    TrackChunk(std::vector<std::uint8_t>& out, std::uint32_t divisor) : out_(out), divisor_(divisor) {
        out_.insert(out_.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
        start_ = out_.size();
    }

    void channel(std::uint32_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        delta(tick);
        if (status != running_) out_.push_back(status);
        running_ = status;
        out_.push_back(data1 & 0x7F);
        const std::uint8_t kind = status & 0xF0;
        if (kind != 0xC0 && kind != 0xD0) out_.push_back(data2 & 0x7F);
    }

    void meta(std::uint32_t tick, std::uint8_t type, const std::uint8_t* data, std::uint32_t length) {
        delta(tick);
        running_ = 0;
        out_.push_back(0xFF);
        out_.push_back(type);
        PutVarLen(out_, length);
        out_.insert(out_.end(), data, data + length);
    }

    // A complete F0 ... F7 message, or raw bytes as an F7 escape.
    void sysex(std::uint32_t tick, const std::uint8_t* data, std::uint32_t length) {
        delta(tick);
        running_ = 0;
        if (length > 0 && data[0] == 0xF0) {
            out_.push_back(0xF0);
            PutVarLen(out_, length - 1);
            out_.insert(out_.end(), data + 1, data + length);
        } else {
            out_.push_back(0xF7);
            PutVarLen(out_, length);
            out_.insert(out_.end(), data, data + length);
        }
    }

    void end(std::uint32_t tick) {
        meta(tick, 0x2F, nullptr, 0);
        const auto size = static_cast<std::uint32_t>(out_.size() - start_);
        for (int i = 0; i < 4; ++i)
            out_[start_ - 4 + std::size_t(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    }

  private:
    void delta(std::uint32_t tick) {
        const std::uint32_t t = std::max(tick / divisor_, last_);
        PutVarLen(out_, t - last_);
        last_ = t;
    }

    std::vector<std::uint8_t>& out_;
    std::uint32_t divisor_;
    std::size_t start_ = 0;
    std::uint32_t last_ = 0;
    std::uint8_t running_ = 0;
};

} // namespace

std::vector<std::uint8_t> WriteStandardMidiFile(const music::Sequence& sequence, const std::string& name) {
    const std::uint32_t tpq = std::max<std::uint32_t>(sequence.ticksPerQuarter, 1);
    const std::uint32_t divisor = (tpq + kMaxDivision - 1) / kMaxDivision;
    const std::uint32_t division = tpq / divisor;

    std::array<bool, 16> used{};
    for (const music::SeqEvent& e : sequence.events)
        if (e.group == 0) used[e.status & 0x0F] = true;
    for (const music::PatchSelect& p : sequence.patches)
        if (p.group == 0 && p.channel < 16) used[p.channel] = true;
    const auto channels = static_cast<std::uint16_t>(std::count(used.begin(), used.end(), true));

    std::vector<std::uint8_t> out;
    out.reserve(64 + sequence.events.size() * 3);
    out.insert(out.end(), {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1});
    const auto tracks = static_cast<std::uint16_t>(1 + channels);
    out.push_back(static_cast<std::uint8_t>(tracks >> 8));
    out.push_back(static_cast<std::uint8_t>(tracks));
    out.push_back(static_cast<std::uint8_t>(division >> 8));
    out.push_back(static_cast<std::uint8_t>(division));

    // The tempo track, with the system-exclusive messages in time order.
    {
        TrackChunk track(out, divisor);
        if (!name.empty())
            track.meta(0, 0x03, reinterpret_cast<const std::uint8_t*>(name.data()),
                       static_cast<std::uint32_t>(std::min<std::size_t>(name.size(), 0xFFFF)));
        auto tempo = [&](std::uint32_t tick, std::uint32_t us) {
            const std::uint8_t data[3] = {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
                                          static_cast<std::uint8_t>(us)};
            track.meta(tick, 0x51, data, 3);
        };
        if (sequence.tempos.empty() || sequence.tempos.front().tick > 0) tempo(0, kDefaultTempo);
        std::size_t s = 0;
        const auto& bytes = sequence.sysexBytes;
        // Messages before `tick` (all of them for kToEnd); a tempo goes first at its tick.
        constexpr std::uint64_t kToEnd = 1ull << 32;
        auto sysexBefore = [&](std::uint64_t tick) {
            for (; s < sequence.sysex.size() && sequence.sysex[s].tick < tick; ++s) {
                const music::SysExEvent& x = sequence.sysex[s];
                if (x.group != 0 || x.offset >= bytes.size() || x.length > bytes.size() - x.offset) continue;
                track.sysex(x.tick, bytes.data() + x.offset, x.length);
            }
        };
        // Markers go with the tempo track too, in time order with the
        // system-exclusive messages.
        std::size_t m = 0;
        auto before = [&](std::uint64_t tick) {
            for (;;) {
                const bool marker = m < sequence.markers.size() && sequence.markers[m].tick < tick;
                if (marker && (s >= sequence.sysex.size() || sequence.markers[m].tick <= sequence.sysex[s].tick)) {
                    const std::string& text = sequence.markers[m++].text;
                    track.meta(sequence.markers[m - 1].tick, 0x06, reinterpret_cast<const std::uint8_t*>(text.data()),
                               static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), 0xFFFF)));
                } else if (s < sequence.sysex.size() && sequence.sysex[s].tick < tick) {
                    sysexBefore(std::uint64_t(sequence.sysex[s].tick) + 1);
                } else {
                    return;
                }
            }
        };
        for (const music::TempoChange& t : sequence.tempos) {
            before(t.tick);
            tempo(t.tick, std::clamp<std::uint32_t>(t.microsecondsPerQuarter, 1, 0xFFFFFF));
        }
        before(kToEnd);
        track.end(sequence.lengthTicks);
    }

    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        if (!used[ch]) continue;
        TrackChunk track(out, divisor);
        std::size_t p = 0;
        // A band's patch goes before the channel's events of the same tick, as the player sends it.
        auto patchesUpTo = [&](std::uint32_t tick) {
            for (; p < sequence.patches.size() && sequence.patches[p].tick <= tick; ++p) {
                const music::PatchSelect& x = sequence.patches[p];
                if (x.group != 0 || x.channel != ch) continue;
                track.channel(x.tick, static_cast<std::uint8_t>(0xB0 | ch), 0, x.bankMsb);
                track.channel(x.tick, static_cast<std::uint8_t>(0xB0 | ch), 32, x.bankLsb);
                track.channel(x.tick, static_cast<std::uint8_t>(0xC0 | ch), x.program, 0);
            }
        };
        std::uint32_t last = 0;
        for (const music::SeqEvent& e : sequence.events) {
            if (e.group != 0 || (e.status & 0x0F) != ch || e.status < 0x80 || e.status >= 0xF0) continue;
            patchesUpTo(e.tick);
            track.channel(e.tick, e.status, e.data1, e.data2);
            last = e.tick;
        }
        patchesUpTo(0xFFFFFFFFu);
        track.end(std::max(last, sequence.lengthTicks));
    }
    return out;
}

} // namespace qorn::formats
