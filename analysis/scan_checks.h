// SPDX-License-Identifier: GPL-3.0-or-later
// The checks that confirm a candidate the source scanner met and find where the item
// ends, so that the scan can jump over it whole.
#pragma once

#include <cstdint>
#include <string>

#include "formats/signatures.h"
#include "seq2smf/seq_format.h"

namespace sonvex {

class ChunkFile;

// What a check concluded, and where it leaves the file.
enum class [[nodiscard]] CheckResult{
    Accept,       // an item; the file is just past it (scan on from there)
    Reject,       // not an item; the file is where the scan moves on one byte from
    StopScan,     // the file ended inside the candidate; no entry, and the scan of this file ends
    AcceptAndStop // a bank body that runs to the end of the file: entry, then the scan ends
};

const char* CheckResultName(CheckResult result);

// Every check starts with `file` at the candidate's first byte p (its signature). When
// `note` is given it receives one line on what the check found, naming the structure and
// its offset in hex.

// "pQES" (or, under the extended rules, "SEQp"): a single sequence, or a numbered set walked
// sequence by sequence while the ids run 0, 1, 2 ... below 16. A delta time above 0x0FFFFFFF
// rejects the candidate and leaves the file at the restore point (p, or 9 bytes past the end of the
// last sequence walked whole); a delta time is judged once its last byte has been read, so one
// that the end of the file cuts short stops the scan instead. A set whose last sequence ends
// with the file is accepted up to there.
CheckResult CheckSeq(ChunkFile& file, std::string* note = nullptr);

// The event walk of one sequence (running status starting empty) from where `file` stands:
// the result, the offset of the event that failed and the position it leaves the file at
// are those of WalkSeqTrack(file, SeqDialect::Seq, eventOffset). It walks the bytes the file
// has lent, and falls back on the walk through the file when it runs past them before the
// file's end.
[[nodiscard]] SeqWalkResult WalkSeqEvents(ChunkFile& file, int64_t* eventOffset);

// "pBAV": the bank header's counts, its program slots and the tone records of each
// non-empty program are within the limits the bank converter applies.
CheckResult CheckVabHeader(ChunkFile& file, std::string* note = nullptr);

// Sixteen zero bytes followed by a sample start: ADPCM blocks up to the last sample
// end (flags 3 or 7) that is not followed by a further sample.
CheckResult CheckVabBody(ChunkFile& file, std::string* note = nullptr);

// A bank body right behind its header where the classic rules find none: `length` is
// what the header's table of sample sizes gives the body (BodyLengthBySizeTable). Accepted
// when it is at least one block, the file holds all of it from p, and the block at p is a
// plausible ADPCM block (filter 0..4, shift 0..12, flags 0..7); the file is then at
// p + length. Otherwise Reject, at p.
CheckResult CheckVabBodyBySizes(ChunkFile& file, int64_t length, std::string* note = nullptr);

// "KCET": the "TSDB", "KDT2" and "KDT1" tags, then a table of u16 block lengths
// (little-endian, count at p + 48); every block must end in FF FF.
CheckResult CheckKcetSeq(ChunkFile& file, std::string* note = nullptr);

// The name entries and notes give items of `kind`: "SEQ", "VH", "VB", "KCETSeq",
// "SCEIHead", "SCEIMidi", "GPMhead", "GPMseq".
const char* ItemName(signatures::ItemKind kind);

// The check of a candidate of `kind` whose signature is at `start`, where `file` stands.
// The kinds without a check ("IECS" items, "SShd", "SSsq") are taken as found, with the
// file one byte past `start` so that the scan looks at the very next window.
CheckResult CheckCandidate(signatures::ItemKind kind, ChunkFile& file, int64_t start,
                           std::string* note = nullptr);

} // namespace sonvex
