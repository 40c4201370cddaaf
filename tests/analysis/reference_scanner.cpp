// The straightforward scanner, kept as the oracle of the scanner's tests: it reads a 16-byte
// window through the buffered file at every offset and classifies each window on its own.
#include "tests/analysis/reference_scanner.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <utility>

#include "analysis/scan_checks.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"

namespace sonvex::testing {

namespace {

constexpr int64_t kWindowSize = 16;
// Idle windows between two progress looks on a stretch without signatures.
constexpr uint16_t kIdleSteps = 1024;

// Window signatures: the window's first (w0) and second (w1) little-endian u32.
constexpr uint32_t kSeqMagic = 0x53455170;         // "pQES"
constexpr uint32_t kSeqReversedMagic = 0x70514553; // "SEQp": the same magic stored byte-reversed
constexpr uint32_t kVabMagic = 0x56414270;         // "pBAV"
constexpr uint32_t kKcetMagic = 0x5445434B;        // "KCET"
constexpr uint32_t kSceiMagic = 0x53434549;        // "IECS"
constexpr uint32_t kSceiHeadSecond = 0x48656164;   // "daeH"
constexpr uint32_t kSceiMidiSecond = 0x4D696469;   // "idiM"
constexpr uint32_t kGpmHeadMagic = 0x64685353;     // "SShd"
constexpr uint32_t kGpmSeqMagic = 0x71735353;      // "SSsq"

enum class Kind { Seq, Vh, Vb, KcetSeq, SceiHead, SceiMidi, GpmHead, GpmSeq };

struct KindInfo {
    uint32_t type;                    // convert list type code
    uint32_t GroupCounters::*counter; // its numbering group
    const char* name;
};

KindInfo Info(Kind kind) {
    switch (kind) {
    case Kind::Seq:
        return {kTypeSeq, &GroupCounters::sequences, "SEQ"};
    case Kind::Vh:
        return {kTypeVh, &GroupCounters::bankHeaders, "VH"};
    case Kind::Vb:
        return {kTypeVb, &GroupCounters::bankBodies, "VB"};
    case Kind::KcetSeq:
        return {kTypeKcetSeq, &GroupCounters::sequences, "KCETSeq"};
    case Kind::SceiHead:
        return {kTypeSceiHead, &GroupCounters::bankHeaders, "SCEIHead"};
    case Kind::SceiMidi:
        return {kTypeSceiMidi, &GroupCounters::sequences, "SCEIMidi"};
    case Kind::GpmHead:
        return {kTypeGpmHead, &GroupCounters::bankHeaders, "GPMhead"};
    case Kind::GpmSeq:
        return {kTypeGpmSeq, &GroupCounters::sequences, "GPMseq"};
    }
    return {0, &GroupCounters::sequences, "?"};
}

// What a window asks of the scan.
enum class Step {
    Idle,      // no signature: move on one byte, counting an idle step
    MoveOn,    // a near miss ("IECS" with another second word, zeros with data behind): move on
    ZeroBlock, // sixteen zero bytes: a bank body if the next block starts a sample
    Candidate  // a signature: run the kind's check
};

struct Classified {
    Step step;
    Kind kind;
};

uint32_t LoadU32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Classified Classify(const std::array<uint8_t, kWindowSize>& window, RecognitionRules rules) {
    const uint32_t w0 = LoadU32le(window.data());
    switch (w0) {
    case kSeqMagic:
        return {Step::Candidate, Kind::Seq};
    case kSeqReversedMagic:
        // Some games store the sequence magic reversed; the layout behind it is the same.
        return {rules == RecognitionRules::Extended ? Step::Candidate : Step::Idle, Kind::Seq};
    case kVabMagic:
        return {Step::Candidate, Kind::Vh};
    case kKcetMagic:
        return {Step::Candidate, Kind::KcetSeq};
    case kGpmHeadMagic:
        return {Step::Candidate, Kind::GpmHead};
    case kGpmSeqMagic:
        return {Step::Candidate, Kind::GpmSeq};
    case kSceiMagic: {
        const uint32_t w1 = LoadU32le(window.data() + 4);
        if (w1 == kSceiHeadSecond) {
            return {Step::Candidate, Kind::SceiHead};
        }
        if (w1 == kSceiMidiSecond) {
            return {Step::Candidate, Kind::SceiMidi};
        }
        return {Step::MoveOn, Kind::Seq};
    }
    case 0: {
        const bool rest =
            std::any_of(window.begin() + 4, window.end(), [](uint8_t v) { return v != 0; });
        return {rest ? Step::MoveOn : Step::ZeroBlock, Kind::Vb};
    }
    default:
        return {Step::Idle, Kind::Seq};
    }
}

CheckResult RunCheck(Kind kind, ChunkFile& source, int64_t start, std::string* note) {
    switch (kind) {
    case Kind::Seq:
        return CheckSeq(source, note);
    case Kind::Vh:
        return CheckVabHeader(source, note);
    case Kind::Vb:
        return CheckVabBody(source, note);
    case Kind::KcetSeq:
        return CheckKcetSeq(source, note);
    case Kind::SceiHead:
    case Kind::SceiMidi:
    case Kind::GpmHead:
    case Kind::GpmSeq:
        break;
    }
    // Taken as found, with no check; the scan goes on one byte later.
    if (note) {
        char text[96];
        std::snprintf(text, sizeof text, "%s at 0x%08llX: taken without a check", Info(kind).name,
                      static_cast<unsigned long long>(start));
        *note = text;
    }
    source.Seek(start + 1, SeekOrigin::Begin);
    return CheckResult::Accept;
}

// Shows the progress only when its value changes, so that a long file repaints about a
// hundred times and never once per byte.
class ProgressDisplay {
  public:
    ProgressDisplay(Feedback& feedback, int64_t size) : feedback_(feedback), size_(size) {
        feedback_.SetProgress(0);
    }
    // Sets the bar and repaints when the value moved; true when it did.
    bool Update(int64_t position) {
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
    const int64_t size = std::max<int64_t>(source.Size(), 0);
    ProgressDisplay progress(feedback, size);
    feedback.SetStatusText(name + kScanningSuffix);
    feedback.Refresh();

    ChunkListFile listFile(list);
    std::array<uint8_t, kWindowSize> window{};
    std::string note;
    ScanSummary facts;
    facts.size = size;
    int64_t position = 0;
    uint16_t idle = 0;
    bool listFailed = false;
    // Extended rules: the body length that the size table of a bank header just accepted
    // gives; it applies to the one window right behind that header (-1: none).
    int64_t headerBody = -1;
    for (;;) {
        source.Seek(position, SeekOrigin::Begin);
        if (source.Read(window.data(), kWindowSize) != kWindowSize) {
            break;
        }
        const int64_t bodyBySizes = std::exchange(headerBody, -1);
        const Classified found = Classify(window, rules);

        // What the classic rules make of the window: no candidate (move on), or a check.
        bool candidate = found.step == Step::Candidate;
        bool fileEnds = false;
        if (found.step == Step::ZeroBlock) {
            // The flags byte of the block behind the zeros says whether a sample starts.
            std::array<uint8_t, 2> next{};
            if (source.Read(next.data(), 2) != 2) {
                fileEnds = true;
            } else {
                candidate = IsVagStartFlags(next[1]);
            }
        }
        Kind kind = found.kind;
        std::optional<CheckResult> result;
        if (candidate) {
            source.Seek(position, SeekOrigin::Begin);
            result = RunCheck(kind, source, position, trace ? &note : nullptr);
            if (trace) {
                trace(note + " -> " + CheckResultName(*result));
            }
        }
        const bool accepted =
            result && (*result == CheckResult::Accept || *result == CheckResult::AcceptAndStop);
        if (bodyBySizes >= 0 && !accepted) {
            // Right behind a bank header the classic rules found nothing: the header's table
            // of sample sizes may still place its body here.
            const int64_t classicPosition = source.Tell();
            source.Seek(position, SeekOrigin::Begin);
            const CheckResult bySizes =
                CheckVabBodyBySizes(source, bodyBySizes, trace ? &note : nullptr);
            if (trace) {
                trace(note + " -> " + CheckResultName(bySizes));
            }
            if (bySizes == CheckResult::Accept) {
                kind = Kind::Vb;
                result = bySizes;
                fileEnds = false;
            } else {
                source.Seek(classicPosition, SeekOrigin::Begin);
            }
        }
        if (fileEnds) {
            break;
        }
        if (!result) {
            if (found.step == Step::Idle) {
                if (idle == kIdleSteps) {
                    progress.Update(source.Tell());
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
        if (*result == CheckResult::StopScan) {
            break;
        }
        const int64_t resume = source.Tell();
        const KindInfo info = Info(kind);
        uint32_t& counter = counters.*info.counter;
        if (!WriteEntry(listFile, info.type, static_cast<int32_t>(counter),
                        static_cast<uint64_t>(position), entryName) ||
            list.WriteFailed()) {
            listFailed = true;
            break;
        }
        ++counter;
        ++facts.entries;
        facts.lastIsHeader = kind == Kind::Vh;
        facts.lastHeaderBodyLength = -1;
        if (kind == Kind::Vh && rules == RecognitionRules::Extended) {
            headerBody = BodyLengthBySizeTable(source, position);
            facts.lastHeaderBodyLength = headerBody;
            source.Seek(resume, SeekOrigin::Begin);
        }
        progress.Update(resume);
        if (*result == CheckResult::AcceptAndStop) {
            break;
        }
        // Every check that accepts leaves the file past the window start.
        position = std::max(resume, position + 1);
    }

    if (!progress.Update(source.Tell())) {
        feedback.Refresh();
    }
    feedback.SetStatusText(name + kScannedSuffix);
    if (summary != nullptr) {
        *summary = facts;
    }
    return listFailed ? ScanOutcome::ListWriteFailed : ScanOutcome::Scanned;
}

} // namespace sonvex::testing
