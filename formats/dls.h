// SPDX-License-Identifier: GPL-3.0-or-later
// Reads any DLS Level 1 or Level 2 collection into plain records: instruments with their
// regions and connection blocks, the pool table, and the waves as 16-bit mono PCM.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

// Connection sources and destinations of the articulation blocks ("art1", "art2").
namespace dls {
constexpr uint16_t kSrcNone = 0x0000;
constexpr uint16_t kSrcLfo = 0x0001;
constexpr uint16_t kSrcKeyOnVelocity = 0x0002;
constexpr uint16_t kSrcKeyNumber = 0x0003;
constexpr uint16_t kSrcEg1 = 0x0004;
constexpr uint16_t kSrcEg2 = 0x0005;
constexpr uint16_t kSrcPitchWheel = 0x0006;
constexpr uint16_t kSrcPolyPressure = 0x0007;
constexpr uint16_t kSrcChannelPressure = 0x0008;
constexpr uint16_t kSrcVibrato = 0x0009;
constexpr uint16_t kSrcCc1 = 0x0081;
constexpr uint16_t kSrcCc7 = 0x0087;
constexpr uint16_t kSrcCc10 = 0x008A;
constexpr uint16_t kSrcCc11 = 0x008B;
constexpr uint16_t kSrcCc91 = 0x00DB;
constexpr uint16_t kSrcCc93 = 0x00DD;
constexpr uint16_t kSrcRpn0 = 0x0100; // pitch-bend range

constexpr uint16_t kDstNone = 0x0000;
constexpr uint16_t kDstGain = 0x0001; // "attenuation" in Level 1, 1/65536 cB of gain
constexpr uint16_t kDstPitch = 0x0003;
constexpr uint16_t kDstPan = 0x0004;
constexpr uint16_t kDstChorus = 0x0080;
constexpr uint16_t kDstReverb = 0x0081;
constexpr uint16_t kDstLfoFrequency = 0x0104;
constexpr uint16_t kDstLfoDelay = 0x0105;
constexpr uint16_t kDstVibratoFrequency = 0x0114;
constexpr uint16_t kDstVibratoDelay = 0x0115;
constexpr uint16_t kDstEg1Attack = 0x0206;
constexpr uint16_t kDstEg1Decay = 0x0207;
constexpr uint16_t kDstEg1Release = 0x0209;
constexpr uint16_t kDstEg1Sustain = 0x020A;
constexpr uint16_t kDstEg1Delay = 0x020B;
constexpr uint16_t kDstEg1Hold = 0x020C;
constexpr uint16_t kDstEg2Attack = 0x030A;
constexpr uint16_t kDstEg2Decay = 0x030B;
constexpr uint16_t kDstEg2Release = 0x030D;
constexpr uint16_t kDstEg2Sustain = 0x030E;
constexpr uint16_t kDstEg2Delay = 0x030F;
constexpr uint16_t kDstEg2Hold = 0x0310;
constexpr uint16_t kDstFilterCutoff = 0x0500;
constexpr uint16_t kDstFilterQ = 0x0501;

constexpr uint16_t kTransformNone = 0;
constexpr uint16_t kTransformConcave = 1;
constexpr uint16_t kTransformConvex = 2;
constexpr uint16_t kTransformSwitch = 3;

// A scale of this value on the filter cutoff switches the filter off.
constexpr int32_t kFilterCutoffOff = 0x7FFFFFFF;
// A time scale of this value means a time of zero.
constexpr int32_t kTimeZero = static_cast<int32_t>(0x80000000u);

constexpr uint32_t kLoopForward = 0; // loops for as long as the voice sounds
constexpr uint32_t kLoopRelease = 1; // loops until the key is released, then plays on
} // namespace dls

// One 12-byte connection block.
struct DlsConnection {
    uint16_t source = 0;      // +0, u16
    uint16_t control = 0;     // +2, u16
    uint16_t destination = 0; // +4, u16
    uint16_t transform = 0;   // +6, u16: Level 2 packs source/control transforms and flags
    int32_t scale = 0;        // +8, s32: unit given by the destination, × 65536
    bool level2 = false;      // read from "art2" (else "art1")
};

// One loop record of a "wsmp" chunk (after its own u32 size).
struct DlsLoop {
    uint32_t type = 0;   // +4, u32: dls::kLoopForward or dls::kLoopRelease
    uint32_t start = 0;  // +8, u32: first frame of the loop
    uint32_t length = 0; // +12, u32: frames in the loop
};

// "wsmp": how a sample is tuned, attenuated and looped.
struct DlsSampleInfo {
    uint16_t unityNote = 60;    // +4, u16: key that plays the sample at its own rate
    int16_t fineTune = 0;       // +6, s16: cents
    int32_t attenuation = 0;    // +8, s32: gain in 1/65536 cB (negative is quieter)
    uint32_t options = 0;       // +12, u32
    std::vector<DlsLoop> loops; // +16 count, then the records at the header size
};

struct DlsRegion {
    uint16_t keyLow = 0;                 // "rgnh" +0, u16
    uint16_t keyHigh = 127;              // +2, u16
    uint16_t velocityLow = 0;            // +4, u16
    uint16_t velocityHigh = 127;         // +6, u16
    uint16_t options = 0;                // +8, u16
    uint16_t keyGroup = 0;               // +10, u16: exclusive class, 0 = none
    uint16_t layer = 0;                  // +12, u16 (Level 2, optional)
    std::optional<DlsSampleInfo> sample; // the region's own "wsmp"
    bool hasLink = false;
    uint16_t linkOptions = 0; // "wlnk" +0, u16
    uint16_t phaseGroup = 0;  // +2, u16
    uint32_t channel = 1;     // +4, u32: channel bit mask
    uint32_t tableIndex = 0;  // +8, u32: index into the pool table
    std::vector<DlsConnection> articulation;
    int64_t offset = 0; // file offset of the region's LIST header
};

struct DlsInstrument {
    uint32_t bank = 0;            // "insh" +4, u32: bits 0-6 CC32, bits 8-14 CC0, bit 31 drum kit
    uint32_t program = 0;         // +8, u32: bits 0-6 the program
    uint32_t declaredRegions = 0; // +0, u32
    std::string name;             // INFO "INAM", bytes as stored
    std::vector<DlsRegion> regions;
    std::vector<DlsConnection> articulation;
    int64_t offset = 0; // file offset of the instrument's LIST header

    uint8_t BankMsb() const { return static_cast<uint8_t>((bank >> 8) & 0x7F); }
    uint8_t BankLsb() const { return static_cast<uint8_t>(bank & 0x7F); }
    uint8_t Program() const { return static_cast<uint8_t>(program & 0x7F); }
    bool IsDrumKit() const { return (bank & 0x80000000u) != 0; }
};

struct DlsWave {
    uint16_t formatTag = 0;              // "fmt " +0, u16: 1 PCM, 3 IEEE float
    uint16_t channels = 0;               // +2, u16
    uint32_t sampleRate = 0;             // +4, u32: frames per second
    uint16_t blockAlign = 0;             // +12, u16: bytes per frame
    uint16_t bitsPerSample = 0;          // +14, u16
    std::optional<DlsSampleInfo> sample; // the wave's own "wsmp"
    std::vector<int16_t> pcm;            // frames, mixed down to one channel
    bool playable = false;               // a format we decode, with at least one frame
    std::string name;                    // INFO "INAM"
    int64_t offset = 0;                  // file offset of the wave's LIST header
};

struct DlsCollection {
    uint32_t declaredInstruments = 0; // "colh"
    bool hasVersion = false;
    uint32_t versionMs = 0; // "vers" +0
    uint32_t versionLs = 0; // "vers" +4
    std::string name;       // INFO "INAM" of the collection
    std::vector<DlsInstrument> instruments;
    std::vector<uint32_t> poolTable; // "ptbl" offsets, relative to the "wvpl" list data
    std::vector<DlsWave> waves;      // "wvpl" order
    std::vector<int> cueToWave;      // per pool table entry: index into waves, or -1

    // The wave a region plays, or nullptr when its link leads nowhere playable.
    const DlsWave* WaveOf(const DlsRegion& region) const;
};

enum class [[nodiscard]] DlsReadStatus{
    Ok,
    NotDls,    // not a RIFF form "DLS "
    Malformed, // a chunk runs past its parent, or a fixed record is short
    OpenFailed // the file could not be opened or read
};

struct DlsReadOutcome {
    DlsReadStatus status = DlsReadStatus::Ok;
    DlsCollection collection;
    // The failure names the structure and offset when status is not Ok; the notes say
    // what was read past.
    Diagnostics diagnostics;
};

// Reads a collection from memory. Never reads outside `bytes`.
DlsReadOutcome ReadDls(std::span<const uint8_t> bytes);
// Reads a collection file through the file system seam, at most kLargestWholeFile bytes.
DlsReadOutcome ReadDlsFile(const std::string& path);

} // namespace sonvex
