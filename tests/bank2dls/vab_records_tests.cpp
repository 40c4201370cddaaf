// SPDX-License-Identifier: GPL-3.0-or-later
// The VH record fields at their offsets, the header check shared with the scanner, and the
// body length the scanner takes from the table of sample sizes.
#include <algorithm>

#include <gtest/gtest.h>

#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using banktest::Bytes;
using testkit::VabBuilder;

TEST(VabRecords, FieldsAtTheirOffsets) {
    testkit::VabTone t;
    t.mode = 0xA1;
    t.volume = 0xA2;
    t.pan = 0xA3;
    t.centreNote = 0xA4;
    t.fineTune = 0xA5;
    t.lowKey = 0xA6;
    t.highKey = 0xA7;
    t.bendDown = 0xAC;
    t.bendUp = 0xAD;
    t.adsr1 = 0xB1B0;
    t.adsr2 = 0xB3B2;
    t.vagNumber = -2;
    testkit::VabProgram p = testkit::Program({t});
    p.volume = 0x91;
    p.pan = 0x94;
    VabBuilder vab;
    vab.program(6, p).programCount(0x1234).toneCount(0x0567).vagCount(0x0089);
    const Bytes vh = vab.BuildVh();

    const VabHeader h =
        ParseVabHeader(std::span<const uint8_t, kVabHeaderSize>(vh.data(), kVabHeaderSize));
    EXPECT_EQ(h.programCount, 0x1234);
    EXPECT_EQ(h.toneCount, 0x0567);
    EXPECT_EQ(h.vagCount, 0x0089);
    const ProgramRecord pr = ParseProgramRecord(std::span<const uint8_t, kProgramRecordSize>(
        vh.data() + ProgramRecordOffset(6), kProgramRecordSize));
    EXPECT_EQ(pr.toneCount, 1);
    EXPECT_EQ(pr.volume, 0x91);
    EXPECT_EQ(pr.pan, 0x94);
    const ToneRecord tr = ParseToneRecord(std::span<const uint8_t, kToneRecordSize>(
        vh.data() + ToneRecordOffset(0, 0), kToneRecordSize));
    EXPECT_EQ(tr.mode, 0xA1);
    EXPECT_EQ(tr.volume, 0xA2);
    EXPECT_EQ(tr.pan, 0xA3);
    EXPECT_EQ(tr.centreNote, 0xA4);
    EXPECT_EQ(tr.fineTune, 0xA5);
    EXPECT_EQ(tr.lowKey, 0xA6);
    EXPECT_EQ(tr.highKey, 0xA7);
    EXPECT_EQ(tr.bendDown, 0xAC);
    EXPECT_EQ(tr.bendUp, 0xAD);
    EXPECT_EQ(tr.adsr1, 0xB1B0);
    EXPECT_EQ(tr.adsr2, 0xB3B2);
    EXPECT_EQ(tr.vagNumber, -2);
    EXPECT_EQ(ToneRecordOffset(2, 3), 2080 + 1024 + 96);
    EXPECT_EQ(VabHeaderExtent(3), 2592 + 3 * 512);
}

// Header bytes opened as a file in memory, for as long as it lives.
struct OpenedHeader {
    explicit OpenedHeader(const Bytes& vh) : guard(memory) {
        memory.Put("vh", vh);
        opened = file.OpenRead("vh");
    }
    MemoryFileSystem memory;
    ScopedFileSystem guard;
    ChunkFile file;
    bool opened = false;
};

VabCheck Validate(const Bytes& vh, int64_t base, VabHeader* out = nullptr) {
    OpenedHeader opened(vh);
    EXPECT_TRUE(opened.opened);
    VabHeader header;
    const VabCheck check = ValidateVabHeader(opened.file, base, header);
    if (out != nullptr) {
        *out = header;
    }
    return check;
}

TEST(VabHeaderCheck, AcceptsWhatTheConverterAccepts) {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)}));
    vab.program(50, testkit::Program({testkit::Tone(2), testkit::Tone(255), testkit::Tone(0)}));
    const Bytes vh = vab.BuildVh();
    VabHeader header;
    EXPECT_EQ(Validate(vh, 0, &header), VabCheck::Ok);
    EXPECT_EQ(header.programCount, 2);
    EXPECT_EQ(VabHeaderExtent(header.programCount), static_cast<int64_t>(vh.size()));

    // At an offset inside a larger file.
    const Bytes image = banktest::ByteBuilder().fill(5, 0xEE).append(vh).take();
    EXPECT_EQ(Validate(image, 5), VabCheck::Ok);

    EXPECT_EQ(Validate(VabBuilder(vab).toneCount(2048).programCount(2).vagCount(254).BuildVh(), 0),
              VabCheck::Ok);
}

TEST(VabHeaderCheck, RejectsLimitsAndStopsOnShortData) {
    VabBuilder base;
    base.program(0, testkit::Program({testkit::Tone(1)}));
    EXPECT_EQ(Validate(VabBuilder(base).toneCount(2049).BuildVh(), 0), VabCheck::FormatError);
    EXPECT_EQ(Validate(VabBuilder(base).programCount(129).BuildVh(), 0), VabCheck::FormatError);
    EXPECT_EQ(Validate(VabBuilder(base).vagCount(255).BuildVh(), 0), VabCheck::FormatError);

    testkit::VabProgram seventeen = testkit::Program({testkit::Tone(1)});
    seventeen.toneCountField = 17;
    EXPECT_EQ(Validate(VabBuilder().program(0, seventeen).programCount(1).BuildVh(), 0),
              VabCheck::FormatError);
    EXPECT_EQ(
        Validate(VabBuilder().program(0, testkit::Program({testkit::Tone(256)})).BuildVh(), 0),
        VabCheck::FormatError);

    const Bytes vh = base.BuildVh();
    EXPECT_EQ(Validate(Bytes(vh.begin(), vh.begin() + 31), 0), VabCheck::ShortRead);
    EXPECT_EQ(Validate(Bytes(vh.begin(), vh.begin() + 40), 0), VabCheck::ShortRead);
    EXPECT_EQ(Validate(Bytes(vh.begin(), vh.begin() + ToneRecordOffset(0, 0) + 31), 0),
              VabCheck::ShortRead);
    // The table of sample sizes is not read: a VH cut after its tone records still checks.
    EXPECT_EQ(Validate(Bytes(vh.begin(), vh.begin() + ToneRecordOffset(1, 0)), 0), VabCheck::Ok);
    EXPECT_EQ(Validate(vh, static_cast<int64_t>(vh.size())), VabCheck::ShortRead);

    // A program count above the non-empty slots walks all 128 slots and passes.
    EXPECT_EQ(Validate(VabBuilder(base).programCount(5).BuildVh(), 0), VabCheck::Ok);

    // The file ending inside a program's tone records: a tone read whole before the end is
    // checked first, so its bad VAG number rejects the header; up to then the end stops it.
    const Bytes badSecond =
        VabBuilder()
            .program(0, testkit::Program({testkit::Tone(1), testkit::Tone(300), testkit::Tone(2)}))
            .BuildVh();
    for (int64_t cut = ToneRecordOffset(0, 0); cut <= ToneRecordOffset(0, 3); ++cut) {
        const VabCheck expected =
            cut < ToneRecordOffset(0, 2) ? VabCheck::ShortRead : VabCheck::FormatError;
        EXPECT_EQ(Validate(Bytes(badSecond.begin(), badSecond.begin() + cut), 0), expected) << cut;
    }
}

// The body length by the table of sample sizes is the table's total over the VAG count
// (entries past the table count nothing), and -1 when the header or the table is cut.
TEST(VabHeaderCheck, BodyLengthAddsUpTheSizesOfTheCountedSamples) {
    VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)}));
    for (size_t entry = 0; entry < kVagSizeEntries; ++entry) {
        vab.sizeTableEntry(entry, static_cast<uint16_t>(entry == 0 ? 0xFFFF : 1000 + 37 * entry));
    }
    for (const int count : {0, 1, 2, 100, 254, 255, 256, 65535}) {
        const Bytes vh = VabBuilder(vab).vagCount(static_cast<uint16_t>(count)).BuildVh();
        OpenedHeader opened(vh);
        ASSERT_TRUE(opened.opened);
        ChunkFile& file = opened.file;
        VagSizeTable table;
        ASSERT_TRUE(ReadVagSizeTable(file, 0, 1, table));
        EXPECT_EQ(BodyLengthBySizeTable(file, 0), table.Total(count)) << count;
        int64_t sum = 0;
        for (int i = 1; i <= std::min<int>(count, 255); ++i) {
            sum += 8 * (1000 + 37 * i);
        }
        EXPECT_EQ(table.Total(count), sum) << count;

        OpenedHeader cut(Bytes(vh.begin(), vh.end() - 1));
        ASSERT_TRUE(cut.opened);
        EXPECT_EQ(BodyLengthBySizeTable(cut.file, 0), -1) << count;
    }
}

} // namespace
} // namespace sonvex
