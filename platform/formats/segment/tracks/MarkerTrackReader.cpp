// Marker track: LIST 'MARK' holding 'vals' (where the segment itself may be
// started when cued to another's rhythm) and 'play' (where another segment
// may start): each an array chunk of times. Only the play markers change
// what this player plays, as the start of trigger items that wait for one.
#include "ExtraTracks.h"
#include "TrackClasses.h"
#include "platform/formats/riff/RiffArray.h"

#include <algorithm>

namespace qorn::formats::segment {

void ReadMarkerTrack(std::span<const std::uint8_t> raw, std::vector<std::int32_t>& out, Diagnostics& warnings) {
    riff::ChunkReader top{ByteReader(raw)};
    riff::Chunk form;
    if (!top.next(form) || !form.isForm(kMarkerList)) return;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id != ByteReader::fourCC("play")) continue;
        riff::ArrayChunk items;
        std::string error;
        if (!items.open(c, 4, &error)) {
            warnings.push_back(error);
            continue;
        }
        for (std::size_t i = 0; i < items.count(); ++i) {
            ByteReader r = items.item(i);
            std::uint32_t time = 0;
            r.readU32LE(time);
            out.push_back(static_cast<std::int32_t>(time));
        }
    }
    chunks.reportTo(warnings);
    std::sort(out.begin(), out.end());
}

} // namespace qorn::formats::segment
