#include "platform/instruments/GeneralMidiSet.h"
#include "platform/runtime/FluidLibrary.h"

#include "platform/formats/common/FileBytes.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/instruments/DlsInstruments.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

namespace qorn::instruments {

namespace {

// The first bytes of a regular file (a FIFO in its place is not opened);
// zeros when it has fewer.
std::array<std::uint8_t, 12> HeadOf(const std::string& path) {
    std::array<std::uint8_t, 12> head{};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return head;
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    if (in.gcount() != static_cast<std::streamsize>(head.size())) head = {};
    return head;
}

bool IsDlsFile(const std::string& path) {
    return dls::LooksLikeDlsCollection(HeadOf(path));
}

// A SoundFont 2 file: RIFF 'sfbk'. Anything else is refused before FluidSynth
// tries its other readers on it, which only complain on the terminal.
bool IsSoundFontFile(const std::string& path) {
    const auto head = HeadOf(path);
    return std::equal(head.begin(), head.begin() + 4, "RIFF") && std::equal(head.begin() + 8, head.end(), "sfbk");
}

// Why the set at `path` cannot be put on the synthesizer as a SoundFont.
std::string WhyNotASoundFont(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return "the General MIDI set " + path + " does not exist";
    if (!std::filesystem::is_regular_file(path, ec)) return "the General MIDI set " + path + " is not a file";
    if (!IsSoundFontFile(path))
        return "the General MIDI set " + path + " is neither a SoundFont (.sf2) nor a DLS collection";
    return "the SoundFont " + path + " cannot be read (damaged?)";
}

// Each port rebuilt (another rate, effects on or off) loads the set again;
// the collection is read once for all of them.
std::mutex& CacheMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::shared_ptr<const dls::Collection>>& Cache() {
    static std::map<std::string, std::shared_ptr<const dls::Collection>> cache;
    return cache;
}

std::shared_ptr<const dls::Collection> ReadSet(const std::string& path, formats::Diagnostics& warnings,
                                               std::string* error) {
    const std::string key = formats::segment::FileIdentity(path);
    std::lock_guard lock(CacheMutex());
    if (auto it = Cache().find(key); it != Cache().end()) return it->second;
    std::vector<std::uint8_t> bytes;
    if (formats::ReadFileBytes(path, limits::kMaxFileBytes, bytes) != formats::FileReadResult::Ok) {
        if (error) *error = "cannot read the General MIDI set " + path;
        return nullptr;
    }
    dls::DlsReadResult result = dls::ReadDlsCollection(bytes);
    const std::string name = "'" + std::filesystem::path(path).filename().string() + "'";
    if (!result.ok()) {
        if (error) *error = "the General MIDI set " + name + " is damaged: " + result.error->message;
        return nullptr;
    }
    dls::NoteCollection(*result.collection, name, warnings);
    Cache()[key] = result.collection;
    return result.collection;
}

} // namespace

int LoadGeneralMidiSet(fluid_synth_t* synth, const std::string& path, formats::Diagnostics& warnings,
                       std::string* error) {
    if (!IsDlsFile(path)) {
        const int id = IsSoundFontFile(path) ? fluid::fluid_synth_sfload(synth, path.c_str(), 1) : FLUID_FAILED;
        if (id == FLUID_FAILED && error) *error = WhyNotASoundFont(path);
        return id == FLUID_FAILED ? -1 : id;
    }
    auto collection = ReadSet(path, warnings, error);
    if (!collection) return -1;
    const int id = AddGeneralMidiSetToSynth(synth, std::move(collection));
    if (id < 0 && error) *error = "cannot put the General MIDI set " + path + " on the synthesizer";
    return id;
}

} // namespace qorn::instruments
