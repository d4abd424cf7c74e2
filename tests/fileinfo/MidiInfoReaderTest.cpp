#include "fileinfo/MidiInfoReader.h"

#include "tests/support/MidiWriter.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qorn::fileinfo {
namespace {

using namespace test;

constexpr std::uint8_t Text = 0x01;
constexpr std::uint8_t Copyright = 0x02;
constexpr std::uint8_t Name = 0x03;
constexpr std::uint8_t Tempo = 0x51;
constexpr std::uint8_t TimeSignature = 0x58;
constexpr std::uint8_t SequenceNumber = 0x00;

const std::string Base = "song.mid";

std::string Opt(const std::optional<StoredText>& t) {
    return t ? "[" + t->bytes + "]" : "-";
}

struct Case {
    const char* what;
    std::string file;
    const char* name; // "-" when not taken, else "[text]"
    const char* copyright;
    const char* text;
};

class MidiInfoReaderTest : public ::testing::Test {
  protected:
    MidiTexts Read(const std::string& bytes) { return ReadMidiTexts(dir.Write("t.mid", bytes)); }
    InfoTexts Info(const std::string& bytes) { return ReadMidiInfo(dir.Write("t.mid", bytes), Base); }
    TempDir dir;
};

TEST_F(MidiInfoReaderTest, LeadingMetaEventsAtDeltaZero) {
    const std::string tempo{char(0x07), char(0xA1), char(0x20)};
    const Case cases[] = {
        {"all three in order", Smf(Meta(Name, "Title") + Meta(Copyright, "(C) Me") + Meta(Text, "Hello")), "[Title]",
         "[(C) Me]", "[Hello]"},
        {"other meta types before and between are skipped",
         Smf(Meta(SequenceNumber, std::string(2, '\0')) + Meta(Tempo, tempo) + Meta(Name, "N") +
             Meta(TimeSignature, "\x04\x02\x18\x08") + Meta(Text, "T")),
         "[N]", "-", "[T]"},
        {"first of two names", Smf(Meta(Name, "First") + Meta(Name, "Second")), "[First]", "-", "-"},
        {"channel message first", Smf(NoteOn + Meta(Name, "N")), "-", "-", "-"},
        {"system exclusive first", Smf(std::string("\x00\xF0\x01\xF7", 4) + Meta(Name, "N")), "-", "-", "-"},
        {"meta event at a later time", Smf(Meta(Name, "N", 1)), "-", "-", "-"},
        {"text after the first channel event is not seen", Smf(Meta(Name, "N") + NoteOn + Meta(Text, "late")), "[N]",
         "-", "-"},
        {"only the first track",
         Header(1, 2) + Chunk("MTrk", Meta(Name, "One") + EndOfTrack) +
             Chunk("MTrk", Meta(Copyright, "Two") + Meta(Text, "Two") + EndOfTrack),
         "[One]", "-", "-"},
        {"header longer than 6 bytes is skipped whole",
         Chunk("MThd", std::string("\x00\x00\x00\x01\x01\xE0\xFF\xFF\xFF\xFF", 10)) +
             Chunk("MTrk", Meta(Name, "N") + EndOfTrack),
         "[N]", "-", "-"},
        {"blanks and controls trimmed", Smf(Meta(Name, " \t Title \r\n") + Meta(Copyright, "   ")), "[Title]", "[]",
         "-"},
        {"text ends at a zero byte", Smf(Meta(Text, std::string("ab\0cd", 5))), "-", "-", "[ab]"},
        {"track length past the events ends at the track's end",
         Header() + "MTrk" + U32BE(9) + Meta(Name, "Title") + Meta(Copyright, "outside"), "[Title]", "-", "-"},
        {"track length with the top bit set", Header() + "MTrk" + U32BE(0x80000010) + Meta(Name, "N"), "-", "-", "-"},
        {"not a MIDI file", "RIFF\x24\x01\x02\x03WAVEfmt data", "-", "-", "-"},
        {"empty file", "", "-", "-", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MidiTexts t = Read(c.file);
        EXPECT_EQ(Opt(t.name), c.name);
        EXPECT_EQ(Opt(t.copyright), c.copyright);
        EXPECT_EQ(Opt(t.text), c.text);
    }
}

TEST_F(MidiInfoReaderTest, LongTextsAreCutAfter2000Bytes) {
    const std::string exact(2000, 'a');
    const std::string longer = std::string(2000, 'b') + "tail";
    const MidiTexts t = Read(Smf(Meta(Name, exact) + Meta(Copyright, longer) + Meta(Text, "after")));
    ASSERT_TRUE(t.name && t.copyright && t.text);
    EXPECT_EQ(t.name->bytes, exact);
    EXPECT_FALSE(t.name->cut);
    EXPECT_EQ(t.copyright->bytes, std::string(2000, 'b') + "...");
    EXPECT_TRUE(t.copyright->cut);
    // The rest of the long text was skipped exactly: the next event is read.
    EXPECT_EQ(t.text->bytes, "after");
}

TEST_F(MidiInfoReaderTest, FallBacksForMissingAndEmptyTexts) {
    const InfoTexts none = Info(Smf(NoteOn));
    EXPECT_EQ(none.text1, Base);
    EXPECT_EQ(none.text2, "（Copyright情報なし）");
    EXPECT_EQ(none.text3, "（標準MIDIファイル）");

    const InfoTexts blank = Info(Smf(Meta(Name, "  ") + Meta(Copyright, " ") + Meta(Text, std::string(1, '\0'))));
    EXPECT_EQ(blank.text1, Base);
    EXPECT_EQ(blank.text2, "（Copyright情報なし）");
    EXPECT_EQ(blank.text3, "（標準MIDIファイル）");

    const InfoTexts missing = ReadMidiInfo((dir.Path() / "absent.mid").string(), Base);
    EXPECT_EQ(missing.text1, Base);
    EXPECT_EQ(missing.text2, "（Copyright情報なし）");

    const InfoTexts folder = ReadMidiInfo(dir.Path().string(), Base);
    EXPECT_EQ(folder.text1, Base);
}

TEST_F(MidiInfoReaderTest, JapaneseAndUnicodeTextsReadCorrectly) {
    // 日本の歌 / 著作権 山田 in code page 932.
    const InfoTexts sjis = Info(Smf(Meta(Name, "\x93\xFA\x96\x7B\x82\xCC\x89\xCC") +
                                    Meta(Copyright, "\x92\x98\x8D\xEC\x8C\xA0 \x8E\x52\x93\x63")));
    EXPECT_EQ(sjis.text1, "日本の歌");
    EXPECT_EQ(sjis.text2, "著作権 山田");
    EXPECT_EQ(sjis.text3, "（標準MIDIファイル）");

    const InfoTexts utf8 = Info(Smf(Meta(Name, "日本の歌") + Meta(Text, "Ünïcödé ♪")));
    EXPECT_EQ(utf8.text1, "日本の歌");
    EXPECT_EQ(utf8.text3, "Ünïcödé ♪");

    const InfoTexts western = Info(Smf(Meta(Name, "Caf\xE9") + Meta(Copyright, "\xA9 1998")));
    EXPECT_EQ(western.text1, "Café");
    EXPECT_EQ(western.text2, "© 1998");
}

// Cutting a complete file anywhere keeps the texts whose events lie wholly
// before the cut and never takes a text cut short.
TEST_F(MidiInfoReaderTest, TruncatedFilesKeepWhatCameBefore) {
    const std::string head = Header() + "MTrk" + U32BE(1000);
    const std::string name = Meta(Name, "Title");
    const std::string copyright = Meta(Copyright, std::string(300, 'c')); // two-byte length
    const std::string text = Meta(Text, "Text");
    const std::string whole = head + name + copyright + text;
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const MidiTexts t = Read(whole.substr(0, cut));
        EXPECT_EQ(t.name.has_value(), cut >= head.size() + name.size());
        EXPECT_EQ(t.copyright.has_value(), cut >= head.size() + name.size() + copyright.size());
        EXPECT_EQ(t.text.has_value(), cut == whole.size());
    }
}

TEST_F(MidiInfoReaderTest, LengthsPastTheEndAreBoundedByTheFile) {
    const Case cases[] = {
        {"huge header length", "MThd" + U32BE(0xFFFFFFF0) + Chunk("MTrk", Meta(Name, "N")), "-", "-", "-"},
        {"huge track length", Header() + "MTrk" + U32BE(0x7FFFFFFF) + Meta(Name, "N") + Meta(Text, "T"), "[N]", "-",
         "[T]"},
        {"huge meta length",
         Header() + "MTrk" + U32BE(0x7FFFFFFF) + Meta(Name, "N") +
             std::string("\x00\xFF\x02\xFF\xFF\xFF\x7F"
                         "abc",
                         10),
         "[N]", "-", "-"},
        {"length of many bytes",
         Header() + "MTrk" + U32BE(1000) + Meta(Copyright, "C") + std::string("\x00\xFF\x03", 3) +
             std::string(40, char(0xFF)) + "\x01" + "x",
         "-", "[C]", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MidiTexts t = Read(c.file);
        EXPECT_EQ(Opt(t.name), c.name);
        EXPECT_EQ(Opt(t.copyright), c.copyright);
        EXPECT_EQ(Opt(t.text), c.text);
    }
}

// A length made of nothing but continuation bytes stays 0 however long it
// runs; the end of the file must end it.
TEST_F(MidiInfoReaderTest, RunOfContinuationBytesEndsAtTheEndOfTheFile) {
    constexpr std::size_t Bytes = 8 * 1024 * 1024;
    const MidiTexts allContinuation = Read(std::string(Bytes, char(0x80)));
    EXPECT_FALSE(allContinuation.name || allContinuation.copyright || allContinuation.text);

    const std::string lead =
        Header() + "MTrk" + U32BE(0x7FFFFFFF) + Meta(Copyright, "C") + std::string("\x00\xFF\x03", 3);
    const MidiTexts run = Read(lead + std::string(Bytes, char(0x80)));
    EXPECT_EQ(Opt(run.copyright), "[C]");
    EXPECT_FALSE(run.name);
}

// Damaged and unusual files: where the three texts lead the first track they
// are read, otherwise the fallbacks stand.
TEST_F(MidiInfoReaderTest, DamagedAndUnusualFiles) {
    for (const auto& c : qorn::testing::MidiCases()) {
        SCOPED_TRACE(c.name);
        const InfoTexts info = Info(std::string(c.bytes.begin(), c.bytes.end()));
        if (c.hasTexts) {
            EXPECT_EQ(info.text1, qorn::testing::kCaseTitle);
            EXPECT_EQ(info.text2, qorn::testing::kCaseCopyright);
            EXPECT_EQ(info.text3, qorn::testing::kCaseText);
        } else {
            EXPECT_EQ(info.text1, Base);
            EXPECT_EQ(info.text2, NoCopyrightText);
            EXPECT_EQ(info.text3, StandardMidiFileText);
        }
    }
}

} // namespace
} // namespace qorn::fileinfo
