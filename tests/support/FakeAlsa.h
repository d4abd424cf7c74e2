// An in-memory ALSA sequencer for tests: a fixed set of ports, a record of
// the MIDI bytes each port received, and ports that can vanish on demand.
// Thread-safe, so a playing performance can send while the test inspects.
#pragma once

#include "platform/alsa/AlsaPorts.h"
#include "platform/alsa/SeqApi.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace qorn::platform {

struct FakeAlsaPort {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    // kSeqCap* bits; the default is an ordinary MIDI output device port.
    unsigned capability = kSeqCapWrite | kSeqCapSubsWrite;
};

class FakeAlsaSequencer final : public SeqApi {
  public:
    static constexpr int kOwnClient = 128;

    explicit FakeAlsaSequencer(std::vector<FakeAlsaPort> ports = {});

    // --- for tests
    // Every message the port received so far, each as its MIDI bytes
    // (status first, sysex complete with F0 ... F7).
    std::vector<std::vector<std::uint8_t>> received(int client, int port) const;
    void clearReceived();
    // The port disappears (device unplugged): sends to it fail like ALSA's.
    void removePort(int client, int port);
    void addPort(const FakeAlsaPort& port);
    // The next `count` sends fail with `error` (a negative errno, e.g. -EAGAIN).
    void failNextSends(int count, int error);
    // Our own source ports currently open, and what each is subscribed to.
    std::vector<int> ownPorts() const;
    bool connected(int ownPort, int client, int port) const;

    // --- SeqApi
    int clientId() const override { return kOwnClient; }
    std::vector<SeqPortRecord> ports() override;
    int createSourcePort(const std::string& name) override;
    int connect(int sourcePort, int destClient, int destPort) override;
    void deletePort(int port) override;
    int outputDirect(const snd_seq_event& event) override;

  private:
    const FakeAlsaPort* findLocked(int client, int port) const;

    mutable std::mutex mutex_;
    std::vector<FakeAlsaPort> ports_;
    std::map<int, std::vector<std::pair<int, int>>> ownPorts_;
    int nextOwnPort_ = 0;
    std::map<std::pair<int, int>, std::vector<std::vector<std::uint8_t>>> received_;
    int failCount_ = 0;
    int failError_ = 0;
};

// A port layer over `sequencer`; keep the shared pointer to inspect it.
std::shared_ptr<AlsaBackend> MakeFakeAlsaBackend(std::shared_ptr<FakeAlsaSequencer> sequencer);
// Convenience when only listing and opening matter.
std::shared_ptr<AlsaBackend> MakeFakeAlsaBackend(std::vector<FakeAlsaPort> ports);

} // namespace qorn::platform
