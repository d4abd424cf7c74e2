// Reading RIFF trees (chunks, LIST and RIFF forms) over a ByteReader. Chunk
// sizes come from outside the program: a chunk that claims more than its
// parent holds is cut to what is there, nesting is bounded, and every
// problem is reported with the chunk and the byte offset it concerns.
#pragma once

#include "platform/formats/common/ByteReader.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/common/Limits.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorn::formats::riff {

inline constexpr std::uint32_t kRiff = ByteReader::fourCC("RIFF");
inline constexpr std::uint32_t kList = ByteReader::fourCC("LIST");

// Deeper trees than this are not produced by any authoring tool; refusing
// them keeps a hostile file from exhausting the stack.
inline constexpr int kMaxDepth = limits::kMaxRiffDepth;

struct Chunk {
    std::uint32_t id = 0;
    // The form or list type of a RIFF or LIST chunk, 0 for a plain chunk.
    std::uint32_t type = 0;
    // File offset of the chunk header.
    std::size_t offset = 0;
    // Nesting level: 0 for the chunks of the outermost body.
    int depth = 0;
    // The payload (after the type of a RIFF or LIST chunk).
    ByteReader body;
    // The size field claimed more than the parent holds.
    bool truncated = false;

    bool isList() const { return id == kRiff || id == kList; }
    // A RIFF or LIST of the given type.
    bool isForm(std::uint32_t formType) const { return isList() && type == formType; }
};

// "abcd" from a FourCC, with unprintable bytes as '?', for messages.
std::string FourCCText(std::uint32_t code);

// Steps through the chunks of one body.
class ChunkReader {
  public:
    ChunkReader() = default;
    explicit ChunkReader(ByteReader body, int depth = 0) : body_(body), depth_(depth) {}
    // The chunks inside a RIFF or LIST chunk; an empty reader with an error
    // when the tree is nested deeper than kMaxDepth.
    static ChunkReader childrenOf(const Chunk& parent);

    // The next chunk; false at the end of the body or when the next header
    // is damaged (error() then names it). Padding to even sizes is skipped.
    bool next(Chunk& out);

    const std::string& error() const { return error_; }
    // Adds the error, if any, to `diagnostics` as a warning.
    void reportTo(Diagnostics& diagnostics) const;
    int depth() const { return depth_; }

  private:
    ByteReader body_;
    int depth_ = 0;
    std::string error_;
    Diagnostic problem_;
};

// How reading one chunk header ended (see ReadChunk).
enum class ChunkStatus { Read, End, CutHeader, PastParent, NoListType };

// The next chunk of `body`, for readers that refuse damage instead of
// cutting it: a header cut short, a size past what the parent holds
// (`claimed` is then the size read) or a list without its type is not
// read. ChunkReader::next is the forgiving form of the same step.
ChunkStatus ReadChunk(ByteReader& body, int depth, Chunk& out, std::uint32_t& claimed);
// The forgiving step for readers that keep what a damaged chunk holds: a
// size past the parent is cut to what the parent holds (`out.truncated`
// tells, `claimed` is the size read) and the chunk is read.
ChunkStatus ReadChunkCut(ByteReader& body, int depth, Chunk& out, std::uint32_t& claimed);

// Message text "<what> in 'abcd' at offset N".
std::string ChunkError(const std::string& what, const Chunk& chunk);
// The same as a report: `what` happened in the chunk, at its offset.
Diagnostic ChunkDiagnostic(const std::string& what, const Chunk& chunk, Severity severity = Severity::Warning);
void Warn(Diagnostics& diagnostics, const std::string& what, const Chunk& chunk);

} // namespace qorn::formats::riff
