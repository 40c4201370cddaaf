// SPDX-License-Identifier: GPL-3.0-or-later
// The scan of one file: which windows become candidates, where the scan goes on after
// each result, numbering across files, the progress figures and status texts, and the
// two messages.
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "analysis/scan_checks.h"
#include "analysis/source_scanner.h"
#include "analysis_test_support.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "formats/diagnostics.h"
#include "formats/signatures.h"
#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"

namespace sonvex {
namespace {

using testing::SameBytes;
using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::GameImage;
using testkit::VagEnd;
using Kind = RecordingFeedback::Kind;
using signatures::ItemKind;
using signatures::Signature;

// A signature for failure messages: its bytes, those that are not letters in hex.
std::string Shown(std::string_view magic) {
    std::string out;
    for (const char c : magic) {
        out += std::isalpha(static_cast<unsigned char>(c)) ? std::string(1, c)
                                                           : HexByte(static_cast<uint8_t>(c));
    }
    return out;
}

using Entry = std::tuple<uint32_t, int32_t, uint64_t>; // type, number, offset

// Scans `game` from memory into a list whose folder is "/mem"; returns the list bytes.
Bytes ScanInMemory(const Bytes& game, GroupCounters& counters, Feedback& feedback,
                   const ScanTrace& trace = {},
                   RecognitionRules rules = RecognitionRules::Extended) {
    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    files.Put("/mem/game.bin", game);
    ChunkFile list;
    ChunkFile source;
    EXPECT_TRUE(list.Create("/mem/list.clg"));
    EXPECT_TRUE(source.OpenRead("/mem/game.bin"));
    ChunkListFile listFile(list);
    EXPECT_TRUE(WriteHeader(listFile, 0, "/mem"));
    const uint32_t before = counters.Total();
    EXPECT_EQ(ScanOpenSource(list, source, "game.bin", counters, feedback, trace, rules),
              ScanOutcome::Scanned);
    EXPECT_TRUE(PatchCount(listFile, counters.Total() - before));
    EXPECT_TRUE(list.Close());
    return files.Contents("/mem/list.clg");
}

// The trace lines of a scan of `game`: one per candidate checked.
std::vector<std::string> TraceOf(const Bytes& game,
                                 RecognitionRules rules = RecognitionRules::Extended) {
    std::vector<std::string> lines;
    GroupCounters counters;
    NullFeedback feedback;
    (void)ScanInMemory(
        game, counters, feedback, [&](std::string_view line) { lines.emplace_back(line); }, rules);
    return lines;
}

std::vector<Entry> EntriesOf(const Bytes& game) {
    GroupCounters counters;
    NullFeedback feedback;
    ConvertList list;
    EXPECT_EQ(ParseList(ScanInMemory(game, counters, feedback), list), ListLoad::Ok);
    std::vector<Entry> out;
    for (const ListEntry& e : list.entries) {
        out.emplace_back(e.type, e.number, e.offset);
    }
    return out;
}

TEST(ScanProgressTest, FollowsTheIntegerFormula) {
    EXPECT_EQ(ScanProgress(0, 1000), 0);
    EXPECT_EQ(ScanProgress(500, 0), 0) << "size unknown";
    // Below 100 bytes the quotient comes first: 0 until the end.
    EXPECT_EQ(ScanProgress(49, 50), 0);
    EXPECT_EQ(ScanProgress(50, 50), 100);
    EXPECT_EQ(ScanProgress(99, 99), 100);
    EXPECT_EQ(ScanProgress(9, 1000), 0);
    EXPECT_EQ(ScanProgress(10, 1000), 1);
    EXPECT_EQ(ScanProgress(999, 1000), 99);
    EXPECT_EQ(ScanProgress(1000, 1000), 100);
    // size / 100 rounds down, so the raw figure can pass 100 (199 / 1); the bar shows 100.
    EXPECT_EQ(ScanProgress(150, 199), 100);
    EXPECT_EQ(ScanProgress(99, 199), 99);
    // A position past the end (a bank header measured beyond the file).
    EXPECT_EQ(ScanProgress(5000, 1000), 100);
    // Sizes beyond 4 GiB.
    const int64_t big = 6LL << 30;
    EXPECT_EQ(ScanProgress(big / 2, big), 50);
    EXPECT_EQ(ScanProgress(big / 100 * 99, big), 99);
    EXPECT_EQ(ScanProgress(big - 1, big), 100) << "size / 100 is rounded down";
}

TEST(ScanSourceTest, EveryKindIsListedWithItsGroupNumber) {
    GameImage image(11);
    image.Noise(50).Seq(5).Noise(20).Vh(3, 2, 4, 5).Zeros(40).Vb(3, 4).Noise(33).Kcet(3).Noise(7);
    image.SceiHead().Noise(9).SceiMidi().Zeros(20).GpmHead().Noise(12).GpmSeq(4).Noise(15);
    image.SeqSet(3).Noise(30).Vb(2, 3, VagEnd::StopBlock).Noise(20).Seq(2).Noise(40);
    ASSERT_EQ(image.Verify(), "");
    GroupCounters counters;
    NullFeedback feedback;
    const Bytes list = ScanInMemory(image.bytes(), counters, feedback);
    EXPECT_TRUE(SameBytes(list, testkit::ExpectedConvertList("/mem", {{"game.bin", &image}})))
        << image.Describe();
    EXPECT_EQ(counters.sequences, 6u);
    EXPECT_EQ(counters.bankHeaders, 3u);
    EXPECT_EQ(counters.bankBodies, 2u);
}

TEST(ScanSourceTest, UncheckedKindsResumeOneByteLater) {
    // A "SSsq" right behind the "IECS daeH" signature is found inside it.
    ByteBuilder b;
    b.text("IECSdaeH").text("SSsq").fill(12, 0x99);
    EXPECT_EQ(EntriesOf(b.bytes()),
              (std::vector<Entry>{{kTypeSceiHead, 0, 0}, {kTypeGpmSeq, 0, 8}}));
    // "SSShd": the window at 0 is no signature, the one at 1 is.
    ByteBuilder c;
    c.text("SSShd").fill(16, 0x99);
    EXPECT_EQ(EntriesOf(c.bytes()), (std::vector<Entry>{{kTypeGpmHead, 0, 1}}));
}

// The signatures games use, written down apart from the table the scanner is built from.
TEST(SignatureTableTest, HoldsEachKnownSignatureOnce) {
    struct Known {
        std::string_view magic;
        ItemKind kind;
        bool extendedOnly;
    };
    const std::vector<Known> known = {
        {std::string_view("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), ItemKind::Vb, false},
        {"pQES", ItemKind::Seq, false},
        {"SEQp", ItemKind::Seq, true},
        {"pBAV", ItemKind::Vh, false},
        {"KCET", ItemKind::KcetSeq, false},
        {"SShd", ItemKind::GpmHead, false},
        {"SSsq", ItemKind::GpmSeq, false},
        {"IECSdaeH", ItemKind::SceiHead, false},
        {"IECSidiM", ItemKind::SceiMidi, false}};
    ASSERT_EQ(signatures::kSignatures.size(), known.size());
    for (const Known& k : known) {
        const auto* s = std::find_if(signatures::kSignatures.begin(), signatures::kSignatures.end(),
                                     [&](const Signature& t) { return t.magic == k.magic; });
        ASSERT_NE(s, signatures::kSignatures.end()) << k.magic;
        EXPECT_EQ(s->kind, k.kind) << k.magic;
        EXPECT_EQ(s->extendedOnly, k.extendedOnly) << k.magic;
        EXPECT_EQ(s->needsSampleStartBehind, k.kind == ItemKind::Vb) << k.magic;
    }
}

std::array<uint8_t, 16> WindowOf(std::string_view head, uint8_t filler = 0x99) {
    std::array<uint8_t, 16> window{};
    window.fill(filler);
    std::copy(head.begin(),
              head.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(16, head.size())),
              window.begin());
    return window;
}

// Every signature of the table opens a window of its kind; one changed byte, or the
// signature one byte into the window, does not. A changed byte behind a signature's family
// ("IECS", four zeros) leaves a near miss, passed without counting as idle.
TEST(WindowClassificationTest, EachSignatureAndItsNearMisses) {
    for (const Signature& s : signatures::kSignatures) {
        for (const RecognitionRules rules :
             {RecognitionRules::Classic, RecognitionRules::Extended}) {
            const bool looked = rules == RecognitionRules::Extended || !s.extendedOnly;
            const std::string label =
                Shown(s.magic) + (rules == RecognitionRules::Classic ? " classic" : " extended");
            const auto window = WindowOf(s.magic);
            const WindowClass whole = ClassifyWindow(window.data(), rules);
            if (looked) {
                EXPECT_EQ(whole.step,
                          s.needsSampleStartBehind ? WindowStep::ZeroBlock : WindowStep::Candidate)
                    << label;
                EXPECT_EQ(whole.kind, s.kind) << label;
            } else {
                EXPECT_EQ(whole.step, WindowStep::Idle) << label;
            }
            for (size_t i = 0; i < s.magic.size(); ++i) {
                auto changed = window;
                changed[i] ^= 0x01;
                const WindowStep expected =
                    looked && i >= s.familyLength ? WindowStep::MoveOn : WindowStep::Idle;
                EXPECT_EQ(ClassifyWindow(changed.data(), rules).step, expected)
                    << label << ", byte " << i << " changed";
            }
            const auto shifted = WindowOf(std::string("\x99") + std::string(s.magic));
            EXPECT_EQ(ClassifyWindow(shifted.data(), rules).step, WindowStep::Idle) << label;
        }
    }
}

// At the end of a file: a signature is checked when the file holds its whole window (and,
// for the zero block, the flags byte behind it), and not when the file is one byte shorter.
TEST(WindowClassificationTest, EachSignatureAtTheEndOfTheFile) {
    for (const Signature& s : signatures::kSignatures) {
        Bytes bytes = {0x99, 0x99, 0x99};
        bytes.insert(bytes.end(), s.magic.begin(), s.magic.end());
        bytes.resize(3 + 16, 0x99);
        if (s.needsSampleStartBehind) {
            bytes.push_back(0x12);
            bytes.push_back(0x02);
        }
        const std::string at = std::string(ItemName(s.kind)) + " at 0x00000003";
        auto checkedAt3 = [&](const Bytes& game, RecognitionRules rules) {
            const std::vector<std::string> lines = TraceOf(game, rules);
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.rfind(at, 0) == 0; });
        };
        EXPECT_TRUE(checkedAt3(bytes, RecognitionRules::Extended)) << Shown(s.magic);
        EXPECT_EQ(checkedAt3(bytes, RecognitionRules::Classic), !s.extendedOnly) << Shown(s.magic);
        bytes.pop_back();
        EXPECT_FALSE(checkedAt3(bytes, RecognitionRules::Extended)) << Shown(s.magic) << " cut";
    }
}

TEST(ScanSourceTest, CheckedItemsAreJumpedOverWhole) {
    GameImage image(5);
    image.Noise(10).Vh(2, 2, 2).Noise(20);
    Bytes bytes = image.bytes();
    const size_t inside = image.items()[0].end - 100;
    bytes[inside] = 'S';
    bytes[inside + 1] = 'S';
    bytes[inside + 2] = 's';
    bytes[inside + 3] = 'q';
    EXPECT_EQ(EntriesOf(bytes), (std::vector<Entry>{{kTypeVh, 0, 10}}));
}

TEST(ScanSourceTest, ZeroBlocksStartABodyOnlyBeforeAStartFlag) {
    for (uint8_t flags = 0; flags < 8; ++flags) {
        ByteBuilder b;
        b.fill(7, 0x99).fill(16).u8(0x12).u8(flags).fill(14, 0x5A);
        b.u8(0x12).u8(3).fill(14, 0x5A).fill(16, 0x99).text("SShd").fill(12, 0x99);
        const bool start = flags == 2 || flags == 4 || flags == 5 || flags == 6;
        std::vector<Entry> expected;
        if (start) {
            expected.emplace_back(kTypeVb, 0, 7);
        }
        expected.emplace_back(kTypeGpmHead, 0, 7 + 16 + 32 + 16);
        EXPECT_EQ(EntriesOf(b.bytes()), expected) << "flags " << int(flags);
    }
}

TEST(ScanSourceTest, StopScanEndsTheFileButAcceptAndStopKeepsItsEntry) {
    {
        // A sequence without an end of track: the walk reaches the end of the file, so
        // the "SShd" that its events pass over is never looked at.
        ByteBuilder b;
        b.fill(3, 0x99).text("pQES").u32be(1).u16be(480).u24be(500000).u8(4).u8(2);
        b.u8(0x00).u8(0x90).text("SShd").u8(0x10).fill(40, 0x10);
        EXPECT_EQ(EntriesOf(b.bytes()), std::vector<Entry>{});
    }
    {
        GameImage image(8);
        image.Noise(20).GpmHead().Noise(20);
        ByteBuilder b;
        b.append(image.bytes()).fill(16).u8(0).u8(2).fill(14, 0x33).u8(0).u8(0).fill(14, 0x33);
        const uint64_t body = image.size();
        EXPECT_EQ(EntriesOf(b.bytes()),
                  (std::vector<Entry>{{kTypeGpmHead, 0, 20}, {kTypeVb, 0, body}}));
    }
}

TEST(ScanSourceTest, OverlongDeltaCutByTheEndOfTheFileEndsTheScan) {
    // The header's timing bytes spell "SSsq"; the first delta time runs to the end of the
    // file. Had the candidate been rejected, the scan would go on and list the "SSsq".
    ByteBuilder b;
    b.fill(3, 0x99).text("pQES").u32be(1).text("SSsq").u8(4).u8(2).u8(0x81);
    b.fill(5000, 0xFF);
    EXPECT_EQ(EntriesOf(b.bytes()), std::vector<Entry>{});
    // With the delta time complete, the rejected candidate lets the scan find it.
    b.u8(0x00).fill(20, 0x99);
    EXPECT_EQ(EntriesOf(b.bytes()), (std::vector<Entry>{{kTypeGpmSeq, 0, 3 + 8}}));
}

TEST(ScanSourceTest, RejectedSetResumesOneByteAfterItsRestorePoint) {
    ByteBuilder b;
    b.text("pQES").u16be(1).u16be(0).u16be(480).u24be(500000).u8(4).u8(2).u32be(0);
    // Events whose data bytes spell "SShd": note on 53 53, then 68 64 under running status.
    b.u8(0x00).u8(0x90).text("SShd").u8(0x10).u8(0x00).u8(0xFF).u8(0x2F).u8(0x00);
    b.u16be(1).u16be(480).u24be(500000).u8(4).u8(2).u32be(0);
    const uint64_t second = b.size() + 2;
    b.u8(0x00).u8(0x90).text("SShd").u8(0x10).u8(0xFF).u8(0xFF).u8(0xFF).u8(0xFF).u8(0x7F).fill(
        40, 0x99);
    // The first sequence lies before the restore point and is not scanned again.
    EXPECT_EQ(EntriesOf(b.bytes()), (std::vector<Entry>{{kTypeGpmHead, 0, second}}));
}

TEST(ScanSourceTest, TraceNamesEachCandidateWithItsOffsetAndResult) {
    ByteBuilder b;
    b.fill(2, 0x99).text("pQES").u32be(1).u16be(480).u24be(500000).u8(4).u8(2);
    b.u8(0xFF).u8(0xFF).u8(0xFF).u8(0xFF).u8(0x7F).fill(20, 0x99).text("SShd").fill(12, 0x99);
    const std::vector<std::string> lines = TraceOf(b.bytes());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("SEQ at 0x00000002: delta time above 0x0FFFFFFF", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("-> Reject"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "GPMhead at 0x0000002A: taken without a check -> Accept");
}

TEST(ScanSourceTest, NumbersGoOnAcrossFilesOfOneRun) {
    GameImage first(21);
    first.Noise(30).Seq(2).Noise(10).Vh().Noise(10).Vb(1, 2).Noise(20);
    GameImage second(22);
    second.Noise(5).GpmSeq(2).Noise(10).GpmHead().Noise(10).Vb(2, 2).Noise(10).Kcet(1).Noise(20);
    ASSERT_EQ(first.Verify(), "");
    ASSERT_EQ(second.Verify(), "");
    GroupCounters counters;
    NullFeedback feedback;
    (void)ScanInMemory(first.bytes(), counters, feedback);
    ConvertList list;
    ASSERT_EQ(ParseList(ScanInMemory(second.bytes(), counters, feedback), list), ListLoad::Ok);
    ASSERT_EQ(list.entries.size(), 4u);
    EXPECT_EQ(list.entries[0].number, 1) << "GPMseq after one SEQ";
    EXPECT_EQ(list.entries[1].number, 1) << "GPMhead after one VH";
    EXPECT_EQ(list.entries[2].number, 1) << "VB after one VB";
    EXPECT_EQ(list.entries[3].number, 2) << "KCETSeq after SEQ and GPMseq";
    EXPECT_EQ(counters.Total(), 7u);
}

TEST(ScanSourceTest, ShortFileGivesNoEntriesButBothStatusTexts) {
    for (size_t length : {size_t{0}, size_t{15}}) {
        RecordingFeedback feedback;
        GroupCounters counters;
        ConvertList list;
        ASSERT_EQ(ParseList(ScanInMemory(Bytes(length, 0x53), counters, feedback), list),
                  ListLoad::Ok);
        EXPECT_TRUE(list.entries.empty());
        EXPECT_EQ(feedback.StatusTexts(),
                  (std::vector<std::string>{std::string("game.bin") + kScanningSuffix,
                                            std::string("game.bin") + kScannedSuffix}));
        EXPECT_EQ(feedback.ProgressValues().back(), length == 0 ? 0 : 100);
    }
}

TEST(ScanSourceTest, ReportsOnceAtTheStartAfterEachEntryAndAtTheEnd) {
    GameImage image(31);
    image.Noise(100).GpmHead().Noise(200).Seq(4).Noise(150).SceiMidi().Noise(60);
    image.Noise(1000 - image.size());
    ASSERT_EQ(image.Verify(), "");
    ASSERT_EQ(image.size(), 1000u);
    testkit::TempFolder folder;
    const std::string path = folder / "ｹﾞｰﾑ.bin";
    ASSERT_TRUE(testkit::WriteFile(path, image.bytes()));

    MemoryFileSystem memory;
    ChunkFile list;
    {
        ScopedFileSystem guard(memory);
        ASSERT_TRUE(list.Create("/mem/list.clg"));
    }
    RecordingFeedback feedback;
    GroupCounters counters;
    ASSERT_EQ(ScanSourceFile(list, path, counters, feedback), ScanOutcome::Scanned);

    using Event = RecordingFeedback::Event;
    std::vector<Event> expected = {{Kind::GamePath, path, 0},
                                   {Kind::Progress, "", 0},
                                   {Kind::Status, std::string("ｹﾞｰﾑ.bin") + kScanningSuffix, 0},
                                   {Kind::Refresh, "", 0}};
    int shown = 0;
    for (const testkit::PlacedItem& item : image.items()) {
        // 1000 bytes: the bar shows position / 10 behind each entry.
        const int value = static_cast<int>(item.end / 10);
        if (value != shown) {
            expected.push_back({Kind::Progress, "", value});
            expected.push_back({Kind::Refresh, "", 0});
            shown = value;
        }
    }
    expected.push_back({Kind::Progress, "", 100});
    expected.push_back({Kind::Refresh, "", 0});
    expected.push_back({Kind::Status, std::string("ｹﾞｰﾑ.bin") + kScannedSuffix, 0});
    ASSERT_EQ(feedback.events.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(feedback.events[i].kind, expected[i].kind) << "event " << i;
        EXPECT_EQ(feedback.events[i].text, expected[i].text) << "event " << i;
        EXPECT_EQ(feedback.events[i].value, expected[i].value) << "event " << i;
    }
}

TEST(ScanSourceTest, LongIdleStretchShowsEachPercentOnceWithoutRepaintingPerByte) {
    GameImage image(41);
    image.Noise(300000);
    RecordingFeedback feedback;
    GroupCounters counters;
    (void)ScanInMemory(image.bytes(), counters, feedback);
    std::vector<int> percents;
    for (int v = 0; v <= 100; ++v) {
        percents.push_back(v);
    }
    EXPECT_EQ(feedback.ProgressValues(), percents);
    int refreshes = 0;
    for (const auto& e : feedback.events) {
        refreshes += e.kind == Kind::Refresh ? 1 : 0;
    }
    EXPECT_LE(refreshes, 102);
}

TEST(ScanSourceTest, MissingOrUnreadableFilesShowTheirMessages) {
    testkit::TempFolder folder;
    MemoryFileSystem memory;
    ChunkFile list;
    {
        ScopedFileSystem guard(memory);
        ASSERT_TRUE(list.Create("/mem/list.clg"));
    }
    GroupCounters counters;
    {
        RecordingFeedback feedback;
        EXPECT_EQ(ScanSourceFile(list, folder / "none.bin", counters, feedback),
                  ScanOutcome::InvalidName);
        ASSERT_EQ(feedback.events.size(), 1u);
        EXPECT_EQ(feedback.events[0].kind, Kind::Message);
        EXPECT_EQ(feedback.events[0].text, Message(MessageId::ScannedFileMissing).text);
        EXPECT_EQ(feedback.events[0].value, static_cast<int>(MessageIcon::Stop));
    }
    {
        const std::string path = folder / "locked.bin";
        ASSERT_TRUE(testkit::WriteFile(path, Bytes(64, 0x99)));
        PosixFileSystem posix;
        FaultInjectingFileSystem faulty(posix);
        faulty.FailOpenRead(true);
        ScopedFileSystem guard(faulty);
        RecordingFeedback feedback;
        EXPECT_EQ(ScanSourceFile(list, path, counters, feedback), ScanOutcome::CannotOpen);
        ASSERT_EQ(feedback.events.size(), 2u);
        EXPECT_EQ(feedback.events[0].kind, Kind::GamePath);
        EXPECT_EQ(feedback.events[1].text, Message(MessageId::ScannedFileOpenFailed).text);
        EXPECT_EQ(feedback.events[1].value, static_cast<int>(MessageIcon::Stop));
    }
    EXPECT_EQ(counters.Total(), 0u);
}

// The game file is cut short while it is scanned (when the progress first reaches 10%):
// the scan, which reads the file through a mapping, ends without a crash, lists every item
// that the file still holds whole, and nothing past its new end. So it does when threads
// check pieces of the file ahead of it and read past the new end first.
TEST(ScanSourceTest, FileCutShortDuringTheScanEndsItWithoutACrash) {
    GameImage image(61);
    for (int i = 0; i < 150; ++i) {
        image.Noise(9000).Seq(6);
    }
    testkit::TempFolder folder;
    const std::string path = folder / "game.bin";
    const auto cut = static_cast<off_t>(image.size() / 4);
    size_t whole = 0;
    for (const testkit::PlacedItem& item : image.items()) {
        whole += item.end <= static_cast<uint64_t>(cut) ? 1 : 0;
    }
    ASSERT_GT(whole, 30u);

    class CuttingFeedback : public NullFeedback {
      public:
        CuttingFeedback(std::string path, off_t at, bool slow)
            : path_(std::move(path)), at_(at), slow_(slow) {}
        void SetProgress(int position) override {
            if (position >= 10 && !cut) {
                cut = ::truncate(path_.c_str(), at_) == 0;
            }
            if (slow_) {
                // The threads checking ahead are ahead when the file shrinks.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        bool cut = false;

      private:
        std::string path_;
        off_t at_;
        bool slow_;
    };

    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " thread(s)");
        ASSERT_TRUE(testkit::WriteFile(path, image.bytes()));
        CuttingFeedback feedback(path, cut, threads > 1);
        ChunkFile list;
        ASSERT_TRUE(list.Create(folder / "game.clg"));
        ChunkListFile listFile(list);
        ASSERT_TRUE(WriteHeader(listFile, 0, folder.path()));
        GroupCounters counters;
        EXPECT_EQ(ScanSourceFile(list, path, counters, feedback, {}, RecognitionRules::Extended,
                                 nullptr, {}, ScanThreads{threads, 16 * 1024, 0}),
                  ScanOutcome::Scanned);
        ASSERT_TRUE(feedback.cut);
        ASSERT_TRUE(PatchCount(listFile, counters.Total()));
        ASSERT_TRUE(list.Close());
        ConvertList parsed;
        ASSERT_EQ(ParseList(testkit::ReadFile(folder / "game.clg"), parsed), ListLoad::Ok);
        ASSERT_GE(parsed.entries.size(), whole);
        for (size_t i = 0; i < parsed.entries.size(); ++i) {
            EXPECT_LT(parsed.entries[i].offset, static_cast<uint64_t>(cut));
            if (i < whole) {
                EXPECT_EQ(parsed.entries[i].offset, image.items()[i].offset);
            }
        }
    }
}

TEST(ScanSourceTest, ListThatCannotBeWrittenStopsTheScan) {
    GameImage image(51);
    for (int i = 0; i < 4000; ++i) {
        image.GpmHead(12);
    }
    MemoryFileSystem memory;
    FaultInjectingFileSystem faulty(memory);
    memory.Put("/mem/game.bin", image.bytes());
    ScopedFileSystem guard(faulty);
    ChunkFile list;
    ChunkFile source;
    ASSERT_TRUE(list.Create("/mem/list.clg"));
    ASSERT_TRUE(source.OpenRead("/mem/game.bin"));
    faulty.FailWritesAfter(100);
    GroupCounters counters;
    NullFeedback feedback;
    EXPECT_EQ(ScanOpenSource(list, source, "game.bin", counters, feedback),
              ScanOutcome::ListWriteFailed);
    EXPECT_LT(counters.bankHeaders, 4000u);
}

} // namespace
} // namespace sonvex
