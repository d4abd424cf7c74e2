// A reference from one music file to another object (DMRF list): the
// object's class and whichever of GUID, name, file, category and version
// the writer stored.
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/formats/riff/RiffChunk.h"

#include <cstdint>
#include <string>

namespace qorn::formats::segment {

struct ObjectReference {
    // Which fields the writer marked valid.
    static constexpr std::uint32_t kObject = 0x01;
    static constexpr std::uint32_t kClass = 0x02;
    static constexpr std::uint32_t kName = 0x04;
    static constexpr std::uint32_t kCategory = 0x08;
    static constexpr std::uint32_t kFileName = 0x10;
    static constexpr std::uint32_t kFullPath = 0x20;
    static constexpr std::uint32_t kVersion = 0x80;

    platform::GUID classId{};
    std::uint32_t validData = 0;
    platform::GUID object{};
    bool hasObject = false;
    // UTF-8.
    std::string name;
    std::string file;
    std::string category;
    std::uint64_t version = 0;
};

// Reads the body of a LIST 'DMRF'. Fields present in the list are taken
// even when the flags do not mention them (writers disagree about flags).
bool ReadObjectReference(const riff::Chunk& list, ObjectReference& out, std::string* error);

} // namespace qorn::formats::segment
