// A script or container file as the loader hands it out: the names of the
// segments it holds, each of which the loader loads by that name.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"

#include <string>
#include <vector>

namespace qorn::platform {

class Container final : public RefCounted<IDirectMusicContainer> {
  public:
    explicit Container(std::vector<std::string> segments) : segments_(std::move(segments)) {}
    HRESULT EnumObject(REFGUID objectClass, DWORD index, DMUS_OBJECTDESC* desc) override;

  private:
    ~Container() override = default;
    std::vector<std::string> segments_;
};

} // namespace qorn::platform
