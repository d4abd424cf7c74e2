#include "fileinfo/OpenAndPlayFile.h"

#include "engine/TDMusicEngine.h"
#include "fileinfo/DisplayPath.h"
#include "tests/support/EngineTestPlatform.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <vector>

namespace qorn::fileinfo {
namespace {

using namespace test;
using Log = std::vector<std::string>;

// The main window as the workflow sees it: every call is logged in order,
// with the engine's loads (seen on the test platform) put in where they
// happened.
class RecordingHost : public OpenFileHost {
  public:
    explicit RecordingHost(const testdouble::TestPlatform& platform) : platform_(platform) {}

    const std::string& AppName() const override { return appName_; }
    std::string& LastFileName() override { return lastFileName_; }
    std::int32_t& LastFileSize() override { return lastFileSize_; }
    std::string& InfoText1() override { return info_[0]; }
    std::string& InfoText2() override { return info_[1]; }
    std::string& InfoText3() override { return info_[2]; }
    std::string& LastSegment() override { return segment_; }
    int ChooseSegment(const std::string&, const std::vector<std::string>&) override { return -1; }

    void SetTitles(const std::string& text) override { Record("Titles " + text); }
    void ShowTitle() override { Record("ShowTitle"); }
    void SetLabelFN(const std::string& text) override { Record("LabelFN " + text); }
    void SetLabelTime(const std::string& text) override { Record("LabelTime " + text); }
    void RepaintNow() override { Record("Repaint"); }
    void StopTimers() override { Record("StopTimers"); }
    int StartPlayback() override {
        Record("StartPlayback");
        return startResult;
    }
    void EnableComPlay() override { Record("EnableComPlay"); }
    void EnableComInfo() override { Record("EnableComInfo"); }
    void EnableComOpen() override { Record("EnableComOpen"); }

    // The calls since the last Take.
    Log Take() {
        Record("");
        log_.pop_back();
        Log out;
        out.swap(log_);
        return out;
    }
    Log Info() const { return {info_[0], info_[1], info_[2]}; }

    int startResult = 0;

  private:
    void Record(std::string entry) {
        while (loadsSeen_ < platform_.Loads().size()) {
            log_.push_back("Load " + platform_.Loads()[loadsSeen_++].path);
        }
        log_.push_back(std::move(entry));
    }

    const testdouble::TestPlatform& platform_;
    std::string appName_ = "Qor_n";
    std::string lastFileName_;
    std::string segment_;
    std::int32_t lastFileSize_ = 0;
    std::string info_[3];
    std::size_t loadsSeen_ = 0;
    Log log_;
};

Log Progress123() {
    return {"Titles Please Wait .",   "LabelTime wait", "Repaint", "Titles Please Wait ..", "LabelTime wait", "Repaint",
            "Titles Please Wait ...", "LabelTime Wait", "Repaint"};
}

Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The first load, progress step 4, the second load.
Log MidiLoads(const std::string& path) {
    return {"Load " + path, "Titles Please Wait ....", "LabelTime WAIT", "Repaint", "Load " + path};
}

class OpenAndPlayFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(DMEngine.Initialize()); }
    // Releases what the engine holds of the test platform's objects.
    void TearDown() override { DMEngine.Shutdown(); }

    // The steps from the shown path to the end, after the loads.
    Log Finish(const std::string& path, const std::string& base, bool started = true) {
        Log l{"LabelFN " + path, "Repaint", "Titles Please Wait ... " + base, "Repaint", "StopTimers", "StartPlayback"};
        if (started) {
            l.push_back("EnableComPlay");
            l.push_back("Titles Qor_n : " + base);
        } else {
            l.push_back("Titles Qor_n [Error]");
        }
        return l + Log{"EnableComInfo", "EnableComOpen"};
    }
    static Log Failed(const std::string& message) {
        return {"LabelFN " + message, "ShowTitle", "LabelTime ", "EnableComOpen"};
    }

    testdouble::EngineTestPlatform platform; // before the engine is used
    RecordingHost host{platform};
    TempDir dir;
};

TEST_F(OpenAndPlayFileTest, MidiFileIsLoadedTwiceAndItsTextsRead) {
    const std::string path = dir.Write("song.mid", Smf(Meta(0x03, "My Song") + Meta(0x02, "(C) Me")));
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + MidiLoads(path) + Finish(ShortenDisplayPath(path), "song.mid"));
    EXPECT_EQ(host.Info(), (Log{"My Song", "(C) Me", "（標準MIDIファイル）"}));
    EXPECT_EQ(host.LastFileName(), path);
    EXPECT_EQ(host.LastFileSize(), static_cast<std::int32_t>(std::filesystem::file_size(path)));
}

TEST_F(OpenAndPlayFileTest, SegmentFileIsLoadedOnceAndNotRead) {
    const std::string path = dir.Write("Tune.sgt", "RIFF");
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + Log{"Load " + path} + Finish(ShortenDisplayPath(path), "Tune.sgt"));
    EXPECT_EQ(host.Info(), (Log{"Tune.sgt", "（Copyright情報なし）", "（DirectMusicセグメントファイル）"}));
}

TEST_F(OpenAndPlayFileTest, NameTestLooksAtTheThirdByteFromTheEnd) {
    struct Case {
        const char* name;
        std::size_t loads;
    } const cases[] = {{"A.MID", 2}, {"b.Mid", 2}, {"c.sgp", 1}, {"d.SGT", 1}, {"e.mxx", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = platform.Loads().size();
        OpenAndPlayFile(host, dir.Write(c.name, Smf("")));
        EXPECT_EQ(platform.Loads().size() - before, c.loads);
    }
    EXPECT_FALSE(IsMidiFileName("m"));
}

TEST_F(OpenAndPlayFileTest, SameFileAgainSkipsTheLoadButNotTheRest) {
    const std::string path = dir.Write("song.mid", Smf(Meta(0x03, "First")));
    OpenAndPlayFile(host, path);
    host.Take();
    host.InfoText1() = "stale";

    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + Finish(ShortenDisplayPath(path), "song.mid"));
    EXPECT_EQ(host.InfoText1(), "First"); // read again
    EXPECT_EQ(platform.Loads().size(), 2u);
}

TEST_F(OpenAndPlayFileTest, ChangedSizeLoadsAgain) {
    const std::string path = dir.Write("song.mid", Smf(Meta(0x03, "Short")));
    OpenAndPlayFile(host, path);
    host.Take();
    dir.Write("song.mid", Smf(Meta(0x03, "Grown longer")));

    OpenAndPlayFile(host, path);
    const Log log = host.Take();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Load " + path), 2);
    EXPECT_EQ(host.InfoText1(), "Grown longer");
    EXPECT_EQ(host.LastFileSize(), static_cast<std::int32_t>(std::filesystem::file_size(path)));
}

TEST_F(OpenAndPlayFileTest, LoadFailureShowsFileOpenErrorAndFreesTheWindow) {
    const std::string path = dir.Write("bad.sgt", "junk");
    host.InfoText1() = "previous";
    platform.FailLoads();
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + Log{"Load " + path} + Failed("File Open Error"));
    EXPECT_EQ(host.InfoText1(), "previous");

    // Nothing is loaded now, so opening the same file again tries again.
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + Log{"Load " + path} + Failed("File Open Error"));
}

TEST_F(OpenAndPlayFileTest, SecondMidiLoadFailing) {
    const std::string path = dir.Write("song.mid", Smf(""));
    platform.QueueResults("Loader.GetObject", {platform::S_OK, platform::E_FAIL});
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + MidiLoads(path) + Failed("File Open Error"));
}

TEST_F(OpenAndPlayFileTest, MissingFileOrFolderOrDevice) {
    std::filesystem::create_directory(dir.Path() / "folder.mid");
    const std::string fifo = (dir.Path() / "pipe.mid").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    host.LastFileName() = "/earlier.mid";
    host.LastFileSize() = 7;

    for (const std::string& path :
         {(dir.Path() / "gone.mid").string(), (dir.Path() / "folder.mid").string(), fifo, std::string()}) {
        SCOPED_TRACE(path);
        OpenAndPlayFile(host, path);
        EXPECT_EQ(host.Take(), (Log{"Titles Please Wait .", "LabelTime wait", "Repaint"} + Failed("File Not Found")));
    }
    EXPECT_EQ(host.LastFileName(), "/earlier.mid");
    EXPECT_EQ(host.LastFileSize(), 7);
    EXPECT_TRUE(platform.Loads().empty());
}

TEST_F(OpenAndPlayFileTest, RefusedStart) {
    const std::string path = dir.Write("x.sgp", "RIFF");
    host.startResult = -1;
    OpenAndPlayFile(host, path);
    EXPECT_EQ(host.Take(), Progress123() + Log{"Load " + path} + Finish(ShortenDisplayPath(path), "x.sgp", false));
    EXPECT_EQ(host.InfoText1(), "x.sgp");
}

TEST_F(OpenAndPlayFileTest, LongPathsAreHeldWhole) {
    std::filesystem::path folder = dir.Path();
    for (int i = 0; i < 8; ++i)
        folder /= std::string(150, char('a' + i));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "曲.mid").string();
    { std::ofstream(path, std::ios::binary) << Smf(Meta(0x03, "Deep")); }
    ASSERT_GT(path.size(), 1100u);

    OpenAndPlayFile(host, path);
    const Log log = host.Take();
    EXPECT_EQ(host.LastFileName(), path);
    EXPECT_EQ(platform.Loads().back().path, path);
    EXPECT_EQ(host.InfoText1(), "Deep");
    EXPECT_NE(std::find(log.begin(), log.end(), "Titles Qor_n : 曲.mid"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "LabelFN " + ShortenDisplayPath(path)), log.end());
}

TEST(RecordedFileSizeTest, KeepsTheLow32Bits) {
    EXPECT_EQ(RecordedFileSize(1234), 1234);
    EXPECT_EQ(RecordedFileSize(0x7FFFFFFFull), 0x7FFFFFFF);
    EXPECT_EQ(RecordedFileSize(0x80000000ull), INT32_MIN);
    EXPECT_EQ(RecordedFileSize(0x100000005ull), 5);
}

} // namespace
} // namespace qorn::fileinfo
