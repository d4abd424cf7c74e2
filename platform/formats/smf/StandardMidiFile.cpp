#include "platform/formats/smf/StandardMidiFile.h"

#include "platform/formats/common/ByteReader.h"
#include "platform/formats/smf/SequenceAssembly.h"
#include "platform/formats/smf/TrackParser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qorn::formats {
namespace {

constexpr std::uint32_t kMTrk = ByteReader::fourCC("MTrk");
constexpr std::uint32_t kRiff = ByteReader::fourCC("RIFF");
constexpr std::uint32_t kRmid = ByteReader::fourCC("RMID");
constexpr std::uint32_t kData = ByteReader::fourCC("data");
constexpr std::uint32_t kDefaultTicksPerQuarter = 96;

bool HasTag(std::span<const std::uint8_t> bytes, std::size_t pos, const char* tag) {
    return pos <= bytes.size() && bytes.size() - pos >= 4 && std::memcmp(bytes.data() + pos, tag, 4) == 0;
}

// A chunk header that looks like one: four letters, digits or spaces, and
// room for the length.
bool PlausibleChunkAt(std::span<const std::uint8_t> bytes, std::size_t pos) {
    if (pos > bytes.size() || bytes.size() - pos < 8) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t c = bytes[pos + i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
        if (!ok) return false;
    }
    return true;
}

std::size_t FindTrackTag(std::span<const std::uint8_t> bytes, std::size_t from) {
    if (from >= bytes.size()) return bytes.size();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t found = text.find("MTrk", from);
    return found == std::string_view::npos ? bytes.size() : found;
}

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// The bytes of the MIDI file: the whole input, or the "data" chunk of a RIFF
// RMID file (cut at the end of the input when its length says more). Empty
// when neither is found; `where` is then the offset to blame.
struct Located {
    std::span<const std::uint8_t> bytes;
    std::size_t baseOffset = 0;
    bool found = false;
    std::string problem;
};

Located LocateMidiData(std::span<const std::uint8_t> bytes) {
    Located result;
    if (HasTag(bytes, 0, "MThd")) {
        result.bytes = bytes;
        result.found = true;
        return result;
    }
    ByteReader r(bytes);
    std::uint32_t riff = 0, riffSize = 0, form = 0;
    if (!r.readFourCC(riff) || riff != kRiff || !r.readU32LE(riffSize) || !r.readFourCC(form) || form != kRmid) {
        result.problem =
            bytes.empty() ? "empty file: no MThd chunk at byte 0" : "no MThd chunk and no RIFF RMID header at byte 0";
        return result;
    }
    // Walk the RIFF chunks; a broken RIFF size is ignored in favour of the
    // real end of the input.
    while (r.remaining() >= 8) {
        const std::size_t chunkStart = r.position();
        std::uint32_t id = 0, size = 0;
        r.readFourCC(id);
        r.readU32LE(size);
        if (id == kData) {
            result.baseOffset = r.position();
            result.bytes = r.rest().first(std::min<std::size_t>(size, r.remaining()));
            result.found = HasTag(result.bytes, 0, "MThd");
            if (!result.found)
                result.problem =
                    "RMID data chunk at byte " + std::to_string(chunkStart) + " does not start with an MThd chunk";
            return result;
        }
        if (!r.skip(std::size_t(size) + (size & 1u))) break;
    }
    result.problem = "RIFF RMID file has no data chunk";
    return result;
}

struct Header {
    std::uint16_t format = 1;
    std::uint16_t division = kDefaultTicksPerQuarter;
    std::size_t firstChunk = 0;
};

bool ReadHeader(std::span<const std::uint8_t> smf, Header& header, std::string& problem) {
    ByteReader r(smf);
    std::uint32_t id = 0, length = 0;
    r.readFourCC(id);
    if (!r.readU32BE(length) || r.remaining() < 6) {
        problem = "MThd chunk cut short at byte 0";
        return false;
    }
    std::uint16_t tracks = 0;
    if (length >= 6) {
        r.readU16BE(header.format);
        r.readU16BE(tracks); // the tracks present are read, whatever this says
        r.readU16BE(header.division);
    }
    // A header length that does not lead to a chunk is wrong; the standard
    // six bytes are assumed then.
    const std::size_t declaredEnd = 8 + std::size_t(length);
    if (declaredEnd <= smf.size() && PlausibleChunkAt(smf, declaredEnd)) {
        header.firstChunk = declaredEnd;
    } else {
        header.firstChunk = 14;
    }
    return true;
}

// Ticks per quarter (or per second for SMPTE timing) and the fixed tempo of
// SMPTE-timed pieces.
struct Timing {
    std::uint32_t ticksPerQuarter = kDefaultTicksPerQuarter;
    bool smpte = false;
    std::uint32_t smpteMicrosecondsPerQuarter = 1'000'000;
};

Timing TimingOf(std::uint16_t division) {
    Timing t;
    if ((division & 0x8000u) == 0) {
        t.ticksPerQuarter = division != 0 ? division : kDefaultTicksPerQuarter;
        return t;
    }
    t.smpte = true;
    const int framesPerSecond = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
    std::uint32_t ticksPerFrame = division & 0xFFu;
    if (ticksPerFrame == 0) ticksPerFrame = 1;
    if (framesPerSecond == 29) {
        // 29.97 frames per second: 30 frames of ticks in 1.001 seconds.
        t.ticksPerQuarter = 30 * ticksPerFrame;
        t.smpteMicrosecondsPerQuarter = 1'001'000;
    } else {
        t.ticksPerQuarter = static_cast<std::uint32_t>(framesPerSecond > 0 ? framesPerSecond : 25) * ticksPerFrame;
    }
    return t;
}

} // namespace

bool LooksLikeStandardMidiFile(std::span<const std::uint8_t> bytes) {
    return LocateMidiData(bytes).found;
}

bool ReadStandardMidiFile(std::span<const std::uint8_t> bytes, music::Sequence& out, std::string* error,
                          Diagnostics* warnings) {
    out = music::Sequence{};
    const Located located = LocateMidiData(bytes);
    if (!located.found) {
        SetError(error, located.problem);
        return false;
    }
    const auto smf = located.bytes;
    const std::size_t base = located.baseOffset;

    Header header;
    std::string problem;
    if (!ReadHeader(smf, header, problem)) {
        SetError(error, problem);
        return false;
    }
    const Timing timing = TimingOf(header.division);
    const bool sequential = header.format == 2;

    music::Sequence seq;
    seq.ticksPerQuarter = timing.ticksPerQuarter;
    // A channel event takes three bytes or more in a typical file; a guess
    // from the size saves regrowing, and the vector grows past it if needed.
    seq.events.reserve(smf.size() / 3);
    std::vector<std::size_t> trackStarts;
    std::uint32_t pieceEnd = 0;
    std::uint32_t nextOffset = 0; // format 2: where the next track starts

    std::size_t pos = header.firstChunk;
    while (pos < smf.size() && smf.size() - pos >= 8) {
        if (!PlausibleChunkAt(smf, pos)) {
            // Junk between chunks: carry on at the next track tag.
            pos = FindTrackTag(smf, pos + 1);
            continue;
        }
        ByteReader r(smf.subspan(pos));
        std::uint32_t id = 0, length = 0;
        r.readFourCC(id);
        r.readU32BE(length);
        const std::size_t dataStart = pos + 8;
        const std::size_t declaredEnd = dataStart + std::size_t(length);
        // The stated length is believed when it ends at the end of the data
        // or at another chunk; otherwise events decide where the chunk ends.
        const bool lengthTrusted =
            declaredEnd <= smf.size() && (declaredEnd == smf.size() || PlausibleChunkAt(smf, declaredEnd));

        if (id != kMTrk) {
            pos = lengthTrusted ? declaredEnd : FindTrackTag(smf, dataStart);
            continue;
        }

        smf::TrackOptions options;
        options.tickOffset = sequential ? nextOffset : 0;
        options.keepTempo = !timing.smpte;
        options.stopAtTrackTag = !lengthTrusted;
        const std::size_t limit = lengthTrusted ? declaredEnd : smf.size();
        trackStarts.push_back(seq.events.size());
        const auto track = smf::ParseTrack(smf.subspan(dataStart, limit - dataStart), options, seq);
        pieceEnd = std::max(pieceEnd, track.endTick);
        if (sequential) nextOffset = track.endTick;
        if (track.badDataAt != 0 && warnings)
            warnings->push_back(
                "track " + std::to_string(trackStarts.size()) + ": a data byte of 0x80 or more at byte " +
                std::to_string(base + dataStart + track.badDataAt) + "; the rest of the track is dropped");

        if (lengthTrusted) {
            pos = declaredEnd;
        } else {
            const std::size_t stop = dataStart + track.endPosition;
            pos = (stop >= smf.size() || PlausibleChunkAt(smf, stop)) ? stop : FindTrackTag(smf, stop);
        }
    }

    if (trackStarts.empty()) {
        SetError(error, "no MTrk chunk after the MThd chunk at byte " + std::to_string(base));
        return false;
    }

    seq.events = smf::MergeTracks(std::move(seq.events), trackStarts);
    if (!seq.events.empty()) pieceEnd = std::max(pieceEnd, seq.events.back().tick);
    seq.lengthTicks = pieceEnd;
    smf::CleanUpNotes(seq.events, pieceEnd);

    if (timing.smpte) {
        seq.tempos = {music::TempoChange{0, timing.smpteMicrosecondsPerQuarter}};
    } else {
        smf::NormalizeTempoMap(seq.tempos);
    }
    smf::SortSysex(seq.sysex);
    std::stable_sort(seq.markers.begin(), seq.markers.end(),
                     [](const music::TextMarker& a, const music::TextMarker& b) { return a.tick < b.tick; });
    seq.sysexBytes.shrink_to_fit();
    if (!seq.sysex.empty()) seq.lengthTicks = std::max(seq.lengthTicks, seq.sysex.back().tick);
    out = std::move(seq);
    return true;
}

} // namespace qorn::formats
