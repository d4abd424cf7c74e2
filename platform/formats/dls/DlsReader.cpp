#include "platform/formats/dls/DlsReader.h"

#include "platform/formats/common/ByteReader.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsArticulation.h"
#include "platform/formats/riff/RiffChunk.h"
#include "platform/formats/wave/WaveDecoder.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace qorn::dls {

namespace {

using formats::ByteReader;
namespace riff = formats::riff;
namespace codec = formats::wave;

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

using riff::Chunk;
using riff::FourCCText;

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes), byteBudget_(bytes.size()) {}

    DlsReadResult Run() {
        DlsReadResult result;
        auto collection = std::make_shared<Collection>();
        collection_ = collection.get();
        if (Parse()) Finish();
        // Damage that leaves no instrument whole refuses the file.
        if (fault_ && (refused_ || collection_->instruments.empty())) {
            result.error = fault_;
            return result;
        }
        result.collection = std::move(collection);
        return result;
    }

  private:
    // Records damage: the first fault is the one reported, and whatever
    // was being read when it happened is left out, unless the damage
    // `spoils` nothing but names.
    void Damage(std::uint32_t chunk, std::size_t offset, const std::string& what, bool spoils = true) {
        if (spoils) ++faults_;
        if (!fault_)
            fault_ = DlsError{formats::Severity::Error,
                              FourCCText(chunk),
                              {},
                              offset,
                              "chunk '" + FourCCText(chunk) + "' at byte " + std::to_string(offset) + " " + what};
    }
    void Damage(const Chunk& chunk, const std::string& what, bool spoils = true) {
        Damage(chunk.id, chunk.offset, what, spoils);
    }
    // The whole file is unusable.
    bool Refuse(std::string message) {
        ++faults_;
        refused_ = true;
        fault_ = DlsError{formats::Severity::Error, FourCCText(kRiff), {}, 0, std::move(message)};
        return false;
    }

    // The next chunk of `parent`; false at its end or at a header cut
    // short. A chunk whose size runs past `parent` is read as far as
    // `parent` goes, and reported.
    bool Next(ByteReader& parent, Chunk& chunk) {
        std::uint32_t claimed = 0;
        switch (riff::ReadChunkCut(parent, 0, chunk, claimed)) {
        case riff::ChunkStatus::Read:
            if (chunk.truncated) {
                const bool fileEnd = EndsFile(chunk);
                // Names come last: a lie in their size loses only names. An
                // instrument, region or wave whose size lies swallows those
                // after it, which are then read as its siblings.
                const bool siblingsKept = !fileEnd && (chunk.isForm(kIns) || chunk.isForm(kRgn) ||
                                                       chunk.isForm(kRgn2) || chunk.isForm(kWave));
                Damage(chunk, fileEnd ? "runs past the end of the file" : "runs past its container",
                       !chunk.isForm(kInfo) && !siblingsKept);
            }
            return true;
        case riff::ChunkStatus::CutHeader:
            Damage(chunk, "is cut short inside its header");
            parent.skip(parent.remaining());
            return false;
        default:
            return false;
        }
    }

    // Whether the chunk, as read, goes on to the end of the file.
    bool EndsFile(const Chunk& chunk) const {
        return chunk.body.fileOffset() + chunk.body.remaining() >= bytes_.size();
    }

    bool Parse() {
        ByteReader file(bytes_);
        if (file.remaining() < 12) return Refuse("too short for a DLS collection");
        std::uint32_t id = 0, size = 0, type = 0;
        file.readFourCC(id);
        file.readU32LE(size);
        file.readFourCC(type);
        if (id != kRiff || type != kDls) return Refuse("not a DLS collection (no RIFF 'DLS ' form)");
        // Some writers get the outer size wrong by a few bytes; the inner
        // chunks are checked one by one, so the file end is the limit here.
        const std::size_t declared = size >= 4 ? size - 4 : 0;
        ByteReader body = file.sub(std::min<std::size_t>(declared, file.remaining()));
        Chunk chunk;
        while (Next(body, chunk))
            ReadTopLevel(chunk);
        // Cut exactly between two chunks: nothing ran past the end, yet
        // the form says there was more.
        if (!fault_ && declared >= body.size() + 8)
            Damage(kRiff, 0,
                   "claims " + std::to_string(declared + 8) + " bytes, the file holds " +
                       std::to_string(bytes_.size()));
        return true;
    }

    // One chunk of the form's body.
    void ReadTopLevel(Chunk& chunk) {
        switch (chunk.id) {
        case kColh:
            if (!chunk.body.readU32LE(declaredInstruments_)) Damage(chunk, "is shorter than 4 bytes");
            break;
        case kVers:
            if (chunk.body.remaining() >= 8) {
                chunk.body.readU32LE(collection_->versionMs);
                chunk.body.readU32LE(collection_->versionLs);
            }
            break;
        case kDlid:
            ReadGuid(chunk, collection_->guid);
            break;
        case kPtbl:
            ReadPoolTable(chunk);
            break;
        case kList:
            if (chunk.type == kLins)
                ReadInstrumentList(chunk, 1);
            else if (chunk.type == kWvpl)
                ReadWavePool(chunk, 1);
            else if (chunk.type == kInfo)
                ReadInfo(chunk, collection_->name);
            break;
        default:
            break; // unknown chunks are skipped
        }
    }

    void ReadGuid(Chunk& chunk, std::optional<platform::GUID>& out) {
        if (chunk.body.remaining() < 16) return Damage(chunk, "is shorter than 16 bytes");
        platform::GUID g{};
        chunk.body.readU32LE(g.Data1);
        chunk.body.readU16LE(g.Data2);
        chunk.body.readU16LE(g.Data3);
        for (auto& b : g.Data4)
            chunk.body.readU8(b);
        out = g;
    }

    // Damage inside a list of names spoils nothing else.
    void ReadInfo(Chunk& list, std::string& name) {
        const int before = faults_;
        Chunk chunk;
        while (Next(list.body, chunk)) {
            if (chunk.id != kInam) continue;
            auto text = chunk.body.rest();
            auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
            name.assign(text.begin(), end);
        }
        faults_ = before;
    }

    void ReadPoolTable(Chunk& chunk) {
        std::uint32_t cbSize = 0, count = 0;
        if (!chunk.body.readU32LE(cbSize) || !chunk.body.readU32LE(count) || cbSize < 8)
            return Damage(chunk, "has a header shorter than 8 bytes");
        if (!chunk.body.seek(cbSize)) return Damage(chunk, "has a header size past its end");
        // The cues that are there still find their waves.
        if (count > chunk.body.remaining() / 4) {
            Damage(chunk, "counts " + std::to_string(count) + " cues, more than it holds");
            count = static_cast<std::uint32_t>(chunk.body.remaining() / 4);
        }
        cues_.resize(count);
        for (auto& cue : cues_)
            chunk.body.readU32LE(cue);
        havePoolTable_ = true;
    }

    // An instrument list whose size runs past the form swallows the pool
    // table and the wave pool after it: those are read where they are.
    void ReadInstrumentList(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Damage(list, "is nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk)) {
            if (chunk.id == kList && chunk.type == kIns)
                ReadInstrument(chunk, depth + 1);
            else if (list.truncated && !chunk.isForm(kLins))
                ReadTopLevel(chunk);
        }
    }

    // Both lists may be there: the Level 2 one is meant for a player that
    // reads Level 2.
    static std::vector<Articulation> Chosen(std::vector<Articulation>& level1, std::vector<Articulation>& level2) {
        return level2.empty() ? std::move(level1) : std::move(level2);
    }

    // An instrument whose own size runs past the list swallows the
    // instruments after it: those are read as the siblings they are.
    void ReadInstrument(Chunk& list, int depth) {
        const int before = faults_;
        // Cut short by the end of the file, it has lost its own end.
        if (list.truncated && EndsFile(list)) ++faults_;
        ++instrumentsSeen_;
        const std::size_t slot = instruments_.size();
        instruments_.emplace_back();
        instrumentWhole_.push_back(false);
        Instrument instrument;
        bool haveHeader = false;
        std::vector<Articulation> level1, level2;
        Chunk chunk;
        if (depth > kMaxDepth) Damage(list, "is nested too deeply");
        while (depth <= kMaxDepth && Next(list.body, chunk)) {
            if (chunk.id == kInsh) {
                std::uint32_t regions = 0, bank = 0, program = 0;
                if (!chunk.body.readU32LE(regions) || !chunk.body.readU32LE(bank) || !chunk.body.readU32LE(program)) {
                    Damage(chunk, "is shorter than 12 bytes");
                    continue;
                }
                instrument.bankLsb = static_cast<std::uint8_t>(bank & 0x7F);
                instrument.bankMsb = static_cast<std::uint8_t>((bank >> 8) & 0x7F);
                instrument.drums = (bank & Instrument::kDrumFlag) != 0;
                instrument.program = static_cast<std::uint8_t>(program & 0x7F);
                haveHeader = true;
            } else if (chunk.id == kList) {
                if (chunk.type == kLrgn)
                    ReadRegionList(chunk, instrument, depth + 1);
                else if (chunk.type == kLart)
                    ReadArticulationList(chunk, level1, depth + 1);
                else if (chunk.type == kLar2)
                    ReadArticulationList(chunk, level2, depth + 1);
                else if (chunk.type == kInfo)
                    ReadInfo(chunk, instrument.name);
                else if (chunk.type == kIns && list.truncated) {
                    const int mine = faults_;
                    ReadInstrument(chunk, depth + 1);
                    faults_ = mine;
                }
            }
        }
        instrument.articulations = Chosen(level1, level2);
        if (!haveHeader && faults_ == before) Damage(list, "is an instrument without an 'insh' header");
        if (faults_ != before) {
            lost_.push_back(Label(instrument, haveHeader, list.offset));
            return;
        }
        instruments_[slot] = std::move(instrument);
        instrumentWhole_[slot] = true;
    }

    static std::string Label(const Instrument& instrument, bool haveHeader, std::size_t offset) {
        if (!instrument.name.empty()) return "'" + instrument.name + "'";
        if (!haveHeader) return "the instrument at byte " + std::to_string(offset);
        return std::string(instrument.drums ? "drum kit " : "program ") + std::to_string(instrument.program) +
               " of bank " + std::to_string(instrument.bankMsb) + "/" + std::to_string(instrument.bankLsb);
    }

    void ReadRegionList(Chunk& list, Instrument& instrument, int depth) {
        if (depth > kMaxDepth) return Damage(list, "is nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk))
            if (chunk.id == kList && (chunk.type == kRgn || chunk.type == kRgn2))
                ReadRegion(chunk, instrument, depth + 1);
    }

    // A region whose own size runs past the list swallows the regions after
    // it: those are read as the siblings they are.
    void ReadRegion(Chunk& list, Instrument& instrument, int depth) {
        if (depth > kMaxDepth) return Damage(list, "is nested too deeply");
        Region region;
        bool haveHeader = false;
        bool haveLink = false;
        std::vector<Articulation> level1, level2;
        Chunk chunk;
        while (Next(list.body, chunk)) {
            if (chunk.id == kRgnh) {
                ByteReader& r = chunk.body;
                if (r.remaining() < 12) {
                    Damage(chunk, "is shorter than 12 bytes");
                    continue;
                }
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
                if (r.remaining() < 12) {
                    Damage(chunk, "is shorter than 12 bytes");
                    continue;
                }
                r.readU16LE(region.linkOptions);
                r.readU16LE(region.phaseGroup);
                r.readU32LE(region.channel);
                r.readU32LE(region.tableIndex);
                haveLink = true;
            } else if (chunk.id == kWsmp) {
                region.sample.emplace();
                ReadWaveSample(chunk, *region.sample);
            } else if (chunk.id == kList && chunk.type == kLart) {
                ReadArticulationList(chunk, level1, depth + 1);
            } else if (chunk.id == kList && chunk.type == kLar2) {
                ReadArticulationList(chunk, level2, depth + 1);
            } else if (chunk.id == kList && (chunk.type == kRgn || chunk.type == kRgn2) && list.truncated) {
                ReadRegion(chunk, instrument, depth + 1);
            }
        }
        region.articulations = Chosen(level1, level2);
        if (!haveHeader) return Damage(list, "is a region without an 'rgnh' header");
        if (!haveLink) return; // plays nothing: dropped
        // Ranges given upside down are taken as meant.
        if (region.keyLow > region.keyHigh) std::swap(region.keyLow, region.keyHigh);
        if (region.velocityLow > region.velocityHigh) std::swap(region.velocityLow, region.velocityHigh);
        // Level 1 files leave velocity ranges zeroed: the whole range.
        if (region.velocityLow == 0 && region.velocityHigh == 0) region.velocityHigh = 127;
        instrument.regions.push_back(std::move(region));
    }

    void ReadWaveSample(Chunk& chunk, WaveSample& out) {
        ByteReader& r = chunk.body;
        std::uint32_t cbSize = 0, loopCount = 0;
        if (!r.readU32LE(cbSize) || cbSize < 20 || r.remaining() < 16)
            return Damage(chunk, "has a header shorter than 20 bytes");
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
        if (!r.seek(cbSize)) return Damage(chunk, "has a header size past its end");
        // Each loop record is at least 16 bytes; the count must fit.
        if (loopCount > r.remaining() / 16)
            return Damage(chunk, "counts " + std::to_string(loopCount) + " loops, more than it holds");
        for (std::uint32_t i = 0; i < loopCount; ++i) {
            const std::size_t start = r.position();
            std::uint32_t loopSize = 0;
            WaveLoop loop;
            if (!r.readU32LE(loopSize) || loopSize < 16 || loopSize > r.remaining() + 4)
                return Damage(chunk, "has a loop record of a bad size");
            r.readU32LE(loop.type);
            r.readU32LE(loop.start);
            r.readU32LE(loop.length);
            r.seek(start + loopSize);
            out.loops.push_back(loop);
        }
    }

    void ReadArticulationList(Chunk& list, std::vector<Articulation>& out, int depth) {
        if (depth > kMaxDepth) return Damage(list, "is nested too deeply");
        Chunk chunk;
        while (Next(list.body, chunk)) {
            if (chunk.id != kArt1 && chunk.id != kArt2) continue;
            ByteReader& r = chunk.body;
            std::uint32_t cbSize = 0, count = 0;
            if (!r.readU32LE(cbSize) || !r.readU32LE(count) || cbSize < 8) {
                Damage(chunk, "has a header shorter than 8 bytes");
                continue;
            }
            if (!r.seek(cbSize)) {
                Damage(chunk, "has a header size past its end");
                continue;
            }
            if (count > r.remaining() / 12) {
                Damage(chunk, "counts " + std::to_string(count) + " connections, more than it holds");
                continue;
            }
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
    }

    void ReadWavePool(Chunk& list, int depth) {
        if (depth > kMaxDepth) return Damage(list, "is nested too deeply");
        const int before = faults_;
        // Pool table offsets count from the first byte after the list type.
        pool_ = list.body;
        Chunk chunk;
        while (Next(list.body, chunk))
            if (chunk.id == kList && chunk.type == kWave) ReadWave(chunk, depth + 1);
        // A wave whose size lies swallows the waves after it; the pool
        // table still says where each one starts.
        if (faults_ != before && havePoolTable_)
            for (std::uint32_t cue : cues_)
                ReadWaveAtCue(cue, depth + 1);
    }

    void ReadWaveAtCue(std::uint32_t cue, int depth) {
        for (std::int64_t shift : {0, -12, -8}) {
            const std::int64_t at = std::int64_t(cue) + shift;
            if (at < 0 || std::uint64_t(at) + 12 > pool_.size()) continue;
            if (waveOffsets_.count(static_cast<std::uint32_t>(at)) != 0) return;
            ByteReader r = pool_;
            r.seek(static_cast<std::size_t>(at));
            std::uint32_t id = 0, size = 0, type = 0;
            r.readFourCC(id);
            r.readU32LE(size);
            r.readFourCC(type);
            if (id != kList || type != kWave) continue;
            r.seek(static_cast<std::size_t>(at));
            Chunk chunk;
            if (Next(r, chunk)) ReadWave(chunk, depth);
            return;
        }
    }

    // A wave is whole when its format and samples are; what follows them
    // (names) may be damaged. A wave whose own size runs past the pool
    // swallows the waves after it: those are read as the siblings they are.
    void ReadWave(Chunk& list, int depth) {
        const int before = faults_;
        int faultsWhenRead = -1; // once format and samples are in
        const auto poolOffset = static_cast<std::uint32_t>(list.offset - pool_.fileOffset());
        const std::size_t slot = waves_.size();
        waves_.emplace_back();
        whole_.push_back(false);
        waveOffsets_.emplace(poolOffset, static_cast<std::uint32_t>(slot));
        Wave wave;
        codec::Format format;
        codec::Extras extras;
        bool haveFormat = false;
        bool haveData = false;
        std::span<const std::uint8_t> data;
        Chunk chunk;
        if (depth > kMaxDepth) Damage(list, "is nested too deeply");
        while (depth <= kMaxDepth && Next(list.body, chunk)) {
            if (chunk.id == kFmt) {
                if (!codec::ReadFormat(chunk.body, format)) {
                    Damage(chunk, "is shorter than 16 bytes");
                    continue;
                }
                wave.channels = format.channels;
                wave.bitsPerSample = format.bits;
                wave.sampleRate = format.rate;
                haveFormat = true;
            } else if (codec::ReadExtra(chunk.id, chunk.body, extras)) {
            } else if (chunk.id == kData) {
                data = chunk.body.rest();
                haveData = true;
            } else if (chunk.id == kWsmp) {
                wave.sample.emplace();
                ReadWaveSample(chunk, *wave.sample);
            } else if (chunk.id == kList && chunk.type == kInfo) {
                ReadInfo(chunk, wave.name);
            } else if (chunk.id == kList && chunk.type == kWave && list.truncated) {
                const int mine = faults_;
                ReadWave(chunk, depth + 1);
                faults_ = mine;
            }
            if (haveFormat && haveData && faultsWhenRead < 0) faultsWhenRead = faults_;
        }
        if (!haveFormat && faults_ == before) Damage(list, "is a wave without a 'fmt ' chunk");
        if (!haveData && faults_ == before) Damage(list, "is a wave without a 'data' chunk");
        bool whole = faultsWhenRead == before && data.size() <= byteBudget_;
        if (whole) {
            byteBudget_ -= data.size();
            whole = DecodeSamples(format, extras, data, wave);
        }
        if (whole) waves_[slot] = std::move(wave);
        whole_[slot] = whole;
    }

    // To mono 16-bit. A wave whose samples do not decode stays silent rather
    // than losing the rest of the collection, and is counted to be named.
    // False when the collection's samples would pass their bound.
    bool DecodeSamples(const codec::Format& format, const codec::Extras& extras, std::span<const std::uint8_t> data,
                       Wave& out) {
        codec::MonoSamples decoded;
        const std::size_t bound = std::min(limits::kMaxWaveFrames, sampleBudget_);
        const codec::Decoded result = codec::DecodeMono16(format, data, extras, bound + 1, decoded);
        if (result != codec::Decoded::Ok) {
            CountSilent(format.tag, result == codec::Decoded::Unsupported);
            return true;
        }
        if (decoded.samples.size() > bound) return false;
        sampleBudget_ -= decoded.samples.size();
        out.sampleRate = decoded.rate;
        out.samples = std::move(decoded.samples);
        return true;
    }

    void CountSilent(std::uint16_t tag, bool unknownFormat) {
        auto& silent = collection_->silentWaves;
        auto it = std::find_if(silent.begin(), silent.end(), [&](const SilentWaves& s) {
            return s.formatTag == tag && s.unknownFormat == unknownFormat;
        });
        if (it == silent.end()) it = silent.insert(silent.end(), SilentWaves{tag, unknownFormat, 0});
        ++it->count;
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

    // Keeps the whole waves and the instruments all of whose regions find
    // one; in a damaged file an instrument missing a wave is left out.
    void Finish() {
        std::vector<std::uint32_t> kept(waves_.size(), Region::kNoWave);
        for (std::size_t i = 0; i < waves_.size(); ++i) {
            if (!whole_[i]) continue;
            kept[i] = static_cast<std::uint32_t>(collection_->waves.size());
            collection_->waves.push_back(std::move(waves_[i]));
        }
        for (std::size_t i = 0; i < instruments_.size(); ++i) {
            if (!instrumentWhole_[i]) continue;
            Instrument& instrument = instruments_[i];
            bool complete = true;
            for (Region& region : instrument.regions) {
                std::uint32_t read = Region::kNoWave;
                if (havePoolTable_) {
                    if (region.tableIndex < cues_.size()) read = WaveAt(cues_[region.tableIndex]);
                } else {
                    read = region.tableIndex;
                }
                region.waveIndex = read < kept.size() ? kept[read] : Region::kNoWave;
                complete = complete && region.waveIndex != Region::kNoWave;
            }
            if (fault_ && !complete) {
                lost_.push_back(Label(instrument, true, 0));
                continue;
            }
            collection_->instruments.push_back(std::move(instrument));
        }
        if (!fault_) return;
        dls::Damage damage;
        damage.reason = fault_->message;
        damage.lost = std::move(lost_);
        if (declaredInstruments_ > instrumentsSeen_) damage.unread = declaredInstruments_ - instrumentsSeen_;
        collection_->damage = std::move(damage);
    }

    std::span<const std::uint8_t> bytes_;
    Collection* collection_ = nullptr;
    std::optional<DlsError> fault_;
    int faults_ = 0;
    bool refused_ = false;
    std::vector<std::uint32_t> cues_;
    bool havePoolTable_ = false;
    std::uint32_t declaredInstruments_ = 0;
    std::uint32_t instrumentsSeen_ = 0;
    std::vector<Instrument> instruments_; // in file order, waves not yet checked
    std::vector<bool> instrumentWhole_;
    std::vector<std::string> lost_;
    ByteReader pool_;         // the wave pool's body, from its start
    std::vector<Wave> waves_; // in file order; empty where damaged
    std::vector<bool> whole_;
    std::unordered_map<std::uint32_t, std::uint32_t> waveOffsets_; // pool offset -> index in waves_
    // Bytes of samples the file holds: waves found again through the pool
    // table may not read the same bytes twice over.
    std::size_t byteBudget_ = 0;
    // Mono samples all waves may decode to (compressed ones expand).
    std::size_t sampleBudget_ = limits::kMaxCollectionSamples;
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

void NoteCollection(const Collection& collection, const std::string& name, formats::Diagnostics& warnings) {
    const std::string what = "collection " + name;
    if (collection.damage) {
        const Damage& d = *collection.damage;
        std::string text = what + " is damaged: " + d.reason;
        const std::size_t total = collection.instruments.size() + d.lost.size() + d.unread;
        if (total > collection.instruments.size()) {
            text += "; " + std::to_string(collection.instruments.size()) + " of " + std::to_string(total) +
                    " instruments play";
            for (std::size_t i = 0; i < d.lost.size(); ++i)
                text += (i == 0 ? ", lost: " : ", ") + d.lost[i];
            if (d.unread > 0) text += (d.lost.empty() ? ", lost: " : " and ") + std::to_string(d.unread) + " unread";
        }
        warnings.add({formats::Severity::Warning, what, {}, formats::kNoOffset, text});
    }
    for (const SilentWaves& silent : collection.silentWaves) {
        const bool one = silent.count == 1;
        const std::string waves = std::to_string(silent.count) + (one ? " wave" : " waves");
        const std::string tag = codec::FormatTagText(silent.formatTag);
        warnings.add(
            {formats::Severity::Warning,
             what,
             {},
             formats::kNoOffset,
             what + ": " +
                 (silent.unknownFormat ? waves + " in a format this player cannot decode (tag " + tag + ")"
                                       : waves + " of format " + tag + " that do" + (one ? "es" : "") + " not decode") +
                 (one ? " is silent" : " are silent")});
    }
    if (const UnplayedConnections unplayed = UnplayedArticulation(collection); !unplayed.empty())
        warnings.add({formats::Severity::Warning,
                      what,
                      {},
                      formats::kNoOffset,
                      what + ": the synthesizer cannot play this articulation: " + unplayed.text()});
}

} // namespace qorn::dls
