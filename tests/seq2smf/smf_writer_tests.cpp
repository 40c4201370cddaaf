// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF writer on its own: the minimal file, odd-track padding, delta-time encodings,
// the "Delta Over" marker, replacing and abandoning files, and files past one buffer.
#include <gtest/gtest.h>

#include "seq2smf/smf_writer.h"
#include "smf_golden.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::ExpectedSmf;
using testkit::SmfTrackBytes;

class SmfWriterTest : public ::testing::Test {
  protected:
    MemoryFileSystem fs;
    ScopedFileSystem guard{fs};
    SmfWriter writer;

    // Everything the writer put after the preamble, end of track included.
    Bytes EventsAfterPreamble(const std::string& path) const {
        const Bytes& file = fs.Contents(path);
        return Bytes(file.begin() + 84, file.end());
    }
};

TEST_F(SmfWriterTest, OnlyEndOfTrackGivesThe88ByteFile) {
    ASSERT_TRUE(writer.BeginSmf("a.mid", 0x01E0, 500000, 3, 3));
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    ASSERT_TRUE(writer.FinishSmf());

    const Bytes& file = fs.Contents("a.mid");
    ASSERT_EQ(file.size(), 88u);
    EXPECT_SAME_BYTES(file, ExpectedSmf(0x01E0, 500000, 3, 3, SmfTrackBytes().end()));
    // Track length 66 at offset 18, header length 6 at offset 4.
    EXPECT_EQ((Bytes{file.begin() + 18, file.begin() + 22}), (Bytes{0, 0, 0, 66}));
    EXPECT_EQ((Bytes{file.begin() + 4, file.begin() + 8}), (Bytes{0, 0, 0, 6}));
}

TEST_F(SmfWriterTest, OddTrackGetsOneUncountedPadByte) {
    ASSERT_TRUE(writer.BeginSmf("odd.mid", 96, 0x0A0B0C, 4, 2));
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0xC0, 0x05}); // 3 track bytes
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    ASSERT_TRUE(writer.FinishSmf());

    const Bytes& file = fs.Contents("odd.mid");
    EXPECT_SAME_BYTES(file,
                      ExpectedSmf(96, 0x0A0B0C, 4, 2, SmfTrackBytes().ev(0, {0xC0, 0x05}).end()));
    ASSERT_EQ(file.size(), 22u + 69u + 1u);
    EXPECT_EQ(file[21], 69); // the pad byte is not counted
    EXPECT_EQ(file.back(), 0);
    std::string error;
    EXPECT_TRUE(testkit::ReadSmf(file, error).has_value()) << error;
}

TEST_F(SmfWriterTest, DeltaTimesUseTheShortestVariableLengthForm) {
    const struct {
        uint32_t value;
        Bytes encoded;
    } cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {2097151, {0xFF, 0xFF, 0x7F}},
        {2097152, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writer.BeginSmf("d.mid", 480, 500000, 4, 2));
        writer.WriteDeltaTime(c.value, 0);
        writer.WriteBytes({0xFF, 0x2F, 0x00});
        ASSERT_TRUE(writer.FinishSmf());
        SmfTrackBytes events;
        events.raw(c.encoded).raw({0xFF, 0x2F, 0x00});
        EXPECT_SAME_BYTES(fs.Contents("d.mid"), ExpectedSmf(480, 500000, 4, 2, events))
            << "delta " << c.value;
    }
}

TEST_F(SmfWriterTest, PendingDeltaAddsToTheEventDeltaWhileTheSumFits) {
    ASSERT_TRUE(writer.BeginSmf("p.mid", 480, 500000, 4, 2));
    writer.WriteDeltaTime(5, 30);
    writer.WriteBytes({0x90, 0x3C, 0x40});
    writer.WriteDeltaTime(0x0FFFFFFE, 1);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    ASSERT_TRUE(writer.FinishSmf());
    EXPECT_SAME_BYTES(
        fs.Contents("p.mid"),
        ExpectedSmf(480, 500000, 4, 2,
                    SmfTrackBytes().ev(35, {0x90, 0x3C, 0x40}).ev(0x0FFFFFFF, {0xFF, 0x2F, 0x00})));
}

TEST_F(SmfWriterTest, SumAboveTheLimitPutsPendingTimeBeforeADeltaOverMarker) {
    const struct {
        uint32_t delta;
        uint32_t pending;
    } cases[] = {{0x0FFFFFFF, 1}, {0x0FFFFFFF, 0x0FFFFFFF}, {1, 0x0FFFFFFF}};
    for (const auto& c : cases) {
        ASSERT_TRUE(writer.BeginSmf("o.mid", 480, 500000, 4, 2));
        writer.WriteDeltaTime(c.delta, c.pending);
        writer.WriteBytes({0x90, 0x3C, 0x40});
        writer.WriteDeltaTime(0, 0);
        writer.WriteBytes({0xFF, 0x2F, 0x00});
        ASSERT_TRUE(writer.FinishSmf());
        // The marker takes the pending time; the event keeps its own delta; no time is lost.
        EXPECT_SAME_BYTES(fs.Contents("o.mid"), ExpectedSmf(480, 500000, 4, 2,
                                                            SmfTrackBytes()
                                                                .marker(c.pending, "Delta Over")
                                                                .ev(c.delta, {0x90, 0x3C, 0x40})
                                                                .end()))
            << "delta " << c.delta << " pending " << c.pending;
    }
    // The marker itself is 14 bytes: FF 06 0B, ten characters, a zero.
    ASSERT_TRUE(writer.BeginSmf("m.mid", 480, 500000, 4, 2));
    writer.WriteDeltaTime(0x0FFFFFFF, 1);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    ASSERT_TRUE(writer.FinishSmf());
    const Bytes tail = EventsAfterPreamble("m.mid");
    const Bytes expected = {0x01, 0xFF, 0x06, 0x0B, 'D',  'e',  'l',  't',  'a',  ' ',  'O',
                            'v',  'e',  'r',  0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0x00};
    EXPECT_SAME_BYTES(tail, expected);
}

TEST_F(SmfWriterTest, BeginReplacesAnExistingFileAndAbandonDeletesIt) {
    fs.Put("r.mid", Bytes(5000, 0xEE));
    ASSERT_TRUE(writer.BeginSmf("r.mid", 480, 500000, 4, 2));
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    ASSERT_TRUE(writer.FinishSmf());
    EXPECT_EQ(fs.Contents("r.mid").size(), 88u);

    ASSERT_TRUE(writer.BeginSmf("r.mid", 480, 500000, 4, 2));
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0x90, 0x3C, 0x40});
    writer.AbandonSmf();
    EXPECT_FALSE(fs.Exists("r.mid"));
    EXPECT_FALSE(writer.IsOpen());
}

TEST_F(SmfWriterTest, WriterDestroyedWithoutFinishingLeavesNoFile) {
    {
        SmfWriter scoped;
        ASSERT_TRUE(scoped.BeginSmf("x.mid", 480, 500000, 4, 2));
    }
    EXPECT_FALSE(fs.Exists("x.mid"));
}

TEST_F(SmfWriterTest, LengthsArePatchedInFilesLargerThanOneBuffer) {
    // 40000 note events of 4 bytes: the track outgrows the 64 KiB buffer, so the length
    // fields are written after the start of the file has left the buffer.
    ASSERT_TRUE(writer.BeginSmf("big.mid", 480, 500000, 4, 2));
    SmfTrackBytes events;
    for (int i = 0; i < 40000; ++i) {
        const auto key = static_cast<uint8_t>(i % 128);
        writer.WriteDeltaTime(1, 0);
        writer.WriteBytes({0x90, key, 0x40});
        events.ev(1, {0x90, key, 0x40});
    }
    writer.WriteDeltaTime(0, 0);
    writer.WriteBytes({0xFF, 0x2F, 0x00});
    events.end();
    ASSERT_TRUE(writer.FinishSmf());
    EXPECT_SAME_BYTES(fs.Contents("big.mid"), ExpectedSmf(480, 500000, 4, 2, events));
}

TEST(SwapBytes, ReverseTheByteOrder) {
    EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapBytes32(0x000000FFu), 0xFF000000u);
    EXPECT_EQ(SwapBytes32(SwapBytes32(0xDEADBEEFu)), 0xDEADBEEFu);
    EXPECT_EQ(SwapBytes16(0x01E0), 0xE001);
    EXPECT_EQ(SwapBytes16(0x00FF), 0xFF00);
}

} // namespace
} // namespace sonvex
