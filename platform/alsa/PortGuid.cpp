#include "platform/alsa/PortGuid.h"

#include <cstdint>

namespace qorn::platform {
namespace {

constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

struct Hash128 {
    // Two FNV-1a lanes with different starting values give 128 bits.
    std::uint64_t a = 0xcbf29ce484222325ull;
    std::uint64_t b = 0x84222325cbf29ce4ull;

    void add(std::uint8_t byte) {
        a = (a ^ byte) * kFnvPrime;
        b = (b ^ static_cast<std::uint8_t>(byte + 0x5Bu)) * kFnvPrime;
        b ^= b >> 29;
    }
    // Length-prefixed, so ("ab", "c") and ("a", "bc") differ.
    void add(std::string_view text) {
        const auto n = static_cast<std::uint32_t>(text.size());
        for (int shift = 0; shift < 32; shift += 8)
            add(static_cast<std::uint8_t>(n >> shift));
        for (char c : text)
            add(static_cast<std::uint8_t>(c));
    }
};

std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

} // namespace

GUID AlsaPortGuid(std::string_view clientName, std::string_view portName, int duplicate) {
    Hash128 h;
    h.add("qorn.alsa-seq-port");
    h.add(clientName);
    h.add(portName);
    for (int shift = 0; shift < 32; shift += 8)
        h.add(static_cast<std::uint8_t>(static_cast<unsigned>(duplicate) >> shift));
    const std::uint64_t hi = Mix(h.a ^ (h.b << 1));
    const std::uint64_t lo = Mix(h.b + 0x9e3779b97f4a7c15ull * (h.a | 1));

    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(hi >> 32);
    guid.Data2 = static_cast<std::uint16_t>(hi >> 16);
    // Version 8 (custom, name-derived) and the RFC variant, so it reads as a GUID.
    guid.Data3 = static_cast<std::uint16_t>((hi & 0x0FFFu) | 0x8000u);
    guid.Data4[0] = static_cast<std::uint8_t>(((lo >> 56) & 0x3Fu) | 0x80u);
    for (int i = 1; i < 8; ++i)
        guid.Data4[i] = static_cast<std::uint8_t>(lo >> (56 - 8 * i));
    return guid;
}

} // namespace qorn::platform
