// SPDX-License-Identifier: GPL-3.0-or-later
// The candidate checks on hand-built items: where each accepts and ends, and every way
// each refuses (grouped by defect), including the end of the file inside the item.
#include <gtest/gtest.h>

#include "analysis/scan_checks.h"
#include "analysis_test_support.h"
#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

using testing::RunCheckOn;
using testkit::ByteBuilder;
using testkit::Bytes;

// ---------------------------------------------------------------- sequences

// Header of a single sequence: bytes 6..7 are 00 01, so it is not a numbered set.
ByteBuilder& SingleHeader(ByteBuilder& b) {
    return b.text("pQES").u32be(1).u16be(480).u24be(500000).u8(4).u8(2);
}
// First header of a numbered set (id 00 00), with its data length.
ByteBuilder& SetHeader(ByteBuilder& b) {
    return b.text("pQES").u16be(1).u16be(0).u16be(480).u24be(500000).u8(4).u8(2).u32be(0);
}
// Header of a further sequence of a set, with its data length.
ByteBuilder& NextHeader(ByteBuilder& b, uint32_t id) {
    return b.u16be(id).u16be(480).u24be(500000).u8(4).u8(2).u32be(0);
}
// A note on, a note off under running status, and the end of track.
ByteBuilder& Notes(ByteBuilder& b) {
    return b.u8(0x00)
        .u8(0x90)
        .u8(0x40)
        .u8(0x50)
        .u8(0x10)
        .u8(0x40)
        .u8(0x00)
        .u8(0x00)
        .u8(0xFF)
        .u8(0x2F)
        .u8(0x00);
}

CheckResult Seq(ChunkFile& f, std::string* n) {
    return CheckSeq(f, n);
}
CheckResult VabHeader(ChunkFile& f, std::string* n) {
    return CheckVabHeader(f, n);
}
CheckResult VabBody(ChunkFile& f, std::string* n) {
    return CheckVabBody(f, n);
}
CheckResult Kcet(ChunkFile& f, std::string* n) {
    return CheckKcetSeq(f, n);
}

TEST(CheckSeqTest, SingleSequenceEndsJustPastItsEndOfTrack) {
    ByteBuilder b;
    b.fill(5, 0x99);
    SingleHeader(b);
    Notes(b);
    const int64_t end = static_cast<int64_t>(b.size());
    b.fill(40, 0x99);
    const auto out = RunCheckOn(b.bytes(), 5, Seq);
    EXPECT_EQ(out.result, CheckResult::Accept) << out.note;
    EXPECT_EQ(out.position, end);
}

// Each stream below holds a decoy FF 2F that only a walk reading the wrong number of
// bytes for some event would take as the end of track; the real end is the last one.
TEST(CheckSeqTest, EventLengthsFollowTheStatusByte) {
    struct Case {
        const char* name;
        Bytes events;
    };
    const std::vector<Case> cases = {
        // A data byte with no running status: it and two more bytes (the decoy) go.
        {"orphan data byte", {0x00, 0x10, 0xFF, 0x2F, 0x00, 0xFF, 0x2F, 0x00}},
        // An and Dn read nothing: the next byte is already a delta time.
        {"An without data",
         {0x00, 0xA0, 0x00, 0x90, 0xFF, 0x2F, 0x00, 0xD3, 0x00, 0xFF, 0x2F, 0x00}},
        // Tempo: type, one byte, two more; the decoy sits in the tempo bytes.
        {"tempo", {0x00, 0xFF, 0x51, 0x07, 0xFF, 0x2F, 0x00, 0xFF, 0x2F, 0x00}},
        // Another meta type: the type and one byte only.
        {"other meta", {0x00, 0xFF, 0x01, 0x05, 0x00, 0xFF, 0x2F, 0x00}},
        // Program change: one data byte. Pitch bend: two.
        {"program and bend", {0x00, 0xC2, 0x10, 0x00, 0xE2, 0x00, 0x40, 0x00, 0xFF, 0x2F, 0x00}},
        // F0 takes no data; a data byte under its running status is read again as a delta.
        {"system running status", {0x00, 0xF0, 0x00, 0x40, 0x00, 0xFF, 0x2F, 0x00}},
        // A data byte under running status FF is a meta type: here the end of track.
        {"meta running status", {0x00, 0xFF, 0x01, 0x00, 0x00, 0x2F, 0x00}},
        // Two-byte delta times.
        {"long delta",
         {0x81, 0x00, 0x90, 0x40, 0x50, 0x83, 0x7F, 0x40, 0x00, 0x00, 0xFF, 0x2F, 0x00}},
    };
    for (const Case& c : cases) {
        ByteBuilder b;
        SingleHeader(b).append(c.events);
        const int64_t end = static_cast<int64_t>(b.size());
        b.fill(20, 0x99);
        const auto out = RunCheckOn(b.bytes(), 0, Seq);
        EXPECT_EQ(out.result, CheckResult::Accept) << c.name << ": " << out.note;
        EXPECT_EQ(out.position, end) << c.name;
    }
}

TEST(CheckSeqTest, DeltaTimeAboveLimitRejects) {
    // 0x0FFFFFFF itself is the largest delta taken.
    {
        ByteBuilder b;
        SingleHeader(b).u8(0xFF).u8(0xFF).u8(0xFF).u8(0x7F).u8(0xFF).u8(0x2F).u8(0x00).fill(10,
                                                                                            0x99);
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::Accept);
    }
    // Five-byte deltas: 2^32 (whose low 32 bits are 0) and 0x10000000.
    for (const Bytes& delta :
         {Bytes{0x90, 0x80, 0x80, 0x80, 0x00}, Bytes{0x81, 0x80, 0x80, 0x80, 0x00}}) {
        ByteBuilder b;
        b.fill(3, 0x99);
        SingleHeader(b).append(delta).u8(0xFF).u8(0x2F).u8(0x00).fill(10, 0x99);
        const auto out = RunCheckOn(b.bytes(), 3, Seq);
        EXPECT_EQ(out.result, CheckResult::Reject) << out.note;
        EXPECT_EQ(out.position, 3) << "a rejected single sequence leaves the file at its magic";
    }
}

TEST(CheckSeqTest, OverlongDeltaIsJudgedAtItsLastByte) {
    // A long run of continuation bytes that ends: rejected, naming the event.
    {
        ByteBuilder b;
        SingleHeader(b).fill(100000, 0xFF).u8(0x00).fill(10, 0x99);
        const auto out = RunCheckOn(b.bytes(), 0, Seq);
        EXPECT_EQ(out.result, CheckResult::Reject) << out.note;
        EXPECT_EQ(out.position, 0);
        EXPECT_NE(out.note.find("0x0000000F"), std::string::npos)
            << "names the event's offset: " << out.note;
    }
    // The same run up to the end of the file, and a value already too large whose last
    // bytes are missing: the file ends inside the candidate.
    for (size_t run : {size_t{100000}, size_t{5}}) {
        ByteBuilder b;
        SingleHeader(b).fill(run, 0xFF);
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan) << "run " << run;
    }
}

TEST(CheckSeqTest, FileEndingInsideTheCandidateStopsTheScan) {
    {
        ByteBuilder b;
        b.text("pQES").u32be(1).u16be(480); // header cut short
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan);
    }
    {
        ByteBuilder b;
        SingleHeader(b).u8(0x00).u8(0x90).u8(0x40); // inside an event
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan);
    }
    {
        ByteBuilder b;
        SingleHeader(b).u8(0x00).u8(0xFF); // inside the end of track
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan);
    }
    {
        ByteBuilder b;
        SingleHeader(b).u8(0x81).u8(0x82); // inside a delta time
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan);
    }
}

TEST(CheckSeqTest, NumberedSetIsOneItemWhileTheIdsRunOn) {
    ByteBuilder b;
    SetHeader(b);
    Notes(b);
    NextHeader(b, 1);
    Notes(b);
    NextHeader(b, 2);
    Notes(b);
    const int64_t end = static_cast<int64_t>(b.size());
    // A block whose id is 7 does not continue the set.
    b.u16be(7).fill(30, 0x99);
    const auto out = RunCheckOn(b.bytes(), 0, Seq);
    EXPECT_EQ(out.result, CheckResult::Accept) << out.note;
    EXPECT_EQ(out.position, end);
}

TEST(CheckSeqTest, NumberedSetBreaksAtAGapAndAtSixteen) {
    {
        // ids 0, 1, 3: the set is the first two.
        ByteBuilder b;
        SetHeader(b);
        Notes(b);
        NextHeader(b, 1);
        Notes(b);
        const int64_t end = static_cast<int64_t>(b.size());
        NextHeader(b, 3);
        Notes(b).fill(20, 0x99);
        const auto out = RunCheckOn(b.bytes(), 0, Seq);
        EXPECT_EQ(out.result, CheckResult::Accept);
        EXPECT_EQ(out.position, end);
    }
    {
        // ids 0 .. 16: the sequence with id 16 is not part of the set.
        ByteBuilder b;
        SetHeader(b);
        Notes(b);
        for (uint32_t id = 1; id <= 15; ++id) {
            NextHeader(b, id);
            Notes(b);
        }
        const int64_t end = static_cast<int64_t>(b.size());
        NextHeader(b, 16);
        Notes(b).fill(20, 0x99);
        const auto out = RunCheckOn(b.bytes(), 0, Seq);
        EXPECT_EQ(out.result, CheckResult::Accept);
        EXPECT_EQ(out.position, end);
    }
}

TEST(CheckSeqTest, SetEndingWithItsFileIsAccepted) {
    // Nothing behind the last end of track, then fewer than ten bytes: both are whole sets.
    for (size_t tail : {size_t{0}, size_t{9}}) {
        ByteBuilder b;
        SetHeader(b);
        Notes(b);
        NextHeader(b, 1);
        Notes(b);
        const int64_t end = static_cast<int64_t>(b.size());
        b.fill(tail, 0x99);
        const auto out = RunCheckOn(b.bytes(), 0, Seq);
        EXPECT_EQ(out.result, CheckResult::Accept) << "tail " << tail << ": " << out.note;
        EXPECT_EQ(out.position, end) << "tail " << tail;
    }
    // The file ends inside the events of the second sequence: not an item.
    ByteBuilder b;
    SetHeader(b);
    Notes(b);
    NextHeader(b, 1).u8(0x00).u8(0x90).u8(0x40).u8(0x50).fill(6, 0x10);
    EXPECT_EQ(RunCheckOn(b.bytes(), 0, Seq).result, CheckResult::StopScan);
}

TEST(CheckSeqTest, BadDeltaInALaterSequenceRestoresBehindTheLastWholeOne) {
    ByteBuilder b;
    SetHeader(b);
    Notes(b);
    const int64_t firstEnd = static_cast<int64_t>(b.size());
    NextHeader(b, 1).u8(0xFF).u8(0xFF).u8(0xFF).u8(0xFF).u8(0x7F).fill(20, 0x99);
    const auto out = RunCheckOn(b.bytes(), 0, Seq);
    EXPECT_EQ(out.result, CheckResult::Reject);
    EXPECT_EQ(out.position, firstEnd + 9);
}

// ---------------------------------------------------------------- bank headers

struct VhLayout {
    uint32_t programs = 2;           // header's program count
    uint32_t tones = 4;              // header's tone count
    uint32_t vags = 3;               // header's VAG count
    std::vector<int> slots = {0, 3}; // non-empty program slots
    uint32_t tonesPerProgram = 2;
    int vagNumber = 1; // VAG number of every tone
};

// A VH of `layout`, cut to `length` bytes when given.
Bytes BuildVh(const VhLayout& layout, size_t length = SIZE_MAX) {
    ByteBuilder b;
    b.text("pBAV").u32le(7).u32le(0).u32le(0).u16le(0);
    b.u16le(layout.programs).u16le(layout.tones).u16le(layout.vags).fill(8);
    for (int slot = 0; slot < 128; ++slot) {
        const bool used =
            std::find(layout.slots.begin(), layout.slots.end(), slot) != layout.slots.end();
        b.u8(used ? layout.tonesPerProgram : 0).u8(0x7F).fill(2).u8(0x40).fill(11);
    }
    for (size_t k = 0; k < layout.slots.size(); ++k) {
        for (int j = 0; j < 16; ++j) {
            b.fill(22).u16le(static_cast<uint32_t>(layout.vagNumber)).fill(8);
        }
    }
    b.fill(512);
    Bytes bytes = b.take();
    if (length < bytes.size()) {
        bytes.resize(length);
    }
    return bytes;
}

TEST(CheckVabHeaderTest, AcceptedHeaderEndsBehindItsSizeTable) {
    VhLayout layout;
    const Bytes vh = BuildVh(layout);
    ByteBuilder b;
    b.fill(7, 0x99).append(vh).fill(30, 0x99);
    const auto out = RunCheckOn(b.bytes(), 7, VabHeader);
    EXPECT_EQ(out.result, CheckResult::Accept) << out.note;
    EXPECT_EQ(out.position, 7 + 2592 + 512 * 2);
}

TEST(CheckVabHeaderTest, LimitsAreInclusive) {
    struct Case {
        const char* name;
        void (*change)(VhLayout&);
        CheckResult expected;
    };
    const std::vector<Case> cases = {
        {"tone count 2048", [](VhLayout& l) { l.tones = 2048; }, CheckResult::Accept},
        {"tone count 2049", [](VhLayout& l) { l.tones = 2049; }, CheckResult::Reject},
        {"program count 129", [](VhLayout& l) { l.programs = 129; }, CheckResult::Reject},
        {"VAG count 254", [](VhLayout& l) { l.vags = 254; }, CheckResult::Accept},
        {"VAG count 255", [](VhLayout& l) { l.vags = 255; }, CheckResult::Reject},
        {"16 tones in a program", [](VhLayout& l) { l.tonesPerProgram = 16; }, CheckResult::Accept},
        {"17 tones in a program", [](VhLayout& l) { l.tonesPerProgram = 17; }, CheckResult::Reject},
        {"VAG number 255", [](VhLayout& l) { l.vagNumber = 255; }, CheckResult::Accept},
        {"VAG number 256", [](VhLayout& l) { l.vagNumber = 256; }, CheckResult::Reject},
        // Stored as FF FF: signed, so below the limit.
        {"VAG number -1", [](VhLayout& l) { l.vagNumber = 0xFFFF; }, CheckResult::Accept},
    };
    for (const Case& c : cases) {
        VhLayout layout;
        c.change(layout);
        ByteBuilder b;
        b.fill(4, 0x99).append(BuildVh(layout)).fill(600, 0x99);
        const auto out = RunCheckOn(b.bytes(), 4, VabHeader);
        EXPECT_EQ(out.result, c.expected) << c.name << ": " << out.note;
        if (c.expected == CheckResult::Reject) {
            EXPECT_EQ(out.position, 4) << c.name;
        }
    }
}

TEST(CheckVabHeaderTest, ProgramCountMeasuresTheHeaderEvenWithFewerPrograms) {
    // Five programs announced, two present: the walk reaches slot 127 and stops there,
    // and the header is measured by the announced count.
    VhLayout layout;
    layout.programs = 5;
    ByteBuilder b;
    b.append(BuildVh(layout)).fill(3000, 0x99);
    const auto out = RunCheckOn(b.bytes(), 0, VabHeader);
    EXPECT_EQ(out.result, CheckResult::Accept);
    EXPECT_EQ(out.position, 2592 + 512 * 5);
}

TEST(CheckVabHeaderTest, FileEndingInsideTheRecordsStopsTheScan) {
    VhLayout layout;
    for (size_t length : {size_t{20}, size_t{32 + 16 * 2}, size_t{2080 + 512 + 10}}) {
        const auto out = RunCheckOn(BuildVh(layout, length), 0, VabHeader);
        EXPECT_EQ(out.result, CheckResult::StopScan) << "cut at " << length;
    }
    // The size table itself is not read: a header cut inside it is still accepted.
    const auto out = RunCheckOn(BuildVh(layout, 2080 + 512 * 2 + 100), 0, VabHeader);
    EXPECT_EQ(out.result, CheckResult::Accept);
}

// ---------------------------------------------------------------- bank bodies

ByteBuilder& Block(ByteBuilder& b, uint8_t flags) {
    return b.u8(0x12).u8(flags).fill(14, 0x5A);
}
ByteBuilder& ZeroBlock(ByteBuilder& b) {
    return b.fill(16);
}
// A sample: zero block, start block, middle block, and an end block with `endFlags`.
ByteBuilder& Sample(ByteBuilder& b, uint8_t startFlags, uint8_t endFlags) {
    ZeroBlock(b);
    Block(b, startFlags);
    Block(b, 2);
    return Block(b, endFlags);
}

TEST(CheckVabBodyTest, BodyEndsAfterItsLastSample) {
    ByteBuilder b;
    b.fill(3, 0x99);
    Sample(b, 6, 3);
    Sample(b, 2, 7);
    Sample(b, 4, 3);
    Sample(b, 5, 7);
    const int64_t end = static_cast<int64_t>(b.size());
    b.fill(40, 0x99);
    const auto out = RunCheckOn(b.bytes(), 3, VabBody);
    EXPECT_EQ(out.result, CheckResult::Accept) << out.note;
    EXPECT_EQ(out.position, end);
}

TEST(CheckVabBodyTest, WhatFollowsAnEndDecidesWhereTheBodyStops) {
    struct Case {
        const char* name;
        Bytes after;
    };
    ByteBuilder zerosThenEnd;
    ZeroBlock(zerosThenEnd);
    Block(zerosThenEnd, 1);
    ByteBuilder zerosThenBadFlags;
    ZeroBlock(zerosThenBadFlags);
    Block(zerosThenBadFlags, 9);
    const std::vector<Case> cases = {
        {"data behind the end", Bytes(32, 0x77)},
        {"zero block, then no sample start", zerosThenEnd.take()},
        {"zero block, then flags above 7", zerosThenBadFlags.take()},
    };
    for (const Case& c : cases) {
        ByteBuilder b;
        Sample(b, 2, 3);
        const int64_t end = static_cast<int64_t>(b.size());
        b.append(c.after).fill(16, 0x77);
        const auto out = RunCheckOn(b.bytes(), 0, VabBody);
        EXPECT_EQ(out.result, CheckResult::Accept) << c.name;
        EXPECT_EQ(out.position, end) << c.name;
    }
    // Flags above 7 after a sample end inside the next sample: back to the end.
    ByteBuilder b;
    Sample(b, 2, 3);
    const int64_t end = static_cast<int64_t>(b.size());
    ZeroBlock(b);
    Block(b, 2);
    Block(b, 0x20).fill(16, 0x77);
    const auto out = RunCheckOn(b.bytes(), 0, VabBody);
    EXPECT_EQ(out.result, CheckResult::Accept);
    EXPECT_EQ(out.position, end);
}

TEST(CheckVabBodyTest, FlagsAboveSevenBeforeAnyEndReject) {
    ByteBuilder b;
    b.fill(5, 0x99);
    ZeroBlock(b);
    Block(b, 2);
    Block(b, 1); // flags 1 is no end for the scan
    Block(b, 8);
    b.fill(16, 0x77);
    const auto out = RunCheckOn(b.bytes(), 5, VabBody);
    EXPECT_EQ(out.result, CheckResult::Reject);
    EXPECT_EQ(out.position, 5);
}

TEST(CheckVabBodyTest, BodyRunningIntoTheEndOfTheFile) {
    {
        // Blocks up to the end, no end flags: listed, and the scan ends.
        ByteBuilder b;
        ZeroBlock(b);
        Block(b, 2);
        Block(b, 2);
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, VabBody).result, CheckResult::AcceptAndStop);
    }
    {
        // An end, then the file ends within the next block or the one after it.
        for (size_t tail : {size_t{0}, size_t{10}, size_t{16}, size_t{20}}) {
            ByteBuilder b;
            Sample(b, 2, 3).fill(tail);
            EXPECT_EQ(RunCheckOn(b.bytes(), 0, VabBody).result, CheckResult::AcceptAndStop)
                << "tail " << tail;
        }
    }
    {
        // The start block itself is cut short: nothing taken.
        ByteBuilder b;
        ZeroBlock(b).u8(0x12).u8(2).fill(5, 0x5A);
        EXPECT_EQ(RunCheckOn(b.bytes(), 0, VabBody).result, CheckResult::StopScan);
    }
}

// ---------------------------------------------------------------- KCET sequences

// A KCET item with blocks of the given lengths, each ending in FF FF.
ByteBuilder& KcetItem(ByteBuilder& b, const std::vector<uint16_t>& lengths) {
    b.text("KCET").fill(4, 0x99).text("TSDB").fill(8, 0x99).text("KDT2").fill(12, 0x99).text(
        "KDT1");
    b.fill(8, 0x99).u32le(static_cast<uint32_t>(lengths.size()));
    for (uint16_t length : lengths) {
        b.u16le(length);
    }
    for (uint16_t length : lengths) {
        b.fill(length - 2u, 0x42).u8(0xFF).u8(0xFF);
    }
    return b;
}

TEST(CheckKcetSeqTest, AcceptedItemEndsBehindItsLastBlock) {
    for (const std::vector<uint16_t>& lengths :
         {std::vector<uint16_t>{10, 300, 4}, std::vector<uint16_t>{}}) {
        ByteBuilder b;
        b.fill(9, 0x99);
        KcetItem(b, lengths);
        const int64_t end = static_cast<int64_t>(b.size());
        b.fill(25, 0x99);
        const auto out = RunCheckOn(b.bytes(), 9, Kcet);
        EXPECT_EQ(out.result, CheckResult::Accept) << out.note;
        EXPECT_EQ(out.position, end);
    }
}

TEST(CheckKcetSeqTest, WrongTagsOrBlockEndsReject) {
    struct Case {
        const char* name;
        size_t at;
        uint8_t value;
    };
    ByteBuilder good;
    good.fill(2, 0x99);
    KcetItem(good, {10, 12}).fill(30, 0x99);
    const std::vector<Case> cases = {
        {"TSDB", 2 + 8, 'X'},
        {"KDT2", 2 + 23, '3'},
        {"KDT1", 2 + 36, 'k'},
        {"end of the first block", 2 + 56 + 9, 0xFE},
        {"end of the last block", 2 + 56 + 10 + 10, 0x00},
        {"count bytes 00 00 00 02 (2 only when read big-endian)", 2 + 48, 0x00},
    };
    for (const Case& c : cases) {
        Bytes bytes = good.bytes();
        bytes[c.at] = c.value;
        if (std::string(c.name).rfind("count", 0) == 0) {
            bytes[2 + 51] = 0x02; // 02 00 00 00 little-endian becomes 00 00 00 02
        }
        const auto out = RunCheckOn(bytes, 2, Kcet);
        EXPECT_EQ(out.result, CheckResult::Reject) << c.name << ": " << out.note;
        EXPECT_EQ(out.position, 2) << c.name;
    }
}

TEST(CheckKcetSeqTest, TableOrBlocksPastTheEndRejectButTagsPastTheEndStop) {
    {
        // A count far larger than the file: the length table runs out.
        ByteBuilder b;
        KcetItem(b, {6});
        Bytes bytes = b.take();
        bytes[48 + 3] = 0x10;
        EXPECT_EQ(RunCheckOn(bytes, 0, Kcet).result, CheckResult::Reject);
    }
    {
        // A block that reaches past the end of the file.
        ByteBuilder b;
        KcetItem(b, {6});
        Bytes bytes = b.take();
        bytes[52] = 0x40;
        EXPECT_EQ(RunCheckOn(bytes, 0, Kcet).result, CheckResult::Reject);
    }
    for (size_t length : {size_t{30}, size_t{38}, size_t{50}}) {
        ByteBuilder b;
        KcetItem(b, {6});
        Bytes bytes = b.take();
        bytes.resize(length);
        EXPECT_EQ(RunCheckOn(bytes, 0, Kcet).result, CheckResult::StopScan) << "cut at " << length;
    }
}

} // namespace
} // namespace sonvex
