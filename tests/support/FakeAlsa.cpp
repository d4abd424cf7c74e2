#include "tests/support/FakeAlsa.h"

#include "platform/alsa/SeqAlsaBackend.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

namespace qorn::platform {
namespace {

// Decoded with libasound's own event-to-bytes converter, so a wrongly built
// event shows up as wrong bytes.
std::vector<std::uint8_t> DecodeEvent(const snd_seq_event_t& event) {
    snd_midi_event_t* parser = nullptr;
    if (snd_midi_event_new(16, &parser) < 0) return {};
    snd_midi_event_no_status(parser, 1);
    std::size_t room = 16;
    if (snd_seq_ev_is_variable(&event)) room += event.data.ext.len;
    std::vector<std::uint8_t> bytes(room);
    const long n = snd_midi_event_decode(parser, bytes.data(), static_cast<long>(bytes.size()), &event);
    snd_midi_event_free(parser);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

} // namespace

FakeAlsaSequencer::FakeAlsaSequencer(std::vector<FakeAlsaPort> ports) : ports_(std::move(ports)) {}

std::vector<std::vector<std::uint8_t>> FakeAlsaSequencer::received(int client, int port) const {
    std::lock_guard lock(mutex_);
    auto it = received_.find({client, port});
    return it == received_.end() ? std::vector<std::vector<std::uint8_t>>{} : it->second;
}

void FakeAlsaSequencer::clearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

void FakeAlsaSequencer::removePort(int client, int port) {
    std::lock_guard lock(mutex_);
    std::erase_if(ports_, [&](const FakeAlsaPort& p) { return p.client == client && p.port == port; });
    // The kernel drops the subscriptions of a deleted port.
    for (auto& [own, targets] : ownPorts_)
        std::erase(targets, std::pair{client, port});
}

void FakeAlsaSequencer::addPort(const FakeAlsaPort& port) {
    std::lock_guard lock(mutex_);
    ports_.push_back(port);
}

void FakeAlsaSequencer::failNextSends(int count, int error) {
    std::lock_guard lock(mutex_);
    failCount_ = count;
    failError_ = error;
}

std::vector<int> FakeAlsaSequencer::ownPorts() const {
    std::lock_guard lock(mutex_);
    std::vector<int> result;
    for (const auto& entry : ownPorts_)
        result.push_back(entry.first);
    return result;
}

bool FakeAlsaSequencer::connected(int ownPort, int client, int port) const {
    std::lock_guard lock(mutex_);
    auto it = ownPorts_.find(ownPort);
    if (it == ownPorts_.end()) return false;
    return std::find(it->second.begin(), it->second.end(), std::pair{client, port}) != it->second.end();
}

std::vector<SeqPortRecord> FakeAlsaSequencer::ports() {
    std::lock_guard lock(mutex_);
    std::vector<SeqPortRecord> result;
    for (const auto& p : ports_)
        result.push_back({p.client, p.port, p.clientName, p.portName, p.capability});
    for (const auto& entry : ownPorts_)
        result.push_back({kOwnClient, entry.first, "Qor_n", kAlsaSourcePortName, kSeqCapRead | kSeqCapSubsRead});
    std::sort(result.begin(), result.end(), [](const SeqPortRecord& a, const SeqPortRecord& b) {
        return std::pair{a.client, a.port} < std::pair{b.client, b.port};
    });
    return result;
}

int FakeAlsaSequencer::createSourcePort(const std::string&) {
    std::lock_guard lock(mutex_);
    const int port = nextOwnPort_++;
    ownPorts_[port];
    return port;
}

int FakeAlsaSequencer::connect(int sourcePort, int destClient, int destPort) {
    std::lock_guard lock(mutex_);
    auto own = ownPorts_.find(sourcePort);
    if (own == ownPorts_.end()) return -EINVAL;
    const FakeAlsaPort* dest = findLocked(destClient, destPort);
    if (dest == nullptr) return -ENOENT;
    if ((dest->capability & kSeqCapSubsWrite) == 0) return -EPERM;
    own->second.emplace_back(destClient, destPort);
    return 0;
}

void FakeAlsaSequencer::deletePort(int port) {
    std::lock_guard lock(mutex_);
    ownPorts_.erase(port);
}

int FakeAlsaSequencer::outputDirect(const snd_seq_event& event) {
    std::lock_guard lock(mutex_);
    if (failCount_ > 0) {
        --failCount_;
        return failError_;
    }
    if (!snd_seq_ev_is_direct(&event)) return -EINVAL;
    if (ownPorts_.find(event.source.port) == ownPorts_.end()) return -EINVAL;
    const FakeAlsaPort* dest = findLocked(event.dest.client, event.dest.port);
    if (dest == nullptr) return -ENOENT;
    if ((dest->capability & kSeqCapWrite) == 0) return -EPERM;
    auto bytes = DecodeEvent(event);
    if (bytes.empty()) return -EINVAL;
    received_[{dest->client, dest->port}].push_back(std::move(bytes));
    return static_cast<int>(sizeof(snd_seq_event_t));
}

const FakeAlsaPort* FakeAlsaSequencer::findLocked(int client, int port) const {
    for (const auto& p : ports_)
        if (p.client == client && p.port == port) return &p;
    return nullptr;
}

std::shared_ptr<AlsaBackend> MakeFakeAlsaBackend(std::shared_ptr<FakeAlsaSequencer> sequencer) {
    return MakeSeqAlsaBackend([sequencer] { return std::static_pointer_cast<SeqApi>(sequencer); });
}

std::shared_ptr<AlsaBackend> MakeFakeAlsaBackend(std::vector<FakeAlsaPort> ports) {
    return MakeFakeAlsaBackend(std::make_shared<FakeAlsaSequencer>(std::move(ports)));
}

} // namespace qorn::platform
