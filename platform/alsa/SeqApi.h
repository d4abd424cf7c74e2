// The few ALSA sequencer operations the port layer needs, behind an interface
// so the layer can run against a fake in tests (no sequencer device there).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct snd_seq_event; // <alsa/seq_event.h>; kept out of this header

namespace qorn::platform {

// Port capability bits, equal to ALSA's SND_SEQ_PORT_CAP_* values.
inline constexpr unsigned kSeqCapRead = 1u << 0;
inline constexpr unsigned kSeqCapWrite = 1u << 1;
inline constexpr unsigned kSeqCapSubsRead = 1u << 5;
inline constexpr unsigned kSeqCapSubsWrite = 1u << 6;
inline constexpr unsigned kSeqCapNoExport = 1u << 7;

inline constexpr int kSeqSystemClient = 0;

struct SeqPortRecord {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    unsigned capability = 0;
};

class SeqApi {
  public:
    virtual ~SeqApi() = default;
    // Our own client number.
    virtual int clientId() const = 0;
    // Every port of every client, ours and the system's included, in client
    // then port order.
    virtual std::vector<SeqPortRecord> ports() = 0;
    // A new port of ours that others can read from; its number, or -errno.
    virtual int createSourcePort(const std::string& name) = 0;
    // Subscribes `destClient:destPort` to our `sourcePort`; 0 or -errno.
    virtual int connect(int sourcePort, int destClient, int destPort) = 0;
    virtual void deletePort(int port) = 0;
    // Sends a complete, addressed event at once without waiting; >= 0 or -errno.
    virtual int outputDirect(const snd_seq_event& event) = 0;
};

// The machine's sequencer, or null (quietly) when there is none.
std::shared_ptr<SeqApi> OpenAlsaSeq();

} // namespace qorn::platform
