// SPDX-License-Identifier: GPL-3.0-or-later
// The extended recognition rules of the scan and the run: bank bodies behind their
// header found through the header's size table, "SEQp" sequences, header and body files
// scanned as a pair; and the classic rules, which the extended ones leave untouched on
// everything the classic rules find.
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/analysis_run.h"
#include "analysis/source_scanner.h"
#include "analysis_test_support.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex {
namespace {

using testing::RunCheckOn;
using testing::SameBytes;
using testkit::BankParts;
using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::GameImage;
using testkit::ListRules;
using testkit::MakeBank;
using testkit::TempFolder;
using testkit::VagStart;

using Entry = std::tuple<uint32_t, int32_t, uint64_t>; // type, number, offset

Bytes ScanWith(const Bytes& game, RecognitionRules rules,
               std::vector<std::string>* trace = nullptr) {
    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    files.Put("/mem/game.bin", game);
    ChunkFile list;
    ChunkFile source;
    EXPECT_TRUE(list.Create("/mem/list.clg"));
    EXPECT_TRUE(source.OpenRead("/mem/game.bin"));
    ChunkListFile listFile(list);
    EXPECT_TRUE(WriteHeader(listFile, 0, "/mem"));
    GroupCounters counters;
    NullFeedback feedback;
    ScanTrace lines;
    if (trace) {
        lines = [trace](std::string_view line) { trace->emplace_back(line); };
    }
    EXPECT_EQ(ScanOpenSource(list, source, "game.bin", counters, feedback, lines, rules),
              ScanOutcome::Scanned);
    EXPECT_TRUE(PatchCount(listFile, counters.Total()));
    EXPECT_TRUE(list.Close());
    return files.Contents("/mem/list.clg");
}

std::vector<Entry> EntriesWith(const Bytes& game, RecognitionRules rules) {
    ConvertList list;
    EXPECT_EQ(ParseList(ScanWith(game, rules), list), ListLoad::Ok);
    std::vector<Entry> out;
    for (const ListEntry& e : list.entries) {
        out.emplace_back(e.type, e.number, e.offset);
    }
    return out;
}

Bytes Joined(const BankParts& bank) {
    Bytes image = bank.vh;
    image.insert(image.end(), bank.vb.begin(), bank.vb.end());
    return image;
}

// ------------------------------------------------------------- body by size table

TEST(CheckVabBodyBySizesTest, AcceptsAPlausibleFirstBlockWhoseBodyTheFileHolds) {
    struct Case {
        const char* what;
        uint8_t header; // byte 0 of the first block: filter << 4 | shift
        uint8_t flags;  // byte 1
        int64_t length;
        size_t after; // bytes of the file behind the 64-byte body
        CheckResult result;
    };
    const Case cases[] = {
        {"zero block", 0x00, 0, 64, 5, CheckResult::Accept},
        {"body ends with the file", 0x00, 0, 64, 0, CheckResult::Accept},
        {"highest filter, shift and flags", 0x4C, 7, 64, 5, CheckResult::Accept},
        {"body one byte past the file", 0x00, 0, 70, 5, CheckResult::Reject},
        {"filter 5", 0x50, 0, 64, 5, CheckResult::Reject},
        {"shift 13", 0x0D, 0, 64, 5, CheckResult::Reject},
        {"flags 8", 0x00, 8, 64, 5, CheckResult::Reject},
        {"body shorter than a block", 0x00, 0, 15, 60, CheckResult::Reject},
        {"no table", 0x00, 0, -1, 60, CheckResult::Reject},
    };
    for (const Case& c : cases) {
        ByteBuilder b;
        b.fill(10, 0x99).u8(c.header).u8(c.flags).fill(62, 0x11).fill(c.after, 0x99);
        const auto out = RunCheckOn(b.bytes(), 10, [&c](ChunkFile& f, std::string* n) {
            return CheckVabBodyBySizes(f, c.length, n);
        });
        EXPECT_EQ(out.result, c.result) << c.what << ": " << out.note;
        EXPECT_EQ(out.position, c.result == CheckResult::Accept ? 10 + c.length : 10) << c.what;
        EXPECT_NE(out.note.find("VB at 0x0000000A"), std::string::npos) << out.note;
    }
}

TEST(ExtendedScanTest, BodyRightBehindItsHeaderIsTakenWholeByItsSizeTable) {
    // Sample 0 begins without a zero block; sample 1 begins the classic way, so that the
    // classic scan lists a body in the middle of the bank's body.
    std::vector<int16_t> pcm(28 * 5);
    for (size_t t = 0; t < pcm.size(); ++t) {
        pcm[t] = static_cast<int16_t>(static_cast<int>(t % 23) * 9 - 100);
    }
    testkit::VagShape bare;
    bare.zeroBlock = false;
    bare.firstBlockFlags = 0;
    testkit::VagShape looped;
    looped.loopStartBlock = 1;
    looped.loopEndBlock = 4;
    testkit::VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1), testkit::Tone(2)}));
    vab.sample(testkit::MakeVag(pcm, bare)).sample(testkit::MakeVag(pcm, looped));
    const Bytes vh = vab.BuildVh();
    const Bytes vb = vab.BuildVb();
    GameImage tail(3);
    tail.Noise(40).Seq(3).Noise(20);

    ByteBuilder image;
    image.fill(7, 0x99).append(vh).append(vb).append(tail.bytes());
    const uint64_t vhAt = 7;
    const uint64_t vbAt = vhAt + vh.size();
    const uint64_t sample1At = vbAt + testkit::MakeVag(pcm, bare).size();
    const uint64_t seqAt = vbAt + vb.size() + tail.items().front().offset;

    std::vector<std::string> trace;
    (void)ScanWith(image.bytes(), RecognitionRules::Extended, &trace);
    EXPECT_EQ(EntriesWith(image.bytes(), RecognitionRules::Extended),
              (std::vector<Entry>{{kTypeVh, 0, vhAt}, {kTypeVb, 0, vbAt}, {kTypeSeq, 0, seqAt}}));
    EXPECT_EQ(
        EntriesWith(image.bytes(), RecognitionRules::Classic),
        (std::vector<Entry>{{kTypeVh, 0, vhAt}, {kTypeVb, 0, sample1At}, {kTypeSeq, 0, seqAt}}));
    ASSERT_GE(trace.size(), 2u);
    EXPECT_NE(trace[1].find("by the header's size table"), std::string::npos) << trace[1];

    // A zero block and a start block behind the header, but flags 9 before any sample end:
    // the classic check refuses it, and the size table still places the body there.
    Bytes broken = vb;
    broken.insert(broken.begin(), 16, 0);
    broken[16 + 1] = 2;
    broken[16 + 16 + 1] = 9;
    testkit::VabBuilder longer;
    longer.program(0, testkit::Program({testkit::Tone(1)})).sample(broken);
    ByteBuilder second;
    second.append(longer.BuildVh()).append(longer.BuildVb()).fill(30, 0x99);
    EXPECT_EQ(EntriesWith(second.bytes(), RecognitionRules::Extended),
              (std::vector<Entry>{{kTypeVh, 0, 0}, {kTypeVb, 0, longer.BuildVh().size()}}));
    // The classic scan moves on and meets the start of sample 1 inside the body.
    const uint64_t sample1InSecond =
        longer.BuildVh().size() + 16 + testkit::MakeVag(pcm, bare).size();
    EXPECT_EQ(EntriesWith(second.bytes(), RecognitionRules::Classic),
              (std::vector<Entry>{{kTypeVh, 0, 0}, {kTypeVb, 0, sample1InSecond}}));
}

TEST(ExtendedScanTest, HeaderWithoutAUsableBodyBehindItGivesNoBody) {
    const BankParts bank = MakeBank(31, 3, VagStart::ZeroBlockFlags0, 2, 2);
    const Bytes joined = Joined(bank);
    const uint64_t end = bank.vh.size();

    Bytes cut(joined.begin(), joined.end() - 1); // the body runs one byte past the file
    Bytes implausible = joined;
    implausible[end] = 0x5F;
    ByteBuilder seqBehind;
    seqBehind.append(bank.vh)
        .append(testkit::BuildSingleSeq({}, testkit::SeqTrack().noteOn(0, 0, 60, 1).endOfTrack()))
        .append(bank.vb);
    // A numbered set behind the header whose second sequence is refused: the scan goes on
    // from the set's restore point, never from inside sequence 0, whose note data spell
    // "SSsq" (a signature taken without a check).
    const Bytes refusedSet =
        testkit::BuildSeqSet(
            {{0,
              {},
              testkit::SeqTrack().raw({0x00, 0x90, 0x53, 0x53, 0x73, 0x71, 0x40}).endOfTrack()},
             {1, {}, testkit::SeqTrack().raw({0x81, 0x80, 0x80, 0x80, 0x00}).endOfTrack()}})
            .bytes;
    ByteBuilder setBehind;
    setBehind.append(bank.vh).append(refusedSet).fill(40, 0x99);
    struct Case {
        const char* what;
        Bytes image;
        std::vector<Entry> entries;
    };
    const Case cases[] = {
        {"body cut short", cut, {{kTypeVh, 0, 0}}},
        {"implausible first block", implausible, {{kTypeVh, 0, 0}}},
        {"sequence behind the header", seqBehind.bytes(), {{kTypeVh, 0, 0}, {kTypeSeq, 0, end}}},
        {"refused set behind the header", setBehind.bytes(), {{kTypeVh, 0, 0}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EntriesWith(c.image, RecognitionRules::Extended), c.entries) << c.what;
        EXPECT_TRUE(SameBytes(ScanWith(c.image, RecognitionRules::Extended),
                              ScanWith(c.image, RecognitionRules::Classic)))
            << c.what;
    }
}

// ------------------------------------------------------------- "SEQp"

TEST(ExtendedScanTest, ReversedMagicIsASequenceWithTheSameCheck) {
    GameImage image(41);
    image.Noise(30).SeqReversed(4).Noise(12).SeqSetReversed(3, 2).Noise(9);
    const size_t tooLargeAt = image.size();
    // A delta above 0x0FFFFFFF: refused, and the scan goes on from one byte behind it.
    image.Raw(testkit::WithReversedMagic(testkit::BuildSingleSeq(
        {}, testkit::SeqTrack().raw({0x81, 0x80, 0x80, 0x80, 0x00}).endOfTrack())));
    image.Noise(5).Seq(3).Noise(20);
    const auto& items = image.items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(EntriesWith(image.bytes(), RecognitionRules::Extended),
              (std::vector<Entry>{{kTypeSeq, 0, items[0].offset},
                                  {kTypeSeq, 1, items[1].offset},
                                  {kTypeSeq, 2, items[2].offset}}));
    EXPECT_EQ(EntriesWith(image.bytes(), RecognitionRules::Classic),
              (std::vector<Entry>{{kTypeSeq, 0, items[2].offset}}));
    std::vector<std::string> trace;
    (void)ScanWith(image.bytes(), RecognitionRules::Extended, &trace);
    const std::string refused = "SEQ at 0x" + [&] {
        char text[16];
        std::snprintf(text, sizeof text, "%08zX", tooLargeAt);
        return std::string(text);
    }();
    bool seen = false;
    for (const std::string& line : trace) {
        seen = seen || (line.find(refused) == 0 && line.find("-> Reject") != std::string::npos);
    }
    EXPECT_TRUE(seen) << refused;
}

// ------------------------------------------------------------- classic inputs

TEST(ExtendedScanTest, WhatTheClassicRulesFindGivesTheSameListBytes) {
    std::vector<GameImage> images;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        GameImage image(seed);
        image.Noise(100 * seed)
            .Vh(2, 3, 4)
            .Zeros(32)
            .Vb(4, 3 + static_cast<int>(seed))
            .Noise(50)
            .Seq(5);
        image.SeqSet(static_cast<int>(seed))
            .Noise(20)
            .Kcet(2)
            .Noise(10)
            .GpmSeq(3)
            .GpmHead()
            .Noise(9);
        image.Bank(MakeBank(seed, 3, VagStart::ZeroBlockStartFlags, 1, 2))
            .Noise(40)
            .SceiMidi()
            .Noise(16);
        images.push_back(image);
    }
    for (const GameImage& image : images) {
        ASSERT_EQ(image.Verify(), "");
        const Bytes classic = ScanWith(image.bytes(), RecognitionRules::Classic);
        EXPECT_TRUE(SameBytes(ScanWith(image.bytes(), RecognitionRules::Extended), classic));
        EXPECT_TRUE(
            SameBytes(classic, testkit::ExpectedConvertList("/mem", {{"game.bin", &image}})));
    }
}

TEST(ExtendedScanTest, ComposerNamesLayoutsTheExtendedScanWouldReadDifferently) {
    const BankParts bank = MakeBank(81, 3, VagStart::NoZeroBlock, 1, 2);
    struct Case {
        const char* what;
        GameImage image;
        const char* problem; // nullptr: none
    };
    std::vector<Case> cases;
    cases.push_back({"body without its header", GameImage(1).Noise(20).BankVb(bank).Noise(20),
                     "no header right before it"});
    cases.push_back({"zeros behind a header",
                     GameImage(2).Noise(20).BankVh(bank).Zeros(bank.vb.size()).Noise(9),
                     "taken for its body"});
    cases.push_back({"stray reversed magic",
                     GameImage(3).Noise(20).Raw({'S', 'E', 'Q', 'p'}).Noise(20),
                     "stray signature"});
    cases.push_back(
        {"every shape in place",
         GameImage(5).Noise(20).Bank(bank).Noise(9).SeqReversed().SeqSetReversed(2).Noise(16),
         nullptr});
    for (const Case& c : cases) {
        const std::string problems = c.image.Verify();
        if (c.problem == nullptr) {
            EXPECT_EQ(problems, "") << c.what;
            EXPECT_EQ(EntriesWith(c.image.bytes(), RecognitionRules::Extended).size(),
                      c.image.items().size())
                << c.what;
        } else {
            EXPECT_NE(problems.find(c.problem), std::string::npos) << c.what << ": " << problems;
        }
    }
}

// ------------------------------------------------------------- header and body files

TEST(PlanScansTest, HeaderAndBodyFilesOfOneNameAreScannedTogetherHeaderFirst) {
    struct Case {
        std::vector<std::string> picked;
        std::vector<std::string> order;
        std::vector<bool> body;
    };
    const Case cases[] = {
        {{"/g/a.vb", "/g/x.bin", "/g/a.vh"},
         {"/g/a.vh", "/g/a.vb", "/g/x.bin"},
         {false, true, false}},
        {{"/g/x.bin", "/g/A.VB", "/g/a.Vh"},
         {"/g/x.bin", "/g/a.Vh", "/g/A.VB"},
         {false, false, true}},
        {{"/d/se.vh", "/e/SE.vb"}, {"/d/se.vh", "/e/SE.vb"}, {false, true}},
        {{"/g/a.vh", "/g/b.vb"}, {"/g/a.vh", "/g/b.vb"}, {false, false}},
        {{"/g/y.vh", "/g/x.vb", "/g/x.vh", "/g/y.vb"},
         {"/g/y.vh", "/g/y.vb", "/g/x.vh", "/g/x.vb"},
         {false, true, false, true}},
        // The first body of the name pairs; a second one keeps its place.
        {{"/g/a.vb", "/g/a.vb2", "/g/a.vh", "/h/a.vb"},
         {"/g/a.vh", "/g/a.vb", "/g/a.vb2", "/h/a.vb"},
         {false, true, false, false}},
        {{"/g/.vh", "/g/.vb", "/g/vh", "/g/a.b.vh", "/g/a.b.vb"},
         {"/g/.vh", "/g/.vb", "/g/vh", "/g/a.b.vh", "/g/a.b.vb"},
         {false, false, false, false, true}},
    };
    for (const Case& c : cases) {
        const std::vector<PlannedScan> plan = PlanScans(c.picked, RecognitionRules::Extended);
        std::vector<std::string> order;
        std::vector<bool> body;
        for (const PlannedScan& scan : plan) {
            order.push_back(scan.path);
            body.push_back(scan.bodyOfPreviousHeader);
        }
        EXPECT_EQ(order, c.order) << c.picked.front();
        EXPECT_EQ(body, c.body) << c.picked.front();

        const std::vector<PlannedScan> classic = PlanScans(c.picked, RecognitionRules::Classic);
        ASSERT_EQ(classic.size(), c.picked.size());
        for (size_t i = 0; i < classic.size(); ++i) {
            EXPECT_EQ(classic[i].path, c.picked[i]);
            EXPECT_FALSE(classic[i].bodyOfPreviousHeader);
        }
    }
}

GameImage Alone(const BankParts& bank, bool header) {
    GameImage image;
    return header ? image.BankVh(bank) : image.BankVb(bank);
}

TEST(AnalysisRunExtendedTest, BodyFilePickedFirstFollowsItsHeaderAndIsTakenWhole) {
    const BankParts bank = MakeBank(51, 4, VagStart::NoZeroBlock, 2, 2);
    const GameImage header = Alone(bank, true);
    const GameImage body = Alone(bank, false);
    GameImage other(52);
    other.Noise(30).Seq(3).Noise(30);
    TempFolder games;
    ASSERT_TRUE(testkit::WriteFile(games / "bgm.vb", body.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / "OTHER.BIN", other.bytes()));
    ASSERT_TRUE(testkit::WriteFile(games / "BGM.VH", header.bytes()));
    const std::vector<std::string> picked = {games / "bgm.vb", games / "OTHER.BIN",
                                             games / "BGM.VH"};

    RecordingFeedback feedback;
    std::vector<std::string> trace;
    const AnalysisResult extended =
        AnalyzeSources(picked, games.path(), feedback,
                       [&trace](std::string_view line) { trace.emplace_back(line); });
    ASSERT_EQ(extended.status, AnalysisStatus::ListWritten);
    EXPECT_EQ(extended.listPath, games / "bgm.clg");
    EXPECT_TRUE(SameBytes(
        testkit::ReadFile(extended.listPath),
        testkit::ExpectedConvertList(
            games.path(), {{"BGM.VH", &header}, {"bgm.vb", &body}, {"OTHER.BIN", &other}})));
    int wholeFile = 0;
    for (const std::string& line : trace) {
        wholeFile += line.find("VB at 0x00000000 of bgm.vb") == 0 ? 1 : 0;
    }
    EXPECT_EQ(wholeFile, 1);

    const AnalysisResult classic =
        AnalyzeSources(picked, games.path(), feedback, {}, RecognitionRules::Classic);
    ASSERT_EQ(classic.status, AnalysisStatus::ListWritten);
    EXPECT_TRUE(
        SameBytes(testkit::ReadFile(classic.listPath),
                  testkit::ExpectedConvertList(
                      games.path(), {{"bgm.vb", &body}, {"OTHER.BIN", &other}, {"BGM.VH", &header}},
                      ListRules::Classic)));
}

TEST(AnalysisRunExtendedTest, BodyFileIsTakenWholeOnlyWhenNothingElseExplainsIt) {
    const BankParts bank = MakeBank(61, 3, VagStart::ZeroBlockFlags0, 1, 2);
    const BankParts classicBank = MakeBank(62, 3, VagStart::ZeroBlockStartFlags, 1, 2);
    Bytes longer = bank.vb;
    longer.push_back(0x55);
    ByteBuilder headerThenSeq;
    headerThenSeq.append(bank.vh).append(
        testkit::BuildSingleSeq({}, testkit::SeqTrack().endOfTrack()));
    struct Case {
        const char* what;
        Bytes header;
        Bytes body;
        std::vector<std::pair<uint32_t, uint64_t>> entries; // type and offset, in list order
    };
    const Case cases[] = {
        {"body one byte longer than its table", bank.vh, longer, {{kTypeVh, 0}}},
        {"body the classic scan finds",
         classicBank.vh,
         classicBank.vb,
         {{kTypeVh, 0}, {kTypeVb, 0}}},
        {"header file ending in another item",
         headerThenSeq.bytes(),
         bank.vb,
         {{kTypeVh, 0}, {kTypeSeq, bank.vh.size()}}},
        {"the pair", bank.vh, bank.vb, {{kTypeVh, 0}, {kTypeVb, 0}}},
    };
    for (const Case& c : cases) {
        TempFolder games;
        ASSERT_TRUE(testkit::WriteFile(games / "snd.vb", c.body));
        ASSERT_TRUE(testkit::WriteFile(games / "snd.vh", c.header));
        NullFeedback feedback;
        const AnalysisResult r =
            AnalyzeSources({games / "snd.vb", games / "snd.vh"}, games.path(), feedback);
        ASSERT_EQ(r.status, AnalysisStatus::ListWritten) << c.what;
        const auto list = LoadList(r.listPath);
        ASSERT_TRUE(list.has_value()) << c.what;
        std::vector<std::pair<uint32_t, uint64_t>> entries;
        for (const ListEntry& e : list->entries) {
            entries.emplace_back(e.type, e.offset);
        }
        EXPECT_EQ(entries, c.entries) << c.what;
    }
}

} // namespace
} // namespace sonvex
