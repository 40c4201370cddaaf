// SPDX-License-Identifier: GPL-3.0-or-later
// The SMF reader's three dialects, each given the bytes on which they part ways.
#include "formats/smf.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"
#include "testkit/smf_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::RiffNode;
using testkit::SmfBuilder;

TEST(SmfReader, PlayerTakesRunningStatusAlsoInsideAnRmidWrapper) {
    // Note on at 22..25, then delta 0x10 at 26 and two data bytes under running status.
    const Bytes smf =
        SmfBuilder(96).noteOn(0, 0, 60, 100).raw({0x10, 62, 90}).endOfTrack(0).build();
    const Bytes rmid = RiffNode::Riff("RMID", {RiffNode::Chunk("data", smf)}).Encode();
    Bytes overrun = rmid;
    overrun[17] = 0x10; // the "data" chunk claims 4 KiB more than the file holds
    for (const auto& [bytes, shift] :
         {std::pair{smf, 0}, std::pair{rmid, 20}, std::pair{overrun, 20}}) {
        const SmfRead read = ReadSmf(bytes);
        ASSERT_EQ(read.status, SmfReadStatus::Ok) << read.diagnostics.failure;
        EXPECT_EQ(read.smf.headerOffset, shift);
        ASSERT_EQ(read.smf.tracks.size(), 1u);
        const SmfTrack& track = read.smf.tracks[0];
        ASSERT_EQ(track.events.size(), 3u);
        const SmfTrackEvent& second = track.events[1];
        EXPECT_TRUE(second.runningStatus);
        EXPECT_EQ(second.status, 0x90);
        EXPECT_EQ(second.data1, 62);
        EXPECT_EQ(second.tick, 16u);
        EXPECT_EQ(second.offset, 26 + shift);
        EXPECT_EQ(second.statusOffset, 27 + shift);
        EXPECT_TRUE(track.ended);
    }
    const SmfRead strict = ReadSmf(smf, SmfDialect::Strict);
    EXPECT_EQ(strict.status, SmfReadStatus::Malformed);
    EXPECT_EQ(strict.diagnostics.failure,
              "SMF at 0x0000001B: data byte where a status byte is due (running status)");
}

TEST(SmfReader, PlayerEndsOnlyTheFaultyTrackAndKeepsWhatItReadOfTheCutEvent) {
    // Track 0: a note, then a text whose length (9) runs past the track; track 1 is sound.
    const Bytes first =
        ByteBuilder().u8(0).u8(0x90).u8(60).u8(1).u8(5).u8(0xFF).u8(1).u8(9).bytes();
    const Bytes second = ByteBuilder().u8(0).u8(0xFF).u8(0x2F).u8(0).bytes();
    ByteBuilder file;
    file.text("MThd").u32be(6).u16be(1).u16be(2).u16be(96);
    file.text("MTrk").u32be(static_cast<uint32_t>(first.size())).append(first);
    file.text("MTrk").u32be(static_cast<uint32_t>(second.size())).append(second);
    const SmfRead read = ReadSmf(file.bytes());
    ASSERT_EQ(read.status, SmfReadStatus::Ok) << read.diagnostics.failure;
    ASSERT_EQ(read.smf.tracks.size(), 2u);
    const SmfTrack& faulty = read.smf.tracks[0];
    EXPECT_FALSE(faulty.ended);
    EXPECT_EQ(faulty.fault, "track 0 at 0x0000001E: meta event cut short; the track ends here");
    ASSERT_EQ(faulty.events.size(), 2u);
    EXPECT_EQ(faulty.events[1].cut, SmfTrackEvent::Cut::InData);
    EXPECT_EQ(faulty.events[1].tick, 5u);
    EXPECT_EQ(faulty.stop, 0x1E);
    EXPECT_TRUE(read.smf.tracks[1].ended);
    EXPECT_EQ(read.diagnostics.notes, std::vector<std::string>{faulty.fault});
}

TEST(SmfReader, ClassicWalkTakesOneByteMetaLengthsAnyDeltaLengthAndIgnoresTheTrackLength) {
    // The builder stores the 130-byte text's length as the one byte 0x82; as a
    // variable-length quantity that byte would swallow the first letter too.
    Bytes song = SmfBuilder(96)
                     .text(0, std::string(130, 'a'))
                     .raw({0x80, 0x80, 0x80, 0x80, 0x05, 0x90, 60, 1})
                     .endOfTrack(7)
                     .build();
    song[18] = song[19] = song[20] = 0;
    song[21] = 4; // the track length says 4 bytes
    const SmfRead classic = ReadSmf(song, SmfDialect::Classic);
    ASSERT_EQ(classic.status, SmfReadStatus::Ok) << classic.diagnostics.failure;
    const SmfTrack& track = classic.smf.tracks[0];
    ASSERT_EQ(track.events.size(), 3u);
    EXPECT_EQ(track.events[0].data.size(), 130u);
    EXPECT_EQ(track.events[1].delta, 5u);
    EXPECT_TRUE(track.events[2].IsMeta(0x2F));
    EXPECT_EQ(track.events[2].tick, 12u);

    const SmfRead player = ReadSmf(song, SmfDialect::Player);
    ASSERT_EQ(player.status, SmfReadStatus::Ok);
    EXPECT_EQ(player.smf.tracks[0].fault,
              "track 0 at 0x0000001A: meta event cut short; the track ends here");
    EXPECT_EQ(ReadSmf(song, SmfDialect::Strict).diagnostics.failure,
              "SMF at 0x00000012: track length 4 does not match a file of " +
                  std::to_string(song.size()) + " bytes");
}

TEST(SmfReader, StrictRefusesWhatOurWritersNeverWrite) {
    Bytes badPad = SmfBuilder(96).program(0, 0, 1).endOfTrack(0).build(); // 7 bytes: padded
    badPad.back() = 0x55;
    const struct {
        Bytes bytes;
        std::string failure;
    } cases[] = {
        {badPad, "SMF at 0x0000001D: pad byte is not zero"},
        {SmfBuilder(96).event(0, 0x90, {0x80, 1}).endOfTrack(0).build(),
         "SMF at 0x00000018: data byte with bit 7 set"},
        {SmfBuilder(96).endOfTrack(0).noteOn(0, 0, 60, 1).build(),
         "SMF at 0x0000001A: event after the end of track"},
        {SmfBuilder(96).meta(0, 0x2F, {1}).build(), "SMF at 0x00000016: end of track with data"},
        {SmfBuilder(96).noteOn(0, 0, 60, 1).build(),
         "SMF at 0x0000001A: track without end-of-track event"},
    };
    for (const auto& c : cases) {
        const SmfRead read = ReadSmf(c.bytes, SmfDialect::Strict);
        EXPECT_EQ(read.status, SmfReadStatus::Malformed) << c.failure;
        EXPECT_EQ(read.diagnostics.failure, c.failure);
        EXPECT_EQ(ReadSmf(c.bytes, SmfDialect::Player).diagnostics.failure, "") << c.failure;
    }
}

} // namespace
} // namespace sonvex
