// SPDX-License-Identifier: GPL-3.0-or-later
// Sample search in the VB and the decoding of one sample into a DLS wave.
#include "bank2dls/vag_wave.h"

#include <array>
#include <cstring>

#include "bank2dls/adpcm_decoder.h"
#include "bank2dls/vab_records.h"

namespace sonvex {

VagSearch FindNextVag(ChunkFile& vb) {
    // The file is read a stretch at a time; a position is judged once its 16 bytes and the
    // flags byte two further on are in hand, so stretches overlap by 17 bytes.
    constexpr auto kWindow = static_cast<int64_t>(kAdpcmBlockSize);
    constexpr int64_t kLook = kWindow + 2;
    std::array<uint8_t, 8192> stretch{};
    int64_t base = vb.Tell();
    for (;;) {
        const int64_t got = vb.Read(stretch.data(), static_cast<int64_t>(stretch.size()));
        // Windows from `i` on are still to be judged; those up to `last` can be here.
        const int64_t last = got - kLook;
        int64_t i = 0;
        int64_t found = -1;
        while (i <= last) {
            // A window can be all zeros only from a zero byte on: the next one is looked
            // for many bytes at a time (sample data holds few).
            const void* zero =
                std::memchr(stretch.data() + i, 0, static_cast<size_t>(last + 1 - i));
            if (zero == nullptr) {
                i = last + 1;
                break;
            }
            i = static_cast<const uint8_t*>(zero) - stretch.data();
            // The run of zeros from there, to the first non-zero byte.
            int64_t end = i + 1;
            uint64_t word = 0;
            while (end + 8 <= got && (std::memcpy(&word, stretch.data() + end, 8), word == 0)) {
                end += 8;
            }
            while (end < got && stretch[end] == 0) {
                ++end;
            }
            // Of the all-zero windows in the run, only the last two have a flags byte that
            // is not a zero of the run: the byte ending it, and the one after. Windows
            // starting at or before `end` past them hold that non-zero byte. A run that goes
            // on past what is in hand is judged up to those two, and they are judged with
            // the next stretch.
            for (const int64_t window : {end - kWindow - 1, end - kWindow}) {
                if (window < i) {
                    continue;
                }
                if (window > last) {
                    i = window;
                    break;
                }
                if (IsVagStartFlags(stretch[window + kLook - 1])) {
                    found = window;
                    break;
                }
            }
            if (found >= 0 || i > last) {
                break;
            }
            i = end + 1;
        }
        if (found >= 0) {
            vb.Seek(base + found, SeekOrigin::Begin);
            return VagSearch::Found;
        }
        if (got < static_cast<int64_t>(stretch.size())) {
            // The file ends before a window with its flags byte fits: the search ends there,
            // with the file at its end.
            return VagSearch::Ended;
        }
        base += i;
        vb.Seek(base, SeekOrigin::Begin);
    }
}

namespace {

constexpr uint8_t kFlagLoopEnd = 3;
constexpr uint8_t kFlagEnd = 1;
constexpr uint8_t kFlagLoopStart = 6;
constexpr uint8_t kFlagSkip = 7;
constexpr uint8_t kMaxFlags = 7;
constexpr int64_t kBlockPcmBytes = 2 * kAdpcmBlockSamples; // 56

void WriteFormatChunk(ChunkFile& out, BankWriterState& state) {
    ChunkInfo fmt;
    out.CreateChunk(fmt, FourCC("fmt "));
    out.WriteU16le(1);     // PCM
    out.WriteU16le(1);     // mono
    out.WriteU32le(44100); // every wave is declared at 44100 Hz; regions set the pitch
    out.WriteU32le(88200); // bytes per second
    out.WriteU16le(2);     // block align
    out.WriteU16le(16);    // bits per sample
    out.WriteU16le(0);     // extra bytes
    CloseChunk(out, fmt, state);
}

void WriteLoopRecord(ChunkFile& out, const VagLoop& loop) {
    out.WriteU32le(16);
    out.WriteU32le(0); // forward loop
    out.WriteU32le(loop.start);
    out.WriteU32le(loop.length);
}

// Reads and decodes blocks into the open "data" chunk until a stop.
ConvertResult DecodeBlocks(ChunkFile& out, ChunkFile& vb, int index, int64_t maxBlocks,
                           VagLoop& loop, BankWriterState& state) {
    PredictorHistory history;
    int64_t pcmBytes = 0;
    std::array<uint8_t, kAdpcmBlockSize> block{};
    std::array<int16_t, kAdpcmBlockSamples> pcm{};
    std::array<uint8_t, 2 * kAdpcmBlockSamples> pcmBytesOut{};
    for (int64_t blocks = 0;; ++blocks) {
        if (maxBlocks != kUntilEndFlag && blocks >= maxBlocks) {
            // The sample's size is used up before an end flag came.
            return ConvertResult::Done;
        }
        const auto at = static_cast<long long>(vb.Tell());
        if (vb.Read(block.data(), 2) != 2) {
            Diagnose(state, "wave %d, block at 0x%08llX: short read", index, at);
            return ConvertResult::InputEnded;
        }
        const uint8_t flags = block[1];
        if (flags > kMaxFlags) {
            Diagnose(state, "wave %d, block at 0x%08llX: flags %u", index, at, flags);
            return ConvertResult::CannotConvert;
        }
        bool last = false;
        switch (flags) {
        case kFlagLoopStart:
            loop.start = pcmBytes == 0 ? 0 : static_cast<uint32_t>(pcmBytes / 2 - 1);
            loop.count = 1;
            break;
        case kFlagLoopEnd:
            loop.length = static_cast<uint32_t>((pcmBytes + kBlockPcmBytes) / 2 - loop.start - 1);
            last = true;
            break;
        case kFlagEnd:
            last = true;
            break;
        case kFlagSkip:
            // The block's data is consumed but yields no samples.
            if (vb.Read(block.data() + 2, kAdpcmBlockSize - 2) !=
                static_cast<int64_t>(kAdpcmBlockSize - 2)) {
                Diagnose(state, "wave %d, block at 0x%08llX: short read", index, at);
                return ConvertResult::InputEnded;
            }
            return ConvertResult::Done;
        default:
            break;
        }
        if (vb.Read(block.data() + 2, kAdpcmBlockSize - 2) !=
            static_cast<int64_t>(kAdpcmBlockSize - 2)) {
            Diagnose(state, "wave %d, block at 0x%08llX: short read", index, at);
            return ConvertResult::InputEnded;
        }
        if (DecodeAdpcmBlock(block, history, pcm) != AdpcmBlockResult::Ok) {
            Diagnose(state, "wave %d, block at 0x%08llX: filter %u", index, at,
                     AdpcmFilterIndex(block[0]));
            return ConvertResult::CannotConvert;
        }
        for (size_t n = 0; n < kAdpcmBlockSamples; ++n) {
            const auto v = static_cast<uint16_t>(pcm[n]);
            pcmBytesOut[2 * n] = static_cast<uint8_t>(v);
            pcmBytesOut[2 * n + 1] = static_cast<uint8_t>(v >> 8);
        }
        out.Write(pcmBytesOut.data(), static_cast<int64_t>(pcmBytesOut.size()));
        pcmBytes += kBlockPcmBytes;
        if (last) {
            return ConvertResult::Done;
        }
    }
}

} // namespace

ConvertResult DecodeVagWave(ChunkFile& out, ChunkFile& vb, int index, BankWriterState& state,
                            int64_t maxBlocks) {
    WriteFormatChunk(out, state);

    // Written with a loop count of 1, rewritten once the blocks have told the loop.
    ChunkInfo wsmp;
    out.CreateChunk(wsmp, FourCC("wsmp"));
    const int64_t headerPosition = out.Tell();
    out.WriteU32le(20);
    out.WriteU16le(60); // unity note
    out.WriteU16le(0);  // fine tune
    out.WriteU32le(0);  // attenuation
    out.WriteU32le(3);  // options
    out.WriteU32le(1);  // loop count
    const int64_t loopPosition = out.Tell();
    VagLoop loop;
    WriteLoopRecord(out, loop);
    CloseChunk(out, wsmp, state);

    ChunkInfo data;
    out.CreateChunk(data, FourCC("data"));
    const ConvertResult decoded = DecodeBlocks(out, vb, index, maxBlocks, loop, state);
    if (decoded != ConvertResult::Done) {
        return decoded;
    }
    CloseChunk(out, data, state);

    out.Seek(loopPosition, SeekOrigin::Begin);
    WriteLoopRecord(out, loop);
    out.Seek(headerPosition, SeekOrigin::Begin);
    out.WriteU32le(20);
    out.WriteU16le(60);
    out.WriteU16le(0);
    out.WriteU32le(0);
    out.WriteU32le(3);
    out.WriteU32le(loop.count);

    if (loop.count == 1) {
        const auto vagByte = static_cast<uint8_t>((index + 1) % 256);
        for (const RegionLoopEntry& entry : state.regionLoops) {
            if (entry.vagNumber == vagByte) {
                out.Seek(entry.loopPosition - 4, SeekOrigin::Begin);
                out.WriteU32le(1);
                WriteLoopRecord(out, loop);
            }
        }
    }
    out.Seek(0, SeekOrigin::End);
    WriteInfoList(out, InfoKind::Wave, index, state);
    return ConvertResult::Done;
}

} // namespace sonvex
