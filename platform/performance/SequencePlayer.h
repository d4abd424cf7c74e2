// Plays one Sequence against a clock that the caller moves forward: the
// synthesizer's audio callback moves it by 64-frame blocks, the timing thread
// of an external port by real time. Knows nothing of threads or devices, so
// repeats, tempo and note release can be tested on their own.
#pragma once

#include "platform/music/Sequence.h"
#include "platform/performance/MidiSink.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

namespace qorn::platform {

inline constexpr std::uint32_t kRepeatForever = 0xFFFFFFFFu;

// Where a band's patch choice goes. Without one, the player sends bank select
// and program change messages.
class PatchTarget {
  public:
    virtual ~PatchTarget() = default;
    virtual void selectPatch(const music::PatchSelect& patch, MidiSink& sink) = 0;
};

// Where the waves of a piece go (the synthesizer's output); a player
// without one plays no waves. Called on the thread that moves the player.
class WaveTarget {
  public:
    virtual ~WaveTarget() = default;
    // `secondsLate`: how long before the player's current time the wave was
    // due. The output's next frame is the player's current time, so skipping
    // that much of the wave lines it up to the frame.
    virtual void startWave(const music::WaveItem& wave, double secondsLate) = 0;
    // The play reached `tick`: waves cut off by then stop.
    virtual void reached(double tick) = 0;
    virtual void stopWaves() = 0;
};

class SequencePlayer {
  public:
    // `repeats`: plays of the loop region after the first play
    // (kRepeatForever: until stopped).
    SequencePlayer(std::shared_ptr<const music::Sequence> sequence, std::uint32_t repeats);

    // Channel blocks whose events this player sends; block 0 only by default.
    void setAudibleGroups(const std::bitset<256>& groups) { audible_ = groups; }
    const std::bitset<256>& audibleGroups() const { return audible_; }
    void setPatchTarget(std::unique_ptr<PatchTarget> target) { patchTarget_ = std::move(target); }
    void setWaveTarget(std::unique_ptr<WaveTarget> target) { waveTarget_ = std::move(target); }
    WaveTarget* waveTarget() const { return waveTarget_.get(); }
    // Factor on every tempo of the piece (clamped to 0.01..100).
    void setMasterTempo(double factor);

    // Moves the clock forward by `seconds` and sends every event due at or
    // before the new time. advance(0) sends what is due now.
    void advance(double seconds, MidiSink& sink);

    // Silences at once: note-offs for every sounding note, then all-notes-off
    // and reset-all-controllers on every channel the piece used, then the
    // reset values of the curves cut off inside their reset time.
    void stop(MidiSink& sink);

    bool finished() const { return finished_; }
    // How far the clock can move on from here with nothing sent and nothing
    // changed but the clock, as the last advance found it (0 when unknown).
    // Offline rendering hands the synthesizer such stretches in one piece.
    double quietSeconds() const { return quietSeconds_; }
    double positionTicks() const { return pos_; }
    // Plays completed so far (0 during the first).
    std::uint32_t completedPasses() const { return passesDone_; }
    // Seconds the clock has moved while the piece played.
    double elapsedSeconds() const { return elapsed_; }
    const music::Sequence& sequence() const { return *seq_; }

  private:
    bool finalPass() const { return repeats_ != kRepeatForever && passesDone_ >= repeats_; }
    std::uint32_t passEnd() const { return finalPass() ? seq_->lengthTicks : loopEnd_; }
    double microsecondsPerTick() const;
    void noteQuietAhead(double boundary, double usPerTick);
    void emitDue(MidiSink& sink, bool atPassEnd);
    void emitDueMidi(MidiSink& sink, bool atPassEnd);
    void emitDueWaves();
    void emitEvent(const music::SeqEvent& e, MidiSink& sink);
    void emitSysEx(const music::SysExEvent& e, MidiSink& sink);
    void emitPatch(const music::PatchSelect& p, MidiSink& sink);
    void releaseSounding(MidiSink& sink);
    void seekTo(std::uint32_t tick);

    std::shared_ptr<const music::Sequence> seq_;
    std::uint32_t repeats_;
    std::uint32_t loopStart_ = 0;
    std::uint32_t loopEnd_ = 0;
    std::uint32_t passesDone_ = 0;
    double pos_ = 0.0;
    double masterTempo_ = 1.0;
    double elapsed_ = 0.0;
    std::size_t eventIdx_ = 0;
    std::size_t sysexIdx_ = 0;
    std::size_t patchIdx_ = 0;
    std::size_t tempoIdx_ = 0;     // the next tempo change not yet in force
    std::uint32_t tempo_ = 500000; // microseconds per quarter in force (120 BPM until a change)
    std::size_t waveIdx_ = 0;
    bool finished_ = false;
    double quietSeconds_ = 0.0;
    std::bitset<256> audible_;
    std::unique_ptr<PatchTarget> patchTarget_;
    std::unique_ptr<WaveTarget> waveTarget_;
    // Count of note-ons without their note-off, per channel and key.
    std::array<std::uint8_t, 16 * 128> sounding_{};
    std::uint16_t usedChannels_ = 0;
    std::uint16_t sustainDown_ = 0;
};

} // namespace qorn::platform
