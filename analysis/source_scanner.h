// SPDX-License-Identifier: GPL-3.0-or-later
// The source scanner: walks one game file byte by byte, confirms every signature it
// meets with its check, and appends one convert list entry per item found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bank2dls/recognition_rules.h"
#include "formats/signatures.h"
#include "platform/feedback.h"

namespace sonvex {

class ChunkFile;
class RawFile;

// Status texts shown behind the file name while a file is scanned and when it is done.
extern const char* const kScanningSuffix; // " ｱﾅﾗｲｽﾞ中"
extern const char* const kScannedSuffix;  // " ｱﾅﾗｲｽﾞ終了"

// The three numbering groups of an analysis run. They start at 0 with the run and go on
// across all files scanned into the same list; an entry's number is its group's counter
// before the entry is written.
struct GroupCounters {
    uint32_t sequences = 0;   // "SEQ", "KCETSeq", "SCEIMidi", "GPMseq"
    uint32_t bankHeaders = 0; // "VH", "SCEIHead", "GPMhead"
    uint32_t bankBodies = 0;  // "VB"

    uint32_t Total() const { return sequences + bankHeaders + bankBodies; }
};

// What the entry of an item of one kind records: the list's type code and the numbering
// group whose counter it takes.
struct ItemEntry {
    uint32_t type;
    uint32_t GroupCounters::*counter;
};
ItemEntry EntryOf(signatures::ItemKind kind);

// What the scan does with the 16-byte window at one offset.
enum class WindowStep {
    Idle,      // no signature: move on one byte, counting an idle step
    MoveOn,    // a near miss ("IECS" with another second word, zeros with data behind): move on
    ZeroBlock, // sixteen zero bytes: a bank body if the block behind them starts a sample
    Candidate  // a signature: run the kind's check
};

struct WindowClass {
    WindowStep step = WindowStep::Idle;
    signatures::ItemKind kind = signatures::ItemKind::Seq; // for ZeroBlock and Candidate
};

// The window's class by the signature table: `window` holds kWindowSize bytes.
WindowClass ClassifyWindow(const uint8_t* window, RecognitionRules rules);

// Progress bar position (0..100) for file position `position` of `size` bytes: 0 when
// either is 0; below 100 bytes (position / size) × 100 with the division first; else
// position / (size / 100). Positions past the end (a bank header may claim more bytes
// than the file holds) show as 100.
int ScanProgress(int64_t position, int64_t size);

enum class [[nodiscard]] ScanOutcome{
    Scanned,        // the file was scanned (entries, if any, are in the list)
    InvalidName,    // the path names no existing file; ScannedFileMissing shown
    CannotOpen,     // the file could not be opened for reading; ScannedFileOpenFailed shown
    ListWriteFailed // an entry could not be written to the list; the scan stopped
};

// Receives one line per candidate checked (what, where, and the check's result).
using ScanTrace = std::function<void(std::string_view line)>;

// What the scan of one file wrote, for the analysis run to pair header and body files.
struct ScanSummary {
    int64_t size = 0;          // bytes in the file
    uint32_t entries = 0;      // entries the file added to the list
    bool lastIsHeader = false; // its last entry is a "VH"
    // Extended rules, last entry a "VH": the body length its table of sample sizes gives
    // (-1 when the table is not in the file, or otherwise).
    int64_t lastHeaderBodyLength = -1;
    // Candidates whose check the scan took from another thread instead of running it.
    uint32_t checksTakenAhead = 0;
};

// How many threads check the candidates of one file. The scan itself runs on the caller's
// thread and alone writes entries and shows progress; the other threads run the checks of
// the pieces of the file ahead of it, which it then takes instead of running them again. The
// list is the same whatever the count. Only a file that is mapped whole, at least
// `minFileSize` bytes long and scanned without a trace is checked on more than one thread.
struct ScanThreads {
    unsigned count = 0;                    // threads in all, the scan's own included; 0: one a core
    int64_t pieceSize = 1024 * 1024;       // bytes of the file a thread takes at a time
    int64_t minFileSize = 2 * 1024 * 1024; // smaller files are scanned on one thread
};

// The thread count that `count` stands for: itself, or for 0 the number of cores (at least 1).
unsigned ScanThreadCount(unsigned count);

// Scans the game file at `path` and appends its entries to `list` (open, positioned at
// its end). Shows the path as the game file, the file name with " ｱﾅﾗｲｽﾞ中" and then
// " ｱﾅﾗｲｽﾞ終了" in the status pane, and the progress. Whether the file exists is asked of
// the operating system; the file itself is read through the active file system.
//
// The extended rules add two things to the classic scan: a "SEQp" window is a "SEQ"
// candidate like "pQES"; and right behind an accepted "VH", when the classic rules take
// no body at that window, the header's table of sample sizes gives the body's length L
// (the sizes of its VAG count samples, × 8): if L is at least 16, the file holds L bytes
// from there and the block there is plausible (CheckVabBodyBySizes), a "VB" entry is
// written there and the scan goes on L bytes later. `summary`, when given, receives what
// the file added. The entries record `entryName`, by default the file's name.
ScanOutcome ScanSourceFile(ChunkFile& list, const std::string& path, GroupCounters& counters,
                           Feedback& feedback, const ScanTrace& trace = {},
                           RecognitionRules rules = RecognitionRules::Extended,
                           ScanSummary* summary = nullptr, std::string_view entryName = {},
                           const ScanThreads& threads = {});

// The scan of a game file that is already open for reading; `entryName` is the name the
// entries record (name and extension, no folder) and the status text shows.
ScanOutcome ScanOpenSource(ChunkFile& list, ChunkFile& source, std::string_view entryName,
                           GroupCounters& counters, Feedback& feedback, const ScanTrace& trace = {},
                           RecognitionRules rules = RecognitionRules::Extended,
                           ScanSummary* summary = nullptr);

// The same, reading the file's bytes in large blocks from `blocks`, a second handle on the
// same file, which spares a copy of every byte; the checks still read through `source`.
// When `blocks` maps the file, its candidates may be checked on several threads.
ScanOutcome ScanOpenSource(ChunkFile& list, ChunkFile& source, RawFile& blocks,
                           std::string_view entryName, GroupCounters& counters, Feedback& feedback,
                           const ScanTrace& trace = {},
                           RecognitionRules rules = RecognitionRules::Extended,
                           ScanSummary* summary = nullptr, const ScanThreads& threads = {});

// Appends a "VB" entry at offset 0 of the file `entryName` (a body file that is the body
// of the header scanned just before it) and advances the bank body counter; false when
// the list could not be written.
bool WriteWholeFileBody(ChunkFile& list, std::string_view entryName, GroupCounters& counters);

} // namespace sonvex
