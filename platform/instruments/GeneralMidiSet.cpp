#include "platform/instruments/GeneralMidiSet.h"

#include "platform/formats/common/FileBytes.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/instruments/DlsInstruments.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

namespace qorn::instruments {

namespace {

// The first bytes of a regular file (a FIFO in its place is not opened).
bool IsDlsFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::array<std::uint8_t, 12> head{};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    return in.gcount() == static_cast<std::streamsize>(head.size()) && dls::LooksLikeDlsCollection(head);
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
        const int id = fluid_synth_sfload(synth, path.c_str(), 1);
        if (id == FLUID_FAILED && error) {
            std::error_code ec;
            *error = !std::filesystem::exists(path, ec)            ? "the General MIDI set " + path + " does not exist"
                     : !std::filesystem::is_regular_file(path, ec) ? "the General MIDI set " + path + " is not a file"
                                                                   : "the General MIDI set " + path +
                                                                         " is neither a SoundFont nor a DLS collection "
                                                                         "(or cannot be read)";
        }
        return id == FLUID_FAILED ? -1 : id;
    }
    auto collection = ReadSet(path, warnings, error);
    if (!collection) return -1;
    const int id = AddGeneralMidiSetToSynth(synth, std::move(collection));
    if (id < 0 && error) *error = "cannot put the General MIDI set " + path + " on the synthesizer";
    return id;
}

} // namespace qorn::instruments
