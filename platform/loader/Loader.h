// The loader: turns a file named by full path into a segment, choosing the
// reader by the file's content rather than its name.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/segment/ObjectCache.h"
#include "platform/loader/Composition.h"
#include "platform/loader/SegmentAssembly.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::platform {

class Segment;

// Files larger than this are refused before reading: no piece comes close.
inline constexpr std::uint64_t kMaxLoadBytes = limits::kMaxFileBytes;

// Negative results of GetObject, one per reason.
inline constexpr HRESULT LOADER_E_FILE_NOT_OPENED = static_cast<HRESULT>(0x88781170u);
inline constexpr HRESULT LOADER_E_UNSUPPORTED = static_cast<HRESULT>(0x88781171u);
inline constexpr HRESULT LOADER_E_NO_FILE_NAME = static_cast<HRESULT>(0x88781172u);
inline constexpr HRESULT LOADER_E_TOO_LARGE = static_cast<HRESULT>(0x88781173u);
inline constexpr HRESULT LOADER_E_DAMAGED = static_cast<HRESULT>(0x88781174u);
// A file of DirectMusic's own that is not a piece (a script, a container, a
// style): the error information says what it is.
inline constexpr HRESULT LOADER_E_NOT_A_PIECE = static_cast<HRESULT>(0x88781175u);
// A script or container holds no segment of the name asked for.
inline constexpr HRESULT LOADER_E_NO_SUCH_OBJECT = static_cast<HRESULT>(0x88781176u);

// Reads a whole regular file of at most `maxBytes`; the result says why not.
HRESULT ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

class Loader final : public RefCounted<IDirectMusicLoader> {
  public:
    Loader() = default;
    HRESULT GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** object) override;
    HRESULT EnableCache(REFGUID objectClass, BOOL enable) override;
    HRESULT ClearCache(REFGUID objectClass) override;

    // The reason of the last failed GetObject (for the rendering tool).
    const std::string& lastError() const { return lastError_; }
    // What the last GetObject had to say about the file and what it
    // references (parts skipped, pieces not found), also handed to the
    // process's reporter (formats::SetDiagnosticReporter) as it loads.
    const formats::Diagnostics& lastDiagnostics() const { return lastDiagnostics_; }

    // How templates and styles opened alone are composed from now on.
    void setCompositionOptions(CompositionOptions options) { composition_ = std::move(options); }
    // What the last load composed from, one line ("x.tpl composed with
    // y.sty and z.cdm (activity 1, seed 7)"); empty when it composed none.
    const std::string& lastComposition() const { return lastComposition_; }

  private:
    ~Loader() override = default;
    HRESULT fail(HRESULT hr, std::string why);
    // The same, the reason also handed on as error information for the window.
    HRESULT failSaying(HRESULT hr, std::string why);
    // Hands a loaded piece to the caller, with the load's warnings.
    HRESULT deliver(Segment* segment, void** object);
    // The segment `name` of the script or container `file`.
    HRESULT loadHeld(std::span<const std::uint8_t> file, const std::string& path, const std::string& name,
                     void** object);
    // A piece from its bytes: a file's, or with `host` a segment the file holds.
    HRESULT loadPiece(std::span<const std::uint8_t> bytes, const std::string& path, const HostFile* host,
                      void** object);

    std::string lastError_;
    formats::Diagnostics lastDiagnostics_;
    CompositionOptions composition_;
    std::string lastComposition_;
    // Collections and other objects that segments reference, shared between loads.
    formats::segment::ObjectCache objectCache_;
};

} // namespace qorn::platform
