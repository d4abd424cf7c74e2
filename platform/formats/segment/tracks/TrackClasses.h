// Class identifiers and data chunk names of the track kinds beyond notes,
// bands and tempo. A track is recognised by either, since some writers
// leave the chunk names in the track header empty and others use classes
// of their own for the same data.
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/formats/common/ByteReader.h"

namespace qorn::formats::segment {

inline constexpr platform::GUID kMuteTrackClass = {
    0xD2AC2898, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr platform::GUID kWaveTrackClass = {
    0xEED36461, 0x9EA5, 0x11D3, {0x9B, 0xD1, 0x00, 0x80, 0xC7, 0x15, 0x0A, 0x74}};
inline constexpr platform::GUID kSegmentTriggerTrackClass = {
    0xBAE4D665, 0x4EA1, 0x11D3, {0x8B, 0xDA, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6}};
inline constexpr platform::GUID kLyricsTrackClass = {
    0x995C1CF5, 0x54FF, 0x11D3, {0x8B, 0xDA, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6}};
inline constexpr platform::GUID kMarkerTrackClass = {
    0x55A8FD00, 0x4288, 0x11D3, {0x9B, 0xD1, 0x8A, 0x0D, 0x61, 0xC8, 0x88, 0x35}};
inline constexpr platform::GUID kParamControlTrackClass = {
    0x4BE0537B, 0x5C19, 0x11D3, {0x8B, 0xDC, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6}};
inline constexpr platform::GUID kScriptTrackClass = {
    0x4108FA85, 0x3586, 0x11D3, {0x8B, 0xD7, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6}};
// The class a reference to a wave names.
inline constexpr platform::GUID kWaveClass = {
    0x8A667154, 0xF9CB, 0x11D2, {0xAD, 0x8A, 0x00, 0x60, 0xB0, 0x57, 0x5A, 0xBC}};

inline constexpr std::uint32_t kWaveTrackList = ByteReader::fourCC("wavt");
inline constexpr std::uint32_t kMuteChunk = ByteReader::fourCC("mute");
inline constexpr std::uint32_t kSegmentTriggerList = ByteReader::fourCC("segt");
inline constexpr std::uint32_t kMarkerList = ByteReader::fourCC("MARK");

} // namespace qorn::formats::segment
