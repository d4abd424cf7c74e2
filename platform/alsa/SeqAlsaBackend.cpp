#include "platform/alsa/SeqAlsaBackend.h"

#include "platform/alsa/PortGuid.h"
#include "platform/alsa/SeqEventCodec.h"

#include <alsa/asoundlib.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

namespace qorn::platform {
namespace {

// A full kernel pool is waited out briefly (a sysex dump to a slow port);
// after that the event is dropped rather than stall the caller.
constexpr int kBusyRetries = 8;
constexpr long kBusyWaitNs = 250'000;

bool MeansPortGone(int error) {
    switch (-error) {
    case ENOENT:
    case ENXIO:
    case EPIPE:
    case ENODEV:
    case EBADFD:
    case ESHUTDOWN:
        return true;
    default:
        return false;
    }
}

std::string Describe(const std::string& clientName, const std::string& portName) {
    if (portName.empty()) return clientName;
    // Many drivers already name the port after the device ("Midi Through Port-0").
    if (!clientName.empty() && portName.compare(0, clientName.size(), clientName) == 0) return portName;
    if (clientName.empty()) return portName;
    return clientName + ": " + portName;
}

class SeqOutput final : public AlsaOutput {
  public:
    SeqOutput(std::shared_ptr<SeqApi> seq, int sourcePort, int destClient, int destPort)
        : seq_(std::move(seq)), sourcePort_(sourcePort), destClient_(destClient), destPort_(destPort) {}
    ~SeqOutput() override { seq_->deletePort(sourcePort_); }
    SeqOutput(const SeqOutput&) = delete;
    SeqOutput& operator=(const SeqOutput&) = delete;

    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
        if (!alive()) return;
        snd_seq_event_t ev;
        if (EncodeShortMessage(status, data1, data2, ev)) send(ev);
    }

    void sysEx(const std::uint8_t* data, std::size_t length) override {
        if (!alive()) return;
        snd_seq_event_t ev;
        if (EncodeSysEx(data, length, ev)) send(ev);
    }

    bool alive() const override { return alive_.load(std::memory_order_acquire); }

  private:
    // Addressed to the port itself rather than to our subscribers: the
    // kernel then reports a port that has gone instead of sending to no one.
    void send(snd_seq_event_t& ev) {
        snd_seq_ev_set_source(&ev, sourcePort_);
        snd_seq_ev_set_dest(&ev, destClient_, destPort_);
        snd_seq_ev_set_direct(&ev);
        for (int attempt = 0;; ++attempt) {
            const int result = seq_->outputDirect(ev);
            if (result >= 0) return;
            if (MeansPortGone(result)) {
                alive_.store(false, std::memory_order_release);
                return;
            }
            if (result != -EAGAIN || attempt >= kBusyRetries) return;
            const timespec pause{0, kBusyWaitNs};
            nanosleep(&pause, nullptr);
        }
    }

    const std::shared_ptr<SeqApi> seq_;
    const int sourcePort_;
    const int destClient_;
    const int destPort_;
    std::atomic<bool> alive_{true};
};

class SeqAlsaBackend final : public AlsaBackend {
  public:
    explicit SeqAlsaBackend(std::function<std::shared_ptr<SeqApi>()> open) : open_(std::move(open)) {}

    std::vector<AlsaPortInfo> listPorts() override {
        auto seq = sequencer();
        if (!seq) return {};
        return SelectAlsaPorts(seq->ports(), seq->clientId());
    }

    std::unique_ptr<AlsaOutput> openOutput(const GUID& portGuid) override {
        auto seq = sequencer();
        if (!seq) return nullptr;
        for (const auto& info : SelectAlsaPorts(seq->ports(), seq->clientId())) {
            if (info.guid != portGuid) continue;
            if (!info.writable) return nullptr;
            const int source = seq->createSourcePort(kAlsaSourcePortName);
            if (source < 0) return nullptr;
            if (seq->connect(source, info.client, info.port) < 0) {
                seq->deletePort(source);
                return nullptr;
            }
            return std::make_unique<SeqOutput>(seq, source, info.client, info.port);
        }
        return nullptr;
    }

  private:
    std::shared_ptr<SeqApi> sequencer() {
        std::lock_guard lock(mutex_);
        if (!seq_ && open_) seq_ = open_();
        return seq_;
    }

    std::function<std::shared_ptr<SeqApi>()> open_;
    std::mutex mutex_;
    std::shared_ptr<SeqApi> seq_;
};

} // namespace

std::vector<AlsaPortInfo> SelectAlsaPorts(const std::vector<SeqPortRecord>& ports, int ownClient) {
    std::vector<AlsaPortInfo> result;
    std::map<std::pair<std::string, std::string>, int> seen;
    for (const auto& record : ports) {
        if (record.client == kSeqSystemClient || record.client == ownClient) continue;
        if ((record.capability & kSeqCapNoExport) != 0) continue;
        AlsaPortInfo info;
        info.client = record.client;
        info.port = record.port;
        info.clientName = record.clientName;
        info.portName = record.portName;
        info.writable = (record.capability & (kSeqCapWrite | kSeqCapSubsWrite)) == (kSeqCapWrite | kSeqCapSubsWrite);
        info.readable = (record.capability & (kSeqCapRead | kSeqCapSubsRead)) == (kSeqCapRead | kSeqCapSubsRead);
        if (!info.writable && !info.readable) continue;
        const int duplicate = seen[{record.clientName, record.portName}]++;
        info.guid = AlsaPortGuid(record.clientName, record.portName, duplicate);
        info.description = Describe(record.clientName, record.portName);
        result.push_back(std::move(info));
    }
    return result;
}

std::shared_ptr<AlsaBackend> MakeSeqAlsaBackend(std::function<std::shared_ptr<SeqApi>()> open) {
    return std::make_shared<SeqAlsaBackend>(std::move(open));
}

std::shared_ptr<AlsaBackend> OpenAlsaBackend() {
    return MakeSeqAlsaBackend(OpenAlsaSeq);
}

} // namespace qorn::platform
