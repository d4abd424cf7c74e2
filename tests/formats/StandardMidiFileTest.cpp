#include "platform/formats/smf/StandardMidiFile.h"
#include "tests/formats/SequenceInvariants.h"
#include "tests/support/MidiWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>

namespace qorn::formats {
namespace {

using testing::Bytes;
using testing::Chunk;
using testing::Concat;
using testing::HeaderChunk;
using testing::MidiFile;
using testing::TrackWriter;

struct Loaded {
    bool ok = false;
    music::Sequence seq;
    std::string error;
};

Loaded Load(const Bytes& bytes) {
    Loaded l;
    l.ok = ReadStandardMidiFile(bytes, l.seq, &l.error);
    return l;
}

bool IsOn(const music::SeqEvent& e) {
    return (e.status & 0xF0) == 0x90 && e.data2 != 0;
}
bool IsOff(const music::SeqEvent& e) {
    return (e.status & 0xF0) == 0x80 || ((e.status & 0xF0) == 0x90 && e.data2 == 0);
}

// (tick, key) of every note-on, in order.
std::vector<std::pair<std::uint32_t, int>> NoteOns(const music::Sequence& seq) {
    std::vector<std::pair<std::uint32_t, int>> out;
    for (const auto& e : seq.events)
        if (IsOn(e)) out.emplace_back(e.tick, e.data1);
    return out;
}

// Compact "on60@0 off60@96" text of the note events, for readable failures.
std::string Notes(const music::Sequence& seq) {
    std::string s;
    for (const auto& e : seq.events) {
        if (!IsOn(e) && !IsOff(e)) continue;
        if (!s.empty()) s += ' ';
        s += (IsOn(e) ? "on" : "off") + std::to_string(e.data1) + "@" + std::to_string(e.tick);
    }
    return s;
}

TrackWriter Scale(std::initializer_list<int> keys, std::uint32_t step = 96) {
    TrackWriter t;
    for (int k : keys)
        t.noteOn(0, 0, k).noteOff(step, 0, k);
    return t;
}

// ---------------------------------------------------------------- probing

TEST(SmfProbeTest, RecognisesMidiAndRmidOnly) {
    const Bytes smf = MidiFile(0, 96, {Scale({60}).endOfTrack()});
    Bytes wave = testing::WrapInRmid(smf);
    std::copy_n("WAVE", 4, wave.begin() + 8);
    Bytes rmidWithoutMidi = testing::WrapInRmid(Bytes{'n', 'o', 'p', 'e', 0, 0, 0, 0});
    const struct {
        const char* name;
        Bytes bytes;
        bool expected;
    } cases[] = {
        {"plain file", smf, true},
        {"RMID wrapper", testing::WrapInRmid(smf), true},
        {"header only", HeaderChunk(1, 1, 96), true},
        {"empty", {}, false},
        {"text", {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'}, false},
        {"RIFF WAVE", wave, false},
        {"RMID whose data is not MIDI", rmidWithoutMidi, false},
        {"MThd cut to three letters", {'M', 'T', 'h'}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LooksLikeStandardMidiFile(c.bytes), c.expected) << c.name;
}

// ------------------------------------------------------ well-formed files

TEST(SmfReadTest, FormatZeroKeepsTimesAndDivision) {
    const auto l = Load(MidiFile(0, 480, {Scale({60, 62, 64}, 480).endOfTrack(240)}));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.seq.ticksPerQuarter, 480u);
    EXPECT_EQ(Notes(l.seq), "on60@0 off60@480 on62@480 off62@960 on64@960 off64@1440");
    EXPECT_EQ(l.seq.lengthTicks, 1680u);
    EXPECT_TRUE(l.seq.tempos.empty());
}

TEST(SmfReadTest, FormatOneMergesTracksInFileOrderAtEqualTicks) {
    TrackWriter a, b;
    a.noteOn(0, 0, 60).noteOn(96, 0, 61).noteOff(96, 0, 60).noteOff(0, 0, 61).endOfTrack();
    b.noteOn(0, 1, 70).noteOn(96, 1, 71).noteOff(300, 1, 70).noteOff(0, 1, 71).endOfTrack(4);
    const auto l = Load(MidiFile(1, 96, {a, b}));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(Notes(l.seq), "on60@0 on70@0 on61@96 on71@96 off60@192 off61@192 off70@396 off71@396");
    // The longer track decides the length.
    EXPECT_EQ(l.seq.lengthTicks, 400u);
}

TEST(SmfReadTest, ManyTracksMergeStablyAtEveryCount) {
    for (int count = 2; count <= 9; ++count) {
        Bytes file = HeaderChunk(1, count, 96);
        for (int t = 0; t < count; ++t) {
            TrackWriter w; // every track plays at the same ticks
            for (int n = 0; n < 4; ++n)
                w.noteOn(n == 0 ? 0 : 10, 0, t).noteOff(0, 0, t);
            file = Concat({file, Chunk("MTrk", w.endOfTrack().bytes())});
        }
        const auto l = Load(file);
        ASSERT_TRUE(l.ok) << l.error;
        for (std::size_t i = 1; i < l.seq.events.size(); ++i) {
            const auto& a = l.seq.events[i - 1];
            const auto& b = l.seq.events[i];
            ASSERT_LE(a.tick, b.tick) << count;
            // Same tick: file order, so track (key) numbers never go down.
            if (a.tick == b.tick) {
                ASSERT_LE(a.data1, b.data1) << count << " tracks at tick " << a.tick;
            }
        }
        EXPECT_EQ(l.seq.events.size(), std::size_t(2 * 4 * count));
    }
}

TEST(SmfReadTest, FormatTwoPlaysTracksOneAfterAnother) {
    TrackWriter a = Scale({60, 62}), b = Scale({70}), c;
    a.endOfTrack(8);
    b.tempo(0, 250000).endOfTrack();
    c.noteOn(10, 0, 80).noteOff(10, 0, 80); // no End-of-Track: ends with its last event
    const auto l = Load(MidiFile(2, 96, {a, b, c}));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(Notes(l.seq), "on60@0 off60@96 on62@96 off62@192 on70@200 off70@296 on80@306 off80@316");
    ASSERT_EQ(l.seq.tempos.size(), 1u);
    EXPECT_EQ(l.seq.tempos[0].tick, 296u);
    EXPECT_EQ(l.seq.lengthTicks, 316u);
}

TEST(SmfReadTest, TempoChangesFromAnyTrackFormOneSortedMap) {
    TrackWriter conductor, music;
    conductor.tempo(0, 500000).tempo(192, 400000).tempo(192, 300000).endOfTrack();
    music.noteOn(0, 0, 60).tempo(96, 450000).noteOff(0, 0, 60).tempo(96, 350000).endOfTrack();
    const auto l = Load(MidiFile(1, 96, {conductor, music}));
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> tempos;
    for (const auto& t : l.seq.tempos)
        tempos.emplace_back(t.tick, t.microsecondsPerQuarter);
    // At tick 192 both tracks change tempo: the later in the file wins.
    const decltype(tempos) expected = {{0, 500000}, {96, 450000}, {192, 350000}, {384, 300000}};
    EXPECT_EQ(tempos, expected);
}

TEST(SmfReadTest, SmpteDivisionCountsTicksPerSecond) {
    const struct {
        int framesPerSecond;
        int ticksPerFrame;
        std::uint32_t ticksPerQuarter;
        std::uint32_t microsecondsPerQuarter;
    } cases[] = {
        {24, 4, 96, 1'000'000},
        {25, 40, 1000, 1'000'000},
        {30, 80, 2400, 1'000'000},
        {29, 100, 3000, 1'001'000}, // 29.97 frames per second
    };
    for (const auto& c : cases) {
        const auto division =
            static_cast<std::uint16_t>(((256 - c.framesPerSecond) << 8) | static_cast<unsigned>(c.ticksPerFrame));
        TrackWriter t = Scale({60});
        t.tempo(0, 250000).endOfTrack(); // ignored: SMPTE timing has no tempo
        const auto l = Load(MidiFile(0, division, {t}));
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_EQ(l.seq.ticksPerQuarter, c.ticksPerQuarter) << c.framesPerSecond;
        ASSERT_EQ(l.seq.tempos.size(), 1u);
        EXPECT_EQ(l.seq.tempos[0].tick, 0u);
        EXPECT_EQ(l.seq.tempos[0].microsecondsPerQuarter, c.microsecondsPerQuarter) << c.framesPerSecond;
    }
}

TEST(SmfReadTest, RunningStatusSurvivesMetaAndSysexEvents) {
    TrackWriter t;
    t.noteOn(0, 2, 60)
        .event(96, {60, 0}) // running status note-off (velocity 0)
        .meta(0, 0x01, "text between")
        .event(0, {62, 90})
        .sysex(96, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .event(0, {62, 0})
        .event(0, {0xC3, 5})
        .event(0, {6}) // running program change: one data byte
        .endOfTrack();
    const auto l = Load(MidiFile(0, 96, {t}));
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.seq.events.size(), 6u);
    EXPECT_EQ(Notes(l.seq), "on60@0 off60@96 on62@96 off62@192");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(l.seq.events[i].status & 0x0F, 2);
    EXPECT_EQ(l.seq.events[5].status, 0xC3);
    EXPECT_EQ(l.seq.events[5].data1, 6);
}

TEST(SmfReadTest, SysexIsStoredWithItsStatusAndEscapesRaw) {
    TrackWriter t;
    t.sysex(0, 0xF0, {0x41, 0x10, 0xF7})
        .sysex(10, 0xF0, {0x43, 0x01}) // packet continues...
        .sysex(5, 0xF7, {0x02, 0xF7})  // ...and ends here
        .noteOn(0, 0, 60)
        .sysex(20, 0xF7, {0xF8}) // escape: a raw real-time byte
        .sysex(0, 0xF0, {})      // empty message still carries F0
        .endOfTrack();
    const auto l = Load(MidiFile(0, 96, {t}));
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<std::pair<std::uint32_t, Bytes>> got;
    for (const auto& s : l.seq.sysex) {
        ASSERT_LE(s.offset + s.length, l.seq.sysexBytes.size());
        got.emplace_back(s.tick,
                         Bytes(l.seq.sysexBytes.begin() + s.offset, l.seq.sysexBytes.begin() + s.offset + s.length));
    }
    const decltype(got) expected = {
        {0, {0xF0, 0x41, 0x10, 0xF7}},
        {10, {0xF0, 0x43, 0x01, 0x02, 0xF7}},
        {35, {0xF8}},
        {35, {0xF0}},
    };
    EXPECT_EQ(got, expected);
}

TEST(SmfReadTest, RmidWrapperGivesTheSamePiece) {
    const Bytes smf = MidiFile(1, 96, {Scale({60, 64}).endOfTrack(), Scale({48}).endOfTrack()});
    const auto plain = Load(smf);
    const auto wrapped = Load(testing::WrapInRmid(smf));
    ASSERT_TRUE(wrapped.ok) << wrapped.error;
    EXPECT_EQ(Notes(wrapped.seq), Notes(plain.seq));
    EXPECT_EQ(wrapped.seq.lengthTicks, plain.seq.lengthTicks);
}

// ------------------------------------------------------- note hygiene

TEST(SmfNoteOrderTest, ReleaseComesBeforeRestrikeAtTheSameTick) {
    TrackWriter t;
    // The file writes the new note-on before the old note's note-off.
    t.noteOn(0, 0, 60).noteOn(96, 0, 60).noteOff(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    const auto l = Load(MidiFile(0, 96, {t}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(Notes(l.seq), "on60@0 off60@96 on60@96 off60@192");
}

TEST(SmfNoteOrderTest, RestrikeAcrossTracksAndOtherEventsKeepTheirPlace) {
    TrackWriter a, b;
    a.noteOn(0, 0, 60).event(96, {0xB0, 64, 127}).noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    b.noteOn(0, 0, 67).noteOff(96, 0, 60).noteOff(0, 0, 67).endOfTrack();
    const auto l = Load(MidiFile(1, 96, {a, b}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(Notes(l.seq), "on60@0 on67@0 off60@96 on60@96 off67@96 off60@192");
    // The pedal stays first at tick 96.
    EXPECT_EQ(l.seq.events[2].status, 0xB0);
}

TEST(SmfNoteOrderTest, ZeroLengthNoteKeepsItsOrder) {
    TrackWriter t;
    t.noteOn(0, 9, 36).noteOff(0, 9, 36).noteOn(96, 9, 38).noteOff(0, 9, 38).endOfTrack(96);
    const auto l = Load(MidiFile(0, 96, {t}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(Notes(l.seq), "on36@0 off36@0 on38@96 off38@96");
}

TEST(SmfNoteOrderTest, NotesLeftSoundingAreReleasedAtTheEnd) {
    TrackWriter a, b;
    a.noteOn(0, 0, 60).noteOn(0, 3, 64).noteOff(96, 3, 64).endOfTrack(100);
    b.noteOn(10, 5, 72).endOfTrack(400);
    const auto l = Load(MidiFile(1, 96, {a, b}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.seq.lengthTicks, 410u);
    EXPECT_EQ(Notes(l.seq), "on60@0 on64@0 on72@10 off64@96 off60@410 off72@410");
}

// ---------------------------------------------------------- damaged files

struct DamageCase {
    const char* name;
    Bytes bytes;
    const char* notes; // expected note events
};

Bytes TrackChunk(const TrackWriter& t, std::optional<std::uint32_t> statedLength = {}) {
    return Chunk("MTrk", t.bytes(), statedLength);
}

std::vector<DamageCase> DamageCases() {
    const TrackWriter c = Scale({60}).endOfTrack();
    const TrackWriter d = Scale({62}).endOfTrack();
    const TrackWriter noEnd = Scale({64});
    TrackWriter undefined;
    undefined.noteOn(0, 0, 60)
        .raw({0, 0xF4, 0, 0xF5, 0, 0xF9, 0, 0xFD}) // undefined status bytes, no data
        .noteOff(96, 0, 60)
        .endOfTrack();
    TrackWriter strayData;
    strayData.raw({0, 0x40, 0x41}).noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    TrackWriter interrupted;
    interrupted.noteOn(0, 0, 60).raw({96, 0x80}).noteOn(0, 0, 62).noteOff(96, 0, 62).noteOff(0, 0, 60).endOfTrack();
    const Bytes cTrack = TrackChunk(c);
    const Bytes cutMidEvent(cTrack.begin(), cTrack.end() - 5); // inside the note-off
    return {
        {"length too small, events continue to End-of-Track",
         Concat({HeaderChunk(1, 2, 96), TrackChunk(c, 4), TrackChunk(d)}), "on60@0 on62@0 off60@96 off62@96"},
        {"length too large in the last track", Concat({HeaderChunk(1, 1, 96), TrackChunk(c, 1000)}), "on60@0 off60@96"},
        {"length too large before another track",
         Concat({HeaderChunk(1, 2, 96), TrackChunk(c, 0xFFFFFF), TrackChunk(d)}), "on60@0 on62@0 off60@96 off62@96"},
        {"missing End-of-Track with a true length", Concat({HeaderChunk(1, 2, 96), TrackChunk(noEnd), TrackChunk(d)}),
         "on64@0 on62@0 off64@96 off62@96"},
        {"missing End-of-Track and a wrong length",
         Concat({HeaderChunk(1, 2, 96), TrackChunk(noEnd, 2), TrackChunk(d)}), "on64@0 on62@0 off64@96 off62@96"},
        {"unknown chunk skipped",
         Concat({HeaderChunk(1, 2, 96), Chunk("XFIH", {1, 2, 3}), TrackChunk(c), TrackChunk(d)}),
         "on60@0 on62@0 off60@96 off62@96"},
        {"junk bytes between chunks", Concat({HeaderChunk(1, 2, 96), TrackChunk(c), Bytes{0, 0xFF, 7}, TrackChunk(d)}),
         "on60@0 on62@0 off60@96 off62@96"},
        {"header promises more tracks", Concat({HeaderChunk(1, 9, 96), TrackChunk(c)}), "on60@0 off60@96"},
        {"header has no tracks but one follows", Concat({HeaderChunk(0, 0, 96), TrackChunk(c)}), "on60@0 off60@96"},
        {"track cut mid-event", Concat({HeaderChunk(1, 1, 96), cutMidEvent}), "on60@0 off60@0"},
        {"undefined status bytes skipped", Concat({HeaderChunk(0, 1, 96), TrackChunk(undefined)}), "on60@0 off60@96"},
        {"data bytes before any status", Concat({HeaderChunk(0, 1, 96), TrackChunk(strayData)}), "on60@0 off60@96"},
        {"status byte inside a message ends the track", Concat({HeaderChunk(0, 1, 96), TrackChunk(interrupted)}),
         "on60@0 off60@0"},
        {"long header chunk", Concat({Chunk("MThd", {0, 1, 0, 1, 0, 96, 9, 9}), TrackChunk(c)}), "on60@0 off60@96"},
        {"trailing bytes after the last chunk", Concat({HeaderChunk(0, 1, 96), TrackChunk(c), Bytes{0x2A}}),
         "on60@0 off60@96"},
    };
}

TEST(SmfDamageTest, RecoversWhatTheFileHolds) {
    for (const auto& c : DamageCases()) {
        const auto l = Load(c.bytes);
        EXPECT_TRUE(l.ok) << c.name << ": " << l.error;
        EXPECT_EQ(Notes(l.seq), c.notes) << c.name;
    }
}

// A public test file: seconds of notes, then a delta of millions of ticks and
// an event whose data byte has its top bit set. The track ends with its last
// valid event (no hour of silence), the other track plays on, and the
// reader says what it dropped.
TEST(SmfDamageTest, ATrackTurningIntoGarbageEndsAtItsLastValidEvent) {
    TrackWriter garbage;
    garbage.noteOn(0, 0, 60).noteOff(96, 0, 60).noteOn(0, 0, 62).noteOff(96, 0, 62);
    garbage.event(6400000, {0x90, 0x3C, 0x9F}).noteOn(0, 0, 64).noteOff(96, 0, 64).endOfTrack();
    const Bytes file = MidiFile(1, 96, {garbage, Scale({40}).endOfTrack()});
    music::Sequence seq;
    std::string error;
    Diagnostics warnings;
    ASSERT_TRUE(ReadStandardMidiFile(file, seq, &error, &warnings)) << error;
    EXPECT_EQ(Notes(seq), "on60@0 on40@0 off60@96 on62@96 off40@96 off62@192");
    EXPECT_EQ(seq.lengthTicks, 192u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].message.find("0x80"), std::string::npos) << warnings[0].message;
}

TEST(SmfDamageTest, NotMidiFailsNamingChunkAndOffset) {
    const struct {
        const char* name;
        Bytes bytes;
        const char* errorPart;
    } cases[] = {
        {"empty", {}, "MThd"},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'}, "byte 0"},
        {"header cut short", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, "MThd"},
        {"header without tracks", HeaderChunk(1, 3, 96), "MTrk"},
        {"header and junk", Concat({HeaderChunk(1, 3, 96), Bytes(40, 0x55)}), "MTrk"},
        {"RMID without data", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'R', 'M', 'I', 'D'}, "data"},
    };
    for (const auto& c : cases) {
        music::Sequence seq;
        seq.lengthTicks = 77;
        std::string error;
        EXPECT_FALSE(ReadStandardMidiFile(c.bytes, seq, &error)) << c.name;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(seq.events.empty()) << c.name;
        EXPECT_EQ(seq.lengthTicks, 0u) << c.name;
    }
}

TEST(SmfDamageTest, HostileLengthsAndTimesStayBounded) {
    TrackWriter hugeMeta;
    hugeMeta.noteOn(0, 0, 60).raw({0, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'x'});
    TrackWriter hugeSysex;
    hugeSysex.noteOn(0, 0, 60).raw({0, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2});
    TrackWriter farAway; // each delta is the largest a file can hold
    for (int i = 0; i < 40; ++i)
        farAway.noteOn(0x0FFFFFFF, 0, 60).noteOff(0, 0, 60);
    for (const TrackWriter* t : {&hugeMeta, &hugeSysex, &farAway}) {
        const Bytes file = Concat({HeaderChunk(2, 3, 96), TrackChunk(*t, 0xFFFFFFFF), TrackChunk(*t)});
        const auto l = Load(file);
        ASSERT_TRUE(l.ok);
        EXPECT_LE(l.seq.events.capacity() * sizeof(music::SeqEvent), 8 * file.size() + 64 * 1024);
        EXPECT_LE(l.seq.sysexBytes.size(), file.size());
        for (std::size_t i = 1; i < l.seq.events.size(); ++i)
            EXPECT_LE(l.seq.events[i - 1].tick, l.seq.events[i].tick);
    }
}

// Every prefix of a real file loads or fails cleanly, never reads past the
// end (the sanitizer builds check that) and never invents events.
TEST(SmfDamageTest, EveryTruncationLoadsOrFailsCleanly) {
    TrackWriter t = Scale({60, 62, 64});
    t.sysex(0, 0xF0, {1, 2, 3, 0xF7}).tempo(0, 400000).meta(0, 3, "name").endOfTrack();
    const Bytes full = testing::WrapInRmid(MidiFile(1, 96, {t, Scale({40}).endOfTrack()}));
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        music::Sequence seq;
        if (ReadStandardMidiFile(prefix, seq)) {
            EXPECT_LE(NoteOns(seq).size(), 4u) << n;
            EXPECT_LE(seq.lengthTicks, 288u) << n;
        }
    }
}

// ------------------------------------------- damaged and unusual files

TEST(SmfCollectionTest, DamagedAndWellFormedFilesPlayWhatTheyHold) {
    for (const auto& c : testing::MidiCases()) {
        const auto l = Load(c.bytes);
        EXPECT_EQ(l.ok, c.loads) << c.name << ": " << l.error;
        if (!c.keys.empty()) {
            std::vector<int> keys;
            for (const auto& [tick, key] : NoteOns(l.seq))
                keys.push_back(key);
            EXPECT_EQ(keys, c.keys) << c.name;
        }
        // Loaded pieces are sorted, inside their length and end silent.
        if (l.ok) {
            EXPECT_EQ(testing::CheckSequenceInvariants(l.seq, c.bytes.size()), "") << c.name;
        }
    }
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Inputs that once broke the reader (kept from fuzzing) load or fail cleanly.
TEST(SmfRegressionTest, KeptInputsLoadOrFailCleanly) {
    const std::filesystem::path dir = QORN_REGRESSIONS_DIR;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".md") continue;
        const Bytes bytes = ReadFile(entry.path());
        music::Sequence seq;
        std::string error;
        if (ReadStandardMidiFile(bytes, seq, &error)) {
            EXPECT_TRUE(LooksLikeStandardMidiFile(bytes)) << entry.path();
            EXPECT_EQ(testing::CheckSequenceInvariants(seq, bytes.size()), "") << entry.path();
        } else {
            EXPECT_FALSE(error.empty()) << entry.path();
        }
    }
}

} // namespace
} // namespace qorn::formats
