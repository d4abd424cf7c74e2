// Reads a DLS instrument collection (RIFF form `DLS `, Level 1 or 2) from
// bytes in memory. Every length and count in the file is checked against the
// chunk holding it; unknown chunks are skipped. A damaged file (cut short, a
// size or count that lies) keeps the instruments that are whole with all
// their waves; the collection then says what was wrong and what was lost.
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
// of its header in the input, and what is wrong in a whole sentence
// ("chunk 'LIST' at byte 852 runs past the end of the file").
using DlsError = formats::Diagnostic;

struct DlsReadResult {
    // Null when the file is not a collection or its damage left no
    // instrument whole.
    std::shared_ptr<const Collection> collection;
    std::optional<DlsError> error; // why there is no collection
    bool ok() const { return collection != nullptr; }
};

// Cheap test of the first 12 bytes: a RIFF form of type `DLS `.
bool LooksLikeDlsCollection(std::span<const std::uint8_t> bytes);

DlsReadResult ReadDlsCollection(std::span<const std::uint8_t> bytes);

// The warnings a collection in use gives, under `name` ("'x.dls'"): what
// its damage lost, and what of its articulation the synthesizer cannot
// play. Given once wherever a piece takes a collection into use.
void NoteCollection(const Collection& collection, const std::string& name, formats::Diagnostics& warnings);

} // namespace qorn::dls
