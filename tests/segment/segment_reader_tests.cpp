// SPDX-License-Identifier: GPL-3.0-or-later
// The segment reader: files assembled from the layout tables read back into their
// values, a converted file read back to its SMF's notes, and broken files refused.
#include <cstring>

#include <gtest/gtest.h>

#include "segment/segment_converter.h"
#include "segment/segment_reader.h"
#include "testkit/dls_builder.h"
#include "testkit/smf_builder.h"
#include "tests/segment/segment_test_support.h"

namespace sonvex {
namespace {

using segtest::ExpectedSegment;
using testkit::Bytes;

ExpectedSegment Sample() {
    ExpectedSegment e;
    e.name.assign(1, u'曲');
    e.repeats = kRepeatForever;
    e.length = 3000;
    e.loopStart = 768;
    e.loopEnd = 2304;
    e.tempos = {{0, 120.0}, {1536, 90.5}};
    e.items = {{0, 768, 0, 0x90, 60, 100}, {10, 1, 1, 0xB0, 7, 127}, {20, 1, 2, 0xE0, 0x7F, 0x3F}};
    e.bands = {{0, u"Band1", {{5, 0, 64, 100, 12}, {9, 3, 20, 80, 7}}},
               {1536, u"Band2", {{9, 0, 20, 80, 7}}}};
    e.timeSignatureTime = 12;
    e.beatsPerMeasure = 3;
    e.beat = 8;
    return e;
}

TEST(SegmentReader, ReadsEveryValueOfATableBuiltFile) {
    const SegmentRead read = ReadSegmentBytes(Sample().Build());
    ASSERT_EQ(read.status, SegmentReadResult::Ok) << read.diagnostics.failure;
    const SegmentFile& s = read.segment;
    EXPECT_EQ(s.name, "曲");
    EXPECT_EQ(s.author, "Sonvex");
    EXPECT_EQ(s.copyright, "PS GAME'S MAKER");
    EXPECT_EQ(s.guid, segtest::TestGuid(0));
    EXPECT_EQ(s.header.repeats, kRepeatForever);
    EXPECT_EQ(s.header.length, 3000);
    EXPECT_EQ(s.header.loopStart, 768);
    EXPECT_EQ(s.header.loopEnd, 2304);
    ASSERT_EQ(s.tracks.size(), 5u);
    EXPECT_EQ(s.tracks[2].header.classId, kBandTrackClass);
    EXPECT_EQ(s.tracks[4].header.chunkId, FourCC("syex"));
    ASSERT_EQ(s.tempos.size(), 2u);
    EXPECT_EQ(s.tempos[1].time, 1536);
    EXPECT_DOUBLE_EQ(s.tempos[1].tempo, 90.5);
    ASSERT_EQ(s.sequenceItems.size(), 3u);
    EXPECT_EQ(s.sequenceItems[0].duration, 768);
    EXPECT_EQ(s.sequenceItems[1].channel, 1u);
    EXPECT_EQ(s.sequenceItems[2].data2, 0x3F);
    EXPECT_EQ(s.curveCount, 0u);
    ASSERT_EQ(s.bands.size(), 2u);
    EXPECT_EQ(s.bands[1].name, "Band2");
    EXPECT_EQ(s.bands[1].logicalTime, 1536);
    EXPECT_EQ(s.bands[1].guid, segtest::TestGuid(2));
    ASSERT_EQ(s.bands[0].instruments.size(), 2u);
    const SegmentBandInstrument& i = s.bands[0].instruments[1];
    EXPECT_EQ(i.record.patch, 0x109u);
    EXPECT_EQ(i.record.channel, 3u);
    EXPECT_EQ(i.record.pan, 20);
    EXPECT_EQ(i.record.pitchBendRange, 7);
    EXPECT_EQ(i.referenceClass, kCollectionClass);
    EXPECT_EQ(i.referenceName, "bank");
    EXPECT_EQ(i.referenceFile, "bank.dls");
    ASSERT_EQ(s.timeSignatures.size(), 1u);
    EXPECT_EQ(s.timeSignatures[0], (TimeSignatureItem{12, 3, 8, 1}));
    ASSERT_EQ(s.sysex.size(), 1u);
    EXPECT_EQ(s.sysex[0].data, (Bytes{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}));
    const std::string text = DescribeSegment(s);
    EXPECT_NE(text.find("repeats forever"), std::string::npos) << text;
    EXPECT_NE(text.find("band \"Band2\" at 1536"), std::string::npos) << text;
}

TEST(SegmentReader, BrokenFilesAreRefusedWithALocation) {
    const Bytes good = Sample().Build();
    // Every cut-off file, whatever the cut.
    for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 7)) {
        EXPECT_EQ(ReadSegmentBytes(Bytes(good.begin(), good.begin() + static_cast<long>(n))).status,
                  SegmentReadResult::Malformed)
            << n;
    }
    auto patched = [&](const char* id, size_t skip, uint32_t value) {
        Bytes b = good;
        for (size_t i = 0; i + 8 <= b.size(); ++i) {
            if (i + std::strlen(id) <= b.size() &&
                std::equal(id, id + std::strlen(id), b.begin() + static_cast<long>(i))) {
                for (int k = 0; k < 4; ++k) {
                    b[i + skip + static_cast<size_t>(k)] = static_cast<uint8_t>(value >> (8 * k));
                }
                break;
            }
        }
        return b;
    };
    Bytes notSegment = good;
    notSegment[8] = 'X';
    const Bytes cases[] = {
        notSegment,
        patched("segh", 4, 12),             // header too short
        patched("evtl", 8, 0),              // item size 0
        patched("evtl", 8, 19),             // item size below a sequence item
        patched("evtl", 8, 40),             // three items of 20 bytes are not whole items of 40
        patched("tetr\x24", 4, 0x7FFFFFF0), // runs past its parent
        patched("bins", 4, 40),             // instrument record too short
        patched("syex\x15", 16, 200),       // message longer than its chunk
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const SegmentRead read = ReadSegmentBytes(cases[i]);
        const std::string& failure = read.diagnostics.failure;
        EXPECT_EQ(read.status, SegmentReadResult::Malformed) << "case " << i;
        EXPECT_NE(failure.find(" at 0x"), std::string::npos) << "case " << i << ": " << failure;
    }
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    EXPECT_EQ(ReadSegmentFile("/none.sgt").status, SegmentReadResult::OpenFailed);
}

TEST(SegmentReader, AConvertedSegmentReadsBackToItsSmf) {
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    testkit::DlsInstrument five;
    five.number = 5;
    five.trailer = {100, 64, 0, 12, 12};
    fs.Put("/w/bank.dls", testkit::DlsBuilder().instrument(five).build());
    fs.Put("/w/tune.mid", testkit::SmfBuilder(96)
                              .writerPreamble(500000, 4, 2)
                              .text(0, "2")
                              .program(0, 3, 5)
                              .marker(0, "Loop_Start")
                              .noteOn(0, 3, 60, 100)
                              .noteOn(48, 3, 64, 90)
                              .noteOff(48, 3, 60)
                              .program(0, 3, 9)
                              .noteOff(24, 3, 64)
                              .marker(0, "Loop_End")
                              .endOfTrack(0)
                              .build());
    NullFeedback feedback;
    SegmentReport report;
    ASSERT_EQ(ConvertSmfToSegment(std::string("/w/tune.mid"), std::string("/w/bank.dls"), feedback,
                                  {}, &report),
              SegmentResult::Done)
        << report.diagnostics.failure;
    const SegmentRead read = ReadSegmentFile("/w/tune.sgt");
    ASSERT_EQ(read.status, SegmentReadResult::Ok) << read.diagnostics.failure;
    const SegmentFile& s = read.segment;
    EXPECT_EQ(s.name, "tune");
    EXPECT_EQ(s.header.repeats, 2u);
    EXPECT_EQ(s.header.loopStart, 96); // tick 12 at 8 music ticks per tick
    EXPECT_EQ(s.header.loopEnd, 96 + 960);
    EXPECT_EQ(s.header.length, 96 + 960);
    ASSERT_EQ(s.tempos.size(), 1u);
    EXPECT_EQ(s.tempos[0].time, 32);
    ASSERT_EQ(s.sequenceItems.size(), 2u);
    EXPECT_EQ(s.sequenceItems[0].time, 96);
    EXPECT_EQ(s.sequenceItems[0].duration, 768);
    EXPECT_EQ(s.sequenceItems[1].time, 96 + 384);
    EXPECT_EQ(s.sequenceItems[1].duration, 384 + 192);
    EXPECT_EQ(s.sequenceItems[1].channel, 3u);
    ASSERT_EQ(s.bands.size(), 2u);
    EXPECT_EQ(s.bands[1].logicalTime, 96 + 768);
    EXPECT_EQ(s.bands[1].instruments[0].record.patch, 0x109u);
    EXPECT_EQ(s.bands[0].instruments[0].record.pitchBendRange, 12);
    EXPECT_EQ(s.bands[0].instruments[0].referenceFile, "bank.dls");
    EXPECT_NE(s.bands[0].guid, s.bands[1].guid);
}

} // namespace
} // namespace sonvex
