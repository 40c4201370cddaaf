// SPDX-License-Identifier: GPL-3.0-or-later
// The convert list: type names, the writers' exact bytes, streaming reads cut short at
// every position, stepping back, the counted read of damaged lists and derived sizes.
#include "convlist/convert_list.h"

#include <gtest/gtest.h>

#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "testkit/convert_list_builder.h"

namespace sonvex {
namespace {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::ConvertListBuilder;
using testkit::DescribeDifference;
using testkit::MemoryListFile;

constexpr uint64_t k2G = 0x80000000ull;
constexpr uint64_t k4G = 0x100000000ull;

// The eight rows of the type table: the four bytes as they stand in the file, and the name.
struct TypeRow {
    uint8_t bytes[4];
    const char* name;
};
constexpr TypeRow kTypeRows[] = {
    {{0x53, 0x45, 0x51, 0x00}, "SEQ"},      {{0x56, 0x48, 0x00, 0x00}, "VH"},
    {{0x56, 0x42, 0x00, 0x00}, "VB"},       {{0x51, 0x53, 0x44, 0x53}, "KCETSeq"},
    {{0x64, 0x69, 0x4D, 0x53}, "SCEIMidi"}, {{0x62, 0x61, 0x56, 0x53}, "SCEIHead"},
    {{0x71, 0x73, 0x53, 0x53}, "GPMseq"},   {{0x64, 0x68, 0x53, 0x53}, "GPMhead"},
};

TEST(TypeNames, EveryRowMapsBothWaysAndOnlyExactNamesMatch) {
    for (const auto& row : kTypeRows) {
        const uint32_t code = row.bytes[0] | (row.bytes[1] << 8) | (row.bytes[2] << 16) |
                              (static_cast<uint32_t>(row.bytes[3]) << 24);
        ASSERT_NE(TypeName(code), nullptr) << row.name;
        EXPECT_STREQ(TypeName(code), row.name);
        EXPECT_EQ(TypeFromName(row.name), code) << row.name;
    }
    for (const char* near :
         {"seq", "Seq", "vh", "GPMSeq", "KCETseq", "SEQ ", " VB", "", "Unknown"}) {
        EXPECT_FALSE(TypeFromName(near).has_value()) << '"' << near << '"';
    }
    EXPECT_EQ(TypeName(0), nullptr);
    EXPECT_EQ(TypeName(0x00514554), nullptr);
}

// The header and entries of the table, laid out by hand.
Bytes ExpectedHeader(uint32_t count, std::string_view folder) {
    return ByteBuilder()
        .u32le(count)
        .u8(static_cast<uint32_t>(folder.size() + 1))
        .text(folder)
        .u8(0)
        .take();
}
ByteBuilder& ExpectedEntry(ByteBuilder& b, uint32_t type, uint32_t number, uint64_t offset,
                           std::string_view name) {
    return b.u32le(type)
        .u32le(number)
        .u64le(offset)
        .u8(static_cast<uint32_t>(name.size() + 1))
        .text(name)
        .u8(0);
}

TEST(ListWriters, HeaderAndEntriesHaveTheTableBytes) {
    const std::string longName(254, 'n');
    MemoryListFile file;
    ASSERT_TRUE(WriteHeader(file, 5, "/home/ゲーム"));
    ASSERT_TRUE(WriteEntry(file, kTypeSeq, 0, 0x1234, "game.bin"));
    ASSERT_TRUE(WriteEntry(file, kTypeVh, -2, k2G + 7, "ｹﾞｰﾑ.bin"));
    ASSERT_TRUE(WriteEntry(file, kTypeVb, 0x7FFFFFFF, k4G + 0x10, longName));
    ASSERT_TRUE(WriteEntry(file, kTypeGpmSeq, 1, 0xFFFFFFFFull, ""));
    ASSERT_TRUE(WriteHeader(file, 0, "")); // an empty string still stores its NUL

    ByteBuilder expected;
    expected.append(ExpectedHeader(5, "/home/ゲーム"));
    ExpectedEntry(expected, kTypeSeq, 0, 0x1234, "game.bin");
    ExpectedEntry(expected, kTypeVh, 0xFFFFFFFE, k2G + 7, "ｹﾞｰﾑ.bin");
    ExpectedEntry(expected, kTypeVb, 0x7FFFFFFF, k4G + 0x10, longName);
    ExpectedEntry(expected, kTypeGpmSeq, 1, 0xFFFFFFFFull, "");
    expected.append(Bytes{0, 0, 0, 0, 1, 0});
    EXPECT_EQ(DescribeDifference(file.bytes(), expected.bytes()), "");

    // Below 4 GiB bytes 12..15 of an entry are zero; the 254-character name's length byte is 255.
    const size_t first = 5 + std::string("/home/ゲーム").size() + 1;
    for (size_t i = 12; i < 16; ++i) {
        EXPECT_EQ(file.bytes()[first + i], 0) << i;
    }
}

TEST(ListWriters, OverlongStringsKeepTheLengthByteAndTheFieldsBehindThem) {
    // 255 characters give length byte 0, 300 give 45: exactly that many bytes are stored
    // (leading characters and a NUL), so the next entry still starts where the byte says.
    MemoryListFile file;
    ASSERT_TRUE(WriteHeader(file, 3, std::string(300, 'f')));
    ASSERT_TRUE(WriteEntry(file, kTypeSeq, 0, 1, std::string(255, 'a')));
    ASSERT_TRUE(WriteEntry(file, kTypeSeq, 1, 2, std::string(300, 'b')));
    ASSERT_TRUE(WriteEntry(file, kTypeVh, 0, 3, "next.bin"));
    EXPECT_EQ(file.bytes()[4], 45);

    ConvertList list;
    ASSERT_EQ(ParseList(file.bytes(), list), ListLoad::Ok);
    EXPECT_EQ(list.sourceFolder, std::string(44, 'f'));
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0].nameLength, 0);
    EXPECT_EQ(list.entries[0].fileName, "");
    EXPECT_EQ(list.entries[1].nameLength, 45);
    EXPECT_EQ(list.entries[1].fileName, std::string(44, 'b'));
    EXPECT_EQ(list.entries[2].fileName, "next.bin");
    EXPECT_EQ(list.entries[2].offset, 3u);
}

TEST(ListWriters, ShortWritesAreReported) {
    const size_t fullLength = 5 + 3 + 17 + 9; // header "/gm", entry "game.bin"
    for (size_t limit = 0; limit < fullLength; ++limit) {
        MemoryListFile file;
        file.limitWrites(limit);
        const bool ok = WriteHeader(file, 1, "/gm") && WriteEntry(file, kTypeSeq, 0, 0, "game.bin");
        EXPECT_FALSE(ok) << "limit " << limit;
    }
}

TEST(ListStreaming, RoundTripReadsEveryFieldBack) {
    const std::string longName(254, 'x');
    MemoryListFile file;
    ASSERT_TRUE(WriteHeader(file, 0, "/"));
    ASSERT_TRUE(WriteEntry(file, kTypeSeq, 0, 0x800, "a.bin"));
    ASSERT_TRUE(WriteEntry(file, kTypeKcetSeq, -1, k2G, longName));
    ASSERT_TRUE(WriteEntry(file, kTypeGpmHead, 3, k4G + 1, "日本語.img"));
    ASSERT_TRUE(PatchCount(file, 3));
    EXPECT_EQ(file.position(), 4u);

    ASSERT_TRUE(file.SeekFromStart(0));
    ConvertList header;
    ASSERT_EQ(ReadHeader(file, header), HeaderRead::Ok);
    EXPECT_EQ(header.count, 3u);
    EXPECT_EQ(header.pathLength, 2);
    EXPECT_EQ(header.sourceFolder, "/");
    ListEntry e;
    ASSERT_TRUE(ReadEntry(file, e));
    EXPECT_EQ(e.type, kTypeSeq);
    EXPECT_EQ(e.offset, 0x800u);
    ASSERT_TRUE(ReadEntry(file, e));
    EXPECT_EQ(e.type, kTypeKcetSeq);
    EXPECT_EQ(e.number, -1);
    EXPECT_EQ(e.offset, k2G);
    EXPECT_EQ(e.nameLength, 255);
    EXPECT_EQ(e.fileName, longName);
    EXPECT_EQ(e.StoredLength(), 17 + 255);
    ASSERT_TRUE(ReadEntry(file, e));
    EXPECT_EQ(e.number, 3);
    EXPECT_EQ(e.offset, k4G + 1);
    EXPECT_EQ(e.fileName, "日本語.img");
    EXPECT_FALSE(ReadEntry(file, e));
}

TEST(ListStreaming, UnreadEntryReturnsTheSameEntryAgain) {
    const Bytes bytes = ConvertListBuilder()
                            .entry(kTypeVh, 0, 0x10, "first.bin")
                            .entry(kTypeVb, 0, 0x20, std::string(254, 'q'))
                            .build();
    MemoryListFile file(bytes);
    ConvertList header;
    ASSERT_EQ(ReadHeader(file, header), HeaderRead::Ok);
    ListEntry first;
    ListEntry second;
    ListEntry again;
    ASSERT_TRUE(ReadEntry(file, first));
    ASSERT_TRUE(ReadEntry(file, second));
    ASSERT_TRUE(UnreadEntry(file, second));
    ASSERT_TRUE(ReadEntry(file, again));
    EXPECT_EQ(again.type, kTypeVb);
    EXPECT_EQ(again.fileName, second.fileName);
    EXPECT_EQ(file.position(), bytes.size());
    ASSERT_TRUE(UnreadEntry(file, again));
    ASSERT_TRUE(UnreadEntry(file, first));
    ASSERT_TRUE(ReadEntry(file, again));
    EXPECT_EQ(again.fileName, "first.bin");
    // There is nothing before the header to step back into.
    ASSERT_TRUE(file.SeekFromStart(0));
    EXPECT_FALSE(UnreadEntry(file, first));
}

TEST(ListStreaming, HeaderCutShortTellsWhichReadCameUpShort) {
    const Bytes full = ConvertListBuilder().folder("/g").build(); // 5 + 3 bytes
    const HeaderRead expected[] = {
        HeaderRead::ShortCount,  HeaderRead::ShortCount,      HeaderRead::ShortCount,
        HeaderRead::ShortCount,  HeaderRead::ShortPathLength, HeaderRead::ShortFolder,
        HeaderRead::ShortFolder, HeaderRead::ShortFolder,     HeaderRead::Ok};
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        MemoryListFile file(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        ConvertList header;
        EXPECT_EQ(ReadHeader(file, header), expected[cut]) << "cut at " << cut;
    }
}

TEST(ListStreaming, AnEntryCutAnywhereEndsTheList) {
    ConvertListBuilder builder;
    builder.folder("/g").entry(kTypeSeq, 0, 0x40, "one.bin").entry(kTypeVh, 0, 0x80, "two.bin");
    const size_t total = builder.build().size();
    for (size_t cut = builder.entryStart(0); cut <= total; ++cut) {
        MemoryListFile file(builder.buildCut(cut));
        ConvertList header;
        ASSERT_EQ(ReadHeader(file, header), HeaderRead::Ok);
        size_t read = 0;
        ListEntry e;
        while (ReadEntry(file, e)) {
            ++read;
        }
        const size_t whole = cut >= builder.entryStart(2)   ? 2
                             : cut >= builder.entryStart(1) ? 1
                                                            : 0;
        EXPECT_EQ(read, whole) << "cut at " << cut;
    }
}

TEST(ListStreaming, ChunkedAndStdioFilesPatchTheCountInPlace) {
    MemoryFileSystem fs;
    ScopedFileSystem guard(fs);
    ChunkFile chunked;
    ASSERT_TRUE(chunked.Create("list.clg"));
    ChunkListFile viaChunks(chunked);
    ASSERT_TRUE(WriteHeader(viaChunks, 0, "/g"));
    ASSERT_TRUE(WriteEntry(viaChunks, kTypeSeq, 0, 0x40, "a.bin"));
    ASSERT_TRUE(PatchCount(viaChunks, 1));
    ASSERT_TRUE(chunked.Close());
    const Bytes expected =
        ConvertListBuilder().folder("/g").entry(kTypeSeq, 0, 0x40, "a.bin").build();
    EXPECT_EQ(DescribeDifference(fs.Contents("list.clg"), expected), "");

    // Through stdio: write, patch, read back, then overwrite an entry right after a read.
    testkit::TempFolder temp;
    const std::string path = temp / "list.clg";
    {
        StdioListFile file(path, "w+b");
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(WriteHeader(file, 0, "/g"));
        ASSERT_TRUE(WriteEntry(file, kTypeVh, 0, 0x40, "a.bin"));
        ASSERT_TRUE(PatchCount(file, 1));
        uint8_t folder[4] = {};
        ASSERT_EQ(file.Read(folder, 4), 4) << "reads on right after the patched count";
        EXPECT_EQ(folder[0], 3);
        EXPECT_EQ(folder[2], 'g');
        ASSERT_TRUE(WriteEntry(file, kTypeSeq, 0, 0x40, "a.bin"));
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(DescribeDifference(testkit::ReadFile(path), expected), "");
    ListLoad status = ListLoad::ShortHeader;
    const auto loaded = LoadList(path, &status);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(status, ListLoad::Ok);
    EXPECT_EQ(loaded->entries.size(), 1u);

    EXPECT_FALSE(LoadList(temp / "missing.clg").has_value());
    EXPECT_FALSE(LoadList(temp.path()).has_value());
    StdioListFile missing(temp / "missing.clg", "rb");
    EXPECT_FALSE(missing.IsOpen());
    char byte = 0;
    EXPECT_EQ(missing.Read(&byte, 1), 0);
    EXPECT_FALSE(missing.SeekFromStart(0));
    EXPECT_FALSE(missing.Close());
}

TEST(CountedRead, TakesExactlyCountEntriesAndDerivesSizes) {
    // Two game files analysed together: the second file's first item lies lower.
    const Bytes bytes = ConvertListBuilder()
                            .entry(kTypeSeq, 0, 0x800, "one.bin")
                            .entry(kTypeVh, 0, 0x1000, "one.bin")
                            .entry(kTypeVb, 0, k4G + 0x10, "one.bin")
                            .entry(kTypeSeq, 1, 0x200, "two.bin")
                            .entry(kTypeVh, 1, 0x300, "two.bin")
                            .build();
    ConvertList list;
    ASSERT_EQ(ParseList(bytes, list), ListLoad::Ok);
    ASSERT_EQ(list.entries.size(), 5u);
    EXPECT_EQ(list.entries[0].size, 0x800);
    EXPECT_EQ(list.entries[1].size, static_cast<int64_t>(k4G + 0x10 - 0x1000));
    EXPECT_EQ(list.entries[2].size, -static_cast<int64_t>(k4G + 0x10 - 0x200));
    EXPECT_EQ(list.entries[3].size, 0x100);
    EXPECT_EQ(list.entries[4].size, 0);
    EXPECT_EQ(list.entries[3].fileName, "two.bin");

    // A smaller count leaves the entries behind it unread; 0 gives none.
    Bytes smaller = bytes;
    smaller[0] = 2;
    ASSERT_EQ(ParseList(smaller, list), ListLoad::Ok);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[1].size, 0);
    smaller[0] = 0;
    ASSERT_EQ(ParseList(smaller, list), ListLoad::Ok);
    EXPECT_TRUE(list.entries.empty());
}

TEST(CountedRead, DamagedListsStayInsideTheirBytes) {
    ConvertList list;
    // Every cut of a sound list: the header or the whole entries before the cut.
    ConvertListBuilder sound;
    sound.folder("/g").entry(kTypeSeq, 0, 1, "a.bin").entry(kTypeVh, 0, 2, "bb.bin");
    const size_t total = sound.build().size();
    for (size_t cut = 0; cut < total; ++cut) {
        // An exactly sized copy, so that a read past the end is caught by the sanitizers.
        const Bytes bytes = sound.buildCut(cut);
        const ListLoad result = ParseList(bytes, list);
        if (cut < sound.entryStart(0)) {
            EXPECT_EQ(result, ListLoad::ShortHeader) << "cut at " << cut;
        } else {
            EXPECT_EQ(result, ListLoad::ShortEntries) << "cut at " << cut;
            EXPECT_EQ(list.entries.size(), cut >= sound.entryStart(1) ? 1u : 0u)
                << "cut at " << cut;
        }
    }

    // A count far beyond the bytes takes the whole entries there are.
    ASSERT_EQ(
        ParseList(ConvertListBuilder().entry(kTypeSeq, 0, 1, "a").count(0xFFFFFFFF).build(), list),
        ListLoad::ShortEntries);
    EXPECT_EQ(list.count, 0xFFFFFFFFu);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].size, 0);

    // A path length byte running past the end.
    EXPECT_EQ(ParseList(ConvertListBuilder().folder("/g").pathLength(200).build(), list),
              ListLoad::ShortHeader);

    // Strings without their NUL are taken whole; the length byte says where the next field begins.
    ASSERT_EQ(ParseList(ConvertListBuilder()
                            .folder("/g")
                            .pathLength(2)
                            .entry(kTypeSeq, 0, 1, "nonul")
                            .nameWithoutNul()
                            .entry(kTypeVh, 0, 9, "z.bin")
                            .build(),
                        list),
              ListLoad::Ok);
    // The folder's NUL becomes the first byte of the first entry, shifting every field by one.
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].offset, 0x100u);
    EXPECT_EQ(list.entries[0].nameLength, 0);
    EXPECT_EQ(list.entries[1].type, 0x6E6F6E05u); // the real length byte and "non"
    Bytes noNul = ConvertListBuilder()
                      .entry(kTypeSeq, 0, 1, "nonul")
                      .nameWithoutNul()
                      .entry(kTypeVh, 0, 9, "z.bin")
                      .build();
    ASSERT_EQ(ParseList(noNul, list), ListLoad::Ok);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].fileName, "nonul");
    EXPECT_EQ(list.entries[1].offset, 9u);
    EXPECT_EQ(list.entries[1].fileName, "z.bin");

    // A length byte that promises more than is left ends the list.
    ASSERT_EQ(ParseList(ConvertListBuilder()
                            .entry(kTypeSeq, 0, 1, "a.bin")
                            .entry(kTypeVh, 0, 2, "b")
                            .nameLength(255)
                            .build(),
                        list),
              ListLoad::ShortEntries);
    EXPECT_EQ(list.entries.size(), 1u);
    // One that says less makes the next entry start inside the name.
    ASSERT_EQ(
        ParseList(
            ConvertListBuilder().entry(kTypeSeq, 0, 1, "game.bin").nameLength(1).count(1).build(),
            list),
        ListLoad::Ok);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].fileName, "g");
    EXPECT_EQ(
        ParseList(
            ConvertListBuilder().entry(kTypeSeq, 0, 1, "game.bin").nameLength(1).count(2).build(),
            list),
        ListLoad::ShortEntries);
}

} // namespace
} // namespace sonvex

namespace sonvex {
namespace {

TEST(ListProblem, RefusesBytesThatAreNoListAndAcceptsEveryWrittenShape) {
    using testkit::ConvertListBuilder;
    const ConvertListBuilder good = ConvertListBuilder()
                                        .folder("/g")
                                        .entry(kTypeSeq, 0, 1, "a/x.seq")
                                        .entry(kTypeVh, 0, 2, "名前.vh");
    EXPECT_EQ(ListProblem(good.build()), "");
    EXPECT_EQ(ListProblem(ConvertListBuilder().build()), "");
    EXPECT_EQ(ListProblem(ConvertListBuilder().entry(kTypeSeq, 0, 1, "a").count(0).build()), "");
    EXPECT_EQ(
        ListProblem(ConvertListBuilder().entry(kTypeSeq, 0, 1, "nonul").nameWithoutNul().build()),
        "");

    struct Case {
        const char* what;
        testkit::Bytes bytes;
        const char* says;
    };
    // Random bytes as a game file might hold them: a huge count and binary "names".
    testkit::Bytes noise = testkit::ByteBuilder().noise(400, 7).take();
    noise[0] = 0x41;
    noise[3] = 0x70;
    const Case cases[] = {
        {"empty", {}, "header cut short"},
        {"cut in the folder", good.buildCut(4), "header cut short"},
        {"impossible count", ConvertListBuilder(good).count(1894505217).build(),
         "count 1894505217 is more entries"},
        {"count beyond the whole entries", good.buildCut(good.entryStart(1) + 3), "count 2 "},
        {"name with control bytes", ConvertListBuilder().entry(kTypeSeq, 0, 1, "a\x01z").build(),
         "entry 0 at offset "},
        {"empty name", ConvertListBuilder().entry(kTypeSeq, 0, 1, "").build(),
         "game-file name is not text"},
        {"folder with control bytes", ConvertListBuilder().folder("/g\x7F").build(),
         "source folder is not text"},
        {"random bytes", noise, "count"},
    };
    for (const Case& c : cases) {
        const std::string problem = ListProblem(c.bytes);
        EXPECT_NE(problem.find(c.says), std::string::npos) << c.what << ": " << problem;
    }
}

TEST(GameFilePath, JoinsTheSourceFolderAndTheRecordedName) {
    EXPECT_EQ(GameFilePath("/games/a", "X.SEQ"), "/games/a/X.SEQ");
    EXPECT_EQ(GameFilePath("/", "a/X.SEQ"), "/a/X.SEQ");
    EXPECT_EQ(GameFilePath("/games/", "b/c/X.SEQ"), "/games/b/c/X.SEQ");
    EXPECT_EQ(GameFilePath("", "X.SEQ"), "/X.SEQ");
}

} // namespace
} // namespace sonvex
