#include "fileinfo/TextDecoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace qorn::fileinfo {
namespace {

// 日本 / 山田 in code page 932.
const std::string SjisNihon = "\x93\xFA\x96\x7B";
const std::string SjisYamada = "\x8E\x52\x93\x63";

TextEncoding Choose(const std::vector<StoredText>& texts) {
    std::vector<const StoredText*> ptrs;
    for (const StoredText& t : texts)
        ptrs.push_back(&t);
    return ChooseEncoding(ptrs);
}

TEST(TextDecodingTest, OneEncodingPerFileFromAllTexts) {
    struct Case {
        const char* what;
        std::vector<StoredText> texts;
        TextEncoding expected;
    } const cases[] = {
        {"no texts", {}, TextEncoding::Utf8},
        {"plain ASCII", {{"Title"}, {"(C) 1999"}}, TextEncoding::Utf8},
        {"UTF-8 Japanese", {{"日本"}, {"山田"}}, TextEncoding::Utf8},
        {"Shift-JIS", {{SjisNihon}, {SjisYamada}}, TextEncoding::Cp932},
        // "é" in UTF-8 (C3 A9) is also two half-width katakana in 932; the
        // Shift-JIS copyright decides for both lines.
        {"ambiguous name, Shift-JIS copyright", {{"Caf\xC3\xA9"}, {SjisYamada}}, TextEncoding::Cp932},
        {"code page 932 extensions", {{"\x87\x40\xFA\x40\x81\x60"}}, TextEncoding::Cp932},
        {"Shift-JIS cut inside a character", {{"ab\x93"}}, TextEncoding::Windows1252},
        {"Western", {{"Caf\xE9"}, {"\xA9 1998"}}, TextEncoding::Windows1252},
        {"one Western text decides", {{SjisNihon}, {"na\xEFve"}}, TextEncoding::Windows1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Choose(c.texts), c.expected);
    }
}

TEST(TextDecodingTest, DecodesToUtf8) {
    EXPECT_EQ(DecodeToUtf8({SjisNihon + " " + SjisYamada}, TextEncoding::Cp932), "日本 山田");
    // Windows' own mappings of 932: ①, ⅰ and the wave dash as a full-width tilde.
    EXPECT_EQ(DecodeToUtf8({"\x87\x40\xFA\x40\x81\x60"}, TextEncoding::Cp932), "①ⅰ～");
    EXPECT_EQ(DecodeToUtf8({"Caf\xC3\xA9"}, TextEncoding::Cp932), "Cafﾃｩ");
    EXPECT_EQ(DecodeToUtf8({"\x80 caf\xE9 \xA9"}, TextEncoding::Windows1252), "€ café ©");
    EXPECT_EQ(DecodeToUtf8({"日本"}, TextEncoding::Utf8), "日本");
}

// A text cut after its first 2000 bytes may end inside a character; that
// alone must not make the file's texts look like another encoding.
TEST(TextDecodingTest, CutTextsDropTheirUnfinishedLastCharacter) {
    const StoredText sjis{"a" + SjisNihon + "\x93" + "...", true};
    EXPECT_EQ(Choose({sjis}), TextEncoding::Cp932);
    EXPECT_EQ(DecodeToUtf8(sjis, TextEncoding::Cp932), "a日本...");

    const StoredText utf8{"a日本\xE5\xB1...", true}; // 山 cut after two bytes
    EXPECT_EQ(Choose({utf8}), TextEncoding::Utf8);
    EXPECT_EQ(DecodeToUtf8(utf8, TextEncoding::Utf8), "a日本...");

    // The same bytes in a text that was not cut are simply not valid.
    const StoredText whole{"a" + SjisNihon + "\x93" + "...", false};
    EXPECT_EQ(Choose({whole}), TextEncoding::Windows1252);
}

} // namespace
} // namespace qorn::fileinfo
