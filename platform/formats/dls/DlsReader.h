// Reads a DLS instrument collection (RIFF form `DLS `, Level 1 or 2) from
// bytes in memory. Every length and count in the file is checked against the
// chunk holding it; unknown chunks are skipped.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/dls/DlsCollection.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace qorn::dls {

// The chunk at fault (its four-character code as `what`), the byte offset
// of its header in the input, and why the collection is refused.
using DlsError = formats::Diagnostic;

struct DlsReadResult {
    std::shared_ptr<const Collection> collection; // null on error
    std::optional<DlsError> error;
    bool ok() const { return collection != nullptr; }
};

// Cheap test of the first 12 bytes: a RIFF form of type `DLS `.
bool LooksLikeDlsCollection(std::span<const std::uint8_t> bytes);

DlsReadResult ReadDlsCollection(std::span<const std::uint8_t> bytes);

} // namespace qorn::dls
