#include "platform/loader/Loader.h"

#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/common/FileBytes.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/SegmentGuids.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/style/StyleReader.h"
#include "platform/kernel/Kernel.h"
#include "platform/loader/FormatProbe.h"
#include "platform/loader/Segment.h"
#include "platform/loader/SegmentAssembly.h"

#include <cstring>
#include <random>

namespace qorn::platform {

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

HRESULT Loader::GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** object) {
    lastDiagnostics_.clear();
    lastComposition_.clear();
    TakeErrorInfoText();
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (desc == nullptr) return E_POINTER;
    if (riid != IID_IDirectMusicSegment2) return fail(E_NOINTERFACE, "only segments can be loaded");
    if ((desc->dwValidData & DMUS_OBJ_CLASS) && desc->guidClass != CLSID_DirectMusicSegment)
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

    std::vector<std::uint8_t> data;
    const HRESULT read = ReadWholeFile(path, kMaxLoadBytes, data);
    if (read == LOADER_E_TOO_LARGE) return fail(read, "the file is too large");
    if (FAILED(read)) return fail(read, "cannot read the file");

    const std::span<const std::uint8_t> span(data);
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
        *object = static_cast<IDirectMusicSegment2*>(new Segment(std::move(sequence), std::move(recompose)));
        lastError_.clear();
        return S_OK;
    }
    if (formats::chordmap::LooksLikeChordmapFile(span)) {
        // The example names the style of its folder a template would take.
        const std::string style = ChooseByName(path, ".sty", [](const std::string&) { return true; });
        std::string what = "a chordmap, not a piece: hear it with a style, for example qorn-render --chordmap " +
                           formats::segment::BaseFileName(path) + " " +
                           (style.empty() ? std::string("STYLE.sty") : formats::segment::BaseFileName(style)) +
                           " out.wav";
        SetErrorInfoText(what);
        return fail(LOADER_E_NOT_A_PIECE, std::move(what));
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
                                                  0, &recompose, &silent);
        formats::Report(lastDiagnostics_);
        if (!loaded) return fail(LOADER_E_DAMAGED, "unreadable segment file: " + why);
        lastComposition_ = compose.line;
        auto* segment = new Segment(std::move(sequence), std::move(recompose));
        segment->silentContent = std::move(silent);
        *object = static_cast<IDirectMusicSegment2*>(segment);
        lastError_.clear();
        return S_OK;
    }
    for (const FormatProbe& probe : FormatProbes()) {
        if (!probe.looksLike(span)) continue;
        std::shared_ptr<const music::Sequence> sequence;
        std::string why;
        const bool readable = probe.read(span, sequence, &why, &lastDiagnostics_) && sequence;
        lastDiagnostics_.setFile(path);
        formats::Report(lastDiagnostics_);
        if (!readable)
            return fail(LOADER_E_DAMAGED, std::string("unreadable ") + probe.name + (why.empty() ? "" : ": " + why));
        *object = static_cast<IDirectMusicSegment2*>(new Segment(std::move(sequence)));
        lastError_.clear();
        return S_OK;
    }
    if (std::string what = DescribeNonPiece(span); !what.empty()) {
        // The file is sound, it is just not music: the caller shows why.
        SetErrorInfoText(what);
        return fail(LOADER_E_NOT_A_PIECE, std::move(what));
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
