#include "TemplateComposer.h"

#include "SeededRandom.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>

namespace qorn::composer {

namespace st = formats::style;
namespace sp = cm::signpost;

namespace {

// Cells of the path search (graph chords times beats) over one whole
// composition: far above any authored chordmap and template, and a bound
// on what a damaged one costs.
constexpr std::size_t kMaxSearchCells = std::size_t(1) << 24;
// Chords one composition writes.
constexpr std::size_t kMaxChords = std::size_t(1) << 16;

// The beats a chord is held at each activity, in measures of the style:
// half a measure, one, two, four.
int PreferredBeats(int activity, const st::TimeSignature& ts) {
    static constexpr std::array<int, 4> kHalfMeasures = {1, 2, 4, 8};
    const int beats = std::max<int>(ts.beatsPerMeasure, 1);
    return std::max(1, kHalfMeasures[std::size_t(std::clamp(activity, 0, kMaxActivity))] * beats / 2);
}

class ChordWriter {
  public:
    ChordWriter(st::ChordTrack& track, const st::TimeSignature& ts) : track_(track), ts_(ts) {}
    void add(const st::Chord& chord, std::int64_t time) {
        if (track_.chords.size() >= kMaxChords) return;
        if (!track_.chords.empty() && track_.chords.back().time >= time) track_.chords.pop_back();
        st::Chord c = chord;
        c.time = static_cast<std::int32_t>(time);
        c.measure = static_cast<std::uint16_t>(time / ts_.measureTicks());
        c.beat = static_cast<std::uint8_t>((time % ts_.measureTicks()) / ts_.beatTicks());
        track_.chords.push_back(std::move(c));
    }

  private:
    st::ChordTrack& track_;
    const st::TimeSignature& ts_;
};

class PathFinder {
  public:
    PathFinder(const cm::Chordmap& map, SeededRandom& random) : map_(map), random_(random) {
        std::map<std::uint16_t, int> byId;
        for (std::size_t i = 0; i < map.graph.size(); ++i)
            byId.emplace(map.graph[i].connectionId, static_cast<int>(i));
        edges_.resize(map.graph.size());
        for (std::size_t i = 0; i < map.graph.size(); ++i)
            for (const auto& next : map.graph[i].next)
                if (auto it = byId.find(next.connectionId); it != byId.end()) edges_[i].push_back({it->second, next});
    }

    // A walk from a graph chord like `from` that lasts `beats` beats and
    // ends on a chord like `to` (any chord when null), each chord held
    // as its edge allows, near `preferred` beats. Empty when none fits.
    std::vector<std::pair<int, int>> find(const st::Chord& from, const st::Chord* to, int beats, int preferred) {
        const std::size_t n = edges_.size();
        if (n == 0 || beats < 0 || budget_ < n * std::size_t(beats + 1)) return {};
        budget_ -= n * std::size_t(beats + 1);
        const std::size_t rows = std::size_t(beats) + 1;
        // fits[r*n+i]: from chord i, a walk of r beats can end as asked;
        // count[i*rows+r]: how many r' <= r fit from i.
        std::vector<char> fits(rows * n, 0);
        std::vector<std::uint32_t> count(rows * n, 0);
        for (std::size_t i = 0; i < n; ++i)
            fits[i] = to == nullptr || SameChord(map_.graph[i].chord, *to);
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t i = 0; i < n && r > 0; ++i)
                for (const auto& e : edges_[i]) {
                    const auto [lo, hi] = holdRange(e.second, int(r), beats);
                    if (lo > hi) continue;
                    const std::size_t m = std::size_t(e.first);
                    const std::uint32_t upTo = count[m * rows + (r - std::size_t(lo))];
                    const std::uint32_t below =
                        int(r) - hi - 1 >= 0 ? count[m * rows + std::size_t(int(r) - hi - 1)] : 0;
                    if (upTo > below) {
                        fits[r * n + i] = 1;
                        break;
                    }
                }
            for (std::size_t i = 0; i < n; ++i)
                count[i * rows + r] = (r > 0 ? count[i * rows + r - 1] : 0) + std::uint32_t(fits[r * n + i]);
        }
        std::vector<int> starts;
        for (std::size_t i = 0; i < n; ++i)
            if (fits[std::size_t(beats) * n + i] && SameChord(map_.graph[i].chord, from)) starts.push_back(int(i));
        if (starts.empty()) return {};
        // The walk: (chord, beats held) pairs; the last is held 0 beats.
        std::vector<std::pair<int, int>> walk;
        int at = starts[random_.below(std::uint32_t(starts.size()))];
        int left = beats;
        while (left > 0) {
            struct Option {
                int to, hold;
                std::uint32_t weight;
            };
            std::vector<Option> options;
            for (const auto& e : edges_[std::size_t(at)]) {
                const auto [lo, hi] = holdRange(e.second, left, beats);
                int best = -1;
                for (int d = lo; d <= hi; ++d) {
                    if (!fits[std::size_t(left - d) * n + std::size_t(e.first)]) continue;
                    if (best < 0 || std::abs(d - preferred) < std::abs(best - preferred)) best = d;
                }
                if (best < 0) continue;
                const std::uint32_t weight =
                    std::max<std::uint32_t>(e.second.weight, 1) * 64u / std::uint32_t(1 + std::abs(best - preferred));
                options.push_back({e.first, best, std::max<std::uint32_t>(weight, 1)});
            }
            if (options.empty()) return {}; // cannot happen: fits says one exists
            std::uint32_t total = 0;
            for (const auto& o : options)
                total += o.weight;
            std::uint32_t pick = random_.below(total);
            const Option* chosen = &options.back();
            for (const auto& o : options) {
                if (pick < o.weight) {
                    chosen = &o;
                    break;
                }
                pick -= o.weight;
            }
            walk.push_back({at, chosen->hold});
            at = chosen->to;
            left -= chosen->hold;
        }
        walk.push_back({at, 0});
        return walk;
    }

  private:
    // The beats an edge lets its chord be held with `left` beats to go: at
    // least one; an edge without a maximum holds up to the whole span.
    static std::pair<int, int> holdRange(const cm::NextChord& e, int left, int span) {
        const int lo = std::max<int>(1, e.minBeats);
        const int hi = std::min<int>(left, e.maxBeats >= lo ? int(e.maxBeats) : span);
        return {lo, hi};
    }

    const cm::Chordmap& map_;
    SeededRandom& random_;
    std::vector<std::vector<std::pair<int, cm::NextChord>>> edges_;
    std::size_t budget_ = kMaxSearchCells;
};

std::vector<int> Candidates(const cm::Chordmap& map, std::uint32_t groups) {
    std::vector<int> out;
    const std::uint32_t wanted = groups & (sp::kLetters | sp::kRoots);
    for (std::size_t i = 0; i < map.signposts.size(); ++i)
        if (wanted == 0 || (map.signposts[i].groups & wanted) != 0) out.push_back(static_cast<int>(i));
    return out;
}

// The cadence chords that come before signpost chord `c` at a template
// signpost with `groups`: those its flags ask for, or all it has when the
// template asks for a cadence.
std::vector<const st::Chord*> CadencesOf(const cm::SignpostChord& c, std::uint32_t groups) {
    std::vector<const st::Chord*> out;
    for (std::size_t k = 0; k < c.cadences.size(); ++k) {
        const std::uint32_t flag = k == 0 ? cm::cadence::kFirst : cm::cadence::kSecond;
        if ((c.cadenceFlags & flag) || (groups & sp::kCadence)) out.push_back(&c.cadences[k]);
    }
    return out;
}

st::Chord TonicChord(std::uint8_t keyRoot) {
    st::Chord c;
    c.name = "M";
    st::SubChord s;
    s.chordRoot = static_cast<std::uint8_t>(12 + keyRoot % 12);
    s.scaleRoot = static_cast<std::uint8_t>(keyRoot % 12);
    c.subChords.push_back(s);
    return c;
}

} // namespace

bool SameChord(const st::Chord& a, const st::Chord& b) {
    if (a.subChords.empty() || a.subChords.size() != b.subChords.size()) return false;
    for (std::size_t i = 0; i < a.subChords.size(); ++i) {
        const auto& x = a.subChords[i];
        const auto& y = b.subChords[i];
        if (x.chordPattern != y.chordPattern || x.chordRoot % 12 != y.chordRoot % 12) return false;
    }
    return true;
}

ComposedChords ComposeChords(const ChordComposeRequest& request) {
    ComposedChords out;
    const cm::Chordmap* map = request.chordmap;
    const st::TimeSignature& ts = request.timeSignature;
    out.track.keyRoot = map ? static_cast<std::uint8_t>(map->keyRoot % 12) : 0;
    out.track.keyScale = map ? map->scalePattern : 0xAB5AB5;
    ChordWriter writer(out.track, ts);
    const std::int64_t length = std::max<std::int32_t>(request.length, 0);
    if (map == nullptr || map->signposts.empty()) {
        writer.add(TonicChord(out.track.keyRoot), 0);
        out.spans.push_back({0, static_cast<std::int32_t>(length), {}, 0});
        return out;
    }
    std::vector<cm::Signpost> posts;
    for (const auto& s : request.signposts)
        if (s.time >= 0 && s.time < length && (posts.empty() || s.time > posts.back().time)) posts.push_back(s);
    // Music before the first signpost takes its chord.
    if (posts.empty())
        posts.push_back({});
    else
        posts.front().time = 0;

    SeededRandom random(request.seed ^ 0xC40Du);
    PathFinder finder(*map, random);
    const int preferred = PreferredBeats(request.activity, ts);
    const int beatTicks = static_cast<int>(ts.beatTicks());
    const int cadenceBeats = std::max(1, ts.beatsPerMeasure / 2);

    auto pick = [&](const std::vector<int>& from) {
        return from.empty() ? -1 : from[random.below(std::uint32_t(from.size()))];
    };
    std::vector<int> first = Candidates(*map, posts.front().groups);
    int current = pick(first.empty() ? Candidates(*map, 0) : first);
    for (std::size_t i = 0; i < posts.size(); ++i) {
        const std::int64_t start = posts[i].time;
        const std::int64_t end = i + 1 < posts.size() ? posts[i + 1].time : length;
        const cm::SignpostChord& here = map->signposts[std::size_t(current)];
        writer.add(here.chord, start);
        ChordSpan span{static_cast<std::int32_t>(start), static_cast<std::int32_t>(end), {}, 0};
        if (i + 1 == posts.size()) {
            out.spans.push_back(std::move(span)); // no closing signpost: the chord holds
            break;
        }
        const int beats = static_cast<int>((end - start) / beatTicks);
        std::vector<int> next = Candidates(*map, posts[i + 1].groups);
        if (next.empty()) next.push_back(current); // no chord of that group: the harmony stays
        // Candidates in a random order; the first one a path reaches is taken.
        for (std::size_t k = next.size(); k > 1; --k)
            std::swap(next[k - 1], next[random.below(std::uint32_t(k))]);
        int chosen = -1;
        std::vector<const st::Chord*> cadences;
        for (int c : next) {
            const auto& target = map->signposts[std::size_t(c)];
            auto cads = CadencesOf(target, posts[i + 1].groups);
            if (int(cads.size()) * cadenceBeats >= beats) cads.clear();
            const int walkBeats = beats - int(cads.size()) * cadenceBeats;
            auto walk = finder.find(here.chord, cads.empty() ? &target.chord : nullptr, walkBeats, preferred);
            if (walk.empty()) continue;
            chosen = c;
            cadences = std::move(cads);
            std::int64_t t = start;
            for (std::size_t w = 0; w < walk.size(); ++w) {
                span.path.push_back(walk[w].first);
                // The first is the signpost chord already written; without
                // cadences the last is the next signpost's own chord.
                if (w > 0 && (w + 1 < walk.size() || !cadences.empty()))
                    writer.add(map->graph[std::size_t(walk[w].first)].chord, t);
                t += std::int64_t(walk[w].second) * beatTicks;
            }
            break;
        }
        if (chosen < 0) {
            // No path fits: the signpost chord holds, and the next one is
            // any chord of its group, with its cadences.
            chosen = next.front();
            cadences = CadencesOf(map->signposts[std::size_t(chosen)], posts[i + 1].groups);
            if (int(cadences.size()) * cadenceBeats >= beats) cadences.clear();
        }
        std::int64_t t = end - std::int64_t(cadences.size()) * cadenceBeats * beatTicks;
        for (const st::Chord* c : cadences) {
            writer.add(*c, t);
            t += std::int64_t(cadenceBeats) * beatTicks;
        }
        span.cadences = static_cast<int>(cadences.size());
        out.spans.push_back(std::move(span));
        current = chosen;
    }
    return out;
}

std::optional<Shape> ShapeFromName(const std::string& name) {
    for (int s = 0; s <= int(Shape::Song); ++s)
        if (name == ShapeName(Shape(s))) return Shape(s);
    return std::nullopt;
}

const char* ShapeName(Shape shape) {
    switch (shape) {
    case Shape::Falling:
        return "falling";
    case Shape::Level:
        return "level";
    case Shape::Loopable:
        return "loopable";
    case Shape::Loud:
        return "loud";
    case Shape::Quiet:
        return "quiet";
    case Shape::Peaking:
        return "peaking";
    case Shape::Random:
        return "random";
    case Shape::Rising:
        return "rising";
    case Shape::Song:
        return "song";
    }
    return "song";
}

std::string ShapeNames() {
    std::string out;
    for (int s = 0; s <= int(Shape::Song); ++s)
        out += std::string(s ? ", " : "") + ShapeName(Shape(s));
    return out;
}

namespace {

// The measures of the shortest pattern of `style` with `embellishment`, 0 when none.
int EmbellishmentMeasures(const st::Style& style, std::uint16_t embellishment) {
    int measures = 0;
    for (const auto& p : style.patterns)
        if ((p.embellishment & embellishment) && !(p.embellishment & st::embellishment::kMotif))
            measures = measures == 0 ? std::max<int>(p.measures, 1) : std::min<int>(measures, p.measures);
    return measures;
}

} // namespace

ShapeTemplate TemplateFromShape(Shape shape, int measures, const st::Style& style, std::uint32_t seed) {
    ShapeTemplate out;
    measures = std::clamp(measures, 1, kMaxShapeMeasures);
    const std::int32_t bar = static_cast<std::int32_t>(style.timeSignature.measureTicks());
    out.length = measures * bar;
    SeededRandom random(seed ^ 0x5A9Eu);
    auto command = [&](int measure, std::uint8_t kind, std::uint8_t groove) {
        st::Command c;
        c.time = measure * bar;
        c.measure = static_cast<std::uint16_t>(measure);
        c.command = kind;
        c.grooveLevel = groove;
        out.commands.push_back(c);
    };
    auto signpost = [&](int measure, std::uint32_t groups) {
        out.signposts.push_back({measure * bar, static_cast<std::uint16_t>(measure), groups});
    };
    // Phrases of four measures, sections of eight.
    constexpr int kPhrase = 4;
    constexpr int kSection = 8;
    const bool ends = shape != Shape::Loopable;
    const int intro = ends ? EmbellishmentMeasures(style, st::embellishment::kIntro) : 0;
    const int ending = ends ? EmbellishmentMeasures(style, st::embellishment::kEnd) : 0;
    const bool fills = EmbellishmentMeasures(style, st::embellishment::kFill) > 0;
    static constexpr std::uint32_t kSongLetters[] = {sp::kA, sp::kA, sp::kB, sp::kA};
    for (int m = 0; m < measures; m += kPhrase) {
        const double at = measures > 1 ? double(m) / (measures - 1) : 0.0;
        int groove = 50;
        switch (shape) {
        case Shape::Falling:
            groove = int(90 - 70 * at);
            break;
        case Shape::Rising:
            groove = int(20 + 70 * at);
            break;
        case Shape::Peaking:
            groove = int(20 + 70 * (1.0 - std::abs(2.0 * at - 1.0)));
            break;
        case Shape::Loud:
            groove = 85;
            break;
        case Shape::Quiet:
            groove = 20;
            break;
        case Shape::Random:
            groove = 15 + int(random.below(80));
            break;
        case Shape::Song: {
            // Sections A A B A: quiet at first, building, the B section the
            // fullest, then settling; each section's second phrase a step
            // up. Every quarter of the groove range is heard, which the
            // older styles' four groove letters need.
            static constexpr int kSectionGroove[] = {20, 45, 80, 55};
            groove = kSectionGroove[(m / kSection) % 4] + (m % kSection >= kPhrase ? 10 : 0);
            break;
        }
        case Shape::Level:
        case Shape::Loopable:
            break;
        }
        const std::uint32_t letter = shape == Shape::Song     ? kSongLetters[(m / kSection) % 4]
                                     : (m / kPhrase) % 2 == 0 ? sp::kA
                                                              : sp::kB;
        // A phrase opening a section starts on its letter; the other goes elsewhere.
        signpost(m, m % kSection == 0 || shape != Shape::Song ? letter : sp::kC);
        command(m, st::command::kGroove, static_cast<std::uint8_t>(std::clamp(groove, 1, 100)));
        const int sectionEnd = std::min(measures, m + kPhrase) - 1;
        if (fills && shape == Shape::Song && (m + kPhrase) % kSection == 0 && sectionEnd > m &&
            sectionEnd < measures - std::max(ending, 1))
            command(sectionEnd, st::command::kFill, 0);
    }
    if (intro > 0 && intro < measures) {
        out.commands.front().command = st::command::kIntro;
    }
    // The piece comes home: a cadence into the tonic for its last measure.
    if (ends && measures > kPhrase) signpost(measures - 1, sp::k1 | sp::kA | sp::kCadence);
    if (ending > 0 && ending < measures) command(measures - ending, st::command::kEnd, 0);
    std::stable_sort(out.commands.begin(), out.commands.end(),
                     [](const st::Command& a, const st::Command& b) { return a.time < b.time; });
    std::stable_sort(out.signposts.begin(), out.signposts.end(),
                     [](const cm::Signpost& a, const cm::Signpost& b) { return a.time < b.time; });
    return out;
}

} // namespace qorn::composer
