// The resolver a loader uses for one segment file: embedded collections are
// read from memory (or found in the cache by GUID), references are looked
// up in the segment's own folder (file names compared without case), then
// by GUID among the collections the cache already holds and those of the
// folder (whatever their file names), then by name in the cache.
#pragma once

#include "ObjectCache.h"
#include "ReferenceResolver.h"
#include "platform/formats/common/Limits.h"

#include <filesystem>
#include <string>

namespace qorn::formats::segment {

// Files larger than this are not read as referenced objects.
inline constexpr std::uintmax_t kMaxReferencedFileBytes = limits::kMaxFileBytes;

class FolderReferenceResolver : public ReferenceResolver {
  public:
    // `segmentPath` is the file being loaded: its folder is searched, and a
    // reference back to it is refused.
    FolderReferenceResolver(std::filesystem::path segmentPath, ObjectCache& cache);

    std::shared_ptr<const dls::Collection> embeddedCollection(const EmbeddedObject& object,
                                                              std::string* damage) const override;
    std::shared_ptr<const dls::Collection> findCollection(const ObjectReference& ref,
                                                          std::string* damage) const override;
    std::shared_ptr<const std::vector<std::uint8_t>> findFileBytes(const ObjectReference& ref) const override;

    // The file a reference names in the segment's folder ('\' separated
    // relative names and any case accepted); empty when there is none or it
    // is the segment itself.
    std::filesystem::path locate(const ObjectReference& ref) const;

  private:
    std::filesystem::path segment_;
    std::filesystem::path folder_;
    std::string segmentKey_;
    ObjectCache& cache_;
};

// The whole file, or null when it cannot be read or exceeds `maxBytes`.
std::shared_ptr<const std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                               std::uintmax_t maxBytes);

// Path, size and modification time: a cache key that changes when the file does.
std::string FileIdentity(const std::filesystem::path& path);

} // namespace qorn::formats::segment
