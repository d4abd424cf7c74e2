// Registers the real Linux music platform's classes (DirectMusic object,
// performance, loader) with the class registry.
#pragma once

namespace qorn::platform {

void RegisterMusicPlatform();

} // namespace qorn::platform
