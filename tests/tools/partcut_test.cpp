// SPDX-License-Identifier: GPL-3.0-or-later
// partcut as a process: options and usage, split files with their names and padding,
// both append layouts, patch lines, and lists that are empty, damaged or point far.
#include <gtest/gtest.h>

#include <filesystem>

#include "testkit/convert_list_builder.h"
#include "tool_run.h"

namespace sonvex::testkit {
namespace {

const std::string kUsage = std::string("Usage :\n") + ">%s [option]... <clgfile>\n" +
                           "        -a,-A    output append seq+vb+vh\n" +
                           "        -4       output append seq+vb+vh (ezpsf 1.0.4)\n" +
                           "        -o,-O    print the patch addresses of every number\n" +
                           "        -h,-H    This help\n";
constexpr const char* kOpenError = "open error [%s]\n";
constexpr const char* kOut = "Out : %s\n";
const std::string kSizeLine = std::string("      Size seq = %d") + " vb = %d" + " vh = %d\n";
const std::string kPatchLine =
    std::string("No.%3d patch 0x800FFFFC = 0x%08x ") + "/ 0x800FFFF8 = 0x%08x\n";

constexpr uint64_t k2G = 0x80000000ull;
constexpr uint64_t k4G = 0x100000000ull;
constexpr uint32_t kBase = 0x80100000;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
Bytes Zeros(size_t count) {
    return Bytes(count, 0);
}
Bytes Words(uint32_t first, uint32_t second) {
    return ByteBuilder().u32le(first).u32le(second).take();
}
std::string SizeLine(int seq, int vb, int vh) {
    return Format(kSizeLine.c_str(), seq, vb, vh);
}
std::string PatchLine(int number, uint32_t bankBody, uint32_t bankHeader) {
    return Format(kPatchLine.c_str(), number, bankBody, bankHeader);
}
std::string Outs(std::initializer_list<const char*> paths) {
    std::string text;
    for (const char* path : paths) {
        text += Format(kOut, path);
    }
    return text;
}

class PartcutTest : public ::testing::Test {
  protected:
    TempFolder temp;

    ToolRun Run(const std::vector<std::string>& args) {
        return RunTool("partcut", args, temp.path(), "partcut");
    }
    void Put(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(WriteFile(temp / name, bytes));
    }
    void PutGame(const std::string& name, const GameFileBuilder& game) {
        ASSERT_TRUE(game.writeTo(temp / name));
    }
    void ExpectFile(const std::string& name, const Bytes& expected) {
        EXPECT_EQ(DescribeDifference(ReadFile(temp / name), expected), "") << name;
    }
    void ExpectNames(std::vector<std::string> expected) {
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderNames(temp.path()), expected);
    }
};

TEST_F(PartcutTest, UsageWhenAskedOrWithoutAListPath) {
    Put("game.clg", ConvertListBuilder().entry(kTypeSeq, 0, 0, "game.bin").build());
    const std::vector<std::vector<std::string>> asks{
        {}, {"-h"}, {"-H", "game.clg"}, {"game.clg", "-hx"}, {"-a"}, {"-o", "-4", "-"}};
    for (const auto& args : asks) {
        const ToolRun run = Run(args);
        EXPECT_EQ(run.output, Format(kUsage.c_str(), "partcut")) << args.size();
        EXPECT_EQ(run.status, 0);
    }
    ExpectNames({"game.clg"});
}

TEST_F(PartcutTest, UnreadableListOrGameFileIsReportedAndFails) {
    ToolRun run = Run({"missing.clg"});
    EXPECT_EQ(run.output, Format(kOpenError, "missing.clg"));
    EXPECT_EQ(run.status, 1);
    std::filesystem::create_directory(temp / "folder.clg");
    EXPECT_EQ(Run({"folder.clg"}).output, Format(kOpenError, "folder.clg"));

    Put("game.clg", ConvertListBuilder()
                        .entry(kTypeSeq, 0, 0, "gone.bin")
                        .entry(kTypeVh, 0, 9, "game.bin")
                        .build());
    Put("game.bin", Bytes(100, 1));
    // Each item comes from its own game file: the one that opens nowhere (beside the list,
    // then in the stored folder) is reported and its items are not cut; the others are.
    const std::string notFound =
        Format(kOpenError, "gone.bin") + Format(kOpenError, "/games/gone.bin");
    run = Run({"game.clg"});
    EXPECT_EQ(run.output, notFound + Outs({"game_0000.vh"}));
    EXPECT_EQ(run.status, 1);
    ExpectFile("game_0000.vh", Concat({Bytes(91, 1), Zeros(1)}));
    // A number with a part whose game file is missing gets no append file and no patch line.
    std::filesystem::remove(temp / "game_0000.vh");
    run = Run({"-a", "-o", "game.clg"});
    EXPECT_EQ(run.output, notFound);
    EXPECT_EQ(run.status, 1);
    ExpectNames({"folder.clg", "game.bin", "game.clg"});
}

TEST_F(PartcutTest, SplitsEveryEntryIntoAPaddedFileNamedByNumberAndType) {
    GameFileBuilder game(0x3000);
    game.noise(11);
    std::filesystem::create_directory(temp / "sub");
    PutGame("sub/game.bin", game);
    // The game file beside the list is taken before the stored folder; the first entry
    // lies at 4096.
    Put("sub/game.clg",
        ConvertListBuilder()
            .folder("/elsewhere")
            .entry(kTypeSeq, 0, 0x1000, "game.bin")
            .entry(kTypeVh, 0, 0x1400, "game.bin")
            .entry(kTypeVb, 0, 0x1600, "game.bin") // 1001 bytes
            .entry(kTypeGpmSeq, 1, 0x1600 + 1001, "game.bin")
            .entry(kTypeGpmHead, 1, 0x1A00, "game.bin")
            .entry(kTypeKcetSeq, 2, 0x1B00, "game.bin")
            .entry(kTypeSceiMidi, 3, 0x1C00, "game.bin")
            .entry(kTypeSceiHead, 4, 0x1D00, "game.bin")
            .entry(0x0000FFFF, 5, 0x1E00, "game.bin")
            .entry(kTypeSeq, 1, 0x2000, "game.bin") // last: to the end of the game file
            .build());
    const ToolRun run = Run({"sub/game.clg"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.output,
        Outs({"sub/game_0000.seq", "sub/game_0000.vh", "sub/game_0000.vb", "sub/game_0001.GPMseq",
              "sub/game_0001.GPMhead", "sub/game_0002.Unknown", "sub/game_0003.Unknown",
              "sub/game_0004.Unknown", "sub/game_0005.Unknown", "sub/game_0001.seq"}));
    ExpectFile("sub/game_0000.seq", game.slice(0x1000, 0x400));
    ExpectFile("sub/game_0000.vh", game.slice(0x1400, 0x200));
    ExpectFile("sub/game_0000.vb", Concat({game.slice(0x1600, 1001), Zeros(3)}));
    ExpectFile("sub/game_0001.GPMseq", Concat({game.slice(0x1600 + 1001, 23), Zeros(1)}));
    ExpectFile("sub/game_0001.GPMhead", game.slice(0x1A00, 0x100));
    ExpectFile("sub/game_0002.Unknown", game.slice(0x1B00, 0x100));
    ExpectFile("sub/game_0005.Unknown", game.slice(0x1E00, 0x200));
    ExpectFile("sub/game_0001.seq", game.slice(0x2000, 0x1000));
    EXPECT_EQ(FolderNames(temp / "sub").size(), 12u);
}

// Zero and negative sizes run to the end of the game file; a size that runs past it
// keeps its length, zero filled, in the split file and in the parts table.
TEST_F(PartcutTest, ZeroNegativeAndOverlongSizes) {
    GameFileBuilder game(0x1000);
    game.noise(5);
    PutGame("game.bin", game);
    Put("game.clg",
        ConvertListBuilder()
            .entry(kTypeSeq, 0, 0x100, "game.bin") // size 0: to the end of the game file
            .entry(kTypeVh, 0, 0x100, "game.bin")
            .entry(kTypeVb, 0, 0x200, "game.bin")   // reaches past the end: zero filled
            .entry(kTypeSeq, 1, 0x5000, "game.bin") // beyond the end, negative size
            .entry(kTypeVh, 1, 0x80, "game.bin")
            .entry(kTypeSeq, -1, 0x10, "game.bin") // negative number: split only
            .build());
    const ToolRun run = Run({"-o", "game.clg"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Outs({"game_0000.seq", "game_0000.vh", "game_0000.vb", "game_0001.seq",
                                "game_0001.vh", "game_-001.seq"}) +
                              PatchLine(0, kBase, kBase + 0x4E00) + PatchLine(1, kBase, kBase));
    ExpectFile("game_0000.seq", game.slice(0x100, 0xF00));
    ExpectFile("game_0000.vh", game.slice(0x100, 0x100));
    ExpectFile("game_0000.vb", Concat({game.slice(0x200, 0xE00), Zeros(0x4000)}));
    ExpectFile("game_0001.seq", Bytes{});
    ExpectFile("game_0001.vh", game.slice(0x80, 0xF80));
    ExpectFile("game_-001.seq", game.slice(0x10, 0xFF0));
}

// Number 0 complete (its SEQ given twice: the later wins), 1 unused, 2 without SEQ,
// 3 only a KCETSeq, -1 a SEQ with a negative number.
class PartcutAppendTest : public PartcutTest {
  protected:
    GameFileBuilder game{0x2000};
    void SetUp() override {
        game.noise(3);
        PutGame("game.bin", game);
        Put("game.clg", ConvertListBuilder()
                            .entry(kTypeSeq, 0, 0x100, "game.bin")
                            .entry(kTypeVb, 0, 0x200, "game.bin")
                            .entry(kTypeVh, 0, 0x500, "game.bin")
                            .entry(kTypeKcetSeq, 3, 0x580, "game.bin")
                            .entry(kTypeVb, 2, 0x600, "game.bin")
                            .entry(kTypeVh, 2, 0x800, "game.bin")
                            .entry(kTypeSeq, -1, 0x840, "game.bin")
                            .entry(kTypeSeq, 0, 0x880, "game.bin")
                            .build());
    }
    std::string SizeLines() const {
        return Outs({"game_0000.bin"}) + SizeLine(0x1780, 0x300, 0x80) + Outs({"game_0001.bin"}) +
               SizeLine(0, 0, 0) + Outs({"game_0002.bin"}) + SizeLine(0, 0x200, 0x40) +
               Outs({"game_0003.bin"}) + SizeLine(0, 0, 0);
    }
};

TEST_F(PartcutAppendTest, PlainLayoutJoinsSequenceBankBodyAndBankHeader) {
    ToolRun run = Run({"-a", "game.clg"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, SizeLines());
    ExpectNames({"game.bin", "game.clg", "game_0000.bin", "game_0001.bin", "game_0002.bin",
                 "game_0003.bin"});
    ExpectFile("game_0000.bin",
               Concat({Words(kBase + 0x1780 + 0x300, kBase + 0x1780), game.slice(0x880, 0x1780),
                       game.slice(0x200, 0x300), game.slice(0x500, 0x80)}));
    ExpectFile("game_0001.bin", Words(kBase, kBase));
    ExpectFile("game_0002.bin", Concat({Words(kBase + 0x200, kBase), game.slice(0x600, 0x200),
                                        game.slice(0x800, 0x40)}));
    ExpectFile("game_0003.bin", Words(kBase, kBase));

    // -abc acts as -a, an unknown letter and a second path are ignored, -o adds patch lines first.
    run = Run({"-abc", "-x", "-O", "game.clg", "other.clg"});
    EXPECT_EQ(run.output, PatchLine(0, kBase + 0x1780, kBase + 0x1780 + 0x300) +
                              PatchLine(1, kBase, kBase) + PatchLine(2, kBase, kBase + 0x200) +
                              PatchLine(3, kBase, kBase) + SizeLines());
    ExpectFile("game_0002.bin", Concat({Words(kBase + 0x200, kBase), game.slice(0x600, 0x200),
                                        game.slice(0x800, 0x40)}));
}

TEST_F(PartcutAppendTest, EzpsfLayoutPlacesThePartsInFixedAreas) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-a", "-4", "game.clg"},
                                                                  {"-4", "-A", "game.clg"}}) {
        const ToolRun run = Run(args);
        EXPECT_EQ(run.output, SizeLines()) << args[0];
        ExpectFile("game_0000.bin", Concat({game.slice(0x880, 0x1780), Zeros(0x20000 - 0x1780),
                                            game.slice(0x500, 0x80), Zeros(0x20000 - 0x80),
                                            game.slice(0x200, 0x300)}));
        ExpectFile("game_0001.bin", Zeros(0x40000));
        ExpectFile("game_0002.bin", Concat({Zeros(0x20000), game.slice(0x800, 0x40),
                                            Zeros(0x20000 - 0x40), game.slice(0x600, 0x200)}));
    }
    // -4 alone selects the layout but writes neither output.
    std::filesystem::remove(temp / "game_0000.bin");
    EXPECT_EQ(Run({"-4", "game.clg"}).output, "");
    EXPECT_FALSE(std::filesystem::exists(temp / "game_0000.bin"));
}

// A list whose rows were deleted keeps its numbers: every number up to the largest gets
// its append file and patch line, used or not.
TEST_F(PartcutTest, AppendOutputCoversNumbersBeyondTheEntryCount) {
    GameFileBuilder game(0x100);
    game.noise(6);
    PutGame("game.bin", game);
    Put("cut.clg", ConvertListBuilder().entry(kTypeSeq, 3, 0x40, "game.bin").build());
    const ToolRun run = Run({"-a", "-o", "cut.clg"});
    EXPECT_EQ(run.output, PatchLine(0, kBase, kBase) + PatchLine(1, kBase, kBase) +
                              PatchLine(2, kBase, kBase) +
                              PatchLine(3, kBase + 0xC0, kBase + 0xC0) + Outs({"cut_0000.bin"}) +
                              SizeLine(0, 0, 0) + Outs({"cut_0001.bin"}) + SizeLine(0, 0, 0) +
                              Outs({"cut_0002.bin"}) + SizeLine(0, 0, 0) + Outs({"cut_0003.bin"}) +
                              SizeLine(0xC0, 0, 0));
    ExpectFile("cut_0002.bin", Words(kBase, kBase));
    ExpectFile("cut_0003.bin", Concat({Words(kBase + 0xC0, kBase + 0xC0), game.slice(0x40, 0xC0)}));
}

TEST_F(PartcutTest, EzpsfAreasHoldNoMoreThanTheirRoom) {
    GameFileBuilder game(0x40000);
    game.noise(9);
    PutGame("big.bin", game);
    Put("big.clg", ConvertListBuilder()
                       .entry(kTypeSeq, 0, 0, "big.bin")
                       .entry(kTypeVh, 0, 0x20010, "big.bin")
                       .entry(kTypeVb, 0, 0x38020, "big.bin")
                       .build());
    const ToolRun run = Run({"-4", "-a", "big.clg"});
    EXPECT_EQ(run.output, Outs({"big_0000.bin"}) + SizeLine(0x20010, 0x7FE0, 0x18010));
    ExpectFile("big_0000.bin", Concat({game.slice(0, 0x20000), game.slice(0x20010, 0x18010),
                                       Zeros(0x7FF0), game.slice(0x38020, 0x7FE0)}));
}

TEST_F(PartcutTest, EmptyListsWorkAndDamagedListsAreRefused) {
    Put("empty.clg", ConvertListBuilder().build());
    EXPECT_EQ(Run({"empty.clg"}).output, "");
    ToolRun run = Run({"-a", "-o", "empty.clg"});
    EXPECT_EQ(run.output,
              PatchLine(0, kBase, kBase) + Outs({"empty_0000.bin"}) + SizeLine(0, 0, 0));
    ExpectFile("empty_0000.bin", Words(kBase, kBase));

    GameFileBuilder game(0x100);
    game.noise(1);
    PutGame("game.bin", game);
    const ConvertListBuilder two = ConvertListBuilder()
                                       .entry(kTypeSeq, 0, 0x10, "game.bin")
                                       .nameWithoutNul()
                                       .entry(kTypeVh, 0x7FFFFFFF, 0x40, "game.bin");
    Put("d.clg", two.build());
    run = Run({"d.clg"});
    EXPECT_EQ(run.output, Outs({"d_0000.seq", "d_2147483647.vh"}));
    ExpectFile("d_0000.seq", game.slice(0x10, 0x30));
    ExpectFile("d_2147483647.vh", game.slice(0x40, 0xC0));

    // A count the bytes cannot hold, an entry cut short, a header cut short: no list, and
    // nothing is cut from what such bytes would point at.
    const std::vector<std::pair<Bytes, std::string>> damaged = {
        {ConvertListBuilder(two).count(5000).build(), "count 5000 is more entries"},
        {two.buildCut(two.entryStart(2) - 1), "count 2 "},
        {Bytes{7, 0}, "header cut short"},
        {ConvertListBuilder().entry(kTypeSeq, 0, 0x10, "game.bin").nameLength(3).count(3).build(),
         "count 3 "}};
    for (const auto& [bytes, why] : damaged) {
        std::filesystem::remove(temp / "d_0000.seq");
        Put("d.clg", bytes);
        run = Run({"d.clg"});
        EXPECT_EQ(run.status, 1) << why;
        EXPECT_EQ(run.output.rfind("not a convert list [d.clg]: " + why, 0), 0u) << run.output;
        EXPECT_FALSE(std::filesystem::exists(temp / "d_0000.seq")) << why;
    }
}

TEST_F(PartcutTest, OffsetsBeyond2And4GiBAndLongGameFileNames) {
    const std::string name(254, 'g');
    GameFileBuilder high(k2G + 0x1000);
    high.put(k2G + 0x10, ByteBuilder().noise(0x300, 2).take());
    PutGame(name, high);
    Put("hi.clg", ConvertListBuilder()
                      .entry(kTypeVh, 0, k2G + 0x10, name)
                      .entry(kTypeVb, 0, k2G + 0x110, name)
                      .build());
    ToolRun run = Run({"hi.clg"});
    EXPECT_EQ(run.output, Outs({"hi_0000.vh", "hi_0000.vb"}));
    ExpectFile("hi_0000.vh", high.slice(k2G + 0x10, 0x100));
    ExpectFile("hi_0000.vb", high.slice(k2G + 0x110, 0xEF0));
    std::filesystem::remove(temp / name);

    GameFileBuilder higher(k4G + 0x1000);
    higher.put(k4G + 0x100, ByteBuilder().noise(0x400, 4).take());
    PutGame("far.bin", higher);
    Put("far.clg", ConvertListBuilder()
                       .entry(kTypeSeq, 0, k4G + 0x100, "far.bin")
                       .entry(kTypeVh, 0, k4G + 0x300, "far.bin")
                       .build());
    run = Run({"-a", "far.clg"});
    EXPECT_EQ(run.output, Outs({"far_0000.bin"}) + SizeLine(0x200, 0, 0xD00));
    ExpectFile("far_0000.bin",
               Concat({Words(kBase + 0x200, kBase + 0x200), higher.slice(k4G + 0x100, 0x200),
                       higher.slice(k4G + 0x300, 0xD00)}));
}

} // namespace
} // namespace sonvex::testkit
