// Segment trigger track: LIST 'segt' holding a header 'sgth' (flags) and
// LIST 'lsgl' of LIST 'lseg' items, each an item header 'sgih' (logical
// time, physical time, play flags, flags), a reference to the segment
// (LIST 'DMRF') or the segment itself; for a motif the reference names its
// style, and 'snam' the motif.
#include "ExtraTracks.h"
#include "TrackClasses.h"
#include "platform/formats/riff/RiffValues.h"

namespace qorn::formats::segment {

namespace {

constexpr std::uint32_t kItemList = ByteReader::fourCC("lsgl");
constexpr std::uint32_t kItem = ByteReader::fourCC("lseg");
constexpr std::uint32_t kSegmentForm = ByteReader::fourCC("DMSG");

void ReadItem(const riff::Chunk& list, std::span<const std::uint8_t> raw, std::vector<TriggerItem>& out,
              Diagnostics& warnings) {
    TriggerItem item;
    bool header = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("sgih")) {
            ByteReader r = c.body;
            std::uint32_t logical = 0, physical = 0;
            header = r.readU32LE(logical) && r.readU32LE(physical);
            r.readU32LE(item.playFlags);
            r.readU32LE(item.flags);
            item.time = static_cast<std::int32_t>(physical);
        } else if (c.isForm(ByteReader::fourCC("DMRF"))) {
            std::string error;
            item.hasReference = ReadObjectReference(c, item.reference, &error);
            if (!item.hasReference) warnings.push_back(error);
        } else if (c.id == ByteReader::fourCC("snam")) {
            item.motif = riff::ReadUtf16Text(c.body);
        } else if (c.id == riff::kRiff && c.type == kSegmentForm) {
            const std::size_t total = 12 + c.body.size();
            if (c.offset <= raw.size() && total <= raw.size() - c.offset) {
                const auto bytes = raw.subspan(c.offset, total);
                item.embedded.assign(bytes.begin(), bytes.end());
            }
        }
    }
    if (!header) {
        riff::Warn(warnings, "segment trigger without a usable header skipped", list);
        return;
    }
    if ((item.flags & TriggerItem::kMotif) && item.motif.empty()) {
        riff::Warn(warnings, "motif trigger that names no motif skipped", list);
        return;
    }
    if (!item.hasReference && item.embedded.empty() && item.motif.empty()) {
        riff::Warn(warnings, "segment trigger that names no segment skipped", list);
        return;
    }
    out.push_back(std::move(item));
}

} // namespace

void ReadSegmentTriggerTrack(std::span<const std::uint8_t> raw, std::vector<TriggerItem>& out, Diagnostics& warnings) {
    riff::ChunkReader top{ByteReader(raw)};
    riff::Chunk form;
    if (!top.next(form) || !form.isForm(kSegmentTriggerList)) {
        warnings.push_back("segment trigger track without its 'segt' list skipped");
        return;
    }
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(kItemList)) continue;
        riff::ChunkReader items = riff::ChunkReader::childrenOf(c);
        riff::Chunk item;
        while (items.next(item))
            if (item.isForm(kItem)) ReadItem(item, raw, out, warnings);
        items.reportTo(warnings);
    }
    chunks.reportTo(warnings);
}

} // namespace qorn::formats::segment
