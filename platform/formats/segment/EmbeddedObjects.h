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
inline constexpr std::uint32_t kContainerFormType = ByteReader::fourCC("DMCN");
inline constexpr std::uint32_t kScriptFormType = ByteReader::fourCC("DMSC");

// Every object the form `root` (of the file `file`) carries, in file order.
void IndexEmbeddedObjects(const riff::Chunk& root, std::span<const std::uint8_t> file,
                          std::vector<EmbeddedObject>& objects, Diagnostics& warnings);
// The same for a whole segment file; nothing when it is not one.
void IndexEmbeddedObjects(std::span<const std::uint8_t> segmentFile, std::vector<EmbeddedObject>& objects);

// A segment that a script ('DMSC') or container ('DMCN') file holds:
// carried in it (a segment form, or a wave, which plays as a segment of one
// wave) or only named by it, to be found beside the file.
struct HeldSegment {
    // As the file lists it: its file name (or, lacking one, its own name).
    std::string name;
    bool carried = false;
    // The carried form, header included, and where it lies in the file.
    std::span<const std::uint8_t> bytes;
    std::size_t fileOffset = 0;
    // How one only named is found.
    ObjectReference reference;
};

// Whether `file` is a script or a container file.
bool IsScriptOrContainer(std::span<const std::uint8_t> file);
// The segments a script or container file holds, in file order; nothing for
// any other file.
std::vector<HeldSegment> ReadHeldSegments(std::span<const std::uint8_t> file);
// Every object a script or container file carries, for the segments it
// holds to find before they look outside it.
void IndexHeldObjects(std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& objects, Diagnostics& warnings);
// The segment called `name` (as listed, without case, with or without its
// extension), or -1.
int FindHeldSegment(const std::vector<HeldSegment>& segments, const std::string& name);

// The object a reference names among `objects` (of the given form type),
// by GUID, then file name (without case or folders), then name; -1 if none.
int MatchEmbedded(const ObjectReference& ref, std::uint32_t formType, const std::vector<EmbeddedObject>& objects);

// The last component of a stored file name ('\' or '/' separated).
std::string BaseFileName(const std::string& path);
// ASCII case-insensitive equality (file names in references are written on
// systems that ignore case).
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

} // namespace qorn::formats::segment
