#include "platform/instruments/SoundFontWriter.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace qorn::instruments {

namespace {

// Zero frames after each sample in 'smpl', as players expect them.
constexpr std::uint32_t kSampleGap = 46;
constexpr std::uint32_t kPlaceholderFrames = 8;
constexpr int kInstrumentGenerator = 41;
constexpr int kDrumBank = 128;
constexpr std::uint16_t kMonoSample = 1;
constexpr double kMaxAttenuation = 1440;
// The generator the SoundFont format moves pitch with in cents; the
// player's own pitch (dls::gen::kPitch) is no file generator.
constexpr int kFineTuneGenerator = 52;

class Bytes {
  public:
    std::vector<std::uint8_t> data;
    void u8(std::uint8_t v) { data.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void i16(std::int16_t v) { u16(static_cast<std::uint16_t>(v)); }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void fourCC(const char* id) { data.insert(data.end(), id, id + 4); }
    // A fixed-width name, cut to leave its terminating zero.
    void name(const std::string& text, std::size_t width) {
        const std::size_t n = std::min(text.size(), width - 1);
        data.insert(data.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        data.insert(data.end(), width - n, 0);
    }
    // Opens a chunk; Close() puts its size and the pad byte.
    std::size_t Open(const char* id, const char* listType = nullptr) {
        fourCC(id);
        const std::size_t at = data.size();
        u32(0);
        if (listType) fourCC(listType);
        return at;
    }
    void Close(std::size_t at) {
        const auto size = static_cast<std::uint32_t>(data.size() - at - 4);
        for (int i = 0; i < 4; ++i)
            data[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        if (size % 2 != 0) u8(0);
    }
    void Text(const char* id, const std::string& text) {
        const std::size_t at = Open(id);
        data.insert(data.end(), text.begin(), text.end());
        u8(0);
        if (text.size() % 2 == 0) u8(0); // an even size with its zero, as the format asks
        Close(at);
    }
};

std::int16_t Round16(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

// SoundFont modulator source enumerator: index, CC flag, direction,
// polarity and curve type in one word.
std::uint16_t SourceWord(const dls::ModSource& s) {
    using Kind = dls::ModSource::Kind;
    std::uint16_t index = 0;
    switch (s.kind) {
    case Kind::None:
        return 0;
    case Kind::Velocity:
        index = 2;
        break;
    case Kind::KeyNumber:
        index = 3;
        break;
    case Kind::PolyPressure:
        index = 10;
        break;
    case Kind::ChannelPressure:
        index = 13;
        break;
    case Kind::PitchWheel:
        index = 14;
        break;
    case Kind::PitchWheelRange:
        index = 16;
        break;
    case Kind::Controller:
        index = static_cast<std::uint16_t>(0x80 | (s.controller & 0x7F));
        break;
    }
    return static_cast<std::uint16_t>(index | (s.negative ? 0x100 : 0) | (s.bipolar ? 0x200 : 0) |
                                      (static_cast<unsigned>(s.curve) << 10));
}

// The SoundFont default of each generator the conversion gives: a zone
// leaves out what equals it.
double GeneratorDefault(int generator) {
    using namespace dls::gen;
    switch (generator) {
    case kModLfoDelay:
    case kVibLfoDelay:
    case kModEnvDelay:
    case kModEnvAttack:
    case kModEnvHold:
    case kModEnvDecay:
    case kModEnvRelease:
    case kVolEnvDelay:
    case kVolEnvAttack:
    case kVolEnvHold:
    case kVolEnvDecay:
    case kVolEnvRelease:
        return -12000;
    case kFilterCutoff:
        return 13500;
    case kScaleTuning:
        return 100;
    case sfgen::kOverridingRootKey:
        return -1;
    default:
        return 0;
    }
}

struct Generator {
    std::uint16_t id;
    std::uint16_t amount;
};

struct Zone {
    std::vector<Generator> generators;
    std::vector<const dls::Modulator*> modulators;
};

// What the file loses, counted per kind so each is named once.
struct Losses {
    int quieter = 0;
    int sharedPatches = 0;
    std::string firstShared;
};

Zone FileZone(const PresetZone& zone, const FrameSpan& sampleLoop, std::uint16_t sampleIndex, Losses& losses) {
    Zone out;
    out.generators.push_back({sfgen::kKeyRange, static_cast<std::uint16_t>(zone.keyLow | (zone.keyHigh << 8))});
    out.generators.push_back(
        {sfgen::kVelocityRange, static_cast<std::uint16_t>(zone.velocityLow | (zone.velocityHigh << 8))});
    for (auto [id, value] : zone.generators) {
        if (id == dls::gen::kAttenuation) {
            value /= kAttenuationFactor;
            if (value > kMaxAttenuation + 0.5) ++losses.quieter;
            value = std::min(value, kMaxAttenuation);
        }
        const std::int16_t amount = Round16(value);
        if (amount == Round16(GeneratorDefault(id))) continue;
        out.generators.push_back({static_cast<std::uint16_t>(id), static_cast<std::uint16_t>(amount)});
    }
    if (zone.loop) {
        const LoopOffsets offsets = LoopOffsetsFrom(*zone.loop, sampleLoop);
        const std::pair<int, int> parts[] = {{sfgen::kStartLoopOffset, offsets.start % 32768},
                                             {sfgen::kStartLoopCoarseOffset, offsets.start / 32768},
                                             {sfgen::kEndLoopOffset, offsets.end % 32768},
                                             {sfgen::kEndLoopCoarseOffset, offsets.end / 32768}};
        for (const auto& [id, amount] : parts)
            if (amount != 0)
                out.generators.push_back(
                    {static_cast<std::uint16_t>(id), static_cast<std::uint16_t>(static_cast<std::int16_t>(amount))});
    }
    out.generators.push_back({sfgen::kSampleId, sampleIndex});
    for (const dls::Modulator& m : zone.modulators)
        out.modulators.push_back(&m);
    return out;
}

void WriteModulator(Bytes& b, const dls::Modulator& m) {
    b.u16(SourceWord(m.source));
    b.u16(static_cast<std::uint16_t>(m.destination == dls::gen::kPitch ? kFineTuneGenerator : m.destination));
    b.i16(Round16(m.amount));
    b.u16(SourceWord(m.control));
    b.u16(0); // linear transform
}

} // namespace

SoundFontFile WriteSoundFont(const dls::Collection& c, const CollectionPresets& presets, const std::string& name,
                             const std::string& software, formats::Diagnostics& lost) {
    SoundFontFile file;
    Losses losses;

    // Samples: every wave that sounds, in the collection's order. A sample
    // carries the wave's own loop, else the first loop a zone plays on it.
    std::vector<std::int64_t> sampleOf(c.waves.size(), -1);
    std::vector<FrameSpan> sampleLoops(c.waves.size());
    std::uint64_t frames = 0;
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        if (!presets.samples[i].sounds) continue;
        sampleOf[i] = static_cast<std::int64_t>(file.samples++);
        frames += c.waves[i].samples.size() + kSampleGap;
        sampleLoops[i] =
            presets.samples[i].loop.value_or(FrameSpan{0, static_cast<std::uint32_t>(c.waves[i].samples.size())});
    }
    std::vector<bool> loopChosen(c.waves.size(), false);
    for (std::size_t i = 0; i < c.waves.size(); ++i)
        loopChosen[i] = presets.samples[i].loop.has_value();
    for (const PresetDescription& p : presets.presets)
        for (const PresetZone& z : p.zones)
            if (z.loop && !loopChosen[z.waveIndex]) {
                sampleLoops[z.waveIndex] = *z.loop;
                loopChosen[z.waveIndex] = true;
            }

    // Zones of each instrument; a global zone puts the defaults a DLS
    // voice lacks out of play.
    std::vector<std::vector<Zone>> instruments;
    instruments.reserve(presets.presets.size());
    std::map<std::pair<int, int>, std::size_t> patches;
    for (const PresetDescription& p : presets.presets) {
        std::vector<Zone>& zones = instruments.emplace_back();
        for (const PresetZone& z : p.zones) {
            if (zones.empty()) {
                Zone& global = zones.emplace_back();
                for (const dls::Modulator& m : presets.cancelledDefaults)
                    global.modulators.push_back(&m);
            }
            zones.push_back(
                FileZone(z, sampleLoops[z.waveIndex], static_cast<std::uint16_t>(sampleOf[z.waveIndex]), losses));
        }
        const int bank = p.patch.drums ? kDrumBank : p.patch.bankMsb;
        if (!patches.emplace(std::make_pair(bank, int(p.patch.program)), file.presets).second &&
            losses.sharedPatches++ == 0)
            losses.firstShared = p.name.empty() ? "program " + std::to_string(p.patch.program) : "'" + p.name + "'";
        ++file.presets;
    }

    // The format counts zones, generators, modulators and samples in 16 bits.
    std::size_t zoneCount = 0, generatorCount = 0, modulatorCount = 0;
    for (const auto& zones : instruments)
        for (const Zone& z : zones) {
            ++zoneCount;
            generatorCount += z.generators.size();
            modulatorCount += z.modulators.size();
        }
    constexpr std::size_t kMaxIndex = 0xFFFF;
    if (zoneCount >= kMaxIndex || generatorCount >= kMaxIndex || modulatorCount >= kMaxIndex ||
        file.samples >= kMaxIndex || file.presets >= kMaxIndex || frames * 2 >= 0xFFFF0000u) {
        file.error = name + " holds more than a SoundFont can (" + std::to_string(file.presets) + " instruments, " +
                     std::to_string(zoneCount) + " zones, " + std::to_string(generatorCount) + " generators, " +
                     std::to_string(file.samples) + " samples)";
        return file;
    }

    Bytes b;
    b.data.reserve(static_cast<std::size_t>(frames * 2) + 4096 + file.presets * 512);
    const std::size_t riff = b.Open("RIFF", "sfbk");

    const std::size_t info = b.Open("LIST", "INFO");
    const std::size_t ifil = b.Open("ifil");
    b.u16(2);
    b.u16(1);
    b.Close(ifil);
    b.Text("isng", "EMU8000");
    b.Text("INAM", (c.name.empty() ? std::string("DLS collection") : c.name).substr(0, 255));
    b.Text("ISFT", software.substr(0, 255));
    b.Close(info);

    const std::size_t sdta = b.Open("LIST", "sdta");
    const std::size_t smpl = b.Open("smpl");
    std::vector<std::uint32_t> starts(c.waves.size(), 0);
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        if (sampleOf[i] < 0) continue;
        starts[i] = static_cast<std::uint32_t>((b.data.size() - smpl - 4) / 2);
        for (std::int16_t s : c.waves[i].samples)
            b.i16(s);
        b.data.insert(b.data.end(), kSampleGap * 2, 0);
    }
    // Players refuse a file without sample data: a collection whose waves
    // all stay silent gets one silent sample that no zone plays.
    const bool placeholder = file.samples == 0;
    if (placeholder) b.data.insert(b.data.end(), (kPlaceholderFrames + kSampleGap) * 2, 0);
    b.Close(smpl);
    b.Close(sdta);

    const std::size_t pdta = b.Open("LIST", "pdta");
    // Preset headers, one zone each naming its instrument.
    std::size_t at = b.Open("phdr");
    for (std::size_t i = 0; i < presets.presets.size(); ++i) {
        const PresetDescription& p = presets.presets[i];
        b.name(p.name.empty() ? "Program " + std::to_string(p.patch.program) : p.name, 20);
        b.u16(p.patch.program);
        b.u16(static_cast<std::uint16_t>(p.patch.drums ? kDrumBank : p.patch.bankMsb));
        b.u16(static_cast<std::uint16_t>(i));
        b.u32(0);
        b.u32(0);
        b.u32(0);
    }
    b.name("EOP", 20);
    b.u16(0);
    b.u16(0);
    b.u16(static_cast<std::uint16_t>(presets.presets.size()));
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.Close(at);
    at = b.Open("pbag");
    for (std::size_t i = 0; i <= presets.presets.size(); ++i) {
        b.u16(static_cast<std::uint16_t>(i));
        b.u16(0);
    }
    b.Close(at);
    at = b.Open("pmod");
    b.data.insert(b.data.end(), 10, 0);
    b.Close(at);
    at = b.Open("pgen");
    for (std::size_t i = 0; i < presets.presets.size(); ++i) {
        b.u16(kInstrumentGenerator);
        b.u16(static_cast<std::uint16_t>(i));
    }
    b.u32(0);
    b.Close(at);

    // Instruments, their zones, modulators and generators.
    at = b.Open("inst");
    std::size_t bag = 0;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const PresetDescription& p = presets.presets[i];
        b.name(p.name.empty() ? "Program " + std::to_string(p.patch.program) : p.name, 20);
        b.u16(static_cast<std::uint16_t>(bag));
        bag += instruments[i].size();
    }
    b.name("EOI", 20);
    b.u16(static_cast<std::uint16_t>(bag));
    b.Close(at);
    at = b.Open("ibag");
    std::size_t gens = 0, mods = 0;
    for (const auto& zones : instruments)
        for (const Zone& z : zones) {
            b.u16(static_cast<std::uint16_t>(gens));
            b.u16(static_cast<std::uint16_t>(mods));
            gens += z.generators.size();
            mods += z.modulators.size();
        }
    b.u16(static_cast<std::uint16_t>(gens));
    b.u16(static_cast<std::uint16_t>(mods));
    b.Close(at);
    at = b.Open("imod");
    for (const auto& zones : instruments)
        for (const Zone& z : zones)
            for (const dls::Modulator* m : z.modulators)
                WriteModulator(b, *m);
    b.data.insert(b.data.end(), 10, 0);
    b.Close(at);
    at = b.Open("igen");
    for (const auto& zones : instruments)
        for (const Zone& z : zones)
            for (const Generator& g : z.generators) {
                b.u16(g.id);
                b.u16(g.amount);
            }
    b.u32(0);
    b.Close(at);

    at = b.Open("shdr");
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        if (sampleOf[i] < 0) continue;
        const dls::Wave& w = c.waves[i];
        b.name(w.name.empty() ? "Wave " + std::to_string(i) : w.name, 20);
        const std::uint32_t start = starts[i];
        b.u32(start);
        b.u32(start + static_cast<std::uint32_t>(w.samples.size()));
        b.u32(start + sampleLoops[i].start);
        b.u32(start + sampleLoops[i].end);
        b.u32(w.sampleRate);
        b.u8(static_cast<std::uint8_t>(presets.samples[i].originalPitch));
        b.u8(0);
        b.u16(0);
        b.u16(kMonoSample);
    }
    if (placeholder) {
        b.name("Silence", 20);
        b.u32(0);
        b.u32(kPlaceholderFrames);
        b.u32(0);
        b.u32(kPlaceholderFrames);
        b.u32(22050);
        b.u8(60);
        b.u8(0);
        b.u16(0);
        b.u16(kMonoSample);
    }
    b.name("EOS", 20);
    b.data.insert(b.data.end(), 26, 0);
    b.Close(at);
    b.Close(pdta);
    b.Close(riff);

    if (losses.quieter > 0)
        lost.warn(name + ": " + std::to_string(losses.quieter) +
                  " zones are quieter than a SoundFont's attenuation reaches (57.6 dB) and play louder from it");
    if (losses.sharedPatches > 0)
        lost.warn(name + ": " + std::to_string(losses.sharedPatches) + " instruments (the first " + losses.firstShared +
                  ") share a bank and program with an earlier one, as a SoundFont numbers banks by their MSB "
                  "alone; players take the earlier one");
    file.bytes = std::move(b.data);
    return file;
}

} // namespace qorn::instruments
