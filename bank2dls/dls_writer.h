// SPDX-License-Identifier: GPL-3.0-or-later
// The DLS chunks the bank converter writes: instrument regions, articulation (the
// envelope tables and the 5-byte trailer read back by the segment builder) and INFO texts.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bank2dls/chip_envelope.h"
#include "bank2dls/recognition_rules.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "formats/diagnostics.h"
#include "platform/result_code.h"

namespace sonvex {

// Envelope times in seconds, indexed by the ADSR fields of a tone.
struct EnvelopeTables {
    // [sustain level = word 1 & 0xF][decay rate = (word 1 >> 4) & 0xF]
    static const std::array<std::array<double, 16>, 16> decay;
    // [word 2 & 0x1F], release mode bit (word 2 bit 5) clear
    static const std::array<double, 32> releaseLinear;
    // [word 2 & 0x1F], release mode bit set
    static const std::array<double, 32> releaseExponential;
    // [(word 1 >> 8) & 0x7F]
    static const std::array<double, 128> attack;
};

// DLS connection destinations used in "art2" blocks.
constexpr uint16_t kDestPan = 0x0004;
constexpr uint16_t kDestEg1Attack = 0x0206;
constexpr uint16_t kDestEg1Decay = 0x0207;
constexpr uint16_t kDestEg1Release = 0x0209;
constexpr uint16_t kDestEg1Sustain = 0x020A;
constexpr uint16_t kDestEg1Hold = 0x020C;
constexpr uint16_t kDestEg2Sustain = 0x030E;
constexpr uint16_t kDestFilterCutoff = 0x0500;
constexpr int32_t kFilterOff = 0x7FFFFFFF;

// One 12-byte "art2" connection block; source, control and transform are always 0.
struct ConnectionBlock {
    uint16_t destination = 0; // +4, u16
    int32_t scale = 0;        // +8, s32
};

// Region values derived from a tone.
// Fine tune in cents: trunc(fine × 100/127 + 0.5) as s16, minus 50.
int16_t RegionFineTune(uint8_t fine);
// Attenuation in 1/65536 cB: volume 0 gives -960 × 65536, else -trunc(log10(127/v) × 200) × 65536.
int32_t RegionAttenuation(uint8_t volume);
// A time in seconds as 1/65536 time cent: trunc(log2(T) × 1200 × 65536).
int32_t StoredTime(double seconds);
// Pan: trunc((pan - 64) × 7.82) × 65536.
int32_t PanScale(uint8_t pan);
// EG1 sustain level from the sustain mode bits (word 2, 15..14) and level (word 1, 3..0).
int32_t SustainLevelScale(uint16_t adsr1, uint16_t adsr2);
// The release time in seconds: the table by the release mode bit, the index by the rate.
double ReleaseSeconds(uint16_t adsr2);
// The six region connection blocks in file order.
std::array<ConnectionBlock, 6> RegionConnections(const ToneRecord& tone);

// Extended rules: the fine-tune byte raises the pitch by fine × 100/128 cents, rounded
// (0 gives 0, 64 gives +50, 127 gives +99).
int16_t ExtendedFineTune(uint8_t fine);
// Extended rules: EG1 sustain level in 1/65536 of a tenth of a percent of the 96 dB
// envelope range, for a level `db` below the peak.
int32_t SustainScaleOfDb(double db);
// Extended rules: the same six blocks, with the envelope fitted to the chip's own, and
// a seventh for the EG1 hold time.
std::array<ConnectionBlock, 7> ExtendedRegionConnections(const ToneRecord& tone,
                                                         const DlsEnvelopeFit& envelope);

// Five bytes behind each instrument's own connection block, in this order.
struct ArticulationTrailer {
    uint8_t volume = 0;   // +0: program master volume
    uint8_t pan = 0;      // +1: program master pan
    uint8_t mode = 0;     // +2: largest tone mode of the program's regions
    uint8_t bendDown = 0; // +3: largest lower pitch-bend range
    uint8_t bendUp = 0;   // +4: largest upper pitch-bend range
};

// Where a region's loop record was written, so a sample's loop can be copied into it.
struct RegionLoopEntry {
    uint8_t vagNumber = 0;    // low byte of the tone's VAG number
    int64_t loopPosition = 0; // output offset of the region's 16-byte loop record
};

// Converter state shared by the region, wave and INFO writers of one conversion.
struct BankWriterState {
    std::string listTitle;                    // convert list name, used in INFO names
    std::vector<RegionLoopEntry> regionLoops; // grows past the header's tone count if it must
    ArticulationTrailer trailer;
    bool chunkFailed = false; // a chunk could not be closed (size out of range)
    // Classic: the classic tuning and envelope tables; extended: tuning and envelopes
    // as the console plays them.
    RecognitionRules rules = RecognitionRules::Classic;
    std::map<uint32_t, DlsEnvelopeFit> envelopeFits; // by ADSR word 1 << 16 | word 2
    Diagnostics diagnostics; // failure: why the conversion stopped, with structure and offset
};

// Sets the state's failure from a printf-style format (the first fault found is kept).
void Diagnose(BankWriterState& state, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

enum class ArticulationLevel { Instrument, Region };
enum class InfoKind { Collection, Instrument, Wave };

// Closes a chunk opened with Create*, noting in `state` when that fails.
void CloseChunk(ChunkFile& out, ChunkInfo& chunk, BankWriterState& state);

// The "lrgn" list of non-empty program k: one "rgn " per tone with a sample. Resets the
// trailer maxima and appends to the region loop table. 1: VAG number above 255;
// 2: short read of a tone record.
[[nodiscard]] ConvertResult WriteRegionList(ChunkFile& out, ChunkFile& vh,
                                            const ProgramRecord& program, int k, int64_t vhBase,
                                            BankWriterState& state);
// One "lar2" list with one "art2": six blocks for a region, or the filter block and the
// trailer for an instrument (program volume and pan are stored into the trailer here).
void WriteArticulation(ChunkFile& out, ArticulationLevel level, const ProgramRecord& program,
                       const ToneRecord* tone, BankWriterState& state);
// One "INFO" list with ICMT, ICOP, IENG, INAM, ISBJ; `number` is the wave index for waves.
void WriteInfoList(ChunkFile& out, InfoKind kind, int number, BankWriterState& state);
// One INFO text chunk: id, size = length + 1, the text, a zero byte, the pad byte if odd.
void WriteInfoText(ChunkFile& out, uint32_t id, std::string_view text, BankWriterState& state);

} // namespace sonvex
