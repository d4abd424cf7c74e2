#include "ObjectCache.h"

namespace qorn::formats::segment {

namespace {
template <typename Map> typename Map::mapped_type Find(const Map& map, const std::string& key) {
    auto it = map.find(key);
    return it == map.end() ? nullptr : it->second;
}
} // namespace

std::string ObjectCache::GuidKey(const platform::GUID& g) {
    return std::string(reinterpret_cast<const char*>(&g), sizeof g);
}

void ObjectCache::clear() {
    byKey_.clear();
    byGuid_.clear();
    byName_.clear();
    files_.clear();
}

ObjectCache::CollectionPtr ObjectCache::collectionByKey(const std::string& key) const {
    return enabled_ ? Find(byKey_, key) : nullptr;
}

ObjectCache::CollectionPtr ObjectCache::collectionByGuid(const platform::GUID& guid) const {
    return enabled_ ? Find(byGuid_, GuidKey(guid)) : nullptr;
}

ObjectCache::CollectionPtr ObjectCache::collectionByName(const std::string& name) const {
    return enabled_ && !name.empty() ? Find(byName_, name) : nullptr;
}

void ObjectCache::addCollection(const std::string& key, const platform::GUID* guid, const std::string& name,
                                const CollectionPtr& collection) {
    if (!enabled_ || !collection) return;
    byKey_[key] = collection;
    if (guid) byGuid_[GuidKey(*guid)] = collection;
    if (!name.empty()) byName_[name] = collection;
}

ObjectCache::BytesPtr ObjectCache::fileByKey(const std::string& key) const {
    return enabled_ ? Find(files_, key) : nullptr;
}

void ObjectCache::addFile(const std::string& key, const BytesPtr& bytes) {
    if (enabled_ && bytes) files_[key] = bytes;
}

} // namespace qorn::formats::segment
