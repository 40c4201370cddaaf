// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and checking the VH records shared by the bank converter and the scanner.
#include "bank2dls/vab_records.h"

#include <algorithm>

#include "chunkfile/chunk_file.h"
#include "platform/byte_cursor.h"

namespace sonvex {

VabHeader ParseVabHeader(std::span<const uint8_t, kVabHeaderSize> bytes) {
    ByteCursor cursor(bytes);
    VabHeader header;
    cursor.seek(18);
    header.programCount = cursor.u16le();
    header.toneCount = cursor.u16le();
    header.vagCount = cursor.u16le();
    return header;
}

ProgramRecord ParseProgramRecord(std::span<const uint8_t, kProgramRecordSize> bytes) {
    ByteCursor cursor(bytes);
    ProgramRecord program;
    program.toneCount = cursor.u8();
    program.volume = cursor.u8();
    cursor.seek(4);
    program.pan = cursor.u8();
    return program;
}

ToneRecord ParseToneRecord(std::span<const uint8_t, kToneRecordSize> bytes) {
    ByteCursor cursor(bytes);
    ToneRecord tone;
    cursor.seek(1);
    tone.mode = cursor.u8();
    tone.volume = cursor.u8();
    tone.pan = cursor.u8();
    tone.centreNote = cursor.u8();
    tone.fineTune = cursor.u8();
    tone.lowKey = cursor.u8();
    tone.highKey = cursor.u8();
    cursor.seek(12);
    tone.bendDown = cursor.u8();
    tone.bendUp = cursor.u8();
    cursor.seek(16);
    tone.adsr1 = cursor.u16le();
    tone.adsr2 = cursor.u16le();
    cursor.seek(22);
    tone.vagNumber = cursor.s16le();
    return tone;
}

VagSizeTable ParseVagSizeTable(std::span<const uint8_t, kVagSizeTableSize> bytes) {
    ByteCursor cursor(bytes);
    VagSizeTable table;
    for (uint16_t& entry : table.entries) {
        entry = cursor.u16le();
    }
    return table;
}

int64_t VagSizeTable::SampleSize(int i) const {
    if (i < 0 || i + 1 >= kVagSizeEntries) {
        return 0;
    }
    return kVagSizeUnit * entries[static_cast<size_t>(i) + 1];
}

int64_t VagSizeTable::SampleOffset(int i) const {
    int64_t offset = 0;
    for (int before = 0; before < i; ++before) {
        offset += SampleSize(before);
    }
    return offset;
}

VabCheck CheckVabCounts(const VabHeader& header) {
    if (header.toneCount > kMaxTones || header.programCount > kMaxPrograms) {
        return VabCheck::FormatError;
    }
    return VabCheck::Ok;
}

VabCheck CheckVagCount(const VabHeader& header) {
    return header.vagCount > kMaxVags ? VabCheck::FormatError : VabCheck::Ok;
}

VabCheck CheckProgramRecord(const ProgramRecord& program) {
    return program.toneCount > kMaxTonesPerProgram ? VabCheck::FormatError : VabCheck::Ok;
}

VabCheck CheckToneRecord(const ToneRecord& tone) {
    return tone.vagNumber > kMaxVagNumber ? VabCheck::FormatError : VabCheck::Ok;
}

namespace {

// Reads bytes.size() bytes from `position` into `bytes`; false on a short read or an
// unreachable position.
bool ReadBytesAt(ChunkFile& file, int64_t position, std::span<uint8_t> bytes) {
    const auto length = static_cast<int64_t>(bytes.size());
    return position >= 0 && file.Seek(position, SeekOrigin::Begin) == position &&
           file.Read(bytes.data(), length) == length;
}

// Reads the record of `N` bytes at `position` into `record`; false on a short read or an
// unreachable position.
template <typename Record, size_t N>
bool ReadRecord(ChunkFile& file, int64_t position, Record (*parse)(std::span<const uint8_t, N>),
                Record& record) {
    std::array<uint8_t, N> bytes{};
    if (!ReadBytesAt(file, position, bytes)) {
        return false;
    }
    record = parse(bytes);
    return true;
}

} // namespace

bool ReadVabHeader(ChunkFile& file, int64_t base, VabHeader& header) {
    return ReadRecord(file, base, ParseVabHeader, header);
}

bool ReadProgramRecord(ChunkFile& file, int64_t base, int slot, ProgramRecord& program) {
    return ReadRecord(file, base + ProgramRecordOffset(slot), ParseProgramRecord, program);
}

bool ReadToneRecord(ChunkFile& file, int64_t base, int k, int j, ToneRecord& tone) {
    return ReadRecord(file, base + ToneRecordOffset(k, j), ParseToneRecord, tone);
}

bool ReadVagSizeTable(ChunkFile& file, int64_t base, uint16_t programCount, VagSizeTable& table) {
    return ReadRecord(file, base + VagSizeTableOffset(programCount), ParseVagSizeTable, table);
}

int64_t BodyLengthBySizeTable(ChunkFile& file, int64_t base) {
    VabHeader header;
    std::array<uint8_t, kVagSizeTableSize> bytes;
    if (!ReadVabHeader(file, base, header) ||
        !ReadBytesAt(file, base + VagSizeTableOffset(header.programCount), bytes)) {
        return -1;
    }
    // VagSizeTable::Total, with only the entries it adds up taken from the bytes.
    const int count = std::min<int>(header.vagCount, kVagSizeEntries - 1);
    ByteCursor sizes(std::span<const uint8_t>(bytes).subspan(2, 2 * static_cast<size_t>(count)));
    int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        total += kVagSizeUnit * sizes.u16le();
    }
    return total;
}

VabCheck ValidateVabHeader(ChunkFile& file, int64_t base, VabHeader& header) {
    if (!ReadVabHeader(file, base, header)) {
        return VabCheck::ShortRead;
    }
    if (CheckVabCounts(header) != VabCheck::Ok) {
        return VabCheck::FormatError;
    }
    int k = 0;
    for (int slot = 0; slot < kProgramSlots && k < header.programCount; ++slot) {
        ProgramRecord program;
        if (!ReadProgramRecord(file, base, slot, program)) {
            return VabCheck::ShortRead;
        }
        if (CheckProgramRecord(program) != VabCheck::Ok) {
            return VabCheck::FormatError;
        }
        if (program.toneCount == 0) {
            continue;
        }
        // The program's tone records lie one after another: read at once, then checked in
        // order as far as they could be read.
        std::array<uint8_t, kProgramToneBlock> tones;
        const int64_t want = kToneRecordSize * program.toneCount;
        const int64_t at = base + ToneRecordOffset(k, 0);
        const int64_t got = file.Seek(at, SeekOrigin::Begin) == at
                                ? std::max<int64_t>(0, file.Read(tones.data(), want))
                                : 0;
        for (int j = 0; j < program.toneCount; ++j) {
            if (kToneRecordSize * (j + 1) > got) {
                return VabCheck::ShortRead;
            }
            const auto record = std::span<const uint8_t>(tones).subspan(
                static_cast<size_t>(kToneRecordSize * j), static_cast<size_t>(kToneRecordSize));
            if (CheckToneRecord(ParseToneRecord(record.first<kToneRecordSize>())) != VabCheck::Ok) {
                return VabCheck::FormatError;
            }
        }
        ++k;
    }
    return CheckVagCount(header);
}

} // namespace sonvex
