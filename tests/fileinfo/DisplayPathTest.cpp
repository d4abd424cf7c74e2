#include "fileinfo/DisplayPath.h"

#include "fileinfo/Utf8.h"

#include <gtest/gtest.h>

namespace qorn::fileinfo {
namespace {

TEST(DisplayPathTest, ShortensFrom51Bytes) {
    const std::string p50 = "/home/user/music/" + std::string(29, 'x') + ".mid"; // 50 bytes
    ASSERT_EQ(p50.size(), 50u);
    EXPECT_EQ(ShortenDisplayPath(p50), p50);

    const std::string p51 = "/home/user/music/" + std::string(30, 'x') + ".mid";
    const std::string shown = ShortenDisplayPath(p51);
    EXPECT_EQ(shown, "/home/user/ ... " + std::string(26, 'x') + ".mid");
    EXPECT_EQ(shown.size(), 46u);

    // What follows the path in the label (" [2 warnings]") takes from its
    // tail, so the label keeps its length and the count stays in view.
    const std::string following = " [2 warnings]";
    EXPECT_EQ(ShortenDisplayPath(p51, following.size()) + following,
              "/home/user/ ... " + std::string(13, 'x') + ".mid" + following);
    EXPECT_EQ(ShortenDisplayPath("/home/a.mid", following.size()), "/home/a.mid");
}

TEST(DisplayPathTest, NeverCutsInsideACharacter) {
    struct Case {
        const char* what;
        std::string path;
        std::string shown;
    } const cases[] = {
        // "音" (3 bytes) at bytes 10..12 would be split by the head cut at 11.
        {"head", "/home/user" + std::string("音") + std::string(50, 'a'), "/home/user ... " + std::string(30, 'a')},
        // "楽" at bytes len-31..len-29 would be split by the tail cut.
        {"tail", "/home/user/" + std::string(20, 'a') + "楽" + std::string(29, 'b'),
         "/home/user/ ... " + std::string(29, 'b')},
        // A character ending exactly at byte 11 stays whole.
        {"edge", "/home/us音" + std::string(50, 'c'), "/home/us音 ... " + std::string(30, 'c')},
        // Bytes that are not UTF-8 count as one character each.
        {"invalid bytes", "/home/us\xFF\xFE\xFD\xFC" + std::string(50, 'd'),
         "/home/us\xFF\xFE\xFD ... " + std::string(30, 'd')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ShortenDisplayPath(c.path), c.shown);
    }
    const std::string japanese = "/home/ユーザー/音楽/日本の歌のとても長い名前のファイル.mid";
    EXPECT_TRUE(IsValidUtf8(ShortenDisplayPath(japanese)));
}

TEST(DisplayPathTest, BaseNameIsAfterTheLastSlash) {
    const std::string longFolder = "/" + std::string(3000, 'f');
    struct Case {
        std::string path;
        std::string base;
    } const cases[] = {
        {"/home/user/song.mid", "song.mid"},
        {"/home/ユーザー/日本の歌.mid", "日本の歌.mid"},
        {"/home/user/\xFF\xFE\x5C.mid", "\xFF\xFE\x5C.mid"},
        {"/x.sgt", "x.sgt"},
        {"song.mid", "song.mid"},
        {longFolder + "/deep.mid", "deep.mid"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(ExtractBaseName(c.path), c.base);
    }
}

} // namespace
} // namespace qorn::fileinfo
