// libFuzzer target for scripts and containers as the player opens them:
// what the loader says of one that is no piece, the list of the segments it
// holds (IDirectMusicContainer) and each of them loaded by name through the
// loader, finding what it names among the objects the file carries. The
// input is written to a file of its own in a private, otherwise empty folder,
// so that nothing outside the input is ever found. Any bytes must list
// segments that load or fail with a reason.
#include "fuzz/FuzzSupport.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "platform/loader/FormatProbe.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace qorn::platform;

using qorn::fuzz::Broken;

// Segments loaded by name from one input: enough for every kind of entry.
constexpr std::size_t kMaxLoads = 4;

// One folder and file per fuzzing process; plain arrays, so that they are
// still there when the exit handler removes them.
const char* InputPath() {
    static char folder[64] = {};
    static char path[96] = {};
    if (path[0] == '\0') {
        std::snprintf(folder, sizeof folder, "/tmp/qorn-script-fuzz-%d", static_cast<int>(::getpid()));
        if (::mkdir(folder, 0700) != 0) Broken("cannot make the private folder");
        std::snprintf(path, sizeof path, "%s/input.spt", folder);
        std::atexit([] {
            ::unlink(path);
            ::rmdir(folder);
        });
    }
    return path;
}

bool ToWide(const std::string& text, WCHAR* out, int units) {
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, out, units) != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qorn::fuzz::WriteInput(InputPath(), data, size);
    const std::span<const std::uint8_t> bytes(data, size);
    const std::vector<std::string> names = HeldSegmentNames(bytes);
    if (names.size() > size) Broken("more segments than bytes");
    (void)DescribeNonPiece(bytes);

    auto desc = std::make_unique<DMUS_OBJECTDESC>();
    desc->dwSize = sizeof(DMUS_OBJECTDESC);
    desc->dwValidData = DMUS_OBJ_FULLPATH;
    if (!ToWide(InputPath(), desc->wszFileName, DMUS_MAX_FILENAME)) Broken("the input's path");
    Loader* loader = new Loader();
    void* object = nullptr;
    if (SUCCEEDED(loader->GetObject(desc.get(), IID_IDirectMusicContainer, &object))) {
        auto* container = static_cast<IDirectMusicContainer*>(object);
        auto entry = std::make_unique<DMUS_OBJECTDESC>();
        DWORD listed = 0;
        while (container->EnumObject(CLSID_DirectMusicSegment, listed, entry.get()) == S_OK)
            ++listed;
        container->Release();
        if (listed != names.size()) Broken("the container lists other segments than the loader names");
    } else if (!names.empty()) {
        Broken("segments named, but no container");
    }

    for (std::size_t i = 0; i < names.size() && i < kMaxLoads; ++i) {
        desc->dwValidData = DMUS_OBJ_FULLPATH | DMUS_OBJ_NAME;
        if (!ToWide(names[i], desc->wszName, DMUS_MAX_NAME)) continue;
        object = nullptr;
        const HRESULT hr = loader->GetObject(desc.get(), IID_IDirectMusicSegment2, &object);
        if (FAILED(hr)) {
            if (loader->lastError().empty()) Broken("failed without a reason");
            continue;
        }
        auto* segment = static_cast<IDirectMusicSegment2*>(object);
        const Segment* own = Segment::From(segment);
        if (own == nullptr) Broken("not a segment of ours");
        const qorn::music::Sequence& seq = *own->sequence();
        for (std::size_t k = 0; k < seq.events.size(); ++k) {
            if (k > 0 && seq.events[k - 1].tick > seq.events[k].tick) Broken("events out of order");
            if (seq.events[k].tick > seq.lengthTicks) Broken("event after the end");
        }
        for (const auto& w : seq.waves)
            if (w.wave >= seq.waveData.size() || !seq.waveData[w.wave]) Broken("wave item without its wave");
        DMUS_LOAD_REPORT report;
        if (FAILED(segment->GetParam(GUID_LoadReport, 0xFFFFFFFFu, 0, 0, nullptr, &report))) Broken("no report");
        segment->Release();
    }
    loader->Release();
    return 0;
}
