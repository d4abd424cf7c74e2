#include "HostedReferenceResolver.h"

#include "EmbeddedObjects.h"
#include "SegmentGuids.h"
#include "platform/formats/segment/tracks/TrackClasses.h"

namespace qorn::formats::segment {

namespace {

constexpr std::uint32_t kStyleClassData1 = 0xD2AC288A;

// The forms a reference of its class may name; every kind but collections
// when it names no class.
std::vector<std::uint32_t> FormsFor(const ObjectReference& ref) {
    if ((ref.validData & ObjectReference::kClass) == 0)
        return {kStyleFormType, kBandFormType, kWaveForm, kSegmentFormType};
    if (ref.classId.Data1 == kStyleClassData1) return {kStyleFormType};
    if (ref.classId == kBandClass) return {kBandFormType};
    if (ref.classId == kWaveClass) return {kWaveForm};
    if (ref.classId == kSegmentClass) return {kSegmentFormType, kWaveForm};
    return {};
}

} // namespace

HostedReferenceResolver::HostedReferenceResolver(const ReferenceResolver& outer, std::vector<EmbeddedObject> objects,
                                                 std::size_t segmentOffset)
    : outer_(outer), objects_(std::move(objects)), segmentOffset_(segmentOffset) {}

std::shared_ptr<const dls::Collection> HostedReferenceResolver::embeddedCollection(const EmbeddedObject& object,
                                                                                   std::string* damage) const {
    EmbeddedObject inFile = object;
    inFile.fileOffset += segmentOffset_;
    return outer_.embeddedCollection(inFile, damage);
}

std::shared_ptr<const dls::Collection> HostedReferenceResolver::findCollection(const ObjectReference& ref,
                                                                               std::string* damage) const {
    const bool collection = (ref.validData & ObjectReference::kClass) == 0 || ref.classId == kCollectionClass;
    if (const int e = collection ? MatchEmbedded(ref, kCollectionFormType, objects_) : -1; e >= 0)
        return outer_.embeddedCollection(objects_[static_cast<std::size_t>(e)], damage);
    return outer_.findCollection(ref, damage);
}

std::shared_ptr<const std::vector<std::uint8_t>>
HostedReferenceResolver::findFileBytes(const ObjectReference& ref) const {
    for (const std::uint32_t form : FormsFor(ref)) {
        const int e = MatchEmbedded(ref, form, objects_);
        if (e < 0) continue;
        const EmbeddedObject& o = objects_[static_cast<std::size_t>(e)];
        auto& copy = copies_[o.fileOffset];
        if (!copy) copy = std::make_shared<const std::vector<std::uint8_t>>(o.bytes.begin(), o.bytes.end());
        return copy;
    }
    return outer_.findFileBytes(ref);
}

} // namespace qorn::formats::segment
