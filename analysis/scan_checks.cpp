// SPDX-License-Identifier: GPL-3.0-or-later
// Candidate checks of the source scanner. They read through the buffered chunked file,
// never past its end (a short read is how the end shows), and agree with the
// converters on where sequences and bank headers end.
#include "analysis/scan_checks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/signature_search.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "seq2smf/seq_format.h"

namespace sonvex {

namespace {

constexpr int64_t kVagBlockSize = 16;

void Note(std::string* note, const char* structure, int64_t at, const char* what,
          int64_t where = -1) {
    if (!note) {
        return;
    }
    char text[160];
    if (where >= 0) {
        std::snprintf(text, sizeof text, "%s at 0x%08llX: %s at 0x%08llX", structure,
                      static_cast<unsigned long long>(at), what,
                      static_cast<unsigned long long>(where));
    } else {
        std::snprintf(text, sizeof text, "%s at 0x%08llX: %s", structure,
                      static_cast<unsigned long long>(at), what);
    }
    *note = text;
}

// Eight bytes as read from memory, the first in the low byte.
uint64_t LittleEndian(uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) {
        return __builtin_bswap64(word);
    }
    return word;
}

bool ReadExactly(ChunkFile& file, void* destination, int64_t length) {
    return file.Read(destination, length) == length;
}

bool ReadExactlyAt(ChunkFile& file, int64_t position, void* destination, int64_t length) {
    return file.Seek(position, SeekOrigin::Begin) == position &&
           ReadExactly(file, destination, length);
}

// The event walk gives up on a delta time as soon as its value passes 0x0FFFFFFF; the
// scan judges a delta time only once its last byte (one below 0x80) has been read, so a
// delta that the end of the file cuts short is the file ending inside the candidate.
// The file stands just past the byte that made the value too large. False when the file
// ends before the delta's last byte.
bool DeltaTimeHasItsLastByte(ChunkFile& file) {
    uint8_t last = 0;
    if (file.Seek(-1, SeekOrigin::Current) < 0 || !ReadExactly(file, &last, 1)) {
        return false;
    }
    if (last < 0x80) {
        return true;
    }
    std::array<uint8_t, 4096> run{};
    for (;;) {
        const int64_t got = file.Read(run.data(), static_cast<int64_t>(run.size()));
        if (got <= 0) {
            return false;
        }
        if (std::any_of(run.begin(), run.begin() + got, [](uint8_t b) { return b < 0x80; })) {
            return true;
        }
    }
}

// The blocks of a bank body that are only counted, those whose flags neither end a sample
// (3, 7) nor lie above 7, are passed in the bytes the file has lent without a read each.
// Leaves the file at the first other block, or at the first that is not whole in the lent
// bytes; returns how many it passed.
int64_t PassCountedBlocks(ChunkFile& file) {
    const ChunkFile::Loan loan = file.Lent();
    const int64_t from = file.Tell();
    if (loan.bytes == nullptr || from < loan.start) {
        return 0;
    }
    const uint8_t* const bytes = loan.bytes - loan.start; // indexed by file position
    const int64_t end = loan.start + loan.length;
    constexpr unsigned kCountedFlags = 0x77; // a bit for each of 0, 1, 2, 4, 5, 6
    int64_t at = from;
    while (end - at >= kVagBlockSize) {
        const uint8_t flags = bytes[at + 1];
        if (flags > 7 || ((kCountedFlags >> flags) & 1) == 0) {
            break;
        }
        at += kVagBlockSize;
    }
    if (at != from) {
        file.Seek(at, SeekOrigin::Begin);
    }
    return (at - from) / kVagBlockSize;
}

} // namespace

SeqWalkResult WalkSeqEvents(ChunkFile& file, int64_t* eventOffset) {
    const ChunkFile::Loan loan = file.Lent();
    const int64_t start = file.Tell();
    if (loan.bytes == nullptr || start < loan.start || start > loan.start + loan.length) {
        return WalkSeqTrack(file, SeqDialect::Seq, eventOffset);
    }
    const uint8_t* const bytes = loan.bytes - loan.start; // indexed by file position
    const int64_t end = loan.start + loan.length;
    int64_t p = start;
    uint8_t runningStatus = 0;
    // Takes `n` more bytes of the event; false when the lent bytes end first.
    auto take = [&p, end](int64_t n) {
        if (end - p < n) {
            return false;
        }
        p += n;
        return true;
    };
    // Data bytes that follow a status byte, by its high nibble: 8x, 9x, Bx and Ex two, Cx
    // one, Ax and Dx none. Fx is handled apart.
    static constexpr std::array<uint8_t, 16> kDataBytes = {0, 0, 0, 0, 0, 0, 0, 0,
                                                           2, 2, 0, 2, 1, 0, 2, 0};
    // The same counts a nibble each, to be looked up in a register on the fast path.
    static constexpr uint64_t kPackedDataBytes = [] {
        uint64_t packed = 0;
        for (size_t i = 0; i < kDataBytes.size(); ++i) {
            packed |= uint64_t{kDataBytes[i]} << (4 * i);
        }
        return packed;
    }();
    SeqWalkResult result = SeqWalkResult::ShortRead;
    for (;;) {
        // Under a running status with two data bytes, the plain events (see
        // SkipPlainSeqEvents) are passed many at a time. They may change the running status,
        // but only to another status with two data bytes; since the walk goes on by the kind
        // of the running status alone, the one held stands for it.
        if (kDataBytes[runningStatus >> 4] == 2) {
            p = loan.start + static_cast<int64_t>(
                                 SkipPlainSeqEvents(loan.bytes, static_cast<size_t>(p - loan.start),
                                                    static_cast<size_t>(loan.length)));
        }
        // Fast path for one common event, with no branch on what kind it is: a delta of at
        // most four bytes (which cannot pass 0x0FFFFFFF) and a channel event, with its status
        // or by running status, all within eight bytes that are in hand.
        if (end - p >= 8) {
            uint64_t word = 0;
            std::memcpy(&word, bytes + p, sizeof word);
            word = LittleEndian(word);
            const uint64_t lastDeltaBytes = ~word & 0x80808080U;
            // (Bit 31 keeps the shift below in range when no delta ends in four bytes.)
            const int deltaBytes = std::countr_zero(lastDeltaBytes | 1U << 31) / 8 + 1;
            const auto byte = static_cast<uint8_t>(word >> (8 * deltaBytes));
            const bool statusByte = (byte & 0x80) != 0;
            const uint8_t status = statusByte ? byte : runningStatus;
            const int high = status >> 4;
            // Not for a delta of five bytes or more, system and meta events, or data before
            // any status.
            if (lastDeltaBytes != 0 && high != 0xF && status != 0) {
                // Ax and Dx never become the running status.
                const bool keeps = statusByte && high != 0xA && high != 0xD;
                runningStatus = keeps ? byte : runningStatus;
                p += deltaBytes + static_cast<int>(statusByte) +
                     static_cast<int>((kPackedDataBytes >> (4 * high)) & 0xF);
                continue;
            }
        }
        *eventOffset = p;
        if (p >= end) {
            break;
        }
        uint8_t b = bytes[p++];
        if ((b & 0x80) != 0) {
            // A delta time of several bytes, judged after every byte.
            uint64_t value = b & 0x7F;
            bool cut = false;
            do {
                if (p >= end) {
                    cut = true;
                    break;
                }
                b = bytes[p++];
                value = value * 128 + (b & 0x7F);
            } while (value <= 0x0FFFFFFF && (b & 0x80) != 0);
            if (cut) {
                break;
            }
            if (value > 0x0FFFFFFF) {
                result = SeqWalkResult::DeltaTooLarge;
                break;
            }
        }
        if (p >= end) {
            break;
        }
        uint8_t status = bytes[p++];
        int64_t held = 0; // data bytes read already (the byte in place of a status)
        if (status < 0x80) {
            if (runningStatus == 0) {
                // An event of no kind: the byte and the two after it.
                if (!take(2)) {
                    break;
                }
                continue;
            }
            held = 1;
            status = runningStatus;
        }
        const int high = status >> 4;
        if (high != 0xF) {
            // Ax and Dx never become the running status, so they have no byte held.
            if (high != 0xA && high != 0xD) {
                runningStatus = status;
            }
            if (!take(kDataBytes[static_cast<size_t>(high)] - held)) {
                break;
            }
            continue;
        }
        runningStatus = status;
        if (status != 0xFF) {
            p -= held; // the byte is read again as a delta
            continue;
        }
        // Meta: its type (the byte held, when there is one) and one more byte.
        const int64_t typeAt = held == 1 ? p - 1 : p;
        if (!take(2 - held)) {
            break;
        }
        const uint8_t type = bytes[typeAt];
        if (type == 0x2F) {
            result = SeqWalkResult::EndOfTrack;
            break;
        }
        if (type == 0x51 && !take(2)) {
            break;
        }
    }
    if (result == SeqWalkResult::ShortRead) {
        if (!loan.toFileEnd) {
            // The lent bytes end before the file: the file has the rest.
            file.Seek(start, SeekOrigin::Begin);
            return WalkSeqTrack(file, SeqDialect::Seq, eventOffset);
        }
        p = end; // a read at the end of the file leaves it there
    }
    file.Seek(p, SeekOrigin::Begin);
    return result;
}

const char* CheckResultName(CheckResult result) {
    switch (result) {
    case CheckResult::Accept:
        return "Accept";
    case CheckResult::Reject:
        return "Reject";
    case CheckResult::StopScan:
        return "StopScan";
    case CheckResult::AcceptAndStop:
        return "AcceptAndStop";
    }
    return "?";
}

CheckResult CheckSeq(ChunkFile& file, std::string* note) {
    const int64_t p = file.Tell();
    std::array<uint8_t, kSeqHeaderSize> window{};
    if (!ReadExactly(file, window.data(), kSeqHeaderSize)) {
        Note(note, "SEQ", p, "header cut short by the end of the file");
        return CheckResult::StopScan;
    }
    SeqHeader header;
    (void)ParseSeqHeader(window, header);
    // The last header byte is the first event byte (single) or starts the data length (set).
    file.Seek(p + kSeqHeaderSize - 1, SeekOrigin::Begin);
    const bool numbered = header.Numbered();
    int64_t restorePoint = p;
    uint16_t id = header.id;
    int walked = 0;
    for (;;) {
        if (numbered) {
            file.Seek(4, SeekOrigin::Current); // data length, not used
        }
        // The converter's own event walk, so that the two agree on where a sequence ends.
        int64_t eventOffset = 0;
        const SeqWalkResult walk = WalkSeqEvents(file, &eventOffset);
        if (walk == SeqWalkResult::DeltaTooLarge) {
            if (!DeltaTimeHasItsLastByte(file)) {
                Note(note, "SEQ", p, "file ends inside the delta time of the event", eventOffset);
                return CheckResult::StopScan;
            }
            Note(note, "SEQ", p, "delta time above 0x0FFFFFFF in the event", eventOffset);
            file.Seek(restorePoint, SeekOrigin::Begin);
            return CheckResult::Reject;
        }
        if (walk == SeqWalkResult::ShortRead) {
            Note(note, "SEQ", p, "file ends inside the event", eventOffset);
            return CheckResult::StopScan;
        }
        ++walked;
        if (!numbered) {
            Note(note, "SEQ", p, "single sequence ending", file.Tell());
            return CheckResult::Accept;
        }
        SeqHeader next;
        switch (ReadNextSequenceHeader(file, id, next)) {
        case NextSequence::Follows:
            restorePoint = file.Tell();
            id = next.id;
            continue;
        case NextSequence::SetEnds:
        case NextSequence::FileEnds:
        case NextSequence::Truncated:
            // The file is back just past the last end of track. A set stored alone ends
            // with its file; that is still a whole set.
            break;
        }
        if (note) {
            Note(note, "SEQ", p, ("numbered set of " + std::to_string(walked) + " ending").c_str(),
                 file.Tell());
        }
        return CheckResult::Accept;
    }
}

CheckResult CheckVabHeader(ChunkFile& file, std::string* note) {
    const int64_t p = file.Tell();
    VabHeader header;
    switch (ValidateVabHeader(file, p, header)) {
    case VabCheck::ShortRead:
        Note(note, "VH", p, "file ends inside the header or its records");
        return CheckResult::StopScan;
    case VabCheck::FormatError:
        Note(note, "VH", p, "count or record out of range");
        file.Seek(p, SeekOrigin::Begin);
        return CheckResult::Reject;
    case VabCheck::Ok:
        break;
    }
    const int64_t end = p + VabHeaderExtent(header.programCount);
    Note(note, "VH", p, "bank header ending", end);
    file.Seek(end, SeekOrigin::Begin);
    return CheckResult::Accept;
}

CheckResult CheckVabBody(ChunkFile& file, std::string* note) {
    const int64_t p = file.Tell();
    file.Seek(p + kVagBlockSize, SeekOrigin::Begin);
    std::array<uint8_t, kVagBlockSize> block{};
    int64_t blocks = 0;   // blocks taken since the leading zero block
    int64_t lastEnd = -1; // just past the last block with flags 3 or 7
    for (;;) {
        blocks += PassCountedBlocks(file);
        const int64_t blockAt = file.Tell();
        if (!ReadExactly(file, block.data(), kVagBlockSize)) {
            Note(note, "VB", p,
                 blocks > 0 ? "runs to the end of the file" : "file ends before the first block");
            return blocks > 0 ? CheckResult::AcceptAndStop : CheckResult::StopScan;
        }
        const uint8_t flags = block[1];
        if (flags > 7) {
            if (lastEnd >= 0) {
                Note(note, "VB", p, "bank body ending", lastEnd);
                file.Seek(lastEnd, SeekOrigin::Begin);
                return CheckResult::Accept;
            }
            Note(note, "VB", p, "flags above 7 before any sample end in the block", blockAt);
            file.Seek(p, SeekOrigin::Begin);
            return CheckResult::Reject;
        }
        if (flags == 3 || flags == 7) {
            lastEnd = file.Tell();
            if (!ReadExactly(file, block.data(), kVagBlockSize)) {
                Note(note, "VB", p, "runs to the end of the file");
                return CheckResult::AcceptAndStop;
            }
            if (block != std::array<uint8_t, kVagBlockSize>{}) { // not an all-zero block
                Note(note, "VB", p, "bank body ending", lastEnd);
                file.Seek(lastEnd, SeekOrigin::Begin);
                return CheckResult::Accept;
            }
            if (!ReadExactly(file, block.data(), kVagBlockSize)) {
                Note(note, "VB", p, "runs to the end of the file");
                return CheckResult::AcceptAndStop;
            }
            if (!IsVagStartFlags(block[1])) {
                Note(note, "VB", p, "bank body ending", lastEnd);
                file.Seek(lastEnd, SeekOrigin::Begin);
                return CheckResult::Accept;
            }
            // A zero block and a start block: a further sample follows.
        }
        ++blocks;
    }
}

CheckResult CheckVabBodyBySizes(ChunkFile& file, int64_t length, std::string* note) {
    const int64_t p = file.Tell();
    uint8_t first[2] = {};
    if (length < kMinBodyBySizeTable) {
        Note(note, "VB", p, "the header's size table gives no body");
        return CheckResult::Reject;
    }
    if (p + length > file.Size()) {
        Note(note, "VB", p, "the body by the header's size table runs past the end of the file to",
             p + length);
        file.Seek(p, SeekOrigin::Begin);
        return CheckResult::Reject;
    }
    if (!ReadExactly(file, first, 2) || !IsPlausibleBodyBlock(first[0], first[1])) {
        Note(note, "VB", p, "no ADPCM block where the header's size table puts the body");
        file.Seek(p, SeekOrigin::Begin);
        return CheckResult::Reject;
    }
    Note(note, "VB", p, "bank body by the header's size table, ending", p + length);
    file.Seek(p + length, SeekOrigin::Begin);
    return CheckResult::Accept;
}

CheckResult CheckKcetSeq(ChunkFile& file, std::string* note) {
    const int64_t p = file.Tell();
    struct Tag {
        int64_t at;
        const char* text;
    };
    static constexpr std::array<Tag, 3> kTags = {{{8, "TSDB"}, {20, "KDT2"}, {36, "KDT1"}}};
    uint8_t four[4];
    for (const Tag& tag : kTags) {
        if (!ReadExactlyAt(file, p + tag.at, four, 4)) {
            Note(note, "KCETSeq", p, "file ends before the tag at", p + tag.at);
            return CheckResult::StopScan;
        }
        if (!std::equal(four, four + 4, tag.text)) {
            Note(note, "KCETSeq", p, "tag missing at", p + tag.at);
            file.Seek(p, SeekOrigin::Begin);
            return CheckResult::Reject;
        }
    }
    if (!ReadExactlyAt(file, p + 48, four, 4)) {
        Note(note, "KCETSeq", p, "file ends before the block count");
        return CheckResult::StopScan;
    }
    // Count and lengths are little-endian, the console's own byte order.
    const uint64_t count = static_cast<uint64_t>(four[0]) | static_cast<uint64_t>(four[1]) << 8 |
                           static_cast<uint64_t>(four[2]) << 16 |
                           static_cast<uint64_t>(four[3]) << 24;
    const int64_t table = p + 52;
    int64_t q = table + 2 * static_cast<int64_t>(count);

    // The length table is read a slice at a time, so that the reads behind the blocks
    // do not make the buffered file reload the table for every length.
    constexpr uint64_t kSlice = 2048;
    std::vector<uint8_t> slice(2 * kSlice);
    int64_t sliceBytes = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t inSlice = i % kSlice;
        if (inSlice == 0) {
            const int64_t want = 2 * static_cast<int64_t>(std::min(kSlice, count - i));
            file.Seek(table + 2 * static_cast<int64_t>(i), SeekOrigin::Begin);
            sliceBytes = file.Read(slice.data(), want);
        }
        if (static_cast<int64_t>(2 * inSlice + 2) > sliceBytes) {
            Note(note, "KCETSeq", p, "file ends inside the length table at",
                 table + 2 * static_cast<int64_t>(i));
            file.Seek(p, SeekOrigin::Begin);
            return CheckResult::Reject;
        }
        const int64_t length = slice[2 * inSlice] | slice[2 * inSlice + 1] << 8;
        uint8_t tail[2];
        if (!ReadExactlyAt(file, q + length - 2, tail, 2) || tail[0] != 0xFF || tail[1] != 0xFF) {
            Note(note, "KCETSeq", p, "block does not end in FF FF at", q + length - 2);
            file.Seek(p, SeekOrigin::Begin);
            return CheckResult::Reject;
        }
        q += length;
    }
    Note(note, "KCETSeq", p, "sequence ending", q);
    file.Seek(q, SeekOrigin::Begin);
    return CheckResult::Accept;
}

const char* ItemName(signatures::ItemKind kind) {
    using signatures::ItemKind;
    switch (kind) {
    case ItemKind::Seq:
        return "SEQ";
    case ItemKind::Vh:
        return "VH";
    case ItemKind::Vb:
        return "VB";
    case ItemKind::KcetSeq:
        return "KCETSeq";
    case ItemKind::SceiHead:
        return "SCEIHead";
    case ItemKind::SceiMidi:
        return "SCEIMidi";
    case ItemKind::GpmHead:
        return "GPMhead";
    case ItemKind::GpmSeq:
        return "GPMseq";
    }
    return "?";
}

CheckResult CheckCandidate(signatures::ItemKind kind, ChunkFile& file, int64_t start,
                           std::string* note) {
    using signatures::ItemKind;
    switch (kind) {
    case ItemKind::Seq:
        return CheckSeq(file, note);
    case ItemKind::Vh:
        return CheckVabHeader(file, note);
    case ItemKind::Vb:
        return CheckVabBody(file, note);
    case ItemKind::KcetSeq:
        return CheckKcetSeq(file, note);
    case ItemKind::SceiHead:
    case ItemKind::SceiMidi:
    case ItemKind::GpmHead:
    case ItemKind::GpmSeq:
        break;
    }
    Note(note, ItemName(kind), start, "taken without a check");
    file.Seek(start + 1, SeekOrigin::Begin);
    return CheckResult::Accept;
}

} // namespace sonvex
