// A MidiSink that keeps every message with the clock time it arrived at.
#pragma once

#include "platform/performance/MidiSink.h"

#include <cstdint>
#include <vector>

namespace qorn::test {

struct Received {
    double time;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

class RecordingSink : public platform::MidiSink {
  public:
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
        messages.push_back({now, status, data1, data2});
    }
    void sysEx(const std::uint8_t* data, std::size_t length) override { sysex.emplace_back(data, data + length); }
    std::vector<Received> noteOns() const {
        std::vector<Received> out;
        for (const auto& m : messages)
            if ((m.status & 0xF0) == 0x90 && m.data2 > 0) out.push_back(m);
        return out;
    }
    std::vector<Received> noteOffs() const {
        std::vector<Received> out;
        for (const auto& m : messages)
            if ((m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 && m.data2 == 0)) out.push_back(m);
        return out;
    }

    double now = 0.0;
    std::vector<Received> messages;
    std::vector<std::vector<std::uint8_t>> sysex;
};

} // namespace qorn::test
