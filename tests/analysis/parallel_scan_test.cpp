// SPDX-License-Identifier: GPL-3.0-or-later
// The scan whose candidates are checked on several threads against the scan on one: the
// same list, feedback, counters and summary for composed images whose items lie across the
// edges of the pieces the threads take.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/source_scanner.h"
#include "analysis_test_support.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"

namespace sonvex {
namespace {

using testing::SameBytes;
using testkit::Bytes;
using testkit::GameImage;

constexpr int64_t kPiece = 4096;

// Records like RecordingFeedback and holds the scan up at every repaint (the first one
// longer), so that the threads checking ahead get ahead and their outcomes are taken.
class SlowFeedback : public RecordingFeedback {
  public:
    explicit SlowFeedback(std::chrono::microseconds first) : first_(first) {}
    void Refresh() override {
        std::this_thread::sleep_for(std::exchange(first_, std::chrono::microseconds(100)));
        RecordingFeedback::Refresh();
    }

  private:
    std::chrono::microseconds first_;
};

struct Scan {
    Bytes list;
    std::vector<RecordingFeedback::Event> events;
    std::vector<std::string> trace;
    GroupCounters counters;
    ScanSummary summary;
};

Scan ScanFile(const std::string& path, const std::string& listPath, RecognitionRules rules,
              unsigned threads, bool traced = false,
              std::chrono::microseconds headStart = std::chrono::microseconds(100)) {
    Scan scan;
    ChunkFile list;
    EXPECT_TRUE(list.Create(listPath));
    ChunkListFile listFile(list);
    EXPECT_TRUE(WriteHeader(listFile, 0, "/games"));
    SlowFeedback feedback(headStart);
    ScanTrace trace;
    if (traced) {
        trace = [&scan](std::string_view line) { scan.trace.emplace_back(line); };
    }
    EXPECT_EQ(ScanSourceFile(list, path, scan.counters, feedback, trace, rules, &scan.summary, {},
                             ScanThreads{threads, kPiece, 0}),
              ScanOutcome::Scanned);
    EXPECT_TRUE(list.Close());
    scan.list = testkit::ReadFile(listPath);
    scan.events = feedback.events;
    return scan;
}

::testing::AssertionResult SameScan(const Scan& actual, const Scan& expected) {
    if (auto lists = SameBytes(actual.list, expected.list); !lists) {
        return ::testing::AssertionFailure() << "list: " << lists.message();
    }
    if (actual.events.size() != expected.events.size()) {
        return ::testing::AssertionFailure() << "feedback: " << actual.events.size()
                                             << " calls instead of " << expected.events.size();
    }
    for (size_t i = 0; i < actual.events.size(); ++i) {
        const auto& a = actual.events[i];
        const auto& e = expected.events[i];
        if (a.kind != e.kind || a.text != e.text || a.value != e.value) {
            return ::testing::AssertionFailure() << "feedback call " << i << " differs";
        }
    }
    if (actual.trace != expected.trace) {
        return ::testing::AssertionFailure() << "trace differs";
    }
    const GroupCounters& c = actual.counters;
    const GroupCounters& d = expected.counters;
    const ScanSummary& s = actual.summary;
    const ScanSummary& t = expected.summary;
    if (c.sequences != d.sequences || c.bankHeaders != d.bankHeaders ||
        c.bankBodies != d.bankBodies || s.size != t.size || s.entries != t.entries ||
        s.lastIsHeader != t.lastIsHeader || s.lastHeaderBodyLength != t.lastHeaderBodyLength) {
        return ::testing::AssertionFailure() << "counters or summary differ";
    }
    return ::testing::AssertionSuccess();
}

// Noise up to `before` bytes short of the next edge of a piece (at least one byte).
void NoiseUpToEdge(GameImage& image, int64_t before) {
    const auto size = static_cast<int64_t>(image.size());
    int64_t edge = (size / kPiece + 1) * kPiece;
    while (edge - before <= size) {
        edge += kPiece;
    }
    image.Noise(static_cast<size_t>(edge - before - size));
}

// Every kind of item, a zero run and a header with its body by the size table, each
// starting a few bytes before an edge of a piece, so that it reaches into the next.
GameImage AcrossEdges(uint32_t seed) {
    GameImage image(seed);
    const testkit::BankParts bank = testkit::MakeBank(seed, 3, testkit::VagStart::NoZeroBlock);
    const int64_t befores[] = {1, 2, 15, 16, 17, 18, 40, 700};
    int which = 0;
    for (const int64_t before : befores) {
        for (int kind = 0; kind < 9; ++kind, ++which) {
            NoiseUpToEdge(image, before);
            switch (kind) {
            case 0:
                image.Seq(5);
                break;
            case 1:
                image.SeqSet(3, 3);
                break;
            case 2:
                image.Vh(2, 2, 3).Noise(30).Vb(2, 3);
                break;
            case 3:
                image.Kcet(3);
                break;
            case 4:
                image.SeqSetReversed(2, 3);
                break;
            case 5:
                image.GpmSeq(4).SceiHead(20).SceiMidi(20).GpmHead(20);
                break;
            case 6:
                // The header ends `before` bytes short of the edge: its body lies across it.
                NoiseUpToEdge(image, before + static_cast<int64_t>(bank.vh.size()));
                image.Bank(bank);
                break;
            case 7:
                image.Zeros(static_cast<size_t>(before + 40));
                break;
            default:
                image.Vb(2, 2, testkit::VagEnd::StopBlock);
                break;
            }
        }
    }
    return image;
}

TEST(ParallelScanTest, ListsMatchTheScanOnOneThread) {
    testkit::TempFolder folder;
    std::vector<std::pair<std::string, Bytes>> files;
    for (uint32_t seed = 1; seed <= 2; ++seed) {
        files.emplace_back("items across edges " + std::to_string(seed), AcrossEdges(seed).bytes());
    }
    // A sequence that the end of the file cuts short (the scan stops in it), and a bank body
    // that runs to the end of the file (taken, and the scan stops), pieces behind the start.
    {
        Bytes cut = AcrossEdges(3).bytes();
        const Bytes seq = GameImage(4).Seq(40).bytes();
        cut.insert(cut.end(), seq.begin(),
                   seq.begin() + static_cast<std::ptrdiff_t>(seq.size() / 2));
        files.emplace_back("sequence cut by the end", cut);
        Bytes body = AcrossEdges(5).bytes();
        const Bytes vb = GameImage(6).Vb(3, 4).bytes();
        body.insert(body.end(), vb.begin(), vb.end() - 20);
        files.emplace_back("bank body to the end", body);
    }
    // A check that reads past the end of the file (a KCET length table whose block ends
    // there) and, pieces later, a header whose body by the size table runs past the end:
    // what the scan's buffered file read before may weigh on the size it reports.
    {
        GameImage image(7);
        image.Noise(static_cast<size_t>(kPiece + 100));
        Bytes kcet = GameImage(8).Kcet(1).bytes();
        kcet.resize(56);
        kcet[52] = 0xFF;
        kcet[53] = 0xFF;
        image.Raw(kcet).Noise(static_cast<size_t>(3 * kPiece));
        const testkit::BankParts bank = testkit::MakeBank(9, 3, testkit::VagStart::NoZeroBlock);
        image.BankVh(bank);
        Bytes bytes = image.bytes();
        bytes.insert(bytes.end(), bank.vb.begin(), bank.vb.begin() + 64);
        files.emplace_back("read past the end before a body by the size table", bytes);
    }

    uint64_t taken = 0;
    for (const auto& [label, bytes] : files) {
        const std::string path = folder / "game.bin";
        ASSERT_TRUE(testkit::WriteFile(path, bytes));
        ASSERT_GT(bytes.size(), static_cast<size_t>(4 * kPiece)) << label;
        for (const RecognitionRules rules :
             {RecognitionRules::Classic, RecognitionRules::Extended}) {
            const Scan one = ScanFile(path, folder / "one.clg", rules, 1);
            ASSERT_GT(one.summary.entries, 0u) << label;
            EXPECT_EQ(one.summary.checksTakenAhead, 0u);
            for (const unsigned threads : {2u, 4u}) {
                const Scan many = ScanFile(path, folder / "many.clg", rules, threads);
                EXPECT_TRUE(SameScan(many, one))
                    << label << ", " << threads << " threads, "
                    << (rules == RecognitionRules::Classic ? "classic" : "extended");
                taken += many.summary.checksTakenAhead;
            }
        }
    }
    EXPECT_GT(taken, 0u) << "no check was taken from another thread";
}

// A thread starting a piece inside an item that the scan takes whole walks other windows
// than the scan: here it takes a bank body inside a KCET item and running on past it, over
// an "SShd" header that the scan meets right behind the KCET. The scan finds no outcome at
// that header's position and must check it itself, not take the next outcome recorded.
TEST(ParallelScanTest, ScanTakesOnlyOutcomesAtItsOwnPositions) {
    constexpr int64_t kEdge = 2 * kPiece;
    Bytes bytes = GameImage(31).Noise(static_cast<size_t>(kEdge - 64)).bytes();
    // KCET tags (from the composer's own item) with one block of `length` bytes ending FF FF.
    Bytes kcet = GameImage(32).Kcet(0).bytes();
    kcet.resize(48);
    const int64_t blockAt = kEdge - 64 + 54;
    const int64_t zerosAt = kEdge + 16; // the body's leading zero block, inside the KCET block
    const int64_t kcetEnd = zerosAt + 16 * 6 + 6;
    const auto length = static_cast<uint16_t>(kcetEnd - blockAt);
    kcet.insert(kcet.end(),
                {1, 0, 0, 0, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
    bytes.insert(bytes.end(), kcet.begin(), kcet.end());
    // Past the zero block: 16-byte blocks of 0x11 whose second byte (the flags) is 2 (a sample
    // starts), then 0; the KCET's FF FF falls on bytes 4 and 5 of a block.
    auto block = [](uint8_t flags) {
        Bytes b(16, 0x11);
        b[1] = flags;
        return b;
    };
    Bytes body(static_cast<size_t>(zerosAt - blockAt), 0x11);
    body.insert(body.end(), 16, 0);
    for (int i = 0; i < 20; ++i) {
        const Bytes b = block(i == 0 ? 2 : 0);
        body.insert(body.end(), b.begin(), b.end());
    }
    const auto at = [&](int64_t position) { return static_cast<size_t>(position - blockAt); };
    body[at(kcetEnd - 2)] = 0xFF;
    body[at(kcetEnd - 1)] = 0xFF;
    // The scan's header, behind the KCET; the sample ends in the block after it.
    const int64_t header = kcetEnd + 14; // bytes 4 to 7 of its block
    std::copy_n("SShd", 4, body.begin() + static_cast<std::ptrdiff_t>(at(header)));
    body[at(header + 32 - (header - zerosAt) % 16 + 1)] = 3;
    bytes.insert(bytes.end(), body.begin(), body.end());
    // A second header past the body, then noise for a few more pieces.
    const Bytes tail = GameImage(33).Noise(300).GpmHead(20).Noise(3 * kPiece).bytes();
    bytes.insert(bytes.end(), tail.begin(), tail.end());

    testkit::TempFolder folder;
    const std::string path = folder / "game.bin";
    ASSERT_TRUE(testkit::WriteFile(path, bytes));
    uint32_t taken = 0;
    for (const RecognitionRules rules : {RecognitionRules::Classic, RecognitionRules::Extended}) {
        const Scan one = ScanFile(path, folder / "one.clg", rules, 1);
        ASSERT_EQ(one.summary.entries, 3u); // KCET, the two headers
        for (int round = 0; round < 5; ++round) {
            const Scan many =
                ScanFile(path, folder / "many.clg", rules, 2, false, std::chrono::milliseconds(20));
            EXPECT_TRUE(SameScan(many, one));
            taken += many.summary.checksTakenAhead;
        }
    }
    EXPECT_GT(taken, 0u) << "no check was taken from another thread";
}

// Trace lines come out in the order of the checks, with what each check noted: a traced
// scan runs every check on its own thread.
TEST(ParallelScanTest, TracedScanChecksOnItsOwnThread) {
    testkit::TempFolder folder;
    const std::string path = folder / "game.bin";
    ASSERT_TRUE(testkit::WriteFile(path, AcrossEdges(11).bytes()));
    const Scan one =
        ScanFile(path, folder / "one.clg", RecognitionRules::Extended, 1, /*traced=*/true);
    const Scan many =
        ScanFile(path, folder / "many.clg", RecognitionRules::Extended, 4, /*traced=*/true);
    ASSERT_FALSE(one.trace.empty());
    EXPECT_TRUE(SameScan(many, one));
    EXPECT_EQ(many.summary.checksTakenAhead, 0u);
}

} // namespace
} // namespace sonvex
