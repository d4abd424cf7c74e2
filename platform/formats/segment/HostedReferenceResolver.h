// The resolver of a segment held in a script or container: what the segment
// names is looked for first among the objects the same file carries, then as
// for any segment of that file's folder (`outer`).
#pragma once

#include "ReferenceResolver.h"

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

namespace qorn::formats::segment {

class HostedReferenceResolver : public ReferenceResolver {
  public:
    // `objects`: what the file carries (IndexHeldObjects), offsets in the
    // file; `segmentOffset`: where the segment's own form lies in it, so
    // that what the segment itself carries is known by its place in the file.
    HostedReferenceResolver(const ReferenceResolver& outer, std::vector<EmbeddedObject> objects,
                            std::size_t segmentOffset);

    std::shared_ptr<const dls::Collection> embeddedCollection(const EmbeddedObject& object,
                                                              std::string* damage) const override;
    std::shared_ptr<const dls::Collection> findCollection(const ObjectReference& ref,
                                                          std::string* damage) const override;
    std::shared_ptr<const std::vector<std::uint8_t>> findFileBytes(const ObjectReference& ref) const override;

  private:
    const ReferenceResolver& outer_;
    std::vector<EmbeddedObject> objects_;
    std::size_t segmentOffset_;
    // Carried objects handed out as bytes, each copied once.
    mutable std::map<std::size_t, std::shared_ptr<const std::vector<std::uint8_t>>> copies_;
};

} // namespace qorn::formats::segment
