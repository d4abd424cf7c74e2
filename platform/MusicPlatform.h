// Registers the real Linux music platform's classes (DirectMusic object,
// performance, loader) with the class registry.
#pragma once

namespace qorn::platform {

void RegisterMusicPlatform();

// Starts loading the General MIDI set for the synthesizer port a player
// opens first (DirectMusic's default port) on a thread of its own, so that
// the window need not wait for it; that port's creation takes it.
void PrepareDefaultSynthesizer();
// True once that set has loaded (or nothing is loading).
bool DefaultSynthesizerPrepared();

} // namespace qorn::platform
