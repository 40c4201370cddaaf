// SPDX-License-Identifier: GPL-3.0-or-later
// The three console programs on what users hand them: game files from several folders
// through rip, convert, partcut and tabdump; and every shape of failure, each with a
// non-zero status, a message naming the file and nothing half made left behind.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convlist/convert_list.h"
#include "testkit/byte_builder.h"
#include "testkit/convert_list_builder.h"
#include "testkit/game_image.h"
#include "testkit/hostile_inputs.h"
#include "tests/support/program_run.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::GameImage;
using testkit::TempFolder;
using testsupport::ProcessRun;
using testsupport::RunProgram;

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* program :
             {"cli/sonvex-cli", "tools/partcut/partcut", "tools/tabdump/tabdump"}) {
            if (!fs::exists(testsupport::BuiltProgram(program))) {
                GTEST_SKIP() << program << " is not built";
            }
        }
    }
    ProcessRun Cli(const std::vector<std::string>& args) {
        return RunProgram(testsupport::BuiltProgram("cli/sonvex-cli"), args, dir.path());
    }
    ProcessRun Tool(const std::string& name, const std::vector<std::string>& args) {
        return RunProgram(testsupport::BuiltProgram("tools/" + name + "/" + name), args, dir.path(),
                          std::nullopt, name);
    }
    void Put(const std::string& name, const Bytes& bytes) {
        fs::create_directories(fs::path(dir / name).parent_path());
        ASSERT_TRUE(testkit::WriteFile(dir / name, bytes));
    }
    TempFolder dir;
};

TEST_F(CommandLine, GameFilesOfThreeFoldersRipConvertCutAndDump) {
    GameImage fuga(31);
    fuga.Noise(300).Seq(12).Noise(40);
    GameImage toccata(32);
    toccata.Noise(100).Seq(5).Zeros(60);
    GameImage std0(33);
    std0.Noise(50).Vh(3, 2, 4).Zeros(100).Vb(4, 6).Noise(20);
    for (const GameImage* image : {&fuga, &toccata, &std0}) {
        ASSERT_EQ(image->Verify(), "");
    }
    Put("a/fuga.bin", fuga.bytes());
    Put("b/c/toccata.bin", toccata.bytes());
    Put("d/std0.bin", std0.bytes());

    ProcessRun r = Cli({"rip", "-q", "a/fuga.bin", "b/c/toccata.bin", "d/std0.bin", "-o", "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Holds(r.out, "items: 3 made, 0 failed, 0 skipped")) << r.out;
    // Each output is named after its own game file.
    EXPECT_EQ(FilesIn(dir / "out"), (std::set<std::string>{"fuga.clg", "fuga_000.mid",
                                                           "toccata_000.mid", "std0_000.dls"}));
    const auto list = LoadList(dir / "out/fuga.clg");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->sourceFolder, fs::canonical(dir.path()).string());
    ASSERT_EQ(list->entries.size(), 4u);
    EXPECT_EQ(list->entries[0].fileName, "a/fuga.bin");
    EXPECT_EQ(list->entries[1].fileName, "b/c/toccata.bin");
    EXPECT_EQ(list->entries[2].fileName, "d/std0.bin");

    r = Cli({"convert", "-q", "out/fuga.clg", "-o", "again"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(dir / "again"),
              (std::set<std::string>{"fuga_000.mid", "toccata_000.mid", "std0_000.dls"}));
    EXPECT_EQ(testkit::ReadFile(dir / "again/fuga_000.mid"),
              testkit::ReadFile(dir / "out/fuga_000.mid"));

    r = Tool("tabdump", {"out/fuga.clg"});
    EXPECT_EQ(r.status, 0) << r.out;
    const Bytes csvBytes = testkit::ReadFile(dir / "out/fuga.csv");
    const std::string csv(csvBytes.begin(), csvBytes.end());
    EXPECT_TRUE(Holds(csv, "SEQ,1," + std::to_string(toccata.items()[0].offset)));
    EXPECT_TRUE(Holds(csv, ",b/c/toccata.bin\r\n")) << csv;

    // partcut finds the game files through the list's source folder: each item comes
    // out of its own game file, and runs to that file's end when it is its last item.
    r = Tool("partcut", {"out/fuga.clg"});
    EXPECT_EQ(r.status, 0) << r.out;
    auto cut = [](const GameImage& image, uint64_t from, uint64_t to) {
        Bytes bytes(image.bytes().begin() + static_cast<int64_t>(from),
                    image.bytes().begin() + static_cast<int64_t>(to));
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        return bytes;
    };
    const uint64_t vb = std0.items()[1].offset;
    EXPECT_EQ(testkit::ReadFile(dir / "out/fuga_0000.seq"),
              cut(fuga, fuga.items()[0].offset, fuga.bytes().size()));
    EXPECT_EQ(testkit::ReadFile(dir / "out/fuga_0001.seq"),
              cut(toccata, toccata.items()[0].offset, toccata.bytes().size()));
    EXPECT_EQ(testkit::ReadFile(dir / "out/fuga_0000.vh"), cut(std0, std0.items()[0].offset, vb));
    EXPECT_EQ(testkit::ReadFile(dir / "out/fuga_0000.vb"), cut(std0, vb, std0.bytes().size()));

    // --classic keeps the list-titled names.
    r = Cli({"rip", "-q", "--classic", "a/fuga.bin", "b/c/toccata.bin", "d/std0.bin", "-o", "cl"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(dir / "cl"),
              (std::set<std::string>{"fuga.clg", "fuga_000.mid", "fuga_001.mid", "fuga_000.dls"}));
}

TEST_F(CommandLine, ListsOfOneFolderKeepTheirBytesAndPartcutItsClassicOutput) {
    GameImage first(41);
    first.Noise(200).Seq(6).Zeros(30).Vh(2, 1, 2).Zeros(16).Vb(2, 3).Noise(90);
    GameImage second(42);
    second.Noise(70).GpmSeq(4).Noise(33);
    Put("g/ONE.BIN", first.bytes());
    Put("g/TWO.BIN", second.bytes());
    const std::string folder = fs::canonical(dir / "g").string();
    for (const bool classic : {true, false}) {
        std::vector<std::string> args{"analyze", "-q", "g/ONE.BIN", "g/TWO.BIN", "-o", "l.clg"};
        if (classic) {
            args.push_back("--classic");
        }
        const ProcessRun r = Cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(testkit::ReadFile(dir / "l.clg"),
                  testkit::ExpectedConvertList(folder, {{"ONE.BIN", &first}, {"TWO.BIN", &second}}))
            << classic;
    }
    // A list of one game file beside it cuts exactly as it always did.
    ProcessRun r = Cli({"analyze", "-q", "g/ONE.BIN", "-o", "g/one.clg"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Tool("partcut", {"g/one.clg"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Out : g/one_0000.seq\nOut : g/one_0000.vh\nOut : g/one_0000.vb\n");
    const uint64_t vh = first.items()[1].offset;
    Bytes seq(first.bytes().begin() + static_cast<int64_t>(first.items()[0].offset),
              first.bytes().begin() + static_cast<int64_t>(vh));
    seq.resize((seq.size() + 3) / 4 * 4, 0);
    EXPECT_EQ(testkit::ReadFile(dir / "g/one_0000.seq"), seq);
}

TEST_F(CommandLine, EveryFailureEndsNonZeroAndNamesItsFile) {
    Bytes noise = testkit::ByteBuilder().noise(3000, 5).take();
    noise[3] = 0x70; // a count no file of this size can hold
    Put("random.clg", noise);

    // Not a convert list: refused by every reader, nothing written.
    ProcessRun r = Cli({"convert", "random.clg", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "error: not a convert list \"random.clg\": count ")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
    r = Cli({"info", "random.clg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "not a convert list \"random.clg\"")) << r.err;
    EXPECT_EQ(r.out, "");
    r = Tool("tabdump", {"random.clg"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(Holds(r.out, "not a convert list [random.clg]: count ")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "random.csv"));
    r = Tool("partcut", {"random.clg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.out, "not a convert list [random.clg]")) << r.out;

    // A game file that cannot be opened: the message names it with its reason and number,
    // the item line names type, number, file and offset, and the summary counts it.
    const std::string gone = dir / "gone";
    Put("gone.clg", testkit::ConvertListBuilder()
                        .folder(gone)
                        .entry(kTypeSeq, 0, 0x40, "x.seq")
                        .entry(kTypeKcetSeq, 0, 0x80, "x.seq")
                        .build());
    r = Cli({"convert", "-q", "gone.clg", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "error: cannot open game file \"" + gone +
                                 "/x.seq\": No such file or directory [05]\n"))
        << r.err;
    EXPECT_TRUE(Holds(r.err, "failed: SEQ 0 of \"" + gone + "/x.seq\" at 0x00000040: ")) << r.err;
    EXPECT_TRUE(Holds(r.out, "0 file(s) made in ")) << r.out;
    EXPECT_TRUE(Holds(r.out, "items: 0 made, 1 failed, 1 skipped")) << r.out;
    EXPECT_TRUE(FilesIn(dir / "out").empty());
    r = Tool("partcut", {"gone.clg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open error [x.seq]\nopen error [" + gone + "/x.seq]\n");

    // A bank body that ends inside its samples: the converter's diagnostic is the reason.
    GameImage bank(51);
    bank.Noise(64).Vh(2, 2, 3).Zeros(32).Vb(3, 8);
    Bytes cutShort = bank.bytes();
    const uint64_t vbAt = bank.items()[1].offset;
    cutShort.resize(vbAt + 48);
    Put("bank.bin", cutShort);
    Put("bank.clg", testkit::ConvertListBuilder()
                        .folder(fs::canonical(dir.path()).string())
                        .entry(kTypeVh, 0, bank.items()[0].offset, "bank.bin")
                        .entry(kTypeVb, 0, vbAt, "bank.bin")
                        .build());
    r = Cli({"convert", "-q", "bank.clg", "-o", "banks"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(
        Holds(r.err, "failed: VH 0 of \"" + (dir / "bank.bin") + "\" at 0x00000040: wave 0, "))
        << r.err;
    EXPECT_TRUE(Holds(r.err, ": short read\n")) << r.err;
    EXPECT_TRUE(Holds(r.out, "items: 0 made, 1 failed, 0 skipped")) << r.out;
    EXPECT_TRUE(FilesIn(dir / "banks").empty());

    // segment blames the file that is missing.
    Put("song.mid", testkit::SoundSmf());
    r = Cli({"segment", "song.mid", "missing.dls"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "error: cannot open DLS file \"missing.dls\": No such file or "
                             "directory [42]"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "song.sgt"));

    // rip that finds nothing leaves no folder it made.
    Put("quiet.bin", Bytes(4000, 0x11));
    r = Cli({"rip", "-q", "quiet.bin", "-o", "nothing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "no sequence or sound bank found")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "nothing"));

    // A game file whose name from the common folder does not fit in a list: refused.
    const std::string longName = std::string(150, 'd') + "/" + std::string(120, 'n') + ".bin";
    Put(longName, Bytes(100, 0x22));
    r = Cli({"analyze", "-q", "quiet.bin", longName, "-o", "long.clg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.err, "error: cannot write convert list \"" + (dir / "long.clg") + "\": "))
        << r.err;
    EXPECT_TRUE(Holds(r.err, "\" is named \"" + longName +
                                 "\" from the source folder, longer than the 254 bytes a list "
                                 "holds [14]\n"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "long.clg"));

    // Command lines that are wrong get one short plain line and status 2.
    r = Cli({"bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("error: unknown command \"bogus\"; the commands are analyze, "))
        << r.err;
    r = Cli({});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("error: no command given")) << r.err;
}

TEST_F(CommandLine, InfoDescribesSequencesMidiFilesCollectionsAndBankBodies) {
    Put("one.seq", testkit::SoundSingleSeq());
    Put("song.mid", testkit::SoundSmf());
    Put("bank.dls", testkit::SoundDls());
    Put("bank.vb", testkit::SoundVb());
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        // The version is the 32-bit word behind the magic (1 here), not its high half.
        {"one.seq", {"single sequence, version 1, 480 ticks per quarter note"}},
        {"song.mid",
         {"format 0, 1 track(s) declared, division 480", "tempo: 120.00 bpm",
          "length: 142 ticks, 0.15 s", "marker at tick 12: \"Loop_Start\"",
          "marker at tick 122: \"Loop_End\"", "channel 1 programs: 5\n"}},
        {"bank.dls",
         {"2 instrument(s), 1 wave(s)",
          "instrument bank 0/1 program 7: 2 region(s) (0 with a loop), 13 articulation",
          "waves: 1, 0 with a loop, 56 frame(s)"}},
        {"bank.vb", {"11 ADPCM block(s), 11 of them plausible", "3 sample end(s), 2 of them"}},
    };
    for (const auto& [file, lines] : expected) {
        const ProcessRun r = Cli({"info", file});
        EXPECT_EQ(r.status, 0) << file << ": " << r.err;
        for (const std::string& line : lines) {
            EXPECT_TRUE(Holds(r.out, line)) << file << ": " << line << "\n" << r.out;
        }
    }
    // A body that is not ADPCM data says where it stops being plausible, and fails.
    Put("noise.vb", Bytes(64, 0xFF));
    const ProcessRun r = Cli({"info", "noise.vb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Holds(r.out, "first implausible block at 0x00000000")) << r.out;
}

} // namespace
} // namespace sonvex
