// The objects a segment carries inside itself (directly in its form or in
// its 'DMCN' container): collections, bands, waves, segments and styles,
// and how references are matched against them. One index for every reader
// that looks for an object in the file before looking outside it.
#pragma once

#include "ReferenceResolver.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <span>
#include <string>
#include <vector>

namespace qorn::formats::segment {

inline constexpr std::uint32_t kCollectionFormType = ByteReader::fourCC("DLS ");
inline constexpr std::uint32_t kBandFormType = ByteReader::fourCC("DMBD");
inline constexpr std::uint32_t kWaveForm = ByteReader::fourCC("WAVE");
inline constexpr std::uint32_t kSegmentFormType = ByteReader::fourCC("DMSG");
inline constexpr std::uint32_t kStyleFormType = ByteReader::fourCC("DMST");

// Every object the form `root` (of the file `file`) carries, in file order.
void IndexEmbeddedObjects(const riff::Chunk& root, std::span<const std::uint8_t> file,
                          std::vector<EmbeddedObject>& objects, Diagnostics& warnings);
// The same for a whole segment file; nothing when it is not one.
void IndexEmbeddedObjects(std::span<const std::uint8_t> segmentFile, std::vector<EmbeddedObject>& objects);

// An entry of a 'DMCN' container (a container file, or the one a script
// carries), carried in it or only named by it.
struct ContainerEntry {
    bool hasClass = false;
    platform::GUID classId{}; // the class of object it holds
    // Its file name (or, lacking one, its own name).
    std::string name;
    bool carried = false;
};
// The entries of the container form `container` of the file `file`.
std::vector<ContainerEntry> ReadContainerEntries(const riff::Chunk& container, std::span<const std::uint8_t> file);

// The object a reference names among `objects` (of the given form type),
// by GUID, then file name (without case or folders), then name; -1 if none.
int MatchEmbedded(const ObjectReference& ref, std::uint32_t formType, const std::vector<EmbeddedObject>& objects);

// The last component of a stored file name ('\' or '/' separated).
std::string BaseFileName(const std::string& path);
// ASCII case-insensitive equality (file names in references are written on
// systems that ignore case).
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

} // namespace qorn::formats::segment
