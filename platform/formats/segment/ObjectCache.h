// The loader's cache of objects that segments reference: instrument
// collections by path, by GUID and by name, and the bytes of other
// referenced files by path. A second load of the same piece finds its
// collections here and shares them instead of reading them again.
// Used on the loader's thread only.
#pragma once

#include "platform/com/ComTypes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qorn::dls {
struct Collection;
}

namespace qorn::formats::segment {

class ObjectCache {
  public:
    using CollectionPtr = std::shared_ptr<const dls::Collection>;
    using BytesPtr = std::shared_ptr<const std::vector<std::uint8_t>>;

    // While disabled nothing is stored and nothing is found.
    void setEnabled(bool enabled) {
        enabled_ = enabled;
        if (!enabled) clear();
    }
    bool enabled() const { return enabled_; }
    void clear();

    // `key` names where the collection came from: a file's path, or the
    // segment file and offset of an embedded one.
    CollectionPtr collectionByKey(const std::string& key) const;
    CollectionPtr collectionByGuid(const platform::GUID& guid) const;
    CollectionPtr collectionByName(const std::string& name) const;
    // Any of guid and name may be absent (null, empty).
    void addCollection(const std::string& key, const platform::GUID* guid, const std::string& name,
                       const CollectionPtr& collection);

    BytesPtr fileByKey(const std::string& key) const;
    void addFile(const std::string& key, const BytesPtr& bytes);

    std::size_t collectionCount() const { return byKey_.size(); }

  private:
    static std::string GuidKey(const platform::GUID& g);

    bool enabled_ = true;
    std::map<std::string, CollectionPtr> byKey_;
    std::map<std::string, CollectionPtr> byGuid_;
    std::map<std::string, CollectionPtr> byName_;
    std::map<std::string, BytesPtr> files_;
};

} // namespace qorn::formats::segment
