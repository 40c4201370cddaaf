// SPDX-License-Identifier: GPL-3.0-or-later
// Failures must reach the caller: the fault-injecting file system, and real files.
#include "chunkfile/chunk_file.h"

#include <gtest/gtest.h>

#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;

TEST(FaultInjection, CreateAndRenameFailuresAreReported) {
    MemoryFileSystem memory;
    FaultInjectingFileSystem faulty(memory);
    ScopedFileSystem guard(faulty);
    faulty.FailCreate(true);
    ChunkFile f;
    EXPECT_FALSE(f.Create("a"));
    EXPECT_FALSE(memory.Exists("a"));
    faulty.FailCreate(false);
    ASSERT_TRUE(f.Create("a"));
    ASSERT_TRUE(f.Close());
    faulty.FailRename(true);
    EXPECT_FALSE(ChunkFile::Rename("a", "b"));
    EXPECT_TRUE(memory.Exists("a"));
    faulty.FailOpenRead(true);
    EXPECT_FALSE(f.OpenRead("a"));
}

TEST(FaultInjection, WriteFailureIsStickyAndCloseReportsIt) {
    MemoryFileSystem memory;
    FaultInjectingFileSystem faulty(memory);
    ScopedFileSystem guard(faulty);
    faulty.FailWritesAfter(100);
    ChunkFile f;
    ASSERT_TRUE(f.Create("a"));
    Bytes data(70000, 0x5A);
    // The buffer accepts the bytes; the failure shows once they reach the file.
    f.Write(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_TRUE(f.WriteFailed());
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(memory.Contents("a").size(), 100u);
}

TEST(FaultInjection, FailureAtCloseOnSmallFile) {
    MemoryFileSystem memory;
    FaultInjectingFileSystem faulty(memory);
    ScopedFileSystem guard(faulty);
    faulty.FailWritesAfter(3);
    ChunkFile f;
    ASSERT_TRUE(f.Create("a"));
    EXPECT_TRUE(f.WriteU32le(1)); // still in the buffer
    EXPECT_FALSE(f.WriteFailed());
    EXPECT_FALSE(f.Close());
}

TEST(PosixFiles, RoundTripAndRefuseDirectories) {
    testkit::TempFolder dir;
    ChunkFile f;
    EXPECT_FALSE(f.OpenRead(dir.path()));
    EXPECT_FALSE(f.Create(dir / "no/such/folder/file"));
    ASSERT_TRUE(f.Create(dir / "file"));
    ChunkInfo c;
    f.CreateChunk(c, FourCC("abcd"));
    f.WriteU8(1);
    f.Ascend(c);
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(testkit::ReadFile(dir / "file"), (Bytes{'a', 'b', 'c', 'd', 1, 0, 0, 0, 1, 0}));
    EXPECT_TRUE(ChunkFile::Rename(dir / "file", dir / "renamed"));
    EXPECT_TRUE(f.OpenRead(dir / "renamed"));
    EXPECT_EQ(f.Size(), 10);
}

} // namespace
} // namespace sonvex
