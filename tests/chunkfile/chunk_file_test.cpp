// SPDX-License-Identifier: GPL-3.0-or-later
// The chunked file: buffered reads and writes across the 64 KiB window, seeks, RIFF
// chunk creation with size fix-up and pad byte, and descent to named chunks.
#include "chunkfile/chunk_file.h"

#include <gtest/gtest.h>

#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;

class ChunkFileTest : public ::testing::Test {
  protected:
    MemoryFileSystem fs;
    ScopedFileSystem guard{fs};
};

TEST_F(ChunkFileTest, OpenReadFailsForMissingFileAndCreateReplaces) {
    ChunkFile f;
    EXPECT_FALSE(f.OpenRead("missing"));
    fs.Put("a", Bytes{1, 2, 3, 4, 5});
    ASSERT_TRUE(f.Create("a"));
    f.WriteU8(9);
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(fs.Contents("a"), Bytes{9});
}

TEST_F(ChunkFileTest, ReadsAcrossBufferWindowsAndStopsShortAtEnd) {
    Bytes data = ByteBuilder().noise(200000, 7).take();
    fs.Put("big", data);
    ChunkFile f;
    ASSERT_TRUE(f.OpenRead("big"));
    Bytes got(data.size() + 10);
    // Odd-sized reads so that reads straddle the window boundaries.
    int64_t total = 0;
    while (true) {
        int64_t n = f.Read(got.data() + total, 4099);
        total += n;
        if (n < 4099) {
            break;
        }
    }
    EXPECT_EQ(total, static_cast<int64_t>(data.size()));
    got.resize(static_cast<size_t>(total));
    EXPECT_EQ(got, data);
    EXPECT_EQ(f.Read(got.data(), 1), 0);
}

TEST_F(ChunkFileTest, WritesAcrossWindowsSeeksBackAndPatches) {
    ChunkFile f;
    ASSERT_TRUE(f.Create("out"));
    Bytes data = ByteBuilder().noise(150000, 3).take();
    ASSERT_EQ(f.Write(data.data(), static_cast<int64_t>(data.size())),
              static_cast<int64_t>(data.size()));
    // Patch a value near the start, long after that window was left.
    ASSERT_EQ(f.Seek(10, SeekOrigin::Begin), 10);
    ASSERT_TRUE(f.WriteU32le(0xA1B2C3D4));
    EXPECT_EQ(f.Seek(0, SeekOrigin::End), 150000);
    EXPECT_EQ(f.Seek(-4, SeekOrigin::Current), 149996);
    EXPECT_EQ(f.Seek(-1, SeekOrigin::Begin), -1);
    ASSERT_TRUE(f.Close());
    data[10] = 0xD4;
    data[11] = 0xC3;
    data[12] = 0xB2;
    data[13] = 0xA1;
    EXPECT_EQ(fs.Contents("out"), data);
}

TEST_F(ChunkFileTest, ReadBackWhatWasWrittenBeforeClosing) {
    ChunkFile f;
    ASSERT_TRUE(f.Create("rw"));
    f.WriteU32le(0x11223344);
    f.Seek(0, SeekOrigin::Begin);
    uint8_t b[4] = {};
    ASSERT_EQ(f.Read(b, 4), 4);
    EXPECT_EQ(b[0], 0x44);
    EXPECT_EQ(b[3], 0x11);
}

TEST_F(ChunkFileTest, SeekPastEndThenWriteLeavesZeroGap) {
    ChunkFile f;
    ASSERT_TRUE(f.Create("gap"));
    f.WriteU8(1);
    f.Seek(5, SeekOrigin::Begin);
    f.WriteU8(2);
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(fs.Contents("gap"), (Bytes{1, 0, 0, 0, 0, 2}));
}

TEST_F(ChunkFileTest, NestedChunksGetSizesAndOddPadByte) {
    ChunkFile f;
    ASSERT_TRUE(f.Create("riff"));
    ChunkInfo riff;
    ChunkInfo list;
    ChunkInfo odd;
    ChunkInfo even;
    ASSERT_TRUE(f.CreateRiff(riff, FourCC("DLS ")));
    ASSERT_TRUE(f.CreateList(list, FourCC("lins")));
    ASSERT_TRUE(f.CreateChunk(odd, FourCC("abcd")));
    f.WriteU8(0x55);
    f.WriteU8(0x66);
    f.WriteU8(0x77);
    ASSERT_TRUE(f.Ascend(odd));
    EXPECT_EQ(odd.size, 3u);
    ASSERT_TRUE(f.CreateChunk(even, FourCC("efgh")));
    f.WriteU16le(0x0102);
    ASSERT_TRUE(f.Ascend(even));
    ASSERT_TRUE(f.Ascend(list));
    ASSERT_TRUE(f.Ascend(riff));
    ASSERT_TRUE(f.Close());

    Bytes expected = ByteBuilder()
                         .text("RIFF")
                         .u32le(4 + 12 + 8 + 4 + 8 + 2)
                         .text("DLS ")
                         .text("LIST")
                         .u32le(4 + 8 + 4 + 8 + 2)
                         .text("lins")
                         .text("abcd")
                         .u32le(3)
                         .u8(0x55)
                         .u8(0x66)
                         .u8(0x77)
                         .u8(0)
                         .text("efgh")
                         .u32le(2)
                         .u16le(0x0102)
                         .take();
    EXPECT_EQ(fs.Contents("riff"), expected);
}

TEST_F(ChunkFileTest, DescendFindsChunksListsAndFormsWithinParent) {
    Bytes file = ByteBuilder()
                     .text("RIFF")
                     .u32le(4 + 10 + 20 + 10)
                     .text("DLS ")
                     .text("colh")
                     .u32le(1)
                     .u8(0xAA)
                     .u8(0) // odd chunk with pad byte
                     .text("LIST")
                     .u32le(4 + 8)
                     .text("lins")
                     .text("ins ")
                     .u32le(0)
                     .text("vers")
                     .u32le(2)
                     .u16le(7)
                     .text("tail")
                     .u32le(0) // outside the RIFF
                     .take();
    fs.Put("in", file);
    ChunkFile f;
    ASSERT_TRUE(f.OpenRead("in"));
    ChunkInfo riff;
    ASSERT_TRUE(f.Descend(riff, nullptr, DescendMode::FindRiff, FourCC("DLS ")));
    EXPECT_EQ(f.Tell(), 12);
    ChunkInfo vers;
    ASSERT_TRUE(f.Descend(vers, &riff, DescendMode::FindChunk, FourCC("vers")));
    EXPECT_EQ(vers.size, 2u);
    uint8_t v[2];
    ASSERT_EQ(f.Read(v, 2), 2);
    EXPECT_EQ(v[0], 7);
    ASSERT_TRUE(f.Ascend(vers));

    // A chunk that lies behind the parent's end is not found within it.
    f.Seek(12, SeekOrigin::Begin);
    ChunkInfo tail;
    EXPECT_FALSE(f.Descend(tail, &riff, DescendMode::FindChunk, FourCC("tail")));

    f.Seek(12, SeekOrigin::Begin);
    ChunkInfo lins;
    ASSERT_TRUE(f.Descend(lins, &riff, DescendMode::FindList, FourCC("lins")));
    EXPECT_EQ(lins.formType, FourCC("lins"));
    EXPECT_EQ(f.Tell(), lins.dataOffset + 4);
    ChunkInfo ins;
    ASSERT_TRUE(f.Descend(ins, &lins, DescendMode::Next));
    EXPECT_EQ(ins.id, FourCC("ins "));
    EXPECT_EQ(ins.size, 0u);
}

TEST_F(ChunkFileTest, DescendStopsOnTruncatedHeaders) {
    fs.Put("short", ByteBuilder().text("RIFF").u32le(100).text("DL").take());
    ChunkFile f;
    ASSERT_TRUE(f.OpenRead("short"));
    ChunkInfo riff;
    EXPECT_FALSE(f.Descend(riff, nullptr, DescendMode::FindRiff, FourCC("DLS ")));
}

// Reads inside lent bytes come from them (here they differ from the file, to tell the
// two apart), reads past them from the file, a read across the edge from both; a new loan
// replaces the last, an empty one ends it, and a file opened for writing takes none.
TEST_F(ChunkFileTest, ReadsTakeLentBytesAndTheFileBeyondThem) {
    const Bytes data = ByteBuilder().noise(100000, 3).take();
    fs.Put("game", data);
    Bytes held(data.begin() + 1000, data.begin() + 3000);
    for (uint8_t& b : held) {
        b = static_cast<uint8_t>(b ^ 0xFF);
    }
    ChunkFile f;
    ASSERT_TRUE(f.OpenRead("game"));
    f.LendBytes(1000, held.data(), static_cast<int64_t>(held.size()));
    Bytes got(3000);
    f.Seek(500, SeekOrigin::Begin);
    ASSERT_EQ(f.Read(got.data(), 3000), 3000);
    for (size_t i = 0; i < got.size(); ++i) {
        const size_t at = 500 + i;
        const bool lent = at >= 1000 && at < 3000;
        ASSERT_EQ(got[i], lent ? held[at - 1000] : data[at]) << "at " << at;
    }
    EXPECT_EQ(f.Tell(), 3500);

    f.LendBytes(0, nullptr, 0);
    f.Seek(1500, SeekOrigin::Begin);
    uint8_t one = 0;
    ASSERT_EQ(f.Read(&one, 1), 1);
    EXPECT_EQ(one, data[1500]);

    ChunkFile out;
    ASSERT_TRUE(out.Create("out"));
    out.LendBytes(0, held.data(), static_cast<int64_t>(held.size()));
    ASSERT_TRUE(out.WriteU8(7));
    out.Seek(0, SeekOrigin::Begin);
    ASSERT_EQ(out.Read(&one, 1), 1);
    EXPECT_EQ(one, 7);
}

TEST_F(ChunkFileTest, DeleteAndRenameGoThroughTheFileSystem) {
    fs.Put("x", Bytes{1});
    EXPECT_TRUE(ChunkFile::Rename("x", "y"));
    EXPECT_FALSE(fs.Exists("x"));
    EXPECT_TRUE(ChunkFile::Delete("y"));
    EXPECT_FALSE(fs.Exists("y"));
    EXPECT_FALSE(ChunkFile::Delete("y"));
}

} // namespace
} // namespace sonvex
