#include "SegmentSequence.h"

#include "CurveRenderer.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsCollection.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace qorn::formats::segment {

namespace {

using music::PatchSelect;
using music::SeqEvent;

// Curves of a hostile file could ask for billions of points; past this
// many messages the remaining curves jump straight to their end values.
// (Continuous pitch bend on 16 channels for five minutes needs about 600,000.)
constexpr std::size_t kCurveEventBudget = limits::kMaxCurveEvents;

// Order of messages that share a tick: what a band sets comes first, then
// note-offs (so a re-struck note is not cut), then everything else.
enum Priority : std::uint8_t { kBandSetup = 0, kNoteOff = 1, kOther = 2 };

struct Pending {
    std::int64_t tick;
    std::uint8_t priority;
    bool chase; // a state change that still applies when it lies before the play start
    SeqEvent event;
};

// Calls send(status, data1, data2) with the messages that set a curve's
// controller, pitch bend or pressure to `value` (in the kind's range);
// `select` first selects the parameter of an RPN or NRPN curve.
template <typename Send>
void CurveMessages(const CurveItem& k, std::uint8_t channel, int value, bool select, Send send) {
    const auto cc = static_cast<std::uint8_t>(0xB0 | channel);
    switch (static_cast<CurveKind>(k.kind)) {
    case CurveKind::PitchBend:
        send(static_cast<std::uint8_t>(0xE0 | channel), value & 0x7F, (value >> 7) & 0x7F);
        break;
    case CurveKind::Controller:
        send(cc, k.ccData & 0x7F, std::clamp(value, 0, 127));
        break;
    case CurveKind::ChannelPressure:
        send(static_cast<std::uint8_t>(0xD0 | channel), value & 0x7F, 0);
        break;
    case CurveKind::PolyPressure:
        send(static_cast<std::uint8_t>(0xA0 | channel), k.ccData & 0x7F, value & 0x7F);
        break;
    case CurveKind::Rpn:
    case CurveKind::Nrpn: {
        const bool rpn = static_cast<CurveKind>(k.kind) == CurveKind::Rpn;
        if (select) {
            send(cc, rpn ? 101 : 99, (k.paramType >> 7) & 0x7F);
            send(cc, rpn ? 100 : 98, k.paramType & 0x7F);
        }
        send(cc, 6, (value >> 7) & 0x7F);
        send(cc, 38, value & 0x7F);
        break;
    }
    }
}

struct Transposition {
    std::int64_t tick;
    int semitones;
};

// The keys a band lets its instrument play on a channel from `tick` on.
struct KeyRange {
    std::int64_t tick;
    std::bitset<128> keys;
    bool silent = false; // the instrument could not be loaded: no key plays
};

class Builder {
  public:
    Builder(const SegmentFile& seg, const PChannelMap& channels, music::Sequence& out, Diagnostics* warnings)
        : seg_(seg), channels_(channels), out_(out), warnings_(warnings) {}

    void build() {
        out_ = music::Sequence{};
        out_.ticksPerQuarter = kTicksPerQuarter;
        buildTempoMap();
        computeLength();
        for (const auto& track : seg_.tracks)
            if (track.kind == Track::Kind::Band) addBands(track);
        for (const auto& track : seg_.tracks) {
            if (track.kind == Track::Kind::Sequence) {
                addEvents(track);
                addCurves(track);
            } else if (track.kind == Track::Kind::SysEx) {
                addSysEx(track);
            }
        }
        finish();
    }

  private:
    void warn(std::string text) {
        if (warnings_) warnings_->push_back(std::move(text));
    }

    void buildTempoMap() { tempos_ = SegmentTempoMap(seg_); }

    void computeLength() {
        const auto& h = seg_.header;
        std::int64_t length = h.length;
        if (h.lengthIsClockTime()) length = ClockTimeToTicks(tempos_, kTicksPerQuarter, h.clockLength);
        length_ = std::clamp<std::int64_t>(length, 0, std::numeric_limits<std::int32_t>::max());
        playStart_ = std::clamp<std::int64_t>(h.playStart, 0, length_);
        if (length_ == 0) {
            // No stated length: the piece lasts until its last note ends.
            for (const auto& track : seg_.tracks) {
                for (const auto& e : track.events)
                    length_ =
                        std::max<std::int64_t>(length_, std::int64_t(e.time) + e.offset + std::max(e.duration, 0));
                for (const auto& k : track.curves)
                    length_ =
                        std::max<std::int64_t>(length_, std::int64_t(k.start) + k.offset + std::max(k.duration, 0));
            }
            length_ = std::min<std::int64_t>(length_, std::numeric_limits<std::int32_t>::max());
            playStart_ = 0;
        }
    }

    void push(std::int64_t tick, std::uint8_t priority, bool chase, std::uint8_t status, std::uint8_t d1,
              std::uint8_t d2, std::uint8_t group) {
        pending_.push_back({tick, priority, chase, SeqEvent{0, status, d1, d2, group}});
    }

    void pushController(std::int64_t tick, std::uint8_t priority, std::uint8_t group, std::uint8_t channel,
                        std::uint8_t cc, int value) {
        push(tick, priority, true, static_cast<std::uint8_t>(0xB0 | channel), cc,
             static_cast<std::uint8_t>(std::clamp(value, 0, 127)), group);
    }

    void addBands(const Track& track) {
        for (const auto& band : track.bands) {
            const std::int64_t tick = std::max<std::int64_t>(band.time, 0);
            for (const auto& inst : band.instruments) {
                std::uint8_t group = 0, channel = 0;
                if (!channels_.channelOf(inst.pchannel, group, channel)) continue;
                const bool silent = (inst.flags & BandInstrument::kPatch) && inst.collection == BandInstrument::kSilent;
                if ((inst.flags & BandInstrument::kPatch) && !silent) {
                    PatchSelect p{};
                    p.tick = 0;
                    p.group = group;
                    p.channel = channel;
                    const bool useCollection = inst.collection >= 0 && inst.collection < 0xFFFF;
                    p.collection =
                        useCollection ? static_cast<std::uint16_t>(inst.collection) : PatchSelect::kNoCollection;
                    const bool bank = (inst.flags & BandInstrument::kBankSelect) != 0;
                    p.bankMsb = bank ? inst.bankMsb() : 0;
                    p.bankLsb = bank ? inst.bankLsb() : 0;
                    p.program = inst.program();
                    p.drums = inst.drums();
                    patches_.push_back({tick, p});
                }
                if (inst.flags & BandInstrument::kVolume) {
                    pushController(tick, kBandSetup, group, channel, 7, inst.volume);
                    bandVolumes_.push_back({tick, inst.pchannel, inst.volume});
                }
                if (inst.flags & BandInstrument::kPan) pushController(tick, kBandSetup, group, channel, 10, inst.pan);
                if ((inst.flags & BandInstrument::kPitchBendRange) && inst.hasPitchBendRange) {
                    // Registered parameter 0 (pitch-bend sensitivity) in semitones, then deselect.
                    pushController(tick, kBandSetup, group, channel, 101, 0);
                    pushController(tick, kBandSetup, group, channel, 100, 0);
                    pushController(tick, kBandSetup, group, channel, 6, inst.pitchBendRange);
                    pushController(tick, kBandSetup, group, channel, 38, 0);
                    pushController(tick, kBandSetup, group, channel, 101, 127);
                    pushController(tick, kBandSetup, group, channel, 100, 127);
                }
                keyRanges_[inst.pchannel].push_back({tick, silent ? std::bitset<128>{} : keysPlayed(inst), silent});
                if (inst.flags & BandInstrument::kChannelPriority) rankChannel(group, channel, inst.priority);
                if (inst.flags & BandInstrument::kTranspose) {
                    // A drum kit's keys choose instruments, so transposing them would swap sounds.
                    const int semitones = inst.drums() && (inst.flags & BandInstrument::kPatch) ? 0 : inst.transpose;
                    transpose_[inst.pchannel].push_back({tick, semitones});
                }
            }
        }
        for (auto& [pch, list] : transpose_)
            std::stable_sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.tick < b.tick; });
        for (auto& [pch, list] : keyRanges_)
            std::stable_sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.tick < b.tick; });
    }

    void rankChannel(std::uint8_t group, std::uint8_t channel, std::uint32_t priority) {
        for (auto& p : out_.priorities) {
            if (p.group == group && p.channel == channel) {
                p.priority = std::max(p.priority, priority);
                return;
            }
        }
        out_.priorities.push_back({group, channel, priority});
    }

    // The band instrument in force on `pchannel` at `tick`, null for none.
    const KeyRange* rangeAt(std::uint32_t pchannel, std::int64_t tick) const {
        auto it = keyRanges_.find(pchannel);
        if (it == keyRanges_.end()) return nullptr;
        const KeyRange* range = nullptr;
        for (const auto& r : it->second) {
            if (r.tick > tick) break;
            range = &r;
        }
        return range;
    }

    // A band's instrument is downloaded only with the regions that hold a
    // key of its note ranges, so other keys find nothing to sound. Where the
    // collection's regions are known a whole region plays; the General MIDI
    // set is taken key by key. No range at all asks for the whole instrument.
    std::bitset<128> keysPlayed(const BandInstrument& inst) const {
        std::bitset<128> keys;
        for (std::size_t key = 0; key < 128; ++key)
            keys[key] = (inst.noteRanges[key / 32] >> (key % 32)) & 1u;
        if (!(inst.flags & BandInstrument::kNoteRanges) || keys.none()) return keys.set();
        const bool inCollection = inst.collection >= 0 && std::size_t(inst.collection) < seg_.collections.size() &&
                                  seg_.collections[std::size_t(inst.collection)];
        if (!inCollection) return keys;
        const dls::Instrument* found =
            dls::FindBandInstrument(*seg_.collections[std::size_t(inst.collection)], inst.bankMsb(), inst.bankLsb(),
                                    inst.program(), inst.drums());
        if (found == nullptr) return keys;
        std::bitset<128> regions;
        for (const auto& region : found->regions) {
            const std::size_t low = std::min<std::size_t>(region.keyLow, 127);
            const std::size_t high = std::min<std::size_t>(region.keyHigh, 127);
            bool asked = false;
            for (std::size_t key = low; key <= high; ++key)
                asked = asked || keys[key];
            if (!asked) continue;
            for (std::size_t key = low; key <= high; ++key)
                regions[key] = true;
        }
        return regions;
    }

    int transposeAt(std::uint32_t pchannel, std::int64_t tick) const {
        auto it = transpose_.find(pchannel);
        if (it == transpose_.end()) return 0;
        int value = 0;
        for (const auto& t : it->second) {
            if (t.tick > tick) break;
            value = t.semitones;
        }
        return value;
    }

    void addEvents(const Track& track) {
        for (const auto& e : track.events) {
            std::uint8_t group = 0, channel = 0;
            if (!channels_.channelOf(e.pchannel, group, channel)) continue;
            const std::uint8_t kind = e.status & 0xF0;
            if (kind < 0x80 || kind == 0xF0) continue;
            const std::int64_t tick = std::int64_t(e.time) + e.offset;
            const auto status = static_cast<std::uint8_t>(kind | channel);
            const std::uint8_t d1 = e.data1 & 0x7F, d2 = e.data2 & 0x7F;
            if (kind == 0x90 && d2 > 0) {
                const int key = d1 + transposeAt(e.pchannel, tick);
                if (key < 0 || key > 127) continue;
                if (const KeyRange* range = rangeAt(e.pchannel, tick); range && !range->keys[std::size_t(key)]) {
                    if (!range->silent) ++outOfRange_;
                    continue;
                }
                if (tick < playStart_) continue; // a note begun before the start is not heard
                const std::int64_t off = tick + std::max<std::int32_t>(e.duration, 1);
                push(tick, kOther, false, status, static_cast<std::uint8_t>(key), d2, group);
                push(off, kNoteOff, false, static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 0,
                     group);
            } else if (kind == 0x80 || kind == 0x90) {
                continue; // the note-off of a duration note is made from its duration
            } else {
                push(tick, kOther, true, status, d1, (kind == 0xC0 || kind == 0xD0) ? 0 : d2, group);
            }
        }
    }

    // Where a curve that starts "from the current value" starts: the end of
    // the previous curve of the same controller, else the band's volume, else
    // the controller's usual default.
    int currentValue(const CurveItem& k, std::int64_t start,
                     const std::map<std::pair<std::uint32_t, int>, int>& lastEnd) const {
        const int key = k.kind == static_cast<std::uint8_t>(CurveKind::PitchBend) ? -1 : k.ccData;
        if (auto it = lastEnd.find({k.pchannel, key}); it != lastEnd.end()) return it->second;
        if (key == -1) return 8192;
        if (key == 7) {
            int volume = 100;
            for (const auto& [tick, pch, v] : bandVolumes_)
                if (pch == k.pchannel && tick <= start) volume = v;
            return volume;
        }
        return 127;
    }

    void addCurves(const Track& track) {
        std::vector<const CurveItem*> curves;
        for (const auto& k : track.curves)
            curves.push_back(&k);
        std::stable_sort(curves.begin(), curves.end(), [](auto* a, auto* b) {
            return std::int64_t(a->start) + a->offset < std::int64_t(b->start) + b->offset;
        });
        std::map<std::pair<std::uint32_t, int>, int> lastEnd;
        for (const CurveItem* item : curves) {
            CurveItem k = *item;
            std::uint8_t group = 0, channel = 0;
            if (!channels_.channelOf(k.pchannel, group, channel)) continue;
            const auto kind = static_cast<CurveKind>(k.kind);
            if (kind < CurveKind::PitchBend || kind > CurveKind::Nrpn) continue;
            const std::int64_t start = std::int64_t(k.start) + k.offset;
            const bool tracked = kind == CurveKind::PitchBend || kind == CurveKind::Controller;
            if (tracked && (k.flags & CurveItem::kStartFromCurrent))
                k.startValue = static_cast<std::int16_t>(currentValue(k, start, lastEnd));
            if (tracked) lastEnd[{k.pchannel, kind == CurveKind::PitchBend ? -1 : k.ccData}] = k.endValue;
            bool first = true;
            auto emit = [&](std::int64_t tick, int value) {
                CurveMessages(k, channel, value, first, [&](std::uint8_t status, int d1, int d2) {
                    push(tick, kOther, true, status, static_cast<std::uint8_t>(d1), static_cast<std::uint8_t>(d2),
                         group);
                });
                first = false;
            };
            const std::size_t before = pending_.size();
            if (curveEvents_ >= kCurveEventBudget) {
                CurveItem instant = k;
                instant.shape = static_cast<std::uint8_t>(CurveShape::Instant);
                RenderCurve(instant, start, emit);
            } else {
                RenderCurve(k, start, emit);
            }
            curveEvents_ += pending_.size() - before;
            if (k.flags & CurveItem::kReset) addReset(k, start, group, channel);
        }
    }

    // The reset value applies only when playback is cut short from the
    // curve's start to the end of its reset time; the player sends it then.
    void addReset(const CurveItem& k, std::int64_t start, std::uint8_t group, std::uint8_t channel) {
        const std::int64_t until =
            start + std::max<std::int32_t>(k.duration, 0) + std::max<std::int32_t>(k.resetDuration, 0);
        const int value = std::clamp<int>(k.resetValue, 0, CurveMaxValue(k));
        CurveMessages(k, channel, value, true, [&](std::uint8_t status, int d1, int d2) {
            resets_.push_back({start, until,
                               music::ControllerReset{0, 0, status, static_cast<std::uint8_t>(d1),
                                                      static_cast<std::uint8_t>(d2), group}});
        });
    }

    void addSysEx(const Track& track) {
        for (const auto& s : track.sysex) {
            const std::uint8_t group = channels_.groupOf(s.pchannel);
            const std::int64_t tick = std::max<std::int64_t>(s.time, 0) - playStart_;
            if (tick < 0 || tick >= length_) continue;
            if (out_.sysexBytes.size() + s.bytes.size() > std::numeric_limits<std::uint32_t>::max()) break;
            out_.sysex.push_back({static_cast<std::uint32_t>(tick), static_cast<std::uint32_t>(out_.sysexBytes.size()),
                                  static_cast<std::uint32_t>(s.bytes.size()), group});
            out_.sysexBytes.insert(out_.sysexBytes.end(), s.bytes.begin(), s.bytes.end());
        }
    }

    // Moves everything to the play start, cuts at the length, sorts.
    void finish() {
        const std::int64_t length = length_ - playStart_;
        std::size_t dropped = 0;
        // Sorted by file time first: settings carried to the play start then
        // keep their order, so the latest one before the start wins. Moving
        // and cutting keep the order, so no second sort is needed.
        std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.priority < b.priority;
        });
        std::vector<Pending> kept;
        kept.reserve(pending_.size());
        for (auto p : pending_) {
            std::int64_t tick = p.tick - playStart_;
            if (tick < 0) {
                if (!p.chase) continue;
                tick = 0; // a controller set before the start still holds at the start
            }
            if (tick >= length) {
                if (p.priority == kNoteOff) {
                    tick = length; // the note ends with the segment
                } else {
                    ++dropped;
                    continue;
                }
            }
            p.tick = tick;
            p.event.tick = static_cast<std::uint32_t>(tick);
            kept.push_back(p);
        }
        out_.events.reserve(kept.size());
        for (const auto& p : kept)
            out_.events.push_back(p.event);
        if (dropped > 0) warn(std::to_string(dropped) + " events after the end of the segment not played");
        if (outOfRange_ > 0)
            warn(std::to_string(outOfRange_) + " notes outside their band instrument's note ranges not played");
        if (!channels_.refused().empty()) warn(channels_.refusedMessage());

        std::stable_sort(resets_.begin(), resets_.end(),
                         [](auto& a, auto& b) { return std::get<0>(a) < std::get<0>(b); });
        for (auto [from, until, r] : resets_) {
            from = std::max<std::int64_t>(from - playStart_, 0);
            until = std::min<std::int64_t>(until - playStart_, length);
            if (until < 0 || from > until) continue;
            r.fromTick = static_cast<std::uint32_t>(from);
            r.untilTick = static_cast<std::uint32_t>(until);
            out_.resets.push_back(r);
        }

        std::stable_sort(patches_.begin(), patches_.end(), [](auto& a, auto& b) { return a.first < b.first; });
        for (auto [tick, p] : patches_) {
            tick = std::max<std::int64_t>(tick - playStart_, 0);
            if (tick >= length && tick > 0) continue; // a band after the end is never heard
            p.tick = static_cast<std::uint32_t>(tick);
            out_.patches.push_back(p);
        }

        for (const auto& t : tempos_) {
            const auto tick = static_cast<std::uint32_t>(std::max<std::int64_t>(std::int64_t(t.tick) - playStart_, 0));
            if (tick >= length && tick > 0) break;
            if (!out_.tempos.empty() && out_.tempos.back().tick == tick)
                out_.tempos.back().microsecondsPerQuarter = t.microsecondsPerQuarter;
            else
                out_.tempos.push_back({tick, t.microsecondsPerQuarter});
        }

        out_.lengthTicks = static_cast<std::uint32_t>(length);
        out_.repeats = seg_.header.repeats;
        const std::int64_t loopStart = std::int64_t(seg_.header.loopStart) - playStart_;
        const std::int64_t loopEnd = std::int64_t(seg_.header.loopEnd) - playStart_;
        if (seg_.header.loopEnd != 0) {
            if (loopStart >= 0 && loopStart < loopEnd && loopEnd <= length) {
                out_.loopStartTicks = static_cast<std::uint32_t>(loopStart);
                out_.loopEndTicks = static_cast<std::uint32_t>(loopEnd);
            } else {
                warn("loop points " + std::to_string(seg_.header.loopStart) + ".." +
                     std::to_string(seg_.header.loopEnd) + " outside the segment: the whole segment repeats");
            }
        } else if (loopStart > 0 && loopStart < length) {
            out_.loopStartTicks = static_cast<std::uint32_t>(loopStart);
        }
        out_.collections = seg_.collections;
    }

    const SegmentFile& seg_;
    const PChannelMap& channels_;
    music::Sequence& out_;
    Diagnostics* warnings_;
    std::vector<music::TempoChange> tempos_; // segment time
    std::int64_t length_ = 0;
    std::int64_t playStart_ = 0;
    std::vector<Pending> pending_;
    std::vector<std::pair<std::int64_t, PatchSelect>> patches_;
    std::map<std::uint32_t, std::vector<Transposition>> transpose_;
    std::map<std::uint32_t, std::vector<KeyRange>> keyRanges_;
    std::size_t outOfRange_ = 0;
    std::vector<std::tuple<std::int64_t, std::int64_t, music::ControllerReset>> resets_;
    std::size_t curveEvents_ = 0;
    std::vector<std::tuple<std::int64_t, std::uint32_t, int>> bandVolumes_;
};

} // namespace

std::vector<music::TempoChange> SegmentTempoMap(const SegmentFile& segment) {
    std::vector<TempoItem> items;
    for (const auto& track : segment.tracks)
        if (track.kind == Track::Kind::Tempo) items.insert(items.end(), track.tempos.begin(), track.tempos.end());
    std::stable_sort(items.begin(), items.end(), [](auto& a, auto& b) { return a.time < b.time; });
    std::vector<music::TempoChange> map;
    for (const auto& t : items) {
        const double bpm = std::clamp(t.beatsPerMinute, 1.0, 1000.0);
        map.push_back(
            {static_cast<std::uint32_t>(std::max(t.time, 0)), static_cast<std::uint32_t>(std::lround(60e6 / bpm))});
    }
    return map;
}

std::uint32_t ClockTimeToTicks(const std::vector<music::TempoChange>& tempos, std::uint32_t ticksPerQuarter,
                               std::int64_t clockTime) {
    if (clockTime <= 0) return 0;
    double remaining = static_cast<double>(clockTime) / 10.0; // microseconds
    double tick = 0;
    std::uint32_t usPerQuarter = 500000;
    for (const auto& t : tempos) {
        if (t.tick > tick) {
            const double spanUs = (t.tick - tick) * usPerQuarter / ticksPerQuarter;
            if (spanUs >= remaining) break;
            remaining -= spanUs;
            tick = t.tick;
        }
        usPerQuarter = std::max<std::uint32_t>(t.microsecondsPerQuarter, 1);
    }
    tick += remaining * ticksPerQuarter / usPerQuarter;
    return static_cast<std::uint32_t>(std::min(std::llround(tick), static_cast<long long>(INT32_MAX)));
}

void BuildSegmentSequence(const SegmentFile& segment, const PChannelMap& channels, music::Sequence& out,
                          Diagnostics* warnings) {
    Builder(segment, channels, out, warnings).build();
}

void BuildSegmentSequence(const SegmentFile& segment, music::Sequence& out, Diagnostics* warnings) {
    BuildSegmentSequence(segment, PChannelMap(segment, {}), out, warnings);
}

} // namespace qorn::formats::segment
