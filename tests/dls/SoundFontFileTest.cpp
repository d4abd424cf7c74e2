// A collection written as a SoundFont file sounds as the collection does:
// the same notes rendered by FluidSynth from the collection (as the General
// MIDI set) and from the file FluidSynth itself reads.
#include "platform/formats/dls/DlsReader.h"
#include "platform/instruments/DlsInstruments.h"
#include "platform/instruments/DlsPresets.h"
#include "platform/instruments/SoundFontWriter.h"
#include "tests/support/CompressedWaves.h"
#include "tests/support/DlsWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qorn::instruments {
namespace {

constexpr int kRate = 22050;

// Notes over every instrument: melodic patches on channel 0 by bank MSB and
// program, the kit on channel 9; soft and loud, held past their loops.
std::vector<float> Play(bool fromFile, const std::shared_ptr<const dls::Collection>& collection,
                        const std::string& path) {
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kRate);
    fluid_synth_t* synth = new_fluid_synth(settings);
    const int id = fromFile ? fluid_synth_sfload(synth, path.c_str(), 1) : AddGeneralMidiSetToSynth(synth, collection);
    EXPECT_GE(id, 0);
    std::vector<float> out;
    auto render = [&](double seconds) {
        std::vector<float> l(std::size_t(seconds * kRate)), r(l.size());
        fluid_synth_write_float(synth, int(l.size()), l.data(), 0, 1, r.data(), 0, 1);
        for (std::size_t i = 0; i < l.size(); ++i)
            out.insert(out.end(), {l[i], r[i]});
    };
    const int patches[][3] = {{0, 0, 0}, {0, 1, 0}, {5, 0, 0}, {0, 2, 0}, {0, 0, 9}};
    for (const auto& [bank, program, channel] : patches) {
        fluid_synth_cc(synth, channel, 0, bank);
        fluid_synth_program_change(synth, channel, program);
        for (int key : {36, 38, 57, 69, 81})
            for (int velocity : {40, 120}) {
                fluid_synth_noteon(synth, channel, key, velocity);
                render(0.4);
                fluid_synth_noteoff(synth, channel, key);
                render(0.1);
            }
    }
    render(0.5);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return out;
}

TEST(SoundFontFile, PlaysAsTheCollectionDoes) {
    testdls::CollectionSpec plan = testdls::TestCollection(true);
    // A region loop on a wave without one of its own, released on note-off.
    plan.waves[1].sample->loop.reset();
    plan.instruments[1].regions[0].sample = testdls::SampleInfo{69, -37, -3 * 65536, testdls::Loop{1000, 3000, 1}};
    // Waves compressed as DirectX collections compress them, decoded to 16 bits.
    plan.waves[2] = testdls::Mp3Wave(testdls::SineWave(880, kRate, kRate / 2), kRate);
    plan.waves[2].sample = testdls::SampleInfo{69, 0, 0, testdls::Loop{8000, 2000, 0}};
    // Level 2 articulation: filter, envelopes, LFOs, velocity and the mod wheel.
    testdls::InstrumentSpec lead = plan.instruments[0];
    lead.name = "Lead";
    lead.program = 2;
    lead.articulation.insert(lead.articulation.end(), {{0, 0, 0x0500, 0, 5000 * 65536},
                                                       {0x0002, 0, 0x0500, 0, 2400 * 65536},
                                                       {0x0005, 0, 0x0003, 0, 150 * 65536 + 12345},
                                                       {0, 0, 0x030B, 0, -1200 * 65536},
                                                       {0, 0, 0x0114, 0, -500 * 65536},
                                                       {0x0009, 0, 0x0003, 0, 30 * 65536 + 777},
                                                       {0, 0, 0x0004, 0, -200 * 65536}});
    // Split by velocity, the loud half a stereo pair's right side.
    lead.regions.resize(2);
    lead.regions[0].velocityHigh = 80;
    lead.regions[1].velocityLow = 81;
    lead.regions[1].wave = 2;
    lead.regions[1].linkOptions = 2;
    lead.regions[1].channel = 2;
    plan.instruments.push_back(lead);
    auto read = dls::ReadDlsCollection(testdls::BuildDls(plan));
    ASSERT_TRUE(read.ok());

    formats::Diagnostics lost;
    const SoundFontFile file =
        WriteSoundFont(*read.collection, DescribePresets(*read.collection), "collection 'x'", "test", lost);
    ASSERT_TRUE(file.error.empty()) << file.error;
    EXPECT_EQ(file.presets, 5u);
    const auto path = std::filesystem::temp_directory_path() / ("qorn-sf2-" + std::to_string(::getpid()) + ".sf2");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.bytes.data()), std::streamsize(file.bytes.size()));

    const std::vector<float> direct = Play(false, read.collection, path.string());
    const std::vector<float> written = Play(true, nullptr, path.string());
    std::filesystem::remove(path);
    ASSERT_EQ(direct.size(), written.size());
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < direct.size(); ++i) {
        signal += double(direct[i]) * direct[i];
        error += (double(direct[i]) - written[i]) * (double(direct[i]) - written[i]);
    }
    ASSERT_GT(signal / double(direct.size()), 1e-4); // it sounds
    // The one conversion gives both the same voices: no difference but
    // FluidSynth's own handling of file and memory samples.
    EXPECT_GT(10 * std::log10(signal / std::max(error, 1e-30)), 60.0);
    EXPECT_TRUE(lost.empty());
}

} // namespace
} // namespace qorn::instruments
