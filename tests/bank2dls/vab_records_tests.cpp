// SPDX-License-Identifier: GPL-3.0-or-later
// The VH record fields at their offsets and the header check shared with the scanner.
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

VabCheck Validate(const Bytes& vh, int64_t base, VabHeader* out = nullptr) {
    MemoryFileSystem memory;
    memory.Put("vh", vh);
    ScopedFileSystem guard(memory);
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("vh"));
    VabHeader header;
    const VabCheck check = ValidateVabHeader(file, base, header);
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
}

} // namespace
} // namespace sonvex
