#include "platform/loader/FormatProbe.h"

#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/SegmentFile.h"
#include "platform/formats/segment/SegmentGuids.h"
#include "platform/formats/smf/StandardMidiFile.h"
#include "platform/waves/WaveData.h"

#include <cmath>

namespace qorn::platform {
namespace {

namespace riff = formats::riff;
using formats::ByteReader;

bool readStandardMidiFile(std::span<const std::uint8_t> bytes, std::shared_ptr<const music::Sequence>& out,
                          std::string* error, formats::Diagnostics* warnings) {
    auto sequence = std::make_shared<music::Sequence>();
    if (!formats::ReadStandardMidiFile(bytes, *sequence, error, warnings)) return false;
    out = std::move(sequence);
    return true;
}

// The RIFF form type at the start of `bytes`, or 0.
std::uint32_t RiffFormType(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    std::uint32_t id = 0, size = 0, type = 0;
    if (!r.readFourCC(id) || !r.readU32LE(size) || !r.readFourCC(type) || id != riff::kRiff) return 0;
    return type;
}

bool LooksLikeWaveFile(std::span<const std::uint8_t> bytes) {
    return RiffFormType(bytes) == formats::segment::kWaveForm;
}

// A wave file is a segment of one wave, as long as the wave, played once.
bool readWaveFile(std::span<const std::uint8_t> bytes, std::shared_ptr<const music::Sequence>& out, std::string* error,
                  formats::Diagnostics*) {
    auto wave = std::make_shared<waves::WaveData>();
    if (!waves::ReadWaveFile(bytes, *wave, error)) return false;
    if (wave->frames() == 0) {
        if (error) *error = "the wave holds no sound";
        return false;
    }
    auto sequence = std::make_shared<music::Sequence>();
    sequence->ticksPerQuarter = formats::segment::kTicksPerQuarter;
    // At the default tempo of 120 beats a minute a tick lasts 1/1536 s.
    const double seconds = double(wave->frames()) / wave->sampleRate;
    sequence->lengthTicks = static_cast<std::uint32_t>(std::ceil(seconds * 2.0 * formats::segment::kTicksPerQuarter));
    music::WaveItem item{};
    item.gain = 1.0f;
    sequence->waves.push_back(item);
    sequence->waveData.push_back(std::move(wave));
    out = std::move(sequence);
    return true;
}

} // namespace

const std::vector<FormatProbe>& FormatProbes() {
    static const std::vector<FormatProbe> probes = {
        {"Standard MIDI File", &formats::LooksLikeStandardMidiFile, &readStandardMidiFile},
        {"wave file", &LooksLikeWaveFile, &readWaveFile},
    };
    return probes;
}

std::string DescribeNonPiece(std::span<const std::uint8_t> bytes) {
    struct Kind {
        const char* form;
        const char* what;
    };
    static constexpr Kind kKinds[] = {
        {"DMSC", "a script"},
        {"DMCN", "a container"},
        {"DMAP", "an audiopath configuration"},
        {"DMST", "a style"},
        {"DMBD", "a band"},
        {"DMPR", "a chordmap"},
        {"DLS ", "an instrument collection (DLS)"},
        {"AASY", "a style (DirectX 6 form)"},
    };
    const std::uint32_t type = RiffFormType(bytes);
    // The segment of the DirectX 6 family: no file of it has been seen to
    // establish its layout (docs/formats/aase-section.md).
    if (type == ByteReader::fourCC("AASE"))
        return "a DirectX 6 section (RIFF 'AASE'), an older form of segment this player does not read";
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds)
        if (type == ByteReader::fourCC(k.form)) kind = &k;
    if (kind == nullptr) return {};
    std::string text = std::string(kind->what) + ", not a piece";

    // Scripts and containers hold segments: those are what can be played.
    const std::vector<std::string> segments = HeldSegmentNames(bytes);
    if (type != ByteReader::fourCC("DMCN") && type != ByteReader::fourCC("DMSC"))
        return text + ": open a segment that uses it";
    if (segments.empty()) return text + ": it holds no segment";
    std::string list;
    for (const auto& name : segments)
        list += (list.empty() ? "" : ", ") + name;
    return text + ": it holds the segment" + (segments.size() == 1 ? " " : "s ") + list + "; load " +
           (segments.size() == 1 ? "it" : "one of them") + " by name";
}

std::vector<std::string> HeldSegmentNames(std::span<const std::uint8_t> bytes) {
    std::vector<std::string> names;
    for (const auto& s : formats::segment::ReadHeldSegments(bytes))
        names.push_back(s.name.empty() ? std::string("(unnamed)") : s.name);
    return names;
}

} // namespace qorn::platform
