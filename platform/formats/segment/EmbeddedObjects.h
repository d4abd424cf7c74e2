// The objects a segment carries inside itself and how references are
// matched against them.
#pragma once

#include "ReferenceResolver.h"
#include "platform/formats/riff/RiffChunk.h"

#include <span>
#include <string>
#include <vector>

namespace qorn::formats::segment {

// Collects collections and bands stored in a 'DMCN' container form.
void CollectContainer(const riff::Chunk& form, std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& objects,
                      std::vector<std::string>& warnings);

// Describes a RIFF form found in the file (its GUID and name when it is a
// collection or band); false for forms of other types.
bool DescribeEmbedded(const riff::Chunk& form, std::span<const std::uint8_t> file, EmbeddedObject& out);

// The object a reference names among `objects` (of the given form type),
// by GUID, then file name (without case or folders), then name; -1 if none.
int MatchEmbedded(const ObjectReference& ref, std::uint32_t formType, const std::vector<EmbeddedObject>& objects);

// The last component of a stored file name ('\' or '/' separated).
std::string BaseFileName(const std::string& path);
// ASCII case-insensitive equality (file names in references are written on
// systems that ignore case).
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

} // namespace qorn::formats::segment
