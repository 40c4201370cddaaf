// SPDX-License-Identifier: GPL-3.0-or-later
// tabdump as a process: naming of the list and the CSV, every message and exit status,
// the CSV's exact bytes, and damaged lists.
#include <gtest/gtest.h>

#include <filesystem>

#include "testkit/convert_list_builder.h"
#include "tool_run.h"

namespace sonvex::testkit {
namespace {

constexpr const char* kVersion = "tabdump ver 0.00\n";
constexpr const char* kConvert = "convert %s->%s\n";
constexpr const char* kNoFile = "ファイルがありません:%s\n";
constexpr const char* kNoCreate = "ファイルが作成出来ません:%s\n";
const std::string kHeaderLine = std::string("TYPE,NO,OFFSET,SIZE,FINENAME") + "\r\n";

constexpr uint64_t k2G = 0x80000000ull;
constexpr uint64_t k4G = 0x100000000ull;

class TabdumpTest : public ::testing::Test {
  protected:
    TempFolder temp;

    ToolRun Run(const std::vector<std::string>& args) {
        return RunTool("tabdump", args, temp.path());
    }
    void Put(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(WriteFile(temp / name, bytes));
    }
    std::string Text(const std::string& name) {
        const Bytes bytes = ReadFile(temp / name);
        return std::string(bytes.begin(), bytes.end());
    }
};

Bytes OneEntryList() {
    return ConvertListBuilder().entry(kTypeSeq, 0, 16, "g.bin").build();
}

TEST_F(TabdumpTest, WithoutArgumentsOrWhenAskedPrintsItsUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"-h"}, {"--help", "x.csv"}}) {
        const ToolRun run = Run(args);
        EXPECT_TRUE(run.output.starts_with(std::string(kVersion) + "Usage : tabdump <clgfile> "
                                                                   "[<csvfile>]\n"))
            << run.output;
        EXPECT_EQ(run.status, args.empty() ? 255 : 0);
    }
    EXPECT_TRUE(FolderNames(temp.path()).empty());
}

TEST_F(TabdumpTest, NamesTheListAndTheCsvByTheExtensionRules) {
    struct Case {
        std::vector<std::string> args;
        std::string list;
        std::string csv;
    };
    const Case cases[] = {
        {{"songs"}, "songs.clg", "songs.csv"},
        {{"songs.clg", "out"}, "songs.clg", "out.csv"},
        {{"songs.clg", "out.csv"}, "songs.clg", "out.csv"},
        {{".clg"}, ".clg.clg", ".clg.csv"},    // not longer than four characters
        {{"a.CLG"}, "a.CLG.clg", "a.CLG.csv"}, // the comparison is case-sensitive
        {{"songs", ".csv"}, "songs.clg", ".csv.csv"},
        {{"x.clgz", "y.CSV"}, "x.clgz.clg", "y.CSV.csv"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(temp.path());
        std::filesystem::create_directory(temp.path());
        Put(c.list, OneEntryList());
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.output, Format(kConvert, c.list.c_str(), c.csv.c_str())) << c.args[0];
        EXPECT_EQ(run.status, 0) << c.args[0];
        EXPECT_EQ(Text(c.csv), kHeaderLine + "SEQ,0,16,0,g.bin\r\n") << c.args[0];
        std::vector<std::string> expected{c.list, c.csv};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderNames(temp.path()), expected) << c.args[0];
    }
}

TEST_F(TabdumpTest, MissingListAndUncreatableCsvFailWithTheirMessages) {
    ToolRun run = Run({"nothere"});
    EXPECT_EQ(run.output,
              Format(kConvert, "nothere.clg", "nothere.csv") + Format(kNoFile, "nothere.clg"));
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(FolderNames(temp.path()).empty());

    // A folder is no list either.
    std::filesystem::create_directory(temp / "dir.clg");
    run = Run({"dir.clg"});
    EXPECT_EQ(run.output, Format(kConvert, "dir.clg", "dir.csv") + Format(kNoFile, "dir.clg"));
    EXPECT_EQ(run.status, 255);

    Put("songs.clg", OneEntryList());
    run = Run({"songs", "nofolder/out"});
    EXPECT_EQ(run.output, Format(kConvert, "songs.clg", "nofolder/out.csv") +
                              Format(kNoCreate, "nofolder/out.csv"));
    EXPECT_EQ(run.status, 255);
}

TEST_F(TabdumpTest, WritesEveryEntryWithItsNameNumberOffsetAndSize) {
    const std::string longName(254, 'x');
    Put("songs.clg", ConvertListBuilder()
                         .entry(kTypeSeq, 0, 0x800, "game.bin")
                         .entry(kTypeVh, 0, 0x1000, "game.bin")
                         .entry(kTypeVb, 0, 0x1800, "game.bin")
                         .entry(kTypeKcetSeq, 1, k2G, "a,b.bin")
                         .entry(kTypeSceiMidi, 2, k4G + 0x10, longName)
                         .entry(kTypeSceiHead, 0, 0x100, "ｹﾞｰﾑ2.bin") // a second game file, lower
                         .entry(kTypeGpmSeq, 3, 0x200, "ｹﾞｰﾑ2.bin")
                         .entry(kTypeGpmHead, 1, 0x300, "ｹﾞｰﾑ2.bin")
                         .entry(0x12345678, -5, 0xFFFFFFFFFFFFFFFFull, "x.bin")
                         .build());
    // An old CSV of the same name is replaced, not overwritten in part.
    Put("songs.csv", Bytes(5000, 'z'));
    const ToolRun run = Run({"songs"});
    EXPECT_EQ(run.status, 0);
    const std::string expected = kHeaderLine +
                                 "SEQ,0,2048,2048,game.bin\r\n"
                                 "VH,0,4096,2048,game.bin\r\n"
                                 "VB,0,6144,2147477504,game.bin\r\n"
                                 "Unknown,1,2147483648,2147483664,a,b.bin\r\n"
                                 "Unknown,2,4294967312,-4294967056," +
                                 longName +
                                 "\r\n"
                                 "Unknown,0,256,256,ｹﾞｰﾑ2.bin\r\n"
                                 "GPMseq,3,512,256,ｹﾞｰﾑ2.bin\r\n"
                                 "GPMhead,1,768,-769,ｹﾞｰﾑ2.bin\r\n"
                                 "Unknown,-5,-1,0,x.bin\r\n";
    const std::string actual = Text("songs.csv");
    EXPECT_EQ(DescribeDifference(Bytes(actual.begin(), actual.end()),
                                 Bytes(expected.begin(), expected.end())),
              "");
}

TEST_F(TabdumpTest, EmptyListsAreWrittenAndDamagedListsRefused) {
    struct Case {
        const char* what;
        Bytes list;
        std::string lines;
    };
    const ConvertListBuilder two =
        ConvertListBuilder().entry(kTypeSeq, 0, 0x10, "a.bin").entry(kTypeVh, 0, 0x30, "b.bin");
    const Case cases[] = {
        {"count 0", ConvertListBuilder().build(), ""},
        {"count 0 with entries behind it",
         ConvertListBuilder().entry(kTypeSeq, 0, 1, "a").count(0).build(), ""},
        {"name without NUL",
         ConvertListBuilder().entry(kTypeVb, 7, 9, "nonul").nameWithoutNul().build(),
         "VB,7,9,0,nonul\r\n"},
    };
    for (const Case& c : cases) {
        Put("d.clg", c.list);
        const ToolRun run = Run({"d"});
        EXPECT_EQ(run.status, 0) << c.what;
        EXPECT_EQ(run.output, Format(kConvert, "d.clg", "d.csv")) << c.what;
        EXPECT_EQ(Text("d.csv"), kHeaderLine + c.lines) << c.what;
    }
    // Bytes that are no list would make a CSV of garbage: refused, and no CSV is left.
    const Case refused[] = {
        {"empty file", Bytes{}, "header cut short"},
        {"header cut in the count", Bytes{1, 0, 0}, "header cut short"},
        {"count beyond the entries", ConvertListBuilder(two).count(1000000).build(),
         "count 1000000 is more entries"},
        {"second entry cut short", two.buildCut(two.entryStart(2) - 3), "count 2 "},
        {"length byte past the end", ConvertListBuilder(two).nameLength(250).build(), "count 2 "},
        {"binary name", ConvertListBuilder().entry(kTypeSeq, 0, 1, "\x03\x90").build(),
         "entry 0 at offset 12: game-file name is not text"},
    };
    for (const Case& c : refused) {
        std::filesystem::remove(temp / "d.csv");
        Put("d.clg", c.list);
        const ToolRun run = Run({"d"});
        EXPECT_EQ(run.status, 255) << c.what;
        EXPECT_EQ(run.output.rfind(Format(kConvert, "d.clg", "d.csv") +
                                       "not a convert list [d.clg]: " + c.lines,
                                   0),
                  0u)
            << c.what << ": " << run.output;
        EXPECT_FALSE(std::filesystem::exists(temp / "d.csv")) << c.what;
    }
}

TEST_F(TabdumpTest, PathsLongerThan259CharactersWork) {
    const std::string deep = std::string(120, 'p') + "/" + std::string(120, 'q');
    std::filesystem::create_directories(temp / deep);
    const std::string list = deep + "/" + std::string(60, 'l');
    ASSERT_GT(list.size() + 4, 259u);
    Put(list + ".clg", OneEntryList());
    const ToolRun run = Run({list});
    EXPECT_EQ(run.output, Format(kConvert, (list + ".clg").c_str(), (list + ".csv").c_str()));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Text(list + ".csv"), kHeaderLine + "SEQ,0,16,0,g.bin\r\n");
}

} // namespace
} // namespace sonvex::testkit
