// SPDX-License-Identifier: GPL-3.0-or-later
// The byte-by-byte scan of one game file: a 16-byte window at every offset, classified
// by its signature; candidates go to their check, and confirmed items become entries.
#include "analysis/source_scanner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/scan_checks.h"
#include "analysis/signature_search.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_mapping.h"
#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"

namespace sonvex {

const char* const kScanningSuffix = " ｱﾅﾗｲｽﾞ中";
const char* const kScannedSuffix = " ｱﾅﾗｲｽﾞ終了";

namespace {

using signatures::ItemKind;

constexpr int64_t kWindowSize = signatures::kWindowSize;
// Idle windows between two progress looks on a stretch without signatures.
constexpr uint16_t kIdleSteps = 1024;

// Shows the progress only when its value changes, so that a long file repaints about a
// hundred times and never once per byte. It keeps the stretch of positions that give the
// value shown, so that the frequent looks on idle stretches cost a comparison, not a division.
class ProgressDisplay {
  public:
    ProgressDisplay(Feedback& feedback, int64_t size) : feedback_(feedback), size_(size) {
        feedback_.SetProgress(0);
    }
    // Sets the bar and repaints when the value moved; true when it did.
    bool Update(int64_t position) {
        if (position >= sameFrom_ && position < sameTo_) {
            return false;
        }
        const int value = ScanProgress(position, size_);
        KeepStretch(position, value);
        if (value == shown_) {
            return false;
        }
        shown_ = value;
        feedback_.SetProgress(value);
        feedback_.Refresh();
        return true;
    }

  private:
    // The positions around `position` whose value is `value` as well (ScanProgress rises
    // with the position); only `position` itself where the formula has its special cases.
    void KeepStretch(int64_t position, int value) {
        constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::max();
        sameFrom_ = position;
        sameTo_ = position + 1;
        if (position <= 0 || size_ <= 0) {
            return;
        }
        if (size_ < 100) {
            sameFrom_ = value == 0 ? 1 : size_;
            sameTo_ = value == 0 ? size_ : kNoEnd;
            return;
        }
        const int64_t step = size_ / 100;
        const int64_t raw = position / step;
        sameFrom_ = raw == 0 ? 1 : (raw >= 100 ? 100 * step : raw * step);
        sameTo_ = raw >= 100 ? kNoEnd : (raw + 1) * step;
    }

    Feedback& feedback_;
    int64_t size_;
    int shown_ = 0;
    int64_t sameFrom_ = 0; // positions in [sameFrom_, sameTo_) show shown_
    int64_t sameTo_ = 0;
};

// The source file's bytes held in memory, so that the scan looks at windows without a
// read per offset and the checks find the bytes of their candidates in hand. A plain file
// is mapped whole and is one block. A file inside a mapped disc image is looked at in
// place, sector by sector: the block is one sector's user data, or a few bytes copied
// across the seam between two sectors. Otherwise blocks are read from a second handle on
// the file when the caller has one (one copy less than through the buffered file), or
// through the buffered file. Before a check, a candidate near a block's end, or outside a
// block read from the file, moves the block up to it first, so that a typical item lies
// wholly in the block. Either way the bytes held are lent to the buffered file, so the
// checks read from them and go to the file only past their end.
class SourceBlock {
  public:
    static constexpr int64_t kBlockSize = 512 * 1024;
    // Room behind a candidate that the block keeps: sequences and bank headers are a few
    // KiB; larger bank bodies read the rest from the file.
    static constexpr int64_t kItemRoom = 32 * 1024;
    // Mapped pages made ready at once.
    static constexpr int64_t kPrepareAhead = 4 * 1024 * 1024;
    // Bytes copied for a look across the seam between two sectors held in place: more than
    // a window and the flags byte behind it.
    static constexpr int64_t kSeamBytes = 64;
    // A file held in place is copied only around its candidates, in smaller blocks: most
    // items are a few KiB, and the rest of a larger one is read from the file.
    static constexpr int64_t kInPlaceBlockSize = 16 * 1024;
    static constexpr int64_t kInPlaceItemRoom = 8 * 1024;

    SourceBlock(ChunkFile& source, RawFile* direct) : source_(&source), direct_(direct) {
        const FileMapping* mapping = direct_ != nullptr ? direct_->Map() : nullptr;
        if (mapping != nullptr) {
            View(*mapping, mapping->size());
            source_->LendBytes(0, data_, length_, length_ >= source_->Size());
            return;
        }
        size_ = std::max<int64_t>(source_->Size(), 0);
        inPlace_ = direct_ != nullptr && size_ > 0 && direct_->StridedAt(0, run_);
        bytes_.resize(static_cast<size_t>(inPlace_ ? kInPlaceBlockSize : kBlockSize));
        itemRoom_ = inPlace_ ? kInPlaceItemRoom : kItemRoom;
        data_ = bytes_.data();
    }
    // The first `length` bytes of a mapped file, as one block that lends nothing: what a
    // thread checking ahead of the scan looks at.
    // The thread makes the pages of its own piece ready itself, once: they are not made
    // ready again as it goes.
    SourceBlock(const FileMapping& mapping, int64_t length) {
        View(mapping, length);
        prepared_ = length;
    }
    ~SourceBlock() {
        if (source_ != nullptr) {
            source_->LendBytes(0, nullptr, 0);
        }
    }
    SourceBlock(const SourceBlock&) = delete;
    SourceBlock& operator=(const SourceBlock&) = delete;

    // The bytes from `position` on, with at least `want` of them held unless the file ends
    // sooner; AvailableAt tells how many there are.
    const uint8_t* At(int64_t position, int64_t want) {
        if (mapping_ != nullptr) {
            // The mapped pages are made ready a stretch ahead of the scan, as it goes, so
            // that the progress moves while a file that is not in the page cache is read.
            if (position + want > prepared_) {
                const int64_t from = std::max(prepared_, position);
                mapping_->Prepare(from, std::min(kPrepareAhead, length_ - from));
                prepared_ = from + kPrepareAhead;
            }
            return data_ + position;
        }
        if (!Holds(position, want) && !(inPlace_ && ViewInPlace(position, want))) {
            Load(position);
        }
        return data_ + (position - start_);
    }
    // Before the check of a candidate at `position`: moves the block up to it when the
    // room behind it is short and the file goes on, or when the block is not lent.
    void KeepRoomFor(int64_t position) {
        if (mapping_ == nullptr && (!lent_ || (!reachesEnd_ && end() - position < itemRoom_))) {
            Load(position);
        }
    }
    // The mapped pages are made ready by others (the threads checking ahead, each its own
    // piece): the scan leaves them alone.
    void LeavePreparing() { prepared_ = std::numeric_limits<int64_t>::max(); }
    // Bytes held from `position` on (after At); at the file's end, the bytes left in it.
    int64_t AvailableAt(int64_t position, int64_t want) const {
        return std::min(want, start_ + length_ - position);
    }
    // The block's bytes and its extent in the file.
    const uint8_t* data() const { return data_; }
    int64_t start() const { return start_; }
    int64_t end() const { return start_ + length_; }
    // Whether the file ends inside (or right at the end of) the block.
    bool reachesFileEnd() const { return reachesEnd_; }
    // The mapping the block is, or nullptr when it holds bytes read from the file.
    const FileMapping* mapping() const { return mapping_; }

  private:
    void View(const FileMapping& mapping, int64_t length) {
        mapping_ = &mapping;
        data_ = mapping.data();
        length_ = length;
        reachesEnd_ = true;
        loaded_ = true;
        lent_ = true;
    }
    bool Holds(int64_t position, int64_t want) const {
        if (!loaded_ || position < start_) {
            return false;
        }
        return position + want <= end() || (reachesEnd_ && position <= end());
    }
    // Makes the block the sector holding `position` in place, when `want` bytes from there
    // lie in it, or else a copy of the bytes across the seam behind it. False when the
    // file's bytes are not in place there.
    bool ViewInPlace(int64_t position, int64_t want) {
        if (want > kSeamBytes) {
            return false;
        }
        if ((position < run_.start || position >= run_.end()) &&
            !direct_->StridedAt(position, run_)) {
            return false;
        }
        const int64_t piece = run_.PieceOf(position);
        const int64_t pieceStart = run_.start + piece * run_.length;
        if (pieceStart + run_.length - position >= want) {
            data_ = run_.PieceData(piece);
            start_ = pieceStart;
            length_ = run_.length;
        } else {
            int64_t copied = 0;
            while (copied < kSeamBytes && position + copied < size_) {
                const int64_t at = position + copied;
                if ((at < run_.start || at >= run_.end()) && !direct_->StridedAt(at, run_)) {
                    return false;
                }
                const int64_t atPiece = run_.PieceOf(at);
                const int64_t within = at - (run_.start + atPiece * run_.length);
                const int64_t take = std::min(run_.length - within, kSeamBytes - copied);
                std::memcpy(seam_ + copied, run_.PieceData(atPiece) + within,
                            static_cast<size_t>(take));
                copied += take;
            }
            data_ = seam_;
            start_ = position;
            length_ = copied;
        }
        reachesEnd_ = end() >= size_;
        loaded_ = true;
        lent_ = false;
        return true;
    }
    void Load(int64_t position) {
        data_ = bytes_.data();
        start_ = position;
        length_ = 0;
        const auto blockSize = static_cast<int64_t>(bytes_.size());
        if (direct_ != nullptr) {
            length_ = std::max<int64_t>(direct_->ReadAt(position, bytes_.data(), blockSize), 0);
        } else {
            // The loan ends first: the block is about to change under it.
            source_->LendBytes(0, nullptr, 0);
            if (source_->Seek(position, SeekOrigin::Begin) == position) {
                length_ = std::max<int64_t>(source_->Read(bytes_.data(), blockSize), 0);
            }
        }
        reachesEnd_ = length_ < blockSize;
        loaded_ = true;
        lent_ = true;
        source_->LendBytes(start_, data_, length_, reachesEnd_);
    }

    ChunkFile* source_ = nullptr; // lent the bytes read into bytes_; none for a view
    RawFile* direct_ = nullptr;
    const FileMapping* mapping_ = nullptr;
    int64_t prepared_ = 0; // mapped pages before this are ready
    // A file held in place in pieces (sectors): the run of them looked at last.
    bool inPlace_ = false;
    StridedBytes run_;
    int64_t size_ = 0;
    int64_t itemRoom_ = kItemRoom;
    uint8_t seam_[kSeamBytes] = {};
    std::vector<uint8_t> bytes_;
    const uint8_t* data_ = nullptr;
    int64_t start_ = 0;
    int64_t length_ = 0;
    bool reachesEnd_ = false;
    bool loaded_ = false;
    bool lent_ = false; // the block is what the buffered file has been lent
};

// What a walk over a file's windows did that shows: a run of idle windows (`count` of
// them from `position` on), or an item found (`count` 0). A thread walking ahead of the
// scan writes these down, so that the scan can do the same in the same order without
// walking those windows again.
struct WalkEvent {
    int64_t position;   // the first idle window, or the item's first byte
    int64_t count;      // idle windows; 0 for an item
    int64_t resume;     // item: where the file stands behind it
    int64_t bodyLength; // item: the body length by its size table (-1: none)
    ItemKind kind;
};

// The idle counter: windows without any signature are counted, and every 1024th of them
// after the first 1024 takes a look at the progress (none when there is no progress shown).
// One that writes down instead keeps the runs of idle windows in `events`.
class IdleSteps {
  public:
    explicit IdleSteps(ProgressDisplay* progress) : progress_(progress) {}
    explicit IdleSteps(std::vector<WalkEvent>& events) : progress_(nullptr), events_(&events) {}

    // One idle window at `position`.
    void Step(int64_t position) { Steps(position, 1); }

    // Runs written down from here on start a new event: those before stay as they are.
    void Seal() { sealed_ = events_->size(); }

    // `count` idle windows at position, position + 1, ...: the same looks as one at a time.
    void Steps(int64_t position, int64_t count) {
        if (events_ != nullptr && count > 0) {
            WalkEvent* last = events_->size() > sealed_ ? &events_->back() : nullptr;
            if (last != nullptr && last->count > 0 && last->position + last->count == position) {
                last->count += count;
            } else {
                events_->push_back({position, count, 0, -1, ItemKind::Seq});
            }
        }
        if (progress_ == nullptr) {
            return;
        }
        while (count > 0) {
            if (idle_ == kIdleSteps) {
                // The file stands just past the window when the look is taken.
                progress_->Update(position + kWindowSize);
                idle_ = 0;
            }
            const int64_t run = std::min<int64_t>(count, kIdleSteps - idle_);
            idle_ = static_cast<uint16_t>(idle_ + run);
            position += run;
            count -= run;
        }
    }

  private:
    ProgressDisplay* progress_;
    std::vector<WalkEvent>* events_ = nullptr;
    size_t sealed_ = 0; // events_ before this are not added to
    uint16_t idle_ = 0;
};

// Passes over the windows from `position` on that need no close look: those whose first
// two bytes are no signature pair are idle; in a run of zero bytes, a window with eighteen
// zero bytes from its start (sixteen zeros and a zero flags byte behind them) moves on.
// Returns the first window that needs the close look, or one too near the file's end to
// judge here.
int64_t PassQuietWindows(SourceBlock& block, int64_t position, IdleSteps& idle) {
    constexpr int64_t kLook = kWindowSize + 2; // window and flags-byte pair behind it
    for (;;) {
        block.At(position, kLook);
        // The last window whose look lies wholly inside the block.
        const int64_t last = block.end() - kLook;
        if (position > last) {
            return position;
        }
        const uint8_t* data = block.data();
        const int64_t base = block.start();
        const auto found = static_cast<int64_t>(FindSignaturePair(
            data, static_cast<size_t>(position - base), static_cast<size_t>(last + 1 - base)));
        const int64_t hit = base + found;
        idle.Steps(position, hit - position);
        if (hit > last) {
            position = hit;
            continue;
        }
        if (data[found] != 0) {
            return hit;
        }
        // Zeros from `hit` to `zerosEnd` (the first non-zero byte, or the block's end).
        const int64_t zerosEnd =
            base + static_cast<int64_t>(FindNonZero(data, static_cast<size_t>(found + 2),
                                                    static_cast<size_t>(block.end() - base)));
        const int64_t firstToLook = zerosEnd - (kLook - 1);
        if (firstToLook <= hit) {
            return hit;
        }
        position = firstToLook;
    }
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

ItemEntry EntryOf(ItemKind kind) {
    switch (kind) {
    case ItemKind::Seq:
        return {kTypeSeq, &GroupCounters::sequences};
    case ItemKind::Vh:
        return {kTypeVh, &GroupCounters::bankHeaders};
    case ItemKind::Vb:
        return {kTypeVb, &GroupCounters::bankBodies};
    case ItemKind::KcetSeq:
        return {kTypeKcetSeq, &GroupCounters::sequences};
    case ItemKind::SceiHead:
        return {kTypeSceiHead, &GroupCounters::bankHeaders};
    case ItemKind::SceiMidi:
        return {kTypeSceiMidi, &GroupCounters::sequences};
    case ItemKind::GpmHead:
        return {kTypeGpmHead, &GroupCounters::bankHeaders};
    case ItemKind::GpmSeq:
        return {kTypeGpmSeq, &GroupCounters::sequences};
    }
    return {0, &GroupCounters::sequences};
}

WindowClass ClassifyWindow(const uint8_t* window, RecognitionRules rules) {
    constexpr auto kWindow = static_cast<size_t>(kWindowSize);
    bool nearMiss = false;
    for (const signatures::Signature& s : signatures::kSignatures) {
        if (s.extendedOnly && rules != RecognitionRules::Extended) {
            continue;
        }
        if (!signatures::StartsWith(window, kWindow, s.magic.substr(0, s.familyLength))) {
            continue;
        }
        if (signatures::StartsWith(window, kWindow, s.magic)) {
            return {s.needsSampleStartBehind ? WindowStep::ZeroBlock : WindowStep::Candidate,
                    s.kind};
        }
        nearMiss = true;
    }
    return {nearMiss ? WindowStep::MoveOn : WindowStep::Idle};
}

unsigned ScanThreadCount(unsigned count) {
    if (count > 0) {
        return count;
    }
    // Asking the system takes a look at its processor files: once is enough.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

int ScanProgress(int64_t position, int64_t size) {
    if (position <= 0 || size <= 0) {
        return 0;
    }
    const int64_t value = size < 100 ? (position / size) * 100 : position / (size / 100);
    return static_cast<int>(std::min<int64_t>(value, 100));
}

namespace {

// Where a walk over the windows of a file ended.
struct WalkEnd {
    int64_t position = 0;    // where the file stands: the final progress shows it
    bool listFailed = false; // an entry could not be written
};

// The walk over the windows of a file from `position` on: the scan's own, and that of a
// thread checking a piece of the file ahead of it. `visit` says whether to look at the
// window at a position (Continue), gives the outcome of a candidate's check (Check: the
// file position it leaves in `filePosition`) and takes every item found (Item: false when
// its entry could not be written). The checks of a bank body by its header's size table,
// and that table itself, are read through `source` every time.
// Where Continue is asked, the walk's whole state is the window's position and the body
// length a bank header just before it gives: from the same state on, two walks over the
// same bytes do the same. Continue may move the walk on to a later state, when it has
// done itself what the walk would have done up to there.
template <typename Visitor>
WalkEnd WalkWindows(SourceBlock& block, ChunkFile& source, IdleSteps& idle, RecognitionRules rules,
                    const ScanTrace& trace, int64_t position, Visitor& visit) {
    std::string note;
    WalkEnd end;
    // Extended rules: the body length that the size table of a bank header just accepted
    // gives; it applies to the one window right behind that header (-1: none).
    int64_t headerBody = -1;
    for (;;) {
        if (headerBody < 0) {
            position = PassQuietWindows(block, position, idle);
        }
        if (!visit.Continue(position, headerBody)) {
            end.position = position;
            break;
        }
        // The window at `position`, and the two bytes behind it, as far as the file has them.
        const uint8_t* bytes = block.At(position, kWindowSize + 2);
        const int64_t available = block.AvailableAt(position, kWindowSize + 2);
        if (available < kWindowSize) {
            end.position = position + available;
            break;
        }
        const int64_t bodyBySizes = std::exchange(headerBody, -1);
        const WindowClass found = ClassifyWindow(bytes, rules);

        // Where the file would stand had the window (and the flags byte) been read from it.
        int64_t filePosition = position + kWindowSize;
        // What the classic rules make of the window: no candidate (move on), or a check.
        bool candidate = found.step == WindowStep::Candidate;
        bool fileEnds = false;
        if (found.step == WindowStep::ZeroBlock) {
            // The flags byte of the block behind the zeros says whether a sample starts.
            if (available < kWindowSize + 2) {
                fileEnds = true;
                filePosition = position + available;
            } else {
                filePosition += 2;
                candidate = IsVagStartFlags(bytes[kWindowSize + 1]);
            }
        }
        ItemKind kind = found.kind;
        std::optional<CheckResult> result;
        if (candidate) {
            block.KeepRoomFor(position);
            result = visit.Check(kind, position, trace ? &note : nullptr, filePosition);
            if (trace) {
                trace(note + " -> " + CheckResultName(*result));
            }
        }
        const bool accepted =
            result && (*result == CheckResult::Accept || *result == CheckResult::AcceptAndStop);
        if (bodyBySizes >= 0 && !accepted) {
            // Right behind a bank header the classic rules found nothing: the header's table
            // of sample sizes may still place its body here.
            block.KeepRoomFor(position);
            source.Seek(position, SeekOrigin::Begin);
            const CheckResult bySizes =
                CheckVabBodyBySizes(source, bodyBySizes, trace ? &note : nullptr);
            if (trace) {
                trace(note + " -> " + CheckResultName(bySizes));
            }
            if (bySizes == CheckResult::Accept) {
                kind = ItemKind::Vb;
                result = bySizes;
                fileEnds = false;
                filePosition = source.Tell();
            }
        }
        if (fileEnds) {
            end.position = filePosition;
            break;
        }
        if (!result) {
            if (found.step == WindowStep::Idle) {
                idle.Step(position);
            }
            ++position;
            continue;
        }
        if (*result == CheckResult::Reject) {
            position = filePosition + 1;
            continue;
        }
        if (*result == CheckResult::StopScan) {
            end.position = filePosition;
            break;
        }
        const int64_t resume = filePosition;
        end.position = resume;
        int64_t bodyLength = -1;
        if (kind == ItemKind::Vh && rules == RecognitionRules::Extended) {
            bodyLength = BodyLengthBySizeTable(source, position);
            source.Seek(resume, SeekOrigin::Begin);
        }
        if (!visit.Item(kind, position, resume, bodyLength)) {
            end.listFailed = true;
            break;
        }
        headerBody = bodyLength;
        if (*result == CheckResult::AcceptAndStop) {
            break;
        }
        // Every check that accepts leaves the file past the window start.
        position = std::max(resume, position + 1);
    }
    return end;
}

// The reader of a thread that checks ahead of the scan: the whole mapped file is lent to
// the buffered file over it, so that a check reads this file only past the file's end, or
// to ask its size. Either is noted. A buffered file keeps the place of its last read past
// the end as part of the size, so after such a read the thread's file and the scan's no
// longer agree on it: the thread goes no further. The size it gives is the mapped size;
// the scan's file gives the same as long as the file keeps its size and the scan's own
// checks have not read past its end, which the scan makes sure of before it takes what a
// check that asked the size found.
class LentBytesOnly : public RawFile {
  public:
    explicit LentBytesOnly(int64_t size) : size_(size) {}
    int64_t ReadAt(int64_t /*position*/, void* /*destination*/, int64_t /*length*/) override {
        pastEnd = true;
        return 0; // only reads past the mapped bytes come here: the file has no more
    }
    int64_t WriteAt(int64_t /*position*/, const void* /*source*/, int64_t /*length*/) override {
        return 0;
    }
    int64_t Size() override {
        sized = true;
        return size_;
    }
    bool Close() override { return true; }

    bool pastEnd = false; // since it was last cleared
    bool sized = false;

  private:
    int64_t size_;
};

// The pieces of a mapped file walked ahead of the scan, on other threads. A thread walks a
// piece from its start as the scan would (skipping what it accepts, moving on past what it
// rejects) and writes down every window it looks at closely, with the walk's state there
// and, where it checks a candidate, the check's result and where it left the file; and in
// between, the runs of idle windows and the items it found. It writes no entries. The two
// walks may differ at first (the thread starts at the piece's start, the scan may enter the
// piece inside an item). Until they meet, the scan takes a recorded outcome instead of
// running a check again: a check is a function of the file's bytes, so it is the outcome
// the scan would have got. Once the scan stands where the thread stood, in the same state,
// the rest of the thread's walk is the scan's own: the scan does what the thread wrote down
// (progress looks and entries, in order) and goes straight on to where the thread got,
// without looking at the windows in between. The scan never waits: when it catches up with the
// thread in its piece, it takes the rest of the piece over and the thread moves on ahead, so the
// two share each piece. Threads stay at most a few pieces ahead, so memory is bounded.
class ChecksAhead {
  public:
    // `source` is the scan's own buffered file over the mapped file.
    ChecksAhead(const FileMapping& mapping, ChunkFile& source, RecognitionRules rules,
                unsigned threads, int64_t pieceSize)
        : mapping_(mapping), source_(source), size_(mapping.size()), rules_(rules),
          pieceSize_(pieceSize), slotCount_(2 * static_cast<int64_t>(threads) + 2),
          slots_(std::make_unique<Slot[]>(static_cast<size_t>(slotCount_))), pieceEnd_(pieceSize) {
        for (unsigned i = 0; i < threads; ++i) {
            try {
                threads_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break; // fewer threads: the scan runs more checks itself
            }
        }
    }
    ~ChecksAhead() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            for (int64_t i = 0; i < slotCount_; ++i) {
                slots_[static_cast<size_t>(i)].cancel.store(true, std::memory_order_relaxed);
            }
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }
    ChecksAhead(const ChecksAhead&) = delete;
    ChecksAhead& operator=(const ChecksAhead&) = delete;

    // Where a thread's walk went on from the scan's state: the state it got to, what it did
    // on the way, and how many checks it ran on the way.
    struct Jump {
        int64_t position = 0;
        int64_t headerBody = -1;
        uint32_t checks = 0;
        std::vector<WalkEvent> events;
    };

    // The scan looks at the window at `position` (its positions only grow).
    void Reached(int64_t position) {
        if (position >= pieceEnd_) {
            EnterPiece(position);
        }
    }

    // Whether a thread walked on from the state the scan is in (the window at `position`,
    // `headerBody` the body length a header just before it gives) to a later one: then
    // `jump` tells where to, and what the walk did on the way.
    bool JumpFrom(int64_t position, int64_t headerBody, Jump& jump) {
        if (current_ == nullptr) {
            return false;
        }
        std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
        const Step* at = StepAt(position, lock);
        if (at == nullptr || at->headerBody != headerBody) {
            return false;
        }
        const std::vector<Step>& steps = current_->steps;
        const size_t from = cursor_;
        size_t eventsTo = 0;
        if (currentDone_ && current_->ended) {
            jump.position = current_->endPosition;
            jump.headerBody = current_->endHeaderBody;
            eventsTo = current_->events.size();
            cursor_ = steps.size();
        } else if (steps.size() - 1 > from) {
            // As far as the thread has got: the last window it wrote down. The scan has
            // caught up with it there, and takes the rest of the piece over rather than
            // follow it closely through the same pages.
            cursor_ = steps.size() - 1;
            jump.position = steps[cursor_].position;
            jump.headerBody = steps[cursor_].headerBody;
            eventsTo = steps[cursor_].events;
        } else {
            return false;
        }
        const size_t sizedTo =
            cursor_ < steps.size() ? steps[cursor_].sizedBefore : current_->endSizedBefore;
        if (sizedTo != steps[from].sizedBefore && !ScanSizeIsMapped()) {
            cursor_ = from;
            return false;
        }
        const size_t checksTo =
            cursor_ < steps.size() ? steps[cursor_].checksBefore : current_->endChecksBefore;
        jump.checks = static_cast<uint32_t>(checksTo - steps[from].checksBefore);
        const auto first = current_->events.begin();
        jump.events.assign(first + static_cast<std::ptrdiff_t>(steps[from].events),
                           first + static_cast<std::ptrdiff_t>(eventsTo));
        if (!currentDone_) {
            last_ = cursor_ < steps.size() ? steps[cursor_] : Step{};
            current_->cancel.store(true, std::memory_order_relaxed);
            current_ = nullptr;
        }
        return true;
    }

    // The outcome of the check of `kind` at `position` when a thread has recorded it.
    bool Find(ItemKind kind, int64_t position, CheckResult& result, int64_t& filePosition) {
        if (current_ == nullptr) {
            // The check at the window where the scan took the piece over, when a thread ran it.
            if (!last_.checked || last_.position != position || last_.kind != kind ||
                (last_.checkSized && !ScanSizeIsMapped())) {
                return false;
            }
            result = last_.result;
            filePosition = last_.filePosition;
            return true;
        }
        std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
        const Step* at = StepAt(position, lock);
        if (at != nullptr && at->checked && at->kind == kind &&
            (!at->checkSized || ScanSizeIsMapped())) {
            result = at->result;
            filePosition = at->filePosition;
            return true;
        }
        if (!currentDone_ &&
            (!current_->busy || position >= current_->at.load(std::memory_order_acquire))) {
            // The scan has caught up with the thread: it checks the rest itself.
            current_->cancel.store(true, std::memory_order_relaxed);
            current_ = nullptr;
        }
        return false;
    }

  private:
    // Room behind a piece's end in the bytes its thread looks at, so that every window
    // starting in the piece is whole.
    static constexpr int64_t kPastPiece = 64;
    // Windows a thread writes down at most before it hands them on.
    static constexpr size_t kFlushSteps = 64;
    // Pieces the scan leaves behind that are let go at once.
    static constexpr int64_t kReleasePieces = 32;

    // A window a thread looked at closely.
    struct Step {
        int64_t position = -1;   // the window's first byte
        int64_t headerBody = -1; // the walk's state there, with `position`
        size_t events = 0;       // the walk's events before the window
        size_t sizedBefore = 0;  // the windows before it whose looks asked the file's size
        size_t checksBefore = 0; // the checks the thread ran before it
        // The check of a candidate there, when the thread ran one.
        bool checked = false;
        bool checkSized = false; // the check asked the file's size
        ItemKind kind = ItemKind::Seq;
        CheckResult result = CheckResult::Reject;
        int64_t filePosition = 0; // where the check left the file
    };

    // The step the thread of the scan's piece wrote down at `position`, if any. `lock` (on
    // mutex_, not held) is taken while the thread may still write.
    const Step* StepAt(int64_t position, std::unique_lock<std::mutex>& lock) {
        if (!currentDone_) {
            lock.lock();
            currentDone_ = current_->done;
        }
        const std::vector<Step>& steps = current_->steps;
        while (cursor_ < steps.size() && steps[cursor_].position < position) {
            ++cursor_;
        }
        return cursor_ < steps.size() && steps[cursor_].position == position ? &steps[cursor_]
                                                                             : nullptr;
    }

    // Whether the scan's file gives the size the threads' files give.
    bool ScanSizeIsMapped() { return source_.Size() == size_; }
    // One piece of the file a thread walks; piece i uses slot i % slotCount_. The fields
    // but `at` and `cancel` are guarded by mutex_.
    struct Slot {
        int64_t piece = -1;
        bool busy = false;       // a thread walks it
        bool done = false;       // walked to its end: what it wrote no longer changes
        std::vector<Step> steps; // by position
        std::vector<WalkEvent> events;
        // The walk left the piece in this state, with every event written down (when done).
        bool ended = false;
        int64_t endPosition = 0;
        int64_t endHeaderBody = -1;
        size_t endSizedBefore = 0;
        size_t endChecksBefore = 0;
        // The thread has recorded every check it ran before this position.
        std::atomic<int64_t> at{0};
        std::atomic<bool> cancel{false};
    };

    // What a thread's walk has done and not yet handed on; `steps[i].events` counts in
    // `events` here.
    struct Pending {
        std::vector<WalkEvent> events;
        std::vector<Step> steps;
    };

    Slot& SlotOf(int64_t piece) { return slots_[static_cast<size_t>(piece % slotCount_)]; }

    void EnterPiece(int64_t position) {
        const int64_t piece = position / pieceSize_;
        pieceEnd_ = (piece + 1) * pieceSize_;
        cursor_ = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            scanPiece_ = piece;
            Slot& slot = SlotOf(piece);
            current_ = slot.piece == piece && (slot.busy || slot.done) ? &slot : nullptr;
            currentDone_ = current_ != nullptr && slot.done;
            // Pieces the scan has left behind are of no more use.
            for (int64_t i = 0; i < slotCount_; ++i) {
                Slot& other = slots_[static_cast<size_t>(i)];
                if (other.busy && other.piece < piece) {
                    other.cancel.store(true, std::memory_order_relaxed);
                }
            }
        }
        wake_.notify_all();
    }

    // A thread: takes the first piece ahead of the scan that no thread has taken, while it
    // is fewer than slotCount_ pieces ahead and its slot is free.
    void Work() {
        auto lentFile = std::make_unique<LentBytesOnly>(size_);
        LentBytesOnly& lent = *lentFile;
        ChunkFile reader;
        if (!reader.OpenRead(std::move(lentFile), {})) {
            return;
        }
        reader.LendBytes(0, mapping_.data(), size_, true);
        Pending pending;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            const int64_t piece = std::max(nextPiece_, scanPiece_ + 1);
            Slot& slot = SlotOf(piece);
            if (scanPiece_ * pieceSize_ - released_ >= kReleasePieces * pieceSize_) {
                // What the scan has left behind is not looked at again: unmapping it as the
                // scan goes spares the scan's thread that work at the end. In large steps:
                // every release interrupts the other threads to flush their address caches.
                const int64_t to = scanPiece_ * pieceSize_;
                const int64_t from = std::exchange(released_, to);
                lock.unlock();
                mapping_.Release(from, to - from);
                lock.lock();
                continue;
            }
            if (piece * pieceSize_ >= size_ || piece >= scanPiece_ + slotCount_ || slot.busy) {
                wake_.wait(lock);
                continue;
            }
            nextPiece_ = piece + 1;
            slot.piece = piece;
            slot.busy = true;
            slot.done = false;
            slot.ended = false;
            slot.steps.clear();
            slot.events.clear();
            slot.at.store(piece * pieceSize_, std::memory_order_relaxed);
            slot.cancel.store(false, std::memory_order_relaxed);
            lock.unlock();
            Walk(slot, piece, reader, lent, pending);
            lock.lock();
            slot.busy = false;
            slot.done = !slot.cancel.load(std::memory_order_relaxed);
            wake_.notify_all();
        }
    }

    // The walk of one piece, up to the first window at or past its end. What it did is
    // written down in a few steps at a time, under the lock once: at every check, so that
    // the scan finds its outcome soon, and otherwise every kFlushSteps windows.
    void Walk(Slot& slot, int64_t piece, ChunkFile& reader, LentBytesOnly& lent, Pending& pending) {
        const int64_t start = piece * pieceSize_;
        const int64_t end = start + pieceSize_;
        SourceBlock block(mapping_, std::min(size_, end + kPastPiece));
        mapping_.Prepare(start, pieceSize_);
        pending.events.clear();
        pending.steps.clear();
        lent.pastEnd = false;
        lent.sized = false;
        IdleSteps idle(pending.events);
        struct Visitor {
            ChecksAhead& self;
            Slot& slot;
            ChunkFile& reader;
            LentBytesOnly& lent;
            Pending& pending;
            IdleSteps& idle;
            int64_t end;
            size_t maxSteps;
            size_t sizedBefore = 0; // windows looked at whose looks asked the file's size
            size_t checks = 0;

            void Flush() {
                const std::lock_guard<std::mutex> lock(self.mutex_);
                const size_t base = slot.events.size();
                slot.events.insert(slot.events.end(), pending.events.begin(), pending.events.end());
                for (Step& step : pending.steps) {
                    step.events += base;
                    slot.steps.push_back(step);
                }
                pending.events.clear();
                pending.steps.clear();
                idle.Seal();
            }
            // A walk that read the file past its mapped bytes may have gone where the
            // scan's would not: it stops writing down there.
            bool Continue(int64_t& position, int64_t& headerBody) {
                if (lent.pastEnd || slot.cancel.load(std::memory_order_relaxed)) {
                    return false;
                }
                if (std::exchange(lent.sized, false)) {
                    ++sizedBefore;
                }
                if (position >= end) {
                    Flush();
                    const std::lock_guard<std::mutex> lock(self.mutex_);
                    slot.ended = true;
                    slot.endPosition = position;
                    slot.endHeaderBody = headerBody;
                    slot.endSizedBefore = sizedBefore;
                    slot.endChecksBefore = checks;
                    return false;
                }
                if (pending.steps.size() >= kFlushSteps) {
                    Flush();
                    if (slot.steps.size() >= maxSteps) {
                        return false; // the rest of the piece is the scan's: memory stays bounded
                    }
                }
                Step step;
                step.position = position;
                step.headerBody = headerBody;
                step.events = pending.events.size();
                step.sizedBefore = sizedBefore;
                step.checksBefore = checks;
                pending.steps.push_back(step);
                // The window's own idle look, if it is one, belongs after the step.
                idle.Seal();
                slot.at.store(position, std::memory_order_release);
                return true;
            }
            CheckResult Check(ItemKind kind, int64_t position, std::string* /*note*/,
                              int64_t& filePosition) {
                reader.Seek(position, SeekOrigin::Begin);
                const CheckResult result = CheckCandidate(kind, reader, position);
                filePosition = reader.Tell();
                if (!lent.pastEnd) {
                    Step& step = pending.steps.back(); // the window's own, from Continue
                    step.checked = true;
                    step.checkSized = lent.sized;
                    step.kind = kind;
                    step.result = result;
                    step.filePosition = filePosition;
                    ++checks;
                    Flush();
                }
                return result;
            }
            bool Item(ItemKind kind, int64_t position, int64_t resume, int64_t bodyLength) {
                if (!lent.pastEnd) {
                    pending.events.push_back({position, 0, resume, bodyLength, kind});
                }
                return true;
            }
        };
        // Windows a thread writes down in a piece at most: pieces of bytes that need a close
        // look at almost every offset are walked by the scan itself, with bounded memory.
        const size_t maxSteps = std::max<size_t>(kFlushSteps, static_cast<size_t>(pieceSize_) / 64);
        Visitor visit{*this, slot, reader, lent, pending, idle, end, maxSteps};
        const ScanTrace noTrace;
        (void)WalkWindows(block, reader, idle, rules_, noTrace, start, visit);
    }

    const FileMapping& mapping_;
    ChunkFile& source_;
    const int64_t size_;
    const RecognitionRules rules_;
    const int64_t pieceSize_;
    const int64_t slotCount_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<Slot[]> slots_;
    int64_t nextPiece_ = 1; // the scan itself starts with piece 0
    int64_t scanPiece_ = 0;
    int64_t released_ = 0; // the mapped pages before this are let go
    bool stop_ = false;
    std::vector<std::thread> threads_;
    // The scan's own thread only: the end of its piece, the piece's slot when a thread has
    // walked or walks it, whether that walk is done, and the next outcome to look at.
    int64_t pieceEnd_;
    Slot* current_ = nullptr;
    bool currentDone_ = false;
    size_t cursor_ = 0;
    Step last_;
};

ScanOutcome ScanBlocks(ChunkFile& list, ChunkFile& source, RawFile* direct,
                       std::string_view entryName, GroupCounters& counters, Feedback& feedback,
                       const ScanTrace& trace, RecognitionRules rules, ScanSummary* summary,
                       const ScanThreads& threads) {
    const std::string name(entryName);
    const int64_t size = std::max<int64_t>(source.Size(), 0);
    SourceBlock block(source, direct);
    // Other threads check ahead only where they can read the whole file as the scan does,
    // and where trace lines, which come in the order of the checks, are not asked for. They
    // start before the scan shows anything.
    std::optional<ChecksAhead> ahead;
    const unsigned count = ScanThreadCount(threads.count);
    const FileMapping* mapping = block.mapping();
    if (count > 1 && !trace && mapping != nullptr && source.Lent().toFileEnd &&
        size >= threads.minFileSize && threads.pieceSize > 0 && size > threads.pieceSize) {
        ahead.emplace(*mapping, source, rules, count - 1, threads.pieceSize);
        block.LeavePreparing();
    }

    ProgressDisplay progress(feedback, size);
    feedback.SetStatusText(name + kScanningSuffix);
    feedback.Refresh();

    ChunkListFile listFile(list);
    IdleSteps idle(&progress);
    ScanSummary facts;
    facts.size = size;

    struct Visitor {
        ChunkFile& list;
        ChunkListFile& listFile;
        ChunkFile& source;
        std::string_view entryName;
        GroupCounters& counters;
        ScanSummary& facts;
        ProgressDisplay& progress;
        IdleSteps& idle;
        ChecksAhead* ahead;
        ChecksAhead::Jump jump{};
        bool listFailed = false;

        // Where a thread ahead has walked on from the scan's state, the scan does what it
        // wrote down and goes on from where it got.
        bool Continue(int64_t& position, int64_t& headerBody) {
            if (ahead == nullptr) {
                return true;
            }
            ahead->Reached(position);
            while (ahead->JumpFrom(position, headerBody, jump)) {
                for (const WalkEvent& event : jump.events) {
                    if (event.count > 0) {
                        idle.Steps(event.position, event.count);
                    } else if (!Item(event.kind, event.position, event.resume, event.bodyLength)) {
                        position = event.resume;
                        listFailed = true;
                        return false;
                    }
                }
                facts.checksTakenAhead += jump.checks;
                position = jump.position;
                headerBody = jump.headerBody;
                ahead->Reached(position);
            }
            return true;
        }
        CheckResult Check(ItemKind kind, int64_t position, std::string* note,
                          int64_t& filePosition) {
            CheckResult result = CheckResult::Reject;
            if (ahead != nullptr && ahead->Find(kind, position, result, filePosition)) {
                ++facts.checksTakenAhead;
                return result;
            }
            source.Seek(position, SeekOrigin::Begin);
            result = CheckCandidate(kind, source, position, note);
            filePosition = source.Tell();
            return result;
        }
        bool Item(ItemKind kind, int64_t position, int64_t resume, int64_t bodyLength) {
            const ItemEntry entry = EntryOf(kind);
            uint32_t& counter = counters.*entry.counter;
            if (!WriteEntry(listFile, entry.type, static_cast<int32_t>(counter),
                            static_cast<uint64_t>(position), entryName) ||
                list.WriteFailed()) {
                return false;
            }
            ++counter;
            ++facts.entries;
            facts.lastIsHeader = kind == ItemKind::Vh;
            facts.lastHeaderBodyLength = bodyLength;
            progress.Update(resume);
            return true;
        }
    };
    Visitor visit{list,      listFile, source,
                  entryName, counters, facts,
                  progress,  idle,     ahead ? &*ahead : nullptr};
    const WalkEnd end = WalkWindows(block, source, idle, rules, trace, 0, visit);
    ahead.reset();

    if (!progress.Update(end.position)) {
        feedback.Refresh();
    }
    feedback.SetStatusText(name + kScannedSuffix);
    if (summary != nullptr) {
        *summary = facts;
    }
    return end.listFailed || visit.listFailed ? ScanOutcome::ListWriteFailed : ScanOutcome::Scanned;
}

} // namespace

ScanOutcome ScanOpenSource(ChunkFile& list, ChunkFile& source, std::string_view entryName,
                           GroupCounters& counters, Feedback& feedback, const ScanTrace& trace,
                           RecognitionRules rules, ScanSummary* summary) {
    return ScanBlocks(list, source, nullptr, entryName, counters, feedback, trace, rules, summary,
                      ScanThreads{1});
}

ScanOutcome ScanOpenSource(ChunkFile& list, ChunkFile& source, RawFile& blocks,
                           std::string_view entryName, GroupCounters& counters, Feedback& feedback,
                           const ScanTrace& trace, RecognitionRules rules, ScanSummary* summary,
                           const ScanThreads& threads) {
    return ScanBlocks(list, source, &blocks, entryName, counters, feedback, trace, rules, summary,
                      threads);
}

bool WriteWholeFileBody(ChunkFile& list, std::string_view entryName, GroupCounters& counters) {
    ChunkListFile listFile(list);
    if (!WriteEntry(listFile, kTypeVb, static_cast<int32_t>(counters.bankBodies), 0, entryName) ||
        list.WriteFailed()) {
        return false;
    }
    ++counters.bankBodies;
    return true;
}

ScanOutcome ScanSourceFile(ChunkFile& list, const std::string& path, GroupCounters& counters,
                           Feedback& feedback, const ScanTrace& trace, RecognitionRules rules,
                           ScanSummary* summary, std::string_view entryName,
                           const ScanThreads& threads) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(path), error)) {
        ShowNumberedMessage(feedback, MessageId::ScannedFileMissing);
        return ScanOutcome::InvalidName;
    }
    feedback.SetGamePath(path);
    ChunkFile source;
    if (!source.OpenRead(path)) {
        ShowNumberedMessage(feedback, MessageId::ScannedFileOpenFailed);
        return ScanOutcome::CannotOpen;
    }
    // The second handle from which the scan reads its blocks: a file that gives one handle
    // but not two cannot be read either.
    const std::unique_ptr<RawFile> blocks = ActiveFileSystem().Open(path, OpenMode::Read);
    if (!blocks) {
        source.Close();
        ShowNumberedMessage(feedback, MessageId::ScannedFileOpenFailed);
        return ScanOutcome::CannotOpen;
    }
    const std::string name = entryName.empty() ? FileNameOf(path) : std::string(entryName);
    const ScanOutcome outcome = ScanOpenSource(list, source, *blocks, name, counters, feedback,
                                               trace, rules, summary, threads);
    blocks->Close();
    source.Close();
    return outcome;
}

} // namespace sonvex
