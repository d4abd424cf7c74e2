// DLS collections rendered through a real FluidSynth synthesizer into a
// buffer, judged by what a listener would hear: pitch and timbre from the
// spectrum, sustain and release from the level.
#include "platform/formats/dls/DlsReader.h"
#include "platform/instruments/DlsInstruments.h"
#include "tests/support/CompressedWaves.h"
#include "tests/support/DlsWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <thread>

namespace qorn::instruments {
namespace {

constexpr int kRate = 22050;

struct Synth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    Synth() {
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        settings = new_fluid_settings();
        fluid_settings_setnum(settings, "synth.sample-rate", kRate);
        fluid_settings_setint(settings, "synth.reverb.active", 0);
        fluid_settings_setint(settings, "synth.chorus.active", 0);
        synth = new_fluid_synth(settings);
    }
    ~Synth() {
        if (synth) delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    // Mono mix of the next `seconds` of output.
    std::vector<float> Render(double seconds) {
        const int frames = static_cast<int>(seconds * kRate);
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size()), mono(left.size());
        fluid_synth_write_float(synth, frames, left.data(), 0, 1, right.data(), 0, 1);
        for (std::size_t i = 0; i < mono.size(); ++i)
            mono[i] = 0.5f * (left[i] + right[i]);
        return mono;
    }
};

std::shared_ptr<const dls::Collection> Load(const testdls::CollectionSpec& plan) {
    const auto bytes = testdls::BuildDls(plan);
    auto result = dls::ReadDlsCollection(bytes);
    EXPECT_TRUE(result.ok()) << (result.error ? result.error->text() : "");
    return result.collection;
}

double Rms(const std::vector<float>& s, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, s.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

// Power of one frequency over a Hann-windowed stretch of signal.
double PowerAt(const std::vector<float>& s, double frequency) {
    double re = 0, im = 0;
    const double n = double(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / n);
        const double phase = 2 * std::numbers::pi * frequency * double(i) / kRate;
        re += w * s[i] * std::cos(phase);
        im += w * s[i] * std::sin(phase);
    }
    return re * re + im * im;
}

struct Spectrum {
    double fundamental = 0;
    double thirdHarmonicRatio = 0; // power at 3f over power at f
};

Spectrum Analyse(const std::vector<float>& note) {
    // The steady part of the note; skip the onset.
    std::vector<float> s(note.begin() + kRate / 10, note.begin() + kRate / 10 + 8192);
    Spectrum r;
    double best = 0;
    for (double f = 60; f < 3000; f += 5) {
        const double p = PowerAt(s, f);
        if (p > best) best = p, r.fundamental = f;
    }
    for (double f = r.fundamental - 5; f <= r.fundamental + 5; f += 0.25) {
        const double p = PowerAt(s, f);
        if (p > best) best = p, r.fundamental = f;
    }
    r.thirdHarmonicRatio = PowerAt(s, 3 * r.fundamental) / best;
    return r;
}

// Power away from the fundamental (and its neighbourhood) relative to it:
// clicks and discontinuities spread energy across the spectrum.
double NoiseRatio(const std::vector<float>& note, double fundamental) {
    std::vector<float> s(note.begin() + kRate / 10, note.begin() + kRate / 10 + 8192);
    const double peak = PowerAt(s, fundamental);
    double noise = 0;
    for (double f = 100; f < 5000; f += 37) {
        if (std::abs(f - fundamental) < 30) continue;
        noise += PowerAt(s, f);
    }
    return noise / peak;
}

// FluidSynth lets go of an unloaded SoundFont from its own timer (every
// 100 ms) once no voice uses it: releases until `count` collections remain,
// waiting as long as a loaded machine may need.
bool ReleasedDownTo(fluid_synth_t* synth, int count) {
    for (int i = 0; i < 1000; ++i) {
        ReleaseUnusedCollections(synth);
        if (CollectionsHeldBySynth(synth) == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<float> PlayNote(Synth& s, int channel, int key, double seconds = 0.6) {
    fluid_synth_noteon(s.synth, channel, key, 100);
    auto out = s.Render(seconds);
    fluid_synth_noteoff(s.synth, channel, key);
    s.Render(0.5);
    return out;
}

TEST(DlsPlayback, PatchesSoundWithTheirOwnPitchAndTimbre) {
    struct Case {
        const char* what;
        std::uint8_t msb, lsb, program;
        bool drums;
        int channel, key;
        double frequency;
        bool sine;
    };
    const Case cases[] = {
        {"sine at unity", 0, 0, 0, false, 0, 69, 440, true},
        {"sine an octave up", 0, 0, 0, false, 0, 81, 880, true},
        {"sine an octave down", 0, 0, 0, false, 3, 57, 220, true},
        {"square program", 0, 0, 1, false, 1, 69, 440, false},
        {"bank select to square", 5, 3, 0, false, 2, 69, 440, false},
        {"drum kit key 36", 0, 0, 0, true, 9, 36, 880, true},
        {"drum kit key 38", 0, 0, 0, true, 9, 38, 220, false},
        {"drum kit on a melodic channel", 0, 0, 0, true, 4, 38, 220, false},
    };
    for (bool level2 : {false, true}) {
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(testdls::TestCollection(level2)));
        ASSERT_GT(id, 0);
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.what) + (level2 ? " (Level 2)" : " (Level 1)"));
            ASSERT_TRUE(SelectCollectionPatch(s.synth, k.channel, id, k.msb, k.lsb, k.program, k.drums));
            const auto note = PlayNote(s, k.channel, k.key);
            ASSERT_GT(Rms(note), 0.01);
            const Spectrum sp = Analyse(note);
            EXPECT_NEAR(sp.fundamental, k.frequency, k.frequency * 0.01);
            if (k.sine)
                EXPECT_LT(sp.thirdHarmonicRatio, 0.01);
            else
                EXPECT_GT(sp.thirdHarmonicRatio, 0.05);
        }
    }
}

// Level 2 articulation as a listener hears it: each case plays the square
// (odd harmonics of its key) with and without the connections under test
// and compares what the two sound like.
namespace heard {

constexpr std::int32_t Cents(double v) {
    return static_cast<std::int32_t>(v * 65536);
}
// Absolute cents of a frequency, as filter cutoffs and LFO rates are given.
std::int32_t AbsCents(double hz) {
    return Cents(6900 + 1200 * std::log2(hz / 440.0));
}

std::vector<float> Slice(const std::vector<float>& s, double from, double to) {
    return {s.begin() + std::ptrdiff_t(from * kRate), s.begin() + std::ptrdiff_t(to * kRate)};
}
double KeyHz(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}
// Power of the 5th to 11th harmonics over the fundamental's.
double HighBand(const std::vector<float>& s, double f) {
    double high = 0;
    for (int h : {5, 7, 9, 11})
        high += PowerAt(s, h * f);
    return high / PowerAt(s, f);
}
// The strongest frequency between `low` and `high`, to a quarter hertz.
double Pitch(const std::vector<float>& s, double low, double high) {
    double best = 0, at = low;
    for (double x = low; x < high; x += 0.25)
        if (const double p = PowerAt(s, x); p > best) best = p, at = x;
    return at;
}

struct Play {
    int key = 69, velocity = 100, wheel = 0;
    double seconds = 1.2;
};
std::vector<float> Note(Synth& s, const Play& p) {
    fluid_synth_cc(s.synth, 1, 1, p.wheel);
    fluid_synth_noteon(s.synth, 1, p.key, p.velocity);
    auto out = s.Render(p.seconds);
    fluid_synth_noteoff(s.synth, 1, p.key);
    s.Render(0.5);
    return out;
}

using Measure = double (*)(Synth&);
double Darkness(Synth& s) {
    return 1.0 / HighBand(Slice(Note(s, {}), 0.3, 0.7), 440);
}
double Resonance(Synth& s) {
    const auto steady = Slice(Note(s, {}), 0.3, 0.7);
    return PowerAt(steady, 5 * 440.0) / PowerAt(steady, 3 * 440.0);
}
double SweptShut(Synth& s) {
    const auto note = Note(s, {});
    return HighBand(Slice(note, 0.0, 0.1), 440) / HighBand(Slice(note, 1.0, 1.2), 440);
}
double Swing(Synth& s) {
    const auto note = Note(s, {});
    double lo = 1e30, hi = 0;
    for (double t = 0.2; t + 0.05 <= 1.2; t += 0.05) {
        const double b = HighBand(Slice(note, t, t + 0.05), 440);
        lo = std::min(lo, b), hi = std::max(hi, b);
    }
    return hi / lo;
}
double KeyTilt(Synth& s) {
    auto third = [&](int key) {
        const auto steady = Slice(Note(s, {key}), 0.3, 0.7);
        return PowerAt(steady, 3 * KeyHz(key)) / PowerAt(steady, KeyHz(key));
    };
    return third(81) / third(57);
}
double SoftDarkness(Synth& s) {
    return HighBand(Slice(Note(s, {69, 127}), 0.3, 0.7), 440) / HighBand(Slice(Note(s, {69, 30}), 0.3, 0.7), 440);
}
double Wobble(Synth& s, int wheel) {
    const auto note = Note(s, {69, 100, wheel});
    double lo = 1e9, hi = 0;
    for (double t = 0.4; t + 0.05 <= 1.2; t += 0.025) {
        const double f = Pitch(Slice(note, t, t + 0.05), 360, 540);
        lo = std::min(lo, f), hi = std::max(hi, f);
    }
    return 1200 * std::log2(hi / lo) + 1; // cents, and 1 so a steady note divides
}
double Vibrato(Synth& s) {
    return Wobble(s, 0);
}
double WheelVibrato(Synth& s) {
    return Wobble(s, 127);
}
double Bend(Synth& s) {
    const auto note = Note(s, {});
    return Pitch(Slice(note, 0.0, 0.05), 300, 1000) / Pitch(Slice(note, 1.0, 1.1), 300, 1000);
}

} // namespace heard

TEST(DlsPlayback, LevelTwoArticulationIsHeard) {
    using C = testdls::ConnectionSpec;
    using heard::AbsCents, heard::Cents;
    const std::int32_t decay = Cents(1200 * std::log2(0.3)); // 0.3 s
    struct Case {
        const char* what;
        std::vector<C> base, tested;
        heard::Measure measure;
        double factor; // tested / base at least this
        bool level2 = true;
    };
    const Case cases[] = {
        {"a lowpass darkens", {}, {{0, 0, 0x0500, 0, AbsCents(700)}}, heard::Darkness, 30},
        {"resonance lifts the cutoff",
         {{0, 0, 0x0500, 0, AbsCents(2200)}},
         {{0, 0, 0x0500, 0, AbsCents(2200)}, {0, 0, 0x0501, 0, Cents(180)}},
         heard::Resonance,
         3},
        {"the second envelope sweeps the filter shut",
         {},
         {{0, 0, 0x0500, 0, AbsCents(300)},
          {0x0005, 0, 0x0500, 0, Cents(4800)},
          {0, 0, 0x030B, 0, decay},
          {0, 0, 0x030E, 0, 0}},
         heard::SweptShut,
         30},
        {"the LFO sweeps the filter",
         {{0, 0, 0x0500, 0, AbsCents(600)}},
         {{0, 0, 0x0500, 0, AbsCents(600)}, {0, 0, 0x0104, 0, AbsCents(3)}, {0x0001, 0, 0x0500, 0, Cents(2400)}},
         heard::Swing,
         10},
        {"the key number opens the filter",
         {{0, 0, 0x0500, 0, AbsCents(800)}},
         {{0, 0, 0x0500, 0, Cents(2000)}, {0x0003, 0, 0x0500, 0, Cents(12800)}},
         heard::KeyTilt,
         20},
        {"velocity opens the filter",
         {{0, 0, 0x0500, 0, AbsCents(600)}},
         {{0, 0, 0x0500, 0, AbsCents(600)}, {0x0002, 0, 0x0500, 0, Cents(4800)}},
         heard::SoftDarkness,
         8},
        {"the vibrato LFO wobbles",
         {},
         {{0, 0, 0x0114, 0, AbsCents(4)}, {0x0009, 0, 0x0003, 0, Cents(50)}},
         heard::Vibrato,
         15},
        {"the mod wheel deepens the LFO's vibrato, Level 1",
         {{0, 0, 0x0104, 0, AbsCents(4)}, {0x0001, 0x0081, 0x0003, 0, 0}},
         {{0, 0, 0x0104, 0, AbsCents(4)}, {0x0001, 0x0081, 0x0003, 0, Cents(80)}},
         heard::WheelVibrato,
         15,
         false},
        {"the second envelope bends the pitch",
         {},
         {{0x0005, 0, 0x0003, 0, Cents(1200)}, {0, 0, 0x030B, 0, decay}, {0, 0, 0x030E, 0, 0}},
         heard::Bend,
         1.5},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        double measured[2] = {};
        for (int tested = 0; tested < 2; ++tested) {
            testdls::CollectionSpec plan = testdls::TestCollection(k.level2);
            for (const C& c : tested ? k.tested : k.base)
                plan.instruments[1].articulation.push_back(c);
            Synth s;
            const int id = AddCollectionToSynth(s.synth, Load(plan));
            ASSERT_TRUE(SelectCollectionPatch(s.synth, 1, id, 0, 0, 1, false));
            measured[tested] = k.measure(s);
        }
        EXPECT_GT(measured[1], k.factor * measured[0]) << measured[0] << " -> " << measured[1];
    }
}

TEST(DlsPlayback, DrumKeysWithoutRegionsAreSilent) {
    Synth s;
    const int id = AddCollectionToSynth(s.synth, Load(testdls::TestCollection()));
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 9, id, 0, 0, 0, true));
    EXPECT_LT(Rms(PlayNote(s, 9, 37)), 1e-4);
}

TEST(DlsPlayback, UnityNoteAndFineTuneSetThePitch) {
    struct Case {
        std::uint16_t unity;
        std::int16_t fineTune;
        int key;
    };
    const Case cases[] = {{69, 0, 69}, {57, 0, 69}, {69, 0, 64}, {69, -50, 69}, {69, 30, 72}, {72, 0, 60}};
    for (const Case& k : cases) {
        SCOPED_TRACE("unity " + std::to_string(k.unity) + " fine " + std::to_string(k.fineTune) + " key " +
                     std::to_string(k.key));
        testdls::CollectionSpec plan = testdls::TestCollection();
        auto& region = plan.instruments[0].regions[0];
        region.sample = *plan.waves[0].sample; // keeps the wave's loop
        region.sample->unityNote = k.unity;
        region.sample->fineTune = k.fineTune;
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(plan));
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
        const double expected = 440.0 * std::pow(2.0, (k.key - k.unity) / 12.0 + k.fineTune / 1200.0);
        EXPECT_NEAR(Analyse(PlayNote(s, 0, k.key)).fundamental, expected, expected * 0.006);
    }
}

TEST(DlsPlayback, LoopSustainsAShortSampleWhileTheNoteIsHeld) {
    for (bool looped : {true, false}) {
        SCOPED_TRACE(looped ? "looped" : "not looped");
        testdls::CollectionSpec plan = testdls::TestCollection();
        // A tenth of a second of sine.
        plan.waves[0].samples.resize(4400);
        plan.waves[0].sample->loop = testdls::Loop{2200, 2200, 0};
        if (!looped) plan.waves[0].sample->loop.reset();
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(plan));
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
        fluid_synth_noteon(s.synth, 0, 69, 100);
        const auto held = s.Render(1.0);
        const double late = Rms(held, kRate / 2, kRate);
        if (looped) {
            EXPECT_GT(late, 0.5 * Rms(held, 0, kRate / 10));
            // The loop joins seamlessly: the looped part is as pure a sine as the start.
            const std::vector<float> loopPart(held.begin() + kRate / 2, held.end());
            const Spectrum sp = Analyse(loopPart);
            EXPECT_NEAR(sp.fundamental, 440, 4);
            EXPECT_LT(sp.thirdHarmonicRatio, 0.001);
            EXPECT_LT(NoiseRatio(loopPart, sp.fundamental), 0.001);
            // Released, it fades within its release time.
            fluid_synth_noteoff(s.synth, 0, 69);
            const auto released = s.Render(1.0);
            EXPECT_LT(Rms(released, kRate / 2, kRate), 1e-4);
        } else {
            EXPECT_LT(late, 1e-4);
        }
    }
}

// DirectX collections hold MPEG Layer 3 waves: the note sounds its tone
// from the note-on (the decoder's leading frames dropped), as loud as the
// plain wave, and the loop still lands on the tone.
TEST(DlsPlayback, AnMp3WavePlaysItsToneFromTheNoteOnAndLoops) {
    // Half a second of 441 Hz (50 frames a cycle), looped over its last 100 cycles.
    const auto sine = testdls::SineWave(441, kRate, kRate / 2);
    std::vector<float> heard[2];
    for (bool compressed : {false, true}) {
        testdls::CollectionSpec plan = testdls::TestCollection();
        testdls::WaveSpec& wave = plan.waves[0];
        wave = testdls::Mp3Wave(sine, kRate);
        if (!compressed) wave.encoded.reset(), wave.samples = sine;
        wave.sample = testdls::SampleInfo{};
        wave.sample->unityNote = 69;
        wave.sample->loop = testdls::Loop{std::uint32_t(sine.size()) - 5000, 5000, 0};
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(plan));
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
        fluid_synth_noteon(s.synth, 0, 69, 100);
        heard[compressed] = s.Render(1.5);
    }
    const std::vector<float>& mp3 = heard[1];
    const double steady = Rms(mp3, kRate / 10, kRate / 5);
    EXPECT_NEAR(steady, Rms(heard[0], kRate / 10, kRate / 5), 0.1 * steady);
    const Spectrum sp = Analyse(mp3);
    EXPECT_NEAR(sp.fundamental, 441, 3);
    EXPECT_LT(sp.thirdHarmonicRatio, 0.01);
    // Sounding within 5 ms of the note-on, not after 50 ms of the decoder's silence.
    EXPECT_GT(Rms(mp3, kRate / 200, kRate / 100), 0.5 * steady);
    // Held past the wave's end, the loop sustains the tone.
    EXPECT_GT(Rms(mp3, kRate, 3 * kRate / 2), 0.8 * steady);
    EXPECT_NEAR(Analyse({mp3.begin() + kRate, mp3.end()}).fundamental, 441, 3);
}

// Waves the player cannot decode are silent, and the collection in use says
// so once for each kind; the rest of it plays.
TEST(DlsPlayback, WavesThatDoNotDecodeAreSilentAndNamed) {
    testdls::CollectionSpec plan = testdls::TestCollection();
    // The squares in a format there is no decoder for; the drum kit's
    // 880 Hz wave as MPEG audio that is not.
    for (std::size_t i : {1u, 3u}) {
        plan.waves[i].encoded = testdls::WaveSpec::Encoded{0x0160, {}, testdls::Bytes(64, 0x11), 44000, {}};
    }
    plan.waves[2] = testdls::Mp3Wave(testdls::SineWave(880, kRate, kRate), kRate);
    plan.waves[2].encoded->data.assign(400, 0x5A);
    const auto collection = Load(plan);
    formats::Diagnostics warnings;
    dls::NoteCollection(*collection, "'x.dls'", warnings);
    std::vector<std::string> said;
    for (const auto& d : warnings)
        said.push_back(d.message);
    EXPECT_EQ(said, (std::vector<std::string>{
                        "collection 'x.dls': 2 waves in a format this player cannot decode (tag 0x0160) are silent",
                        "collection 'x.dls': 1 wave of format 0x0055 that does not decode is silent"}));

    Synth s;
    const int id = AddCollectionToSynth(s.synth, collection);
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 1, false));
    EXPECT_LT(Rms(PlayNote(s, 0, 69)), 1e-4);
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 9, id, 0, 0, 0, true));
    EXPECT_LT(Rms(PlayNote(s, 9, 36)), 1e-4);
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
    EXPECT_NEAR(Analyse(PlayNote(s, 0, 69)).fundamental, 440, 4);
}

TEST(DlsPlayback, RegionsSplitByVelocity) {
    testdls::CollectionSpec plan = testdls::TestCollection();
    auto& regions = plan.instruments[0].regions;
    regions[0].velocityHigh = 63;
    regions.push_back(regions[0]);
    regions[1].velocityLow = 64;
    regions[1].velocityHigh = 127;
    regions[1].wave = 1; // square above
    Synth s;
    const int id = AddCollectionToSynth(s.synth, Load(plan));
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
    fluid_synth_noteon(s.synth, 0, 69, 40);
    const auto soft = s.Render(0.6);
    fluid_synth_noteoff(s.synth, 0, 69);
    s.Render(0.5);
    fluid_synth_noteon(s.synth, 0, 69, 120);
    const auto loud = s.Render(0.6);
    EXPECT_LT(Analyse(soft).thirdHarmonicRatio, 0.01);
    EXPECT_GT(Analyse(loud).thirdHarmonicRatio, 0.05);
}

TEST(DlsPlayback, SampleGainArticulationAndPanSetTheLevels) {
    struct Case {
        const char* what;
        std::int32_t waveGainCb;                           // in the wave's wsmp
        std::vector<testdls::ConnectionSpec> articulation; // added to the instrument's
        double expectedGain, expectedLeftShare;
        std::uint32_t stereoChannel = 0; // 1 or 2: the region is that side of a stereo pair
    };
    const std::vector<Case> cases = {
        {"plain", 0, {}, 1.0, 0.5},
        {"wave 6 dB down", -60, {}, 0.5, 0.5},
        {"wave 12 dB down", -120, {}, 0.25, 0.5},
        {"articulation 6 dB down", 0, {{0, 0, 0x0001, 0, -60 * 65536}}, 0.5, 0.5},
        {"panned hard left", 0, {{0, 0, 0x0004, 0, -500 * 65536}}, -1, 1.0},
        {"panned hard right", 0, {{0, 0, 0x0004, 0, 500 * 65536}}, -1, 0.0},
        {"left of a stereo pair", 0, {}, -1, 1.0, 1},
        {"right of a stereo pair", 0, {}, -1, 0.0, 2},
    };
    double reference = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        testdls::CollectionSpec plan = testdls::TestCollection();
        plan.waves[0].sample->gain = k.waveGainCb * 65536;
        for (const auto& c : k.articulation)
            plan.instruments[0].articulation.push_back(c);
        if (k.stereoChannel) {
            plan.instruments[0].regions[0].linkOptions = 2;
            plan.instruments[0].regions[0].channel = k.stereoChannel;
        }
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(plan));
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
        fluid_synth_noteon(s.synth, 0, 69, 100);
        std::vector<float> left(kRate / 2), right(kRate / 2);
        fluid_synth_write_float(s.synth, kRate / 2, left.data(), 0, 1, right.data(), 0, 1);
        const double l = Rms(left, kRate / 10), r = Rms(right, kRate / 10);
        if (reference == 0) reference = l + r;
        if (k.expectedGain > 0) {
            EXPECT_NEAR((l + r) / reference, k.expectedGain, 0.03);
        }
        EXPECT_NEAR(l / (l + r), k.expectedLeftShare, 0.02);
    }
}

TEST(DlsPlayback, KeyGroupsChokeEachOther) {
    // Like an open hi-hat cut by a closed one: both kit regions in group 1.
    for (std::uint16_t group : {0, 1}) {
        SCOPED_TRACE("key group " + std::to_string(group));
        testdls::CollectionSpec plan = testdls::TestCollection();
        for (auto& region : plan.instruments[3].regions)
            region.keyGroup = group;
        Synth s;
        const int id = AddCollectionToSynth(s.synth, Load(plan));
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 9, id, 0, 0, 0, true));
        fluid_synth_noteon(s.synth, 9, 36, 100); // 880 Hz sine
        s.Render(0.1);
        fluid_synth_noteon(s.synth, 9, 38, 100); // 220 Hz square
        const auto both = s.Render(0.6);
        std::vector<float> steady(both.begin() + kRate / 10, both.begin() + kRate / 10 + 8192);
        const double ratio = PowerAt(steady, 880) / PowerAt(steady, 220);
        if (group) {
            EXPECT_LT(ratio, 0.01);
        } else {
            EXPECT_GT(ratio, 0.1);
        }
    }
}

TEST(DlsPlayback, MissingPatchesAreReportedForGeneralMidiFallback) {
    Synth s;
    const auto collection = Load(testdls::TestCollection());
    const int id = AddCollectionToSynth(s.synth, collection);
    EXPECT_FALSE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 7, false));
    EXPECT_FALSE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 1, true));
    EXPECT_FALSE(SelectCollectionPatch(s.synth, 0, id + 100, 0, 0, 0, false));
    EXPECT_FALSE(dls::CollectionHasPatch(*collection, 0, 0, 7, false));
}

// A band asks for a patch at a bank its collection does not hold the
// program at (as a sample segment asks bank 0 for program 127, which its
// collection holds only at bank 4): the author chose that collection for
// the part, so its instrument of that program plays, not General MIDI.
TEST(DlsPlayback, ABandPatchAtAnotherBankPlaysTheCollectionsProgram) {
    Synth s;
    const auto collection = Load(testdls::TestCollection());
    const int id = AddCollectionToSynth(s.synth, collection);
    bool exact = true;
    ASSERT_NE(dls::FindBandInstrument(*collection, 4, 0, 1, false, &exact), nullptr);
    EXPECT_FALSE(exact);
    // Program 1 (the square) is held at bank 0/0 only; program 0 at 0/0 (the
    // sine) first, then at 5/3 (a square): the first in the file answers.
    const struct {
        std::uint8_t msb, lsb, program;
        bool sine;
    } cases[] = {{4, 0, 1, false}, {0, 9, 1, false}, {2, 0, 0, true}};
    for (const auto& k : cases) {
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 2, id, k.msb, k.lsb, k.program, false));
        const auto note = PlayNote(s, 2, 69);
        ASSERT_GT(Rms(note), 0.01);
        const Spectrum sp = Analyse(note);
        EXPECT_NEAR(sp.fundamental, 440, 5);
        if (k.sine)
            EXPECT_LT(sp.thirdHarmonicRatio, 0.01);
        else
            EXPECT_GT(sp.thirdHarmonicRatio, 0.05);
    }
    // A drum kit is never taken for a melodic program, nor the reverse.
    EXPECT_FALSE(SelectCollectionPatch(s.synth, 2, id, 0, 0, 1, true));
}

TEST(DlsPlayback, UnloadFallsBackToGeneralMidiAndFreesOnceSilent) {
    const char* gm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    Synth s;
    int gmId = -1;
    if (std::filesystem::exists(gm)) gmId = fluid_synth_sfload(s.synth, gm, 1);
    std::weak_ptr<const dls::Collection> weak;
    int id = 0;
    {
        auto collection = Load(testdls::TestCollection());
        weak = collection;
        id = AddCollectionToSynth(s.synth, collection);
    }
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
    if (gmId > 0) fluid_synth_program_select(s.synth, 1, gmId, 0, 0);
    fluid_synth_noteon(s.synth, 0, 69, 100);
    s.Render(0.2);

    ASSERT_TRUE(RemoveCollectionFromSynth(s.synth, id));
    EXPECT_FALSE(RemoveCollectionFromSynth(s.synth, id));
    EXPECT_FALSE(SelectCollectionPatch(s.synth, 0, id, 0, 0, 0, false));
    // The sounding note keeps its samples until it has died away.
    ReleaseUnusedCollections(s.synth);
    EXPECT_EQ(CollectionsHeldBySynth(s.synth), 1);
    EXPECT_FALSE(weak.expired());
    EXPECT_GT(Rms(s.Render(0.2)), 0.01);

    fluid_synth_noteoff(s.synth, 0, 69);
    s.Render(0.5);
    EXPECT_TRUE(ReleasedDownTo(s.synth, 0));
    EXPECT_TRUE(weak.expired());

    if (gmId > 0) {
        // Channel 0 now plays General MIDI's piano, and channel 1 kept its
        // explicit choice through the SoundFont's removal.
        int sfont = 0, bank = 0, program = 0;
        ASSERT_EQ(fluid_synth_get_program(s.synth, 1, &sfont, &bank, &program), FLUID_OK);
        EXPECT_EQ(sfont, gmId);
        EXPECT_GT(Rms(PlayNote(s, 0, 69)), 0.001);
    } else {
        EXPECT_LT(Rms(PlayNote(s, 0, 69)), 1e-4);
    }
}

// Whatever a damaged file that still reads makes of regions, loops and
// tuning, playing it must stay within the samples (checked by the
// sanitizer builds) and produce finite output.
TEST(DlsPlayback, DamagedCollectionsThatReadPlaySafely) {
    testdls::CollectionSpec plan = testdls::TestCollection(true);
    for (auto& w : plan.waves)
        w.samples.resize(300), w.sample->loop = testdls::Loop{100, 200, 0};
    const auto good = testdls::BuildDls(plan);
    std::mt19937 rng(99);
    int played = 0;
    Synth s;
    for (int round = 0; round < 400 && played < 60; ++round) {
        auto bad = good;
        for (int d = 0; d < 3; ++d) {
            const std::size_t at = rng() % (bad.size() - 4);
            const std::uint32_t v = rng();
            for (int i = 0; i < 4; ++i)
                bad[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        auto result = dls::ReadDlsCollection(bad);
        if (!result.ok()) continue;
        ++played;
        const int id = AddCollectionToSynth(s.synth, result.collection);
        ASSERT_GT(id, 0);
        for (const auto& instrument : result.collection->instruments) {
            SelectCollectionPatch(s.synth, 0, id, instrument.bankMsb, instrument.bankLsb, instrument.program,
                                  instrument.drums);
            for (int key : {0, 36, 38, 69, 127})
                fluid_synth_noteon(s.synth, 0, key, 127);
            const auto out = s.Render(0.05);
            for (float x : out)
                ASSERT_TRUE(std::isfinite(x));
            fluid_synth_all_notes_off(s.synth, 0);
        }
        RemoveCollectionFromSynth(s.synth, id);
    }
    EXPECT_GT(played, 0);
}

TEST(DlsPlayback, PlainProgramChangesReachGeneralMidiNotCollections) {
    const char* gm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (!std::filesystem::exists(gm)) GTEST_SKIP() << "no General MIDI SoundFont here";
    Synth s;
    const int gmId = fluid_synth_sfload(s.synth, gm, 1);
    ASSERT_GT(gmId, 0);
    const int id = AddCollectionToSynth(s.synth, Load(testdls::TestCollection()));
    ASSERT_GT(id, 0);
    // The collection sits on top of the stack and has bank 0 program 0 and
    // a kit, yet messages that name no collection get General MIDI.
    for (int chan : {0, 9}) {
        fluid_synth_bank_select(s.synth, chan, chan == 9 ? 128 : 0);
        fluid_synth_program_change(s.synth, chan, 0);
        fluid_preset_t* preset = fluid_synth_get_channel_preset(s.synth, chan);
        ASSERT_NE(preset, nullptr);
        EXPECT_EQ(fluid_sfont_get_id(fluid_preset_get_sfont(preset)), gmId) << "channel " << chan;
    }
}

TEST(DlsPlayback, UnloadingOneCollectionKeepsChannelsOnAnother) {
    Synth s;
    const int first = AddCollectionToSynth(s.synth, Load(testdls::TestCollection()));
    const int second = AddCollectionToSynth(s.synth, Load(testdls::TestCollection(true)));
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 9, second, 0, 0, 0, true));
    ASSERT_TRUE(SelectCollectionPatch(s.synth, 2, second, 5, 3, 0, false));
    ASSERT_TRUE(RemoveCollectionFromSynth(s.synth, first));
    ASSERT_TRUE(ReleasedDownTo(s.synth, 1)); // the first is gone from the stack
    const Spectrum kit = Analyse(PlayNote(s, 9, 38));
    EXPECT_NEAR(kit.fundamental, 220, 3);
    EXPECT_GT(kit.thirdHarmonicRatio, 0.05);
    const Spectrum bank = Analyse(PlayNote(s, 2, 69));
    EXPECT_NEAR(bank.fundamental, 440, 5);
    EXPECT_GT(bank.thirdHarmonicRatio, 0.05);
}

TEST(DlsPlayback, DeletingTheSynthReleasesItsCollections) {
    std::weak_ptr<const dls::Collection> weak;
    {
        Synth s;
        auto collection = Load(testdls::TestCollection());
        weak = collection;
        const int first = AddCollectionToSynth(s.synth, collection);
        const int second = AddCollectionToSynth(s.synth, collection);
        EXPECT_NE(first, second);
        EXPECT_EQ(CollectionsHeldBySynth(s.synth), 2);
        // The most recently added copy answers first.
        EXPECT_EQ(FindCollectionOnSynth(s.synth, collection.get()), second);
        ASSERT_TRUE(SelectCollectionPatch(s.synth, 0, second, 0, 0, 0, false));
        fluid_synth_noteon(s.synth, 0, 69, 100);
        s.Render(0.1);
        RemoveCollectionFromSynth(s.synth, second);
        EXPECT_EQ(FindCollectionOnSynth(s.synth, collection.get()), first);
        RemoveCollectionFromSynth(s.synth, first);
        EXPECT_EQ(FindCollectionOnSynth(s.synth, collection.get()), -1);
    }
    EXPECT_TRUE(weak.expired());
}

} // namespace
} // namespace qorn::instruments
