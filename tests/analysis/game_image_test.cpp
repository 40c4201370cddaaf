// SPDX-License-Identifier: GPL-3.0-or-later
// The game-image composer is the oracle of the end-to-end tests, so its own promises are
// tested: it refuses layouts whose scan it cannot predict, and its expected list has the
// list file's bytes.
#include <gtest/gtest.h>

#include "analysis_test_support.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"

namespace sonvex {
namespace {

using testing::SameBytes;
using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::GameImage;

TEST(GameImageTest, VerifyNamesLayoutsTheScanWouldReadDifferently) {
    {
        GameImage image;
        image.Noise(10).Raw({'x', 'S', 'S', 'h', 'd'}).Noise(20);
        EXPECT_NE(image.Verify().find("stray signature at 0x0000000B"), std::string::npos)
            << image.Verify();
    }
    {
        // Sixteen zeros and a sample start right behind a bank body continue it.
        GameImage image;
        ByteBuilder next;
        next.fill(16).u8(0x12).u8(2).fill(14, 0x40).fill(20, 0x99);
        image.Noise(4).Vb(1, 2).Raw(next.bytes());
        EXPECT_NE(image.Verify().find("runs on"), std::string::npos) << image.Verify();
    }
    {
        // The next id behind a numbered set continues it.
        GameImage image;
        image.SeqSet(2).Raw({0x00, 0x02}).Noise(20);
        EXPECT_NE(image.Verify().find("runs on"), std::string::npos) << image.Verify();
    }
    {
        GameImage image;
        image.Noise(5).GpmHead(4);
        EXPECT_NE(image.Verify().find("last 15 bytes"), std::string::npos) << image.Verify();
    }
    {
        GameImage image(3);
        image.Noise(20).Seq().Zeros(40).Vb().Noise(9).Vh().Kcet().GpmSeq().SceiHead().Noise(16);
        EXPECT_EQ(image.Verify(), "");
    }
}

TEST(GameImageTest, ExpectedListHasTheListFileLayout) {
    GameImage a(1);
    a.SceiMidi(12);
    GameImage b(2);
    b.Noise(2).SceiHead(12).SceiMidi(12);
    ByteBuilder expected;
    expected.u32le(3).u8(3).text("/g").u8(0);
    expected.u8(0x64).u8(0x69).u8(0x4D).u8(0x53).u32le(0).u64le(0).u8(2).text("a").u8(0);
    expected.u8(0x62).u8(0x61).u8(0x56).u8(0x53).u32le(0).u64le(2).u8(2).text("b").u8(0);
    expected.u8(0x64).u8(0x69).u8(0x4D).u8(0x53).u32le(1).u64le(22).u8(2).text("b").u8(0);
    EXPECT_TRUE(
        SameBytes(testkit::ExpectedConvertList("/g", {{"a", &a}, {"b", &b}}), expected.bytes()));
}

TEST(GameImageTest, ListFolderOfAPath) {
    EXPECT_EQ(testkit::ListFolderOf("/a/b/c.bin"), "/a/b");
    EXPECT_EQ(testkit::ListFolderOf("/c.bin"), "/");
    EXPECT_EQ(testkit::ListFolderOf("c.bin"), "");
}

} // namespace
} // namespace sonvex
