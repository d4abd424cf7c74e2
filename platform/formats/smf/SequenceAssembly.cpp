#include "platform/formats/smf/SequenceAssembly.h"

#include <algorithm>
#include <cstdint>
#include <functional>

namespace qorn::formats::smf {
namespace {

bool IsNoteOn(const music::SeqEvent& e) {
    return (e.status & 0xF0u) == 0x90u && e.data2 != 0;
}
bool IsNoteOff(const music::SeqEvent& e) {
    return (e.status & 0xF0u) == 0x80u || ((e.status & 0xF0u) == 0x90u && e.data2 == 0);
}
// One slot per channel and key. A file's events all use channel group 0.
constexpr std::size_t kNoteSlots = 16 * 128;
std::size_t NoteSlot(const music::SeqEvent& e) {
    return std::size_t(e.status & 0x0Fu) << 7 | (e.data1 & 0x7Fu);
}

// Finds, within one tick, the note-offs that end a note sounding from an
// earlier tick but stand after a note-on of their key. A synthesizer releases
// every voice of a key on a note-off, so "sounding" is a flag, not a count.
class LateReleaseFinder {
  public:
    LateReleaseFinder() : stamp_(kNoteSlots, 0), firstOn_(kNoteSlots, 0), released_(kNoteSlots, false) {}

    // Fills `moves` with (note-off index, index of the first note-on of its key).
    void find(const std::vector<music::SeqEvent>& events, std::size_t begin, std::size_t end,
              const std::vector<bool>& sounding, std::vector<std::pair<std::size_t, std::size_t>>& moves) {
        ++generation_;
        moves.clear();
        for (std::size_t i = begin; i < end; ++i) {
            const auto& e = events[i];
            const bool on = IsNoteOn(e);
            if (!on && !IsNoteOff(e)) continue;
            const std::size_t slot = NoteSlot(e);
            if (stamp_[slot] != generation_) {
                stamp_[slot] = generation_;
                firstOn_[slot] = kNone;
                released_[slot] = false;
            }
            if (on) {
                if (firstOn_[slot] == kNone) firstOn_[slot] = i;
            } else if (sounding[slot] && !released_[slot]) {
                released_[slot] = true;
                if (firstOn_[slot] != kNone) moves.emplace_back(i, firstOn_[slot]);
            }
        }
    }

  private:
    static constexpr std::size_t kNone = SIZE_MAX;
    std::uint64_t generation_ = 0;
    std::vector<std::uint64_t> stamp_;
    std::vector<std::size_t> firstOn_;
    std::vector<bool> released_;
};

} // namespace

std::vector<music::SeqEvent> MergeTracks(std::vector<music::SeqEvent>&& events,
                                         std::span<const std::size_t> trackStarts) {
    const auto byTick = [](const music::SeqEvent& x, const music::SeqEvent& y) { return x.tick < y.tick; };
    if (trackStarts.size() <= 1 || std::is_sorted(events.begin(), events.end(), byTick)) {
        events.shrink_to_fit();
        return std::move(events);
    }
    // Neighbouring runs merge pairwise, level by level; std::merge takes the
    // first run's event on equal ticks, so file order holds at every level.
    std::vector<std::size_t> runs(trackStarts.begin(), trackStarts.end());
    runs.push_back(events.size());
    std::vector<music::SeqEvent> other(events.size());
    std::vector<music::SeqEvent>* from = &events;
    std::vector<music::SeqEvent>* to = &other;
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            const auto first = from->begin() + std::ptrdiff_t(runs[r]);
            const auto middle = from->begin() + std::ptrdiff_t(runs[r + 1]);
            const auto last = r + 2 < runs.size() ? from->begin() + std::ptrdiff_t(runs[r + 2]) : middle;
            std::merge(first, middle, middle, last, to->begin() + std::ptrdiff_t(runs[r]), byTick);
            merged.push_back(std::size_t(last - from->begin()));
        }
        runs = std::move(merged);
        std::swap(from, to);
    }
    if (from != &other) {
        other = {};
        events.shrink_to_fit();
        return std::move(events);
    }
    events = {};
    return other;
}

void CleanUpNotes(std::vector<music::SeqEvent>& events, std::uint32_t endTick) {
    std::vector<bool> sounding(kNoteSlots, false);
    LateReleaseFinder finder;
    std::vector<std::pair<std::size_t, std::size_t>> moves;
    std::vector<std::pair<std::uint64_t, music::SeqEvent>> scratch;
    for (std::size_t begin = 0; begin < events.size();) {
        std::size_t end = begin + 1;
        bool hasOn = IsNoteOn(events[begin]);
        bool hasOff = IsNoteOff(events[begin]);
        while (end < events.size() && events[end].tick == events[begin].tick) {
            hasOn = hasOn || IsNoteOn(events[end]);
            hasOff = hasOff || IsNoteOff(events[end]);
            ++end;
        }
        if (hasOn && hasOff) {
            finder.find(events, begin, end, sounding, moves);
            if (!moves.empty()) {
                // Stable sort on a position key: a moved note-off sorts just
                // before the first note-on of its key, everything else stays.
                scratch.clear();
                for (std::size_t i = begin; i < end; ++i)
                    scratch.emplace_back(2 * std::uint64_t(i) + 1, events[i]);
                for (const auto& [off, firstOn] : moves)
                    scratch[off - begin].first = 2 * std::uint64_t(firstOn);
                std::stable_sort(scratch.begin(), scratch.end(),
                                 [](const auto& x, const auto& y) { return x.first < y.first; });
                for (std::size_t i = begin; i < end; ++i)
                    events[i] = scratch[i - begin].second;
            }
        }
        if (hasOn || hasOff) {
            for (std::size_t i = begin; i < end; ++i) {
                if (IsNoteOn(events[i])) {
                    sounding[NoteSlot(events[i])] = true;
                } else if (IsNoteOff(events[i])) {
                    sounding[NoteSlot(events[i])] = false;
                }
            }
        }
        begin = end;
    }

    const auto hanging = static_cast<std::size_t>(std::count(sounding.begin(), sounding.end(), true));
    if (hanging == 0) return;
    events.reserve(events.size() + hanging);
    for (std::size_t slot = 0; slot < kNoteSlots; ++slot) {
        if (!sounding[slot]) continue;
        events.push_back(music::SeqEvent{endTick, static_cast<std::uint8_t>(0x80u | (slot >> 7)),
                                         static_cast<std::uint8_t>(slot & 0x7Fu), 0, 0});
    }
}

void NormalizeTempoMap(std::vector<music::TempoChange>& tempos) {
    std::stable_sort(tempos.begin(), tempos.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
    std::vector<music::TempoChange> kept;
    kept.reserve(tempos.size());
    for (const auto& t : tempos) {
        if (!kept.empty() && kept.back().tick == t.tick) {
            kept.back() = t;
        } else {
            kept.push_back(t);
        }
    }
    tempos = std::move(kept);
}

void SortSysex(std::vector<music::SysExEvent>& sysex) {
    std::stable_sort(sysex.begin(), sysex.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
    sysex.shrink_to_fit();
}

} // namespace qorn::formats::smf
