#include "StyleComposer.h"

#include "MusicValue.h"
#include "SeededRandom.h"
#include "VariationChooser.h"

#include <algorithm>
#include <limits>
#include <map>

namespace qorn::composer {

namespace st = formats::style;
namespace seg = formats::segment;

namespace {

// Notes written with a range beyond 190 store it in coarser steps.
int StoredRangeToTicks(std::uint8_t range) {
    if (range <= 190) return range;
    if (range <= 212) return (range - 190) * 5 + 190;
    if (range <= 232) return (range - 212) * 10 + 300;
    return (range - 232) * 50 + 500;
}

std::uint16_t EmbellishmentOf(std::uint8_t command) {
    switch (command) {
    case st::command::kFill:
        return st::embellishment::kFill;
    case st::command::kIntro:
        return st::embellishment::kIntro;
    case st::command::kBreak:
        return st::embellishment::kBreak;
    case st::command::kEnd:
    case st::command::kEndAndIntro:
        return st::embellishment::kEnd;
    default:
        return st::embellishment::kNormal;
    }
}

bool Fits(const st::Pattern& p, std::uint8_t level) {
    const int bottom = std::min(p.grooveBottom, p.grooveTop);
    const int top = std::max(p.grooveBottom, p.grooveTop);
    return level >= bottom && level <= top;
}

int Distance(const st::Pattern& p, std::uint8_t level) {
    const int bottom = std::min(p.grooveBottom, p.grooveTop);
    const int top = std::max(p.grooveBottom, p.grooveTop);
    return level < bottom ? bottom - level : level > top ? level - top : 0;
}

bool HasKind(const st::Pattern& p, std::uint16_t embellishment) {
    if (p.embellishment & st::embellishment::kMotif) return false; // motifs are played on request only
    if (embellishment == st::embellishment::kNormal) return p.embellishment == st::embellishment::kNormal;
    return (p.embellishment & embellishment) != 0;
}

// A major chord on the key root, in the octave authored chords use.
st::Chord ChordOnKey(std::uint8_t keyRoot) {
    st::Chord c;
    st::SubChord s;
    s.chordRoot = static_cast<std::uint8_t>(kChordRootOrigin + keyRoot % 12);
    s.scaleRoot = s.chordRoot;
    c.subChords.push_back(s);
    return c;
}

class Composer {
  public:
    explicit Composer(ComposeRequest request)
        : req_(std::move(request)), style_(*req_.style), random_(req_.seed), chooser_(random_),
          defaultChord_(ChordOnKey(req_.chords.keyRoot)) {
        key_.keyRoot = req_.chords.keyRoot;
        key_.keyScale = req_.chords.keyScale;
    }
    Composer(const Composer&) = delete;
    Composer& operator=(const Composer&) = delete;

    void run(std::int64_t from, std::int64_t to, Composition& out) {
        out_ = &out;
        out_->track.kind = seg::Track::Kind::Sequence;
        std::int64_t t = std::max<std::int64_t>(from, req_.start);
        const std::int64_t stop = std::min<std::int64_t>(to, req_.end);
        std::size_t next = 0;
        std::uint8_t groove = kDefaultGrooveLevel;
        const auto& cmds = req_.commands;
        // A span that starts later (a repeat) begins at the groove level in
        // force; fills and breaks asked for before it are over.
        if (t > req_.start) {
            for (; next < cmds.size() && cmds[next].time < t; ++next)
                if (cmds[next].grooveLevel != 0) groove = cmds[next].grooveLevel;
        }
        while (t < stop) {
            if (full() || out_->plays.size() >= kMaxPatternPlays) {
                out_->truncated = true;
                return;
            }
            std::uint16_t embellishment = st::embellishment::kNormal;
            std::uint8_t level = groove;
            while (next < cmds.size() && cmds[next].time <= t) {
                const auto& c = cmds[next++];
                if (c.grooveLevel != 0) groove = c.grooveLevel;
                level = groove;
                if (c.grooveRange != 0)
                    level = static_cast<std::uint8_t>(std::clamp(groove + random_.around(c.grooveRange), 1, 100));
                embellishment = EmbellishmentOf(c.command);
            }
            const std::int64_t nextCommand = next < cmds.size() ? std::max<std::int64_t>(cmds[next].time, t + 1)
                                                                : std::numeric_limits<std::int64_t>::max();
            const int p = req_.onlyPattern < 0 ? ChoosePattern(style_, level, embellishment, random_)
                          : std::size_t(req_.onlyPattern) < style_.patterns.size() ? req_.onlyPattern
                                                                                   : -1;
            if (p < 0) return; // a style without patterns is silent
            const auto& pattern = style_.patterns[std::size_t(p)];
            const std::int64_t end = std::min({t + std::int64_t(pattern.lengthTicks()), nextCommand, stop});
            play(std::size_t(p), t, end, level);
            t = end;
        }
    }

  private:
    bool full() const {
        return out_->track.events.size() >= kMaxComposedNotes || out_->track.curves.size() >= kMaxComposedNotes;
    }

    const st::Chord& chordAt(std::int64_t tick) const {
        const auto& chords = req_.chords.chords;
        auto it = std::upper_bound(chords.begin(), chords.end(), tick,
                                   [](std::int64_t t, const st::Chord& c) { return t < c.time; });
        if (it == chords.begin()) return chords.empty() ? defaultChord_ : chords.front();
        return *(it - 1);
    }

    // The chord that follows the one in force at `tick`, nullptr at the end.
    const st::Chord* chordAfter(std::int64_t tick) const {
        const auto& chords = req_.chords.chords;
        auto it = std::upper_bound(chords.begin(), chords.end(), tick,
                                   [](std::int64_t t, const st::Chord& c) { return t < c.time; });
        return it == chords.end() ? nullptr : &*it;
    }

    void play(std::size_t index, std::int64_t start, std::int64_t end, std::uint8_t level) {
        const auto& pattern = style_.patterns[index];
        PatternPlay record;
        record.start = static_cast<std::int32_t>(start);
        record.end = static_cast<std::int32_t>(end);
        record.pattern = static_cast<int>(index);
        record.grooveLevel = level;
        record.variations.assign(pattern.partRefs.size(), -1);
        if (!pattern.partRefs.empty())
            chooser_.choose(style_, index, pattern, chordAt(start), key_, record.variations.data(), chordAfter(start));
        std::map<int, std::vector<Stretch>> lockedStretches;
        for (std::size_t i = 0; i < pattern.partRefs.size(); ++i) {
            const int v = record.variations[i];
            if (v < 0) continue;
            const auto& ref = pattern.partRefs[i];
            const auto& part = style_.parts[std::size_t(ref.part)];
            // Parts locked together change variation together.
            const int lock = ref.variationLockId & 0x7F;
            auto locked = lock != 0 ? lockedStretches.find(lock) : lockedStretches.end();
            const std::vector<Stretch> stretches =
                locked != lockedStretches.end() ? locked->second : switches(index, pattern, i, v, start, end);
            if (lock != 0) lockedStretches.emplace(lock, stretches);
            for (std::size_t k = 0; k < stretches.size(); ++k)
                playPart(ref, part, stretches[k].variation, start,
                         k + 1 < stretches.size() ? stretches[k + 1].from : end, stretches[k].from);
        }
        out_->plays.push_back(std::move(record));
    }

    struct Stretch {
        std::int64_t from;
        int variation;
    };

    // The variations part reference `i` plays over [start, end) when it
    // starts with `variation`. A part that uses markers changes variation
    // where the chord changes to one its variation does not accept: it
    // takes one that does, from the first place at or after the change
    // where the new variation may start and the old one may stop (at the
    // change itself when they must align with chords). Other parts keep
    // their variation to the end.
    std::vector<Stretch> switches(std::size_t patternIndex, const st::Pattern& pattern, std::size_t i, int variation,
                                  std::int64_t start, std::int64_t end) {
        std::vector<Stretch> out{{start, variation}};
        const auto& ref = pattern.partRefs[i];
        const auto& part = style_.parts[std::size_t(ref.part)];
        if ((part.flags & st::StylePart::kUseMarkers) == 0 || part.markers.empty()) return out;
        const auto& ts = part.timeSignature;
        const std::int64_t partLength = std::int64_t(part.measures == 0 ? 1 : part.measures) * ts.measureTicks();
        const auto& chords = req_.chords.chords;
        for (std::size_t c = 0; c < chords.size(); ++c) {
            const std::int64_t change = chords[c].time;
            if (change <= start || change >= end) continue;
            const int current = out.back().variation;
            const st::Chord* after = c + 1 < chords.size() ? &chords[c + 1] : nullptr;
            Harmony h = key_;
            h.chord = SubChordForLevel(chords[c], ref.subChordLevel);
            Harmony following = key_;
            if (after) following.chord = SubChordForLevel(*after, ref.subChordLevel);
            if ((AcceptedVariations(part, h, after ? &following : nullptr) >> current) & 1u) continue;
            const int next = chooser_.chooseOne(style_, patternIndex, pattern, i, chords[c], key_, after);
            if (next < 0 || next == current) continue;
            const std::int64_t limit = after ? std::min<std::int64_t>(after->time, end) : end;
            auto has = [&](int v, std::uint16_t kind, std::int32_t grid) {
                return std::any_of(part.markers.begin(), part.markers.end(), [&](const st::StyleMarker& m) {
                    return (m.flags & kind) && ((m.variations >> v) & 1u) && m.gridStart == grid;
                });
            };
            const bool stops = std::any_of(part.markers.begin(), part.markers.end(), [&](const st::StyleMarker& m) {
                return (m.flags & st::StyleMarker::kStop) && ((m.variations >> current) & 1u);
            });
            std::int64_t at = limit;
            for (const auto& m : part.markers) {
                if (!(m.flags & st::StyleMarker::kStart) || !((m.variations >> next) & 1u)) continue;
                if (stops && !has(current, st::StyleMarker::kStop, m.gridStart)) continue;
                const std::int64_t offset = ts.gridToTicks(m.gridStart);
                if (offset < 0 || offset >= partLength) continue;
                // The first repeat of the part at or after the change.
                const std::int64_t base =
                    start +
                    std::max<std::int64_t>(0, (change - start - offset + partLength - 1) / partLength) * partLength;
                const bool aligned =
                    (m.flags & st::StyleMarker::kChordAlign) || (part.flags & st::StylePart::kAlignToChords);
                const std::int64_t t = base + offset;
                if (t < at && (!aligned || t == change)) at = t;
            }
            if (at < limit) out.push_back({at, next});
        }
        return out;
    }

    // Plays the notes and curves of `variation` in [from, end), the part
    // repeating from `start`.
    void playPart(const st::PartRef& ref, const st::StylePart& part, int variation, std::int64_t start,
                  std::int64_t end, std::int64_t from) {
        const std::uint32_t bit = 1u << variation;
        const auto& ts = part.timeSignature;
        const std::int64_t partLength = std::int64_t(part.measures == 0 ? 1 : part.measures) * ts.measureTicks();
        // A part shorter than its pattern repeats to fill it.
        // The bound is checked inside the loops too: one pattern of a hostile
        // file can repeat a long part for thousands of measures.
        for (std::int64_t base = start; base < end && !full(); base += partLength) {
            for (const auto& n : part.notes) {
                if (full()) break;
                if ((n.variations & bit) == 0) continue;
                const std::int64_t grid = ts.gridToTicks(n.gridStart);
                if (grid < 0 || grid >= partLength || base + grid >= end || base + grid < from) continue;
                addNote(ref, part, n, base + grid);
            }
            for (const auto& k : part.curves) {
                if (full()) break;
                if ((k.variations & bit) == 0) continue;
                const std::int64_t grid = ts.gridToTicks(k.gridStart);
                if (grid < 0 || grid >= partLength || base + grid >= end || base + grid < from) continue;
                addCurve(ref, k, base + grid);
            }
        }
    }

    void addNote(const st::PartRef& ref, const st::StylePart& part, const st::StyleNote& n, std::int64_t gridTick) {
        // The chord of the grid position, so an anticipated note already
        // sounds the chord it leads into.
        Harmony h = key_;
        h.chord = SubChordForLevel(chordAt(gridTick), ref.subChordLevel);
        const std::uint8_t mode = (n.playMode & st::playmode::kNone) ? part.playMode : n.playMode;
        auto key = MusicValueToMidi(n.musicValue, mode, h);
        if (!key) {
            ++out_->droppedNotes;
            return;
        }
        int midi = *key;
        // Notes mapped through the chord or scale are inverted by octaves into
        // the part's bounds; authored parts set bounds without giving their
        // notes inversion groups, so the bounds alone decide.
        const bool bounded = part.invertLower < part.invertUpper && (part.invertLower > 0 || part.invertUpper < 127);
        const bool mapped = (mode & (st::playmode::kChordIntervals | st::playmode::kScaleIntervals)) != 0;
        if (bounded && (mapped || n.inversionId != 0)) midi = FoldIntoRange(midi, part.invertLower, part.invertUpper);

        const std::int64_t tick =
            std::max<std::int64_t>(gridTick + n.timeOffset + random_.around(StoredRangeToTicks(n.timeRange)), 0);
        const std::int64_t duration =
            std::max<std::int64_t>(std::int64_t{n.duration} + random_.around(StoredRangeToTicks(n.durationRange)), 1);
        const int velocity = std::clamp(n.velocity + random_.around(n.velocityRange), 1, 127);
        if (tick > std::numeric_limits<std::int32_t>::max()) return;

        seg::SequenceItem e;
        e.time = static_cast<std::int32_t>(tick);
        e.duration =
            static_cast<std::int32_t>(std::min<std::int64_t>(duration, std::numeric_limits<std::int32_t>::max()));
        e.pchannel = ref.pchannel;
        e.status = 0x90;
        e.data1 = static_cast<std::uint8_t>(midi);
        e.data2 = static_cast<std::uint8_t>(velocity);
        out_->track.events.push_back(e);
    }

    void addCurve(const st::PartRef& ref, const st::StyleCurve& k, std::int64_t gridTick) {
        const std::int64_t tick = std::max<std::int64_t>(gridTick + k.timeOffset, 0);
        if (tick > std::numeric_limits<std::int32_t>::max()) return;
        seg::CurveItem c;
        c.start = static_cast<std::int32_t>(tick);
        c.duration = k.duration;
        c.resetDuration = k.resetDuration;
        c.pchannel = ref.pchannel;
        c.startValue = k.startValue;
        c.endValue = k.endValue;
        c.resetValue = k.resetValue;
        c.kind = k.kind;
        c.shape = k.shape;
        c.ccData = k.ccData;
        c.flags = k.flags;
        c.paramType = k.paramType;
        out_->track.curves.push_back(c);
    }

    const ComposeRequest req_;
    const st::Style& style_;
    Composition* out_ = nullptr;
    SeededRandom random_;
    VariationChooser chooser_;
    const st::Chord defaultChord_;
    Harmony key_;
};

} // namespace

int ChoosePattern(const st::Style& style, std::uint8_t grooveLevel, std::uint16_t embellishment, SeededRandom& random) {
    for (const std::uint16_t kind : {embellishment, std::uint16_t(st::embellishment::kNormal)}) {
        std::vector<int> fitting;
        int nearest = -1, nearestDistance = std::numeric_limits<int>::max();
        for (std::size_t i = 0; i < style.patterns.size(); ++i) {
            const auto& p = style.patterns[i];
            if (!HasKind(p, kind)) continue;
            if (Fits(p, grooveLevel)) fitting.push_back(static_cast<int>(i));
            const int d = Distance(p, grooveLevel);
            if (d < nearestDistance) {
                nearestDistance = d;
                nearest = static_cast<int>(i);
            }
        }
        if (!fitting.empty()) return fitting[random.below(static_cast<std::uint32_t>(fitting.size()))];
        // No pattern of the kind covers the level: the closest one plays.
        if (nearest >= 0) return nearest;
    }
    return -1;
}

struct SpanComposer::State {
    explicit State(const ComposeRequest& request) : composer(request) {}
    Composer composer;
};

SpanComposer::SpanComposer(const ComposeRequest& request) {
    if (request.style != nullptr && request.end > request.start) state_ = std::make_unique<State>(request);
}

SpanComposer::~SpanComposer() = default;

Composition SpanComposer::compose(std::int32_t start, std::int32_t end) {
    Composition out;
    if (!state_) return out;
    out.track.kind = seg::Track::Kind::Sequence;
    if (end <= start) return out;
    state_->composer.run(start, end, out);
    if (out.track.events.size() >= kMaxComposedNotes || out.track.curves.size() >= kMaxComposedNotes)
        out.truncated = true;
    return out;
}

Composition Compose(const ComposeRequest& request) {
    return SpanComposer(request).compose(request.start, request.end);
}

} // namespace qorn::composer
