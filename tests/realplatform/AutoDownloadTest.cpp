#include "platform/synth/AutoDownload.h"

#include "platform/loader/Loader.h"

#include "tests/support/MidiFileWriter.h"

#include <gtest/gtest.h>

using namespace qorn;
using platform::PresetRef;
using platform::PresetsUsedBy;

namespace {

bool has(const std::vector<PresetRef>& v, int bank, int program) {
    return std::find(v.begin(), v.end(), PresetRef{bank, program}) != v.end();
}

TEST(AutoDownloadTest, FindsEveryPresetThePieceCanSelect) {
    music::Sequence s;
    s.events = {
        {0, 0xB0, 0, 8, 0},   // bank 8 on channel 1 ...
        {0, 0xC0, 4, 0, 0},   // ... program 4: a variation, or bank 0 in its place
        {0, 0xC9, 25, 0, 0},  // a drum kit on channel 10
        {10, 0xC1, 40, 0, 0}, // channel 2 keeps bank 0
        {20, 0xB0, 0, 0, 1},  // bank select of another block does not leak into block 0
        {30, 0xC0, 7, 0, 1},
    };
    s.patches = {{0, 0, 3, music::PatchSelect::kNoCollection, 0, 0, 19, false},
                 {0, 0, 9, music::PatchSelect::kNoCollection, 0, 0, 48, true}};
    const auto presets = PresetsUsedBy(s);
    for (const PresetRef p : {PresetRef{0, 0}, PresetRef{128, 0}, PresetRef{8, 4}, PresetRef{0, 4}, PresetRef{128, 25},
                              PresetRef{0, 40}, PresetRef{0, 7}, PresetRef{0, 19}, PresetRef{128, 48}})
        EXPECT_TRUE(has(presets, p.bank, p.program)) << p.bank << ":" << p.program;
    EXPECT_FALSE(has(presets, 8, 7));
    EXPECT_TRUE(std::is_sorted(presets.begin(), presets.end(), [](const PresetRef& a, const PresetRef& b) {
        return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
    }));
}

TEST(LoaderFileTest, RefusesFilesAboveTheCapAndThingsThatAreNotFiles) {
    const std::string path = test::WriteTempFile("cap.bin", std::vector<std::uint8_t>(1000, 0x55));
    std::vector<std::uint8_t> data;
    EXPECT_EQ(platform::ReadWholeFile(path, 999, data), platform::LOADER_E_TOO_LARGE);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(platform::ReadWholeFile(path, 1000, data), platform::S_OK);
    EXPECT_EQ(data.size(), 1000u);
    EXPECT_LT(platform::ReadWholeFile("/proc/self", 1000, data), 0);
    EXPECT_LT(platform::ReadWholeFile(path + ".missing", 1000, data), 0);
}

} // namespace
