// SPDX-License-Identifier: GPL-3.0-or-later
// Whole segment files compared byte for byte with the file assembled from the layout
// tables: notes and their durations, controllers, bends, tempos, bands, header values;
// then the numbered messages, callbacks, and what a failure leaves on disk.
#include <gtest/gtest.h>

#include "platform/messages.h"
#include "segment/segment_converter.h"
#include "testkit/dls_builder.h"
#include "testkit/smf_builder.h"
#include "tests/segment/segment_test_support.h"

namespace sonvex {
namespace {

using segtest::ExpectedBand;
using segtest::ExpectedItem;
using segtest::ExpectedSegment;
using testkit::Bytes;
using testkit::DlsBuilder;
using testkit::DlsInstrument;
using testkit::SmfBuilder;

DlsInstrument Instrument(uint32_t number, std::array<uint8_t, 5> trailer) {
    DlsInstrument i;
    i.number = number;
    i.trailer = trailer;
    return i;
}

// Programs 5 (volume 100, pan 64, bend 2 down, 12 up) and 9 (80, 20, 7, 7).
Bytes StandardDls() {
    return DlsBuilder()
        .instrument(Instrument(5, {100, 64, 0, 2, 12}))
        .instrument(Instrument(9, {80, 20, 0, 7, 7}))
        .build();
}

class SegmentConversion : public ::testing::Test {
  protected:
    SegmentResult Convert(const Bytes& smf, const Bytes& dls = StandardDls()) {
        fs.Put("/w/song.mid", smf);
        fs.Put("/w/bank.dls", dls);
        return ConvertSmfToSegment(Job(), feedback, callbacks, &report);
    }
    SegmentJob Job() {
        SegmentJob job;
        job.workFolder = "/w";
        job.smfName = "song.mid";
        job.dlsName = "bank.dls";
        job.selectedSmfRow = 4;
        guids = 0;
        job.newGuid = [this] { return segtest::TestGuid(guids++); };
        return job;
    }
    Bytes Output() { return fs.Exists("/w/song.sgt") ? fs.Contents("/w/song.sgt") : Bytes{}; }
    void ExpectSegment(const Bytes& smf, const ExpectedSegment& expected,
                       const Bytes& dls = StandardDls()) {
        ASSERT_EQ(Convert(smf, dls), SegmentResult::Done) << report.diagnostics.failure;
        EXPECT_SAME_BYTES(Output(), expected.Build());
    }

    MemoryFileSystem fs;
    ScopedFileSystem guard{fs};
    RecordingFeedback feedback;
    SegmentCallbacks callbacks;
    SegmentReport report;
    int guids = 0;
};

TEST_F(SegmentConversion, GoldenFileFromAWriterStyleSmf) {
    const Bytes smf = SmfBuilder(480)
                          .writerPreamble(500000, 3, 3)
                          .program(0, 0, 5)
                          .control(0, 0, 0, 0) // bank select writes nothing
                          .control(0, 0, 32, 1)
                          .control(0, 0, 7, 90)
                          .text(0, "003")
                          .marker(0, "Loop_Start")
                          .noteOn(0, 0, 60, 100)
                          .bend(240, 0, 0x3FFF)
                          .noteOff(240, 0, 60)
                          .tempo(0, 400000)
                          .marker(480, "loop_end")
                          .text(0, "002")
                          .endOfTrack(0)
                          .build();
    // At 1.6 music ticks per tick, rounded per delta: the tempo at 4 ticks lies at 6, the
    // time signature 8 ticks later at 6 + 13 = 19 (not 12 x 1.6 = 19.2 rounded).
    const int32_t t0 = 19;
    ExpectedSegment e;
    e.repeats = 3;
    e.loopStart = t0;
    e.loopEnd = t0 + 384 + 384 + 768;
    e.length = e.loopEnd;
    e.tempos = {{6, 120.0}, {t0 + 768, 150.0}};
    e.items = {
        {t0, 1, 0, 0xB0, 7, 90}, {t0, 768, 0, 0x90, 60, 100}, {t0 + 384, 1, 0, 0xE0, 0x7F, 0x7F}};
    e.bands = {{0, u"Band1", {{5, 0, 64, 100, 12}}}};
    e.timeSignatureTime = t0;
    e.beatsPerMeasure = 3;
    e.beat = 8;
    ExpectSegment(smf, e);
    // The time-signature track's "syex" neighbour: size 21 and one pad byte at the very end.
    const Bytes out = Output();
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[out.size() - 1], 0);
    EXPECT_EQ(out[out.size() - 2], 0xF7);
}

TEST_F(SegmentConversion, NoteDurationsArePatchedWhenTheNoteEnds) {
    SmfBuilder smf(768);
    smf.noteOn(0, 0, 60, 100) // ended by a velocity-0 note on
        .noteOn(0, 0, 64, 90) // two note-ons of 64: both end with one note off
        .noteOn(10, 0, 64, 80)
        .noteOn(0, 1, 60, 70) // same note, other channel: never ended
        .noteOff(0, 2, 60)    // matches nothing
        .noteOn(5, 0, 60, 0)
        .noteOff(20, 0, 64)
        .endOfTrack(1);
    ExpectedSegment e;
    e.length = 36;
    e.items = {{0, 15, 0, 0x90, 60, 100},
               {0, 35, 0, 0x90, 64, 90},
               {10, 25, 0, 0x90, 64, 80},
               {10, 0, 1, 0x90, 60, 70}};
    ExpectSegment(smf.build(), e);
}

TEST_F(SegmentConversion, ANoteStartingWhileThirtyTwoAreOpenIsDropped) {
    SmfBuilder smf(768);
    ExpectedSegment e;
    for (uint8_t n = 0; n < 33; ++n) {
        smf.noteOn(1, 0, n, 100);
        if (n < 32) {
            e.items.push_back({n + 1, 0, 0, 0x90, n, 100});
        }
    }
    smf.noteOff(1, 0, 32).noteOff(0, 0, 0).noteOn(0, 0, 32, 50).noteOff(4, 0, 32).endOfTrack(0);
    e.items[0].duration = 34 - 1;                // note 0 ends at 34, which frees slot 0
    e.items.push_back({34, 4, 0, 0x90, 32, 50}); // the dropped note 32 can start again
    e.length = 38;
    ExpectSegment(smf.build(), e);
}

TEST_F(SegmentConversion, BendsAreScaledByTheChannelsProgram) {
    SmfBuilder smf(768);
    smf.bend(0, 2, 0x3FFF)  // channel 2 has no program: flattened up
        .bend(0, 2, 0x0000) // ... and down
        .program(0, 0, 5)   // 2 down, 12 up
        .bend(1, 0, 0x0000)
        .bend(0, 0, 0x2000)
        .program(0, 1, 9) // 7 and 7: passes unchanged
        .bend(1, 1, 0x0000)
        .bend(0, 1, 0x3FFF)
        .endOfTrack(0);
    const uint16_t down = 8191 - 1364; // -8192 / 6 + 0.5, truncated
    ExpectedSegment e;
    e.length = 2;
    e.items = {{0, 1, 2, 0xE0, 0x00, 0x40},
               {0, 1, 2, 0xE0, 0x7F, 0x3F},
               {1, 1, 0, 0xE0, static_cast<uint8_t>(down & 0x7F), static_cast<uint8_t>(down >> 7)},
               {1, 1, 0, 0xE0, 0x00, 0x40},
               {2, 1, 1, 0xE0, 0x00, 0x00},
               {2, 1, 1, 0xE0, 0x7F, 0x7F}};
    e.bands = {{0, u"Band1", {{5, 0, 64, 100, 12}, {9, 1, 20, 80, 7}}}};
    ExpectSegment(smf.build(), e);
}

TEST_F(SegmentConversion, ProgramChangesMakeBandsInTimeOrder) {
    SmfBuilder smf(768);
    smf.program(0, 0, 5)
        .program(100, 0, 9)
        .program(0, 0, 9) // the channel's current program: no band
        .program(50, 0, 5)
        .program(0, 3, 40) // first program of channel 3, late and with no DLS instrument
        .noteOn(0, 4, 60, 1)
        .endOfTrack(10);
    ExpectedSegment e;
    e.length = 160;
    e.items = {{150, 0, 4, 0x90, 60, 1}};
    e.bands = {{0, u"Band1", {{5, 0, 64, 100, 12}, {40, 3, 0, 0, 0}}},
               {100, u"Band2", {{9, 0, 20, 80, 7}}},
               {150, u"Band3", {{5, 0, 64, 100, 12}}}};
    ExpectSegment(smf.build(), e);
}

TEST_F(SegmentConversion, AnSmfWithoutTempoOrProgramsGivesAnEmptyTempoChunkAndBand) {
    ExpectedSegment e;
    e.length = 1536; // division 480, end of track 960 ticks after events at delta 0
    e.items = {{0, 1, 0, 0xB0, 10, 64}};
    ExpectSegment(SmfBuilder(480).control(0, 0, 10, 64).endOfTrack(960).build(), e);
}

TEST_F(SegmentConversion, NamesAreUtf16AndTheDlsIsReferencedByItsNameOnly) {
    fs.Put("/w/曲 été.MID", SmfBuilder(768).program(0, 0, 5).endOfTrack(0).build());
    fs.Put("/banks/音源.dls", StandardDls());
    ASSERT_EQ(ConvertSmfToSegment(std::string("/w/曲 été.MID"), std::string("/banks/音源.dls"),
                                  feedback, callbacks, &report),
              SegmentResult::Done)
        << report.diagnostics.failure;
    EXPECT_EQ(report.outputPath, "/w/曲 été.sgt");
    ExpectedSegment e;
    e.name = u"曲 été";
    e.dlsName = u"音源";
    e.dlsFile = u"音源.dls";
    e.bands = {{0, u"Band1", {{5, 0, 64, 100, 12}}}};
    Bytes expected = e.Build();
    Bytes actual = fs.Contents("/w/曲 été.sgt");
    // The GUIDs here are new ones: blank them (the segment's and the band's) before comparing.
    for (Bytes* b : {&expected, &actual}) {
        for (size_t i = 0; i + 4 <= b->size(); ++i) {
            if ((*b)[i] == 'g' && (*b)[i + 1] == 'u' && (*b)[i + 2] == 'i' && (*b)[i + 3] == 'd' &&
                i + 24 <= b->size()) {
                std::fill(b->begin() + static_cast<long>(i) + 8,
                          b->begin() + static_cast<long>(i) + 24, 0);
            }
        }
    }
    EXPECT_SAME_BYTES(actual, expected);
}

TEST_F(SegmentConversion, SuccessStopsPlaybackFirstThenUpdatesTheRowStatusAndCache) {
    std::vector<std::string> calls;
    callbacks.stopPlayback = [&] { calls.push_back("stop"); };
    callbacks.updateRow = [&](const SegmentRowUpdate& row) {
        calls.push_back("row " + std::to_string(row.selectedSmfRow) + " " + row.outputName + " " +
                        row.sizeText);
        EXPECT_EQ(row.sizeBytes, fs.Contents("/w/song.sgt").size());
    };
    callbacks.clearLoaderCache = [&] { calls.push_back("cache"); };
    ASSERT_EQ(Convert(SmfBuilder(768).endOfTrack(0).build()), SegmentResult::Done);
    const std::string size = std::to_string(Output().size()) + "B";
    EXPECT_EQ(calls, (std::vector<std::string>{"stop", "row 4 song.sgt " + size, "cache"}));
    EXPECT_EQ(feedback.StatusTexts(), (std::vector<std::string>{"song.sgt作製"}));
    EXPECT_TRUE(feedback.Messages().empty());
    EXPECT_FALSE(fs.Exists("/w/song.sgt.tmp"));
    EXPECT_TRUE(SameFileName("SONG.sgt", "song.SGT"));
    EXPECT_FALSE(SameFileName("song.sgt", "song.sgt2"));
}

TEST_F(SegmentConversion, EachCheckShowsItsNumberedMessageAndWritesNothing) {
    struct Case {
        std::string smf, dls;
        SegmentResult result;
    };
    fs.Put("/w/song.mid", SmfBuilder().endOfTrack(0).build());
    fs.Put("/w/song.smf", SmfBuilder().endOfTrack(0).build());
    fs.Put("/w/bank.dls", StandardDls());
    const Case cases[] = {
        {"", "bank.dls", SegmentResult::NoSmfName},
        {"song.mid", "", SegmentResult::NoDlsName},
        {"song.smf", "bank.dls", SegmentResult::NotSmf},
        {"song", "bank.dls", SegmentResult::NotSmf},
        {"gone.mid", "bank.dls", SegmentResult::SmfOpenFailed},
        {"song.mid", "gone.dls", SegmentResult::DlsOpenFailed},
    };
    for (const Case& c : cases) {
        feedback.events.clear();
        int stops = 0;
        callbacks.stopPlayback = [&] { ++stops; };
        callbacks.updateRow = [](const SegmentRowUpdate&) {
            ADD_FAILURE() << "row update after a failure";
        };
        SegmentJob job = Job();
        job.smfName = c.smf;
        job.dlsName = c.dls;
        EXPECT_EQ(ConvertSmfToSegment(job, feedback, callbacks), c.result) << c.smf << " " << c.dls;
        ASSERT_EQ(feedback.events.size(), 1u);
        EXPECT_EQ(feedback.events[0].text, Message(MessageOf(c.result)).text);
        EXPECT_EQ(feedback.events[0].value, static_cast<int>(MessageIcon::Stop));
        EXPECT_EQ(stops, 1);
        EXPECT_FALSE(fs.Exists("/w/song.sgt"));
    }
}

TEST_F(SegmentConversion, FailuresKeepAnOlderSegmentAndLeaveNoPartialFile) {
    const Bytes older = {'o', 'l', 'd'};
    FaultInjectingFileSystem faults(fs);
    ScopedFileSystem faulty(faults);
    bool cacheCleared = false;
    callbacks.clearLoaderCache = [&] { cacheCleared = true; };
    const Bytes good = SmfBuilder(480).noteOn(0, 0, 60, 1).endOfTrack(10).build();
    const Bytes broken =
        SmfBuilder(480).noteOn(0, 0, 60, 1).event(0, 0xA0, {1, 2}).endOfTrack(0).build();
    struct Case {
        const char* what;
        Bytes smf;
        Bytes dls;
        std::function<void()> arm;
        SegmentResult result;
    };
    const Case cases[] = {
        {"event outside the subset", broken, StandardDls(), [] {}, SegmentResult::ConversionFailed},
        {"DLS with too few instruments", good,
         DlsBuilder().instrument(Instrument(5, {})).declaredCount(3).build(), [] {},
         SegmentResult::ConversionFailed},
        {"cannot create", good, StandardDls(), [&] { faults.FailCreate(true); },
         SegmentResult::OutputOpenFailed},
        {"write fails", good, StandardDls(), [&] { faults.FailWritesAfter(100); },
         SegmentResult::ConversionFailed},
        {"rename fails", good, StandardDls(), [&] { faults.FailRename(true); },
         SegmentResult::ConversionFailed},
    };
    for (const Case& c : cases) {
        fs.Put("/w/song.sgt", older);
        fs.Put("/w/song.mid", c.smf);
        fs.Put("/w/bank.dls", c.dls);
        feedback.events.clear();
        c.arm();
        EXPECT_EQ(ConvertSmfToSegment(Job(), feedback, callbacks, &report), c.result) << c.what;
        faults.Clear();
        EXPECT_EQ(fs.Contents("/w/song.sgt"), older) << c.what;
        EXPECT_FALSE(fs.Exists("/w/song.sgt.tmp")) << c.what;
        ASSERT_EQ(feedback.Messages().size(), 1u) << c.what;
        EXPECT_EQ(feedback.Messages()[0], Message(MessageOf(c.result)).text) << c.what;
        EXPECT_TRUE(feedback.StatusTexts().empty()) << c.what;
    }
    EXPECT_EQ(Message(MessageId::SegmentNotMade).icon, MessageIcon::Exclamation);
    EXPECT_EQ(feedback.events[0].value, static_cast<int>(MessageIcon::Exclamation));
    EXPECT_FALSE(cacheCleared);
    // Without a fault the same conversion replaces the older file.
    fs.Put("/w/song.mid", good);
    EXPECT_EQ(ConvertSmfToSegment(Job(), feedback, callbacks, &report), SegmentResult::Done);
    EXPECT_NE(fs.Contents("/w/song.sgt"), older);
    EXPECT_TRUE(cacheCleared);
}

} // namespace
} // namespace sonvex
