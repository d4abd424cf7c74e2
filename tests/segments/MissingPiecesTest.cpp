// A segment whose style, instrument collection and triggered segment are
// not beside it: it loads, plays its own notes, and says once for each
// missing piece which file was looked for, through the loader and on the
// renderer's stderr.
#include "TestSupport.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace qorn::testseg {
namespace {

namespace fs = std::filesystem;
const std::vector<std::string> kMissing = {"gone.sty", "gone.dls", "gone.sgt"};

Bytes SegmentMissingItsPieces() {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.notes = {{0, 384, 0, 60}, {768, 384, 0, 64}};
    Reference collection;
    collection.file = "gone.dls";
    Instrument piano;
    piano.flags |= 0x100; // General MIDI's piano: it plays without its collection
    piano.collection = collection;
    plan.bands = {{0, {piano}}};
    Bytes tracks = styles_test::Track(0xD2AC288D, nullptr, "sttr", styles_test::StyleTrackList(0, "gone.sty"));
    Append(tracks, testtracks::TriggerTrack({{768, testtracks::FileRef("gone.sgt", testtracks::kSegmentClass)}}));
    return testtracks::WithTracks(BuildSegment(plan), tracks);
}

class MissingPieces : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qorn-missing-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / "song.sgt").string();
        const Bytes file = SegmentMissingItsPieces();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(MissingPieces, TheLoaderPlaysTheRestAndReportsEachPieceOnce) {
    auto* loader = new platform::Loader();
    platform::DMUS_OBJECTDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwValidData = platform::DMUS_OBJ_CLASS | platform::DMUS_OBJ_FULLPATH;
    desc.guidClass = platform::CLSID_DirectMusicSegment;
    ASSERT_NE(platform::MultiByteToWideChar(platform::CP_ACP, 0, path_.c_str(), -1, desc.wszFileName,
                                            platform::DMUS_MAX_FILENAME),
              0);
    platform::IDirectMusicSegment2* segment = nullptr;
    ASSERT_EQ(loader->GetObject(&desc, platform::IID_IDirectMusicSegment2, reinterpret_cast<void**>(&segment)),
              platform::S_OK)
        << loader->lastError();
    const auto* loaded = dynamic_cast<platform::Segment*>(segment);
    ASSERT_TRUE(loaded && loaded->sequence());
    const auto notes = Notes(*loaded->sequence());
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].key, 60);
    EXPECT_EQ(notes[1].on, 768u);

    const formats::Diagnostics& reports = loader->lastDiagnostics();
    EXPECT_EQ(reports.size(), kMissing.size());
    for (const auto& name : kMissing) {
        int naming = 0;
        for (const auto& d : reports) {
            if (d.message.find(name) == std::string::npos) continue;
            ++naming;
            EXPECT_EQ(d.file, path_);
            EXPECT_EQ(d.severity, formats::Severity::Warning);
        }
        EXPECT_EQ(naming, 1) << name;
    }
    segment->Release();
    loader->Release();
}

TEST_F(MissingPieces, TheRendererPrintsEachReportOnStderr) {
    const fs::path wav = dir_ / "song.wav";
    const fs::path err = dir_ / "stderr.txt";
    const std::string command = std::string("'") + QORN_RENDER_EXECUTABLE + "' '" + path_ + "' '" + wav.string() +
                                "' >/dev/null 2>'" + err.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(err);
    std::vector<std::string> warnings;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("qorn-render: warning: ", 0) == 0) warnings.push_back(line);
    EXPECT_EQ(warnings.size(), kMissing.size());
    const std::string prefix = "qorn-render: warning: " + path_ + ": ";
    for (const auto& name : kMissing) {
        int naming = 0;
        for (const auto& line : warnings)
            naming += line.rfind(prefix, 0) == 0 && line.find(name) != std::string::npos;
        EXPECT_EQ(naming, 1) << name;
    }
    // What the segment has of its own is heard.
    std::ifstream audio(wav, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(audio), {}};
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_TRUE(std::any_of(bytes.begin() + 44, bytes.end(), [](char b) { return b != 0; }));
}

} // namespace
} // namespace qorn::testseg
