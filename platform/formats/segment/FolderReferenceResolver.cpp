#include "FolderReferenceResolver.h"

#include "EmbeddedObjects.h"
#include "SegmentGuids.h"
#include "platform/formats/common/FileBytes.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsCollection.h"
#include "platform/formats/riff/RiffChunk.h"
#include "platform/formats/riff/RiffValues.h"

#include <algorithm>
#include <fstream>
#include <optional>

namespace qorn::formats::segment {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxFolderEntries = limits::kMaxFolderEntries;

// Finds `name` among the entries of `folder`, exactly or else ignoring case.
fs::path FindEntry(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    const fs::path exact = folder / name;
    if (fs::is_regular_file(exact, ec)) return exact;
    fs::directory_iterator it(folder, ec);
    std::size_t seen = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (++seen > kMaxFolderEntries) break;
        const std::string entry = it->path().filename().string();
        if (EqualsIgnoringCase(entry, name)) return it->path();
    }
    return {};
}

// The GUID a collection file gives itself: its 'dlid' lies among the chunks
// before the instruments, so the head of the file is enough.
std::optional<platform::GUID> CollectionFileGuid(const fs::path& path) {
    constexpr std::size_t kHeadBytes = 4096;
    std::vector<std::uint8_t> head(kHeadBytes);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    ByteReader r(head);
    std::uint32_t id = 0, size = 0, form = 0;
    if (!r.readFourCC(id) || id != riff::kRiff || !r.readU32LE(size) || !r.readFourCC(form) ||
        form != kCollectionFormType)
        return std::nullopt;
    riff::ChunkReader chunks(r.sub(r.remaining()));
    riff::Chunk c;
    while (chunks.next(c)) {
        ByteReader body = c.body;
        platform::GUID guid{};
        if (c.id == ByteReader::fourCC("dlid") && riff::ReadGuid(body, guid)) return guid;
    }
    return std::nullopt;
}

// The collection file of `folder` that gives itself `guid`, whatever its
// name, as DirectMusic's loader finds the objects of a folder it has
// scanned: a collection renamed after the style that names it still plays.
fs::path FindCollectionByGuid(const fs::path& folder, const platform::GUID& guid) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    std::size_t seen = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (++seen > kMaxFolderEntries) break;
        if (!EqualsIgnoringCase(it->path().extension().string(), ".dls") || !it->is_regular_file(ec)) continue;
        if (const auto found = CollectionFileGuid(it->path()); found && *found == guid) return it->path();
    }
    return {};
}

bool IsCollectionReference(const ObjectReference& ref) {
    return (ref.validData & ObjectReference::kClass) == 0 || ref.classId == kCollectionClass;
}

} // namespace

std::shared_ptr<const std::vector<std::uint8_t>> ReadWholeFile(const fs::path& path, std::uintmax_t maxBytes) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    if (ReadFileBytes(path.string(), maxBytes, *bytes) != FileReadResult::Ok) return nullptr;
    return bytes;
}

std::string FileIdentity(const fs::path& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    std::string key = (ec ? path : canonical).string();
    const auto size = fs::file_size(path, ec);
    key += '|' + std::to_string(ec ? 0 : size);
    const auto time = fs::last_write_time(path, ec);
    key += '|' + std::to_string(ec ? 0 : time.time_since_epoch().count());
    return key;
}

FolderReferenceResolver::FolderReferenceResolver(fs::path segmentPath, ObjectCache& cache)
    : segment_(std::move(segmentPath)), folder_(segment_.parent_path()), segmentKey_(FileIdentity(segment_)),
      cache_(cache) {
    if (folder_.empty()) folder_ = ".";
}

fs::path FolderReferenceResolver::locate(const ObjectReference& ref) const {
    if (ref.file.empty()) return {};
    // Relative names written on another system: folders separated by '\'.
    std::string relative = ref.file;
    for (auto& ch : relative)
        if (ch == '\\') ch = '/';
    fs::path found;
    std::error_code ec;
    // A full path written on this system.
    if ((ref.validData & ObjectReference::kFullPath) && relative.front() == '/' && fs::is_regular_file(relative, ec))
        found = relative;
    if (found.empty() && relative.front() != '/' && relative.find(':') == std::string::npos &&
        fs::is_regular_file(folder_ / relative, ec))
        found = folder_ / relative;
    if (found.empty()) found = FindEntry(folder_, BaseFileName(relative));
    if (found.empty()) return {};
    if (fs::equivalent(found, segment_, ec)) return {}; // a file naming itself
    return found;
}

std::shared_ptr<const dls::Collection> FolderReferenceResolver::embeddedCollection(const EmbeddedObject& object,
                                                                                   std::string* damage) const {
    const std::string key = segmentKey_ + '@' + std::to_string(object.fileOffset);
    if (auto hit = cache_.collectionByKey(key)) return hit;
    auto collection = ReadCollectionBytes(object.bytes, damage);
    cache_.addCollection(key, object.hasGuid ? &object.guid : nullptr, object.name, collection);
    return collection;
}

std::shared_ptr<const dls::Collection> FolderReferenceResolver::findCollection(const ObjectReference& ref,
                                                                               std::string* damage) const {
    if (!IsCollectionReference(ref)) return nullptr;
    auto read = [&](const fs::path& path) -> std::shared_ptr<const dls::Collection> {
        const std::string key = FileIdentity(path);
        if (auto hit = cache_.collectionByKey(key)) return hit;
        auto bytes = ReadWholeFile(path, kMaxReferencedFileBytes);
        auto collection = bytes ? ReadCollectionBytes(*bytes, damage) : nullptr;
        if (collection) {
            // Known by its own GUID and name, else by those of the reference.
            const platform::GUID* guid =
                collection->guid ? &*collection->guid : (ref.hasObject ? &ref.object : nullptr);
            cache_.addCollection(key, guid, collection->name.empty() ? ref.name : collection->name, collection);
        }
        return collection;
    };
    if (const fs::path path = locate(ref); !path.empty())
        if (auto collection = read(path)) return collection;
    if (ref.hasObject) {
        if (auto hit = cache_.collectionByGuid(ref.object)) return hit;
        if (const fs::path path = FindCollectionByGuid(folder_, ref.object); !path.empty())
            if (auto collection = read(path)) return collection;
    }
    return cache_.collectionByName(ref.name);
}

std::shared_ptr<const std::vector<std::uint8_t>>
FolderReferenceResolver::findFileBytes(const ObjectReference& ref) const {
    const fs::path path = locate(ref);
    if (path.empty()) return nullptr;
    const std::string key = FileIdentity(path);
    if (auto hit = cache_.fileByKey(key)) return hit;
    auto bytes = ReadWholeFile(path, kMaxReferencedFileBytes);
    cache_.addFile(key, bytes);
    return bytes;
}

} // namespace qorn::formats::segment
