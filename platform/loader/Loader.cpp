#include "platform/loader/Loader.h"

#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/common/FileBytes.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/formats/segment/SegmentGuids.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/style/StyleReader.h"
#include "platform/kernel/Kernel.h"
#include "platform/loader/Container.h"
#include "platform/loader/FormatProbe.h"
#include "platform/loader/Segment.h"
#include "platform/loader/SegmentAssembly.h"

#include <cstring>
#include <filesystem>
#include <random>

namespace qorn::platform {

namespace {
// A load's reports as the window lists them: "FILE: MESSAGE", the file by its name.
std::vector<std::string> ReportLines(const formats::Diagnostics& diagnostics) {
    std::vector<std::string> lines;
    for (const auto& d : diagnostics) {
        const std::string file = std::filesystem::path(d.file).filename().string();
        lines.push_back((d.file.empty() ? std::string() : (file.empty() ? d.file : file) + ": ") + d.text());
    }
    return lines;
}

// The segment loaded knows its name in the file that holds it.
HRESULT Named(HRESULT hr, const std::string& name, void** object) {
    if (SUCCEEDED(hr) && *object != nullptr)
        if (Segment* segment = Segment::From(static_cast<IDirectMusicSegment2*>(*object))) segment->name = name;
    return hr;
}
} // namespace

HRESULT ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
    switch (formats::ReadFileBytes(path, maxBytes, out)) {
    case formats::FileReadResult::Ok:
        return S_OK;
    case formats::FileReadResult::TooLarge:
        return LOADER_E_TOO_LARGE;
    case formats::FileReadResult::NotOpened:
        break;
    }
    return LOADER_E_FILE_NOT_OPENED;
}

HRESULT Loader::fail(HRESULT hr, std::string why) {
    lastError_ = std::move(why);
    return hr;
}

HRESULT Loader::failSaying(HRESULT hr, std::string why) {
    // The file the user chose is sound, but holds no piece, or not the one asked for.
    SetErrorInfoText(why);
    return fail(hr, std::move(why));
}

HRESULT Loader::deliver(Segment* segment, void** object) {
    segment->loadWarnings = ReportLines(lastDiagnostics_);
    *object = static_cast<IDirectMusicSegment2*>(segment);
    lastError_.clear();
    return S_OK;
}

HRESULT Loader::GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** object) {
    lastDiagnostics_.clear();
    lastComposition_.clear();
    TakeErrorInfoText();
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (desc == nullptr) return E_POINTER;
    const bool container = riid == IID_IDirectMusicContainer;
    if (riid != IID_IDirectMusicSegment2 && !container)
        return fail(E_NOINTERFACE, "only segments and containers can be loaded");
    if (!container && (desc->dwValidData & DMUS_OBJ_CLASS) && desc->guidClass != CLSID_DirectMusicSegment)
        return fail(E_INVALIDARG, "only segments can be loaded");
    if ((desc->dwValidData & (DMUS_OBJ_FULLPATH | DMUS_OBJ_FILENAME)) == 0)
        return fail(LOADER_E_NO_FILE_NAME, "no file name given");
    int units = 0;
    while (units < DMUS_MAX_FILENAME && desc->wszFileName[units] != 0)
        ++units;
    if (units == 0 || units == DMUS_MAX_FILENAME) return fail(LOADER_E_NO_FILE_NAME, "no file name given");

    const int bytes = WideCharToMultiByte(CP_ACP, 0, desc->wszFileName, units, nullptr, 0, nullptr, nullptr);
    std::string path(std::size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes <= 0 ||
        WideCharToMultiByte(CP_ACP, 0, desc->wszFileName, units, path.data(), bytes, nullptr, nullptr) != bytes)
        return fail(LOADER_E_NO_FILE_NAME, "the file name cannot be converted");

    std::string name;
    if (desc->dwValidData & DMUS_OBJ_NAME) {
        int nameUnits = 0;
        while (nameUnits < DMUS_MAX_NAME && desc->wszName[nameUnits] != 0)
            ++nameUnits;
        const int nameBytes =
            nameUnits > 0 && nameUnits < DMUS_MAX_NAME
                ? WideCharToMultiByte(CP_ACP, 0, desc->wszName, nameUnits, nullptr, 0, nullptr, nullptr)
                : 0;
        if (nameBytes <= 0) return fail(E_INVALIDARG, "no segment name given");
        name.assign(std::size_t(nameBytes), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, desc->wszName, nameUnits, name.data(), nameBytes, nullptr, nullptr) !=
            nameBytes)
            return fail(E_INVALIDARG, "the segment name cannot be converted");
    }

    std::vector<std::uint8_t> data;
    const HRESULT read = ReadWholeFile(path, kMaxLoadBytes, data);
    if (read == LOADER_E_TOO_LARGE) return fail(read, "the file is too large");
    if (FAILED(read)) return fail(read, "cannot read the file");
    if (container) {
        if (!formats::segment::IsScriptOrContainer(data))
            return fail(LOADER_E_UNSUPPORTED, "not a script or container");
        *object = static_cast<IDirectMusicContainer*>(new Container(HeldSegmentNames(data)));
        lastError_.clear();
        return S_OK;
    }
    if (!name.empty()) return loadHeld(data, path, name, object);
    return loadPiece(data, path, nullptr, object);
}

HRESULT Loader::loadHeld(std::span<const std::uint8_t> file, const std::string& path, const std::string& name,
                         void** object) {
    namespace seg = formats::segment;
    if (!seg::IsScriptOrContainer(file)) return fail(LOADER_E_UNSUPPORTED, "not a script or container");
    const std::vector<seg::HeldSegment> held = seg::ReadHeldSegments(file);
    const int found = seg::FindHeldSegment(held, name);
    if (found < 0) {
        std::string names;
        for (const auto& h : held)
            names += (names.empty() ? "" : ", ") + h.name;
        return failSaying(LOADER_E_NO_SUCH_OBJECT, "it holds no segment '" + name + "'" +
                                                       (names.empty() ? std::string() : " (only " + names + ")"));
    }
    const seg::HeldSegment& segment = held[static_cast<std::size_t>(found)];
    const std::string label = path + ": " + segment.name;
    if (segment.carried) {
        HostFile host;
        formats::Diagnostics ignored; // the segment's own reading reports what it uses
        seg::IndexHeldObjects(file, host.objects, ignored);
        host.segmentOffset = segment.fileOffset;
        host.label = label;
        return Named(loadPiece(segment.bytes, path, &host, object), segment.name, object);
    }
    // Only named: a file beside the script, found as a reference is.
    const std::filesystem::path beside = seg::FolderReferenceResolver(path, objectCache_).locate(segment.reference);
    if (beside.empty()) {
        const std::string wanted =
            segment.reference.file.empty() ? segment.name : seg::BaseFileName(segment.reference.file);
        return failSaying(LOADER_E_FILE_NOT_OPENED, "segment " + segment.name + " is only named in " +
                                                        std::filesystem::path(path).filename().string() +
                                                        ", and there is no file " + wanted + " beside it");
    }
    std::vector<std::uint8_t> data;
    const HRESULT read = ReadWholeFile(beside.string(), kMaxLoadBytes, data);
    if (read == LOADER_E_TOO_LARGE) return fail(read, beside.string() + ": the file is too large");
    if (FAILED(read)) return fail(read, "cannot read " + beside.string());
    return Named(loadPiece(data, beside.string(), nullptr, object), segment.name, object);
}

HRESULT Loader::loadPiece(std::span<const std::uint8_t> span, const std::string& path, const HostFile* host,
                          void** object) {
    const std::string& label = host ? host->label : path;
    // Templates and styles compose anew at each load unless a seed is fixed.
    TemplateLoad compose{composition_, composition_.seed ? *composition_.seed : std::random_device{}(), {}};
    if (formats::style::LooksLikeStyleFile(span)) {
        std::shared_ptr<const music::Sequence> sequence;
        std::shared_ptr<const ComposeInput> recompose;
        std::string why;
        const bool loaded =
            LoadStyleAlone(span, path, objectCache_, compose, sequence, &why, &lastDiagnostics_, &recompose);
        formats::Report(lastDiagnostics_);
        if (!loaded) return fail(LOADER_E_DAMAGED, why);
        lastComposition_ = compose.line;
        return deliver(new Segment(std::move(sequence), std::move(recompose)), object);
    }
    if (formats::chordmap::LooksLikeChordmapFile(span)) {
        // The example names the style of its folder a template would take.
        const std::string style = ChooseByName(path, kStyleExtensions, [](const std::string&) { return true; });
        std::string what = "a chordmap, not a piece: hear it with a style, for example qorn-render --chordmap " +
                           formats::segment::BaseFileName(path) + " " +
                           (style.empty() ? std::string("STYLE.sty") : formats::segment::BaseFileName(style)) +
                           " out.wav";
        return failSaying(LOADER_E_NOT_A_PIECE, std::move(what));
    }
    if (formats::segment::LooksLikeSegmentFile(span)) {
        // Segments need the file's folder and the cache to find what they reference.
        std::shared_ptr<const music::Sequence> sequence;
        std::shared_ptr<const ComposeInput> recompose;
        std::vector<std::string> silent;
        std::string why;
        // Segments that name a style are composed here, at load, and keep
        // what they need to compose every pass of a play anew; triggered
        // segments and waves are gathered in too.
        const bool loaded = LoadTemplateOrSegment(span, path, objectCache_, compose, sequence, &why, &lastDiagnostics_,
                                                  0, &recompose, &silent, host);
        formats::Report(lastDiagnostics_);
        if (!loaded) return fail(LOADER_E_DAMAGED, "unreadable segment file: " + why);
        lastComposition_ = compose.line;
        auto* segment = new Segment(std::move(sequence), std::move(recompose));
        segment->silentContent = std::move(silent);
        return deliver(segment, object);
    }
    for (const FormatProbe& probe : FormatProbes()) {
        if (!probe.looksLike(span)) continue;
        std::shared_ptr<const music::Sequence> sequence;
        std::string why;
        const bool readable = probe.read(span, sequence, &why, &lastDiagnostics_) && sequence;
        lastDiagnostics_.setFile(label);
        formats::Report(lastDiagnostics_);
        if (!readable)
            return fail(LOADER_E_DAMAGED, std::string("unreadable ") + probe.name + (why.empty() ? "" : ": " + why));
        return deliver(new Segment(std::move(sequence)), object);
    }
    if (std::string what = DescribeNonPiece(span); !what.empty()) {
        // The file is sound, it is just not music: the caller shows why.
        return failSaying(LOADER_E_NOT_A_PIECE, std::move(what));
    }
    return fail(LOADER_E_UNSUPPORTED, "not a file this player can play");
}

namespace {
bool CachesClass(REFGUID c) {
    return c == GUID_DirectMusicAllTypes || c == formats::segment::kCollectionClass ||
           c == formats::segment::kBandClass;
}
} // namespace

HRESULT Loader::EnableCache(REFGUID objectClass, BOOL enable) {
    if (CachesClass(objectClass)) objectCache_.setEnabled(enable != FALSE);
    return S_OK;
}

HRESULT Loader::ClearCache(REFGUID objectClass) {
    if (CachesClass(objectClass)) objectCache_.clear();
    return S_OK;
}

} // namespace qorn::platform
