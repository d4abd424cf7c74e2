// Writes a DLS collection as a SoundFont 2.01 file: the presets the one
// conversion (DescribePresets) gives, each instrument with its bank and
// program (drum kits in bank 128), one SoundFont instrument per preset, and
// the collection's waves as 16-bit mono samples.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/dls/DlsCollection.h"
#include "platform/instruments/DlsPresets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorn::instruments {

struct SoundFontFile {
    std::vector<std::uint8_t> bytes;
    std::size_t presets = 0;
    std::size_t samples = 0;
    // Why there are no bytes: more than the format's 16-bit indices reach.
    std::string error;
};

// What the file cannot hold as the collection plays goes to `lost`, each
// kind once, under `name` ("collection 'x.dls'"). `software` is the ISFT text.
SoundFontFile WriteSoundFont(const dls::Collection& collection, const CollectionPresets& presets,
                             const std::string& name, const std::string& software, formats::Diagnostics& lost);

} // namespace qorn::instruments
