#include "ReferenceResolver.h"

#include "platform/formats/dls/DlsReader.h"

namespace qorn::formats::segment {

std::shared_ptr<const dls::Collection> ReadCollectionBytes(std::span<const std::uint8_t> bytes, std::string* error) {
    dls::DlsReadResult result = dls::ReadDlsCollection(bytes);
    if (!result.ok() && error && result.error) *error = result.error->message;
    return result.collection;
}

std::shared_ptr<const dls::Collection> EmbeddedOnlyResolver::embeddedCollection(const EmbeddedObject& object,
                                                                                std::string* damage) const {
    return ReadCollectionBytes(object.bytes, damage);
}

} // namespace qorn::formats::segment
