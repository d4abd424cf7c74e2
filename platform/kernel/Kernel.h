// The kernel calls the engine and the window make: a pause and the text
// conversions between the locale's multibyte encoding (UTF-8 on Linux) and
// UTF-16.
#pragma once

#include "platform/com/ComTypes.h"

#include <functional>

namespace qorn::platform {

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr DWORD MB_PRECOMPOSED = 0x1;
inline constexpr DWORD WC_COMPOSITECHECK = 0x200;

// Blocks the calling thread for `milliseconds`.
void Sleep(DWORD milliseconds);

// Replaces what Sleep does (a test double records the pause instead of
// sleeping); an empty function restores the real pause.
void SetSleepHook(std::function<void(DWORD)> hook);

// Multibyte (UTF-8) to UTF-16. `cbMultiByte` -1 converts up to and including
// the terminator. With `cchWideChar` 0 the needed size is returned; a buffer
// that is too small gives 0 and nothing written. Bytes that are not valid
// UTF-8 map one by one to U+DC80..U+DCFF so any file-system path round-trips
// through WideCharToMultiByte unchanged.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int cbMultiByte, WCHAR* wideChar,
                        int cchWideChar);

// UTF-16 to multibyte (UTF-8), the inverse of MultiByteToWideChar. Unpaired
// surrogates other than the escaped bytes become U+FFFD; `*usedDefaultChar`
// (when given) tells whether that happened.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wideChar, int cchWideChar, char* multiByte,
                        int cbMultiByte, const char* defaultChar, BOOL* usedDefaultChar);

} // namespace qorn::platform
