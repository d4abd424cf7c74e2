#include "platform/synth/AutoDownload.h"

#include <algorithm>
#include <array>
#include <bitset>

namespace qorn::platform {
namespace {

constexpr int kDrumBank = 128;

class PresetSet {
  public:
    void add(int bank, int program) {
        if (bank < 0 || bank > kDrumBank || program < 0 || program > 127) return;
        bits_.set(static_cast<std::size_t>(bank * 128 + program));
    }
    std::vector<PresetRef> list() const {
        std::vector<PresetRef> out;
        for (std::size_t i = 0; i < bits_.size(); ++i)
            if (bits_.test(i)) out.push_back({int(i / 128), int(i % 128)});
        return out;
    }

  private:
    std::bitset<(kDrumBank + 1) * 128> bits_;
};

} // namespace

std::vector<PresetRef> PresetsUsedBy(const music::Sequence& sequence) {
    PresetSet set;
    // What every channel starts with.
    set.add(0, 0);
    set.add(kDrumBank, 0);
    std::array<int, 256 * 16> bankMsb{};
    for (const auto& e : sequence.events) {
        const int ch = e.status & 0x0F;
        const std::size_t slot = std::size_t(e.group) * 16 + std::size_t(ch);
        switch (e.status & 0xF0) {
        case 0xB0:
            if (e.data1 == 0) bankMsb[slot] = e.data2 & 0x7F;
            break;
        case 0xC0: {
            const int program = e.data1 & 0x7F;
            if (ch == music::kDrumChannel) {
                set.add(kDrumBank, program);
                set.add(kDrumBank, 0);
            }
            set.add(bankMsb[slot], program);
            set.add(0, program);
            break;
        }
        default:
            break;
        }
    }
    for (const auto& p : sequence.patches) {
        // Also for a collection's instrument: the General MIDI one stands in if it is missing.
        if (p.drums) {
            set.add(kDrumBank, p.program & 0x7F);
            set.add(kDrumBank, 0);
        } else {
            set.add(p.bankMsb & 0x7F, p.program & 0x7F);
            set.add(0, p.program & 0x7F);
        }
    }
    return set.list();
}

} // namespace qorn::platform
