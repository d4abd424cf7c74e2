// The playable form of a loaded piece, whatever file it came from: channel
// events on a tick grid, a tempo map and system-exclusive messages. The
// loaders build it once; the performance only reads it, from any thread,
// while it plays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::dls {
struct Collection;
}
namespace qorn::waves {
struct WaveData;
}

namespace qorn::music {

// A channel message (status 0x80..0xEF). Kept at 8 bytes so a piece of a
// million notes stays small in memory.
struct SeqEvent {
    std::uint32_t tick;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
    // Channel group of the port: 0 is the 16 channels the port plays; a
    // segment's PChannel above 15 is either given one of them or keeps its
    // own group (pchannel = group * 16 + (status & 0x0F)).
    std::uint8_t group;
};
static_assert(sizeof(SeqEvent) == 8);

struct TempoChange {
    std::uint32_t tick;
    std::uint32_t microsecondsPerQuarter;
};

// A system-exclusive message: bytes [offset, offset + length) of
// Sequence::sysexBytes, starting with 0xF0 (or raw bytes of an F7 escape).
struct SysExEvent {
    std::uint32_t tick;
    std::uint32_t offset;
    std::uint32_t length;
    std::uint8_t group;
};

// A patch chosen by a band of a segment file: the program of one channel,
// taken from an instrument collection the piece carries, or from the General
// MIDI set when `collection` is kNoCollection or the collection lacks it.
struct PatchSelect {
    static constexpr std::uint16_t kNoCollection = 0xFFFF;
    std::uint32_t tick;
    std::uint8_t group;
    std::uint8_t channel;
    std::uint16_t collection; // index into Sequence::collections
    std::uint8_t bankMsb;
    std::uint8_t bankLsb;
    std::uint8_t program;
    bool drums;
};

// The channel General MIDI plays drums on (10, counted from 1).
inline constexpr std::uint8_t kDrumChannel = 9;

// A wave started at `tick` on the synthesizer's audio output (a wave track).
struct WaveItem {
    std::uint32_t tick;
    // Where it is cut off (loops stop here); 0: the wave's own end, or the
    // end of the play for a loop.
    std::uint32_t endTick;
    std::uint32_t wave; // index into Sequence::waveData
    float gain;         // linear, before master volume
    // Repeat [loopStart, loopEnd) frames of the wave until endTick.
    bool loop;
    std::uint8_t group;
    std::uint32_t loopStart;
    std::uint32_t loopEnd;
    // First frame played (an item may start into its wave).
    std::uint32_t startFrame;
};

// What a curve marked for reset restores when playback is cut off between
// the curve's start and the end of its reset time (a stop, a flush): a
// performance's reset of all controllers leaves volume and pan where a
// fade left them.
struct ControllerReset {
    std::uint32_t fromTick;
    std::uint32_t untilTick; // inclusive
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
    std::uint8_t group;
};

// How a band ranks a channel when the synthesizer runs out of voices, in
// DirectMusic's voice priority scale: a range in the top bits (critical
// 0xF0000000, high 0xC0000000, standard 0x80000000, low 0x40000000, persist
// 0x10000000), the channel's place within it in the low ones. A channel no
// band ranks is standard.
struct ChannelPriority {
    static constexpr std::uint32_t kHigh = 0xC0000000u;
    std::uint8_t group;
    std::uint8_t channel;
    std::uint32_t priority;
};

// A text the piece shows at a time, such as the name of a chord change
// (a MIDI file's Marker meta-event).
struct TextMarker {
    std::uint32_t tick = 0;
    std::string text;
};

struct Sequence {
    // Ticks per quarter note. A piece timed in SMPTE frames uses ticks per
    // second here with one fixed tempo of 1,000,000 microseconds.
    std::uint32_t ticksPerQuarter = 768;
    // Sorted by tick; events of equal tick keep their order in the file.
    std::vector<SeqEvent> events;
    // Sorted by tick; an empty map means 120 beats per minute throughout.
    std::vector<TempoChange> tempos;
    std::vector<SysExEvent> sysex;
    std::vector<std::uint8_t> sysexBytes;
    // Length of one play in ticks (at least the tick of the last event).
    std::uint32_t lengthTicks = 0;
    // The region that repeats play; loopEnd 0 means the whole piece.
    std::uint32_t loopStartTicks = 0;
    std::uint32_t loopEndTicks = 0;
    // Repeats the file itself asks for (0xFFFFFFFF: for ever).
    std::uint32_t repeats = 0;
    // Sorted by tick; played before channel events of the same tick.
    std::vector<PatchSelect> patches;
    // Instrument collections the piece brings or references (shared with the
    // loader's cache).
    std::vector<std::shared_ptr<const dls::Collection>> collections;
    // Sorted by tick.
    std::vector<WaveItem> waves;
    std::vector<std::shared_ptr<const waves::WaveData>> waveData;
    // Sorted by fromTick; messages of one curve keep their order.
    std::vector<ControllerReset> resets;
    // The highest priority any band of the piece gives a channel, one entry
    // per channel a band ranks.
    std::vector<ChannelPriority> priorities;
    // Sorted by tick.
    std::vector<TextMarker> markers;
};

} // namespace qorn::music
