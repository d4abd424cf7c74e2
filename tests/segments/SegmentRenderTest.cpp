// Segments played through the real stack (loader, performance, synthesizer)
// and rendered into a buffer: notes at their times and pitches, repeats of
// the loop region, and a band's instrument from a collection.
#include "app/render/OfflineSession.h"
#include "platform/com/Guids.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"
#include "tests/support/MidiWriter.h"
#include "tests/support/OfflineRenderTest.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <unistd.h>

namespace qorn::testseg {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = test::kRenderRate;
using test::KeyFrequency;
using test::Power;
using test::Rms;

class SegmentRender : public test::OfflineRenderTest {};

// Four staccato flute notes at 100 bpm; the third comes in on its grid offset.
TEST_F(SegmentRender, MelodySoundsAtItsTimesAndPitches) {
    const int keys[] = {72, 76, 79, 84};
    SegmentSpec plan;
    plan.header.length = 5 * 768;
    plan.tempos = {{0, 100.0}};
    plan.bands = {{0, {{0, 73, 0x1 | 0x40, 64, 127}}}};
    for (int i = 0; i < 4; ++i) {
        Note n{i * 768, 384, 0, static_cast<std::uint8_t>(keys[i]), 110};
        if (i == 2) {
            n.time = 2 * 768 - 192;
            n.offset = 192;
        }
        plan.notes.push_back(n);
    }
    const auto audio = play(write("melody.sgt", BuildSegment(plan)));
    const double secondsPerTick = 0.6 / 768.0;
    EXPECT_NEAR(double(audio.musicFrames) / kRate, 5 * 768 * secondsPerTick, 0.05);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        const auto on = static_cast<std::size_t>(i * 768 * secondsPerTick * kRate);
        const auto quiet = static_cast<std::size_t>(0.12 * kRate);
        // Silence just before the note (the previous one has been released), sound just after.
        if (i > 0) {
            EXPECT_LT(Rms(audio, on - quiet / 2, on - 64), 0.3 * Rms(audio, on + 400, on + quiet));
        }
        // The note's own fundamental is the strongest of the melody's pitches.
        const std::size_t from = on + 1000, to = on + 5000;
        const double own = Power(audio, from, to, KeyFrequency(keys[i]));
        for (int other : keys) {
            if (other != keys[i]) {
                EXPECT_GT(own, 4.0 * Power(audio, from, to, KeyFrequency(other))) << other;
            }
        }
    }
}

TEST_F(SegmentRender, RepeatsPlayTheLoopRegion) {
    SegmentSpec plan;
    plan.header.length = 4 * 768; // 2 s at 120 bpm
    plan.header.loopStart = 2 * 768;
    plan.header.loopEnd = 4 * 768;
    plan.header.repeats = 2;
    plan.tempos = {{0, 120.0}};
    for (int i = 0; i < 4; ++i)
        plan.notes.push_back({i * 768, 300, 0, 72});
    const auto audio = play(write("loop.sgt", BuildSegment(plan)));
    EXPECT_NEAR(double(audio.musicFrames) / kRate, 2.0 + 2 * 1.0, 0.05);
    EXPECT_EQ(session_->fileRepeats(), 2u);
    // The repeated half sounds again at 2 s and 3 s.
    for (double t : {2.0, 3.0, 3.5})
        EXPECT_GT(Rms(audio, std::size_t((t + 0.02) * kRate), std::size_t((t + 0.12) * kRate)), 0.005) << t;
}

// Bands choosing instruments of an embedded collection by program, bank
// select and drum flag, and bands whose collection is missing: each note
// sounds with the timbre (fundamental, third harmonic) of what was chosen; a
// General MIDI entry falls back to that set, the collection's own instrument
// is not heard at all.
TEST_F(SegmentRender, BandsPlayTheChosenInstrument) {
    struct Case {
        const char* what;
        std::uint32_t patch;
        std::uint32_t flags;
        std::uint8_t key;
        const char* file; // the collection the band names
        double fundamental;
        bool harmonics;
        bool heard = true;
    };
    const Case cases[] = {
        {"sine, bank 0", 0, 0x1 | 0x2, 69, "sine.dls", 440, false},
        {"square by bank select 5/3", 0x00050300, 0x1 | 0x2, 69, "sine.dls", 440, true},
        {"drum kit key 36: 880 Hz sine", 0x80000000u, 0x1, 36, "sine.dls", 880, false},
        {"drum kit key 38: 220 Hz square", 0x80000000u, 0x1, 38, "sine.dls", 220, true},
        {"collection missing: General MIDI square lead", 80, 0x1 | 0x2 | 0x100, 69, "absent.dls", 440, true},
        {"collection missing: its own instrument is silent", 80, 0x1 | 0x2, 69, "absent.dls", 440, true, false},
    };
    const Bytes collection = testdls::BuildDls(testdls::TestCollection());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SegmentSpec plan;
        plan.header.length = 2 * 768;
        plan.tempos = {{0, 120.0}};
        const Reference ref{kCollectionClass, std::nullopt, "", c.file};
        plan.container = {{collection, Reference{kCollectionClass, std::nullopt, "", "sine.dls"}, ""}};
        plan.bands = {{0, {{0, c.patch, c.flags | 0x40, 64, 127, 0, 2, ref}}}};
        plan.notes = {{0, 768, 0, c.key, 120}};
        const auto audio = play(write("band.sgt", BuildSegment(plan)));
        const std::size_t from = kRate / 10, to = kRate / 3;
        if (!c.heard) {
            EXPECT_LT(Rms(audio, 0, audio.left.size()), 1e-4);
            continue;
        }
        const double fundamental = Power(audio, from, to, c.fundamental);
        EXPECT_GT(Rms(audio, from, to), 0.01);
        EXPECT_GT(fundamental, 10.0 * Power(audio, from, to, c.fundamental * 1.5)) << "pitch";
        const double third = Power(audio, from, to, 3.0 * c.fundamental);
        if (c.harmonics) {
            EXPECT_GT(third, 0.01 * fundamental);
        } else {
            EXPECT_LT(third, 0.001 * fundamental);
        }
    }
}

std::vector<std::string> g_reports;
void Keep(const formats::Diagnostic& d) {
    g_reports.push_back(d.text());
}
std::size_t Reported(const std::string& text) {
    return std::size_t(std::count_if(g_reports.begin(), g_reports.end(),
                                     [&](const std::string& r) { return r.find(text) != std::string::npos; }));
}

// A band's collection broken off inside its last wave (the drum kit's):
// the sine whose wave came before the cut plays, and the load says once
// that the collection is damaged, where, and what it lost, and once what of
// its articulation the synthesizer cannot play.
TEST_F(SegmentRender, ATruncatedCollectionPlaysItsWholeInstrumentsAndSaysItIsDamaged) {
    testdls::CollectionSpec collection = testdls::TestCollection();
    collection.name.clear();                                                // the wave pool ends the file
    collection.instruments[0].articulation.push_back({0, 0, 0x020D, 0, 0}); // EG1 shutdown time
    const Bytes full = testdls::BuildDls(collection);
    write("cut.dls", testdls::Truncated(full, 1000));
    SegmentSpec plan;
    plan.header.length = 2 * 768;
    plan.tempos = {{0, 120.0}};
    const Reference ref{kCollectionClass, std::nullopt, "", "cut.dls"};
    plan.bands = {{0, {{0, 0, 0x1 | 0x2 | 0x40, 64, 127, 0, 2, ref}, {1, 0, 0x1 | 0x2 | 0x40, 64, 127, 0, 2, ref}}}};
    plan.notes = {{0, 768, 0, 69, 120}};
    g_reports.clear();
    formats::SetDiagnosticReporter(&Keep);
    const auto audio = play(write("cut.sgt", BuildSegment(plan)));
    formats::SetDiagnosticReporter(nullptr);
    const std::size_t from = kRate / 10, to = kRate / 3;
    const double fundamental = Power(audio, from, to, 440);
    EXPECT_GT(Rms(audio, from, to), 0.01);
    EXPECT_LT(Power(audio, from, to, 3 * 440.0), 0.001 * fundamental) << "the collection's sine, not General MIDI";
    EXPECT_EQ(Reported("collection 'cut.dls' is damaged: chunk 'LIST' at byte "), 1u);
    EXPECT_EQ(Reported("runs past the end of the file; 3 of 4 instruments play, lost: 'Kit'"), 1u);
    EXPECT_EQ(Reported("collection 'cut.dls': the synthesizer cannot play this articulation: EG1 shutdown time "
                       "(1 region)"),
              1u);
}

// A segment a script or container carries, with the style, band, collection
// and wave it names carried in the same file, plays exactly as the same
// segment as a file of its own with those objects as files beside it; a
// wave the file lists as a segment plays as that wave's file does.
TEST_F(SegmentRender, SegmentsHeldInScriptsAndContainersPlayAsTheirOwnFiles) {
    namespace sw = styles_test;
    namespace st = formats::style;
    st::Style style;
    style.tempo = 120.0;
    style.parts = {sw::Part(1, st::playmode::kNormalChord, {sw::Note(0, 0x3000), sw::Note(8, 0x3200)})};
    style.patterns = {sw::PatternOf({sw::Ref(1, 0)})};
    const Bytes styleForm = sw::StyleForm(style);
    const Bytes dls = testdls::BuildDls(testdls::TestCollection());
    // The square of the collection, by bank select 5/3.
    const Band band{
        0, {{0, 0x00050300, 0x1 | 0x2 | 0x40, 64, 127, 0, 2, testtracks::FileRef("Organ.dls", kCollectionClass)}}};
    const Bytes bandFile = BuildBandFile(band);
    const Bytes cheer = testtracks::WaveFile(std::vector<float>(kRate / 2, 0.25f), kRate, 1);
    SegmentSpec plan;
    plan.header.length = 2 * 3072;
    plan.bands = {{0, {}, testtracks::FileRef("Organ.bnd", kBandClass)}};
    testtracks::WaveItem item;
    item.time = 3072;
    item.wave = testtracks::FileRef("Cheer.wav", testtracks::kWaveClass);
    Bytes tracks = sw::Track(0xD2AC288B, nullptr, "cord", sw::ChordTrackList(sw::TwoChords()));
    Append(tracks, sw::Track(0xD2AC288C, "cmnd", nullptr, sw::CommandChunk({})));
    Append(tracks, sw::Track(0xD2AC288D, nullptr, "sttr", sw::StyleTrackList(0, "Groove.sty")));
    Append(tracks, testtracks::WaveTrack({{0, 0, {item}}}));
    const Bytes song = testtracks::WithTracks(BuildSegment(plan), tracks);

    fs::create_directories(dir_ / "own");
    fs::create_directories(dir_ / "held");
    const std::string own = write("own/Song.sgt", song);
    write("own/Groove.sty", styleForm);
    write("own/Organ.bnd", bandFile);
    write("own/Organ.dls", dls);
    const std::string cheerFile = write("own/Cheer.wav", cheer);
    const std::vector<Embedded> entries = {
        testtracks::Held(song, "Song.sgt", testtracks::kSegmentClass),
        testtracks::Held(styleForm, "Groove.sty", testtracks::kStyleClass),
        testtracks::Held(bandFile, "Organ.bnd", kBandClass),
        testtracks::Held(dls, "Organ.dls", kCollectionClass),
        testtracks::Held(cheer, "Cheer.wav", testtracks::kSegmentClass),
    };
    const std::string script = write("held/game.spt", BuildScript(entries));
    const std::string container = write("held/game.con", ContainerForm(entries));

    // Each in a synthesizer of its own: one that played before has moved on.
    auto fresh = [&](const std::string& file, const std::string& segment, std::uint32_t seed) {
        std::string error;
        session_ = render::OfflineSession::Create(kRate, false, &error);
        return play(file, {.seed = seed, .segment = segment});
    };
    const auto alone = fresh(own, "", 7);
    ASSERT_GT(Rms(alone, 0, kRate), 0.01) << "the style's notes";
    ASSERT_GT(Rms(alone, 2 * kRate + kRate / 10, 2 * kRate + kRate / 3), 0.01) << "the wave";
    g_reports.clear();
    formats::SetDiagnosticReporter(&Keep);
    for (const auto& [file, name] : {std::pair{script, "Song"}, std::pair{container, "song.sgt"}}) {
        SCOPED_TRACE(file);
        const auto held = fresh(file, name, 7);
        EXPECT_TRUE(held.left == alone.left && held.right == alone.right);
        EXPECT_EQ(fresh(file, "Cheer", 0).left, fresh(cheerFile, "", 0).left);
    }
    formats::SetDiagnosticReporter(nullptr);
    EXPECT_EQ(Reported("not found"), 0u);
}

// The loader recognises a segment by its content whatever its name, and its
// cache shares a collection between loads until ClearCache.
TEST_F(SegmentRender, LoaderCacheSharesCollectionsBetweenLoads) {
    write("Shared.DLS", testdls::BuildDls(testdls::TestCollection()));
    SegmentSpec plan;
    plan.header.length = 768;
    plan.header.repeats = 3;
    plan.bands = {{0, {{0, 1, 0x1, 64, 100, 0, 2, Reference{kCollectionClass, std::nullopt, "", "shared.dls"}}}}};
    const std::string path = write("piece.any", BuildSegment(plan));

    using namespace platform;
    auto* loader = new Loader();
    auto load = [&]() -> std::shared_ptr<const music::Sequence> {
        DMUS_OBJECTDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FULLPATH;
        desc.guidClass = CLSID_DirectMusicSegment;
        for (std::size_t i = 0; i < path.size(); ++i)
            desc.wszFileName[i] = static_cast<WCHAR>(path[i]);
        void* object = nullptr;
        EXPECT_EQ(loader->GetObject(&desc, IID_IDirectMusicSegment2, &object), S_OK) << loader->lastError();
        auto* segment = static_cast<IDirectMusicSegment2*>(object);
        if (segment == nullptr) return nullptr;
        DWORD repeats = 0;
        EXPECT_EQ(segment->GetRepeats(&repeats), S_OK);
        EXPECT_EQ(repeats, 3u);
        auto sequence = Segment::From(segment)->sequence();
        segment->Release();
        return sequence;
    };
    const auto first = load();
    const auto second = load();
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->collections.size(), 1u);
    EXPECT_EQ(first->collections[0], second->collections.at(0));
    EXPECT_EQ(loader->ClearCache(GUID_DirectMusicAllTypes), S_OK);
    EXPECT_NE(load()->collections.at(0), first->collections[0]);
    loader->Release();
}

// A lead on a channel its band ranks above standard keeps sounding when the
// other channels ask for more voices than the synthesizer has; ranked
// standard, the lead (the oldest and quietest voice) is the one taken.
TEST_F(SegmentRender, ChannelsRankedHighKeepTheirVoicesWhenVoicesRunOut) {
    constexpr std::uint32_t kPatchVolumePriority = 0x1 | 0x40 | 0x800;
    const Reference collection{kCollectionClass, std::nullopt, "Test collection", ""};
    struct Case {
        std::uint32_t priority;
        bool kept;
    };
    for (const Case c : {Case{0xC0000000u, true}, Case{0x80000000u | 15, false}}) {
        SCOPED_TRACE(c.priority);
        std::vector<RangedInstrument> band = {{{0, 0, kPatchVolumePriority, 64, 80, 0, 2, collection}, {}, c.priority}};
        SegmentSpec plan;
        plan.header.length = 8 * 768; // 4 s at 120 bpm
        plan.tempos = {{0, 120.0}};
        plan.notes = {{0, 8 * 768, 0, 69, 90}}; // the lead: a 440 Hz sine throughout
        // From 1.5 s, 140 organ notes on 14 channels, a chord every 1/12 beat:
        // more than the port's 128 voices, quiet enough together that the
        // output limiter leaves the lead's level alone.
        std::int32_t time = 3 * 768;
        for (std::uint32_t pch = 1; pch < 16; ++pch) {
            if (pch == 9) continue;
            band.push_back({{pch, 19, 0x1 | 0x40, 64, 48}});
            for (int key : {48, 49, 51, 52, 53, 54, 55, 56, 58, 59}) // no A or D: nothing near 440 Hz
                plan.notes.push_back({time, 8 * 768 - time, pch, static_cast<std::uint8_t>(key), 64});
            time += 64;
        }
        plan.container = {{testdls::BuildDls(testdls::TestCollection()), std::nullopt, ""},
                          {BuildRangedBandFile(band, false), std::nullopt, ""}};
        plan.bands = {{0, {}, Reference{kBandClass, std::nullopt, "Band", ""}}};
        const auto audio = play(write("ranked.sgt", BuildSegment(plan)));
        const double alone = Power(audio, kRate / 2, kRate * 14 / 10, 440.0);
        const double crowded = Power(audio, kRate * 25 / 10, kRate * 34 / 10, 440.0);
        EXPECT_GT(Rms(audio, kRate * 25 / 10, kRate * 34 / 10), 0.01); // the organs sound
        if (c.kept) {
            EXPECT_GT(crowded, 0.5 * alone);
        } else {
            EXPECT_LT(crowded, 0.05 * alone);
        }
    }
}

// A piece written for an audiopath sounds as if its PChannels had channels
// of their own: a flute on PChannel 50 and a kick of the General MIDI kit on
// PChannel 41, beside a snare on the drum channel, sound as the same notes
// on PChannels 5 and 9. The piece played next finds the channel the kit was
// given melodic again: its flute is the flute it is on a fresh synthesizer.
TEST_F(SegmentRender, PChannelsAboveFifteenSoundAsOnChannelsOfTheirOwn) {
    auto piece = [](std::uint32_t flute, std::uint32_t kick) {
        SegmentSpec plan;
        plan.header.length = 4 * 768;
        plan.tempos = {{0, 120.0}};
        plan.bands = {{0, {{9, 0x80000000u, 0x1 | 0x40}, {flute, 73, 0x1 | 0x2 | 0x40}}}};
        if (kick != 9) plan.bands[0].instruments.push_back({kick, 0x80000000u, 0x1 | 0x40});
        plan.notes = {{0, 384, 9, 38, 110}, {768, 700, flute, 72, 110}, {1536, 384, kick, 36, 120}};
        return BuildSegment(plan);
    };
    testing::TrackWriter track;
    track.event(0, {0xC0, 73}).noteOn(0, 0, 72, 110).noteOff(480, 0, 72).endOfTrack();
    const std::string next = write("next.mid", testing::MidiFile(0, 480, {track}));
    auto difference = [](const render::RenderedAudio& a, const render::RenderedAudio& b) {
        const std::size_t n = std::min(a.left.size(), b.left.size());
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += std::pow(a.left[i] - b.left[i], 2) + std::pow(a.right[i] - b.right[i], 2);
        return std::sqrt(sum / double(2 * std::max<std::size_t>(n, 1)));
    };

    const auto fresh = play(next);
    const auto own = play(write("own.sgt", piece(5, 9)));
    const auto folded = play(write("folded.sgt", piece(50, 41)));
    const auto after = play(next);
    EXPECT_GT(Rms(own, kRate / 2, kRate * 3 / 4), 0.01); // the flute
    EXPECT_GT(Rms(own, kRate, kRate * 5 / 4), 0.01);     // the kick
    EXPECT_LT(difference(own, folded), 0.02 * Rms(own, 0, kRate * 2));
    EXPECT_GT(Rms(fresh, 0, kRate / 2), 0.01);
    EXPECT_LT(difference(fresh, after), 0.02 * Rms(fresh, 0, kRate / 2));
}

} // namespace
} // namespace qorn::testseg
