#include "platform/alsa/SeqApi.h"

#include "platform/audio/QuietDriverLogs.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <mutex>

namespace qorn::platform {

static_assert(kSeqCapRead == SND_SEQ_PORT_CAP_READ && kSeqCapWrite == SND_SEQ_PORT_CAP_WRITE &&
              kSeqCapSubsRead == SND_SEQ_PORT_CAP_SUBS_READ && kSeqCapSubsWrite == SND_SEQ_PORT_CAP_SUBS_WRITE &&
              kSeqCapNoExport == SND_SEQ_PORT_CAP_NO_EXPORT && kSeqSystemClient == SND_SEQ_CLIENT_SYSTEM);

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr const char* kClientName = "Qor_n";

struct ClientInfoDeleter {
    void operator()(snd_seq_client_info_t* p) const { snd_seq_client_info_free(p); }
};
struct PortInfoDeleter {
    void operator()(snd_seq_port_info_t* p) const { snd_seq_port_info_free(p); }
};

class AlsaSeq final : public SeqApi {
  public:
    explicit AlsaSeq(snd_seq_t* handle) : handle_(handle), client_(snd_seq_client_id(handle)) {}
    ~AlsaSeq() override { snd_seq_close(handle_); }
    AlsaSeq(const AlsaSeq&) = delete;
    AlsaSeq& operator=(const AlsaSeq&) = delete;

    int clientId() const override { return client_; }

    // Queries only: the kernel answers each on its own, no lock needed.
    std::vector<SeqPortRecord> ports() override {
        std::vector<SeqPortRecord> result;
        snd_seq_client_info_t* rawClient = nullptr;
        snd_seq_port_info_t* rawPort = nullptr;
        if (snd_seq_client_info_malloc(&rawClient) < 0) return result;
        std::unique_ptr<snd_seq_client_info_t, ClientInfoDeleter> clientInfo(rawClient);
        if (snd_seq_port_info_malloc(&rawPort) < 0) return result;
        std::unique_ptr<snd_seq_port_info_t, PortInfoDeleter> portInfo(rawPort);

        snd_seq_client_info_set_client(rawClient, -1);
        while (snd_seq_query_next_client(handle_, rawClient) >= 0) {
            const int client = snd_seq_client_info_get_client(rawClient);
            const char* clientName = snd_seq_client_info_get_name(rawClient);
            snd_seq_port_info_set_client(rawPort, client);
            snd_seq_port_info_set_port(rawPort, -1);
            while (snd_seq_query_next_port(handle_, rawPort) >= 0) {
                const char* portName = snd_seq_port_info_get_name(rawPort);
                result.push_back({client, snd_seq_port_info_get_port(rawPort), clientName ? clientName : "",
                                  portName ? portName : "", snd_seq_port_info_get_capability(rawPort)});
            }
        }
        return result;
    }

    int createSourcePort(const std::string& name) override {
        std::lock_guard lock(mutex_);
        return snd_seq_create_simple_port(handle_, name.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }

    int connect(int sourcePort, int destClient, int destPort) override {
        std::lock_guard lock(mutex_);
        return snd_seq_connect_to(handle_, sourcePort, destClient, destPort);
    }

    void deletePort(int port) override {
        std::lock_guard lock(mutex_);
        snd_seq_delete_simple_port(handle_, port);
    }

    // libasound builds variable-length events in one buffer per handle, so
    // sends from several outputs are serialised; each is one short write.
    int outputDirect(const snd_seq_event& event) override {
        snd_seq_event_t copy = event;
        std::lock_guard lock(mutex_);
        return snd_seq_event_output_direct(handle_, &copy);
    }

  private:
    snd_seq_t* const handle_;
    const int client_;
    std::mutex mutex_;
};

} // namespace

std::shared_ptr<SeqApi> OpenAlsaSeq() {
    // Without the device node there is nothing to open, and libasound would
    // print an error for trying.
    if (access(kSequencerDevice, R_OK | W_OK) != 0) return nullptr;
    QuietDriverLogs quiet;
    snd_seq_t* handle = nullptr;
    if (snd_seq_open(&handle, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0 || handle == nullptr)
        return nullptr;
    snd_seq_set_client_name(handle, kClientName);
    return std::make_shared<AlsaSeq>(handle);
}

} // namespace qorn::platform
