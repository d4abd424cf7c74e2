#include "platform/loader/PlayPasses.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace qorn::platform {
namespace {

constexpr std::uint32_t kForever = 0xFFFFFFFFu;

bool IsNoteOff(const music::SeqEvent& e) {
    const std::uint8_t kind = e.status & 0xF0;
    return kind == 0x80 || (kind == 0x90 && e.data2 == 0);
}

// Notes and sustain pedals left on by one pass, per channel block, so the
// joint can release them as the player does at the end of a pass.
class Sounding {
  public:
    void add(const music::SeqEvent& e) {
        const std::uint8_t kind = e.status & 0xF0;
        const std::uint32_t channel = std::uint32_t(e.group) << 4 | (e.status & 0x0F);
        if (kind == 0x90 && e.data2 > 0) {
            ++notes_[channel << 7 | (e.data1 & 0x7F)];
        } else if (kind == 0x80 || kind == 0x90) {
            auto it = notes_.find(channel << 7 | (e.data1 & 0x7F));
            if (it != notes_.end() && --it->second == 0) notes_.erase(it);
        } else if (kind == 0xB0 && e.data1 == 64) {
            if (e.data2 >= 64)
                sustain_.insert(channel);
            else
                sustain_.erase(channel);
        }
    }

    void release(std::uint32_t tick, std::vector<music::SeqEvent>& out) {
        for (const auto& [key, count] : notes_) {
            const auto group = static_cast<std::uint8_t>(key >> 11);
            const auto status = static_cast<std::uint8_t>(0x80 | ((key >> 7) & 0x0F));
            for (std::uint32_t i = 0; i < count; ++i)
                out.push_back({tick, status, static_cast<std::uint8_t>(key & 0x7F), 0, group});
        }
        for (const std::uint32_t channel : sustain_)
            out.push_back({tick, static_cast<std::uint8_t>(0xB0 | (channel & 0x0F)), 64, 0,
                           static_cast<std::uint8_t>(channel >> 4)});
        notes_.clear();
        sustain_.clear();
    }

  private:
    std::map<std::uint32_t, std::uint32_t> notes_;
    std::set<std::uint32_t> sustain_;
};

// One pass of the joined piece: the ticks [from, end) of its version (to
// the end of everything for the last pass), moved by `shift`.
struct PassWindow {
    std::uint32_t from = 0;
    std::uint32_t end = 0;
    bool last = false;
    std::int64_t shift = 0;

    bool takes(std::uint32_t tick) const { return tick >= from && (last || tick < end); }
    std::uint32_t moved(std::uint32_t tick) const {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(std::int64_t(tick) + shift, 0, kForever - 1));
    }
};

void AddEvents(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    Sounding sounding;
    for (const auto& e : pass.events) {
        if (e.tick < w.from) continue;
        if (!w.last && e.tick >= w.end) {
            // Note-offs on the joint still belong to the pass.
            if (e.tick > w.end) break;
            if (!IsNoteOff(e)) continue;
        }
        music::SeqEvent moved = e;
        moved.tick = w.moved(e.tick);
        out.events.push_back(moved);
        if (!w.last) sounding.add(e);
    }
    if (!w.last) sounding.release(w.moved(w.end), out.events);
}

void AddSysEx(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    for (const auto& s : pass.sysex) {
        if (!w.takes(s.tick)) continue;
        if (s.offset > pass.sysexBytes.size() || s.length > pass.sysexBytes.size() - s.offset) continue;
        music::SysExEvent moved = s;
        moved.tick = w.moved(s.tick);
        moved.offset = static_cast<std::uint32_t>(out.sysexBytes.size());
        const auto begin = pass.sysexBytes.begin() + s.offset;
        out.sysexBytes.insert(out.sysexBytes.end(), begin, begin + s.length);
        out.sysex.push_back(moved);
    }
}

void AddPatches(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    for (const auto& p : pass.patches) {
        if (!w.takes(p.tick)) continue;
        music::PatchSelect moved = p;
        moved.tick = w.moved(p.tick);
        out.patches.push_back(moved);
    }
}

void AddResets(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    for (const auto& r : pass.resets) {
        if (!w.takes(r.fromTick)) continue;
        music::ControllerReset moved = r;
        moved.fromTick = w.moved(r.fromTick);
        moved.untilTick = w.moved(r.untilTick);
        out.resets.push_back(moved);
    }
}

void AddTempo(music::Sequence& out, std::uint32_t tick, std::uint32_t microsecondsPerQuarter) {
    if (!out.tempos.empty() && out.tempos.back().tick == tick)
        out.tempos.back().microsecondsPerQuarter = microsecondsPerQuarter;
    else
        out.tempos.push_back({tick, microsecondsPerQuarter});
}

void AddTempos(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    const auto& tempos = pass.tempos;
    if (tempos.empty()) return;
    // Tempo is the performance's state: a jump back plays on at the tempo in
    // force until a change of the region replays (one at the loop start too).
    for (const auto& t : tempos) {
        if (!w.takes(t.tick)) continue;
        AddTempo(out, w.moved(t.tick), t.microsecondsPerQuarter);
    }
}

void AddWaves(const music::Sequence& pass, const PassWindow& w, music::Sequence& out) {
    for (const auto& item : pass.waves) {
        if (!w.takes(item.tick)) continue;
        music::WaveItem moved = item;
        moved.tick = w.moved(item.tick);
        if (!w.last) {
            // Waves stop with their pass, like the notes.
            const std::uint32_t end = item.endTick == 0 ? w.end : std::min(item.endTick, w.end);
            moved.endTick = w.moved(end);
        } else if (item.endTick != 0) {
            moved.endTick = w.moved(item.endTick);
        }
        out.waves.push_back(moved);
    }
}

} // namespace

PlayedLoop PlayedLoopOf(const music::Sequence& s) {
    PlayedLoop loop;
    loop.end = s.loopEndTicks == 0 ? s.lengthTicks : std::min(s.loopEndTicks, s.lengthTicks);
    loop.start = s.loopStartTicks;
    if (loop.start >= loop.end) {
        loop.start = 0;
        loop.end = s.lengthTicks;
    }
    return loop;
}

PassPlan PlanPasses(std::uint32_t repeats, std::size_t eventsPerPass) {
    PassPlan plan;
    if (repeats == 0) return plan;
    const std::size_t budget = kMaxUnrolledEvents / std::max<std::size_t>(eventsPerPass, 1);
    const auto most = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxUnrolledPasses, budget));
    if (repeats != kForever && repeats < most) {
        plan.cycle = repeats;
        return plan;
    }
    // A cycle of passes repeats, after the passes that make the count come out right.
    const std::uint32_t room = most == 0 ? 0 : (repeats == kForever ? most - 1 : (most - 1) / 2);
    const std::uint32_t cycle = std::min(kPassCycle, room);
    if (cycle == 0) return plan;
    plan.cycle = cycle;
    if (repeats == kForever) {
        plan.cycleRepeats = kForever;
    } else {
        plan.prefix = repeats % cycle;
        plan.cycleRepeats = repeats / cycle - 1;
    }
    return plan;
}

std::shared_ptr<const music::Sequence> UnrollPasses(const std::vector<std::shared_ptr<const music::Sequence>>& passes,
                                                    const PassPlan& plan) {
    const std::size_t n = plan.passes();
    if (passes.size() != n || n < 2) return nullptr;
    for (const auto& p : passes)
        if (!p) return nullptr;
    const music::Sequence& first = *passes.front();
    const PlayedLoop loop = PlayedLoopOf(first);
    if (loop.end == 0) return nullptr;
    const std::uint64_t region = loop.end - loop.start;
    const std::uint64_t length = loop.end + (n - 1) * region + (first.lengthTicks - loop.end);
    if (length > std::uint64_t(std::numeric_limits<std::int32_t>::max())) return nullptr;

    auto out = std::make_shared<music::Sequence>();
    out->ticksPerQuarter = first.ticksPerQuarter;
    out->collections = first.collections;
    out->waveData = first.waveData;
    out->priorities = first.priorities; // every pass has the same bands
    std::size_t events = 0;
    for (const auto& p : passes)
        events += p->events.size();
    out->events.reserve(events);
    for (std::size_t k = 0; k < n; ++k) {
        PassWindow w;
        w.from = k == 0 ? 0 : loop.start;
        w.end = loop.end;
        w.last = k + 1 == n;
        const std::int64_t startsAt = k == 0 ? 0 : std::int64_t(loop.end) + std::int64_t(k - 1) * std::int64_t(region);
        w.shift = startsAt - w.from;
        const music::Sequence& pass = *passes[k];
        AddEvents(pass, w, *out);
        AddSysEx(pass, w, *out);
        AddPatches(pass, w, *out);
        AddTempos(pass, w, *out);
        AddWaves(pass, w, *out);
        AddResets(pass, w, *out);
        for (const auto& m : pass.markers)
            if (w.takes(m.tick)) out->markers.push_back({w.moved(m.tick), m.text});
    }
    out->lengthTicks = static_cast<std::uint32_t>(length);
    out->repeats = plan.cycleRepeats;
    if (plan.cycleRepeats != 0) {
        out->loopStartTicks = static_cast<std::uint32_t>(loop.end + plan.prefix * region);
        out->loopEndTicks = static_cast<std::uint32_t>(loop.end + (n - 1) * region);
    }
    return out;
}

} // namespace qorn::platform
