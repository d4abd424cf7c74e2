#include "platform/performance/SequencePlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qorn::platform {
namespace {

constexpr std::uint32_t kDefaultTempo = 500000; // 120 beats per minute
constexpr std::uint32_t kNoTick = std::numeric_limits<std::uint32_t>::max();

template <typename T> std::size_t firstAtOrAfter(const std::vector<T>& v, std::uint32_t tick) {
    auto it = std::lower_bound(v.begin(), v.end(), tick, [](const T& e, std::uint32_t t) { return e.tick < t; });
    return static_cast<std::size_t>(it - v.begin());
}

bool isNoteOff(const music::SeqEvent& e) {
    const std::uint8_t kind = e.status & 0xF0;
    return kind == 0x80 || (kind == 0x90 && e.data2 == 0);
}

} // namespace

SequencePlayer::SequencePlayer(std::shared_ptr<const music::Sequence> sequence, std::uint32_t repeats)
    : seq_(sequence ? std::move(sequence) : std::make_shared<const music::Sequence>()), repeats_(repeats) {
    audible_.set(0);
    tempo_ = kDefaultTempo;
    const std::uint32_t length = seq_->lengthTicks;
    loopEnd_ = seq_->loopEndTicks == 0 ? length : std::min(seq_->loopEndTicks, length);
    loopStart_ = seq_->loopStartTicks;
    // An empty loop region would repeat without time passing.
    if (loopStart_ >= loopEnd_) {
        loopStart_ = 0;
        loopEnd_ = length;
        if (length == 0) repeats_ = 0;
    }
}

void SequencePlayer::setMasterTempo(double factor) {
    if (!std::isfinite(factor)) factor = 1.0;
    masterTempo_ = std::clamp(factor, 0.01, 100.0);
    quietSeconds_ = 0.0;
}

double SequencePlayer::microsecondsPerTick() const {
    const std::uint32_t us = tempo_ == 0 ? 1 : tempo_;
    const double tpq = seq_->ticksPerQuarter == 0 ? 1.0 : double(seq_->ticksPerQuarter);
    return double(us) / tpq / masterTempo_;
}

void SequencePlayer::seekTo(std::uint32_t tick) {
    pos_ = tick;
    eventIdx_ = firstAtOrAfter(seq_->events, tick);
    sysexIdx_ = firstAtOrAfter(seq_->sysex, tick);
    patchIdx_ = firstAtOrAfter(seq_->patches, tick);
    waveIdx_ = firstAtOrAfter(seq_->waves, tick);
    // Tempo is the performance's state: a jump back keeps the tempo in force
    // until the region's own tempo changes replay.
    tempoIdx_ = firstAtOrAfter(seq_->tempos, tick);
}

void SequencePlayer::advance(double seconds, MidiSink& sink) {
    quietSeconds_ = 0.0;
    if (finished_) return;
    double remaining = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
    emitDue(sink, false);
    const auto& tempos = seq_->tempos;
    while (!finished_) {
        const std::uint32_t end = passEnd();
        // Changes reached take effect; the next one ahead bounds this step.
        while (tempoIdx_ < tempos.size() && tempos[tempoIdx_].tick <= pos_)
            tempo_ = tempos[tempoIdx_++].microsecondsPerQuarter;
        const std::size_t next = tempoIdx_;
        double boundary = end;
        bool tempoBoundary = false;
        if (next < tempos.size() && tempos[next].tick < end) {
            boundary = tempos[next].tick;
            tempoBoundary = true;
        }
        const double usPerTick = microsecondsPerTick();
        const double toBoundary = boundary - pos_;
        const double wanted = remaining * 1e6 / usPerTick;
        if (wanted < toBoundary) {
            pos_ += wanted;
            elapsed_ += remaining;
            emitDue(sink, false);
            noteQuietAhead(boundary, usPerTick);
            return;
        }
        pos_ = boundary;
        const double used = std::max(0.0, toBoundary) * usPerTick / 1e6;
        remaining = std::max(0.0, remaining - used);
        elapsed_ += used;
        if (tempoBoundary) {
            emitDue(sink, false);
            continue;
        }
        // End of a play of the piece or of its loop region.
        emitDue(sink, true);
        releaseSounding(sink);
        // Waves end with the pass, like the notes.
        if (waveTarget_) waveTarget_->stopWaves();
        if (finalPass()) {
            finished_ = true;
            return;
        }
        ++passesDone_;
        seekTo(loopStart_);
        emitDue(sink, false);
    }
}

void SequencePlayer::noteQuietAhead(double boundary, double usPerTick) {
    // Waves are told of every step, so no step is quiet while there are any.
    if (waveTarget_) return;
    double next = boundary;
    if (eventIdx_ < seq_->events.size()) next = std::min(next, double(seq_->events[eventIdx_].tick));
    if (sysexIdx_ < seq_->sysex.size()) next = std::min(next, double(seq_->sysex[sysexIdx_].tick));
    if (patchIdx_ < seq_->patches.size()) next = std::min(next, double(seq_->patches[patchIdx_].tick));
    // Well clear of the slack emitDue allows, so that rounding never lets a
    // step that sends something pass for a quiet one.
    quietSeconds_ = std::max(0.0, (next - pos_ - 1e-3) * usPerTick / 1e6);
}

void SequencePlayer::emitDue(MidiSink& sink, bool atPassEnd) {
    emitDueMidi(sink, atPassEnd);
    if (waveTarget_) emitDueWaves();
}

void SequencePlayer::emitDueWaves() {
    const auto& waves = seq_->waves;
    const std::uint32_t end = passEnd();
    const double limit = pos_ + 1e-6;
    // Nothing starts at or after the end of a pass.
    while (waveIdx_ < waves.size() && waves[waveIdx_].tick <= limit && waves[waveIdx_].tick < end) {
        const music::WaveItem& w = waves[waveIdx_++];
        if (!audible_.test(w.group)) continue;
        waveTarget_->startWave(w, std::max(0.0, (pos_ - w.tick) * microsecondsPerTick() / 1e6));
    }
    while (waveIdx_ < waves.size() && waves[waveIdx_].tick <= limit)
        ++waveIdx_;
    waveTarget_->reached(pos_);
}

void SequencePlayer::emitDueMidi(MidiSink& sink, bool atPassEnd) {
    const bool last = finalPass();
    const std::uint32_t end = passEnd();
    // A hair of slack so that rounding in the accumulated clock never puts
    // an event due exactly now into the next step.
    const auto limit = static_cast<std::uint32_t>(std::min<double>(pos_ + 1e-6, double(kNoTick - 1)));
    const auto& events = seq_->events;
    const auto& sysex = seq_->sysex;
    const auto& patches = seq_->patches;
    for (;;) {
        const std::uint32_t tp = patchIdx_ < patches.size() ? patches[patchIdx_].tick : kNoTick;
        const std::uint32_t ts = sysexIdx_ < sysex.size() ? sysex[sysexIdx_].tick : kNoTick;
        const std::uint32_t te = eventIdx_ < events.size() ? events[eventIdx_].tick : kNoTick;
        const std::uint32_t t = std::min({tp, ts, te});
        if (t == kNoTick) return;
        if (last && atPassEnd) {
            // The last play sends whatever is left, even past its length.
        } else if (t > limit) {
            return;
        } else if (!last && t >= end) {
            // At a joint, note-offs on the joint still belong to this play;
            // everything else there is the start of the next one.
            if (!atPassEnd || t > end) return;
            while (eventIdx_ < events.size() && events[eventIdx_].tick == end) {
                if (isNoteOff(events[eventIdx_])) emitEvent(events[eventIdx_], sink);
                ++eventIdx_;
            }
            return;
        }
        if (tp == t)
            emitPatch(patches[patchIdx_++], sink);
        else if (ts == t)
            emitSysEx(sysex[sysexIdx_++], sink);
        else
            emitEvent(events[eventIdx_++], sink);
    }
}

void SequencePlayer::emitEvent(const music::SeqEvent& e, MidiSink& sink) {
    if (!audible_.test(e.group)) return;
    const std::uint8_t kind = e.status & 0xF0;
    const unsigned ch = e.status & 0x0F;
    const std::size_t key = ch * 128 + (e.data1 & 0x7F);
    usedChannels_ = static_cast<std::uint16_t>(usedChannels_ | (1u << ch));
    if (kind == 0x90 && e.data2 > 0) {
        if (sounding_[key] < 255) ++sounding_[key];
    } else if (kind == 0x80 || kind == 0x90) {
        if (sounding_[key] > 0) --sounding_[key];
    } else if (kind == 0xB0 && e.data1 == 64) {
        if (e.data2 >= 64)
            sustainDown_ = static_cast<std::uint16_t>(sustainDown_ | (1u << ch));
        else
            sustainDown_ = static_cast<std::uint16_t>(sustainDown_ & ~(1u << ch));
    }
    sink.shortMessage(e.status, e.data1 & 0x7F, e.data2 & 0x7F);
}

void SequencePlayer::emitSysEx(const music::SysExEvent& e, MidiSink& sink) {
    if (!audible_.test(e.group)) return;
    const auto& bytes = seq_->sysexBytes;
    if (e.offset >= bytes.size() || e.length > bytes.size() - e.offset || e.length < 2) return;
    const std::uint8_t* data = bytes.data() + e.offset;
    // Only complete messages; raw escapes are not for a synthesizer.
    if (data[0] != 0xF0 || data[e.length - 1] != 0xF7) return;
    sink.sysEx(data, e.length);
}

void SequencePlayer::emitPatch(const music::PatchSelect& p, MidiSink& sink) {
    if (!audible_.test(p.group) || p.channel > 15) return;
    usedChannels_ = static_cast<std::uint16_t>(usedChannels_ | (1u << p.channel));
    if (patchTarget_ != nullptr) {
        patchTarget_->selectPatch(p, sink);
        return;
    }
    const std::uint8_t ch = p.channel;
    sink.shortMessage(static_cast<std::uint8_t>(0xB0 | ch), 0, p.bankMsb & 0x7F);
    sink.shortMessage(static_cast<std::uint8_t>(0xB0 | ch), 32, p.bankLsb & 0x7F);
    sink.shortMessage(static_cast<std::uint8_t>(0xC0 | ch), p.program & 0x7F, 0);
}

void SequencePlayer::releaseSounding(MidiSink& sink) {
    for (unsigned ch = 0; ch < 16; ++ch) {
        if ((usedChannels_ & (1u << ch)) == 0) continue;
        for (unsigned note = 0; note < 128; ++note) {
            std::uint8_t& count = sounding_[ch * 128 + note];
            for (; count > 0; --count)
                sink.shortMessage(static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(note), 0);
        }
        if (sustainDown_ & (1u << ch)) sink.shortMessage(static_cast<std::uint8_t>(0xB0 | ch), 64, 0);
    }
    sustainDown_ = 0;
}

void SequencePlayer::stop(MidiSink& sink) {
    if (waveTarget_) waveTarget_->stopWaves();
    if (finished_ && usedChannels_ == 0) return;
    releaseSounding(sink);
    for (unsigned ch = 0; ch < 16; ++ch) {
        if ((usedChannels_ & (1u << ch)) == 0) continue;
        sink.shortMessage(static_cast<std::uint8_t>(0xB0 | ch), 123, 0);
        sink.shortMessage(static_cast<std::uint8_t>(0xB0 | ch), 121, 0);
    }
    // After the general reset, so the values the curves' authors chose win.
    if (!finished_) {
        for (const auto& r : seq_->resets) {
            if (r.fromTick > pos_) break;
            if (pos_ <= r.untilTick && audible_.test(r.group)) sink.shortMessage(r.status, r.data1, r.data2);
        }
    }
    usedChannels_ = 0;
    finished_ = true;
}

} // namespace qorn::platform
