// SPDX-License-Identifier: GPL-3.0-or-later
// Failures must reach the caller: the fault-injecting file system, and real files.
#include "chunkfile/chunk_file.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "chunkfile/file_mapping.h"
#include "chunkfile/read_ahead_file.h"
#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;

// A file in memory that records where it was read and fails the test when two threads read
// it at once.
class WatchedFile : public RawFile {
  public:
    explicit WatchedFile(Bytes bytes) : bytes_(std::move(bytes)) {}
    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        EXPECT_EQ(readers_.fetch_add(1), 0) << "two reads at once";
        int64_t got = 0;
        if (position < static_cast<int64_t>(bytes_.size()) && length > 0) {
            got = std::min<int64_t>(length, static_cast<int64_t>(bytes_.size()) - position);
            std::copy_n(bytes_.begin() + position, got, static_cast<uint8_t*>(destination));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reads_.emplace_back(position, length);
        }
        readers_.fetch_sub(1);
        return got;
    }
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
    bool Close() override { return true; }
    std::vector<std::pair<int64_t, int64_t>> reads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reads_;
    }

  private:
    Bytes bytes_;
    std::atomic<int> readers_{0};
    std::mutex mutex_;
    std::vector<std::pair<int64_t, int64_t>> reads_;
};

TEST(ReadAhead, ReadsGiveTheFilesBytesWhateverTheOrder) {
    Bytes bytes(100000);
    std::mt19937 rng(7);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    auto inner = std::make_unique<WatchedFile>(bytes);
    WatchedFile* watched = inner.get();
    ReadAheadFile file(std::move(inner), 1000);
    // Blocks front to back, blocks moved back into the last one, jumps away and back, reads
    // that the end of the file cuts short, and reads past it.
    const std::pair<int64_t, int64_t> reads[] = {
        {0, 8192},     {8192, 8192},  {15500, 8192}, {23692, 8192},  {50000, 8192},
        {10, 100},     {58192, 8192}, {66000, 8192}, {74192, 30000}, {90000, 20000},
        {99999, 8192}, {100000, 10},  {120000, 5},   {0, 0},
    };
    for (const auto& [position, length] : reads) {
        Bytes got(static_cast<size_t>(std::max<int64_t>(length, 1)), 0xEE);
        const int64_t expected =
            std::clamp<int64_t>(static_cast<int64_t>(bytes.size()) - position, 0, length);
        ASSERT_EQ(file.ReadAt(position, got.data(), length), expected) << position;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + expected, bytes.begin() + position))
            << position;
    }
    EXPECT_EQ(file.Size(), 100000);
    EXPECT_TRUE(file.Close());
    // The block after the first was read ahead, starting the step back before its end.
    const auto seen = watched->reads();
    ASSERT_GE(seen.size(), 2U);
    EXPECT_EQ(seen[1], std::make_pair(int64_t{7192}, int64_t{9192}));
    // The second and third reads were served from what was read ahead: the file was read
    // at 8192 or 15500 by no one.
    for (const auto& read : seen) {
        EXPECT_NE(read.first, 8192);
        EXPECT_NE(read.first, 15500);
    }
}

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

// A mapped file gives the bytes the file holds; pages it loses by being cut short while
// mapped read as zeros instead of stopping the process with a bus error, and the
// mapping says so. Files opened for writing, and empty files, are not mapped.
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
    EXPECT_FALSE(mapping->LostPages());

    ASSERT_EQ(::truncate((dir / "game.bin").c_str(), 1000), 0);
    // The first page still has the file behind it; a page well past the new end does not.
    EXPECT_EQ(mapping->data()[999], data[999]);
    EXPECT_EQ(mapping->data()[250000], 0);
    EXPECT_EQ(mapping->data()[data.size() - 1], 0);
    EXPECT_TRUE(mapping->LostPages());
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
