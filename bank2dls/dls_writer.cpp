// SPDX-License-Identifier: GPL-3.0-or-later
// The DLS region, articulation and INFO writers of the bank converter.
#include "bank2dls/dls_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace sonvex {

// Seconds. Decay rows are the sustain level, columns the decay rate; attack indices
// 73 and 74 hold 40 s and 75 onwards 0.004 s.
const std::array<std::array<double, 16>, 16> EnvelopeTables::decay = {{
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.014, 0.041, 0.073, 0.17, 0.342, 0.692, 1.376,
     2.766},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.013, 0.03, 0.059, 0.143, 0.294, 0.598, 1.188,
     2.383},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.012, 0.028, 0.057, 0.122, 0.255, 0.514,
     1.038, 2.097},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.024, 0.055, 0.11, 0.218, 0.458, 0.916,
     1.844},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.052, 0.105, 0.206, 0.398, 0.812,
     1.624},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.045, 0.079, 0.175, 0.354, 0.708,
     1.424},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.035, 0.069, 0.154, 0.303, 0.617,
     1.245},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.025, 0.064, 0.134, 0.276, 0.544,
     1.079},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.025, 0.053, 0.113, 0.228, 0.455,
     0.925},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.023, 0.045, 0.094, 0.195, 0.381,
     0.773},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.037, 0.074, 0.154, 0.315,
     0.625},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.035, 0.065, 0.125, 0.243,
     0.495},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.027, 0.044, 0.084, 0.175,
     0.365},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.015, 0.021, 0.052, 0.114,
     0.238},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.013, 0.021, 0.034, 0.063,
     0.115},
    {0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.013,
     0.015},
}};
const std::array<double, 32> EnvelopeTables::releaseLinear = {
    0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05,  0.05,  0.05, 0.05,
    0.08, 0.16, 0.32, 0.64, 1.28, 2.56, 5.12, 10.24, 20.48, 40,   40,
    40,   40,   40,   40,   40,   40,   40,   40,    40,    40,
};
const std::array<double, 32> EnvelopeTables::releaseExponential = {
    0.016, 0.016, 0.016, 0.016, 0.016, 0.016, 0.012, 0.023, 0.045, 0.09, 0.18,
    0.36,  0.72,  1.44,  2.88,  5.76,  11.52, 23.04, 40,    40,    40,   40,
    40,    40,    40,    40,    40,    40,    40,    40,    40,    40,
};
const std::array<double, 128> EnvelopeTables::attack = {
    0.014, 0.014, 0.014, 0.014, 0.014,  0.014,  0.014,  0.014,  0.014, 0.014, 0.014, 0.014, 0.014,
    0.014, 0.014, 0.014, 0.014, 0.014,  0.014,  0.014,  0.014,  0.014, 0.014, 0.014, 0.014, 0.014,
    0.014, 0.014, 0.014, 0.014, 0.014,  0.014,  0.014,  0.019,  0.019, 0.019, 0.019, 0.025, 0.03,
    0.037, 0.042, 0.044, 0.056, 0.074,  0.086,  0.098,  0.12,   0.16,  0.175, 0.206, 0.25,  0.314,
    0.359, 0.424, 0.509, 0.647, 0.746,  0.875,  1.058,  1.339,  1.557, 1.825, 2.245, 2.895, 3.358,
    4.053, 5.088, 6.84,  8.18,  10.455, 13.947, 20.924, 28.956, 40,    40,    0.004, 0.004, 0.004,
    0.004, 0.004, 0.004, 0.004, 0.004,  0.004,  0.004,  0.004,  0.004, 0.004, 0.004, 0.004, 0.004,
    0.004, 0.004, 0.004, 0.004, 0.004,  0.004,  0.004,  0.004,  0.004, 0.004, 0.004, 0.004, 0.004,
    0.004, 0.004, 0.004, 0.004, 0.004,  0.004,  0.004,  0.004,  0.004, 0.004, 0.004, 0.004, 0.004,
    0.004, 0.004, 0.004, 0.004, 0.004,  0.004,  0.004,  0.004,  0.004, 0.004, 0.004,
};

int16_t RegionFineTune(uint8_t fine) {
    const double cents = fine * 0.7874015748031497 + 0.5;
    return static_cast<int16_t>(static_cast<int16_t>(cents) - 50);
}

int32_t RegionAttenuation(uint8_t volume) {
    if (volume == 0) {
        return -960 * 65536;
    }
    const int t = static_cast<int>(std::log10(127.0 / volume) * 200.0);
    return -(t * 65536);
}

int32_t StoredTime(double seconds) {
    return static_cast<int32_t>(std::log(seconds) / std::log(2.0) * 78643200.0);
}

int32_t PanScale(uint8_t pan) {
    return static_cast<int32_t>((pan - 64) * 7.82) * 65536;
}

int32_t SustainLevelScale(uint16_t adsr1, uint16_t adsr2) {
    const uint16_t mode = adsr2 & 0xC000;
    if (mode == 0x0000 || mode == 0x8000) {
        return 1000 * 65536;
    }
    return (1000 - 13 * (15 - (adsr1 & 0xF))) * 65536;
}

double ReleaseSeconds(uint16_t adsr2) {
    const size_t index = adsr2 & 0x1F;
    // Bit 5 selects the release mode; bits 0..4 are the rate.
    return (adsr2 & 0x20) ? EnvelopeTables::releaseExponential[index]
                          : EnvelopeTables::releaseLinear[index];
}

std::array<ConnectionBlock, 6> RegionConnections(const ToneRecord& tone) {
    const uint16_t w1 = tone.adsr1;
    const uint16_t w2 = tone.adsr2;
    return {{
        {kDestPan, PanScale(tone.pan)},
        {kDestEg1Attack, StoredTime(EnvelopeTables::attack[(w1 >> 8) & 0x7F])},
        {kDestEg1Release, StoredTime(ReleaseSeconds(w2))},
        {kDestEg1Sustain, SustainLevelScale(w1, w2)},
        {kDestEg1Decay, StoredTime(EnvelopeTables::decay[w1 & 0xF][(w1 >> 4) & 0xF])},
        {kDestEg2Sustain, 0},
    }};
}

int16_t ExtendedFineTune(uint8_t fine) {
    return static_cast<int16_t>(std::lround(fine * 100.0 / 128.0));
}

int32_t SustainScaleOfDb(double db) {
    const double tenths = 1000.0 * (1.0 - std::clamp(db, 0.0, 96.0) / 96.0);
    return static_cast<int32_t>(std::lround(tenths * 65536.0));
}

std::array<ConnectionBlock, 7> ExtendedRegionConnections(const ToneRecord& tone,
                                                         const DlsEnvelopeFit& envelope) {
    return {{
        {kDestPan, PanScale(tone.pan)},
        {kDestEg1Attack, StoredTime(envelope.attackSeconds)},
        {kDestEg1Release, StoredTime(envelope.releaseSeconds)},
        {kDestEg1Sustain, SustainScaleOfDb(envelope.sustainDb)},
        {kDestEg1Decay, StoredTime(envelope.decaySeconds)},
        {kDestEg2Sustain, 0},
        {kDestEg1Hold, envelope.holdSeconds > 0.0 ? StoredTime(envelope.holdSeconds)
                                                  : static_cast<int32_t>(0x80000000u)},
    }};
}

void Diagnose(BankWriterState& state, const char* format, ...) {
    if (state.diagnostics.failed()) {
        return;
    }
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    state.diagnostics.failure = text;
}

void CloseChunk(ChunkFile& out, ChunkInfo& chunk, BankWriterState& state) {
    if (!out.Ascend(chunk)) {
        state.chunkFailed = true;
    }
}

namespace {

void WriteConnection(ChunkFile& out, const ConnectionBlock& block) {
    out.WriteU16le(0); // source: none
    out.WriteU16le(0); // control: none
    out.WriteU16le(block.destination);
    out.WriteU16le(0); // transform: none
    out.WriteU32le(static_cast<uint32_t>(block.scale));
}

// The 20-byte sample header and 16-byte loop record of a "wsmp"; returns the offset of
// the loop record.
int64_t WriteSampleChunk(ChunkFile& out, uint16_t unityNote, int16_t fineTune, int32_t attenuation,
                         uint32_t loopCount, BankWriterState& state) {
    ChunkInfo wsmp;
    out.CreateChunk(wsmp, FourCC("wsmp"));
    out.WriteU32le(20);
    out.WriteU16le(unityNote);
    out.WriteU16le(static_cast<uint16_t>(fineTune));
    out.WriteU32le(static_cast<uint32_t>(attenuation));
    out.WriteU32le(3); // options: no truncation, no compression
    out.WriteU32le(loopCount);
    const int64_t loopPosition = out.Tell();
    out.WriteU32le(16);
    out.WriteU32le(0); // loop type: forward
    out.WriteU32le(0); // start
    out.WriteU32le(0); // length
    CloseChunk(out, wsmp, state);
    return loopPosition;
}

void WriteRegion(ChunkFile& out, const ProgramRecord& program, const ToneRecord& tone,
                 BankWriterState& state) {
    ChunkInfo rgn;
    out.CreateList(rgn, FourCC("rgn "));

    ChunkInfo rgnh;
    out.CreateChunk(rgnh, FourCC("rgnh"));
    out.WriteU16le(tone.lowKey);
    out.WriteU16le(tone.highKey);
    out.WriteU16le(0);   // lowest velocity
    out.WriteU16le(127); // highest velocity
    out.WriteU16le(0);   // options
    out.WriteU16le(0);   // key group
    CloseChunk(out, rgnh, state);

    const int16_t fineTune = state.rules == RecognitionRules::Extended
                                 ? ExtendedFineTune(tone.fineTune)
                                 : RegionFineTune(tone.fineTune);
    const int64_t loopPosition =
        WriteSampleChunk(out, tone.centreNote, fineTune, RegionAttenuation(tone.volume), 0, state);
    state.regionLoops.push_back({static_cast<uint8_t>(tone.vagNumber & 0xFF), loopPosition});

    ChunkInfo wlnk;
    out.CreateChunk(wlnk, FourCC("wlnk"));
    out.WriteU16le(0); // options
    out.WriteU16le(0); // phase group
    out.WriteU32le(1); // channel: left (mono)
    out.WriteU32le(static_cast<uint32_t>(tone.vagNumber - 1));
    CloseChunk(out, wlnk, state);

    ChunkInfo dmpr;
    out.CreateChunk(dmpr, FourCC("dmpr"));
    out.WriteU8(0x01);
    out.WriteU8(0x01);
    CloseChunk(out, dmpr, state);

    WriteArticulation(out, ArticulationLevel::Region, program, &tone, state);
    CloseChunk(out, rgn, state);
}

} // namespace

ConvertResult WriteRegionList(ChunkFile& out, ChunkFile& vh, const ProgramRecord& program, int k,
                              int64_t vhBase, BankWriterState& state) {
    state.trailer.mode = 0;
    state.trailer.bendDown = 0;
    state.trailer.bendUp = 0;
    ChunkInfo lrgn;
    out.CreateList(lrgn, FourCC("lrgn"));
    const int tones = std::min<int>(program.toneCount, kMaxTonesPerProgram);
    for (int j = 0; j < tones; ++j) {
        ToneRecord tone;
        const auto at = static_cast<long long>(vhBase + ToneRecordOffset(k, j));
        if (!ReadToneRecord(vh, vhBase, k, j, tone)) {
            Diagnose(state, "tone %d of program %d at 0x%08llX: short read", j, k, at);
            return ConvertResult::InputEnded;
        }
        if (CheckToneRecord(tone) != VabCheck::Ok) {
            Diagnose(state, "tone %d of program %d at 0x%08llX: VAG number %d above 255", j, k, at,
                     tone.vagNumber);
            return ConvertResult::CannotConvert;
        }
        if (!ToneHasSample(tone)) {
            continue;
        }
        WriteRegion(out, program, tone, state);
        state.trailer.mode = std::max(state.trailer.mode, tone.mode);
        state.trailer.bendDown = std::max(state.trailer.bendDown, tone.bendDown);
        state.trailer.bendUp = std::max(state.trailer.bendUp, tone.bendUp);
    }
    CloseChunk(out, lrgn, state);
    return ConvertResult::Done;
}

void WriteArticulation(ChunkFile& out, ArticulationLevel level, const ProgramRecord& program,
                       const ToneRecord* tone, BankWriterState& state) {
    ChunkInfo lar2;
    out.CreateList(lar2, FourCC("lar2"));
    ChunkInfo art2;
    out.CreateChunk(art2, FourCC("art2"));
    out.WriteU32le(8); // header size
    if (level == ArticulationLevel::Region && tone != nullptr) {
        std::vector<ConnectionBlock> blocks;
        if (state.rules == RecognitionRules::Extended) {
            const uint32_t key = static_cast<uint32_t>(tone->adsr1) << 16 | tone->adsr2;
            auto fit = state.envelopeFits.find(key);
            if (fit == state.envelopeFits.end()) {
                fit =
                    state.envelopeFits.emplace(key, FitDlsEnvelope(tone->adsr1, tone->adsr2)).first;
            }
            const auto extended = ExtendedRegionConnections(*tone, fit->second);
            blocks.assign(extended.begin(), extended.end());
        } else {
            const auto classic = RegionConnections(*tone);
            blocks.assign(classic.begin(), classic.end());
        }
        out.WriteU32le(static_cast<uint32_t>(blocks.size()));
        for (const ConnectionBlock& block : blocks) {
            WriteConnection(out, block);
        }
    } else {
        out.WriteU32le(1);
        WriteConnection(out, {kDestFilterCutoff, kFilterOff});
        // The trailer follows the block without being counted; the segment builder
        // skips the counted blocks and reads these five bytes.
        state.trailer.volume = program.volume;
        state.trailer.pan = program.pan;
        const uint8_t trailer[5] = {state.trailer.volume, state.trailer.pan, state.trailer.mode,
                                    state.trailer.bendDown, state.trailer.bendUp};
        out.Write(trailer, sizeof trailer);
    }
    CloseChunk(out, art2, state);
    CloseChunk(out, lar2, state);
}

void WriteInfoText(ChunkFile& out, uint32_t id, std::string_view text, BankWriterState& state) {
    ChunkInfo chunk;
    out.CreateChunk(chunk, id);
    out.Write(text.data(), static_cast<int64_t>(text.size()));
    out.WriteU8(0);
    CloseChunk(out, chunk, state);
}

void WriteInfoList(ChunkFile& out, InfoKind kind, int number, BankWriterState& state) {
    std::string copyright;
    std::string engineer;
    std::string name;
    char suffix[32];
    switch (kind) {
    case InfoKind::Collection:
        copyright = "PS GAME'S MAKER";
        engineer = "Sonvex";
        std::snprintf(suffix, sizeof suffix, "_%2d.dls", number);
        name = state.listTitle + suffix;
        break;
    case InfoKind::Instrument:
        name = "inst" + state.listTitle;
        break;
    case InfoKind::Wave:
        std::snprintf(suffix, sizeof suffix, "_%02d", number);
        name = "wave" + state.listTitle + suffix;
        break;
    }
    ChunkInfo info;
    out.CreateList(info, FourCC("INFO"));
    WriteInfoText(out, FourCC("ICMT"), "", state);
    WriteInfoText(out, FourCC("ICOP"), copyright, state);
    WriteInfoText(out, FourCC("IENG"), engineer, state);
    WriteInfoText(out, FourCC("INAM"), name, state);
    WriteInfoText(out, FourCC("ISBJ"), "", state);
    CloseChunk(out, info, state);
}

} // namespace sonvex
