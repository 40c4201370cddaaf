// SPDX-License-Identifier: GPL-3.0-or-later
// The shared RIFF walk and bounded whole-file reads, fault by fault.
#include "formats/riff.h"

#include <gtest/gtest.h>

#include <vector>

#include "chunkfile/file_system.h"
#include "formats/file_bytes.h"
#include "testkit/byte_builder.h"
#include "testkit/dls_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::RiffNode;

struct Walked {
    std::vector<RiffChunk> chunks;
    Diagnostics diagnostics;
};

// Every chunk of the top level of `bytes`, and what the walk had to say.
Walked WalkTop(const Bytes& bytes, RiffWalker::Tail tail = RiffWalker::Tail::Note) {
    Walked out;
    RiffWalker walker(bytes, out.diagnostics, tail);
    ByteCursor top = walker.File();
    RiffChunk chunk;
    while (walker.Next(top, chunk)) {
        out.chunks.push_back(chunk);
    }
    return out;
}

TEST(RiffWalker, NestedListsGiveTypeOffsetAndBoundedData) {
    const Bytes file =
        RiffNode::Riff("TEST", {RiffNode::Chunk("abcd", {1, 2, 3}),
                                RiffNode::List("lst ", {RiffNode::Chunk("efgh", {9})})})
            .Encode();
    Diagnostics diagnostics;
    RiffWalker walker(file, diagnostics);
    ByteCursor top = walker.File();
    RiffChunk form;
    ASSERT_TRUE(walker.Next(top, form));
    EXPECT_TRUE(form.IsForm(FourCC("TEST")));
    EXPECT_FALSE(walker.Next(top, form));

    RiffChunk odd;
    RiffChunk list;
    ASSERT_TRUE(walker.Next(form.data, odd));
    // Three data bytes and a pad: the list header starts at 12 + 8 + 4.
    ASSERT_TRUE(walker.Next(form.data, list));
    EXPECT_EQ(odd.id, FourCC("abcd"));
    EXPECT_EQ(odd.offset, 12);
    EXPECT_EQ(odd.data.size(), 3u);
    EXPECT_EQ(list.offset, 24);
    EXPECT_TRUE(list.IsList(FourCC("lst ")));
    EXPECT_EQ(walker.OffsetOf(list.data), 36);

    RiffChunk inner;
    ASSERT_TRUE(walker.Next(list.data, inner));
    EXPECT_EQ(inner.offset, 36);
    EXPECT_EQ(inner.data.u8(), 9);
    EXPECT_FALSE(walker.Next(list.data, inner));
    EXPECT_FALSE(diagnostics.failed());
    EXPECT_TRUE(diagnostics.notes.empty());
}

TEST(RiffWalker, SizePastTheParentFailsNamingChunkAndOffset) {
    const Bytes file = ByteBuilder()
                           .u32le(FourCC("good"))
                           .u32le(2)
                           .u16le(7)
                           .u32le(FourCC("bad!"))
                           .u32le(100)
                           .u32le(0)
                           .bytes();
    const Walked w = WalkTop(file);
    ASSERT_EQ(w.chunks.size(), 1u);
    EXPECT_EQ(w.diagnostics.failure,
              "chunk \"bad!\" at 0x0000000A: size 100 runs past its parent (4 bytes left)");
}

TEST(RiffWalker, OddSizeSkipsItsPadOnlyWhenThereIsOne) {
    // A last odd chunk without its pad byte is still whole.
    const Bytes unpadded = ByteBuilder().u32le(FourCC("one ")).u32le(1).u8(5).bytes();
    Walked w = WalkTop(unpadded);
    ASSERT_EQ(w.chunks.size(), 1u);
    EXPECT_FALSE(w.diagnostics.failed());

    // With the pad, the next chunk starts on the even offset.
    const Bytes padded = ByteBuilder()
                             .u32le(FourCC("one "))
                             .u32le(1)
                             .u8(5)
                             .u8(0)
                             .u32le(FourCC("two "))
                             .u32le(0)
                             .bytes();
    w = WalkTop(padded);
    ASSERT_EQ(w.chunks.size(), 2u);
    EXPECT_EQ(w.chunks[1].offset, 10);
    EXPECT_EQ(w.chunks[1].id, FourCC("two "));
}

TEST(RiffWalker, TruncatedHeadersAreNotedOrFailedAsTheReaderAsks) {
    const Bytes stray = ByteBuilder().u32le(FourCC("abcd")).u32le(0).u8(1).u8(2).u8(3).bytes();
    const Walked lenient = WalkTop(stray);
    EXPECT_EQ(lenient.chunks.size(), 1u);
    EXPECT_FALSE(lenient.diagnostics.failed());
    ASSERT_EQ(lenient.diagnostics.notes.size(), 1u);
    EXPECT_EQ(lenient.diagnostics.notes[0], "chunk at 0x00000008: trailing 3 byte(s) ignored");

    const Walked strict = WalkTop(stray, RiffWalker::Tail::Fail);
    EXPECT_EQ(strict.diagnostics.failure, "chunk header at 0x00000008: cut short: 3 byte(s) left");

    // A list whose size leaves no room for its type.
    const Bytes list = ByteBuilder().u32le(kListId).u32le(2).u16le(0).bytes();
    EXPECT_EQ(WalkTop(list).diagnostics.failure, "list at 0x00000000: size 2 has no list type");
}

TEST(FileBytes, RefusesFilesAboveTheLimitBeforeReading) {
    MemoryFileSystem memory;
    ScopedFileSystem guard(memory);
    memory.Put("/f.bin", Bytes(10, 0xAB));
    const FileBytes whole = ReadFileBytes("/f.bin", 10);
    EXPECT_EQ(whole.status, FileReadStatus::Ok);
    EXPECT_EQ(whole.bytes, Bytes(10, 0xAB));
    const FileBytes refused = ReadFileBytes("/f.bin", 9);
    EXPECT_EQ(refused.status, FileReadStatus::TooLarge);
    EXPECT_TRUE(refused.bytes.empty());
    EXPECT_EQ(refused.error, "/f.bin: size 10 cannot be read");
    EXPECT_EQ(ReadFileBytes("/none.bin").status, FileReadStatus::OpenFailed);
}

} // namespace
} // namespace sonvex
