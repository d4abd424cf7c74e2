#include "platform/loader/SegmentAssembly.h"

#include "platform/composer/StyleSegment.h"
#include "platform/composer/VariationChooser.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/formats/segment/HostedReferenceResolver.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/SegmentSequence.h"
#include "platform/formats/segment/tracks/ExtraTracks.h"
#include "platform/formats/segment/tracks/StyleTracks.h"
#include "platform/formats/style/StyleReader.h"
#include "platform/waves/WaveData.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <optional>

namespace qorn::platform {

namespace seg = formats::segment;

namespace {

struct PlacedWave {
    std::int64_t time = 0;
    std::int64_t end = 0; // 0: none
    std::shared_ptr<const waves::WaveData> data;
    float gain = 1.0f;
    bool loop = false;
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0;
    std::uint32_t startFrame = 0;
    std::uint32_t pchannel = 0;
    // Its part among the segment's wave parts (kNoPart: it always plays)
    // and the variations of that part it belongs to.
    std::size_t part = kNoPart;
    std::uint32_t variations = 0;

    static constexpr std::size_t kNoPart = static_cast<std::size_t>(-1);
};

using WavePart = composer::VariationChooser::FreePart;

struct Assembled {
    seg::SegmentFile file;
    std::vector<PlacedWave> waves;
    // The parts of its wave tracks, of which one variation each plays.
    std::vector<WavePart> waveParts;
    // What the segment's own style composition was made from, the place of
    // its tracks in `file` and the mutes they went through.
    std::shared_ptr<const composer::StyleComposeInput> styles;
    std::size_t composedAt = 0;
    std::vector<seg::MuteItem> mutes;
    // What it holds that does not sound here, one entry per kind.
    std::vector<std::string> silent;
};

std::string Describe(const seg::ObjectReference& ref) {
    if (!ref.file.empty()) return "'" + ref.file + "'";
    if (!ref.name.empty()) return "'" + ref.name + "'";
    return "(by GUID)";
}

// File names are compared without case or folders, as the resolver finds them.
std::string KeyOf(const seg::ObjectReference& ref) {
    std::string key;
    if (ref.hasObject) key.append(reinterpret_cast<const char*>(&ref.object), sizeof ref.object);
    std::string file = seg::BaseFileName(ref.file);
    for (char& c : file)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key + '\0' + file + '\0' + ref.name;
}

// A segment's own length, or where its last note or curve ends.
std::int64_t LengthOf(const seg::SegmentFile& file) {
    if (file.header.length > 0) return file.header.length;
    std::int64_t length = 0;
    for (const auto& t : file.tracks) {
        for (const auto& e : t.events)
            length = std::max<std::int64_t>(length, std::int64_t(e.time) + e.offset + std::max(e.duration, 0));
        for (const auto& k : t.curves)
            length = std::max<std::int64_t>(length, std::int64_t(k.start) + k.offset + std::max(k.duration, 0));
    }
    return length;
}

std::int32_t Shift(std::int64_t time, std::int64_t by) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(time + by, 0, std::numeric_limits<std::int32_t>::max()));
}

using EmbeddedWaves = std::map<const std::uint8_t*, std::shared_ptr<const waves::WaveData>>;

// The wave parts as the chooser sees them: a part that names no variations
// of its own chooses among those its items belong to.
std::vector<WavePart> WavePartsOf(const seg::ExtraTracks& extra) {
    std::vector<WavePart> parts;
    for (const auto& p : extra.waveParts)
        parts.push_back({p.variations, p.order, p.lock});
    for (const auto& item : extra.waves)
        if (item.part < parts.size() && extra.waveParts[item.part].variations == 0)
            parts[item.part].candidates |= item.variations;
    return parts;
}

// Items of a track timed in clock time, in music time under the segment's tempo.
void ToMusicTime(std::vector<seg::WaveTrackItem>& items, const seg::SegmentFile& file) {
    std::vector<music::TempoChange> tempos;
    for (auto& item : items) {
        if (!item.clockTime) continue;
        if (tempos.empty()) tempos = seg::SegmentTempoMap(file);
        const std::uint32_t start = seg::ClockTimeToTicks(tempos, seg::kTicksPerQuarter, item.time);
        if (item.duration > 0)
            item.duration = seg::ClockTimeToTicks(tempos, seg::kTicksPerQuarter, item.time + item.duration) - start;
        item.time = start;
        item.clockTime = false;
    }
}

// Chooses the variations of wave parts play after play, with numbers of
// its own, so that the music composed from styles does not change with it.
class WaveVariations {
  public:
    WaveVariations(const std::vector<WavePart>& parts, std::uint32_t seed)
        : parts_(parts), random_(seed ^ 0x5741u), chooser_(random_) {}
    // Variation of each part for the next play (-1: none of its items).
    std::vector<int> next() {
        std::vector<int> chosen;
        chooser_.choose(parts_, chosen);
        return chosen;
    }

  private:
    const std::vector<WavePart>& parts_;
    composer::SeededRandom random_;
    composer::VariationChooser chooser_;
};

bool Chosen(const PlacedWave& w, const std::vector<int>& chosen) {
    if (w.part >= chosen.size()) return true;
    return chosen[w.part] >= 0 && ((w.variations >> chosen[w.part]) & 1u) != 0;
}

// Whether the parts sound otherwise from one play to the next.
bool VariesFromPlayToPlay(const std::vector<WavePart>& parts) {
    return std::any_of(parts.begin(), parts.end(), [](const WavePart& p) { return std::popcount(p.candidates) > 1; });
}

class Assembler {
  public:
    Assembler(const seg::ReferenceResolver& resolver, std::uint32_t seed, TemplateLoad* templateLoad = nullptr,
              std::string path = {})
        : resolver_(resolver), seed_(seed), template_(templateLoad), path_(std::move(path)) {}

    std::uint32_t seed() const { return seed_; }

    bool read(std::span<const std::uint8_t> bytes, int depth, Assembled& out, std::string* error) {
        if (!seg::ReadSegmentFile(bytes, out.file, resolver_, error)) return false;
        auto& warnings = out.file.warnings;
        out.composedAt = out.file.tracks.size();
        seg::StyleTracks styleTracks;
        seg::ReadStyleTracks(bytes, resolver_, styleTracks, warnings);
        if (depth == 0 && template_ && styleTracks.hasSignposts) {
            // A template composes its chords; a segment that only carries
            // a signpost track among its notes keeps what it has.
            seed_ = template_->seed;
            ComposedFrom from;
            if (ComposeTemplate(path_, styleTracks, out.file.header.length, template_->options, seed_, resolver_,
                                warnings, from))
                template_->line = seg::BaseFileName(path_) + " composed " +
                                  DescribeComposition(from, template_->options, seed_, true);
        }
        seg::ExtraTracks extra;
        seg::ReadExtraTracks(out.file, extra, warnings);
        ToMusicTime(extra.waves, out.file);
        out.waveParts = WavePartsOf(extra);
        out.mutes = extra.mutes;
        out.silent = extra.silent;
        std::vector<seg::EmbeddedObject> media;
        if (!extra.waves.empty() || !extra.triggers.empty()) seg::IndexEmbeddedObjects(bytes, media);
        // Motifs are composed with the segment's own styles, so that every
        // play chooses their variations anew.
        for (const auto& trigger : extra.triggers)
            if (trigger.flags & seg::TriggerItem::kMotif)
                addMotif(trigger, StartOf(trigger, extra.playMarkers), media, styleTracks, warnings);
        composer::AddStyleComposition(std::move(styleTracks), resolver_, out.file,
                                      seed_ + static_cast<std::uint32_t>(loads_), &out.styles);
        // Embedded waves are known by where they lie in this segment's bytes,
        // so they are cached for this segment only.
        EmbeddedWaves embeddedWaves;
        for (const auto& item : extra.waves)
            placeWave(item, media, embeddedWaves, out, warnings);
        for (const auto& trigger : extra.triggers)
            if ((trigger.flags & seg::TriggerItem::kMotif) == 0)
                addTriggered(trigger, StartOf(trigger, extra.playMarkers), media, depth, out, warnings);
        if (!extra.mutes.empty()) {
            seg::ApplyMutes(extra.mutes, out.file);
            std::vector<seg::MuteItem> mutes = extra.mutes;
            std::stable_sort(mutes.begin(), mutes.end(), [](auto& a, auto& b) { return a.time < b.time; });
            std::erase_if(out.waves, [&](PlacedWave& w) {
                w.pchannel = seg::MappedPChannel(mutes, w.pchannel, w.time);
                return w.pchannel == seg::MuteItem::kMuted;
            });
        }
        return true;
    }

  private:
    std::shared_ptr<const waves::WaveData> findWave(const seg::ObjectReference& ref,
                                                    const std::vector<seg::EmbeddedObject>& media,
                                                    EmbeddedWaves& embedded, formats::Diagnostics& warnings) {
        // Each wave is read once however many items name it.
        const int e = seg::MatchEmbedded(ref, seg::kWaveForm, media);
        const std::uint8_t* at = e >= 0 ? media[static_cast<std::size_t>(e)].bytes.data() : nullptr;
        const std::string key = KeyOf(ref);
        if (e >= 0) {
            if (auto it = embedded.find(at); it != embedded.end()) return it->second;
        } else if (auto it = waves_.find(key); it != waves_.end()) {
            return it->second;
        }
        auto wave = std::make_shared<waves::WaveData>();
        std::string error;
        bool ok = false;
        if (e >= 0) {
            ok = waves::ReadWaveFile(media[static_cast<std::size_t>(e)].bytes, *wave, &error);
        } else if (auto bytes = resolver_.findFileBytes(ref)) {
            ok = waves::ReadWaveFile(*bytes, *wave, &error);
        } else {
            error = "not found";
        }
        std::shared_ptr<const waves::WaveData> result;
        if (ok)
            result = std::move(wave);
        else
            warnings.add({formats::Severity::Warning,
                          "wave " + Describe(ref),
                          {},
                          formats::kNoOffset,
                          "wave " + Describe(ref) + " not played: " + error});
        if (e >= 0)
            embedded.emplace(at, result);
        else
            waves_.emplace(key, result);
        return result;
    }

    void placeWave(const seg::WaveTrackItem& item, const std::vector<seg::EmbeddedObject>& media,
                   EmbeddedWaves& embedded, Assembled& out, formats::Diagnostics& warnings) {
        auto data = findWave(item.reference, media, embedded, warnings);
        if (!data) return;
        PlacedWave w;
        w.time = item.time;
        w.end = item.duration > 0 ? item.time + item.duration : 0;
        w.data = data;
        w.gain = static_cast<float>(std::pow(10.0, item.volume / 2000.0));
        const bool itemLoop = item.loopEnd > item.loopStart;
        w.loop = (itemLoop || data->hasLoop) && (item.flags & seg::WaveTrackItem::kIgnoreLoops) == 0;
        if (itemLoop) {
            w.loopStart = item.loopStart;
            w.loopEnd = item.loopEnd;
        }
        const double startFrame = double(item.startOffset) * data->sampleRate / 1e7;
        w.startFrame = static_cast<std::uint32_t>(std::min(startFrame, double(waves::kMaxFrames)));
        w.pchannel = item.pchannel;
        w.part = item.part;
        w.variations = item.variations;
        out.waves.push_back(std::move(w));
    }

    // An item that waits for a play marker starts at the first one at or
    // after its time; without one it starts at its time.
    static std::int32_t StartOf(const seg::TriggerItem& item, const std::vector<std::int32_t>& playMarkers) {
        if ((item.playFlags & seg::TriggerItem::kAtMarker) == 0) return item.time;
        const auto it = std::lower_bound(playMarkers.begin(), playMarkers.end(), item.time);
        return it == playMarkers.end() ? item.time : *it;
    }

    // The motif the item names, from the style it names or, failing that,
    // the style in force at `at`, is added to what the segment composes.
    void addMotif(const seg::TriggerItem& item, std::int32_t at, const std::vector<seg::EmbeddedObject>& media,
                  seg::StyleTracks& tracks, formats::Diagnostics& warnings) {
        formats::Diagnostics lookup;
        std::shared_ptr<const formats::style::Style> style;
        if (item.hasReference) style = seg::FindStyle(item.reference, media, resolver_, lookup);
        int motif = style ? composer::FindMotif(*style, item.motif) : -1;
        for (auto it = tracks.styles.rbegin(); motif < 0 && it != tracks.styles.rend(); ++it) {
            if (it->time > at) continue;
            style = it->style;
            motif = composer::FindMotif(*style, item.motif);
            break;
        }
        if (motif < 0) {
            warnings.append(lookup);
            const std::string from = item.hasReference ? " of style " + Describe(item.reference) : "";
            warnings.add({formats::Severity::Warning,
                          "motif '" + item.motif + "'",
                          {},
                          formats::kNoOffset,
                          "motif '" + item.motif + "'" + from + " not played: not found"});
            return;
        }
        tracks.motifs.push_back({std::move(style), motif, at});
    }

    void addTriggered(const seg::TriggerItem& trigger, std::int32_t at, const std::vector<seg::EmbeddedObject>& media,
                      int depth, Assembled& out, formats::Diagnostics& warnings) {
        const std::string name = trigger.hasReference ? Describe(trigger.reference) : "(embedded)";
        if (depth >= kMaxTriggerDepth || loads_ >= kMaxTriggeredSegments) {
            warnings.push_back("segment " + name + " not triggered: triggers nested too deep");
            return;
        }
        std::shared_ptr<const std::vector<std::uint8_t>> file;
        std::span<const std::uint8_t> bytes;
        if (!trigger.embedded.empty()) {
            bytes = trigger.embedded;
        } else if (const int e = seg::MatchEmbedded(trigger.reference, seg::kSegmentFormType, media); e >= 0) {
            bytes = media[static_cast<std::size_t>(e)].bytes;
        } else if ((file = resolver_.findFileBytes(trigger.reference))) {
            bytes = *file;
        } else {
            // Named once however often it is triggered.
            const formats::Diagnostic missing{formats::Severity::Warning,
                                              "segment " + name,
                                              {},
                                              formats::kNoOffset,
                                              "segment " + name + " not triggered: not found"};
            if (std::none_of(warnings.begin(), warnings.end(),
                             [&](const formats::Diagnostic& d) { return d.message == missing.message; }))
                warnings.add(missing);
            return;
        }
        ++loads_;
        Assembled child;
        std::string error;
        if (!read(bytes, depth + 1, child, &error)) {
            warnings.push_back("segment " + name + " not triggered: " + error);
            return;
        }
        // A triggered segment plays its waves as chosen when it is read.
        const std::vector<int> chosen =
            WaveVariations(child.waveParts, seed_ + static_cast<std::uint32_t>(loads_)).next();
        std::erase_if(child.waves, [&](const PlacedWave& w) { return !Chosen(w, chosen); });
        for (auto& w : child.waves)
            w.part = PlacedWave::kNoPart;
        merge(child, at, out);
        warnings.append(child.file.warnings, "in triggered segment " + name + ": ");
    }

    // The triggered segment plays once from `at`, under the primary's tempo.
    static void merge(Assembled& child, std::int64_t at, Assembled& out) {
        const std::int64_t length = LengthOf(child.file);
        const std::int64_t playStart =
            child.file.header.length > 0 ? std::clamp<std::int64_t>(child.file.header.playStart, 0, length) : 0;
        const std::int64_t by = at - playStart;
        auto inside = [&](std::int64_t t) { return t >= playStart && t < length; };
        const int collectionBase = static_cast<int>(out.file.collections.size());
        out.file.collections.insert(out.file.collections.end(), child.file.collections.begin(),
                                    child.file.collections.end());
        for (auto& track : child.file.tracks) {
            using Kind = seg::Track::Kind;
            if (track.kind != Kind::Sequence && track.kind != Kind::Band && track.kind != Kind::SysEx) continue;
            std::erase_if(track.events,
                          [&](const seg::SequenceItem& e) { return !inside(std::int64_t(e.time) + e.offset); });
            for (auto& e : track.events) {
                // Notes end with the triggered segment.
                const std::int64_t on = std::int64_t(e.time) + e.offset;
                e.duration = static_cast<std::int32_t>(std::min<std::int64_t>(e.duration, length - on));
                e.time = Shift(e.time, by);
            }
            std::erase_if(track.curves,
                          [&](const seg::CurveItem& k) { return !inside(std::int64_t(k.start) + k.offset); });
            for (auto& k : track.curves)
                k.start = Shift(k.start, by);
            for (auto& s : track.sysex)
                s.time = Shift(s.time, by);
            for (auto& band : track.bands) {
                band.time = Shift(std::max<std::int64_t>(band.time, playStart), by);
                for (auto& inst : band.instruments)
                    if (inst.collection >= 0) inst.collection += collectionBase;
            }
            out.file.tracks.push_back(std::move(track));
        }
        for (auto& w : child.waves) {
            if (!inside(w.time)) continue;
            const std::int64_t end = w.end > 0 ? std::min(w.end, length) : length;
            w.time += by;
            w.end = end + by;
            out.waves.push_back(std::move(w));
        }
    }

    const seg::ReferenceResolver& resolver_;
    std::uint32_t seed_;
    TemplateLoad* template_ = nullptr;
    std::string path_;
    int loads_ = 0;
    std::map<std::string, std::shared_ptr<const waves::WaveData>> waves_;
};

double SecondsPerTick(const music::Sequence& s) {
    const double us = s.tempos.empty() ? 500000.0 : std::max<double>(s.tempos.front().microsecondsPerQuarter, 1);
    return us / 1e6 / std::max<std::uint32_t>(s.ticksPerQuarter, 1);
}

// The waves of `a` that play with the variations `chosen` of its parts.
void AddWaves(const Assembled& a, const seg::PChannelMap& channels, music::Sequence& seq,
              const std::vector<int>& chosen) {
    const auto& h = a.file.header;
    const std::int64_t playStart = h.length > 0 ? std::clamp<std::int64_t>(h.playStart, 0, h.length) : 0;
    const bool open = seq.lengthTicks == 0; // no length of its own: the waves give it one
    std::map<const waves::WaveData*, std::uint32_t> index;
    // Every variation's waves are listed and give an open segment its length,
    // so that the passes of a play agree on both.
    for (const auto& w : a.waves) {
        const std::int64_t tick = w.time - playStart;
        if (tick < 0 || tick > std::numeric_limits<std::int32_t>::max()) continue;
        if (!open && tick >= seq.lengthTicks) continue;
        auto [it, added] = index.emplace(w.data.get(), static_cast<std::uint32_t>(seq.waveData.size()));
        if (added) seq.waveData.push_back(w.data);
        music::WaveItem item{};
        item.tick = static_cast<std::uint32_t>(tick);
        item.endTick = w.end > w.time ? static_cast<std::uint32_t>(std::clamp<std::int64_t>(
                                            w.end - playStart, tick + 1, std::numeric_limits<std::int32_t>::max()))
                                      : 0;
        item.wave = it->second;
        item.gain = w.gain;
        item.loop = w.loop;
        item.group = channels.groupOf(w.pchannel);
        item.loopStart = w.loopStart;
        item.loopEnd = w.loopEnd;
        item.startFrame = w.startFrame;
        if (Chosen(w, chosen)) seq.waves.push_back(item);
        if (open) {
            const double seconds = w.data->sampleRate ? double(w.data->frames()) / w.data->sampleRate : 0.0;
            const double end = item.endTick ? item.endTick : tick + std::ceil(seconds / SecondsPerTick(seq));
            seq.lengthTicks =
                std::max<std::uint32_t>(seq.lengthTicks, static_cast<std::uint32_t>(std::min(end, 2147483647.0)));
        }
    }
    std::stable_sort(seq.waves.begin(), seq.waves.end(), [](auto& x, auto& y) { return x.tick < y.tick; });
}

// Where the PChannels of the piece play: the same for the load and every
// pass, so that the passes of a play agree with each other and a band's
// choice reaches the notes it was made for.
seg::PChannelMap MapPChannels(const Assembled& a) {
    std::vector<std::uint32_t> later;
    if (a.styles) later = composer::ComposedPChannels(*a.styles);
    std::sort(later.begin(), later.end());
    later.erase(std::unique(later.begin(), later.end()), later.end());
    // The mute track may move what is composed later to other PChannels.
    std::vector<std::uint32_t> moved;
    for (const auto& m : a.mutes)
        if (m.mapTo != seg::MuteItem::kMuted && std::binary_search(later.begin(), later.end(), m.pchannel))
            moved.push_back(m.mapTo);
    later.insert(later.end(), moved.begin(), moved.end());
    return seg::PChannelMap(a.file, later);
}

// "C m7": the root of the chord's first sub-chord, then its name as authored.
std::string ChordMarkerText(const formats::style::Chord& chord) {
    static constexpr const char* kNames[] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    const std::string root = chord.subChords.empty() ? "" : kNames[chord.subChords.front().chordRoot % 12];
    return root + " " + chord.name;
}

// Every chord change of the chord track a style composes over becomes a
// marker of the piece, at its time from the play start. Where the play and
// each repeat of the loop begin, the chord in force there is named too
// when none starts there: a pass that starts on it changes to it.
void AddChordMarkers(const Assembled& a, music::Sequence& seq) {
    if (!a.styles || !a.styles->tracks.hasChords) return;
    const auto& h = a.file.header;
    const std::int64_t playStart = h.length > 0 ? std::clamp<std::int64_t>(h.playStart, 0, h.length) : 0;
    const auto& chords = a.styles->tracks.chords.chords; // sorted by time
    std::vector<std::int64_t> starts{0};
    if (seq.loopEndTicks > seq.loopStartTicks && seq.loopStartTicks > 0) starts.push_back(seq.loopStartTicks);
    std::size_t next = 0;
    const formats::style::Chord* inForce = nullptr;
    for (const std::int64_t start : starts) {
        for (; next < chords.size() && std::int64_t(chords[next].time) - playStart <= start; ++next)
            inForce = &chords[next];
        if (inForce && std::int64_t(inForce->time) - playStart < start)
            seq.markers.push_back({static_cast<std::uint32_t>(start), ChordMarkerText(*inForce)});
    }
    for (const auto& chord : chords) {
        const std::int64_t tick = std::int64_t(chord.time) - playStart;
        if (tick < 0 || (tick > 0 && tick >= seq.lengthTicks)) continue;
        seq.markers.push_back({static_cast<std::uint32_t>(tick), ChordMarkerText(chord)});
    }
    std::stable_sort(seq.markers.begin(), seq.markers.end(),
                     [](const music::TextMarker& x, const music::TextMarker& y) { return x.tick < y.tick; });
}

} // namespace

// The assembled segment without its own composed tracks, and where they go.
struct ComposeInput {
    Assembled base;
    seg::PChannelMap channels;
    std::uint32_t loadSeed = 0;
    // Segment time of the piece's first tick.
    std::int64_t playStart = 0;
};

namespace {

// The assembled piece becomes what plays, and what composes it again.
void Finish(Assembled& a, const std::string& label, std::uint32_t seed, std::shared_ptr<const music::Sequence>& out,
            formats::Diagnostics* diagnostics, std::shared_ptr<const ComposeInput>* recompose,
            std::vector<std::string>* silent) {
    auto sequence = std::make_shared<music::Sequence>();
    formats::Diagnostics notes = std::move(a.file.warnings);
    a.file.warnings.clear();
    seg::PChannelMap channels = MapPChannels(a);
    seg::BuildSegmentSequence(a.file, channels, *sequence, &notes);
    // The load plays what the first pass of a play with its seed plays.
    AddWaves(a, channels, *sequence, WaveVariations(a.waveParts, seed).next());
    AddChordMarkers(a, *sequence);
    notes.setFile(label);
    if (diagnostics) *diagnostics = std::move(notes);
    if (silent) *silent = a.silent;
    out = std::move(sequence);

    const std::size_t composed = a.styles ? a.styles->trackCount() : 0;
    const bool varies = composed > 0 || VariesFromPlayToPlay(a.waveParts);
    if (recompose && varies && a.composedAt + composed <= a.file.tracks.size()) {
        auto input = std::make_shared<ComposeInput>();
        const auto& h = a.file.header;
        input->playStart = std::clamp<std::int64_t>(h.playStart, 0, std::max(h.length, 0));
        input->loadSeed = seed;
        auto& tracks = a.file.tracks;
        const auto at = tracks.begin() + static_cast<std::ptrdiff_t>(a.composedAt);
        tracks.erase(at, at + static_cast<std::ptrdiff_t>(composed));
        input->base = std::move(a);
        input->channels = std::move(channels);
        *recompose = std::move(input);
    }
}

// A segment's bytes through the one road; with `templateLoad`, a template
// among them composes its chords; with `host`, the objects the file carries
// are found before those beside it.
bool LoadSegment(std::span<const std::uint8_t> bytes, const std::string& path, seg::ObjectCache& cache,
                 TemplateLoad* templateLoad, std::shared_ptr<const music::Sequence>& out, std::string* error,
                 formats::Diagnostics* diagnostics, std::uint32_t seed, std::shared_ptr<const ComposeInput>* recompose,
                 std::vector<std::string>* silent, const HostFile* host) {
    if (recompose) recompose->reset();
    if (templateLoad) templateLoad->line.clear();
    seg::FolderReferenceResolver folder(path, cache);
    std::optional<seg::HostedReferenceResolver> hosted;
    if (host) hosted.emplace(folder, host->objects, host->segmentOffset);
    const seg::ReferenceResolver& resolver = hosted ? static_cast<const seg::ReferenceResolver&>(*hosted) : folder;
    Assembler assembler(resolver, seed, templateLoad, path);
    Assembled a;
    if (!assembler.read(bytes, 0, a, error)) return false;
    Finish(a, host ? host->label : path, assembler.seed(), out, diagnostics, recompose, silent);
    return true;
}

} // namespace

bool LoadSegmentWithTracks(std::span<const std::uint8_t> bytes, const std::string& path, seg::ObjectCache& cache,
                           std::shared_ptr<const music::Sequence>& out, std::string* error,
                           formats::Diagnostics* diagnostics, std::uint32_t seed,
                           std::shared_ptr<const ComposeInput>* recompose, std::vector<std::string>* silent,
                           const HostFile* host) {
    return LoadSegment(bytes, path, cache, nullptr, out, error, diagnostics, seed, recompose, silent, host);
}

bool LoadTemplateOrSegment(std::span<const std::uint8_t> bytes, const std::string& path, seg::ObjectCache& cache,
                           TemplateLoad& templateLoad, std::shared_ptr<const music::Sequence>& out, std::string* error,
                           formats::Diagnostics* diagnostics, std::uint32_t seed,
                           std::shared_ptr<const ComposeInput>* recompose, std::vector<std::string>* silent,
                           const HostFile* host) {
    return LoadSegment(bytes, path, cache, &templateLoad, out, error, diagnostics, seed, recompose, silent, host);
}

bool LoadStyleAlone(std::span<const std::uint8_t> bytes, const std::string& path, seg::ObjectCache& cache,
                    TemplateLoad& templateLoad, std::shared_ptr<const music::Sequence>& out, std::string* error,
                    formats::Diagnostics* diagnostics, std::shared_ptr<const ComposeInput>* recompose) {
    if (recompose) recompose->reset();
    templateLoad.line.clear();
    namespace st = formats::style;
    auto style = std::make_shared<st::Style>();
    Assembled a;
    std::string why;
    if (!st::ReadStyleFile(bytes, *style, a.file.warnings, &why)) {
        if (error) *error = "unreadable style file: " + why;
        return false;
    }
    seg::FolderReferenceResolver resolver(path, cache);
    const CompositionOptions& options = templateLoad.options;
    const std::uint32_t seed = templateLoad.seed;
    seg::StyleTracks tracks;
    tracks.styles.push_back({0, false, {}, style});
    const std::string name = seg::BaseFileName(path);
    if (!options.motif.empty()) {
        const int motif = composer::FindMotif(*style, options.motif);
        if (motif < 0) {
            std::string motifs;
            for (const auto& p : style->patterns)
                if (p.embellishment & st::embellishment::kMotif) motifs += (motifs.empty() ? "" : ", ") + p.name;
            if (error)
                *error = "no motif '" + options.motif + "' in " + name +
                         (motifs.empty() ? ": it has none" : "; its motifs: " + motifs);
            return false;
        }
        const auto& pattern = style->patterns[std::size_t(motif)];
        const std::int64_t length =
            std::int64_t(pattern.lengthTicks()) * std::min<std::int64_t>(std::int64_t{pattern.motifRepeats} + 1, 64);
        a.file.header.length = static_cast<std::int32_t>(std::min<std::int64_t>(length, 1 << 30));
        tracks.motifs.push_back({style, motif, 0});
        seg::Track tempo;
        tempo.kind = seg::Track::Kind::Tempo;
        tempo.tempos.push_back({0, style->tempo});
        a.file.tracks.push_back(std::move(tempo));
        tracks.styles.clear();
        templateLoad.line = name + ": motif '" + options.motif + "' (seed " + std::to_string(seed) + ")";
    } else {
        const composer::ShapeTemplate shape =
            composer::TemplateFromShape(options.shape, options.measures, *style, seed);
        tracks.signposts = shape.signposts;
        tracks.hasSignposts = true;
        tracks.commands = shape.commands;
        a.file.header.length = shape.length;
        CompositionOptions own = options;
        own.style.clear(); // the style is the file itself
        ComposedFrom from;
        ComposeTemplate(path, tracks, shape.length, own, seed, resolver, a.file.warnings, from);
        templateLoad.line = name + " composed as a '" + composer::ShapeName(options.shape) + "' of " +
                            std::to_string(std::clamp(options.measures, 1, composer::kMaxShapeMeasures)) +
                            " measures " + DescribeComposition(from, options, seed, false);
    }
    a.composedAt = a.file.tracks.size();
    composer::AddStyleComposition(std::move(tracks), resolver, a.file, seed, &a.styles);
    Finish(a, path, seed, out, diagnostics, recompose, nullptr);
    return true;
}

std::uint32_t LoadSeedOf(const ComposeInput& input) {
    return input.loadSeed;
}

std::vector<std::shared_ptr<const music::Sequence>> ComposePasses(const ComposeInput& input, std::uint32_t seed,
                                                                  const std::vector<TickSpan>& spans) {
    std::vector<std::shared_ptr<const music::Sequence>> out;
    composer::SegmentStyleComposer composer(input.base.styles, seed);
    WaveVariations variations(input.base.waveParts, seed);
    constexpr std::int64_t kMaxTime = std::numeric_limits<std::int32_t>::max();
    auto segmentTime = [&](std::uint32_t tick) {
        return static_cast<std::int32_t>(std::min<std::int64_t>(input.playStart + tick, kMaxTime));
    };
    for (const TickSpan& span : spans) {
        std::vector<seg::Track> tracks = composer.compose(span.fromSegmentStart ? 0 : segmentTime(span.start),
                                                          span.end == kToTheEnd ? kMaxTime : segmentTime(span.end));
        if (!input.base.mutes.empty()) {
            seg::SegmentFile muted;
            muted.tracks = std::move(tracks);
            seg::ApplyMutes(input.base.mutes, muted);
            tracks = std::move(muted.tracks);
        }
        // The composed tracks take the place they had at load, so a pass
        // composed with the load's seed is the loaded piece.
        Assembled pass;
        pass.file = input.base.file;
        pass.waves = input.base.waves;
        const std::size_t at = std::min(input.base.composedAt, pass.file.tracks.size());
        pass.file.tracks.insert(pass.file.tracks.begin() + static_cast<std::ptrdiff_t>(at),
                                std::make_move_iterator(tracks.begin()), std::make_move_iterator(tracks.end()));
        auto sequence = std::make_shared<music::Sequence>();
        seg::BuildSegmentSequence(pass.file, input.channels, *sequence, nullptr);
        AddWaves(pass, input.channels, *sequence, variations.next());
        pass.styles = input.base.styles;
        AddChordMarkers(pass, *sequence);
        out.push_back(std::move(sequence));
    }
    return out;
}

} // namespace qorn::platform
