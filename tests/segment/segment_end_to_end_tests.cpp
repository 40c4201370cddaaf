// SPDX-License-Identifier: GPL-3.0-or-later
// From a synthetic game image to a segment file on disk: the sequence and bank
// converters make the SMF and the DLS, the segment builder joins them, and the segment
// reader gets back the sequence's notes, times, durations, bands and loop points.
#include <cmath>

#include <gtest/gtest.h>

#include "bank2dls/vab_converter.h"
#include "segment/segment_converter.h"
#include "segment/segment_reader.h"
#include "seq2smf/seq_converter.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/game_image.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex {
namespace {

using namespace testkit;

TEST(SegmentEndToEnd, GameImageToSmfAndDlsToSegmentAndBack) {
    // Program 0: volume 100, pan 40, bends 2/2. Program 1: bends 2 down, 12 up.
    VabProgram zero = Program({Tone(1)});
    zero.volume = 100;
    zero.pan = 40;
    VabTone wide = Tone(1);
    wide.bendDown = 2;
    wide.bendUp = 12;
    VabBuilder vab;
    std::vector<int16_t> pcm(28 * 8);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(8000 * std::sin(static_cast<double>(i) * 0.2));
    }
    vab.program(0, zero).program(1, Program({wide})).sample(MakeVag(pcm));

    SeqTrack track;
    track.program(0, 0, 0)
        .control(0, 0, 99, 20) // "Loop_Start" marker
        .control(0, 0, 6, 2)   // loop count text "002" (data entry after the loop start)
        .noteOn(0, 0, 60, 100)
        .pitchBend(240, 0, 0x00, 0x60)
        .noteOff(240, 0, 60)
        .program(0, 1, 1)
        .noteOn(0, 1, 64, 90)
        .program(480, 0, 1)
        .noteOff(0, 1, 64)
        .control(0, 0, 99, 30) // "Loop_End" marker
        .endOfTrack(480);

    GameImage image(7);
    image.Noise(300);
    const uint64_t seqOffset = image.bytes().size();
    image.Raw(BuildSingleSeq(SeqTiming{}, track)).Noise(77);
    const uint64_t vhOffset = image.bytes().size();
    image.Raw(vab.BuildVh()).Zeros(40);
    const uint64_t vbOffset = image.bytes().size();
    image.Raw(vab.BuildVb()).Noise(50);

    TempFolder folder;
    const std::string game = folder / "GAME.BIN";
    // Raw items are not announced to the image, so it is written without its expected list.
    ASSERT_TRUE(WriteFile(game, image.bytes()));
    RecordingFeedback feedback;
    const SeqConversion seq = ConvertSeq(seqOffset, game, folder / "ゲーム_SEQ00", feedback);
    ASSERT_EQ(seq.result, ConvertResult::Done) << seq.diagnostics.failure;
    ASSERT_EQ(ConvertVabToDls(vhOffset, vbOffset, game, game, folder / "ゲーム_VAB00.dls", "ゲーム",
                              feedback),
              ConvertResult::Done);

    SegmentJob job;
    job.workFolder = folder.path();
    job.smfName = "ゲーム_SEQ00.mid";
    job.dlsName = "ゲーム_VAB00.dls";
    SegmentReport report;
    ASSERT_EQ(ConvertSmfToSegment(job, feedback, {}, &report), SegmentResult::Done)
        << report.diagnostics.failure;
    EXPECT_TRUE(feedback.Messages().empty());

    const SegmentRead read = ReadSegmentFile(folder / "ゲーム_SEQ00.sgt");
    ASSERT_EQ(read.status, SegmentReadResult::Ok) << read.diagnostics.failure;
    const SegmentFile& s = read.segment;
    // Division 480: 1.6 music ticks per tick, each delta rounded by itself. The writer's
    // preamble puts the tempo at tick 4 (music 6) and the converted events from tick 12
    // (music 6 + 13 = 19); deltas of 240 and 480 ticks become 384 and 768.
    EXPECT_EQ(s.name, "ゲーム_SEQ00");
    EXPECT_EQ(s.header.repeats, 2u);
    EXPECT_EQ(s.header.loopStart, 19);
    EXPECT_EQ(s.header.loopEnd, 19 + 384 + 384 + 768);
    EXPECT_EQ(s.header.length, 19 + 384 + 384 + 768 + 768);
    ASSERT_EQ(s.tempos.size(), 1u);
    EXPECT_EQ(s.tempos[0].time, 6);
    EXPECT_DOUBLE_EQ(s.tempos[0].tempo, 120.0);
    ASSERT_EQ(s.timeSignatures.size(), 1u);
    EXPECT_EQ(s.timeSignatures[0], (TimeSignatureItem{19, 4, 4, 1}));

    ASSERT_EQ(s.sequenceItems.size(), 3u);
    const SequenceItem& first = s.sequenceItems[0];
    EXPECT_EQ(first.time, 19);
    EXPECT_EQ(first.duration, 768);
    EXPECT_EQ(first.status, 0x90);
    EXPECT_EQ(first.data1, 60);
    EXPECT_EQ(first.data2, 100);
    const SequenceItem& bend = s.sequenceItems[1];
    EXPECT_EQ(bend.time, 19 + 384);
    EXPECT_EQ(bend.status, 0xE0);
    EXPECT_EQ(bend.data1, 0x00); // ranges 2 and 2: unchanged
    EXPECT_EQ(bend.data2, 0x60);
    const SequenceItem& second = s.sequenceItems[2];
    EXPECT_EQ(second.time, 19 + 768);
    EXPECT_EQ(second.duration, 768);
    EXPECT_EQ(second.channel, 1u);
    EXPECT_EQ(second.data1, 64);

    ASSERT_EQ(s.bands.size(), 2u);
    ASSERT_EQ(s.bands[0].instruments.size(), 2u);
    const InstrumentRecord& ch0 = s.bands[0].instruments[0].record;
    EXPECT_EQ(ch0.patch, 0x100u);
    EXPECT_EQ(ch0.volume, 100);
    EXPECT_EQ(ch0.pan, 40);
    EXPECT_EQ(ch0.pitchBendRange, 2);
    const InstrumentRecord& ch1 = s.bands[0].instruments[1].record;
    EXPECT_EQ(ch1.channel, 1u);
    EXPECT_EQ(ch1.patch, 0x101u);
    EXPECT_EQ(ch1.pitchBendRange, 12);
    EXPECT_EQ(s.bands[0].instruments[1].referenceFile, "ゲーム_VAB00.dls");
    EXPECT_EQ(s.bands[0].instruments[1].referenceName, "ゲーム_VAB00");
    EXPECT_EQ(s.bands[1].name, "Band2");
    EXPECT_EQ(s.bands[1].logicalTime, 19 + 768 + 768);
    ASSERT_EQ(s.bands[1].instruments.size(), 1u);
    EXPECT_EQ(s.bands[1].instruments[0].record.channel, 0u);
    EXPECT_EQ(s.bands[1].instruments[0].record.patch, 0x101u);
}

} // namespace
} // namespace sonvex
