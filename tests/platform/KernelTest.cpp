// The kernel text conversions between UTF-8 and UTF-16.
#include "platform/kernel/Kernel.h"

#include <gtest/gtest.h>

#include <string>

namespace qorn::platform {
namespace {

std::u16string ToUtf16(const std::string& s) {
    const int n = static_cast<int>(s.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, s.data(), n, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, s.data(), n, out.data(), units), units);
    return out;
}

std::string ToUtf8(const std::u16string& w, BOOL* usedDefault = nullptr) {
    const int n = static_cast<int>(w.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, w.data(), n, out.data(), bytes, nullptr, usedDefault), bytes);
    return out;
}

TEST(KernelTextTest, ConvertsEveryUtf8LengthBothWays) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"abc", u"abc"},
        {"\xC3\xA9", u"\u00E9"},
        {"\xE6\x9B\xB2", u"\u66F2"},
        {"\xF0\x9F\x8E\xB5", u"\U0001F3B5"}, // a surrogate pair
        {"", u""},
    };
    for (const auto& [utf8, utf16] : cases) {
        EXPECT_EQ(ToUtf16(utf8), utf16) << utf8;
        EXPECT_EQ(ToUtf8(utf16), utf8) << utf8;
    }
}

TEST(KernelTextTest, MinusOneConvertsTheTerminatorToo) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "song", -1, nullptr, 0), 5);
    WCHAR out[5];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "song", -1, out, 5), 5);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"song", -1, nullptr, 0, nullptr, nullptr), 5);
}

TEST(KernelTextTest, ABufferTooSmallGivesZeroAndIsLeftAlone) {
    WCHAR wide[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "song", -1, wide, 4), 0);
    EXPECT_EQ(wide[0], u'x');
    char narrow[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u66F2\u66F2", 2, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(narrow[0], 'x');
}

TEST(KernelTextTest, BytesThatAreNotUtf8RoundTripUnchanged) {
    const std::string cases[] = {
        "\xFF",                 // never valid
        "a\xE3\x81",            // cut sequence
        "\xC0\xAF",             // overlong '/'
        "\xED\xA0\x80",         // encoded surrogate
        "\xF4\x90\x80\x80",     // beyond U+10FFFF
        "caf\xE9 \xE6\x9B\xB2", // Latin-1 next to UTF-8
    };
    for (const auto& bytes : cases) {
        const std::u16string wide = ToUtf16(bytes);
        BOOL usedDefault = TRUE;
        EXPECT_EQ(ToUtf8(wide, &usedDefault), bytes);
        EXPECT_FALSE(usedDefault);
    }
    EXPECT_EQ(ToUtf16("\xFF"), std::u16string(1, u'\xDCFF'));
}

TEST(KernelTextTest, AnUnpairedSurrogateBecomesTheReplacementCharacter) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800') + u"a", &usedDefault), "\xEF\xBF\xBD"
                                                                         "a");
    EXPECT_TRUE(usedDefault);
}

TEST(KernelTextTest, MissingArgumentsGiveZero) {
    WCHAR wide[4];
    char narrow[4];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a", -1, nullptr, 4, nullptr, nullptr), 0);
}

TEST(KernelSleepTest, TheHookReplacesThePause) {
    std::vector<DWORD> pauses;
    SetSleepHook([&](DWORD ms) { pauses.push_back(ms); });
    Sleep(60'000);
    SetSleepHook({});
    EXPECT_EQ(pauses, std::vector<DWORD>{60'000});
}

} // namespace
} // namespace qorn::platform
