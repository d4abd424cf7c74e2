// A fixture that plays files through the real stack (loader, performance,
// synthesizer) rendered offline into a buffer, and the measurements the
// rendering tests make on the result.
#pragma once

#include "app/render/OfflineSession.h"
#include "platform/com/ComTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace qorn::test {

inline constexpr int kRenderRate = 22050;

inline double KeyFrequency(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

// Power of one frequency over [from, to) of the mixed channels (Goertzel).
inline double Power(const render::RenderedAudio& a, std::size_t from, std::size_t to, double frequency) {
    to = std::min(to, a.left.size());
    const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / kRenderRate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double s0 = 0.5 * (a.left[i] + a.right[i]) + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// RMS of the two channels over [from, to).
inline double Rms(const render::RenderedAudio& a, std::size_t from, std::size_t to) {
    to = std::min(to, a.left.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += 0.5 * (double(a.left[i]) * a.left[i] + double(a.right[i]) * a.right[i]);
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

struct PlayOptions {
    platform::DWORD repeats = 0; // 0: the piece's own
    int volumePosition = -1;     // -1: unchanged
    double tailSeconds = 1.0;
    double limitSeconds = 60.0;
    std::optional<std::uint32_t> seed = std::nullopt; // the choices of variations
    std::string segment = {};                         // of a script or container
};

class OfflineRenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qorn-render-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::string error;
        session_ = render::OfflineSession::Create(kRenderRate, false, &error);
        if (!session_) GTEST_SKIP() << "no synthesizer: " << error;
    }
    void TearDown() override {
        session_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::filesystem::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    render::RenderedAudio play(const std::string& path, const PlayOptions& options = {}) {
        std::string error;
        EXPECT_TRUE(session_->load(path, &error, options.segment)) << error;
        if (options.repeats != 0) session_->setRepeats(options.repeats);
        if (options.volumePosition >= 0) session_->setVolumePosition(options.volumePosition);
        if (options.seed) session_->setCompositionSeed(*options.seed);
        EXPECT_TRUE(session_->play());
        return render::RenderToEnd(*session_, options.tailSeconds, options.limitSeconds);
    }

    std::filesystem::path dir_;
    std::unique_ptr<render::OfflineSession> session_;
};

} // namespace qorn::test
