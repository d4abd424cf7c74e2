#include "platform/performance/PortPlayback.h"

#include <thread>

namespace qorn::platform {

PortPlayback::~PortPlayback() {
    // The real-time side is gone by now (its owner stopped it first).
    Command c;
    while (commands_.pop(c))
        delete c.player;
    delete current_;
    collectGarbage();
}

bool PortPlayback::send(const Command& c) {
    if (!running_) {
        // Nothing else touches the real-time side now: apply it here.
        if (c.kind == Command::Tempo) masterTempo_ = c.value;
        if (c.kind == Command::Gain && controls_ != nullptr) controls_->setGain(c.value);
        return true;
    }
    // The consumer drains the queue every few milliseconds; a queue that
    // stays full means it is stuck, so give up rather than wait for ever.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (commands_.push(c)) {
            wakeRealTime();
            if (controls_ != nullptr) controls_->wake();
            return true;
        }
        collectGarbage();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void PortPlayback::start(std::unique_ptr<SequencePlayer> player, std::uint64_t id) {
    collectGarbage();
    if (!running_) {
        lastSent_ = id;
        finishedId_.store(id, std::memory_order_release);
        return;
    }
    Command c;
    c.kind = Command::Start;
    c.player = player.get();
    c.id = id;
    if (send(c)) {
        player.release();
        lastSent_ = id;
        startUnseen_ = true;
    } else {
        finishedId_.store(id, std::memory_order_release);
    }
}

void PortPlayback::stop(std::uint64_t id) {
    startUnseen_ = false;
    Command c;
    c.kind = Command::Stop;
    c.id = id;
    if (!send(c)) finishedId_.store(lastSent_, std::memory_order_release);
    collectGarbage();
}

void PortPlayback::setMasterTempo(float factor) {
    Command c;
    c.kind = Command::Tempo;
    c.value = factor;
    send(c);
}

void PortPlayback::setGain(float linearGain) {
    Command c;
    c.kind = Command::Gain;
    c.value = linearGain;
    send(c);
}

bool PortPlayback::isPlaying(std::uint64_t id) const {
    if (id == 0 || id > lastSent_) return false;
    if (id == lastSent_ && startUnseen_) {
        startUnseen_ = false;
        return true;
    }
    return id > finishedId_.load(std::memory_order_acquire);
}

void PortPlayback::wakeRealTime() {
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_all();
}

void PortPlayback::collectGarbage() {
    SequencePlayer* p = nullptr;
    while (garbage_.pop(p))
        delete p;
}

void PortPlayback::retire(MidiSink& sink) {
    if (current_ == nullptr) return;
    current_->stop(sink);
    // Freeing belongs to the GUI thread; only if it stopped collecting for
    // 256 plays is a player left unfreed.
    garbage_.push(current_);
    current_ = nullptr;
    finishedId_.store(currentId_, std::memory_order_release);
}

void PortPlayback::applyCommands(MidiSink& sink, PortControls* controls) {
    Command c;
    while (commands_.pop(c)) {
        switch (c.kind) {
        case Command::Start:
            retire(sink);
            if (controls != nullptr) controls->playStarting();
            current_ = c.player;
            currentId_ = c.id;
            fresh_ = true;
            current_->setMasterTempo(masterTempo_);
            break;
        case Command::Stop:
            if (c.id == 0 || c.id == currentId_) retire(sink);
            break;
        case Command::Tempo:
            masterTempo_ = c.value;
            if (current_ != nullptr) current_->setMasterTempo(masterTempo_);
            break;
        case Command::Gain:
            if (controls != nullptr) controls->setGain(c.value);
            break;
        }
    }
}

void PortPlayback::advance(double seconds, MidiSink& sink) {
    if (current_ == nullptr) return;
    if (fresh_) {
        seconds = 0.0;
        fresh_ = false;
    }
    current_->advance(seconds, sink);
    if (current_->finished()) {
        // Ended by itself: its notes are released already.
        if (garbage_.push(current_)) current_ = nullptr;
        finishedId_.store(currentId_, std::memory_order_release);
    }
}

void PortPlayback::stopNow(MidiSink& sink) {
    retire(sink);
}

void PortPlayback::drain(MidiSink& sink, PortControls* controls) {
    applyCommands(sink, controls);
    retire(sink);
    collectGarbage();
}

} // namespace qorn::platform
