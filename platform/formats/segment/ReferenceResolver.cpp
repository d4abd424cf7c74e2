#include "ReferenceResolver.h"

#include "platform/formats/dls/DlsReader.h"

namespace qorn::formats::segment {

std::shared_ptr<const dls::Collection> ReadCollectionBytes(std::span<const std::uint8_t> bytes, std::string* error) {
    if (!dls::LooksLikeDlsCollection(bytes)) {
        if (error) *error = "not an instrument collection";
        return nullptr;
    }
    dls::DlsReadResult result = dls::ReadDlsCollection(bytes);
    if (!result.ok() && error && result.error) *error = result.error->text();
    return result.collection;
}

std::shared_ptr<const dls::Collection> EmbeddedOnlyResolver::embeddedCollection(const EmbeddedObject& object) const {
    return ReadCollectionBytes(object.bytes, nullptr);
}

} // namespace qorn::formats::segment
