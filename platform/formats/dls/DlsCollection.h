// An instrument collection as read from a DLS file (Level 1 or 2): the
// instruments with their regions and articulation, and the wave pool as mono
// 16-bit PCM. Built once by the reader, then only read (shared between the
// loader's cache, the pieces that use it and the synthesizer).
#pragma once

#include "platform/com/ComTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qorn::dls {

// One connection block of an `art1`/`art2` chunk, as stored.
struct Connection {
    std::uint16_t source = 0;
    std::uint16_t control = 0;
    std::uint16_t destination = 0;
    std::uint16_t transform = 0;
    std::int32_t scale = 0;
};

struct Articulation {
    // True for `art2` (Level 2 rules), false for `art1`.
    bool level2 = false;
    std::vector<Connection> connections;
};

struct WaveLoop {
    static constexpr std::uint32_t kForward = 0;
    static constexpr std::uint32_t kRelease = 1; // plays on after note-off too
    std::uint32_t type = kForward;
    std::uint32_t start = 0;  // in sample frames
    std::uint32_t length = 0; // in sample frames
};

// `wsmp`: tuning, gain and loops of a wave, or a region's override of them.
struct WaveSample {
    std::uint16_t unityNote = 60;
    std::int16_t fineTune = 0; // cents
    std::int32_t gain = 0;     // 1/65536 centibel (negative: quieter)
    std::uint32_t options = 0;
    std::vector<WaveLoop> loops; // at most one is used for playback
};

struct Wave {
    std::uint32_t sampleRate = 22050;
    std::uint16_t channels = 1;       // in the file; `samples` is always mono
    std::uint16_t bitsPerSample = 16; // in the file
    std::vector<std::int16_t> samples;
    std::optional<WaveSample> sample;
    std::string name;
};

struct Region {
    static constexpr std::uint32_t kNoWave = 0xFFFFFFFFu;
    std::uint16_t keyLow = 0;
    std::uint16_t keyHigh = 127;
    std::uint16_t velocityLow = 0;
    std::uint16_t velocityHigh = 127;
    std::uint16_t options = 0;  // F_RGN_OPTION_SELFNONEXCLUSIVE = 1
    std::uint16_t keyGroup = 0; // exclusive class (drum choke groups)
    std::uint16_t layer = 0;
    // `wlnk`
    std::uint16_t linkOptions = 0;
    std::uint16_t phaseGroup = 0;
    std::uint32_t channel = 1;
    std::uint32_t tableIndex = 0;
    // Index into Collection::waves, resolved through the pool table.
    std::uint32_t waveIndex = kNoWave;
    std::optional<WaveSample> sample;
    std::vector<Articulation> articulations;
};

struct Instrument {
    static constexpr std::uint32_t kDrumFlag = 0x80000000u;
    std::uint8_t bankMsb = 0;
    std::uint8_t bankLsb = 0;
    std::uint8_t program = 0;
    bool drums = false;
    std::string name;
    std::vector<Region> regions;
    std::vector<Articulation> articulations; // apply to every region without its own
};

// What the reader could not keep of a damaged file: the instruments that
// lost a part of themselves or of their waves are left out whole.
struct Damage {
    // The first fault: "chunk 'LIST' at byte 45178 runs past its container".
    std::string reason;
    // The instruments left out, by name or patch.
    std::vector<std::string> lost;
    // Instruments the collection's header counts that the file never reached.
    std::size_t unread = 0;
};

// Waves of one format left silent because their samples do not decode.
struct SilentWaves {
    std::uint16_t formatTag = 0;
    // True for a format the player has no decoder for; false for one it
    // decodes, whose samples here do not.
    bool unknownFormat = true;
    std::size_t count = 0;
};

struct Collection {
    std::optional<qorn::platform::GUID> guid; // `dlid`
    std::string name;                         // INFO `INAM`
    std::uint32_t versionMs = 0;
    std::uint32_t versionLs = 0;
    std::vector<Instrument> instruments;
    std::vector<Wave> waves;
    std::optional<Damage> damage; // set when the file was damaged
    std::vector<SilentWaves> silentWaves;
};

// The instrument answering a patch, or nullptr. When two instruments claim
// the same patch the first in the file wins.
const Instrument* FindInstrument(const Collection& collection, std::uint8_t bankMsb, std::uint8_t bankLsb,
                                 std::uint8_t program, bool drums);
inline bool CollectionHasPatch(const Collection& collection, std::uint8_t bankMsb, std::uint8_t bankLsb,
                               std::uint8_t program, bool drums) {
    return FindInstrument(collection, bankMsb, bankLsb, program, drums) != nullptr;
}

// The instrument a band's patch plays from a collection: the exact patch,
// else (the author chose this collection for the part) the first instrument
// of the same program and kind at another bank; nullptr when the collection
// has neither. `exact` tells which.
const Instrument* FindBandInstrument(const Collection& collection, std::uint8_t bankMsb, std::uint8_t bankLsb,
                                     std::uint8_t program, bool drums, bool* exact = nullptr);

// The tuning and loops that apply to a region: its own, else its wave's,
// else the defaults.
const WaveSample& EffectiveSample(const Collection& collection, const Region& region);

} // namespace qorn::dls
