#include "platform/formats/dls/DlsReader.h"

#include "platform/formats/common/ByteReader.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffChunk.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace qorn::dls {

namespace {

using formats::ByteReader;
namespace riff = formats::riff;

constexpr std::uint32_t FourCC(const char (&s)[5]) {
    return ByteReader::fourCC(std::string_view(s, 4));
}

using riff::kList;
using riff::kRiff;
constexpr std::uint32_t kDls = FourCC("DLS ");
constexpr std::uint32_t kColh = FourCC("colh");
constexpr std::uint32_t kVers = FourCC("vers");
constexpr std::uint32_t kDlid = FourCC("dlid");
constexpr std::uint32_t kPtbl = FourCC("ptbl");
constexpr std::uint32_t kLins = FourCC("lins");
constexpr std::uint32_t kIns = FourCC("ins ");
constexpr std::uint32_t kInsh = FourCC("insh");
constexpr std::uint32_t kLrgn = FourCC("lrgn");
constexpr std::uint32_t kRgn = FourCC("rgn ");
constexpr std::uint32_t kRgn2 = FourCC("rgn2");
constexpr std::uint32_t kRgnh = FourCC("rgnh");
constexpr std::uint32_t kWlnk = FourCC("wlnk");
constexpr std::uint32_t kWsmp = FourCC("wsmp");
constexpr std::uint32_t kLart = FourCC("lart");
constexpr std::uint32_t kLar2 = FourCC("lar2");
constexpr std::uint32_t kArt1 = FourCC("art1");
constexpr std::uint32_t kArt2 = FourCC("art2");
constexpr std::uint32_t kWvpl = FourCC("wvpl");
constexpr std::uint32_t kWave = FourCC("wave");
constexpr std::uint32_t kFmt = FourCC("fmt ");
constexpr std::uint32_t kData = FourCC("data");
constexpr std::uint32_t kInfo = FourCC("INFO");
constexpr std::uint32_t kInam = FourCC("INAM");

// The form nests five lists deep; the reader follows only the lists it knows.
constexpr int kMaxDepth = limits::kMaxRiffDepth;

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

using riff::Chunk;
using riff::FourCCText;

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    DlsReadResult Run() {
        DlsReadResult result;
        auto collection = std::make_shared<Collection>();
        collection_ = collection.get();
        if (Parse()) {
            ResolveWaves();
            result.collection = std::move(collection);
        } else {
            result.error = error_;
        }
        return result;
    }

  private:
    bool Fail(std::uint32_t chunk, std::size_t offset, std::string message) {
        if (!error_) error_ = DlsError{formats::Severity::Error, FourCCText(chunk), {}, offset, std::move(message)};
        return false;
    }

    // The next chunk of `parent`; false at the end or on a malformed header
    // (then error_ says why).
    bool Next(ByteReader& parent, Chunk& chunk, std::uint32_t parentId) {
        std::uint32_t size = 0;
        switch (riff::ReadChunk(parent, 0, chunk, size)) {
        case riff::ChunkStatus::Read:
            return true;
        case riff::ChunkStatus::End:
            return false;
        case riff::ChunkStatus::CutHeader:
            return Fail(parentId, chunk.offset, "truncated chunk header");
        case riff::ChunkStatus::PastParent:
            return Fail(chunk.id, chunk.offset,
                        "size " + std::to_string(size) + " runs past its container (" +
                            std::to_string(parent.remaining()) + " bytes left)");
        case riff::ChunkStatus::NoListType:
            return Fail(chunk.id, chunk.offset, "list without a type");
        }
        return false;
    }

    bool Parse() {
        ByteReader file(bytes_);
        if (file.remaining() < 12) return Fail(kRiff, 0, "too short for a RIFF form");
        std::uint32_t id = 0, size = 0, type = 0;
        file.readFourCC(id);
        file.readU32LE(size);
        file.readFourCC(type);
        if (id != kRiff || type != kDls) return Fail(id, 0, "not a RIFF 'DLS ' form");
        // Some writers get the outer size wrong by a few bytes; the inner
        // chunks are checked one by one, so the file end is the limit here.
        const std::size_t bodySize = std::min<std::size_t>(size >= 4 ? size - 4 : 0, file.remaining());
        ByteReader body = file.sub(bodySize);
        Chunk chunk;
        while (Next(body, chunk, kRiff)) {
            bool ok = true;
            switch (chunk.id) {
            case kColh:
                ok = chunk.body.remaining() >= 4 || Fail(chunk.id, chunk.offset, "shorter than 4 bytes");
                break;
            case kVers:
                if (chunk.body.remaining() >= 8) {
                    chunk.body.readU32LE(collection_->versionMs);
                    chunk.body.readU32LE(collection_->versionLs);
                }
                break;
            case kDlid:
                ok = ReadGuid(chunk, collection_->guid);
                break;
            case kPtbl:
                ok = ReadPoolTable(chunk);
                break;
            case kList:
                if (chunk.type == kLins)
                    ok = ReadInstrumentList(chunk, 1);
                else if (chunk.type == kWvpl)
                    ok = ReadWavePool(chunk, 1);
                else if (chunk.type == kInfo)
                    ok = ReadInfo(chunk, collection_->name);
                break;
            default:
                break; // unknown chunks are skipped
            }
            if (!ok) return false;
        }
        return !error_;
    }

    bool ReadGuid(Chunk& chunk, std::optional<platform::GUID>& out) {
        if (chunk.body.remaining() < 16) return Fail(chunk.id, chunk.offset, "shorter than 16 bytes");
        platform::GUID g{};
        chunk.body.readU32LE(g.Data1);
        chunk.body.readU16LE(g.Data2);
        chunk.body.readU16LE(g.Data3);
        for (auto& b : g.Data4)
            chunk.body.readU8(b);
        out = g;
        return true;
    }

    bool ReadInfo(Chunk& list, std::string& name) {
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            if (chunk.id != kInam) continue;
            auto text = chunk.body.rest();
            auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
            name.assign(text.begin(), end);
        }
        return !error_;
    }

    bool ReadPoolTable(Chunk& chunk) {
        std::uint32_t cbSize = 0, count = 0;
        if (!chunk.body.readU32LE(cbSize) || !chunk.body.readU32LE(count) || cbSize < 8)
            return Fail(chunk.id, chunk.offset, "header too short");
        if (!chunk.body.seek(cbSize)) return Fail(chunk.id, chunk.offset, "header size past the chunk end");
        if (count > chunk.body.remaining() / 4)
            return Fail(chunk.id, chunk.offset, "cue count " + std::to_string(count) + " does not fit the chunk");
        cues_.resize(count);
        for (auto& cue : cues_)
            chunk.body.readU32LE(cue);
        havePoolTable_ = true;
        return true;
    }

    bool ReadInstrumentList(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            if (chunk.id == kList && chunk.type == kIns) {
                if (!ReadInstrument(chunk, depth + 1)) return false;
            }
        }
        return !error_;
    }

    bool ReadInstrument(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Instrument instrument;
        bool haveHeader = false;
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            bool ok = true;
            if (chunk.id == kInsh) {
                std::uint32_t regions = 0, bank = 0, program = 0;
                if (!chunk.body.readU32LE(regions) || !chunk.body.readU32LE(bank) || !chunk.body.readU32LE(program))
                    return Fail(chunk.id, chunk.offset, "shorter than 12 bytes");
                instrument.bankLsb = static_cast<std::uint8_t>(bank & 0x7F);
                instrument.bankMsb = static_cast<std::uint8_t>((bank >> 8) & 0x7F);
                instrument.drums = (bank & Instrument::kDrumFlag) != 0;
                instrument.program = static_cast<std::uint8_t>(program & 0x7F);
                haveHeader = true;
            } else if (chunk.id == kList) {
                if (chunk.type == kLrgn)
                    ok = ReadRegionList(chunk, instrument, depth + 1);
                else if (chunk.type == kLart || chunk.type == kLar2)
                    ok = ReadArticulationList(chunk, instrument.articulations, depth + 1);
                else if (chunk.type == kInfo)
                    ok = ReadInfo(chunk, instrument.name);
            }
            if (!ok) return false;
        }
        if (error_) return false;
        if (!haveHeader) return Fail(kIns, list.offset, "instrument without an 'insh' header");
        collection_->instruments.push_back(std::move(instrument));
        return true;
    }

    bool ReadRegionList(Chunk& list, Instrument& instrument, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            if (chunk.id == kList && (chunk.type == kRgn || chunk.type == kRgn2)) {
                if (!ReadRegion(chunk, instrument, depth + 1)) return false;
            }
        }
        return !error_;
    }

    bool ReadRegion(Chunk& list, Instrument& instrument, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Region region;
        bool haveHeader = false;
        bool haveLink = false;
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            bool ok = true;
            if (chunk.id == kRgnh) {
                ByteReader& r = chunk.body;
                if (r.remaining() < 12) return Fail(chunk.id, chunk.offset, "shorter than 12 bytes");
                r.readU16LE(region.keyLow);
                r.readU16LE(region.keyHigh);
                r.readU16LE(region.velocityLow);
                r.readU16LE(region.velocityHigh);
                r.readU16LE(region.options);
                r.readU16LE(region.keyGroup);
                if (r.remaining() >= 2) r.readU16LE(region.layer);
                haveHeader = true;
            } else if (chunk.id == kWlnk) {
                ByteReader& r = chunk.body;
                if (r.remaining() < 12) return Fail(chunk.id, chunk.offset, "shorter than 12 bytes");
                r.readU16LE(region.linkOptions);
                r.readU16LE(region.phaseGroup);
                r.readU32LE(region.channel);
                r.readU32LE(region.tableIndex);
                haveLink = true;
            } else if (chunk.id == kWsmp) {
                region.sample.emplace();
                ok = ReadWaveSample(chunk, *region.sample);
            } else if (chunk.id == kList && (chunk.type == kLart || chunk.type == kLar2)) {
                ok = ReadArticulationList(chunk, region.articulations, depth + 1);
            }
            if (!ok) return false;
        }
        if (error_) return false;
        if (!haveHeader) return Fail(list.type, list.offset, "region without an 'rgnh' header");
        if (!haveLink) return true; // plays nothing: dropped
        // Ranges given upside down are taken as meant.
        if (region.keyLow > region.keyHigh) std::swap(region.keyLow, region.keyHigh);
        if (region.velocityLow > region.velocityHigh) std::swap(region.velocityLow, region.velocityHigh);
        // Level 1 files leave velocity ranges zeroed: the whole range.
        if (region.velocityLow == 0 && region.velocityHigh == 0) region.velocityHigh = 127;
        instrument.regions.push_back(std::move(region));
        return true;
    }

    bool ReadWaveSample(Chunk& chunk, WaveSample& out) {
        ByteReader& r = chunk.body;
        std::uint32_t cbSize = 0, loopCount = 0;
        if (!r.readU32LE(cbSize) || cbSize < 20 || r.remaining() < 16)
            return Fail(chunk.id, chunk.offset, "header shorter than 20 bytes");
        std::uint16_t unity = 0;
        std::uint16_t fine = 0;
        std::uint32_t gain = 0;
        r.readU16LE(unity);
        r.readU16LE(fine);
        r.readU32LE(gain);
        r.readU32LE(out.options);
        r.readU32LE(loopCount);
        out.unityNote = std::min<std::uint16_t>(unity, 127);
        out.fineTune = static_cast<std::int16_t>(fine);
        out.gain = static_cast<std::int32_t>(gain);
        if (!r.seek(cbSize)) return Fail(chunk.id, chunk.offset, "header size past the chunk end");
        // Each loop record is at least 16 bytes; the count must fit.
        if (loopCount > r.remaining() / 16)
            return Fail(chunk.id, chunk.offset, "loop count " + std::to_string(loopCount) + " does not fit the chunk");
        for (std::uint32_t i = 0; i < loopCount; ++i) {
            const std::size_t start = r.position();
            std::uint32_t loopSize = 0;
            WaveLoop loop;
            if (!r.readU32LE(loopSize) || loopSize < 16 || loopSize > r.remaining() + 4)
                return Fail(chunk.id, chunk.offset, "loop record " + std::to_string(i) + " has a bad size");
            r.readU32LE(loop.type);
            r.readU32LE(loop.start);
            r.readU32LE(loop.length);
            r.seek(start + loopSize);
            out.loops.push_back(loop);
        }
        return true;
    }

    bool ReadArticulationList(Chunk& list, std::vector<Articulation>& out, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            if (chunk.id != kArt1 && chunk.id != kArt2) continue;
            ByteReader& r = chunk.body;
            std::uint32_t cbSize = 0, count = 0;
            if (!r.readU32LE(cbSize) || !r.readU32LE(count) || cbSize < 8)
                return Fail(chunk.id, chunk.offset, "header shorter than 8 bytes");
            if (!r.seek(cbSize)) return Fail(chunk.id, chunk.offset, "header size past the chunk end");
            if (count > r.remaining() / 12)
                return Fail(chunk.id, chunk.offset,
                            "connection count " + std::to_string(count) + " does not fit the chunk");
            Articulation articulation;
            articulation.level2 = chunk.id == kArt2;
            articulation.connections.resize(count);
            for (Connection& c : articulation.connections) {
                std::uint32_t scale = 0;
                r.readU16LE(c.source);
                r.readU16LE(c.control);
                r.readU16LE(c.destination);
                r.readU16LE(c.transform);
                r.readU32LE(scale);
                c.scale = static_cast<std::int32_t>(scale);
            }
            out.push_back(std::move(articulation));
        }
        return !error_;
    }

    bool ReadWavePool(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        // Pool table offsets count from the first byte after the list type.
        const std::size_t poolStart = list.body.fileOffset();
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            if (chunk.id == kList && chunk.type == kWave) {
                waveOffsets_.emplace(static_cast<std::uint32_t>(chunk.offset - poolStart),
                                     static_cast<std::uint32_t>(collection_->waves.size()));
                if (!ReadWave(chunk, depth + 1)) return false;
            }
        }
        return !error_;
    }

    bool ReadWave(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Fail(list.type, list.offset, "lists nested too deeply");
        Wave wave;
        std::uint16_t formatTag = 0;
        bool haveFormat = false;
        std::span<const std::uint8_t> data;
        Chunk chunk;
        while (Next(list.body, chunk, list.type)) {
            bool ok = true;
            if (chunk.id == kFmt) {
                ByteReader& r = chunk.body;
                std::uint32_t rate = 0, avgBytes = 0;
                if (r.remaining() < 16) return Fail(chunk.id, chunk.offset, "shorter than 16 bytes");
                r.readU16LE(formatTag);
                r.readU16LE(wave.channels);
                r.readU32LE(rate);
                r.readU32LE(avgBytes);
                r.skip(2); // block align: derived from channels and bits instead
                r.readU16LE(wave.bitsPerSample);
                wave.sampleRate = rate;
                if (formatTag == kFormatExtensible) {
                    // cbSize, valid bits, channel mask, then the sub-format GUID
                    // whose first two bytes are the real format tag.
                    std::uint16_t extra = 0, valid = 0, subFormat = 0;
                    std::uint32_t mask = 0;
                    if (r.readU16LE(extra) && extra >= 22 && r.readU16LE(valid) && r.readU32LE(mask) &&
                        r.readU16LE(subFormat))
                        formatTag = subFormat;
                }
                haveFormat = true;
            } else if (chunk.id == kData) {
                data = chunk.body.rest();
            } else if (chunk.id == kWsmp) {
                wave.sample.emplace();
                ok = ReadWaveSample(chunk, *wave.sample);
            } else if (chunk.id == kList && chunk.type == kInfo) {
                ok = ReadInfo(chunk, wave.name);
            }
            if (!ok) return false;
        }
        if (error_) return false;
        if (!haveFormat) return Fail(kWave, list.offset, "wave without a 'fmt ' chunk");
        ConvertSamples(formatTag, wave, data);
        collection_->waves.push_back(std::move(wave));
        return true;
    }

    // To mono 16-bit; a format we cannot play leaves the wave silent rather
    // than losing the rest of the collection.
    static void ConvertSamples(std::uint16_t formatTag, Wave& wave, std::span<const std::uint8_t> data) {
        const unsigned bits = wave.bitsPerSample;
        const unsigned channels = wave.channels;
        const bool pcm = formatTag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
        const bool fp = formatTag == kFormatFloat && bits == 32;
        if ((!pcm && !fp) || channels == 0 || channels > 8 || wave.sampleRate == 0) return;
        const std::size_t bytesPerSample = bits / 8;
        const std::size_t frameSize = bytesPerSample * channels;
        const std::size_t frames = data.size() / frameSize;
        if (frames == 0) return;
        wave.samples.resize(frames);
        if (pcm && bits == 16 && channels == 1 && std::endian::native == std::endian::little) {
            // The common case, already in the form we keep.
            std::memcpy(wave.samples.data(), data.data(), frames * 2);
            return;
        }
        const std::uint8_t* p = data.data();
        for (std::size_t f = 0; f < frames; ++f) {
            std::int32_t sum = 0;
            for (unsigned c = 0; c < channels; ++c, p += bytesPerSample) {
                std::int32_t v = 0;
                if (fp) {
                    const std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                                            (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
                    float x = std::bit_cast<float>(u);
                    if (!(x == x)) x = 0; // NaN
                    x = std::clamp(x, -1.0f, 1.0f);
                    v = static_cast<std::int32_t>(x * 32767.0f);
                } else if (bits == 8) {
                    v = (static_cast<std::int32_t>(p[0]) - 128) * 256;
                } else {
                    // Top 16 bits of a signed little-endian sample.
                    v = static_cast<std::int16_t>(
                        static_cast<std::uint16_t>(p[bytesPerSample - 2] | (p[bytesPerSample - 1] << 8)));
                }
                sum += v;
            }
            wave.samples[f] = static_cast<std::int16_t>(sum / static_cast<std::int32_t>(channels));
        }
    }

    // The wave a pool table offset points at. Offsets count from the byte
    // after the pool's list type; some writers count from the pool's list
    // header (12 bytes earlier) or point at a wave's list type (8 bytes
    // later), which are accepted when nothing matches exactly.
    std::uint32_t WaveAt(std::uint32_t offset) const {
        for (std::int64_t shift : {0, -12, -8}) {
            const std::int64_t at = std::int64_t(offset) + shift;
            if (at < 0) continue;
            auto it = waveOffsets_.find(static_cast<std::uint32_t>(at));
            if (it != waveOffsets_.end()) return it->second;
        }
        return Region::kNoWave;
    }

    void ResolveWaves() {
        const auto waveCount = static_cast<std::uint32_t>(collection_->waves.size());
        for (Instrument& instrument : collection_->instruments) {
            for (Region& region : instrument.regions) {
                region.waveIndex = Region::kNoWave;
                if (havePoolTable_) {
                    if (region.tableIndex < cues_.size()) region.waveIndex = WaveAt(cues_[region.tableIndex]);
                } else if (region.tableIndex < waveCount) {
                    region.waveIndex = region.tableIndex;
                }
            }
        }
    }

    std::span<const std::uint8_t> bytes_;
    Collection* collection_ = nullptr;
    std::optional<DlsError> error_;
    std::vector<std::uint32_t> cues_;
    bool havePoolTable_ = false;
    std::unordered_map<std::uint32_t, std::uint32_t> waveOffsets_;
};

} // namespace

bool LooksLikeDlsCollection(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12) return false;
    ByteReader r(bytes);
    std::uint32_t id = 0, size = 0, type = 0;
    r.readFourCC(id);
    r.readU32LE(size);
    r.readFourCC(type);
    return id == kRiff && type == kDls;
}

DlsReadResult ReadDlsCollection(std::span<const std::uint8_t> bytes) {
    return Parser(bytes).Run();
}

} // namespace qorn::dls
