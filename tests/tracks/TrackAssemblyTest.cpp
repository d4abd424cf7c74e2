// Segments with wave, mute, trigger and the quiet track kinds, loaded the
// way the loader loads them, checked in the Sequence they become.
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/tracks/ExtraTracks.h"
#include "platform/loader/Segment.h"
#include "platform/loader/SegmentAssembly.h"
#include "platform/waves/WaveData.h"
#include "tests/segments/TestSupport.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qorn::testtracks {
namespace {

namespace fs = std::filesystem;
namespace st = formats::style;

class TrackAssembly : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qorn-tracks-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::shared_ptr<const music::Sequence> load(const std::string& name, const Bytes& bytes) {
        const std::string path = write(name, bytes);
        std::shared_ptr<const music::Sequence> seq;
        std::string error;
        warnings_.clear();
        EXPECT_TRUE(platform::LoadSegmentWithTracks(bytes, path, cache_, seq, &error, &warnings_)) << error;
        return seq;
    }
    std::size_t warnings(const std::string& part) const {
        return std::size_t(std::count_if(warnings_.begin(), warnings_.end(), [&](const formats::Diagnostic& w) {
            return w.message.find(part) != std::string::npos;
        }));
    }
    bool warned(const std::string& part) const { return warnings(part) > 0; }

    fs::path dir_;
    formats::segment::ObjectCache cache_;
    formats::Diagnostics warnings_;
};

SegmentSpec TwoChannels() {
    SegmentSpec plan;
    plan.header.length = 8 * 768;
    for (int i = 0; i < 8; ++i) {
        plan.notes.push_back({i * 768, 384, 0, 60});
        plan.notes.push_back({i * 768, 384, 1, 72});
    }
    return plan;
}

TEST_F(TrackAssembly, WaveItemsBecomeWavesOfTheSequence) {
    write("chirp.wav", WaveFile(std::vector<float>(800, 0.3f), 8000, 1, 16, Loop{100, 200}));
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.header.playStart = 768;
    WaveItem plain{2 * 768, 0, -600, 0, 0, 0, 0, FileRef("CHIRP.WAV", kWaveClass)};
    WaveItem looped{3 * 768, 384, 0, 0, 0, 0, 2500000, FileRef("chirp.wav", kWaveClass)}; // a quarter second in
    WaveItem ignoring = looped;
    ignoring.flags = kIgnoreLoops;
    ignoring.time = 3 * 768 + 1;
    WaveItem early{100, 0, 0, 0, 0, 0, 0, FileRef("chirp.wav", kWaveClass)}; // before the play start
    WaveItem missing{768, 0, 0, 0, 0, 0, 0, FileRef("gone.wav", kWaveClass)};
    const Bytes track = WaveTrack({{-200, 35, {plain, looped, ignoring, early, missing}}}, -100);
    const auto seq = load("waves.sgt", WithTracks(BuildSegment(plan), track));
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->waveData.size(), 1u); // one file, read once
    EXPECT_EQ(seq->waveData[0]->frames(), 800u);
    ASSERT_EQ(seq->waves.size(), 3u);
    const auto& a = seq->waves[0];
    EXPECT_EQ(a.tick, 768u);
    EXPECT_NEAR(a.gain, std::pow(10.0, -9.0 / 20.0), 1e-4); // item, part and track volumes add up
    EXPECT_EQ(a.group, 0);                                  // PChannel 35: a wave needs no channel
    EXPECT_TRUE(a.loop);                                    // the file's loop
    EXPECT_EQ(a.endTick, 0u);
    const auto& b = seq->waves[1];
    EXPECT_EQ(b.tick, 2 * 768u);
    EXPECT_EQ(b.endTick, 2 * 768u + 384);
    EXPECT_EQ(b.startFrame, 2000u);
    EXPECT_FALSE(seq->waves[2].loop);
    EXPECT_TRUE(warned("gone.wav"));
}

TEST_F(TrackAssembly, EmbeddedWavesAreFoundByNameAndReadOnce) {
    SegmentSpec plan;
    plan.header.length = 768;
    Embedded e;
    e.form = WaveFile(std::vector<float>(100, 0.5f), 8000, 2, 8);
    e.description = FileRef("inside.wav", kWaveClass);
    plan.container.push_back(e);
    WavePart part;
    for (int i = 0; i < 200; ++i)
        part.items.push_back({i, 0, 0, 0, 0, 0, 0, FileRef("Inside.wav", kWaveClass)});
    const auto seq = load("embedded.sgt", WithTracks(BuildSegment(plan), WaveTrack({part})));
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->waves.size(), 200u);
    ASSERT_EQ(seq->waveData.size(), 1u);
    EXPECT_EQ(seq->waveData[0]->channels, 2);
}

TEST_F(TrackAssembly, WavesAloneGiveTheSegmentItsLength) {
    write("one.wav", WaveFile(std::vector<float>(8000, 0.5f), 8000, 1)); // one second
    SegmentSpec plan;                                                    // no length, no notes
    const auto seq =
        load("only.sgt", WithTracks(BuildSegment(plan),
                                    WaveTrack({{0, 0, {{768, 0, 0, 0, 0, 0, 0, FileRef("one.wav", kWaveClass)}}}})));
    ASSERT_TRUE(seq);
    EXPECT_NEAR(double(seq->lengthTicks), 768 + 1536, 2); // the wave ends a second after it starts
}

TEST_F(TrackAssembly, EachPassPlaysTheNextVariationOfASequentialPart) {
    write("short.wav", WaveFile(std::vector<float>(100, 0.5f), 8000, 1));
    write("long.wav", WaveFile(std::vector<float>(200, 0.5f), 8000, 1));
    WaveItem a{0, 0, 0, 0, 0, 0, 0, FileRef("short.wav", kWaveClass)};
    WaveItem b{0, 0, 0, 0, 0, 0, 0, FileRef("long.wav", kWaveClass)};
    a.variations = 1;
    b.variations = 2;
    SegmentSpec plan;
    plan.header.length = 768;
    const Bytes bytes = WithTracks(BuildSegment(plan), WaveTrack({{0, 0, {a, b}, 3, 0, 0}}));
    std::shared_ptr<const music::Sequence> seq;
    std::shared_ptr<const platform::ComposeInput> recompose;
    std::string error;
    ASSERT_TRUE(
        platform::LoadSegmentWithTracks(bytes, write("seq.sgt", bytes), cache_, seq, &error, nullptr, 0, &recompose));
    ASSERT_TRUE(recompose); // each play chooses again
    auto* segment = new platform::Segment(seq, recompose);
    segment->SetRepeats(3);
    const auto play = segment->playable().sequence;
    std::vector<std::pair<std::uint32_t, std::size_t>> heard; // tick, frames of the wave
    for (const auto& w : play->waves)
        heard.emplace_back(w.tick, play->waveData[w.wave]->frames());
    EXPECT_EQ(heard,
              (std::vector<std::pair<std::uint32_t, std::size_t>>{{0, 100}, {768, 200}, {1536, 100}, {2304, 200}}));
    segment->Release();
}

TEST_F(TrackAssembly, ClockTimeWaveTrackIsPlacedInSeconds) {
    write("c.wav", WaveFile(std::vector<float>(8000, 0.5f), 8000, 1));
    SegmentSpec plan;
    plan.header.length = 8 * 768;
    plan.tempos = {{0, 60.0}};                                                               // a second a beat
    const WaveItem item{15'000'000, 5'000'000, 0, 0, 0, 0, 0, FileRef("c.wav", kWaveClass)}; // 1.5 s, for 0.5 s
    const auto seq =
        load("clock.sgt", WithTracks(BuildSegment(plan), WaveTrack({{0, 0, {item}}}, 0, {.clockTime = true})));
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->waves.size(), 1u);
    EXPECT_EQ(seq->waves[0].tick, 1152u);
    EXPECT_EQ(seq->waves[0].endTick, 1152u + 384);
}

TEST_F(TrackAssembly, MuteTrackSilencesAndRemapsPChannels) {
    const Bytes mutes = MuteTrack({{2 * 768, 1}, {4 * 768, 1, 1}, {6 * 768, 0, 5}});
    const auto seq = load("mute.sgt", WithTracks(BuildSegment(TwoChannels()), mutes));
    ASSERT_TRUE(seq);
    std::vector<std::uint32_t> onChannel[16];
    for (const auto& n : testseg::Notes(*seq))
        onChannel[n.channel].push_back(n.on / 768);
    EXPECT_EQ(onChannel[0], (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(onChannel[1], (std::vector<std::uint32_t>{0, 1, 4, 5, 6, 7})); // muted over beats 2 and 3
    EXPECT_EQ(onChannel[5], (std::vector<std::uint32_t>{6, 7}));             // channel 0 moved
}

TEST_F(TrackAssembly, TriggeredSegmentPlaysAtItsTime) {
    SegmentSpec child;
    child.header.length = 2 * 768;
    child.notes = {{0, 384, 2, 84}, {768, 2000, 2, 86}, {3 * 768, 100, 2, 88}}; // the last lies past its end
    child.tempos = {{0, 60.0}}; // a secondary segment follows the primary's tempo
    write("child.sgt", BuildSegment(child));
    SegmentSpec primary = TwoChannels();
    primary.tempos = {{0, 100.0}};
    const Bytes triggers = TriggerTrack({{3 * 768, FileRef("child.sgt", kSegmentClass)},
                                         {7 * 768, FileRef("child.sgt", kSegmentClass)},
                                         {0, FileRef("absent.sgt", kSegmentClass)},
                                         {768, FileRef("absent.sgt", kSegmentClass)}});
    const auto seq = load("primary.sgt", WithTracks(BuildSegment(primary), triggers));
    ASSERT_TRUE(seq);
    std::vector<testseg::NoteEvent> child2;
    for (const auto& n : testseg::Notes(*seq))
        if (n.channel == 2) child2.push_back(n);
    ASSERT_EQ(child2.size(), 3u);
    EXPECT_EQ(child2[0].on, 3 * 768u);
    EXPECT_EQ(child2[0].key, 84);
    EXPECT_EQ(child2[1].on, 4 * 768u);
    EXPECT_EQ(child2[1].off, 5 * 768u); // cut at the triggered segment's end
    EXPECT_EQ(child2[2].on, 7 * 768u);  // its second note would fall past the primary's end
    EXPECT_EQ(child2[2].key, 84);
    ASSERT_EQ(seq->tempos.size(), 1u);
    EXPECT_EQ(seq->tempos[0].microsecondsPerQuarter, 600000u);
    EXPECT_EQ(warnings("absent.sgt"), 1u); // once, however often it is triggered
}

TEST_F(TrackAssembly, EmbeddedTriggeredSegmentPlays) {
    SegmentSpec child;
    child.header.length = 768;
    child.notes = {{0, 100, 3, 90}};
    SegmentSpec primary = TwoChannels();
    Trigger t;
    t.time = 768;
    t.embedded = BuildSegment(child);
    const auto seq = load("holder.sgt", WithTracks(BuildSegment(primary), TriggerTrack({t})));
    ASSERT_TRUE(seq);
    bool found = false;
    for (const auto& n : testseg::Notes(*seq))
        found = found || (n.channel == 3 && n.on == 768);
    EXPECT_TRUE(found);
}

std::vector<std::pair<std::uint32_t, int>> OnChannel(const music::Sequence& seq, int channel) {
    std::vector<std::pair<std::uint32_t, int>> out;
    for (const auto& n : testseg::Notes(seq))
        if (n.channel == channel) out.push_back({n.on, n.key});
    return out;
}

// A trigger item with the motif flag plays that motif of the style it
// names, repeated as the motif says, over the chords of the segment that
// holds the item (C major, then D minor from the second measure); in a
// triggered segment without chords, over the key's chord. The style's
// ordinary pattern does not play.
TEST_F(TrackAssembly, MotifTriggerPlaysTheMotifOverTheChordsInForce) {
    namespace sw = styles_test;
    st::Style style;
    style.parts = {sw::Part(1, st::playmode::kNormalChord, {sw::Note(0, 0x3000)}),
                   sw::Part(2, st::playmode::kNormalChord, {sw::Note(0, 0x3000)})};
    style.patterns = {sw::PatternOf({sw::Ref(2, 4)}),
                      sw::PatternOf({sw::Ref(1, 3)}, 1, 1, 100, st::embellishment::kMotif)};
    style.patterns[1].name = "Hook";
    style.patterns[1].motifRepeats = 1;
    write("fx.sty", sw::StyleForm(style));
    const Guid styleClass = {0x8A, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                             0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
    Bytes tracks = sw::Track(0xD2AC288B, nullptr, "cord", sw::ChordTrackList(sw::TwoChords()));
    Append(tracks, TriggerTrack({{768, FileRef("FX.sty", styleClass), {}, 1, "Hook"},
                                 {0, FileRef("fx.sty", styleClass), {}, 1, "Gone"}}));
    const auto seq = load("motif.sgt", WithTracks(BuildSegment(TwoChannels()), tracks));
    ASSERT_TRUE(seq);
    using Keys = std::vector<std::pair<std::uint32_t, int>>;
    EXPECT_EQ(OnChannel(*seq, 3), (Keys{{768, 36}, {768 + sw::kMeasure, 38}}));
    EXPECT_TRUE(OnChannel(*seq, 4).empty());
    EXPECT_TRUE(warned("motif 'Gone'"));

    write("child.sgt",
          WithTracks(BuildSegment(TwoChannels()), TriggerTrack({{0, FileRef("fx.sty", styleClass), {}, 1, "Hook"}})));
    const auto nested = load("holder.sgt", WithTracks(BuildSegment(TwoChannels()),
                                                      TriggerTrack({{768, FileRef("child.sgt", kSegmentClass)}})));
    ASSERT_TRUE(nested);
    EXPECT_EQ(OnChannel(*nested, 3), (Keys{{768, 36}, {768 + sw::kMeasure, 36}}));
}

// A trigger item that waits for a marker starts at the segment's next play
// marker; one that does not starts at its time.
TEST_F(TrackAssembly, TriggerWaitingForAMarkerStartsAtTheNextPlayMarker) {
    SegmentSpec child;
    child.header.length = 768;
    child.notes = {{0, 100, 2, 84}};
    write("child.sgt", BuildSegment(child));
    Bytes tracks = MarkerTrack({0, 4 * 768}, {768, 5 * 768});
    Append(tracks, TriggerTrack({{3 * 768, FileRef("child.sgt", kSegmentClass), {}, 0, "", kAtMarker},
                                 {768 + 1, FileRef("child.sgt", kSegmentClass)}}));
    const auto seq = load("marked.sgt", WithTracks(BuildSegment(TwoChannels()), tracks));
    ASSERT_TRUE(seq);
    using Keys = std::vector<std::pair<std::uint32_t, int>>;
    EXPECT_EQ(OnChannel(*seq, 2), (Keys{{768 + 1, 84}, {5 * 768, 84}}));
}

TEST_F(TrackAssembly, SelfTriggeringSegmentsEndInBoundedTime) {
    // A triggers itself; B triggers itself twice, so following it without a
    // bound would never end.
    SegmentSpec a = TwoChannels();
    const auto aBytes = WithTracks(BuildSegment(a), TriggerTrack({{768, FileRef("a.sgt", kSegmentClass)}}));
    SegmentSpec b;
    b.header.length = 2 * 768;
    b.notes = {{0, 100, 4, 70}};
    write("b.sgt", WithTracks(BuildSegment(b), TriggerTrack({{0, FileRef("b.sgt", kSegmentClass)},
                                                             {768, FileRef("b.sgt", kSegmentClass)}})));
    ASSERT_TRUE(load("a.sgt", aBytes));
    EXPECT_TRUE(warned("a.sgt"));

    SegmentSpec c = TwoChannels();
    const auto seq = load("c.sgt", WithTracks(BuildSegment(c), TriggerTrack({{0, FileRef("b.sgt", kSegmentClass)}})));
    ASSERT_TRUE(seq);
    EXPECT_TRUE(warned("nested too deep"));
    std::size_t copies = 0;
    for (const auto& n : testseg::Notes(*seq))
        copies += n.channel == 4;
    EXPECT_GE(copies, 2u);
    EXPECT_LE(copies, std::size_t(platform::kMaxTriggeredSegments));
}

TEST_F(TrackAssembly, QuietTracksLeaveThePieceAsItWas) {
    const auto plain = load("plain.sgt", BuildSegment(TwoChannels()));
    Bytes twice = QuietTracks();
    Append(twice, QuietTracks());
    const auto quiet = load("quiet.sgt", WithTracks(BuildSegment(TwoChannels()), twice));
    ASSERT_TRUE(plain && quiet);
    // What would sound through effects or scripts is named once; lyrics and markers not at all.
    EXPECT_EQ(warnings("parameter-control track"), 1u);
    EXPECT_EQ(warnings("script track"), 1u);
    EXPECT_EQ(warnings_.size(), 2u);
    EXPECT_EQ(testseg::Notes(*quiet), testseg::Notes(*plain));
    EXPECT_EQ(quiet->lengthTicks, plain->lengthTicks);
    EXPECT_TRUE(quiet->waves.empty());
    // Damaged forms of the tracks this player reads are skipped the same way.
    Bytes broken = TrackForm(kWaveTrack, nullptr, "wavt", List("wavt", Chunk("wath", Bytes(2, 0))));
    Append(broken, TrackForm(kMuteTrack, "mute", nullptr, Chunk("mute", Bytes(3, 0))));
    Append(broken, TrackForm(kTriggerTrack, nullptr, "segt", List("segt", List("lsgl", List("lseg", Bytes{})))));
    const auto damaged = load("damaged.sgt", WithTracks(BuildSegment(TwoChannels()), broken));
    ASSERT_TRUE(damaged);
    EXPECT_EQ(testseg::Notes(*damaged), testseg::Notes(*plain));
}

TEST_F(TrackAssembly, DamagedSegmentsWithEveryTrackKindLoadOrFailCleanly) {
    write("w.wav", WaveFile(std::vector<float>(64, 0.5f), 8000, 1, 16, Loop{8, 16}));
    SegmentSpec child;
    child.header.length = 768;
    child.notes = {{0, 100, 3, 90}};
    write("t.sgt", BuildSegment(child));
    SegmentSpec plan = TwoChannels();
    Embedded e;
    e.form = WaveFile(std::vector<float>(32, 0.25f), 8000, 2, 8);
    e.description = FileRef("e.wav", kWaveClass);
    plan.container.push_back(e);
    Bytes tracks = WaveTrack({{0,
                               0,
                               {{0, 768, 0, 2, 9, 0, 0, FileRef("w.wav", kWaveClass)},
                                {768, 0, -300, 0, 0, 0, 0, FileRef("e.wav", kWaveClass)}}}});
    Append(tracks, MuteTrack({{768, 0}, {1536, 0, 0}}));
    Append(tracks, TriggerTrack({{768, FileRef("t.sgt", kSegmentClass)}}));
    Append(tracks, QuietTracks());
    const Bytes whole = WithTracks(BuildSegment(plan), tracks);
    ASSERT_TRUE(load("whole.sgt", whole));
    // Cut anywhere, and with bytes flipped: never a crash or a hang, and a
    // failure always comes with its reason.
    std::uint32_t state = 12345;
    for (std::size_t cut = 12; cut < whole.size(); cut += 7) {
        for (int variant = 0; variant < 2; ++variant) {
            Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            if (variant == 1) {
                bytes = whole;
                for (int k = 0; k < 4; ++k) {
                    state = state * 1664525u + 1013904223u;
                    bytes[12 + state % (bytes.size() - 12)] ^= static_cast<std::uint8_t>(state >> 24);
                }
            }
            std::shared_ptr<const music::Sequence> seq;
            std::string error;
            if (!platform::LoadSegmentWithTracks(bytes, (dir_ / "damaged.sgt").string(), cache_, seq, &error)) {
                EXPECT_FALSE(error.empty()) << cut;
            }
        }
    }
}

} // namespace
} // namespace qorn::testtracks
