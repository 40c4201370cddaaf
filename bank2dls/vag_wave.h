// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the samples of a VB and writing each as one DLS wave: PCM data, its loop,
// and the loop copied into every region that plays the sample.
#pragma once

#include <cstdint>

#include "bank2dls/dls_writer.h"
#include "chunkfile/chunk_file.h"
#include "platform/result_code.h"

namespace sonvex {

enum class [[nodiscard]] VagSearch{Found, Ended};

// Searches byte by byte from the current position for 16 zero bytes followed by a block
// whose flags byte starts a sample (2, 4, 5 or 6). Found: the file is at the zero block.
VagSearch FindNextVag(ChunkFile& vb);

// The loop a wave's blocks describe, in samples of the decoded wave.
struct VagLoop {
    uint32_t count = 0;  // 1 once a loop-start block has been seen
    uint32_t start = 0;  // first loop-start block's first sample - 1 (the last such block wins)
    uint32_t length = 0; // set by the loop-end block
};

// No limit on the blocks of a sample: it ends with its end flag.
constexpr int64_t kUntilEndFlag = -1;

// Writes "fmt ", "wsmp", "data" and the wave INFO of wave `index` into the open "wave"
// list, decoding the sample at the VB's position until its end flag or, when `maxBlocks`
// is not kUntilEndFlag, after that many blocks, whichever comes first. 0: done, the VB
// is just after the last block used; 1: a flags byte above 7 or a filter index above 4;
// 2: the VB ran short.
[[nodiscard]] ConvertResult DecodeVagWave(ChunkFile& out, ChunkFile& vb, int index,
                                          BankWriterState& state,
                                          int64_t maxBlocks = kUntilEndFlag);

} // namespace sonvex
