// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the source scanner a game file of any bytes (held in memory) and checks the list
// it writes: it parses, its count matches, offsets rise and every entry's 16-byte window
// lies inside the file, and each group is numbered 0, 1, 2 ... in file order. The block
// scanner's list and feedback must equal those of the window-at-every-offset scanner kept
// with the tests, under both recognition rules, and so must those of a scan of the file
// from disk, mapped, whose candidates are checked on three threads in small pieces of the
// file (of a size the input picks). The sequence event walk the scan runs over
// bytes in memory must end as the converter's walk through the file does, from the first
// byte. The dictionary of signatures is made from the signature table at build time and
// lies beside the program.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analysis/scan_checks.h"
#include "analysis/source_scanner.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "fuzz/real_folder.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "seq2smf/seq_format.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "testkit/hostile_inputs.h"
#include "tests/analysis/oracle/reference_scanner.h"

namespace {

using sonvex::testkit::GameImage;
using sonvex::testkit::VagEnd;

std::vector<std::vector<uint8_t>> Seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    seeds.push_back(GameImage(1).Noise(40).Seq(3).Zeros(20).SeqSet(3, 2).Noise(30).bytes());
    seeds.push_back(GameImage(2).Noise(10).Vh(2, 2, 3, 2).Zeros(32).Vb(2, 3).Noise(20).bytes());
    seeds.push_back(GameImage(3).Kcet(2).Noise(8).SceiHead(20).SceiMidi(20).GpmHead(20).bytes());
    seeds.push_back(GameImage(4).Noise(20).GpmSeq(3).Noise(20).Vb(1, 2, VagEnd::StopBlock).bytes());
    for (const sonvex::testkit::HostileInput& image : sonvex::testkit::HostileGameImages()) {
        if (!sonvex::fuzz::IsTruncation(image.name) &&
            image.bytes.size() <= sonvex::fuzz::kMaxSeedSize) {
            seeds.push_back(image.bytes);
        }
    }
    return seeds;
}

int Group(uint32_t type) {
    if (type == sonvex::kTypeVb) {
        return 2;
    }
    if (type == sonvex::kTypeVh || type == sonvex::kTypeSceiHead || type == sonvex::kTypeGpmHead) {
        return 1;
    }
    return 0;
}

struct Scanned {
    std::vector<uint8_t> list;
    std::vector<sonvex::RecordingFeedback::Event> events;
};

Scanned ScanWith(sonvex::MemoryFileSystem& files, sonvex::RecognitionRules rules, bool reference) {
    sonvex::ChunkFile list;
    sonvex::ChunkFile source;
    if (!list.Create("/fuzz/other.clg") || !source.OpenRead("/fuzz/game.bin")) {
        std::abort();
    }
    // The block scanner reads its blocks from a second handle, as a scan by path does.
    const std::unique_ptr<sonvex::RawFile> blocks =
        files.Open("/fuzz/game.bin", sonvex::OpenMode::Read);
    if (!blocks) {
        std::abort();
    }
    sonvex::GroupCounters counters{1, 2, 3};
    sonvex::RecordingFeedback feedback;
    const sonvex::ScanOutcome outcome =
        reference ? sonvex::testing::ReferenceScanOpenSource(list, source, "game.bin", counters,
                                                             feedback, {}, rules, nullptr)
                  : sonvex::ScanOpenSource(list, source, *blocks, "game.bin", counters, feedback,
                                           {}, rules);
    if (outcome != sonvex::ScanOutcome::Scanned || !list.Close()) {
        std::abort();
    }
    return {files.Contents("/fuzz/other.clg"), feedback.events};
}

// The scan of the game file written at `path`, mapped, with threads checking pieces of
// `piece` bytes ahead of it.
Scanned ScanOnThreads(sonvex::MemoryFileSystem& files, const std::string& path,
                      sonvex::RecognitionRules rules, int64_t piece) {
    sonvex::PosixFileSystem disk;
    sonvex::ChunkFile list;
    sonvex::ChunkFile source;
    const std::unique_ptr<sonvex::RawFile> blocks = disk.Open(path, sonvex::OpenMode::Read);
    if (!list.Create("/fuzz/other.clg") || !blocks ||
        !source.OpenRead(disk.Open(path, sonvex::OpenMode::Read), path)) {
        std::abort();
    }
    sonvex::GroupCounters counters{1, 2, 3};
    sonvex::RecordingFeedback feedback;
    if (sonvex::ScanOpenSource(list, source, *blocks, "game.bin", counters, feedback, {}, rules,
                               nullptr,
                               sonvex::ScanThreads{3, piece, 0}) != sonvex::ScanOutcome::Scanned ||
        !list.Close()) {
        std::abort();
    }
    return {files.Contents("/fuzz/other.clg"), feedback.events};
}

struct WalkEnd {
    sonvex::SeqWalkResult result;
    int64_t offset; // of the event that failed; 0 after an end of track
    int64_t position;
};

// The walk of the events at the start of "/fuzz/game.bin": through the file when `lent` is
// 0, else over its first `lent` bytes lent from `data`.
WalkEnd WalkFromStart(const uint8_t* data, size_t size, size_t lent) {
    sonvex::ChunkFile file;
    if (!file.OpenRead("/fuzz/game.bin")) {
        std::abort();
    }
    int64_t offset = 0;
    sonvex::SeqWalkResult result;
    if (lent == 0) {
        result = sonvex::WalkSeqTrack(file, sonvex::SeqDialect::Seq, &offset);
    } else {
        file.LendBytes(0, data, static_cast<int64_t>(lent), lent == size);
        result = sonvex::WalkSeqEvents(file, &offset);
    }
    if (result == sonvex::SeqWalkResult::EndOfTrack) {
        offset = 0;
    }
    return {result, offset, file.Tell()};
}

bool SameEvents(const std::vector<sonvex::RecordingFeedback::Event>& a,
                const std::vector<sonvex::RecordingFeedback::Event>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.kind == y.kind && x.text == y.text && x.value == y.value;
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("scan", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::MemoryFileSystem files;
    sonvex::ScopedFileSystem guard(files);
    files.Put("/fuzz/game.bin", std::vector<uint8_t>(data, data + size));

    sonvex::ChunkFile list;
    sonvex::ChunkFile source;
    if (!list.Create("/fuzz/game.clg") || !source.OpenRead("/fuzz/game.bin")) {
        std::abort();
    }
    sonvex::ChunkListFile listFile(list);
    sonvex::GroupCounters counters;
    sonvex::NullFeedback feedback;
    if (!sonvex::WriteHeader(listFile, 0, "/fuzz") ||
        sonvex::ScanOpenSource(list, source, "game.bin", counters, feedback) !=
            sonvex::ScanOutcome::Scanned ||
        !sonvex::PatchCount(listFile, counters.Total()) || !list.Close()) {
        std::abort();
    }

    sonvex::ConvertList parsed;
    if (sonvex::ParseList(files.Contents("/fuzz/game.clg"), parsed) != sonvex::ListLoad::Ok ||
        parsed.entries.size() != counters.Total()) {
        std::abort();
    }
    std::array<int32_t, 3> next{};
    uint64_t previous = 0;
    for (size_t i = 0; i < parsed.entries.size(); ++i) {
        const sonvex::ListEntry& entry = parsed.entries[i];
        if ((i > 0 && entry.offset <= previous) || entry.offset + 16 > size ||
            entry.fileName != "game.bin") {
            std::abort();
        }
        if (entry.number != next[static_cast<size_t>(Group(entry.type))]++) {
            std::abort();
        }
        previous = entry.offset;
    }
    const std::string& folder = sonvex::fuzz::RealFolder::Path();
    const std::string onDisk = folder + "/game.bin";
    const bool written =
        !folder.empty() && size > 0 &&
        sonvex::testkit::WriteFile(onDisk, std::vector<uint8_t>(data, data + size));
    const int64_t piece = size > 0 ? 40 + 8 * (data[size / 2] % 32) : 64;
    for (const sonvex::RecognitionRules rules :
         {sonvex::RecognitionRules::Classic, sonvex::RecognitionRules::Extended}) {
        const Scanned fast = ScanWith(files, rules, false);
        const Scanned oracle = ScanWith(files, rules, true);
        if (fast.list != oracle.list || !SameEvents(fast.events, oracle.events)) {
            std::abort();
        }
        if (written) {
            const Scanned threaded = ScanOnThreads(files, onDisk, rules, piece);
            if (threaded.list != oracle.list || !SameEvents(threaded.events, oracle.events)) {
                std::abort();
            }
        }
    }
    const WalkEnd reference = WalkFromStart(data, size, 0);
    for (const size_t lent : {size, size / 2}) {
        if (lent == 0) {
            continue;
        }
        const WalkEnd walked = WalkFromStart(data, size, lent);
        if (walked.result != reference.result || walked.offset != reference.offset ||
            walked.position != reference.position) {
            std::abort();
        }
    }
    return 0;
}
