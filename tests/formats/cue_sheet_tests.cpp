// SPDX-License-Identifier: GPL-3.0-or-later
// Cue sheets: the commands a data disc needs, quoted names, times, and each malformed line
// named by its number.
#include "formats/cue_sheet.h"

#include <gtest/gtest.h>

namespace sonvex {
namespace {

TEST(CueSheet, ReadsFilesTracksAndIndexesOfSeveralTrackFiles) {
    const std::string text = "\xEF\xBB\xBFREM a comment\r\n"
                             "FILE \"My Game (Track 1).bin\" BINARY\r\n"
                             "  TRACK 01 MODE2/2352\r\n"
                             "    INDEX 01 00:00:00\r\n"
                             "FILE track2.bin BINARY\n"
                             "  TRACK 02 AUDIO\n"
                             "    PREGAP 00:02:00\n"
                             "    INDEX 00 00:00:00\n"
                             "    INDEX 01 01:02:03\n";
    ASSERT_TRUE(LooksLikeCueSheet(text));
    const CueSheet sheet = ParseCueSheet(text);
    ASSERT_EQ(sheet.status, CueStatus::Ok) << sheet.diagnostics.failure;
    ASSERT_EQ(sheet.files.size(), 2u);
    EXPECT_EQ(sheet.files[0].name, "My Game (Track 1).bin");
    EXPECT_EQ(sheet.files[1].name, "track2.bin");
    ASSERT_EQ(sheet.files[0].tracks.size(), 1u);
    EXPECT_EQ(sheet.files[0].tracks[0].mode, TrackMode::Mode2Raw);
    const CueTrack& audio = sheet.files[1].tracks.at(0);
    EXPECT_EQ(audio.number, 2);
    EXPECT_EQ(audio.mode, TrackMode::Audio);
    ASSERT_EQ(audio.indexes.size(), 2u);
    EXPECT_EQ(audio.indexes[0].frame, 0);
    EXPECT_EQ(audio.StartFrame(), (1 * 60 + 2) * 75 + 3);
}

TEST(CueSheet, SectorSizesOfEachMode) {
    const CueSheet sheet = ParseCueSheet("FILE a BINARY\nTRACK 1 MODE1/2048\nTRACK 2 mode2/2336\n"
                                         "TRACK 3 MODE1/2352\nTRACK 4 MODE2/2048\n");
    ASSERT_EQ(sheet.status, CueStatus::Ok) << sheet.diagnostics.failure;
    const auto& tracks = sheet.files.at(0).tracks;
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(SectorBytesOf(tracks[0].mode), 2048);
    EXPECT_EQ(SectorBytesOf(tracks[1].mode), 2336);
    EXPECT_EQ(SectorBytesOf(tracks[2].mode), 2352);
    EXPECT_EQ(SectorBytesOf(tracks[3].mode), 2048);
}

TEST(CueSheet, EachMalformedSheetNamesItsLineAndReason) {
    const struct {
        const char* text;
        const char* failure;
    } cases[] = {
        {"TRACK 01 MODE2/2352\n", "line 1 at 0x00000000: TRACK before any FILE"},
        {"FILE a BINARY\nTRACK 01 MODE3/2352\n",
         "line 2 at 0x0000000E: unknown track mode MODE3/2352"},
        {"FILE \"a.bin BINARY\nTRACK 01 AUDIO\n",
         "line 1 at 0x00000000: a quoted name is not closed"},
        {"FILE a BINARY\nTRACK 01 AUDIO\nINDEX 01 00:61:00\n",
         "line 3 at 0x0000001D: INDEX needs a number and a time mm:ss:ff"},
        {"FILE a BINARY\nTRACK 01 AUDIO\nINDEX 00 00:02:00\nINDEX 01 00:01:00\n",
         "line 4 at 0x0000002F: INDEX 01 lies before the index above it"},
        {"FILE a BINARY\nINDEX 01 00:00:00\n", "line 2 at 0x0000000E: INDEX outside a TRACK"},
        {"FILE a BINARY\n", "cue sheet at 0x00000000: names no track"},
        // Every file needs a track, the first as much as the last.
        {"FILE a BINARY\nTRAAK 01 AUDIO\nFILE b BINARY\nTRACK 02 AUDIO\n",
         "line 1 at 0x00000000: FILE a has no TRACK"},
        {"FILE a BINARY\nTRACK 01 AUDIO\nFILE b BINARY\n",
         "line 3 at 0x0000001D: FILE b has no TRACK"},
        {"FILE a BINARY\nTRACK 00 AUDIO\n",
         "line 2 at 0x0000000E: TRACK needs a number 1..99 and a mode"},
    };
    for (const auto& c : cases) {
        const CueSheet sheet = ParseCueSheet(c.text);
        EXPECT_EQ(sheet.status, CueStatus::Invalid) << c.text;
        EXPECT_EQ(sheet.diagnostics.failure, c.failure) << c.text;
    }
}

TEST(CueSheet, BinaryDataAndTextWithoutTracksAreNoCueSheets) {
    EXPECT_FALSE(LooksLikeCueSheet(std::string("FILE a BINARY\nTRACK 01 AUDIO\n") + '\x01'));
    EXPECT_FALSE(LooksLikeCueSheet("FILE a BINARY\n"));
    EXPECT_FALSE(LooksLikeCueSheet("hello world\n"));
    EXPECT_FALSE(LooksLikeCueSheet(""));
    EXPECT_TRUE(LooksLikeCueSheet("file a binary\ntrack 01 audio\n"));
}

} // namespace
} // namespace sonvex
