#include "platform/alsa/AlsaPort.h"

namespace qorn::platform {

AlsaPort::AlsaPort(std::unique_ptr<AlsaOutput> output) : output_(std::move(output)) {}

AlsaPort::~AlsaPort() {
    // The thread silences what still plays before it ends.
    thread_.reset();
}

HRESULT AlsaPort::Activate(BOOL enable) {
    if (enable) {
        if (!thread_) thread_ = std::make_unique<TimingThread>(playback_, *output_);
        playback_.setRunning(true);
    } else {
        // The thread silences what still plays before it ends.
        thread_.reset();
        playback_.setRunning(false);
        playback_.drain(*output_, nullptr);
    }
    return S_OK;
}

} // namespace qorn::platform
