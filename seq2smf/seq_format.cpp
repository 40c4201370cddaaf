// SPDX-License-Identifier: GPL-3.0-or-later
// Sequence headers, the event reader and the walk from one numbered sequence to the next.
#include "seq2smf/seq_format.h"

#include "platform/byte_cursor.h"

namespace sonvex {

bool ParseSeqHeader(std::span<const uint8_t> bytes, SeqHeader& header) {
    if (bytes.size() < static_cast<size_t>(kSeqHeaderSize)) {
        return false;
    }
    ByteCursor cursor(bytes.first(kSeqHeaderSize));
    header.magic = cursor.u32le();
    header.version = cursor.u16be();
    header.id = cursor.u16be();
    header.division = cursor.u16be();
    header.tempo = cursor.u24be();
    header.numerator = cursor.u8();
    header.denominatorExponent = cursor.u8();
    header.lastByte = cursor.u8();
    return cursor.ok();
}

bool SeqEventReader::ReadByte(uint8_t& b) {
    return file_.Read(&b, 1) == 1;
}

bool SeqEventReader::ReadData(SeqEvent& event, int count) {
    while (event.dataCount < count) {
        if (!ReadByte(event.data[event.dataCount])) {
            return false;
        }
        ++event.dataCount;
    }
    return true;
}

SeqReadResult SeqEventReader::Next(SeqEvent& event) {
    event = SeqEvent{};
    event.offset = file_.Tell();

    // Delta time: groups of 7 bits, most significant first, until a byte below 0x80.
    // Checked after every byte; kept in 64 bits so that the byte after a value just
    // under the limit cannot wrap it back below.
    uint64_t value = 0;
    uint8_t b = 0;
    do {
        if (!ReadByte(b)) {
            return SeqReadResult::ShortRead;
        }
        value = value * 128 + (b & 0x7F);
        if (value > 0x0FFFFFFF) {
            return SeqReadResult::DeltaTooLarge;
        }
    } while (b & 0x80);
    event.delta = static_cast<uint32_t>(value);

    uint8_t status = 0;
    if (!ReadByte(status)) {
        return SeqReadResult::ShortRead;
    }
    if (status < 0x80) {
        if (runningStatus_ == 0) {
            // No status to continue: the byte and the two after it make an event of no kind.
            event.kind = SeqEventKind::Orphan;
            event.data[0] = status;
            event.dataCount = 1;
            return ReadData(event, 3) ? SeqReadResult::Event : SeqReadResult::ShortRead;
        }
        // Running status: this byte is the event's first data byte.
        event.data[0] = status;
        event.dataCount = 1;
        status = runningStatus_;
    }
    event.status = status;

    bool complete = true;
    switch (status >> 4) {
    case 0x8:
    case 0x9:
    case 0xB:
        runningStatus_ = status;
        complete = ReadData(event, 2);
        break;
    case 0xC:
        runningStatus_ = status;
        complete = ReadData(event, 1);
        break;
    case 0xE:
        runningStatus_ = status;
        complete = ReadData(event, dialect_ == SeqDialect::Seq ? 2 : 1);
        break;
    case 0xA:
    case 0xD:
        // Only reachable with a status byte of their own, since they never become the
        // running status: no data bytes belong to them.
        event.kind = SeqEventKind::Unused;
        return SeqReadResult::Event;
    default: // 0xF
        runningStatus_ = status;
        if (status != 0xFF) {
            event.kind = SeqEventKind::System;
            if (event.dataCount > 0) {
                // Running status F0..FE takes no data: the byte is read again as a delta.
                file_.Seek(-1, SeekOrigin::Current);
                event.dataCount = 0;
            }
            return SeqReadResult::Event;
        }
        // Meta: the type and one more byte.
        if (!ReadData(event, 2)) {
            return SeqReadResult::ShortRead;
        }
        if (event.data[0] == 0x2F) {
            event.kind = SeqEventKind::EndOfTrack;
        } else if (event.data[0] == 0x51) {
            event.kind = SeqEventKind::Tempo;
            complete = ReadData(event, dialect_ == SeqDialect::Seq ? 4 : 3);
        } else {
            event.kind = SeqEventKind::OtherMeta;
        }
        break;
    }
    return complete ? SeqReadResult::Event : SeqReadResult::ShortRead;
}

SeqWalkResult WalkSeqTrack(ChunkFile& file, SeqDialect dialect, int64_t* errorOffset) {
    SeqEventReader reader(file, dialect);
    SeqEvent event;
    while (true) {
        const SeqReadResult r = reader.Next(event);
        if (r != SeqReadResult::Event) {
            if (errorOffset) {
                *errorOffset = event.offset;
            }
            return r == SeqReadResult::DeltaTooLarge ? SeqWalkResult::DeltaTooLarge
                                                     : SeqWalkResult::ShortRead;
        }
        if (event.kind == SeqEventKind::EndOfTrack) {
            return SeqWalkResult::EndOfTrack;
        }
    }
}

NextSequence ReadNextSequenceHeader(ChunkFile& file, uint16_t previousId, SeqHeader& next) {
    const int64_t endOfTrack = file.Tell();
    // The block starts 6 bytes back, so the next id lands at bytes 6..7 as in an item header.
    constexpr int64_t kBack = 6;
    uint8_t block[kSeqHeaderSize] = {};
    int64_t got = 0;
    if (file.Seek(endOfTrack - kBack, SeekOrigin::Begin) >= 0) {
        got = file.Read(block, kSeqHeaderSize);
    }
    const int expectedId = previousId + 1;
    if (got < kSeqHeaderSize) {
        file.Seek(endOfTrack, SeekOrigin::Begin);
        next = SeqHeader{};
        const int64_t behind = got - kBack;
        if (behind >= 2) {
            const int id = (block[6] << 8) | block[7];
            if (id == expectedId && id < kMaxNumberedSequences) {
                return NextSequence::Truncated;
            }
        }
        return NextSequence::FileEnds;
    }
    (void)ParseSeqHeader(block, next);
    if (next.id == expectedId && next.id < kMaxNumberedSequences) {
        // Back one byte: the file is at the next sequence's 4-byte data length.
        file.Seek(-1, SeekOrigin::Current);
        return NextSequence::Follows;
    }
    file.Seek(endOfTrack, SeekOrigin::Begin);
    return NextSequence::SetEnds;
}

} // namespace sonvex
