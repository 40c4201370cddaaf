// SPDX-License-Identifier: GPL-3.0-or-later
// The plain scanner, the oracle of the block scanner's tests: it reads the 16-byte window at
// every offset through the buffered file, one at a time, and leaves the window's class and
// the item checks to the code the scanner shares. No block buffer, no pre-filter.
#include "tests/analysis/oracle/reference_scanner.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "analysis/scan_checks.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"

namespace sonvex::testing {

namespace {

constexpr int64_t kWindowSize = signatures::kWindowSize;
// Every 1024th idle window (after the first 1024) takes a look at the progress.
constexpr int kIdleSteps = 1024;

// The bar and a repaint whenever the shown value changes.
class Progress {
  public:
    Progress(Feedback& feedback, int64_t size) : feedback_(feedback), size_(size) {
        feedback_.SetProgress(0);
    }
    bool Show(int64_t position) {
        const int value = ScanProgress(position, size_);
        if (value == shown_) {
            return false;
        }
        shown_ = value;
        feedback_.SetProgress(value);
        feedback_.Refresh();
        return true;
    }

  private:
    Feedback& feedback_;
    int64_t size_;
    int shown_ = 0;
};

} // namespace

ScanOutcome ReferenceScanOpenSource(ChunkFile& list, ChunkFile& source, std::string_view entryName,
                                    GroupCounters& counters, Feedback& feedback,
                                    const ScanTrace& trace, RecognitionRules rules,
                                    ScanSummary* summary) {
    const std::string name(entryName);
    ScanSummary facts;
    facts.size = std::max<int64_t>(source.Size(), 0);
    Progress progress(feedback, facts.size);
    feedback.SetStatusText(name + kScanningSuffix);
    feedback.Refresh();

    ChunkListFile listFile(list);
    std::string note;
    std::string* notes = trace ? &note : nullptr;
    auto traced = [&](CheckResult result) {
        if (trace) {
            trace(note + " -> " + CheckResultName(result));
        }
        return result;
    };
    int idle = 0;
    bool listFailed = false;
    // The body length by the size table of the header accepted last, for the one window
    // right behind it (-1: none).
    int64_t headerBody = -1;
    for (int64_t position = 0;;) {
        std::array<uint8_t, kWindowSize> window{};
        source.Seek(position, SeekOrigin::Begin);
        if (source.Read(window.data(), kWindowSize) != kWindowSize) {
            break;
        }
        const int64_t bodyBySizes = std::exchange(headerBody, -1);
        const WindowClass found = ClassifyWindow(window.data(), rules);
        signatures::ItemKind kind = found.kind;

        // The classic rules: a signature is checked; sixteen zeros are checked when the
        // flags byte of the block behind them starts a sample, and end the scan when the
        // file has no such byte.
        bool check = found.step == WindowStep::Candidate;
        bool fileEnds = false;
        if (found.step == WindowStep::ZeroBlock) {
            std::array<uint8_t, 2> behind{};
            fileEnds = source.Read(behind.data(), 2) != 2;
            check = !fileEnds && IsVagStartFlags(behind[1]);
        }
        std::optional<CheckResult> result;
        if (check) {
            source.Seek(position, SeekOrigin::Begin);
            result = traced(CheckCandidate(kind, source, position, notes));
        }
        const bool accepted = result == CheckResult::Accept || result == CheckResult::AcceptAndStop;
        // The extended rules: right behind a bank header where the classic rules took
        // nothing, its table of sample sizes may place the body.
        if (bodyBySizes >= 0 && !accepted) {
            const int64_t classicEnd = source.Tell();
            source.Seek(position, SeekOrigin::Begin);
            if (traced(CheckVabBodyBySizes(source, bodyBySizes, notes)) == CheckResult::Accept) {
                kind = signatures::ItemKind::Vb;
                result = CheckResult::Accept;
                fileEnds = false;
            } else {
                source.Seek(classicEnd, SeekOrigin::Begin);
            }
        }
        if (fileEnds || result == CheckResult::StopScan) {
            break;
        }
        if (!result) {
            if (found.step == WindowStep::Idle) {
                if (idle == kIdleSteps) {
                    progress.Show(source.Tell());
                    idle = 0;
                }
                ++idle;
            }
            ++position;
            continue;
        }
        if (*result == CheckResult::Reject) {
            position = source.Tell() + 1;
            continue;
        }

        const int64_t resume = source.Tell();
        const ItemEntry entry = EntryOf(kind);
        uint32_t& counter = counters.*entry.counter;
        if (!WriteEntry(listFile, entry.type, static_cast<int32_t>(counter),
                        static_cast<uint64_t>(position), entryName) ||
            list.WriteFailed()) {
            listFailed = true;
            break;
        }
        ++counter;
        ++facts.entries;
        facts.lastIsHeader = kind == signatures::ItemKind::Vh;
        facts.lastHeaderBodyLength = -1;
        if (facts.lastIsHeader && rules == RecognitionRules::Extended) {
            headerBody = BodyLengthBySizeTable(source, position);
            facts.lastHeaderBodyLength = headerBody;
            source.Seek(resume, SeekOrigin::Begin);
        }
        progress.Show(resume);
        if (*result == CheckResult::AcceptAndStop) {
            break;
        }
        position = std::max(resume, position + 1);
    }

    if (!progress.Show(source.Tell())) {
        feedback.Refresh();
    }
    feedback.SetStatusText(name + kScannedSuffix);
    if (summary != nullptr) {
        *summary = facts;
    }
    return listFailed ? ScanOutcome::ListWriteFailed : ScanOutcome::Scanned;
}

} // namespace sonvex::testing
