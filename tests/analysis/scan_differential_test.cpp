// SPDX-License-Identifier: GPL-3.0-or-later
// The block scanner against the straightforward window-at-every-offset scanner: many
// composed and random game images through one comparison of lists, feedback (status
// texts, progress values, repaints, in order), traces, counters and summaries, under the
// classic and the extended rules; also with the checks run on several threads. And the
// sequence event walk over bytes in memory against the converter's walk through the file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/scan_checks.h"
#include "analysis/signature_search.h"
#include "analysis/source_scanner.h"
#include "analysis_test_support.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "seq2smf/seq_format.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "tests/analysis/oracle/reference_scanner.h"

namespace sonvex {
namespace {

using testing::SameBytes;
using testkit::Bytes;
using testkit::GameImage;
using testkit::VagEnd;

// The block the scanner holds in memory when it cannot map the file; items and zero runs
// are put across its edges. A candidate closer than kItemRoom to the edge moves the block.
constexpr size_t kBlock = 512 * 1024;
constexpr size_t kItemRoom = 32 * 1024;

enum class Scanner {
    Reference,    // the oracle
    Block,        // blocks read through a second handle on the file
    BufferedOnly, // no second handle to be had: blocks read through the buffered file
    Mapped,       // a real file, mapped whole
    Parallel,     // mapped, its candidates checked on several threads (Threads)
    InPlace       // held in place in pieces apart, as a file inside a mapped disc image
};

using std::chrono::microseconds;

// How the threads of a parallel scan go. The scan is held up at its first repaint and at
// every other one, so that the threads checking ahead of it are ahead and their outcomes are
// taken, rather than the scan overtaking them.
struct Threads {
    unsigned count = 3;
    int64_t piece = 61; // small enough that the items of the cases cross its edges everywhere
    microseconds headStart{300};
    microseconds perRepaint{0};
    bool traced = false; // the scan is asked for a trace
};

class PatientFeedback : public RecordingFeedback {
  public:
    PatientFeedback(microseconds first, microseconds then) : wait_(first), then_(then) {}
    void Refresh() override {
        std::this_thread::sleep_for(std::exchange(wait_, then_));
        RecordingFeedback::Refresh();
    }

  private:
    microseconds wait_;
    microseconds then_;
};

// Checks the scan took from the threads checking ahead, over every parallel run.
uint64_t g_checksTakenAhead = 0;

// The game file from a real file (which the scanner maps), everything else in memory.
class RealGameFile : public FileSystem {
  public:
    RealGameFile(MemoryFileSystem& memory, std::string gamePath, std::string realPath)
        : memory_(memory), gamePath_(std::move(gamePath)), realPath_(std::move(realPath)) {}
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override {
        return path == gamePath_ ? real_.Open(realPath_, mode) : memory_.Open(path, mode);
    }
    bool Remove(const std::string& path) override { return memory_.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override {
        return memory_.Rename(from, to);
    }

  private:
    MemoryFileSystem& memory_;
    PosixFileSystem real_;
    std::string gamePath_;
    std::string realPath_;
};

// The game file's bytes held in place as pieces apart from each other, the way the sectors
// of a mapped disc image hold a file inside it: pieces of 61 bytes 80 bytes apart, then
// pieces of 45 bytes with nothing between, then a last piece cut short, so that windows,
// zero runs and items cross seams and runs everywhere.
class PiecedFile : public RawFile {
  public:
    explicit PiecedFile(const Bytes& bytes) : bytes_(bytes) {
        const auto size = static_cast<int64_t>(bytes.size());
        int64_t at = 0;
        auto add = [&](int64_t length, int64_t stride, int64_t count) {
            if (count <= 0) {
                return;
            }
            Run run{at, count, length, stride, static_cast<int64_t>(store_.size()) + 3};
            store_.resize(store_.size() + 3 + static_cast<size_t>(count * stride), 0xEE);
            for (int64_t i = 0; i < count; ++i) {
                std::copy_n(bytes.begin() + at + i * length, length,
                            store_.begin() + run.offset + i * stride);
            }
            runs_.push_back(run);
            at += count * length;
        };
        add(61, 80, size / 2 / 61);
        add(45, 45, (size - at) / 45);
        add(size - at, size - at, 1);
    }
    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        const auto size = static_cast<int64_t>(bytes_.size());
        const int64_t n = std::clamp<int64_t>(std::min(length, size - position), 0, length);
        std::copy_n(bytes_.begin() + position, n, static_cast<uint8_t*>(destination));
        return n;
    }
    bool StridedAt(int64_t position, StridedBytes& bytes) override {
        for (const Run& run : runs_) {
            if (position >= run.start && position < run.start + run.count * run.length) {
                bytes = {run.start, run.count, run.length, run.stride, store_.data() + run.offset};
                return true;
            }
        }
        return false;
    }
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
    bool Close() override { return true; }

  private:
    struct Run {
        int64_t start, count, length, stride, offset;
    };
    const Bytes& bytes_;
    Bytes store_;
    std::vector<Run> runs_;
};

struct ScanRun {
    ScanOutcome outcome = ScanOutcome::Scanned;
    Bytes list;
    std::vector<RecordingFeedback::Event> events;
    std::vector<std::string> trace;
    GroupCounters counters;
    ScanSummary summary;
};

ScanRun Run(const Bytes& game, RecognitionRules rules, Scanner scanner,
            const Threads& parallel = {}) {
    MemoryFileSystem files;
    static const testkit::TempFolder folder;
    const std::string realPath = folder / "game.bin";
    const bool real = scanner == Scanner::Mapped || scanner == Scanner::Parallel;
    EXPECT_TRUE(!real || testkit::WriteFile(realPath, game));
    RealGameFile mixed(files, "/mem/game.bin", realPath);
    ScopedFileSystem guard(real ? static_cast<FileSystem&>(mixed) : files);
    files.Put("/mem/game.bin", game);
    ChunkFile list;
    ChunkFile source;
    EXPECT_TRUE(list.Create("/mem/list.clg"));
    EXPECT_TRUE(source.OpenRead("/mem/game.bin"));
    ChunkListFile listFile(list);
    EXPECT_TRUE(WriteHeader(listFile, 0, "/mem"));

    ScanRun run;
    // Numbers go on from earlier files of the run.
    run.counters = {5, 2, 7};
    const bool threads = scanner == Scanner::Parallel;
    PatientFeedback feedback(threads ? parallel.headStart : microseconds(0),
                             threads ? parallel.perRepaint : microseconds(0));
    // Checks on several threads are for scans without a trace.
    ScanTrace trace = [&run](std::string_view line) { run.trace.emplace_back(line); };
    if (threads && !parallel.traced) {
        trace = {};
    }
    if (scanner == Scanner::Reference) {
        run.outcome = testing::ReferenceScanOpenSource(list, source, "game.bin", run.counters,
                                                       feedback, trace, rules, &run.summary);
    } else if (scanner == Scanner::InPlace) {
        PiecedFile blocks(game);
        run.outcome = ScanOpenSource(list, source, blocks, "game.bin", run.counters, feedback,
                                     trace, rules, &run.summary, ScanThreads{1});
    } else if (scanner != Scanner::BufferedOnly) {
        const std::unique_ptr<RawFile> blocks =
            ActiveFileSystem().Open("/mem/game.bin", OpenMode::Read);
        EXPECT_TRUE(blocks != nullptr);
        // A real file that is not empty is mapped; one in memory is not.
        EXPECT_EQ(blocks->Map() != nullptr, real && !game.empty());
        const ScanThreads count{threads ? parallel.count : 1u, parallel.piece, 0};
        run.outcome = ScanOpenSource(list, source, *blocks, "game.bin", run.counters, feedback,
                                     trace, rules, &run.summary, count);
        g_checksTakenAhead += run.summary.checksTakenAhead;
    } else {
        run.outcome = ScanOpenSource(list, source, "game.bin", run.counters, feedback, trace, rules,
                                     &run.summary);
    }
    EXPECT_TRUE(list.Close());
    run.list = files.Contents("/mem/list.clg");
    run.events = feedback.events;
    return run;
}

std::string EventText(const RecordingFeedback::Event& e) {
    static const char* const kNames[] = {"message", "status", "progress", "path", "refresh"};
    return std::string(kNames[static_cast<int>(e.kind)]) + "(" + e.text + "," +
           std::to_string(e.value) + ")";
}

::testing::AssertionResult SameRun(const ScanRun& actual, const ScanRun& expected) {
    if (actual.outcome != expected.outcome) {
        return ::testing::AssertionFailure() << "outcome differs";
    }
    if (const auto lists = SameBytes(actual.list, expected.list); !lists) {
        return ::testing::AssertionFailure() << "list: " << lists.message();
    }
    const size_t n = std::min(actual.events.size(), expected.events.size());
    for (size_t i = 0; i <= n; ++i) {
        if (i == n) {
            if (actual.events.size() != expected.events.size()) {
                return ::testing::AssertionFailure()
                       << "feedback: " << actual.events.size() << " calls instead of "
                       << expected.events.size();
            }
            break;
        }
        const auto& a = actual.events[i];
        const auto& e = expected.events[i];
        if (a.kind != e.kind || a.text != e.text || a.value != e.value) {
            return ::testing::AssertionFailure() << "feedback call " << i << ": " << EventText(a)
                                                 << " instead of " << EventText(e);
        }
    }
    if (actual.trace != expected.trace) {
        return ::testing::AssertionFailure() << "trace differs";
    }
    const GroupCounters& c = actual.counters;
    const GroupCounters& d = expected.counters;
    if (c.sequences != d.sequences || c.bankHeaders != d.bankHeaders ||
        c.bankBodies != d.bankBodies) {
        return ::testing::AssertionFailure() << "counters differ";
    }
    const ScanSummary& s = actual.summary;
    const ScanSummary& t = expected.summary;
    if (s.size != t.size || s.entries != t.entries || s.lastIsHeader != t.lastIsHeader ||
        s.lastHeaderBodyLength != t.lastHeaderBodyLength) {
        return ::testing::AssertionFailure() << "summary differs";
    }
    return ::testing::AssertionSuccess();
}

struct Case {
    std::string label;
    Bytes bytes;
};

// Every case through both scanners and both rules; the count of cases whose scan found
// something is returned, so that a generator that stopped producing items shows. With
// `takeChecks`, the parallel scans must have taken checks from the threads ahead of them
// (cases with items in the first pieces of small files).
size_t CompareAll(const std::vector<Case>& cases, bool takeChecks = false) {
    size_t withEntries = 0;
    const uint64_t takenBefore = g_checksTakenAhead;
    for (const Case& c : cases) {
        for (const RecognitionRules rules :
             {RecognitionRules::Classic, RecognitionRules::Extended}) {
            const ScanRun expected = Run(c.bytes, rules, Scanner::Reference);
            const char* rulesName = rules == RecognitionRules::Classic ? "classic" : "extended";
            EXPECT_TRUE(SameRun(Run(c.bytes, rules, Scanner::Block), expected))
                << c.label << " (" << c.bytes.size() << " bytes, " << rulesName << ")";
            EXPECT_TRUE(SameRun(Run(c.bytes, rules, Scanner::BufferedOnly), expected))
                << c.label << " (" << c.bytes.size() << " bytes, " << rulesName
                << ", buffered file only)";
            EXPECT_TRUE(SameRun(Run(c.bytes, rules, Scanner::Mapped), expected))
                << c.label << " (" << c.bytes.size() << " bytes, " << rulesName << ", mapped)";
            EXPECT_TRUE(SameRun(Run(c.bytes, rules, Scanner::InPlace), expected))
                << c.label << " (" << c.bytes.size() << " bytes, " << rulesName
                << ", in place in pieces)";
            ScanRun untraced = expected;
            untraced.trace.clear();
            EXPECT_TRUE(SameRun(Run(c.bytes, rules, Scanner::Parallel), untraced))
                << c.label << " (" << c.bytes.size() << " bytes, " << rulesName
                << ", checked on three threads)";
            withEntries += expected.summary.entries > 0 ? 1 : 0;
        }
    }
    if (takeChecks) {
        EXPECT_GT(g_checksTakenAhead, takenBefore) << "no check was taken from another thread";
    }
    return withEntries;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Zeros(size_t n) {
    return Bytes(n, 0);
}

Bytes Noise(uint32_t seed, size_t n) {
    return GameImage(seed).Noise(n).bytes();
}

// Bytes drawn mostly from what signatures, zero runs and ADPCM flags are made of.
Bytes Biased(std::mt19937& rng, size_t n) {
    static const std::string kAlphabet = std::string("pQESBAVKCTIdaeHMiShqd") +
                                         std::string("\x01\x02\x03\x04\x05\x06\x07\x08\xFF", 9);
    Bytes out(n);
    for (uint8_t& b : out) {
        const auto r = static_cast<uint32_t>(rng() % 100);
        b = r < 45   ? 0
            : r < 85 ? static_cast<uint8_t>(kAlphabet[rng() % kAlphabet.size()])
                     : static_cast<uint8_t>(rng());
    }
    return out;
}

// One item of every kind the composer makes, by number.
Bytes Item(int which, uint32_t seed) {
    GameImage g(seed);
    switch (which % 9) {
    case 0:
        return g.Seq(5).bytes();
    case 1:
        return g.SeqSet(3, 3).bytes();
    case 2:
        return g.Vh(2, 2, 3).bytes();
    case 3:
        return g.Vb(2, 3).bytes();
    case 4:
        return g.Kcet(3).bytes();
    case 5:
        return g.Bank(testkit::MakeBank(seed, 3, testkit::VagStart::NoZeroBlock)).bytes();
    case 6:
        return g.SeqSetReversed(3, 3).bytes();
    case 7:
        return g.GpmSeq(4).SceiHead(20).SceiMidi(20).GpmHead(20).bytes();
    default:
        return g.Vb(2, 2, VagEnd::StopBlock).bytes();
    }
}

TEST(ScanDifferentialTest, RandomAndSplicedImages) {
    std::mt19937 rng(20240611);
    std::vector<Case> cases;
    for (int i = 0; i < 400; ++i) {
        Bytes bytes = Biased(rng, rng() % 3000);
        // Whole items spliced into the random bytes, some cut short by the file's end.
        for (int k = static_cast<int>(rng() % 4); k > 0; --k) {
            const Bytes item = Item(static_cast<int>(rng()), static_cast<uint32_t>(rng()));
            const size_t at = bytes.empty() ? 0 : rng() % bytes.size();
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), item.begin(), item.end());
        }
        if (rng() % 4 == 0) {
            bytes.resize(rng() % (bytes.size() + 1));
        }
        cases.push_back({"random image " + std::to_string(i), std::move(bytes)});
    }
    // Larger than a block: uniform bytes (signature pairs by chance, idle looks at the
    // progress) and the biased mix.
    for (int i = 0; i < 3; ++i) {
        Bytes uniform(kBlock + 5000 + rng() % 3000);
        for (uint8_t& b : uniform) {
            b = static_cast<uint8_t>(rng());
        }
        cases.push_back({"uniform random " + std::to_string(i), std::move(uniform)});
        cases.push_back({"biased random " + std::to_string(i), Biased(rng, kBlock + rng() % 4000)});
    }
    EXPECT_GT(CompareAll(cases, true), 300u);
}

TEST(ScanDifferentialTest, ItemsAndZeroRunsAcrossBlockEdges) {
    std::vector<Case> cases;
    for (const size_t before :
         {1ul, 15ul, 16ul, 17ul, 18ul, 300ul, kItemRoom - 1, kItemRoom, kItemRoom + 1}) {
        for (int which = 0; which < 9; ++which) {
            const Bytes item = Item(which, static_cast<uint32_t>(before));
            cases.push_back({"item " + std::to_string(which) + " starting " +
                                 std::to_string(before) + " bytes before the block edge",
                             Cat({Noise(3, kBlock - before), item, Noise(4, 500)})});
        }
    }
    // Zero runs of every length around 16 ending near the edge, then a block whose flags
    // byte starts a sample (2) or does not (0, 3).
    for (size_t run = 13; run <= 20; ++run) {
        for (const int shift : {-1, 0, 1, 17}) {
            for (const int flags : {2, 0}) {
                const Bytes body = GameImage(9).Vb(1, 2).bytes(); // zero block, sample, zero tail
                Bytes tail = {0x11, static_cast<uint8_t>(flags)};
                tail.insert(tail.end(), body.begin() + 18, body.end());
                cases.push_back(
                    {"zero run of " + std::to_string(run) + " shifted " + std::to_string(shift) +
                         ", flags " + std::to_string(flags),
                     Cat({Noise(5, static_cast<size_t>(static_cast<long>(kBlock - run) + shift)),
                          Zeros(run), tail, Noise(6, 200)})});
            }
        }
    }
    // Bank bodies and sequences longer than the room a block keeps behind a candidate,
    // starting just inside it and before it: the checks read the rest from the file.
    for (const size_t before : {kItemRoom - 100, kItemRoom + 4000}) {
        for (const Bytes& item :
             {GameImage(11).Vb(4, 1500).bytes(), GameImage(12).Seq(12000).bytes(),
              GameImage(13).SeqSet(3, 5000).bytes()}) {
            EXPECT_GT(item.size(), 2 * kItemRoom);
            cases.push_back({"item of " + std::to_string(item.size()) + " bytes starting " +
                                 std::to_string(before) + " bytes before the block edge",
                             Cat({Noise(3, kBlock - before), item, Noise(4, 500)})});
        }
    }
    // A long padded stretch across the edge, and a zero run that reaches the file's end there.
    cases.push_back({"padding across the edge", Cat({Noise(7, 1000), Zeros(kBlock + 3000),
                                                     GameImage(8).Seq(4).bytes(), Zeros(20)})});
    cases.push_back(
        {"zeros to the end of a block-long file", Cat({Noise(7, 100), Zeros(kBlock - 100)})});
    EXPECT_GT(CompareAll(cases), 60u);
}

TEST(ScanDifferentialTest, CutsNearTheEndOfTheFile) {
    std::vector<Case> cases;
    // Every kind with its signature in the last bytes of the file, cut at every length.
    for (int which = 0; which < 9; ++which) {
        const Bytes item = Item(which, 31);
        for (size_t keep = 0; keep <= std::min<size_t>(item.size(), 40); ++keep) {
            cases.push_back(
                {"item " + std::to_string(which) + " cut after " + std::to_string(keep),
                 Cat({Noise(10, 200),
                      Bytes(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(keep))})});
        }
    }
    // Zero runs of every length up to 40 at the end of the file, with and without a start
    // flags byte behind them.
    for (size_t run = 0; run <= 40; ++run) {
        cases.push_back(
            {"trailing zeros " + std::to_string(run), Cat({Noise(11, 100), Zeros(run)})});
        cases.push_back({"trailing zeros and start flags " + std::to_string(run),
                         Cat({Noise(11, 100), Zeros(run), Bytes{0x00, 0x02}})});
        cases.push_back({"trailing zeros and one byte " + std::to_string(run),
                         Cat({Noise(11, 100), Zeros(run), Bytes{0x02}})});
    }
    // A bank body running to the end of the file, cut at every byte of its last blocks.
    const Bytes body = GameImage(12).Vb(3, 4).bytes();
    for (size_t cut = body.size() > 80 ? body.size() - 80 : 0; cut <= body.size(); ++cut) {
        cases.push_back(
            {"bank body cut at " + std::to_string(cut),
             Cat({Noise(13, 64),
                  Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut))})});
    }
    EXPECT_GT(CompareAll(cases), 150u);
}

TEST(ScanDifferentialTest, NumberedSetsBrokenAtEveryPosition) {
    std::vector<Case> cases;
    for (const bool reversed : {false, true}) {
        GameImage g(21);
        const Bytes set = (reversed ? g.SeqSetReversed(3, 2) : g.SeqSet(3, 2)).bytes();
        for (size_t at = 0; at < set.size(); ++at) {
            Bytes changed = set;
            changed[at] = static_cast<uint8_t>(changed[at] ^ 0x01);
            const std::string where =
                (reversed ? "reversed set, byte " : "set, byte ") + std::to_string(at);
            cases.push_back({where + " changed", Cat({Noise(22, 40), changed, Noise(23, 40)})});
            cases.push_back(
                {where + " cut",
                 Cat({Noise(22, 40),
                      Bytes(set.begin(), set.begin() + static_cast<std::ptrdiff_t>(at))})});
        }
    }
    EXPECT_GT(CompareAll(cases), 400u);
}

// Pieces of the file for the threads of the composed images below.
constexpr int64_t kLargePiece = 4096;

// Noise up to `before` bytes short of the next edge of a piece (at least one byte).
void NoiseUpToEdge(GameImage& image, int64_t before) {
    const auto size = static_cast<int64_t>(image.size());
    int64_t edge = (size / kLargePiece + 1) * kLargePiece;
    while (edge - before <= size) {
        edge += kLargePiece;
    }
    image.Noise(static_cast<size_t>(edge - before - size));
}

// Every kind of item, a zero run and a header with its body by the size table, each
// starting a few bytes before an edge of a piece, so that it reaches into the next.
GameImage AcrossEdges(uint32_t seed) {
    GameImage image(seed);
    const testkit::BankParts bank = testkit::MakeBank(seed, 3, testkit::VagStart::NoZeroBlock);
    // A body whose leading zero block the classic check looks at and turns down (flags above
    // 7 in its second block): only the size table of the header just before it finds it. A
    // thread starting inside that header looks at the same window without the header.
    const testkit::BankParts zeroLed =
        testkit::MakeBank(seed + 100, 3, testkit::VagStart::ZeroBlockStartFlags);
    Bytes turnedDown = zeroLed.vb;
    turnedDown[2 * 16 + 1] = 0x80;
    const int64_t befores[] = {1, 2, 15, 16, 17, 18, 40, 700};
    int which = 0;
    for (const int64_t before : befores) {
        for (int kind = 0; kind < 10; ++kind, ++which) {
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
            case 8:
                image.BankVh(zeroLed).Raw(turnedDown);
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
        image.Noise(static_cast<size_t>(kLargePiece + 100));
        Bytes kcet = GameImage(8).Kcet(1).bytes();
        kcet.resize(56);
        kcet[52] = 0xFF;
        kcet[53] = 0xFF;
        image.Raw(kcet).Noise(static_cast<size_t>(3 * kLargePiece));
        const testkit::BankParts bank = testkit::MakeBank(9, 3, testkit::VagStart::NoZeroBlock);
        image.BankVh(bank);
        Bytes bytes = image.bytes();
        bytes.insert(bytes.end(), bank.vb.begin(), bank.vb.begin() + 64);
        files.emplace_back("read past the end before a body by the size table", bytes);
    }

    uint64_t taken = 0;
    for (const auto& [label, bytes] : files) {
        ASSERT_GT(bytes.size(), static_cast<size_t>(4 * kLargePiece)) << label;
        for (const RecognitionRules rules :
             {RecognitionRules::Classic, RecognitionRules::Extended}) {
            ScanRun one = sonvex::Run(bytes, rules, Scanner::Mapped);
            ASSERT_GT(one.summary.entries, 0u) << label;
            EXPECT_EQ(one.summary.checksTakenAhead, 0u);
            one.trace.clear();
            for (const unsigned threads : {2u, 4u}) {
                const ScanRun many =
                    sonvex::Run(bytes, rules, Scanner::Parallel,
                                {threads, kLargePiece, microseconds(100), microseconds(100)});
                EXPECT_TRUE(SameRun(many, one))
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
    constexpr int64_t kEdge = 2 * kLargePiece;
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
    const Bytes tail = GameImage(33).Noise(300).GpmHead(20).Noise(3 * kLargePiece).bytes();
    bytes.insert(bytes.end(), tail.begin(), tail.end());

    uint32_t taken = 0;
    for (const RecognitionRules rules : {RecognitionRules::Classic, RecognitionRules::Extended}) {
        ScanRun one = sonvex::Run(bytes, rules, Scanner::Mapped);
        ASSERT_EQ(one.summary.entries, 3u); // KCET, the two headers
        one.trace.clear();
        for (int round = 0; round < 5; ++round) {
            const ScanRun many =
                sonvex::Run(bytes, rules, Scanner::Parallel,
                            {2, kLargePiece, microseconds(20000), microseconds(100)});
            EXPECT_TRUE(SameRun(many, one));
            taken += many.summary.checksTakenAhead;
        }
    }
    EXPECT_GT(taken, 0u) << "no check was taken from another thread";
}

// Trace lines come out in the order of the checks, with what each check noted: a traced
// scan runs every check on its own thread.
TEST(ParallelScanTest, TracedScanChecksOnItsOwnThread) {
    const Bytes bytes = AcrossEdges(11).bytes();
    const ScanRun one = sonvex::Run(bytes, RecognitionRules::Extended, Scanner::Mapped);
    const ScanRun many = sonvex::Run(bytes, RecognitionRules::Extended, Scanner::Parallel,
                                     {4, kLargePiece, microseconds(100), microseconds(100), true});
    ASSERT_FALSE(one.trace.empty());
    EXPECT_TRUE(SameRun(many, one));
    EXPECT_EQ(many.summary.checksTakenAhead, 0u);
}

// ---------------------------------------------------------------- the sequence event walk

// Where a walk of sequence events ended.
struct WalkEnd {
    SeqWalkResult result = SeqWalkResult::ShortRead;
    int64_t offset = -1; // of the event that failed; -1 after an end of track
    int64_t position = -1;
};

bool operator==(const WalkEnd& a, const WalkEnd& b) {
    return a.result == b.result && a.offset == b.offset && a.position == b.position;
}

std::string WalkEndText(const WalkEnd& w) {
    static const char* const kNames[] = {"end of track", "delta too large", "short read"};
    return std::string(kNames[static_cast<int>(w.result)]) + " at " + std::to_string(w.offset) +
           ", file at " + std::to_string(w.position);
}

// The walk from `start` in the memory file "/mem/seq.bin": the converter's walk through the
// file when `lentTo` is 0, else the scanner's walk with bytes [lentFrom, lentTo) lent.
WalkEnd WalkFrom(const Bytes& bytes, int64_t start, size_t lentFrom = 0, size_t lentTo = 0) {
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("/mem/seq.bin"));
    file.Seek(start, SeekOrigin::Begin);
    WalkEnd end;
    if (lentTo == 0) {
        end.result = WalkSeqTrack(file, SeqDialect::Seq, &end.offset);
    } else {
        file.LendBytes(static_cast<int64_t>(lentFrom), bytes.data() + lentFrom,
                       static_cast<int64_t>(lentTo - lentFrom), lentTo == bytes.size());
        end.result = WalkSeqEvents(file, &end.offset);
    }
    if (end.result == SeqWalkResult::EndOfTrack) {
        end.offset = -1;
    }
    end.position = file.Tell();
    return end;
}

// A delta time of `length` bytes; from five bytes on, its value is small or above
// 0x0FFFFFFF by the first byte.
void Delta(testkit::ByteBuilder& b, std::mt19937& rng, int length) {
    for (int i = 0; i < length; ++i) {
        uint8_t bits = static_cast<uint8_t>(rng() % 0x80);
        if (length >= 5 && i == 0 && rng() % 2 == 0) {
            bits = 0;
        }
        b.u8(static_cast<uint8_t>(i + 1 < length ? 0x80 | bits : bits));
    }
}

// Sequence events drawn to take the walk every way it goes: deltas of one to nine bytes,
// statuses of every high nibble, data under every kind of running status (after Cx, Fx, FF,
// An and Dn too), data before any status, meta events, data bytes with the top bit set, and
// now and then an end of track. Mostly channel events as music has them, with one event in
// `oddEvery` or so of another kind (deltas of five bytes or more among them), so that runs of
// plain events are long in some streams and short in others.
Bytes EventStream(std::mt19937& rng, size_t events, unsigned oddEvery) {
    testkit::ByteBuilder b;
    const auto data = [&rng]() {
        return static_cast<uint8_t>(rng() % 12 == 0 ? rng() : rng() % 0x80);
    };
    const auto channel = [&rng](int high) { return static_cast<uint8_t>(high | rng() % 16); };
    for (size_t i = 0; i < events; ++i) {
        const bool odd = rng() % oddEvery == 0;
        const auto d = rng() % 100;
        Delta(b, rng, d < 60 ? 1 : d < 80 ? 2 : d < 90 ? 3 : !odd ? 4 : d < 95 ? 5 : 6 + d % 4);
        const auto kind = odd ? 100 + rng() % 100 : rng() % 100;
        if (kind < 50) {
            b.u8(data()).u8(data()); // under running status
        } else if (kind < 90) {
            static const int kTwoData[] = {0x80, 0x90, 0xB0, 0xE0};
            b.u8(channel(kTwoData[rng() % 4])).u8(data()).u8(data());
        } else if (kind < 100) {
            b.u8(channel(rng() % 2 == 0 ? 0xA0 : 0xD0));
        } else if (kind < 125) {
            b.u8(channel(0xC0)).u8(data()); // and a few one-byte events under its status
            for (auto n = rng() % 3; n > 0; --n) {
                Delta(b, rng, 1);
                b.u8(data());
            }
        } else if (kind < 140) {
            b.u8(static_cast<uint8_t>(0xF0 + rng() % 15));
        } else if (kind < 165) {
            static const uint8_t kTypes[] = {0x51, 0x01, 0x03, 0x7F, 0x2F};
            const uint8_t type = kTypes[rng() % (rng() % 8 == 0 ? 5 : 4)];
            b.u8(0xFF).u8(type).u8(data());
            if (type == 0x51) {
                b.u8(data()).u8(data());
            }
        } else if (kind < 175) {
            b.u8(data()); // one data byte: under Fx it is read again as a delta
        } else if (kind < 185) {
            b.u8(data()).u8(data()).u8(data());
        } else {
            for (auto n = 1 + rng() % 3; n > 0; --n) {
                b.u8(static_cast<uint8_t>(rng()));
            }
        }
    }
    if (rng() % 2 == 0) {
        b.u8(0x00).u8(0xFF).u8(0x2F).u8(0x00);
    }
    return b.bytes();
}

// The walk over lent bytes against the converter's walk through the file, from many starts
// and with the bytes lent whole, up to a cut before the file's end, and from a point before
// the start: result, offset of the failing event and end position must all agree. Streams
// of every kind of event, songs as the composer makes them (some with bytes changed), and
// random bytes.
TEST(SeqEventWalkTest, WalkOverLentBytesMatchesTheWalkThroughTheFile) {
    std::mt19937 rng(7031);
    struct Input {
        std::string label;
        Bytes bytes;
        int64_t start;
    };
    std::vector<Input> inputs;
    for (int i = 0; i < 1500; ++i) {
        const size_t events = i % 10 == 0 ? rng() % 3000 : rng() % 300;
        const unsigned oddEvery = i % 3 == 0 ? 3 : i % 3 == 1 ? 30 : 500;
        inputs.push_back(
            {"event stream " + std::to_string(i), EventStream(rng, events, oddEvery), 0});
    }
    for (int i = 0; i < 300; ++i) {
        // The events of a single sequence start with the last byte of its 16-byte header.
        Bytes song = GameImage(static_cast<uint32_t>(i)).Seq(static_cast<int>(rng() % 400)).bytes();
        for (auto changes = rng() % 4; changes > 0; --changes) {
            song[15 + rng() % (song.size() - 15)] = static_cast<uint8_t>(rng());
        }
        inputs.push_back({"song " + std::to_string(i), std::move(song), 15});
    }
    for (int i = 0; i < 200; ++i) {
        // Uniform bytes, and bytes mostly with the top bit set (long deltas, many statuses).
        Bytes bytes(rng() % 2000);
        for (uint8_t& v : bytes) {
            v = static_cast<uint8_t>(i % 2 == 0 || rng() % 10 < 3 ? rng() : 0x80 | rng());
        }
        inputs.push_back({"random bytes " + std::to_string(i), std::move(bytes), 0});
    }

    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    size_t results[3] = {};
    int64_t walked = 0;
    int failures = 0;
    for (const Input& input : inputs) {
        const Bytes& bytes = input.bytes;
        files.Put("/mem/seq.bin", bytes);
        const size_t size = bytes.size();
        for (int round = 0; round < 4 && failures < 10; ++round) {
            const auto start = round == 0 || size == 0
                                   ? std::min<int64_t>(input.start, static_cast<int64_t>(size))
                                   : static_cast<int64_t>(rng() % size);
            const auto at = static_cast<size_t>(start);
            const WalkEnd expected = WalkFrom(bytes, start);
            ++results[static_cast<int>(expected.result)];
            walked += expected.position - start;
            struct Loan {
                const char* what;
                size_t from;
                size_t to;
            };
            const Loan loans[] = {
                {"lent whole", 0, size},
                {"lent up to a cut", at, at + rng() % (size - at + 1)},
                {"lent from before the start", at - rng() % (at + 1), size},
            };
            for (const Loan& loan : loans) {
                if (loan.to == 0) {
                    continue; // nothing lent
                }
                const WalkEnd actual = WalkFrom(bytes, start, loan.from, loan.to);
                if (!(actual == expected)) {
                    ++failures;
                    ADD_FAILURE() << input.label << " (" << size << " bytes) from " << start << ", "
                                  << loan.what << " [" << loan.from << ", " << loan.to
                                  << "): " << WalkEndText(actual) << " instead of "
                                  << WalkEndText(expected);
                }
            }
        }
    }
    // Every way a walk ends, many times over.
    EXPECT_GT(results[static_cast<int>(SeqWalkResult::EndOfTrack)], 1000u);
    EXPECT_GT(results[static_cast<int>(SeqWalkResult::DeltaTooLarge)], 300u);
    EXPECT_GT(results[static_cast<int>(SeqWalkResult::ShortRead)], 1000u);
    EXPECT_GT(walked, 2000000); // bytes of events walked in all
}

// Where a run of plain events ends, by the converter's own event reader: from data[from] on,
// under the running status 90 (set by an event put in front), the first event that has a
// delta of more than three bytes, is not a channel event, changes the running status to Cx,
// or does not end by `end`.
size_t PlainRunEnd(const Bytes& data, size_t from, size_t end) {
    Bytes bytes = {0x00, 0x90, 0x40, 0x40};
    bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(end));
    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    files.Put("/mem/run.bin", bytes);
    ChunkFile file;
    EXPECT_TRUE(file.OpenRead("/mem/run.bin"));
    SeqEventReader reader(file, SeqDialect::Seq);
    SeqEvent event;
    (void)reader.Next(event);
    for (;;) {
        const auto at = static_cast<size_t>(file.Tell());
        size_t deltaBytes = 1;
        while (at + deltaBytes <= bytes.size() && (bytes[at + deltaBytes - 1] & 0x80) != 0) {
            ++deltaBytes;
        }
        if (deltaBytes > 3 || reader.Next(event) != SeqReadResult::Event ||
            (event.kind != SeqEventKind::Channel && event.kind != SeqEventKind::Unused) ||
            event.status >> 4 == 0xC) {
            return from + at - 4;
        }
    }
}

// The vectorised searches against a byte loop, at every start and end near the edges of
// the vector widths, on bytes full of signature pairs and zeros.
TEST(SignatureSearchTest, AgreesWithAByteLoop) {
    std::mt19937 rng(99);
    for (int round = 0; round < 40; ++round) {
        Bytes bytes = Biased(rng, 300);
        if (round % 2 == 1) {
            // Mostly zeros with a few non-zero bytes, for the zero-run search.
            for (uint8_t& b : bytes) {
                b = rng() % 40 == 0 ? static_cast<uint8_t>(1 + rng() % 255) : 0;
            }
        }
        for (size_t from = 0; from < 70; ++from) {
            for (size_t to = from; to < bytes.size(); to += 1 + rng() % 7) {
                size_t pair = from;
                while (pair < to && !IsSignaturePair(bytes[pair], bytes[pair + 1])) {
                    ++pair;
                }
                size_t nonZero = from;
                while (nonZero < to && bytes[nonZero] == 0) {
                    ++nonZero;
                }
                ASSERT_EQ(FindSignaturePair(bytes.data(), from, to), pair)
                    << round << " " << from << " " << to;
                ASSERT_EQ(FindNonZero(bytes.data(), from, to), nonZero)
                    << round << " " << from << " " << to;
            }
        }
    }
    // Runs of plain sequence events, from every start and to every end near the edges of the
    // 32 positions taken at once.
    for (int round = 0; round < 12; ++round) {
        const Bytes events = EventStream(rng, 60, round % 2 == 0 ? 200 : 8);
        for (size_t from = 0; from < 40 && from < events.size(); ++from) {
            for (size_t end = from; end <= events.size(); end += 1 + rng() % 5) {
                ASSERT_EQ(SkipPlainSeqEvents(events.data(), from, end),
                          PlainRunEnd(events, from, end))
                    << round << " " << from << " " << end;
            }
        }
    }
    // Every pair that opens a window the scanner must look at, and near misses.
    for (const char* pair : {"\0\0", "pQ", "pB", "SE", "SS", "KC", "IE"}) {
        EXPECT_TRUE(IsSignaturePair(static_cast<uint8_t>(pair[0]), static_cast<uint8_t>(pair[1])))
            << pair;
    }
    for (const char* pair : {"\0\1", "pE", "Sq", "KE", "IC", "QE", "EQ"}) {
        EXPECT_FALSE(IsSignaturePair(static_cast<uint8_t>(pair[0]), static_cast<uint8_t>(pair[1])))
            << pair;
    }
}

} // namespace
} // namespace sonvex
