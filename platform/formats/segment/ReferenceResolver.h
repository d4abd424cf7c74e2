// How a segment reader finds the objects its bands name. The reader matches
// references against objects stored inside the segment first and asks the
// resolver to turn those into collections; everything else is looked up
// through the resolver (the loader implements it over the segment's folder
// and the objects it already holds). Lookups that fail answer null, and say
// in `damage` what is wrong with a collection that was found but cannot be
// used (empty when there was none to find): the part then plays from the
// General MIDI set or not at all (MissingCollection).
#pragma once

#include "ObjectReference.h"
#include "platform/com/ComTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qorn::dls {
struct Collection;
}

namespace qorn::formats::segment {

// An object carried inside the segment file (in a 'DMCN' container or
// directly in the segment form).
struct EmbeddedObject {
    std::uint32_t formType = 0; // 'DLS ', 'DMBD', ...
    bool hasGuid = false;
    platform::GUID guid{};
    std::string name;
    // File name the container's own reference gives the object, if any.
    std::string file;
    // The whole RIFF form, header included.
    std::span<const std::uint8_t> bytes;
    std::size_t fileOffset = 0;
};

class ReferenceResolver {
  public:
    virtual ~ReferenceResolver() = default;

    // A collection stored inside the segment; may be answered from a cache
    // (by the collection's GUID) without reading the bytes again.
    virtual std::shared_ptr<const dls::Collection> embeddedCollection(const EmbeddedObject& object,
                                                                      std::string* damage) const = 0;
    // A collection outside the segment, or null.
    virtual std::shared_ptr<const dls::Collection> findCollection(const ObjectReference& ref,
                                                                  std::string* damage) const = 0;
    // The bytes of another file a reference names (a band file), or null.
    virtual std::shared_ptr<const std::vector<std::uint8_t>> findFileBytes(const ObjectReference& ref) const = 0;
};

// Finds nothing outside the segment and reads embedded collections with the
// collection reader, without caching.
class EmbeddedOnlyResolver : public ReferenceResolver {
  public:
    std::shared_ptr<const dls::Collection> embeddedCollection(const EmbeddedObject& object,
                                                              std::string* damage) const override;
    std::shared_ptr<const dls::Collection> findCollection(const ObjectReference&, std::string*) const override {
        return nullptr;
    }
    std::shared_ptr<const std::vector<std::uint8_t>> findFileBytes(const ObjectReference&) const override {
        return nullptr;
    }
};

// Reads a collection with the DLS reader; null (and what is wrong) when
// the bytes hold no usable collection.
std::shared_ptr<const dls::Collection> ReadCollectionBytes(std::span<const std::uint8_t> bytes, std::string* error);

} // namespace qorn::formats::segment
