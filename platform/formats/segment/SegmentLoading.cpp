#include "SegmentLoading.h"

#include "FolderReferenceResolver.h"
#include "SegmentReader.h"
#include "SegmentSequence.h"

namespace qorn::formats::segment {

bool LoadSegmentSequence(std::span<const std::uint8_t> bytes, const std::string& path, ObjectCache& cache,
                         std::shared_ptr<const music::Sequence>& out, std::string* error,
                         std::vector<std::string>* warnings) {
    FolderReferenceResolver resolver(path, cache);
    SegmentFile file;
    if (!ReadSegmentFile(bytes, file, resolver, error)) return false;
    auto sequence = std::make_shared<music::Sequence>();
    std::vector<std::string> notes = std::move(file.warnings);
    BuildSegmentSequence(file, *sequence, &notes);
    if (warnings) *warnings = std::move(notes);
    out = std::move(sequence);
    return true;
}

} // namespace qorn::formats::segment
