// The class registry, port listing and port creation, with a fake ALSA
// sequencer standing in for the machine's.
#include "platform/DirectMusic.h"
#include "platform/MusicPlatform.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "platform/performance/Performance.h"
#include "tests/support/FakeAlsa.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>

#include "app/render/OfflineSession.h"
#include "platform/synth/SynthConfig.h"
#include "tests/support/MidiFileWriter.h"

using namespace qorn::platform;

namespace {

std::string describe(const DMUS_PORTCAPS& caps) {
    char text[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, caps.wszDescription, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

template <typename T> struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) p->Release();
    }
    void** out() { return reinterpret_cast<void**>(&p); }
    T* operator->() const { return p; }
};

class DirectMusicTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterMusicPlatform();
        sequencer_ = std::make_shared<FakeAlsaSequencer>(std::vector<FakeAlsaPort>{
            {20, 0, "USB Keyboard", "MIDI 1", kSeqCapRead | kSeqCapSubsRead},
            {24, 0, "Sound Module", "Port 1"},
            {24, 1, "Sound Module", "Port 2"},
        });
        SetAlsaBackendFactory([seq = sequencer_] { return MakeFakeAlsaBackend(seq); });
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_DirectMusic, nullptr, 3, IID_IDirectMusic2, dm_.out())));
    }
    void TearDown() override { SetAlsaBackendFactory({}); }

    std::vector<DMUS_PORTCAPS> listAll() {
        std::vector<DMUS_PORTCAPS> all;
        for (DWORD i = 0; i < 256; ++i) {
            DMUS_PORTCAPS caps{};
            caps.dwSize = sizeof(caps);
            if (dm_->EnumPort(i, &caps) != S_OK) break;
            all.push_back(caps);
        }
        return all;
    }

    std::shared_ptr<FakeAlsaSequencer> sequencer_;
    Held<IDirectMusic2> dm_;
};

TEST_F(DirectMusicTest, FactoriesHandOutOnlyTheirInterface) {
    struct Case {
        GUID clsid;
        GUID iid;
    };
    for (const Case c :
         {Case{CLSID_DirectMusic, IID_IDirectMusic2}, Case{CLSID_DirectMusicPerformance, IID_IDirectMusicPerformance2},
          Case{CLSID_DirectMusicLoader, IID_IDirectMusicLoader}}) {
        void* object = nullptr;
        ASSERT_EQ(CoCreateInstance(c.clsid, nullptr, 3, c.iid, &object), S_OK);
        ASSERT_NE(object, nullptr);
        static_cast<IUnknown*>(object)->Release();
        EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, 3, IID_IDirectMusicSegment2, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
}

TEST_F(DirectMusicTest, ListsExternalPortsBeforeTheSynthesizer) {
    const auto all = listAll();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].dwClass, DMUS_PC_INPUTCLASS); // the keyboard only sends
    EXPECT_EQ(all[1].dwClass, DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(all[2].dwClass, DMUS_PC_OUTPUTCLASS);
    EXPECT_NE(describe(all[1]).find("Sound Module"), std::string::npos);
    EXPECT_NE(all[1].guidPort, all[2].guidPort);
    EXPECT_EQ(all[3].dwClass, DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(describe(all[3]), "FluidSynth Software Synthesizer");
    GUID def{};
    ASSERT_EQ(dm_->GetDefaultPort(&def), S_OK);
    EXPECT_EQ(all[3].guidPort, def);

    // Past the end: S_FALSE and the record untouched.
    DMUS_PORTCAPS caps{};
    caps.dwSize = sizeof(caps);
    caps.dwClass = 77;
    EXPECT_EQ(dm_->EnumPort(4, &caps), S_FALSE);
    EXPECT_EQ(caps.dwClass, 77u);

    // The same ports keep their GUIDs in a new listing.
    Held<IDirectMusic2> again;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, 3, IID_IDirectMusic2, again.out()), S_OK);
    DMUS_PORTCAPS second{};
    second.dwSize = sizeof(second);
    ASSERT_EQ(again->EnumPort(1, &second), S_OK);
    EXPECT_EQ(second.guidPort, all[1].guidPort);
}

TEST_F(DirectMusicTest, WithoutSequencerOnlyTheSynthesizerIsListed) {
    SetAlsaBackendFactory([] { return MakeFakeAlsaBackend(std::vector<FakeAlsaPort>{}); });
    Held<IDirectMusic2> dm;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, 3, IID_IDirectMusic2, dm.out()), S_OK);
    DMUS_PORTCAPS caps{};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(dm->EnumPort(0, &caps), S_OK);
    EXPECT_EQ(caps.guidPort, GUID_QornSynthPort);
    EXPECT_EQ(dm->EnumPort(1, &caps), S_FALSE);
}

TEST(SynthConfigTest, AdjustsRequestsToWhatTheSynthesizerOffers) {
    struct Case {
        DWORD valid;
        DWORD rate;
        DWORD effects;
        DWORD voices;
        HRESULT result;
        int expectRate;
        bool reverb;
        bool chorus;
    };
    constexpr DWORD kSynthEntry = 0x2F; // voices, groups, audio channels, rate, effects
    const Case cases[] = {
        {kSynthEntry, 11025, 3, 128, S_OK, 11025, true, true},
        {kSynthEntry, 44100, 0, 128, S_OK, 44100, false, false},
        {0x27, 0, 3, 128, S_OK, 22050, true, true}, // the start-up record: no rate given
        {kSynthEntry, 48000, 1, 128, S_FALSE, 44100, true, false},
        {kSynthEntry, 16000, 2, 128, S_FALSE, 11025, false, true},
        {kSynthEntry, 22050, 0xFF, 128, S_FALSE, 22050, true, true},
        {kSynthEntry, 22050, 3, 100000, S_FALSE, 22050, true, true},
    };
    for (const Case& c : cases) {
        DMUS_PORTPARAMS p{};
        p.dwSize = sizeof(p);
        p.dwValidParams = c.valid;
        p.dwVoices = c.voices;
        p.dwChannelGroups = 1;
        p.dwAudioChannels = 2;
        p.dwSampleRate = c.rate;
        p.dwEffectFlags = c.effects;
        SynthConfig config;
        EXPECT_EQ(ResolveSynthConfig(&p, config), c.result) << c.rate << " " << c.effects << " " << c.voices;
        EXPECT_EQ(config.sampleRate, c.expectRate);
        EXPECT_EQ(config.reverb, c.reverb);
        EXPECT_EQ(config.chorus, c.chorus);
        if (c.valid & DMUS_PORTPARAMS_SAMPLERATE) {
            EXPECT_EQ(p.dwSampleRate, DWORD(c.expectRate));
        }
        EXPECT_LE(config.voices, 1024);
    }
    DMUS_PORTPARAMS shortRecord{};
    shortRecord.dwSize = 8;
    SynthConfig config;
    EXPECT_EQ(ResolveSynthConfig(&shortRecord, config), E_INVALIDARG);
}

TEST_F(DirectMusicTest, ExternalPortPlaysAndStopsWithoutStuckNotes) {
    const auto all = listAll();
    ASSERT_GE(all.size(), 2u);
    Held<IDirectMusicPort> port;
    DMUS_PORTPARAMS params{};
    params.dwSize = sizeof(params);
    params.dwValidParams = 7;
    params.dwVoices = 128;
    params.dwChannelGroups = 1;
    params.dwAudioChannels = 16;
    ASSERT_EQ(dm_->CreatePort(all[1].guidPort, &params, reinterpret_cast<IDirectMusicPort**>(port.out()), nullptr),
              S_OK);
    ASSERT_EQ(port->Activate(TRUE), S_OK);
    Held<IDirectMusicPerformance2> perf;
    Held<IDirectMusicLoader> loader;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, 3, IID_IDirectMusicPerformance2, perf.out()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, 3, IID_IDirectMusicLoader, loader.out()), S_OK);
    ASSERT_EQ(perf->Init(nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(perf->AddPort(port.p), S_OK);
    ASSERT_EQ(perf->AssignPChannelBlock(0, port.p, 1), S_OK);

    // A held chord of 10 s, started and stopped after 100 ms.
    qorn::test::TestPiece piece;
    piece.notes = {{0, 9600, 60}, {0, 9600, 64}};
    const std::string path = qorn::test::WriteTempFile("held.mid", qorn::test::BuildMidiFile(piece));
    auto desc = std::make_unique<DMUS_OBJECTDESC>();
    desc->dwSize = sizeof(DMUS_OBJECTDESC);
    desc->dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FULLPATH;
    desc->guidClass = CLSID_DirectMusicSegment;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, desc->wszFileName, DMUS_MAX_FILENAME);
    Held<IDirectMusicSegment2> segment;
    ASSERT_EQ(loader->GetObject(desc.get(), IID_IDirectMusicSegment2, segment.out()), S_OK);
    Held<IDirectMusicSegmentState> state;
    ASSERT_EQ(perf->PlaySegment(segment.p, 0, 0, reinterpret_cast<IDirectMusicSegmentState**>(state.out())), S_OK);
    EXPECT_EQ(perf->IsPlaying(segment.p, state.p), S_OK);
    const int client = 24;
    const auto noteOns = [&] {
        std::size_t ons = 0;
        for (const auto& m : sequencer_->received(client, 0))
            if ((m[0] & 0xF0) == 0x90 && m[2] > 0) ++ons;
        return ons;
    };
    // The chord reaches the port soon; a loaded machine may take its time.
    for (int i = 0; i < 5000 && noteOns() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // nothing more follows
    EXPECT_EQ(noteOns(), 2u);
    EXPECT_TRUE(sequencer_->received(client, 1).empty());

    perf->Stop(nullptr, nullptr, 0, 0);
    for (int i = 0; i < 2000 && perf->IsPlaying(segment.p, nullptr) == S_OK; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(perf->IsPlaying(segment.p, nullptr), S_FALSE);
    EXPECT_EQ(perf->IsPlaying(nullptr, state.p), S_FALSE);
    const auto got = sequencer_->received(client, 0);
    std::size_t offs = 0;
    bool allNotesOff = false;
    for (const auto& m : got) {
        if ((m[0] & 0xF0) == 0x80) ++offs;
        if (m[0] == 0xB0 && m[1] == 123) allNotesOff = true;
    }
    EXPECT_EQ(offs, 2u);
    EXPECT_TRUE(allNotesOff);
    EXPECT_EQ(perf->RemovePort(port.p), S_OK);
    EXPECT_EQ(perf->CloseDown(), S_OK);
}

TEST_F(DirectMusicTest, CreatingAVanishedPortFails) {
    const auto all = listAll();
    ASSERT_GE(all.size(), 3u);
    sequencer_->removePort(24, 1);
    IDirectMusicPort* port = nullptr;
    EXPECT_LT(dm_->CreatePort(all[2].guidPort, nullptr, &port, nullptr), 0);
    EXPECT_EQ(port, nullptr);
    // An input-only port is not an output.
    EXPECT_LT(dm_->CreatePort(all[0].guidPort, nullptr, &port, nullptr), 0);
    EXPECT_EQ(port, nullptr);
}

TEST_F(DirectMusicTest, APortThatIsNotActiveEndsAPlayAtOnce) {
    const auto all = listAll();
    ASSERT_GE(all.size(), 2u);
    Held<IDirectMusicPort> port;
    ASSERT_EQ(dm_->CreatePort(all[1].guidPort, nullptr, reinterpret_cast<IDirectMusicPort**>(port.out()), nullptr),
              S_OK);
    Held<IDirectMusicPerformance2> perf;
    Held<IDirectMusicLoader> loader;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, 3, IID_IDirectMusicPerformance2, perf.out()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, 3, IID_IDirectMusicLoader, loader.out()), S_OK);
    ASSERT_EQ(perf->Init(nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(perf->AddPort(port.p), S_OK);
    ASSERT_EQ(perf->AssignPChannelBlock(0, port.p, 1), S_OK);
    float tempo = 1.5f;
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(perf->SetGlobalParam(GUID_PerfMasterTempo, &tempo, sizeof(tempo)), S_OK);
    qorn::test::TestPiece piece;
    piece.notes = {{0, 9600, 60}};
    const std::string path = qorn::test::WriteTempFile("inactive.mid", qorn::test::BuildMidiFile(piece));
    auto desc = std::make_unique<DMUS_OBJECTDESC>();
    desc->dwSize = sizeof(DMUS_OBJECTDESC);
    desc->dwValidData = DMUS_OBJ_FULLPATH;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, desc->wszFileName, DMUS_MAX_FILENAME);
    Held<IDirectMusicSegment2> segment;
    ASSERT_EQ(loader->GetObject(desc.get(), IID_IDirectMusicSegment2, segment.out()), S_OK);
    ASSERT_EQ(perf->PlaySegment(segment.p, 0, 0, nullptr), S_OK);
    EXPECT_EQ(perf->IsPlaying(segment.p, nullptr), S_FALSE);
    EXPECT_TRUE(sequencer_->received(24, 0).empty());
    EXPECT_EQ(perf->CloseDown(), S_OK);
}

TEST(PerformanceTest, PlayOnNoPortStillKeepsTimeAndEnds) {
    RegisterMusicPlatform();
    Held<IDirectMusicPerformance2> perf;
    Held<IDirectMusicLoader> loader;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, 3, IID_IDirectMusicPerformance2, perf.out()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, 3, IID_IDirectMusicLoader, loader.out()), S_OK);
    ASSERT_EQ(perf->Init(nullptr, nullptr, nullptr), S_OK);
    qorn::test::TestPiece piece;
    piece.notes = {{0, 96, 60}}; // 0.1 s
    const std::string path = qorn::test::WriteTempFile("noport.mid", qorn::test::BuildMidiFile(piece));
    auto desc = std::make_unique<DMUS_OBJECTDESC>();
    desc->dwSize = sizeof(DMUS_OBJECTDESC);
    desc->dwValidData = DMUS_OBJ_FULLPATH;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, desc->wszFileName, DMUS_MAX_FILENAME);
    Held<IDirectMusicSegment2> segment;
    ASSERT_EQ(loader->GetObject(desc.get(), IID_IDirectMusicSegment2, segment.out()), S_OK);
    ASSERT_EQ(perf->PlaySegment(segment.p, 0, 0, nullptr), S_OK);
    EXPECT_EQ(perf->IsPlaying(segment.p, nullptr), S_OK);
    REFERENCE_TIME start = 0;
    perf->GetTime(&start, nullptr);
    while (perf->IsPlaying(segment.p, nullptr) == S_OK)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    REFERENCE_TIME end = 0;
    perf->GetTime(&end, nullptr);
    // The piece lasts 0.1 s; a loaded machine only notices its end later.
    EXPECT_GT(double(end - start) / 1e7, 0.05);
    EXPECT_LT(double(end - start) / 1e7, 2.0);
    EXPECT_EQ(perf->CloseDown(), S_OK);
}

TEST(PerformanceTest, MasterVolumeIsDecibelsOfGain) {
    EXPECT_DOUBLE_EQ(Performance::GainForVolume(0), 1.0);
    EXPECT_NEAR(Performance::GainForVolume(-2000), 0.1, 1e-12);
    EXPECT_NEAR(20.0 * std::log10(Performance::GainForVolume(qorn::render::VolumeForPosition(16))), -21.6, 1e-9);
    EXPECT_EQ(qorn::render::VolumeForPosition(88), 0);
    EXPECT_EQ(qorn::render::VolumeForPosition(15), -2216);
    EXPECT_EQ(qorn::render::VolumeForPosition(127), 1170);
}

} // namespace
