// Compressed waves for the DLS writer, shaped like those of DirectX
// collections: MPEG Layer 3 made with libsndfile's encoder (LAME), with the
// 'fact' and 'wavu' chunks the authoring tool writes beside them.
#pragma once

#include "tests/support/DlsWriter.h"

#include <cstdint>
#include <vector>

namespace qorn::testdls {

// Frames of silence LAME's encoder and an MPEG decoder put before the
// sound (576 + 529).
inline constexpr std::uint32_t kMp3Delay = 1105;

// MPEG Layer 3 bytes of mono 16-bit `samples` at a constant bit rate.
Bytes EncodeMp3(const std::vector<std::int16_t>& samples, std::uint32_t rate);

// A DLS wave holding them: 'fmt ' of format 0x0055 whose encoder delay is
// LAME's alone, 'fact', and a 'wavu' naming all the frames a decoder adds
// before the sound.
WaveSpec Mp3Wave(const std::vector<std::int16_t>& samples, std::uint32_t rate);

} // namespace qorn::testdls
