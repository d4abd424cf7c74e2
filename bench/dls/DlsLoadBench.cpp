// Reads a generated 10 MB DLS collection into the model and puts it on a
// FluidSynth synthesizer, printing the time of each step; reads a collection
// of MPEG Layer 3 waves, as DirectX collections hold them; then loads the
// first collection from a file as the General MIDI set, as a synthesizer
// port does (`qorn_bench_dls_load GM.DLS` times your own gm.dls instead, or
// any other collection). Prints figures only.
#include "platform/formats/dls/DlsReader.h"
#include "platform/instruments/DlsInstruments.h"
#include "platform/instruments/GeneralMidiSet.h"
#include "tests/support/CompressedWaves.h"
#include "tests/support/DlsWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// 128 melodic instruments and a drum kit of 47 keys over 160 waves of
// 32,768 16-bit frames each (10 MB of sample data), every region with its
// own articulation.
qorn::testdls::Bytes TenMegabyteCollection() {
    qorn::testdls::CollectionSpec plan;
    plan.level2 = true;
    for (int w = 0; w < 160; ++w) {
        auto wave = qorn::testdls::LoopedWave(qorn::testdls::SineWave(110.0 * (1 + w % 8), 44000, 32768),
                                              static_cast<std::uint16_t>(45 + w % 8 * 12 % 40));
        wave.sample->loop = qorn::testdls::Loop{22768, 10000, 0};
        plan.waves.push_back(std::move(wave));
    }
    const std::vector<qorn::testdls::ConnectionSpec> envelope = {{0, 0, 0x0206, 0, -2400 * 65536},
                                                                 {0, 0, 0x0207, 0, 0},
                                                                 {0, 0, 0x020A, 0, 700 * 65536},
                                                                 {0, 0, 0x0209, 0, -1200 * 65536},
                                                                 {0, 0, 0x0004, 0, 0}};
    for (int p = 0; p < 128; ++p) {
        qorn::testdls::InstrumentSpec ins;
        ins.program = static_cast<std::uint8_t>(p);
        ins.name = "Instrument " + std::to_string(p);
        for (int r = 0; r < 4; ++r) {
            qorn::testdls::RegionSpec region;
            region.keyLow = static_cast<std::uint16_t>(r * 32);
            region.keyHigh = static_cast<std::uint16_t>(r * 32 + 31);
            region.wave = static_cast<std::uint32_t>((p * 4 + r) % 160);
            region.articulation = envelope;
            ins.regions.push_back(region);
        }
        plan.instruments.push_back(std::move(ins));
    }
    qorn::testdls::InstrumentSpec kit;
    kit.drums = true;
    for (int key = 35; key <= 81; ++key) {
        qorn::testdls::RegionSpec region;
        region.keyLow = region.keyHigh = static_cast<std::uint16_t>(key);
        region.wave = static_cast<std::uint32_t>(key % 160);
        region.articulation = envelope;
        kit.regions.push_back(region);
    }
    plan.instruments.push_back(std::move(kit));
    return qorn::testdls::BuildDls(plan);
}

// Twenty waves of 1.5 s at 22,050 Hz in MPEG Layer 3, one instrument each:
// the size of the larger DirectX collections.
qorn::testdls::Bytes Mp3Collection() {
    qorn::testdls::CollectionSpec plan;
    for (int w = 0; w < 20; ++w) {
        plan.waves.push_back(qorn::testdls::Mp3Wave(qorn::testdls::SineWave(110.0 * (1 + w % 8), 22050, 33075), 22050));
        qorn::testdls::InstrumentSpec ins;
        ins.program = static_cast<std::uint8_t>(w);
        ins.regions.push_back(qorn::testdls::RegionSpec{});
        ins.regions.back().wave = static_cast<std::uint32_t>(w);
        plan.instruments.push_back(std::move(ins));
    }
    return qorn::testdls::BuildDls(plan);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

// Loading the set at `path` on a new synthesizer: the first time (the file
// read and converted) and as a port rebuilt later loads it again.
void GeneralMidiSetLoad(const std::string& path) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100);
    std::vector<double> times;
    for (int i = 0; i < 6; ++i) {
        fluid_synth_t* synth = new_fluid_synth(settings);
        qorn::formats::Diagnostics warnings;
        std::string error;
        const auto t0 = Clock::now();
        const int id = qorn::instruments::LoadGeneralMidiSet(synth, path, warnings, &error);
        times.push_back(Ms(Clock::now() - t0));
        delete_fluid_synth(synth);
        if (id < 0) {
            std::printf("General MIDI set %s: %s\n", path.c_str(), error.c_str());
            break;
        }
        for (const auto& w : warnings)
            std::printf("  %s\n", w.text().c_str());
    }
    delete_fluid_settings(settings);
    if (times.size() < 6) return;
    std::printf("General MIDI set %s\n", path.c_str());
    std::printf("  first load (read + convert): %7.2f ms (target: < 1000 ms)\n", times[0]);
    std::printf("  again, for a rebuilt port:   %7.2f ms (median of 5)\n",
                Median(std::vector<double>(times.begin() + 1, times.end())));
}

int main(int argc, char** argv) {
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    const auto bytes = TenMegabyteCollection();
    std::printf("collection: %.1f MB\n", double(bytes.size()) / (1024.0 * 1024.0));

    constexpr int kRuns = 11;
    std::vector<double> read, add, remove;
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100);
    fluid_synth_t* synth = new_fluid_synth(settings);
    for (int i = 0; i < kRuns; ++i) {
        auto t0 = Clock::now();
        auto result = qorn::dls::ReadDlsCollection(bytes);
        auto t1 = Clock::now();
        if (!result.ok()) {
            std::printf("read failed: %s\n", result.error->text().c_str());
            return 1;
        }
        const int id = qorn::instruments::AddCollectionToSynth(synth, result.collection);
        auto t2 = Clock::now();
        qorn::instruments::RemoveCollectionFromSynth(synth, id);
        result.collection.reset();
        auto t3 = Clock::now();
        read.push_back(Ms(t1 - t0));
        add.push_back(Ms(t2 - t1));
        remove.push_back(Ms(t3 - t2));
    }
    std::printf("read into the model:        %7.2f ms (median of %d)\n", Median(read), kRuns);
    std::printf("add to FluidSynth:          %7.2f ms\n", Median(add));
    std::printf("read + add:                 %7.2f ms (segment target with a 10 MB collection: < 150 ms)\n",
                Median(read) + Median(add));
    std::printf("unload (deferred free):     %7.2f ms\n", Median(remove));
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);

    const auto mp3 = Mp3Collection();
    std::vector<double> decode;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = Clock::now();
        const auto result = qorn::dls::ReadDlsCollection(mp3);
        decode.push_back(Ms(Clock::now() - t0));
    }
    std::printf("MP3 collection (%.0f kB, 30 s of sound) read: %7.2f ms\n", double(mp3.size()) / 1024.0,
                Median(decode));

    if (argc > 1) {
        GeneralMidiSetLoad(argv[1]);
        return 0;
    }
    const auto path = std::filesystem::temp_directory_path() / ("qorn-bench-gm-" + std::to_string(::getpid()) + ".dls");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    GeneralMidiSetLoad(path.string());
    std::filesystem::remove(path);
    return 0;
}
