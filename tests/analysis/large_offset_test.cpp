// SPDX-License-Identifier: GPL-3.0-or-later
// Items beyond 4 GiB: a synthetic game file of a little over 4 GiB (its bytes made on
// demand, nothing stored) whose first item, a KCET sequence, spans the first 4 GiB, so
// that the scan lands behind it and finds the items placed there.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "analysis/scan_checks.h"
#include "analysis/source_scanner.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "testkit/byte_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;

constexpr int64_t kBlocks = 65536;
constexpr int64_t kBlockLength = 65535;
constexpr int64_t kDataStart = 52 + 2 * kBlocks;                  // first KCET block
constexpr int64_t kKcetEnd = kDataStart + kBlocks * kBlockLength; // 4 GiB + 65588
constexpr int64_t kSeqAt = kKcetEnd + 100;
constexpr int64_t kHeadAt = kKcetEnd + 400;
constexpr int64_t kFileSize = kKcetEnd + 1024;

// The file: a KCET header at 0 whose length table holds 65536 lengths of 65535, blocks
// of zeros each ending in FF FF, then filler bytes 0x11 with a sequence and an "SShd".
class SyntheticFile : public RawFile {
  public:
    SyntheticFile() {
        ByteBuilder head;
        head.text("KCET").fill(4, 0x11).text("TSDB").fill(8, 0x11).text("KDT2").fill(12, 0x11);
        head.text("KDT1").fill(8, 0x11).u32le(static_cast<uint32_t>(kBlocks));
        pieces_[0] = head.take();
        pieces_[52] = Bytes(2 * kBlocks, 0xFF); // 65536 lengths of 65535: FF FF each
        ByteBuilder seq;
        seq.text("pQES").u32be(1).u16be(480).u24be(500000).u8(4).u8(2);
        seq.u8(0x00)
            .u8(0x90)
            .u8(0x40)
            .u8(0x50)
            .u8(0x10)
            .u8(0x40)
            .u8(0x00)
            .u8(0x00)
            .u8(0xFF)
            .u8(0x2F)
            .u8(0x00);
        pieces_[kSeqAt] = seq.take();
        ByteBuilder head2;
        head2.text("SShd").fill(20, 0x22);
        pieces_[kHeadAt] = head2.take();
    }

    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        if (position < 0 || position >= kFileSize) {
            return 0;
        }
        const int64_t n = std::min(length, kFileSize - position);
        auto* out = static_cast<uint8_t*>(destination);
        // Filler behind the KCET blocks, zeros inside them.
        for (int64_t i = 0; i < n;) {
            const int64_t at = position + i;
            const int64_t boundary =
                at < kKcetEnd ? std::min(kKcetEnd, position + n) : position + n;
            std::memset(out + i, at < kKcetEnd ? 0x00 : 0x11, static_cast<size_t>(boundary - at));
            i = boundary - position;
        }
        // The FF FF at the end of every block in range.
        const int64_t from = std::max(position, kDataStart);
        const int64_t to = std::min(position + n, kKcetEnd);
        if (from < to) {
            int64_t block = (from - kDataStart) / kBlockLength;
            for (;; ++block) {
                const int64_t tail = kDataStart + (block + 1) * kBlockLength - 2;
                if (tail >= to) {
                    break;
                }
                for (int64_t t = tail; t < tail + 2; ++t) {
                    if (t >= from && t < to) {
                        out[t - position] = 0xFF;
                    }
                }
            }
        }
        for (const auto& [at, bytes] : pieces_) {
            const int64_t end = at + static_cast<int64_t>(bytes.size());
            const int64_t lo = std::max(at, position);
            const int64_t hi = std::min(end, position + n);
            if (lo < hi) {
                std::memcpy(out + (lo - position), bytes.data() + (lo - at),
                            static_cast<size_t>(hi - lo));
            }
        }
        return n;
    }
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override { return kFileSize; }
    bool Close() override { return true; }

  private:
    std::map<int64_t, Bytes> pieces_;
};

class SyntheticFileSystem : public FileSystem {
  public:
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override {
        if (path != "/big/game.bin" || mode != OpenMode::Read) {
            return nullptr;
        }
        return std::make_unique<SyntheticFile>();
    }
    bool Remove(const std::string&) override { return false; }
    bool Rename(const std::string&, const std::string&) override { return false; }
};

TEST(LargeOffsetTest, ChecksWorkBeyondFourGibibytes) {
    SyntheticFileSystem synthetic;
    ScopedFileSystem guard(synthetic);
    ChunkFile file;
    ASSERT_TRUE(file.OpenRead("/big/game.bin"));
    ASSERT_EQ(file.Size(), kFileSize);
    file.Seek(kSeqAt, SeekOrigin::Begin);
    EXPECT_EQ(CheckSeq(file), CheckResult::Accept);
    EXPECT_EQ(file.Tell(), kSeqAt + 15 + 11);
}

TEST(LargeOffsetTest, EntriesBeyondFourGibibytesKeepTheirHighBytes) {
    MemoryFileSystem memory;
    ChunkFile list;
    {
        ScopedFileSystem guard(memory);
        ASSERT_TRUE(list.Create("/mem/list.clg"));
    }
    SyntheticFileSystem synthetic;
    ChunkFile source;
    {
        ScopedFileSystem guard(synthetic);
        ASSERT_TRUE(source.OpenRead("/big/game.bin"));
    }
    ChunkListFile listFile(list);
    ASSERT_TRUE(WriteHeader(listFile, 0, "/big"));
    GroupCounters counters;
    RecordingFeedback feedback;
    ASSERT_EQ(ScanOpenSource(list, source, "game.bin", counters, feedback), ScanOutcome::Scanned);
    ASSERT_TRUE(PatchCount(listFile, counters.Total()));
    ASSERT_TRUE(list.Close());

    ConvertList parsed;
    ASSERT_EQ(ParseList(memory.Contents("/mem/list.clg"), parsed), ListLoad::Ok);
    ASSERT_EQ(parsed.entries.size(), 3u);
    EXPECT_EQ(parsed.entries[0].type, kTypeKcetSeq);
    EXPECT_EQ(parsed.entries[0].offset, 0u);
    EXPECT_EQ(parsed.entries[1].type, kTypeSeq);
    EXPECT_EQ(parsed.entries[1].number, 1);
    EXPECT_EQ(parsed.entries[1].offset, static_cast<uint64_t>(kSeqAt));
    EXPECT_EQ(parsed.entries[2].type, kTypeGpmHead);
    EXPECT_EQ(parsed.entries[2].offset, static_cast<uint64_t>(kHeadAt));
    // Bytes 12..15 of the second entry hold the high half of its offset: 1.
    const Bytes& bytes = memory.Contents("/mem/list.clg");
    const size_t second = 5 + 5 + (17 + 9);
    ASSERT_GT(bytes.size(), second + 16);
    EXPECT_EQ(bytes[second + 12], 1);
    EXPECT_EQ(bytes[second + 13], 0);

    // Progress behind the KCET item is already 99% of a file above 4 GiB.
    const std::vector<int> progress = feedback.ProgressValues();
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress[1], 99);
    EXPECT_EQ(progress.back(), 100);
}

} // namespace
} // namespace sonvex
