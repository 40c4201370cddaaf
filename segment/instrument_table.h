// SPDX-License-Identifier: GPL-3.0-or-later
// The DLS instrument table (each instrument's five trailer bytes behind its own
// articulation) and the per-channel band state that program changes fill from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "chunkfile/chunk_file.h"
#include "segment/segment_format.h"

namespace sonvex {

// The five bytes that the DLS writer appends to each instrument's own "art2" chunk.
struct ArticulationTrailer {
    uint8_t volume = 0;   // +0: program master volume
    uint8_t pan = 0;      // +1: program master pan
    uint8_t toneMode = 0; // +2: largest tone mode (not used by the band)
    uint8_t bendDown = 0; // +3: largest downward pitch-bend range, semitones
    uint8_t bendUp = 0;   // +4: largest upward pitch-bend range, semitones
};
constexpr size_t kArticulationTrailerSize = 5;

// Indexed by DLS instrument number 0..127; all zero for numbers no instrument has.
using InstrumentTable = std::array<ArticulationTrailer, 128>;

// Reads every instrument's trailer from the open DLS file into `table`. False on a
// structure it cannot follow; `failure` then names the chunk and its offset.
bool ReadInstrumentTable(ChunkFile& dls, InstrumentTable& table, std::string& failure);

// Factors that fit the bank's separate up and down bend ranges into the band's one range.
struct BendScales {
    double up = 0.0;
    double down = 0.0;
};
BendScales BendScalesFor(const ArticulationTrailer& entry);

// The 14-bit bend value the sequence track stores for the SMF's bend bytes.
uint16_t ScaleBend(uint8_t lsb, uint8_t msb, const BendScales& scales);

// The band instrument record of program `program` on channel `channel`.
InstrumentRecord MakeInstrumentRecord(const InstrumentTable& table, uint8_t program,
                                      uint8_t channel);

constexpr uint8_t kNoProgram = 255;

// What the sequence walk learns per MIDI channel for the band and the bends.
struct ChannelBandState {
    std::array<InstrumentRecord, 16> instruments{}; // first program of each channel; flags 0 = none
    std::array<uint8_t, 16> currentProgram;         // kNoProgram until a program change
    std::array<BendScales, 16> scales{};            // 0.0 until a program change

    ChannelBandState() { currentProgram.fill(kNoProgram); }
};

// A program change met by the sequence walk: the channel's first one chooses its
// band instrument; every one sets the channel's bend scales.
void OnSequenceProgramChange(ChannelBandState& state, const InstrumentTable& table, uint8_t program,
                             uint8_t channel);

} // namespace sonvex
