// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF loader on files of any format a user may have, grouped by what they exercise,
// and the segment loader on segment files made by the segment builder.
#include <gtest/gtest.h>

#include "platform/feedback.h"
#include "playback/loader.h"
#include "playback/music_loader.h"
#include "segment/segment_converter.h"
#include "testkit/byte_builder.h"
#include "testkit/smf_builder.h"
#include "tests/playback/playback_test_support.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::SmfBuilder;

// An SMF from a header and raw track bodies (events only; the chunk header is added).
Bytes Smf(uint16_t format, uint16_t division, std::vector<Bytes> tracks) {
    ByteBuilder b;
    b.text("MThd")
        .u32be(6)
        .u16be(format)
        .u16be(static_cast<uint16_t>(tracks.size()))
        .u16be(division);
    for (const Bytes& t : tracks) {
        b.text("MTrk").u32be(static_cast<uint32_t>(t.size())).append(t);
    }
    return b.take();
}

std::vector<MusicEvent> NotesOf(const Sequence& s) {
    std::vector<MusicEvent> out;
    for (const MusicEvent& e : s.events) {
        if (e.kind == MusicEventKind::Note) {
            out.push_back(e);
        }
    }
    return out;
}

TEST(SmfLoader, FormatZeroWithRunningStatusPairsNotesIntoDurations) {
    // Division 480: 480 ticks are 768 music ticks.
    const Bytes smf = SmfBuilder(480)
                          .noteOn(0, 0, 60, 100)
                          .raw({0, 64, 90})         // running status: another note on
                          .raw({0x83, 0x60, 60, 0}) // 480 ticks on, velocity 0: off for the first
                          .noteOff(240, 0, 64, 0)
                          .endOfTrack(0)
                          .build();
    MusicLoadOutcome out = LoadSmf(smf);
    ASSERT_EQ(out.status, MusicLoadStatus::Ok) << out.diagnostics.failure;
    const auto notes = NotesOf(*out.sequence);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].data1, 60);
    EXPECT_EQ(notes[0].duration, 768);
    EXPECT_EQ(notes[1].data1, 64);
    EXPECT_EQ(notes[1].data2, 90);
    EXPECT_EQ(notes[1].duration, 1152);
    EXPECT_EQ(out.sequence->length, 1152);
    EXPECT_EQ(out.sequence->repeats, 0u);
}

TEST(SmfLoader, AbsoluteTicksAreConvertedSoRoundingDoesNotAddUp) {
    // Division 480 and deltas of 1: times 1.6, 3.2, 4.8 round to 2, 3, 5.
    MusicLoadOutcome out = LoadSmf(SmfBuilder(480)
                                       .control(1, 0, 7, 1)
                                       .control(1, 0, 7, 2)
                                       .control(1, 0, 7, 3)
                                       .endOfTrack(0)
                                       .build());
    ASSERT_EQ(out.status, MusicLoadStatus::Ok);
    ASSERT_EQ(out.sequence->events.size(), 3u);
    EXPECT_EQ(out.sequence->events[0].time, 2);
    EXPECT_EQ(out.sequence->events[1].time, 3);
    EXPECT_EQ(out.sequence->events[2].time, 5);
}

TEST(SmfLoader, FormatOneMergesTracksAndTakesEveryEventKind) {
    const Bytes smf = SmfBuilder(96)
                          .format(1)
                          .trackCount(2)
                          .tempo(0, 1000000) // 60 beats per minute
                          .timeSignature(0, 3, 3)
                          .tempo(96, 250000)
                          .endOfTrack(0)
                          .nextTrack()
                          .control(0, 2, 0, 0)
                          .control(0, 2, 32, 1)
                          .program(0, 2, 7)
                          .sysex(0, {0x7E, 0x7F, 0xF7}) // skipped
                          .raw({0, 0xF7, 1, 0xF7})      // escaped bytes, skipped
                          .event(0, 0xA2, {60, 5})
                          .event(0, 0xD2, {40})
                          .event(0, 0xE2, {0x00, 0x50})
                          .meta(0, 0x7F, {1, 2}) // sequencer-specific, skipped
                          .noteOn(192, 2, 70, 1)
                          .endOfTrack(0)
                          .build();
    MusicLoadOutcome out = LoadSmf(smf);
    ASSERT_EQ(out.status, MusicLoadStatus::Ok) << out.diagnostics.failure;
    const Sequence& s = *out.sequence;
    std::vector<uint8_t> statuses;
    for (const MusicEvent& e : s.events) {
        statuses.push_back(e.status);
    }
    EXPECT_EQ(statuses, (std::vector<uint8_t>{0xB2, 0xB2, 0xC2, 0xA2, 0xD2, 0xE2, 0x92}));
    EXPECT_EQ(s.events.back().time, 1536);
    EXPECT_EQ(s.events.back().duration, 0); // never switched off: sounds to its track's end
    ASSERT_EQ(s.tempo.Points().size(), 2u);
    EXPECT_DOUBLE_EQ(s.tempo.TempoAt(0), 60.0);
    EXPECT_DOUBLE_EQ(s.tempo.TempoAt(768), 240.0);
    EXPECT_EQ(s.beatsPerBar, 3);
    EXPECT_EQ(s.beatUnit, 8);
    EXPECT_EQ(s.BarLength(), 3 * 384);
    EXPECT_EQ(s.length, 1536);
}

TEST(SmfLoader, SmpteTimedFilesAreLaidOutAtTheDefaultTempo) {
    // 25 frames per second of 40 ticks: 1000 ticks a second, 1536 music ticks at 120.
    const uint16_t division = static_cast<uint16_t>((256 - 25) << 8 | 40);
    MusicLoadOutcome out = LoadSmf(SmfBuilder(division)
                                       .tempo(0, 1000000) // ignored
                                       .noteOn(1000, 0, 60, 1)
                                       .noteOff(500, 0, 60, 0)
                                       .endOfTrack(0)
                                       .build());
    ASSERT_EQ(out.status, MusicLoadStatus::Ok);
    const auto notes = NotesOf(*out.sequence);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].time, 1536);
    EXPECT_EQ(notes[0].duration, 768);
    EXPECT_DOUBLE_EQ(out.sequence->tempo.TempoAt(0), kDefaultTempo);
}

TEST(SmfLoader, LoopMarkersAndRepeatCountUnlessTurnedOff) {
    const Bytes smf = SmfBuilder(480)
                          .text(0, "003")
                          .noteOn(0, 0, 60, 100)
                          .marker(480, std::string("Loop_Start\0", 11))
                          .noteOff(0, 0, 60)
                          .text(0, "002")
                          .marker(960, "LOOP_END")
                          .endOfTrack(480)
                          .build();
    SmfLoadOptions plain;
    plain.loopsFromMarkers = false;
    MusicLoadOutcome once = LoadSmf(smf, plain);
    ASSERT_EQ(once.status, MusicLoadStatus::Ok);
    EXPECT_EQ(once.sequence->repeats, 0u);
    EXPECT_FALSE(once.sequence->loopMarked);
    MusicLoadOutcome looped = LoadSmf(smf);
    ASSERT_EQ(looped.status, MusicLoadStatus::Ok);
    // The larger count, 3, is three passes in all: two back to the loop start.
    EXPECT_EQ(looped.sequence->repeats, 2u);
    EXPECT_EQ(looped.sequence->loopStart, 768);
    EXPECT_EQ(looped.sequence->loopEnd, 2304);
    EXPECT_TRUE(looped.sequence->loopMarked);
    EXPECT_EQ(looped.sequence->length, 3072);
}

TEST(SmfLoader, RmidWrapperIsOpened) {
    const Bytes smf = SmfBuilder(96).noteOn(0, 0, 60, 1).noteOff(96, 0, 60).endOfTrack(0).build();
    ByteBuilder rmid;
    rmid.text("RIFF")
        .u32le(static_cast<uint32_t>(4 + 8 + smf.size() + (smf.size() & 1)))
        .text("RMID");
    rmid.text("data").u32le(static_cast<uint32_t>(smf.size())).append(smf);
    MusicLoadOutcome out = LoadSmf(rmid.take());
    ASSERT_EQ(out.status, MusicLoadStatus::Ok) << out.diagnostics.failure;
    EXPECT_EQ(NotesOf(*out.sequence).size(), 1u);
    EXPECT_EQ(LoadSmf(ByteBuilder().text("RIFF").u32le(4).text("RMID").take()).status,
              MusicLoadStatus::Malformed);
}

TEST(SmfLoader, HeadersThatCannotBeFollowedFail) {
    const Bytes end = ByteBuilder().u8(0).u8(0xFF).u8(0x2F).u8(0).take();
    EXPECT_EQ(LoadSmf(Bytes{}).status, MusicLoadStatus::NotRecognised);
    EXPECT_EQ(LoadSmf(ByteBuilder().text("RIFF").u32le(4).text("DLS ").take()).status,
              MusicLoadStatus::NotRecognised);
    EXPECT_EQ(
        LoadSmf(ByteBuilder().text("MThd").u32be(5).u16be(0).u16be(1).u16be(96).take()).status,
        MusicLoadStatus::Malformed);
    EXPECT_EQ(LoadSmf(Smf(3, 96, {end})).status, MusicLoadStatus::Malformed);
    EXPECT_EQ(LoadSmf(Smf(0, 0, {end})).status, MusicLoadStatus::Malformed);
    EXPECT_EQ(LoadSmf(Smf(0, 96, {})).status, MusicLoadStatus::Malformed);
    const MusicLoadOutcome bad = LoadSmf(Smf(0, 0, {end}));
    EXPECT_NE(bad.diagnostics.failure.find("0x0000000C"), std::string::npos)
        << bad.diagnostics.failure;
}

TEST(SmfLoader, DamagedTracksEndWhereTheDamageIs) {
    struct Case {
        const char* name;
        Bytes track;
    };
    const std::vector<Case> cases = {
        {"data byte first",
         ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0).u8(0x40).u8(1).u8(0).take()},
        {"system common",
         ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0).u8(0xF2).u8(0).u8(0).take()},
        {"cut in an event", ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0).u8(0xB0).u8(7).take()},
        {"cut in a delta", ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0x81).take()},
        {"overlong delta", ByteBuilder()
                               .u8(0)
                               .u8(0x90)
                               .u8(60)
                               .u8(1)
                               .u8(0xFF)
                               .u8(0xFF)
                               .u8(0xFF)
                               .u8(0xFF)
                               .u8(0)
                               .take()},
        {"meta past the end",
         ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0).u8(0xFF).u8(1).u8(50).u8(65).take()},
        {"no end of track", ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).take()},
    };
    for (const Case& c : cases) {
        // "data byte first" has a running status from the note, so its second event plays.
        MusicLoadOutcome out = LoadSmf(Smf(0, 96, {c.track}));
        ASSERT_EQ(out.status, MusicLoadStatus::Ok) << c.name << ": " << out.diagnostics.failure;
        ASSERT_FALSE(NotesOf(*out.sequence).empty()) << c.name;
        EXPECT_EQ(NotesOf(*out.sequence)[0].data1, 60) << c.name;
        if (std::string(c.name) != "data byte first") {
            EXPECT_FALSE(out.diagnostics.notes.empty()) << c.name;
        }
    }
    // A track chunk that claims more bytes than the file holds is read to the end.
    Bytes cut = Smf(
        0, 96, {ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(0).u8(0xFF).u8(0x2F).u8(0).take()});
    cut[21] = 0x40;
    MusicLoadOutcome out = LoadSmf(cut);
    ASSERT_EQ(out.status, MusicLoadStatus::Ok);
    EXPECT_EQ(NotesOf(*out.sequence).size(), 1u);
    EXPECT_FALSE(out.diagnostics.notes.empty());
}

TEST(SmfLoader, NoPrefixOfAFileReadsOutOfBounds) {
    const Bytes smf = SmfBuilder(480)
                          .writerPreamble(500000, 4, 2)
                          .control(0, 0, 0, 0)
                          .control(0, 0, 32, 1)
                          .program(0, 0, 3)
                          .noteOn(0, 0, 60, 100)
                          .bend(10, 0, 0x2100)
                          .noteOff(470, 0, 60)
                          .endOfTrack(0)
                          .build();
    for (size_t n = 0; n <= smf.size(); ++n) {
        const Bytes prefix(smf.begin(), smf.begin() + static_cast<std::ptrdiff_t>(n));
        MusicLoadOutcome out = LoadSmf(prefix);
        if (n == smf.size()) {
            EXPECT_EQ(out.status, MusicLoadStatus::Ok);
        }
    }
}

// Segment files from the segment builder, loaded back for playback.
class SegmentLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        playtest::TestCollection c;
        playtest::TestWave w;
        w.pcm.assign(100, 0);
        c.waves = {w};
        playtest::TestInstrument in;
        in.program = 5;
        in.regions = {playtest::TestRegion{}};
        c.instruments = {in};
        in.program = 9;
        c.instruments.push_back(in);
        ASSERT_TRUE(testkit::WriteFile(folder_ / "Bank.dls", playtest::BuildDls(c)));
    }

    std::string Convert(const Bytes& smf) {
        const std::string smfPath = folder_ / "song.mid";
        EXPECT_TRUE(testkit::WriteFile(smfPath, smf));
        NullFeedback feedback;
        SegmentReport report;
        const SegmentResult r =
            ConvertSmfToSegment(smfPath, folder_ / "Bank.dls", feedback, {}, &report);
        EXPECT_EQ(r, SegmentResult::Done) << report.diagnostics.failure;
        return report.outputPath;
    }

    testkit::TempFolder folder_;
};

TEST_F(SegmentLoad, NotesBandsLoopsAndTempoComeBack) {
    const Bytes smf = SmfBuilder(480)
                          .tempo(0, 400000) // 150 beats per minute
                          .timeSignature(0, 6, 3)
                          .text(0, "005")
                          .control(0, 1, 0, 0)
                          .control(0, 1, 32, 1)
                          .program(0, 1, 5)
                          .noteOn(0, 1, 60, 100)
                          .marker(480, "Loop_Start")
                          .control(0, 1, 7, 80)
                          .noteOff(0, 1, 60)
                          .program(240, 1, 9)
                          .noteOn(0, 1, 62, 90)
                          .bend(0, 1, 0x2000)
                          .noteOff(480, 1, 62)
                          .marker(0, "Loop_End")
                          .endOfTrack(240)
                          .build();
    const std::string path = Convert(smf);
    MusicLoadOutcome out = LoadSegmentFile(path);
    ASSERT_EQ(out.status, MusicLoadStatus::Ok) << out.diagnostics.failure;
    const Sequence& s = *out.sequence;
    EXPECT_EQ(s.length, 2304);
    EXPECT_EQ(s.repeats, 5u);
    EXPECT_EQ(s.loopStart, 768);
    EXPECT_EQ(s.loopEnd, 1920);
    EXPECT_EQ(s.beatsPerBar, 6);
    EXPECT_EQ(s.beatUnit, 8);
    EXPECT_DOUBLE_EQ(s.tempo.TempoAt(0), 150.0);
    const auto notes = NotesOf(s);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].status, 0x91);
    EXPECT_EQ(notes[0].duration, 768);
    EXPECT_EQ(notes[1].time, 1152);
    EXPECT_EQ(notes[1].duration, 768);
    // Bands: the first at 0 with program 5, the program change to 9 at 1152.
    ASSERT_EQ(s.bands.size(), 2u);
    ASSERT_EQ(s.collections, (std::vector<std::string>{"Bank.dls"}));
    const BandInstrument& first = s.bands[0][0];
    EXPECT_EQ(first.channel, 1);
    EXPECT_EQ(first.patch, 0x105u);
    EXPECT_EQ(first.collection, 0);
    EXPECT_EQ(first.volume, 100); // from the DLS trailer
    EXPECT_EQ(first.pan, 64);
    EXPECT_EQ(first.bendRange, 2);
    EXPECT_NE(first.flags & kBandPatchValid, 0u);
    EXPECT_EQ(s.bands[1][0].patch, 0x109u);
    int bandsAt1152 = 0;
    for (const MusicEvent& e : s.events) {
        if (e.kind == MusicEventKind::Band && e.time == 1152) {
            ++bandsAt1152;
        }
    }
    EXPECT_EQ(bandsAt1152, 1);

    // The loader finds the band's collection in the search folder.
    Loader loader;
    ASSERT_TRUE(loader.SetSearchDirectory(folder_.path()));
    LoadResult result;
    std::shared_ptr<Segment> segment = loader.LoadSegment("song.sgt", &result);
    ASSERT_TRUE(segment) << result.error;
    EXPECT_FALSE(segment->FromSmf());
    ASSERT_EQ(segment->BandCollections().size(), 1u);
    ASSERT_TRUE(segment->BandCollections()[0]);
    EXPECT_EQ(segment->BandCollections()[0]->Data()->instruments.size(), 2u);
    EXPECT_TRUE(segment->SetStartPoint(2303));
    EXPECT_FALSE(segment->SetStartPoint(2304));
    EXPECT_FALSE(segment->SetStartPoint(-1));
    EXPECT_EQ(segment->GetStartPoint(), 2303);
}

TEST_F(SegmentLoad, MissingBandCollectionIsNotedNotFatal) {
    const std::string path = Convert(SmfBuilder(480)
                                         .program(0, 0, 5)
                                         .noteOn(0, 0, 60, 1)
                                         .noteOff(480, 0, 60)
                                         .endOfTrack(0)
                                         .build());
    ASSERT_EQ(::remove((folder_ / "Bank.dls").c_str()), 0);
    Loader loader;
    ASSERT_TRUE(loader.SetSearchDirectory(folder_.path()));
    LoadResult result;
    std::shared_ptr<Segment> segment = loader.LoadSegment("song.sgt", &result);
    ASSERT_TRUE(segment);
    ASSERT_EQ(segment->BandCollections().size(), 1u);
    EXPECT_FALSE(segment->BandCollections()[0]);
    EXPECT_FALSE(result.diagnostics.empty());
}

TEST(SegmentLoadFailures, ByDefect) {
    EXPECT_EQ(LoadSegment(Bytes{}).status, MusicLoadStatus::NotRecognised);
    Bytes riff = ByteBuilder().text("RIFF").u32le(12).text("DMSG").text("segh").u32le(40).take();
    EXPECT_EQ(LoadSegment(riff).status, MusicLoadStatus::Malformed);
    Loader loader;
    EXPECT_FALSE(loader.SetSearchDirectory("/no/such/folder"));
    LoadResult r;
    EXPECT_FALSE(loader.LoadSegment("/no/such/file.sgt", &r));
    EXPECT_EQ(r.status, LoadStatus::OpenFailed);
    EXPECT_FALSE(loader.LoadCollection("/no/such/file.dls", &r));
    EXPECT_EQ(r.status, LoadStatus::OpenFailed);
}

} // namespace
} // namespace sonvex
