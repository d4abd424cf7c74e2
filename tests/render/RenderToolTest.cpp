// qorn-render as a user runs it: audio files that hold exactly what the
// renderer played, in memory that does not grow with the piece, no half
// file after a failed write, MIDI exports that read back as the piece
// played, and batches that go on past a bad file.
#include "app/render/AudioFileWriter.h"
#include "app/render/OfflineSession.h"
#include "platform/composer/TemplateComposer.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/smf/StandardMidiFile.h"
#include "platform/synth/SynthPort.h"
#include "tests/support/ChordmapWriter.h"
#include "tests/support/DlsWriter.h"
#include "tests/support/MidiWriter.h"
#include "tests/support/OlderFormsWriter.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sys/mount.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace qorn::render_test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs a shell command line, stdout and stderr together.
Outcome Shell(const std::string& command) {
    Outcome r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), int(buffer.size()), pipe) != nullptr)
        r.out += buffer.data();
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Outcome Tool(const std::string& args) {
    return Shell(std::string(QORN_RENDER_TOOL) + " " + args);
}

// A scale of `notes` quarter notes at 120 bpm on two channels, at division 480.
Bytes Scale(int notes, int channel = 0) {
    testing::TrackWriter tempo;
    tempo.tempo(0, 500000).endOfTrack(480 * std::uint32_t(notes));
    testing::TrackWriter track;
    track.event(0, {std::uint8_t(0xC0 | channel), 19});
    for (int i = 0; i < notes; ++i)
        track.noteOn(i == 0 ? 0 : 120, channel, 60 + i % 12, 90).noteOff(360, channel, 60 + i % 12);
    track.endOfTrack();
    return testing::MidiFile(1, 480, {tempo, track});
}

struct Played {
    std::uint32_t tick;
    int channel, key, velocity;
    std::uint32_t length;
    bool operator==(const Played&) const = default;
    bool operator<(const Played& o) const {
        return std::tie(tick, channel, key, velocity, length) <
               std::tie(o.tick, o.channel, o.key, o.velocity, o.length);
    }
};

// Notes with their lengths (note-on to matching note-off), sorted.
std::vector<Played> NotesOf(const music::Sequence& s) {
    std::vector<Played> out;
    std::map<int, std::vector<std::size_t>> open;
    for (const auto& e : s.events) {
        if (e.group != 0) continue;
        const int kind = e.status & 0xF0, ch = e.status & 0x0F, slot = ch * 128 + e.data1;
        if (kind == 0x90 && e.data2 > 0) {
            open[slot].push_back(out.size());
            out.push_back({e.tick, ch, e.data1, e.data2, 0});
        } else if ((kind == 0x80 || kind == 0x90) && !open[slot].empty()) {
            Played& n = out[open[slot].front()];
            n.length = e.tick - n.tick;
            open[slot].erase(open[slot].begin());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

music::Sequence ReadMidi(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    music::Sequence s;
    std::string error;
    EXPECT_TRUE(formats::ReadStandardMidiFile(bytes, s, &error)) << error;
    return s;
}

struct Audio {
    int rate = 0, channels = 0;
    std::vector<short> samples;
};

Audio ReadAudio(const fs::path& path) {
    Audio a;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
    if (f == nullptr) return a;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
    EXPECT_EQ(sf_readf_short(f, a.samples.data(), info.frames), info.frames);
    sf_close(f);
    return a;
}

long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

class RenderTool : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qorn-render-tool-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                "-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    static std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

    fs::path dir_;
};

TEST_F(RenderTool, WavHoldsTheRenderersSamplesAndFlacAndOggReadBack) {
    const fs::path mid = write("scale.mid", Scale(6));
    std::string error;
    auto session = render::OfflineSession::Create(22050, false, &error);
    if (!session) GTEST_SKIP() << "no synthesizer: " << error;
    ASSERT_TRUE(session->load(mid.string(), &error)) << error;
    session->setVolumePosition(88);
    ASSERT_TRUE(session->play());
    const render::RenderedAudio rendered = render::RenderToEnd(*session, 10.0);
    session.reset();

    const std::string common = "-q --threads 1 --rate 22050 --no-effects " + q(mid) + " ";
    ASSERT_EQ(Tool(common + q(dir_ / "out.wav")).status, 0);
    ASSERT_EQ(Tool(common + q(dir_ / "out.flac")).status, 0);
    ASSERT_EQ(Tool(common + q(dir_ / "out.ogg")).status, 0);

    const Audio wav = ReadAudio(dir_ / "out.wav");
    ASSERT_EQ(wav.samples.size(), rendered.left.size() * 2);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < rendered.left.size(); ++i)
        differing += wav.samples[2 * i] != render::ToPcm16(rendered.left[i]) ||
                     wav.samples[2 * i + 1] != render::ToPcm16(rendered.right[i]);
    EXPECT_EQ(differing, 0u);

    // FLAC is lossless: the very samples of the WAV.
    const Audio flac = ReadAudio(dir_ / "out.flac");
    EXPECT_EQ(flac.rate, 22050);
    EXPECT_EQ(flac.channels, 2);
    EXPECT_TRUE(flac.samples == wav.samples);
    const Audio ogg = ReadAudio(dir_ / "out.ogg");
    EXPECT_EQ(ogg.rate, 22050);
    EXPECT_EQ(ogg.channels, 2);
    EXPECT_EQ(ogg.samples.size(), wav.samples.size());
}

// The renderer hands the synthesizer long runs between events, on two
// threads; the sound must be that of 64-frame blocks on one thread: every
// event on its block (notes off the beat, tempo changes, bends, controllers,
// a repeat's joint), the end found at the same block, effects on.
TEST_F(RenderTool, RunsOnTwoThreadsSoundAsBlocksOnOne) {
    testing::TrackWriter tempo;
    tempo.tempo(0, 500000).tempo(701, 380000).tempo(1300, 650000).endOfTrack(2000);
    testing::TrackWriter melody;
    melody.event(0, {0xC0, 48}).event(0, {0xB0, 64, 127});
    for (int i = 0; i < 16; ++i)
        melody.noteOn(i == 0 ? 37 : 61 + std::uint32_t(i * 17 % 90), 0, 52 + i * 5 % 24, 70 + i)
            .event(29, {0xE0, 0, std::uint8_t(32 + i * 6)})
            .event(3, {0xB0, 10, std::uint8_t(i * 8)})
            .noteOff(97 + std::uint32_t(i * 13 % 70), 0, 52 + i * 5 % 24);
    melody.event(5, {0xB0, 64, 0}).endOfTrack();
    testing::TrackWriter drums;
    for (int i = 0; i < 24; ++i)
        drums.noteOn(i == 0 ? 0 : 110, 9, 35 + i % 12, 100).noteOff(50, 9, 35 + i % 12);
    drums.endOfTrack();
    const fs::path mid = write("varied.mid", testing::MidiFile(1, 480, {tempo, melody, drums}));

    struct Rendered {
        std::vector<float> left, right;
        std::uint64_t musicFrames = 0;
    };
    auto renderWith = [&](const char* threads, bool runs) {
        setenv("QORN_SYNTH_THREADS", threads, 1);
        std::string error;
        auto session = render::OfflineSession::Create(22050, true, &error);
        unsetenv("QORN_SYNTH_THREADS");
        Rendered out;
        if (!session) return out;
        EXPECT_TRUE(session->load(mid.string(), &error)) << error;
        session->setRepeats(1);
        session->setVolumePosition(88);
        EXPECT_TRUE(session->play());
        if (runs) {
            const render::RenderedAudio audio = render::RenderToEnd(*session, 1.5);
            return Rendered{audio.left, audio.right, audio.musicFrames};
        }
        // As the audio callback does it, for as long as the runs went.
        const std::size_t frames = std::size_t(22050 * 12 / 64 * 64);
        out.left.resize(frames);
        out.right.resize(frames);
        for (std::size_t at = 0; at < frames; at += platform::SynthPort::kBlockFrames) {
            session->render(&out.left[at], &out.right[at], platform::SynthPort::kBlockFrames);
            if (out.musicFrames == 0 && !session->isPlaying()) out.musicFrames = at + platform::SynthPort::kBlockFrames;
        }
        return out;
    };
    const Rendered runs = renderWith("2", true);
    if (runs.left.empty()) GTEST_SKIP() << "no synthesizer";
    const Rendered blocks = renderWith("1", false);
    ASSERT_GT(runs.musicFrames, std::uint64_t(22050 * 7));
    EXPECT_EQ(runs.musicFrames, blocks.musicFrames);
    ASSERT_LE(runs.left.size(), blocks.left.size());
    float worst = 0.0f, loudest = 0.0f;
    for (std::size_t i = 0; i < runs.left.size(); ++i) {
        worst = std::max({worst, std::fabs(runs.left[i] - blocks.left[i]), std::fabs(runs.right[i] - blocks.right[i])});
        loudest = std::max(loudest, std::fabs(blocks.left[i]));
    }
    EXPECT_GT(loudest, 0.05f);
    // Threads may sum voices in another order: a rounding, not a shifted event.
    EXPECT_LT(worst, 1e-5f);
}

// Six minutes at 11025 Hz would hold 40 MB in memory were the piece kept:
// streamed, the peak after the first minute hardly moves.
TEST_F(RenderTool, MemoryStaysFlatWhileALongPieceRenders) {
    const fs::path mid = write("long.mid", Scale(720));
    std::string error;
    auto session = render::OfflineSession::Create(11025, false, &error);
    if (!session) GTEST_SKIP() << "no synthesizer: " << error;
    ASSERT_TRUE(session->load(mid.string(), &error)) << error;
    auto writer = render::AudioFileWriter::Open((dir_ / "long.wav").string(), render::Container::Wav,
                                                render::SampleFormat::Pcm16, 11025, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(session->play());
    std::uint64_t frames = 0;
    long afterFirstMinute = 0;
    const auto streamed = render::RenderStream(*session, 1.0, 3600.0, [&](const float* l, const float* r, int n) {
        frames += std::uint64_t(n);
        if (afterFirstMinute == 0 && frames >= 60 * 11025) afterFirstMinute = PeakRssKiB();
        return writer->write(l, r, n);
    });
    ASSERT_TRUE(writer->finish()) << writer->error();
    EXPECT_GT(streamed.musicFrames, std::uint64_t(359 * 11025));
    EXPECT_LT(PeakRssKiB() - afterFirstMinute, 4 * 1024);
    EXPECT_EQ(ReadAudio(dir_ / "long.wav").samples.size(), streamed.frames * 2);
}

// A disk that fills up: a tiny tmpfs where it can be mounted, else a file
// size limit; either way the write fails part way.
TEST_F(RenderTool, AFailedWriteLeavesNoFileAndFails) {
    const fs::path mid = write("scale.mid", Scale(8));
    const fs::path full = dir_ / "full";
    fs::create_directories(full);
    const bool mounted = ::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") == 0;
    const std::string limit = mounted ? "" : "trap '' XFSZ; ulimit -f 64; ";
    for (const char* name : {"out.wav", "out.flac", "out.mid"}) {
        SCOPED_TRACE(name);
        // The MIDI export is small: only a disk with no room at all fails it.
        if (std::string(name) == "out.mid" && mounted)
            std::ofstream(full / "filler", std::ios::binary) << std::string(64 * 1024, 'x');
        if (std::string(name) == "out.mid" && !mounted) continue;
        const Outcome r =
            Shell(limit + "exec " + QORN_RENDER_TOOL + " -q --rate 44100 " + q(mid) + " " + q(full / name));
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("qorn-render: cannot write"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(full / name));
        for (const auto& entry : fs::directory_iterator(full))
            EXPECT_EQ(entry.path().filename(), "filler") << "left behind: " << entry.path();
    }
    if (mounted) ::umount(full.c_str());
}

// A sequence-based segment: its notes, their lengths and the band's programs
// come back from the MIDI file as the segment holds them, those of a DLS
// instrument too, with a warning that the instrument itself stays behind,
// and a second drum kit on the channel it plays on, with a warning that it
// is not the drum channel.
TEST_F(RenderTool, SegmentExportReadsBackAsTheSegmentPlays) {
    testseg::SegmentSpec piece;
    piece.header.length = 4 * 768;
    piece.tempos = {{0, 100.0}, {2 * 768, 140.0}};
    for (int i = 0; i < 8; ++i)
        piece.notes.push_back({i * 384, 300 + i * 10, std::uint32_t(i % 2 == 0 ? 0 : 3), std::uint8_t(60 + i)});
    // Channel 5 plays an instrument of a DLS collection beside the segment.
    write("tones.dls", testdls::BuildDls(testdls::TestCollection()));
    const testseg::Reference tones{testseg::kCollectionClass, std::nullopt, "", "tones.dls"};
    piece.bands = {{0,
                    {{0, 24, 0x1 | 0x2},
                     {3, 0x010000 | 41, 0x1 | 0x2},
                     {5, 0, 0x1 | 0x2, 64, 100, 0, 2, tones},
                     {9, 0x80000000u, 0x1},
                     {40, 0x80000000u | 25, 0x1}}}};
    piece.notes.push_back({0, 300, 9, 38});
    piece.notes.push_back({384, 300, 40, 36});
    const fs::path sgt = write("song.sgt", testseg::BuildSegment(piece));
    const Outcome r = Tool(q(sgt) + " " + q(dir_ / "song.mid"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("warning: " + sgt.string() + ": the piece plays DLS instruments"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": the piece plays drum kits on channels other than 10"), std::string::npos) << r.out;

    std::string error;
    auto session = render::OfflineSession::CreateWithoutSound(&error);
    ASSERT_TRUE(session && session->load(sgt.string(), &error)) << error;
    const auto own = session->playable().sequence;
    const music::Sequence back = ReadMidi(dir_ / "song.mid");
    EXPECT_EQ(back.ticksPerQuarter, 768u);
    EXPECT_EQ(NotesOf(back), NotesOf(*own));
    EXPECT_EQ(NotesOf(back).size(), 10u);
    ASSERT_EQ(back.tempos.size(), own->tempos.size());
    for (std::size_t i = 0; i < back.tempos.size(); ++i)
        EXPECT_EQ(back.tempos[i].tick, own->tempos[i].tick);
    std::map<int, std::tuple<int, int, int>> programs; // channel: bank MSB, LSB, program
    for (const auto& e : back.events) {
        const int ch = e.status & 0x0F;
        if ((e.status & 0xF0) == 0xB0 && e.data1 == 0) std::get<0>(programs[ch]) = e.data2;
        if ((e.status & 0xF0) == 0xB0 && e.data1 == 32) std::get<1>(programs[ch]) = e.data2;
        if ((e.status & 0xF0) == 0xC0) std::get<2>(programs[ch]) = e.data1;
    }
    ASSERT_EQ(own->patches.size(), 5u);
    for (const auto& p : own->patches)
        EXPECT_EQ(programs[p.channel], std::make_tuple(int(p.bankMsb), int(p.bankLsb), int(p.program)));
}

// A MIDI file exported again keeps every note at its time, at its own
// division; repeats are unrolled as they play.
TEST_F(RenderTool, MidiFileExportKeepsEveryNote) {
    testing::TrackWriter tempo;
    tempo.tempo(0, 600000).tempo(960, 400000).endOfTrack();
    testing::TrackWriter a, b;
    for (int i = 0; i < 40; ++i) {
        a.noteOn(i == 0 ? 0 : 60, 0, 40 + i, 30 + i).noteOff(180, 0, 40 + i);
        b.noteOn(i == 0 ? 17 : 0, 9, 36 + i % 10, 100)
            .noteOn(10, 5, 70 + i % 5, 80)
            .noteOff(230, 9, 36 + i % 10)
            .noteOff(0, 5, 70 + i % 5);
    }
    a.endOfTrack();
    b.endOfTrack();
    const fs::path mid = write("in.mid", testing::MidiFile(1, 480, {tempo, a, b}));
    ASSERT_EQ(Tool("-q " + q(mid) + " " + q(dir_ / "once.mid")).status, 0);
    ASSERT_EQ(Tool("-q --repeats 1 " + q(mid) + " " + q(dir_ / "twice.mid")).status, 0);

    const std::string missing = (dir_ / "none").string();
    auto original = ReadMidi(mid);
    const music::Sequence once = ReadMidi(dir_ / "once.mid");
    EXPECT_EQ(once.ticksPerQuarter, 480u);
    EXPECT_EQ(NotesOf(once), NotesOf(original));
    EXPECT_EQ(NotesOf(once).size(), 120u);
    const music::Sequence twice = ReadMidi(dir_ / "twice.mid");
    std::vector<Played> expected = NotesOf(original);
    for (Played n : NotesOf(original)) {
        n.tick += original.lengthTicks;
        expected.push_back(n);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NotesOf(twice), expected);
}

// What a composed segment plays with --seed 7 reaches the synthesizer at
// the onsets and pitches the export with --seed 7 holds.
struct Onset {
    double seconds;
    int key;
};

void RecordNoteOn(void* context, std::uint64_t frame, std::uint8_t status, std::uint8_t key) {
    if ((status & 0xF0) == 0x90)
        static_cast<std::vector<std::pair<std::uint64_t, int>>*>(context)->emplace_back(frame, key);
}

TEST_F(RenderTool, ComposedSegmentExportWithASeedPlaysTheRenderedNotes) {
    using namespace styles_test;
    // Two measures whose second repeats; each note picks one of two variations.
    st::Style style;
    style.tempo = 120.0;
    style.parts = {Part(1, st::playmode::kNormalChord,
                        {Note(0, 0x5000, 1), Note(0, 0x5200, 2), Note(8, 0x5100, 1), Note(8, 0x5400, 2)}, 1, 2)};
    style.patterns = {PatternOf({Ref(1, 0)})};
    Out h;
    h.u32(0).u32(2 * kMeasure).u32(0).u32(kMeasure).u32(2 * kMeasure).u32(0);
    const Bytes song =
        Riff("DMSG", {Chunk("segh", h.b),
                      List("trkl", {Track(0xD2AC288B, nullptr, "cord", ChordTrackList(TwoChords())),
                                    Track(0xD2AC288D, nullptr, "sttr", StyleTrackList(0, "", StyleForm(style)))})});
    const fs::path sgt = write("styled.sgt", song);
    const Outcome r = Tool("-q --seed 7 --repeats 4 " + q(sgt) + " " + q(dir_ / "styled.mid"));
    ASSERT_EQ(r.status, 0) << r.out;

    std::string error;
    auto session = render::OfflineSession::Create(22050, false, &error);
    if (!session) GTEST_SKIP() << "no synthesizer: " << error;
    ASSERT_TRUE(session->load(sgt.string(), &error)) << error;
    session->setRepeats(4);
    session->setCompositionSeed(7);
    std::vector<std::pair<std::uint64_t, int>> heard;
    heard.reserve(1024);
    session->port().setEventProbe(&RecordNoteOn, &heard);
    const std::uint64_t start = session->port().framesRendered();
    ASSERT_TRUE(session->play());
    render::RenderToEnd(*session, 0.0);
    session->port().setEventProbe(nullptr, nullptr);

    const music::Sequence exported = ReadMidi(dir_ / "styled.mid");
    std::vector<Onset> written;
    for (const Played& n : NotesOf(exported))
        written.push_back({n.tick * 0.5 / 768, n.key}); // 120 bpm throughout
    ASSERT_EQ(written.size(), heard.size());
    ASSERT_GE(written.size(), 10u);
    std::set<int> keys;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        EXPECT_EQ(heard[i].second, written[i].key);
        EXPECT_NEAR(double(heard[i].first - start) / 22050.0, written[i].seconds, 64.0 / 22050.0 + 1e-3);
        keys.insert(heard[i].second);
    }
    // The variations were chosen, not one fixed line.
    EXPECT_GT(keys.size(), 2u);
}

// A template composed with several chord changes, exported with its loop
// region repeated: every chord change of every pass is a marker "ROOT NAME",
// and a repeat that starts inside a chord names it.
TEST_F(RenderTool, TemplateExportMarksEveryChordChangeInEveryPass) {
    using namespace styles_test;
    constexpr std::int32_t kBar = std::int32_t(kMeasure);
    st::Style style;
    style.parts = {Part(1, st::playmode::kNormalChord, {Note(0, 0x4000)})};
    style.patterns = {PatternOf({Ref(1, 0)})};
    write("song2.sty", StyleForm(style));
    const Bytes map = BuildChordmap(HomeAndAwayChordmap());
    write("son.cdm", map);
    TemplateSketch sketch;
    sketch.length = 8 * kBar;
    sketch.loopStart = 4 * kBar + 768;
    sketch.loopEnd = 8 * kBar;
    sketch.signposts = {{0, 0, cm::signpost::kA}, {3 * kBar, 3, cm::signpost::kB}, {6 * kBar, 6, cm::signpost::kA}};
    const fs::path tpl = write("songa.tpl", BuildTemplate(sketch));
    const Outcome r = Tool("--seed 3 --repeats 2 " + q(tpl) + " " + q(dir_ / "song.mid"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("songa.tpl composed with song2.sty and son.cdm (activity 1, seed 3)"), std::string::npos)
        << r.out;

    // The chords that seed composes.
    cm::Chordmap read;
    formats::Diagnostics warnings;
    ASSERT_TRUE(cm::ReadChordmap(map, read, warnings, nullptr));
    composer::ChordComposeRequest request;
    request.chordmap = &read;
    request.signposts = sketch.signposts;
    request.length = sketch.length;
    request.seed = 3;
    const auto chords = composer::ComposeChords(request).track.chords;
    ASSERT_GE(chords.size(), 5u);
    static constexpr const char* kRoots[] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    auto text = [](const st::Chord& c) { return std::string(kRoots[c.subChords[0].chordRoot % 12]) + " " + c.name; };
    const st::Chord* atLoop = nullptr;
    for (const auto& c : chords)
        if (c.time <= sketch.loopStart) atLoop = &c;
    ASSERT_NE(atLoop, nullptr);
    // Pass 0 plays it all, each further pass the loop region after the last.
    const std::uint32_t loop = std::uint32_t(sketch.loopEnd - sketch.loopStart);
    std::vector<std::pair<std::uint32_t, std::string>> expected;
    for (std::uint32_t pass = 0; pass < 3; ++pass) {
        if (atLoop->time < sketch.loopStart) expected.push_back({sketch.loopStart + pass * loop, text(*atLoop)});
        for (const auto& c : chords)
            if (pass == 0 || c.time >= sketch.loopStart) expected.push_back({c.time + pass * loop, text(c)});
    }
    std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    const music::Sequence back = ReadMidi(dir_ / "song.mid");
    std::vector<std::pair<std::uint32_t, std::string>> markers;
    for (const auto& m : back.markers)
        markers.push_back({m.tick, m.text});
    EXPECT_EQ(markers, expected);
    EXPECT_EQ(markers.front().second, "C M");
}

// A style of the older form opened alone, beside an older chordmap under
// another file name that the style names by the 8.3 name the chordmap stores
// (its default reference is missing, as in real styles): the markers are the
// chordmap's signpost chords and the bass plays their roots. The chordmap
// alone and a DirectX 6 section say what they are.
TEST_F(RenderTool, AnOlderStyleAloneComposesWithTheOlderChordmapItNames) {
    using namespace styles_test;
    AasyStyle style;
    style.chordmaps = {{"Elsewhere", "GONE", true}, {"My Tonal", "TONAL", false}};
    style.patterns = {AasyPattern{}};
    style.patterns[0].notes = {{0, 4, 36, 0x3000, 96}}; // the bass on the chord's root
    const fs::path sty = write("older.sty", AasyStyleFile(style));
    RepsChordmap map;
    map.name = "Home keys";
    map.stem = "TONAL";
    map.signposts = {{{0x91, "M", 2}, {}, {}, cm::signpost::kA | cm::signpost::k1, 0},
                     {{0x91, "M", 7}, {}, {}, cm::signpost::kB, 0}};
    const fs::path cdm = write("chords.cdm", RepsChordmapFile(map));

    const Outcome r = Tool("--seed 5 --shape level --measures 8 " + q(sty) + " " + q(dir_ / "older.mid"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("older.sty composed as a 'level' of 8 measures with chords.cdm"), std::string::npos) << r.out;
    const music::Sequence back = ReadMidi(dir_ / "older.mid");
    std::vector<std::pair<std::uint32_t, std::string>> markers;
    for (const auto& m : back.markers)
        markers.push_back({m.tick, m.text});
    // Signposts A, B, and the A/1 the piece comes home on in its last measure.
    EXPECT_EQ(markers, (decltype(markers){{0, "D M"}, {4 * kMeasure, "G M"}, {7 * kMeasure, "D M"}}));
    std::vector<int> roots;
    for (const Played& n : NotesOf(back))
        if (n.channel == 4) roots.push_back(n.key % 12);
    EXPECT_EQ(roots, (std::vector<int>{2, 2, 2, 2, 7, 7, 7, 2}));

    const fs::path section = write("section.sgt", Riff("AASE", {Chunk("sect", Bytes(16))}));
    for (const auto& [file, what] : {std::pair{cdm, "a chordmap, not a piece: hear it with a style"},
                                     std::pair{section, "a DirectX 6 section (RIFF 'AASE')"}}) {
        const Outcome refused = Tool(q(file) + " " + q(dir_ / "out.wav"));
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.out.find(what), std::string::npos) << refused.out;
    }
}

// A piece that repeats past the render's limit: one line says so, and the
// audio and the MIDI export both stop at the limit, a note cut there.
TEST_F(RenderTool, ACutRenderSaysSoAndItsExportStopsAtTheSamePoint) {
    testseg::SegmentSpec piece;
    piece.header.length = 3 * 768; // a second and a half at 120 bpm, played 101 times
    piece.header.repeats = 100;
    piece.notes = {{0, 2000, 0, 60}};
    const fs::path sgt = write("long.sgt", testseg::BuildSegment(piece));
    const std::string tool = std::string("QORN_RENDER_MAX_SECONDS=5 ") + QORN_RENDER_TOOL + " --rate 11025 ";
    for (const char* output : {"long.wav", "long.mid"}) {
        const Outcome r = Shell(tool + q(sgt) + " " + q(dir_ / output));
        EXPECT_EQ(r.status, 0) << r.out;
        const std::string line = "qorn-render: warning: " + sgt.string() + ": cut at 5 s (it repeats 100 times)\n";
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    }
    EXPECT_EQ(ReadAudio(dir_ / "long.wav").samples.size(), 5u * 11025 * 2);
    const music::Sequence back = ReadMidi(dir_ / "long.mid");
    const std::vector<Played> notes = NotesOf(back);
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes.back().tick + notes.back().length, 5u * 1536); // cut in the fourth pass
}

// A wave file plays as a segment of that one wave (here in Microsoft
// ADPCM); a segment that holds nothing that sounds here, and a script,
// say what they hold.
TEST_F(RenderTool, WaveFilesPlayAndFilesWithNothingToSoundSayWhatTheyHold) {
    std::vector<float> tone(2 * 11025);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.3f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 441.0 * double(i / 2) / 22050.0));
    const fs::path wav = write("tone.wav", testtracks::AdpcmWaveFile(tone, 22050, 2));
    const Outcome played = Tool("-q --rate 22050 --no-effects " + q(wav) + " " + q(dir_ / "out.wav"));
    ASSERT_EQ(played.status, 0) << played.out;
    const Audio out = ReadAudio(dir_ / "out.wav");
    ASSERT_GE(out.samples.size(), tone.size());
    double error = 0, signal = 0;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        const double heard = out.samples[i] / 32768.0;
        error += (heard - tone[i]) * (heard - tone[i]);
        signal += double(tone[i]) * tone[i];
    }
    EXPECT_LT(error, 0.01 * signal);

    const fs::path sgt =
        write("effects.sgt", testtracks::WithTracks(testseg::BuildSegment({}), testtracks::QuietTracks()));
    const Outcome silent = Tool(q(sgt) + " " + q(dir_ / "effects.wav"));
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.out.find("nothing in " + sgt.string() +
                              " can sound: it holds no note or wave, only parameter control (effect "
                              "settings) and a script track, which do not sound here"),
              std::string::npos)
        << silent.out;

    auto named = [](const std::string& file) {
        testseg::Embedded e{{}, testseg::Reference{testtracks::kSegmentClass, std::nullopt, "", file}};
        if (file.ends_with(".sgt")) e.classId = testtracks::kSegmentClass;
        return e;
    };
    const fs::path spt =
        write("game.spt", testseg::BuildScript({named("Intro.sgt"), named("Groove.sty"), named("Song.sgt")}));
    const Outcome script = Tool(q(spt) + " " + q(dir_ / "game.wav"));
    EXPECT_EQ(script.status, 1);
    EXPECT_NE(script.out.find("cannot load " + spt.string() +
                              ": a script, not a piece: it holds the segments Intro.sgt, Song.sgt; load one of "
                              "them by name (--segment NAME renders one, -o DIR renders them all)\n"),
              std::string::npos)
        << script.out;
}

// One segment whose style is missing (nothing of it can sound) and one file
// that is no music among good ones.
// A DLS collection shaped like the gm.dls DirectMusic plays with, given as
// the General MIDI set: plain program changes reach its melodic programs,
// channel 10 its drum kit, and a GS variation bank it lacks plays the
// program's capital tone at bank 0. Each note is judged by its pitch and
// by whether it is the sine or the square of the collection.
TEST_F(RenderTool, ADlsGeneralMidiSetPlaysProgramsDrumsAndFallsBackToBankZero) {
    const fs::path set = write("gm.dls", testdls::BuildDls(testdls::TestCollection()));
    struct Note {
        const char* what;
        int channel, bankMsb, program, key;
        double hz;
        bool square;
    };
    const Note notes[] = {
        {"program 1: the square", 0, 0, 1, 69, 440, true},
        {"bank 8 lacks program 0: bank 0's sine", 1, 8, 0, 69, 440, false},
        {"bank 5 holds its own program 0: a square", 2, 5, 0, 69, 440, true},
        {"drum key 36: an 880 Hz sine", 9, 0, 0, 36, 880, false},
        {"drum key 38: a 220 Hz square", 9, 0, 0, 38, 220, true},
    };
    testing::TrackWriter tempo;
    tempo.tempo(0, 500000).endOfTrack();
    testing::TrackWriter track;
    for (const Note& n : notes) {
        const auto ch = static_cast<std::uint8_t>(n.channel);
        track.event(0, {std::uint8_t(0xB0 | ch), 0, std::uint8_t(n.bankMsb)})
            .event(0, {std::uint8_t(0xC0 | ch), std::uint8_t(n.program)});
        track.noteOn(0, n.channel, n.key, 110).noteOff(480, n.channel, n.key);
        track.event(480, {0xFF, 0x01, 0x00}); // half a second between notes
    }
    track.endOfTrack();
    const fs::path song = write("gm.mid", testing::MidiFile(1, 480, {tempo, track}));
    const Outcome run = Tool("--soundfont " + q(set) + " --no-effects -q " + q(song) + " " + q(dir_ / "gm.wav"));
    ASSERT_EQ(run.status, 0) << run.out;
    const Audio a = ReadAudio(dir_ / "gm.wav");
    auto power = [&](double from, double hz) { // Goertzel over a tenth of a second of the mix
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / a.rate);
        double s1 = 0, s2 = 0;
        for (auto i = std::size_t(from * a.rate); i < std::size_t((from + 0.1) * a.rate); ++i) {
            const double s0 = a.samples[2 * i] + a.samples[2 * i + 1] + c * s1 - s2;
            s2 = s1, s1 = s0;
        }
        return s1 * s1 + s2 * s2 - c * s1 * s2;
    };
    for (std::size_t i = 0; i < std::size(notes); ++i) {
        const Note& n = notes[i];
        SCOPED_TRACE(n.what);
        const double at = 1.0 * double(i) + 0.2;
        const double fundamental = power(at, n.hz);
        EXPECT_GT(fundamental, 100.0 * power(at, n.hz * 1.5)) << "pitch";
        EXPECT_GT(fundamental, 100.0 * power(at + 0.5, n.hz)) << "it sounds, and stops";
        if (n.square) {
            EXPECT_GT(power(at, 3 * n.hz), 0.03 * fundamental);
        } else {
            EXPECT_LT(power(at, 3 * n.hz), 0.001 * fundamental);
        }
    }
}

// Notes that all fall on instruments whose waves cannot sound make no
// render: the waves are named, then the silence, and no file is left.
TEST_F(RenderTool, NotesThatAllFallOnSilentInstrumentsFail) {
    testdls::CollectionSpec plan = testdls::TestCollection();
    for (auto& wave : plan.waves)
        wave.encoded = testdls::WaveSpec::Encoded{0x0160, {}, Bytes(64, 0x11), 44000, {}};
    const fs::path set = write("silent.dls", testdls::BuildDls(plan));
    testing::TrackWriter track;
    track.event(0, {0xC0, 0});
    for (int i = 0; i < 3; ++i)
        track.noteOn(0, 0, 60 + i, 90).noteOff(240, 0, 60 + i);
    track.endOfTrack();
    const fs::path song = write("song.mid", testing::MidiFile(0, 480, {track}));
    const Outcome run = Tool("--soundfont " + q(set) + " -q " + q(song) + " " + q(dir_ / "song.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("collection 'silent.dls': 4 waves in a format this player cannot decode (tag 0x0160) "
                           "are silent"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("nothing in " + song.string() +
                           " can sound: each of its 3 notes falls on an instrument that is silent here"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(dir_ / "song.wav"));
}

// The segments of a script: one carried in it, a wave it lists as a segment,
// one beside it that it only names and one named but nowhere. Each renders
// by its name, -o renders every one to a file of its name, and what cannot be
// found is said; the MIDI export carries the segment's name.
TEST_F(RenderTool, SegmentsOfAScriptRenderByNameAndAllWithAFolder) {
    testseg::SegmentSpec plan;
    plan.header.length = 768;
    plan.notes = {{0, 600, 0, 69, 100}};
    const Bytes intro = testseg::BuildSegment(plan);
    write("Song.sgt", intro);
    const Bytes cheer = testtracks::WaveFile(std::vector<float>(2205, 0.25f), 22050, 1);
    auto named = [](const std::string& file) {
        return testseg::Embedded{
            {}, testtracks::FileRef(file, testtracks::kSegmentClass), "", testtracks::kSegmentClass};
    };
    const fs::path spt =
        write("game.spt", testseg::BuildScript({testtracks::Held(intro, "Intro.sgt", testtracks::kSegmentClass),
                                                testtracks::Held(cheer, "Cheer", testtracks::kSegmentClass),
                                                named("Song.sgt"), named("Gone.sgt")}));
    const Outcome one = Tool("-q --segment intro " + q(spt) + " " + q(dir_ / "intro.mid"));
    EXPECT_EQ(one.status, 0) << one.out;
    std::ifstream mid(dir_ / "intro.mid", std::ios::binary);
    const Bytes exported((std::istreambuf_iterator<char>(mid)), std::istreambuf_iterator<char>());
    const Bytes sequenceName = {0xFF, 0x03, 0x05, 'I', 'n', 't', 'r', 'o'};
    EXPECT_NE(std::search(exported.begin(), exported.end(), sequenceName.begin(), sequenceName.end()), exported.end())
        << "the sequence name";
    EXPECT_EQ(NotesOf(ReadMidi(dir_ / "intro.mid")).size(), 1u);

    const Outcome unknown = Tool("-q --segment Outro " + q(spt) + " " + q(dir_ / "x.wav"));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("cannot load " + spt.string() +
                               ": Outro: it holds no segment 'Outro' (only Intro.sgt, Cheer, Song.sgt, Gone.sgt)"),
              std::string::npos)
        << unknown.out;

    const fs::path out = dir_ / "all";
    const Outcome all = Tool("-o " + q(out) + " " + q(spt));
    EXPECT_EQ(all.status, 1);
    EXPECT_NE(all.out.find("3 rendered, 1 failed\n"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find(spt.string() + ": Gone.sgt: segment Gone.sgt is only named in game.spt, and there is no "
                                          "file Gone.sgt beside it"),
              std::string::npos)
        << all.out;
    for (const char* name : {"Intro.wav", "Cheer.wav", "Song.wav"}) {
        const Audio a = ReadAudio(out / name);
        EXPECT_GT(*std::max_element(a.samples.begin(), a.samples.end()), 1000) << name;
    }
    EXPECT_FALSE(fs::exists(out / "Gone.wav"));
}

// A General MIDI set that cannot be used says why: damaged, missing, or no
// SoundFont at all.
TEST_F(RenderTool, AGeneralMidiSetThatCannotBeUsedSaysWhy) {
    const Bytes whole = testdls::BuildDls(testdls::TestCollection());
    const fs::path cut = write("cut.dls", Bytes(whole.begin(), whole.begin() + 60));
    const fs::path text = write("notes.sf2", Bytes(400, 'x'));
    const fs::path song = write("song.mid", Scale(2));
    const std::pair<fs::path, std::string> cases[] = {
        {cut, "the General MIDI set 'cut.dls' is damaged: "},
        {dir_ / "gone.sf2", "the General MIDI set " + (dir_ / "gone.sf2").string() + " does not exist"},
        {text, "the General MIDI set " + text.string() + " is neither a SoundFont (.sf2) nor a DLS collection\n"},
    };
    for (const auto& [set, why] : cases) {
        const Outcome run = Tool("--soundfont " + q(set) + " -q " + q(song) + " " + q(dir_ / "song.wav"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out.find("qorn-render: cannot create the synthesizer: " + why), 0u) << run.out;
    }
}

TEST_F(RenderTool, BatchGoesOnPastBadFilesAndCountsThem) {
    using namespace styles_test;
    const fs::path a = write("a.mid", Scale(3));
    const fs::path b = write("b.mid", Scale(4, 2));
    const fs::path junk = write("junk.mid", Bytes(100, 0x55));
    const fs::path lost =
        write("lost.sgt", StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "Missing.sty")));
    const Outcome alone = Tool(q(lost) + " " + q(dir_ / "lost.wav"));
    EXPECT_NE(alone.status, 0);
    EXPECT_NE(alone.out.find("nothing in"), std::string::npos) << alone.out;

    const fs::path out = dir_ / "out";
    const Outcome r = Tool("-j 2 --rate 11025 --no-effects --format flac -o " + q(out) + " " + q(a) + " " + q(junk) +
                           " " + q(lost) + " " + q(b));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("2 rendered, 2 failed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cannot load " + junk.string()), std::string::npos) << r.out;
    EXPECT_EQ(ReadAudio(out / "a.flac").rate, 11025);
    EXPECT_EQ(ReadAudio(out / "b.flac").rate, 11025);
    EXPECT_FALSE(fs::exists(out / "junk.flac"));
    EXPECT_FALSE(fs::exists(out / "lost.flac"));

    const Outcome wrong = Tool("--bits 12 " + q(a) + " " + q(dir_ / "x.wav"));
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(std::count(wrong.out.begin(), wrong.out.end(), '\n'), 1) << wrong.out;
}

} // namespace
} // namespace qorn::render_test
