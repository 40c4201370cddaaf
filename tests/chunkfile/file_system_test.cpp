// SPDX-License-Identifier: GPL-3.0-or-later
// Failures must reach the caller: the fault-injecting file system, and real files.
#include "chunkfile/chunk_file.h"

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include <unistd.h>

#include "chunkfile/file_mapping.h"
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

// A mapped file gives the bytes the file holds, also after pages of it were let go;
// pages it loses by being cut short while mapped read as zeros instead of stopping the
// process with a bus error, and the mapping says so. Files opened for writing, and empty
// files, are not mapped.
TEST(PosixFiles, MappingShowsTheFileAndSurvivesItsTruncation) {
    testkit::TempFolder dir;
    const Bytes data = testkit::ByteBuilder().noise(300000, 5).take();
    ASSERT_TRUE(testkit::WriteFile(dir / "game.bin", data));
    PosixFileSystem files;
    const std::unique_ptr<RawFile> file = files.Open(dir / "game.bin", OpenMode::Read);
    ASSERT_TRUE(file != nullptr);
    const FileMapping* mapping = file->Map();
    ASSERT_TRUE(mapping != nullptr);
    ASSERT_EQ(mapping->size(), static_cast<int64_t>(data.size()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), mapping->data()));
    mapping->Release(1000, 200000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), mapping->data()));
    EXPECT_FALSE(mapping->LostPages());

    ASSERT_EQ(::truncate((dir / "game.bin").c_str(), 1000), 0);
    // Making the pages ready touches them: past the new end that must not stop the process.
    mapping->Prepare(0, mapping->size());
    // The first page still has the file behind it; a page well past the new end does not.
    EXPECT_EQ(mapping->data()[999], data[999]);
    EXPECT_EQ(mapping->data()[250000], 0);
    EXPECT_EQ(mapping->data()[data.size() - 1], 0);
    EXPECT_TRUE(mapping->LostPages());
    mapping->Release(0, mapping->size());
    EXPECT_EQ(mapping->data()[999], data[999]);
    EXPECT_EQ(mapping->data()[250000], 0);
    EXPECT_TRUE(file->Close());

    ASSERT_TRUE(testkit::WriteFile(dir / "empty.bin", Bytes{}));
    const std::unique_ptr<RawFile> empty = files.Open(dir / "empty.bin", OpenMode::Read);
    ASSERT_TRUE(empty != nullptr);
    EXPECT_EQ(empty->Map(), nullptr);
    const std::unique_ptr<RawFile> written = files.Open(dir / "new.bin", OpenMode::CreateReadWrite);
    ASSERT_TRUE(written != nullptr);
    ASSERT_EQ(written->WriteAt(0, data.data(), 5000), 5000);
    EXPECT_EQ(written->Map(), nullptr);
}

} // namespace
} // namespace sonvex
