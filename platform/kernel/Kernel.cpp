#include "platform/kernel/Kernel.h"

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace qorn::platform {
namespace {

std::mutex sleepMutex;
std::function<void(DWORD)> sleepHook;

// Decodes one UTF-8 sequence at s[i..n); returns its length or 0 when the
// bytes there are not a valid, shortest-form sequence of a scalar value.
int decodeUtf8(const unsigned char* s, int i, int n, char32_t& cp) {
    unsigned char b0 = s[i];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > n) return 0;
    for (int k = 1; k < len; ++k) {
        unsigned char b = s[i + k];
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

void SetSleepHook(std::function<void(DWORD)> hook) {
    std::lock_guard lock(sleepMutex);
    sleepHook = std::move(hook);
}

void Sleep(DWORD milliseconds) {
    std::function<void(DWORD)> hook;
    {
        std::lock_guard lock(sleepMutex);
        hook = sleepHook;
    }
    if (hook) {
        hook(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int MultiByteToWideChar(UINT /*codePage*/, DWORD /*flags*/, const char* multiByte, int cbMultiByte, WCHAR* wideChar,
                        int cchWideChar) {
    if (multiByte == nullptr || cchWideChar < 0 || (cchWideChar > 0 && wideChar == nullptr)) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(multiByte);
    int n = cbMultiByte;
    if (n < 0) {
        n = 0;
        while (s[n] != 0)
            ++n;
        ++n; // the terminator is converted too
    }
    std::u16string out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n;) {
        char32_t cp = 0;
        int len = decodeUtf8(s, i, n, cp);
        if (len == 0) {
            out += char16_t(0xDC00 + s[i]); // escaped byte, see the header
            ++i;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    const int needed = static_cast<int>(out.size());
    if (cchWideChar == 0) return needed;
    if (needed > cchWideChar) return 0;
    std::copy(out.begin(), out.end(), wideChar);
    return needed;
}

int WideCharToMultiByte(UINT /*codePage*/, DWORD /*flags*/, const WCHAR* wideChar, int cchWideChar, char* multiByte,
                        int cbMultiByte, const char* /*defaultChar*/, BOOL* usedDefaultChar) {
    if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    if (wideChar == nullptr || cbMultiByte < 0 || (cbMultiByte > 0 && multiByte == nullptr)) return 0;
    int n = cchWideChar;
    if (n < 0) {
        n = 0;
        while (wideChar[n] != 0)
            ++n;
        ++n;
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        char32_t u = wideChar[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && wideChar[i + 1] >= 0xDC00 && wideChar[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (char32_t(wideChar[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += char(u - 0xDC00); // an escaped byte goes back as it was
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
            if (usedDefaultChar != nullptr) *usedDefaultChar = TRUE;
        } else {
            appendUtf8(out, u);
        }
    }
    const int needed = static_cast<int>(out.size());
    if (cbMultiByte == 0) return needed;
    if (needed > cbMultiByte) return 0;
    std::copy(out.begin(), out.end(), multiByte);
    return needed;
}

} // namespace qorn::platform
