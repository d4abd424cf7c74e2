#include "RiffChunk.h"

namespace qorn::formats::riff {

std::string FourCCText(std::uint32_t code) {
    std::string s(4, '?');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((code >> (8 * (3 - i))) & 0xFFu);
        if (c >= 0x20 && c < 0x7F) s[static_cast<std::size_t>(i)] = c;
    }
    return s;
}

namespace {
std::string NameOf(const Chunk& chunk) {
    std::string name = FourCCText(chunk.id);
    if (chunk.isList()) name += " " + FourCCText(chunk.type);
    return name;
}
} // namespace

std::string ChunkError(const std::string& what, const Chunk& chunk) {
    return ChunkDiagnostic(what, chunk).text();
}

Diagnostic ChunkDiagnostic(const std::string& what, const Chunk& chunk, Severity severity) {
    return {severity, NameOf(chunk), {}, chunk.offset, what};
}

void Warn(Diagnostics& diagnostics, const std::string& what, const Chunk& chunk) {
    diagnostics.add(ChunkDiagnostic(what, chunk));
}

void ChunkReader::reportTo(Diagnostics& diagnostics) const {
    if (!error_.empty()) diagnostics.add(problem_);
}

ChunkReader ChunkReader::childrenOf(const Chunk& parent) {
    if (parent.depth + 1 > kMaxDepth) {
        ChunkReader r;
        r.depth_ = parent.depth + 1;
        r.problem_ = ChunkDiagnostic("nesting deeper than " + std::to_string(kMaxDepth) + " levels", parent);
        r.error_ = r.problem_.text();
        return r;
    }
    return ChunkReader(parent.body, parent.depth + 1);
}

namespace {

// One step for both forms: `strict` refuses what the forgiving form cuts.
ChunkStatus Step(ByteReader& body, int depth, Chunk& out, std::uint32_t& claimed, bool strict) {
    if (body.atEnd()) return ChunkStatus::End;
    Chunk c;
    c.offset = body.fileOffset();
    c.depth = depth;
    out = c;
    if (body.remaining() < 8) return ChunkStatus::CutHeader;
    std::uint32_t size = 0;
    body.readFourCC(c.id);
    body.readU32LE(size);
    claimed = size;
    if (size > body.remaining()) {
        out = c;
        if (strict) return ChunkStatus::PastParent;
        c.truncated = true;
        size = static_cast<std::uint32_t>(body.remaining());
    }
    ByteReader data = body.sub(size);
    if ((size & 1u) != 0 && !body.atEnd()) body.skip(1);
    if (c.isList()) {
        // A list too short for its type is handed out typeless, so callers
        // skip it like any unknown chunk.
        if (data.remaining() >= 4)
            data.readFourCC(c.type);
        else if (strict) {
            out = c;
            return ChunkStatus::NoListType;
        }
        c.body = data.sub(data.remaining());
    } else {
        c.body = data;
    }
    out = c;
    return ChunkStatus::Read;
}

} // namespace

ChunkStatus ReadChunk(ByteReader& body, int depth, Chunk& out, std::uint32_t& claimed) {
    return Step(body, depth, out, claimed, true);
}

ChunkStatus ReadChunkCut(ByteReader& body, int depth, Chunk& out, std::uint32_t& claimed) {
    return Step(body, depth, out, claimed, false);
}

bool ChunkReader::next(Chunk& out) {
    std::uint32_t claimed = 0;
    Chunk c;
    if (Step(body_, depth_, c, claimed, false) == ChunkStatus::Read) {
        out = c;
        return true;
    }
    // A few stray bytes after the last chunk are tolerated (some writers
    // pad bodies oddly); nothing more can be read from them.
    body_.skip(body_.remaining());
    return false;
}

} // namespace qorn::formats::riff
