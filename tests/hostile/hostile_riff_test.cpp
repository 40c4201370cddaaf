// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile SMFs and RIFF files through the segment builder and the segment reader: every
// rejected event, every size field past the end or wrapping back, lists nested thousands
// deep, files cut at every byte. The builder either writes a segment the reader accepts
// or shows message 44 and leaves nothing; the reader never reads past the bytes.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/messages.h"
#include "segment/segment_converter.h"
#include "segment/segment_reader.h"
#include "testkit/hostile_inputs.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::HostileInput;
using testkit::kAnyResult;

class HostileSegment : public ::testing::Test {
  protected:
    // Builds /w/song.sgt from the two files and checks what is left; returns the result.
    SegmentResult Build(const std::string& name, const Bytes& smf, const Bytes& dls, int expected) {
        memory.Remove("/w/song.sgt");
        memory.Put("/w/song.mid", smf);
        memory.Put("/w/bank.dls", dls);
        SegmentJob job;
        job.workFolder = "/w";
        job.smfName = "song.mid";
        job.dlsName = "bank.dls";
        job.newGuid = [] { return Guid{}; };
        RecordingFeedback feedback;
        SegmentReport report;
        const SegmentResult r = ConvertSmfToSegment(job, feedback, {}, &report);
        EXPECT_FALSE(memory.Exists("/w/song.sgt.tmp")) << name;
        if (expected != kAnyResult) {
            EXPECT_EQ(ToCode(r), expected) << name << ": " << report.diagnostics.failure;
        }
        if (r == SegmentResult::Done) {
            EXPECT_TRUE(feedback.Messages().empty()) << name;
            const SegmentRead read = ReadSegmentFile("/w/song.sgt");
            EXPECT_EQ(read.status, SegmentReadResult::Ok)
                << name << ": " << read.diagnostics.failure;
        } else {
            EXPECT_EQ(r, SegmentResult::ConversionFailed) << name;
            EXPECT_EQ(feedback.Messages(),
                      std::vector<std::string>{Message(MessageId::SegmentNotMade).text})
                << name;
            EXPECT_FALSE(memory.Exists("/w/song.sgt"))
                << name << ": " << report.diagnostics.failure;
            EXPECT_FALSE(report.diagnostics.failure.empty()) << name;
        }
        return r;
    }

    MemoryFileSystem memory;
    ScopedFileSystem guard{memory};
};

TEST_F(HostileSegment, EveryHostileSmfWithASoundCollection) {
    int failed = 0;
    for (const HostileInput& input : testkit::HostileSmfs()) {
        failed += Build(input.name, input.bytes, testkit::SoundDls(), input.expected) !=
                          SegmentResult::Done
                      ? 1
                      : 0;
    }
    EXPECT_GT(failed, 0);
    std::printf("hostile SMFs: %d of %zu refused\n", failed, testkit::HostileSmfs().size());
}

TEST_F(HostileSegment, EveryDamagedCollectionWithASoundSmf) {
    const std::vector<HostileInput> damaged = testkit::RiffDamage("DLS", testkit::SoundDls());
    int failed = 0;
    for (const HostileInput& input : damaged) {
        failed +=
            Build(input.name, testkit::SoundSmf(), input.bytes, kAnyResult) != SegmentResult::Done
                ? 1
                : 0;
    }
    // Most damage lies in chunks the instrument table needs; the rest (in the wave pool,
    // say) still leaves a collection the builder can use.
    EXPECT_GT(failed, static_cast<int>(damaged.size() / 2));
    std::printf("damaged collections: %d of %zu refused\n", failed, damaged.size());
}

TEST_F(HostileSegment, ReaderOfDamagedSegments) {
    ASSERT_EQ(Build("sound", testkit::SoundSmf(), testkit::SoundDls(), 0), SegmentResult::Done);
    const Bytes sound = memory.Contents("/w/song.sgt");
    const SegmentRead whole = ReadSegmentBytes(sound);
    ASSERT_EQ(whole.status, SegmentReadResult::Ok) << whole.diagnostics.failure;
    int refused = 0;
    const std::vector<HostileInput> damaged = testkit::RiffDamage("segment", sound);
    for (const HostileInput& input : damaged) {
        const SegmentRead read = ReadSegmentBytes(input.bytes);
        const SegmentReadResult r = read.status;
        const SegmentFile& segment = read.segment;
        const std::string& failure = read.diagnostics.failure;
        if (r == SegmentReadResult::Ok) {
            EXPECT_FALSE(DescribeSegment(segment).empty()) << input.name;
            EXPECT_LE(segment.tracks.size(), whole.segment.tracks.size()) << input.name;
        } else {
            EXPECT_EQ(r, SegmentReadResult::Malformed) << input.name;
            EXPECT_FALSE(failure.empty()) << input.name;
            ++refused;
        }
    }
    EXPECT_GT(refused, static_cast<int>(sound.size() / 2));
    std::printf("damaged segments: %d of %zu refused\n", refused, damaged.size());
}

} // namespace
} // namespace sonvex
