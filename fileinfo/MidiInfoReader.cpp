#include "fileinfo/MidiInfoReader.h"

#include "fileinfo/BoundedFile.h"

#include <array>
#include <cstdint>
#include <utility>

namespace qorn::fileinfo {
namespace {

constexpr std::uint8_t MetaText = 0x01;
constexpr std::uint8_t MetaCopyright = 0x02;
constexpr std::uint8_t MetaName = 0x03;

bool ReadU32BE(BoundedFile& file, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = 0;
        if (!file.ReadByte(b)) return false;
        value = (value << 8) | b;
    }
    return true;
}

// A variable-length quantity of any number of bytes. Fails at the end of
// the file, and as soon as the value exceeds what is left of the file: the
// event could not fit, and an unlimited run of 0x80 bytes ends at the end
// of the file at the latest.
bool ReadLength(BoundedFile& file, std::uint64_t& length) {
    length = 0;
    std::uint8_t b = 0;
    do {
        if (!file.ReadByte(b)) return false;
        length = length * 128 + (b & 0x7Fu);
        if (length > file.Left()) return false;
    } while (b >= 0x80);
    return true;
}

void TrimControlAndBlank(std::string& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && static_cast<std::uint8_t>(s[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<std::uint8_t>(s[end - 1]) <= 0x20)
        --end;
    s = s.substr(begin, end - begin);
}

// Reads the text of a meta event whose `length` bytes are all in the file.
bool TakeText(BoundedFile& file, std::uint64_t length, StoredText& out) {
    const std::uint64_t kept = length < MaxMidiTextBytes ? length : MaxMidiTextBytes;
    std::string bytes;
    if (!file.ReadBytes(kept, bytes)) return false;
    const bool longer = length > MaxMidiTextBytes;
    if (longer) {
        bytes += "...";
        if (!file.Skip(length - kept)) return false;
    }
    const std::size_t zero = bytes.find('\0');
    out.cut = longer && zero == std::string::npos;
    if (zero != std::string::npos) bytes.resize(zero);
    out.bytes = std::move(bytes);
    return true;
}

void Scan(BoundedFile& file, MidiTexts& texts) {
    std::uint32_t headerLength = 0;
    std::uint32_t trackLength = 0;
    if (!file.Skip(4) || !ReadU32BE(file, headerLength)) return;
    if (!file.Skip(std::uint64_t{headerLength} + 4) || !ReadU32BE(file, trackLength)) return;

    // The track length is a signed count: one with the top bit set ends the
    // scan before it starts.
    std::int64_t remaining = static_cast<std::int32_t>(trackLength);
    std::array<std::optional<StoredText>*, 4> slots{nullptr, &texts.text, &texts.copyright, &texts.name};

    while (remaining >= 2 && !(texts.name && texts.copyright && texts.text)) {
        std::uint8_t delta = 0;
        std::uint8_t status = 0;
        if (!file.ReadByte(delta) || !file.ReadByte(status)) return;
        remaining -= 2;
        if (delta != 0x00 || status != 0xFF) return; // not a meta event at delta time 0

        std::uint8_t type = 0;
        std::uint64_t length = 0;
        remaining -= 1;
        if (!file.ReadByte(type) || !ReadLength(file, length)) return;
        // The length field counts as one byte however long it is.
        remaining -= static_cast<std::int64_t>(length) + 1;

        std::optional<StoredText>* slot =
            (type == MetaText || type == MetaCopyright || type == MetaName) ? slots[type] : nullptr;
        if (slot != nullptr && !slot->has_value()) {
            StoredText taken;
            if (!TakeText(file, length, taken)) return;
            *slot = std::move(taken);
        } else if (!file.Skip(length)) {
            return;
        }
    }
}

} // namespace

MidiTexts ReadMidiTexts(const std::string& path) {
    MidiTexts texts;
    {
        BoundedFile file;
        if (!file.Open(path)) return texts;
        Scan(file, texts);
    }
    for (auto* t : {&texts.name, &texts.copyright, &texts.text}) {
        if (t->has_value()) TrimControlAndBlank((*t)->bytes);
    }
    return texts;
}

InfoTexts ReadMidiInfo(const std::string& path, const std::string& baseName) {
    MidiTexts texts = ReadMidiTexts(path);
    // Taken but empty after trimming counts as missing.
    for (auto* t : {&texts.name, &texts.copyright, &texts.text}) {
        if (t->has_value() && (*t)->bytes.empty()) t->reset();
    }
    const std::array<const StoredText*, 3> present{texts.name ? &*texts.name : nullptr,
                                                   texts.copyright ? &*texts.copyright : nullptr,
                                                   texts.text ? &*texts.text : nullptr};
    const TextEncoding encoding = ChooseEncoding(present);

    InfoTexts info;
    info.text1 = texts.name ? DecodeToUtf8(*texts.name, encoding) : baseName;
    info.text2 = texts.copyright ? DecodeToUtf8(*texts.copyright, encoding) : NoCopyrightText;
    info.text3 = texts.text ? DecodeToUtf8(*texts.text, encoding) : StandardMidiFileText;
    return info;
}

} // namespace qorn::fileinfo
