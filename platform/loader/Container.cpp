#include "platform/loader/Container.h"

#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"

namespace qorn::platform {

HRESULT Container::EnumObject(REFGUID objectClass, DWORD index, DMUS_OBJECTDESC* desc) {
    if (desc == nullptr) return E_POINTER;
    if (objectClass != CLSID_DirectMusicSegment && objectClass != GUID_DirectMusicAllTypes) return S_FALSE;
    if (index >= segments_.size()) return S_FALSE;
    const std::string& name = segments_[index];
    desc->dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_NAME;
    desc->guidClass = CLSID_DirectMusicSegment;
    desc->wszName[0] = 0;
    // A name too long to load by is handed out empty.
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name.c_str(), -1, desc->wszName, DMUS_MAX_NAME) == 0)
        desc->wszName[0] = 0;
    return S_OK;
}

} // namespace qorn::platform
