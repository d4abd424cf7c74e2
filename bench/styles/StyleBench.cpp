// Figures of style-based segments:
//  - composition: reading and composing a style-based segment against
//    reading its sequence-based twin (the same notes stored in the file);
//  - rendering: the style-based piece through the real stack (load with
//    composition, then offline synthesis) against its sequence-based twin,
//    so the share composition takes of the whole shows.
#include "platform/composer/StyleSegment.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/SegmentSequence.h"
#include "platform/loader/SegmentAssembly.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#ifdef QORN_STYLES_BENCH_RENDER
#include "app/render/OfflineSession.h"
#include "platform/MusicPlatform.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace qorn;
using namespace qorn::styles_test;
namespace seg = formats::segment;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

constexpr std::int32_t kMeasures = 32;

// Bass, chords, a melody and drums, sixteenth notes with ranges, four
// variations each.
st::Style BusyStyle() {
    st::Style style;
    style.tempo = 120.0;
    auto part = [](std::uint32_t id, std::uint8_t mode, auto valueOf) {
        std::vector<st::StyleNote> notes;
        for (int v = 0; v < 4; ++v)
            for (int g = 0; g < 16; ++g) {
                auto n = Note(g, valueOf(g, v), 1u << v, st::playmode::kNone);
                n.duration = 180;
                n.timeRange = 6;
                n.velocityRange = 10;
                notes.push_back(n);
            }
        return Part(id, mode, notes, 1, 4);
    };
    style.parts = {
        part(1, st::playmode::kNormalChord, [](int g, int v) { return std::uint16_t(0x3000 | ((g + v) % 3) << 8); }),
        part(2, st::playmode::kNormalChord, [](int g, int) { return std::uint16_t(0x5000 | (g % 3) << 8); }),
        part(3, st::playmode::kNormalChord, [](int g, int) { return std::uint16_t(0x5000 | ((g + 1) % 3) << 8); }),
        part(4, st::playmode::kMelodic, [](int g, int v) { return std::uint16_t(0x6000 | ((g * 3 + v) % 7) << 4); }),
        part(5, st::playmode::kFixed, [](int g, int) { return std::uint16_t(g % 4 == 0 ? 36 : 42); }),
    };
    style.patterns = {PatternOf({Ref(1, 0, 1), Ref(2, 1, 1), Ref(3, 2), Ref(4, 3), Ref(5, 9)})};
    return style;
}

st::ChordTrack Progression() {
    st::ChordTrack t;
    t.keyRoot = 0;
    const std::uint8_t roots[] = {0, 9, 5, 7};
    const std::uint32_t patterns[] = {0x91, 0x89, 0x91, 0x491};
    for (std::int32_t m = 0; m < kMeasures; ++m) {
        st::Chord c;
        c.time = m * std::int32_t(kMeasure);
        c.measure = static_cast<std::uint16_t>(m);
        c.subChords = {SubChordOf(roots[m % 4], patterns[m % 4], 0)};
        t.chords.push_back(c);
    }
    return t;
}

void Write(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

template <typename F> double MedianMs(int runs, F f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        t.push_back(msSince(t0));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// What the loader's segment road does for the style tracks.
bool Compose(const Bytes& file, const seg::ReferenceResolver& resolver, seg::SegmentFile& segment) {
    seg::StyleTracks tracks;
    seg::ReadStyleTracks(file, resolver, tracks, segment.warnings);
    return composer::AddStyleComposition(std::move(tracks), resolver, segment, 0);
}

} // namespace

int main() {
    const std::int32_t length = kMeasures * std::int32_t(kMeasure);
    const Bytes styleFile = StyleSegment(length, Progression(), {{0, 0, 0, st::command::kGroove, 50, 0, 0}},
                                         StyleTrackList(0, "", StyleForm(BusyStyle())));

    // The twin: the notes the composer made, stored as a sequence track.
    seg::EmbeddedOnlyResolver resolver;
    seg::SegmentFile composed;
    if (!seg::ReadSegmentFile(styleFile, composed, resolver, nullptr) || !Compose(styleFile, resolver, composed)) {
        std::printf("composition failed\n");
        return 1;
    }
    std::vector<seg::SequenceItem> notes;
    for (const auto& t : composed.tracks)
        if (t.kind == seg::Track::Kind::Sequence) notes.insert(notes.end(), t.events.begin(), t.events.end());
    const Bytes sequenceFile = Segment(length, {SequenceTrackForm(notes)});

    std::printf("== Style-based piece: %d measures at 120 bpm, %zu notes on 5 PChannels\n", kMeasures, notes.size());
    std::size_t events = 0;
    // Both through the loader's one road for segments.
    auto load = [&](const Bytes& file) {
        seg::ObjectCache cache;
        std::shared_ptr<const music::Sequence> s;
        platform::LoadSegmentWithTracks(file, "/nonexistent/piece.sgt", cache, s, nullptr);
        return s ? s->events.size() : 0;
    };
    const double composeMs = MedianMs(21, [&] { events = load(styleFile); });
    const double sequenceMs = MedianMs(21, [&] { load(sequenceFile); });
    std::printf("   read + compose + build (style-based):   %8.2f ms  (%zu events)\n", composeMs, events);
    std::printf("   read + build (sequence-based twin):      %8.2f ms\n", sequenceMs);
    std::printf("   composition alone:                       %8.2f ms\n", composeMs - sequenceMs);

#ifdef QORN_STYLES_BENCH_RENDER
    platform::RegisterMusicPlatform();
    const auto dir = std::filesystem::temp_directory_path() / ("qorn-styles-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Write(dir / "style.sgt", styleFile);
    Write(dir / "sequence.sgt", sequenceFile);
    auto renderMs = [&](const char* name, double& audioSeconds) {
        std::string error;
        auto session = render::OfflineSession::Create(44100, false, &error);
        if (!session) {
            std::printf("   no synthesizer: %s\n", error.c_str());
            return -1.0;
        }
        const auto t0 = Clock::now();
        if (!session->load((dir / name).string(), &error)) {
            std::printf("   load of %s failed: %s\n", name, error.c_str());
            return -1.0;
        }
        session->setRepeats(0);
        session->play();
        const auto audio = render::RenderToEnd(*session, 0.0);
        audioSeconds = double(audio.musicFrames) / 44100.0;
        return msSince(t0);
    };
    double styleAudio = 0, sequenceAudio = 0;
    const double styleRender = renderMs("style.sgt", styleAudio);
    const double sequenceRender = renderMs("sequence.sgt", sequenceAudio);
    if (styleRender > 0 && sequenceRender > 0) {
        std::printf("== Load and render offline at 44100 Hz (FluidSynth)\n");
        std::printf("   style-based:    %8.1f ms for %.1f s of music (%.1fx real time)\n", styleRender, styleAudio,
                    styleAudio * 1000.0 / styleRender);
        std::printf("   sequence-based: %8.1f ms for %.1f s of music (%.1fx real time)\n", sequenceRender,
                    sequenceAudio, sequenceAudio * 1000.0 / sequenceRender);
        std::printf("   style-based speed is %.1f%% of sequence-based (target >= 90%%); composition is %.4f%% of "
                    "the style-based render\n",
                    100.0 * sequenceRender / styleRender, 100.0 * (composeMs - sequenceMs) / styleRender);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
#else
    (void)Write;
    std::printf("   (rendering figures need the real platform: not built)\n");
#endif
    return 0;
}
