// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a SoundFont 2 bank into plain records: presets and instruments with their zones
// (generators and modulators as stored), the sample headers and the 16-bit sample data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

// Generator numbers the users of the model look at.
namespace sf2op {
constexpr uint16_t kStartLoopOffset = 2; // sample points
constexpr uint16_t kEndLoopOffset = 3;   // sample points
constexpr uint16_t kPan = 17;            // 0.1 % right of centre, -500..500
constexpr uint16_t kVolEnvDelay = 33;    // timecents
constexpr uint16_t kVolEnvAttack = 34;   // timecents
constexpr uint16_t kVolEnvHold = 35;     // timecents
constexpr uint16_t kVolEnvDecay = 36;    // timecents
constexpr uint16_t kVolEnvSustain = 37;  // cB below the peak
constexpr uint16_t kVolEnvRelease = 38;  // timecents
constexpr uint16_t kInstrument = 41;
constexpr uint16_t kKeyRange = 43;
constexpr uint16_t kVelRange = 44;
constexpr uint16_t kStartLoopCoarseOffset = 45; // 32768 sample points
constexpr uint16_t kInitialAttenuation = 48;    // cB
constexpr uint16_t kEndLoopCoarseOffset = 50;   // 32768 sample points
constexpr uint16_t kCoarseTune = 51;            // semitones
constexpr uint16_t kFineTune = 52;              // cents
constexpr uint16_t kSampleId = 53;
constexpr uint16_t kSampleModes = 54; // 0 no loop, 1 and 3 loop
constexpr uint16_t kExclusiveClass = 57;
constexpr uint16_t kOverridingRootKey = 58;
} // namespace sf2op

struct Sf2Generator {
    uint16_t oper = 0;   // +0, u16
    uint16_t amount = 0; // +2, u16, s16, or low byte / high byte of a range

    int16_t Signed() const { return static_cast<int16_t>(amount); }
    uint8_t Low() const { return static_cast<uint8_t>(amount & 0xFF); }
    uint8_t High() const { return static_cast<uint8_t>(amount >> 8); }
};

struct Sf2Modulator {
    uint16_t source = 0;       // +0, u16
    uint16_t destination = 0;  // +2, u16
    int16_t amount = 0;        // +4, s16
    uint16_t amountSource = 0; // +6, u16
    uint16_t transform = 0;    // +8, u16
};

struct Sf2Zone {
    std::vector<Sf2Generator> generators;
    std::vector<Sf2Modulator> modulators;

    // The zone's generator `oper`, if present.
    std::optional<Sf2Generator> Find(uint16_t oper) const;
};

struct Sf2Preset {
    std::string name;    // +0, 20 bytes
    uint16_t preset = 0; // +20, u16
    uint16_t bank = 0;   // +22, u16
    std::vector<Sf2Zone> zones;
};

struct Sf2Instrument {
    std::string name; // +0, 20 bytes
    std::vector<Sf2Zone> zones;
};

struct Sf2Sample {
    std::string name;           // +0, 20 bytes
    uint32_t start = 0;         // +20, u32: sample points into "smpl"
    uint32_t end = 0;           // +24, u32: first point after the sample
    uint32_t loopStart = 0;     // +28, u32
    uint32_t loopEnd = 0;       // +32, u32: first point after the loop
    uint32_t sampleRate = 0;    // +36, u32
    uint8_t originalPitch = 60; // +40, u8
    int8_t pitchCorrection = 0; // +41, s8: cents
    uint16_t link = 0;          // +42, u16
    uint16_t type = 0;          // +44, u16: 1 mono
};

struct Sf2Bank {
    uint16_t versionMajor = 0; // "ifil"
    uint16_t versionMinor = 0;
    std::string name;                  // "INAM"
    std::string engine;                // "isng"
    std::vector<int16_t> samplePoints; // "smpl"
    std::vector<Sf2Preset> presets;    // without the terminal record
    std::vector<Sf2Instrument> instruments;
    std::vector<Sf2Sample> samples;
};

// The global zone of a preset's or instrument's zones: the first one, when it does not
// end with `terminal` (sf2op::kInstrument for presets, sf2op::kSampleId for instruments).
const Sf2Zone* Sf2GlobalZone(const std::vector<Sf2Zone>& zones, uint16_t terminal);
// A zone's generator `oper`, else the global zone's (which may be null).
std::optional<Sf2Generator> Sf2Find(const Sf2Zone& zone, const Sf2Zone* global, uint16_t oper);

// One key and velocity area of a preset as a player finds it: a preset zone over one of
// its instrument's zones, each range the overlap of the two levels (a zone's own range,
// else its global zone's).
struct Sf2Region {
    uint8_t keyLow = 0;
    uint8_t keyHigh = 127;
    uint8_t velocityLow = 0;
    uint8_t velocityHigh = 127;
    uint16_t instrument = 0;
    uint16_t sample = 0;
};

// The regions of a preset; areas whose ranges do not overlap are left out.
std::vector<Sf2Region> Sf2PresetRegions(const Sf2Bank& bank, const Sf2Preset& preset);

enum class [[nodiscard]] Sf2ReadStatus{
    Ok,
    NotSf2,    // not a RIFF form "sfbk"
    Malformed, // a chunk past its parent, a table missing or of the wrong size, an index
               // out of order or beyond its table, a sample outside the sample data
    OpenFailed};

struct Sf2ReadOutcome {
    Sf2ReadStatus status = Sf2ReadStatus::Ok;
    Sf2Bank bank;
    Diagnostics diagnostics;
};

// Reads a bank from memory; never reads outside `bytes`.
Sf2ReadOutcome ReadSf2(std::span<const uint8_t> bytes);
// Reads a bank file through the file system seam, at most kLargestWholeFile bytes.
Sf2ReadOutcome ReadSf2File(const std::string& path);

} // namespace sonvex
