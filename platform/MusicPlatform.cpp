#include "platform/MusicPlatform.h"

namespace qorn::platform {

void RegisterMusicPlatform() {}

} // namespace qorn::platform
