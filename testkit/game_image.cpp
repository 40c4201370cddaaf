// SPDX-License-Identifier: GPL-3.0-or-later
// Game-image composer: lays items out between noise and padding, remembers where each
// lies, and checks that nothing else in the image looks like the start of an item.
#include "testkit/game_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "formats/diagnostics.h"
#include "formats/signatures.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/seq_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex::testkit {

namespace {

// Convert list type codes, as the list file stores them (little-endian u32).
constexpr uint32_t kSeq = 0x00514553;      // "SEQ"
constexpr uint32_t kVh = 0x00004856;       // "VH"
constexpr uint32_t kVb = 0x00004256;       // "VB"
constexpr uint32_t kKcetSeq = 0x53445351;  // "KCETSeq"
constexpr uint32_t kSceiMidi = 0x534D6964; // "SCEIMidi"
constexpr uint32_t kSceiHead = 0x53566162; // "SCEIHead"
constexpr uint32_t kGpmSeq = 0x53537371;   // "GPMseq"
constexpr uint32_t kGpmHead = 0x53536864;  // "GPMhead"

// Which of the list's three numbering groups a type belongs to.
int GroupOf(uint32_t type) {
    switch (type) {
    case kVh:
    case kSceiHead:
    case kGpmHead:
        return 1;
    case kVb:
        return 2;
    default:
        return 0;
    }
}

// Items whose interior the scan jumps over; the others are taken without a check and
// the scan goes on one byte after their signature.
bool IsSkippedWhole(uint32_t type) {
    return type == kSeq || type == kVh || type == kVb || type == kKcetSeq;
}

bool IsVagStart(uint8_t flags) {
    return flags == 2 || flags == 4 || flags == 5 || flags == 6;
}

bool Matches(const Bytes& b, size_t at, std::string_view text) {
    if (at + text.size() > b.size()) {
        return false;
    }
    return std::equal(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char c, uint8_t v) { return static_cast<uint8_t>(c) == v; });
}

bool AllZero(const Bytes& b, size_t from, size_t count) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](uint8_t v) { return v == 0; });
}

// True when a 16-byte window at `x` would make the scanner (extended rules) look at a
// candidate.
bool WindowIsCandidate(const Bytes& b, size_t x) {
    for (const signatures::Signature& s : signatures::kSignatures) {
        if (Matches(b, x, s.magic) &&
            (!s.needsSampleStartBehind || (x + 18 <= b.size() && IsVagStart(b[x + 17])))) {
            return true;
        }
    }
    return false;
}

uint32_t U16At(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8);
}

// Bytes that the VH at `offset` announces for its body (8 × the sizes of its samples), or 0
// when its table of sample sizes is not in the image.
uint64_t SizeTableTotal(const Bytes& b, size_t offset) {
    if (offset + 32 > b.size()) {
        return 0;
    }
    const size_t table = offset + 2080 + 512 * static_cast<size_t>(U16At(b, offset + 18));
    const uint32_t samples = std::min<uint32_t>(U16At(b, offset + 22), 255);
    if (table + 512 > b.size()) {
        return 0;
    }
    uint64_t total = 0;
    for (uint32_t i = 1; i <= samples; ++i) {
        total += 8 * static_cast<uint64_t>(U16At(b, table + 2 * i));
    }
    return total;
}

// A block that could begin a bank body: filter 0..4, shift 0..12, flags 0..7.
bool PlausibleBlock(const Bytes& b, size_t at) {
    return (b[at] >> 4) <= 4 && (b[at] & 0x0F) <= 12 && b[at + 1] <= 7;
}

} // namespace

BankParts MakeBank(uint32_t seed, int samples, VagStart start, int programs, int tones) {
    if (samples < 1 || samples > 254 || programs < 0 || programs > 128 || tones < 1 || tones > 16) {
        throw std::invalid_argument("bank layout out of range");
    }
    std::mt19937 rng(seed);
    BankParts bank;
    bank.start = start;
    VabBuilder builder;
    size_t at = 0;
    for (int i = 0; i < samples; ++i) {
        const size_t blocks = 3 + rng() % 7;
        // Moderate levels keep the encoder off shift 0 with filter 0, so that no data block
        // begins with a zero byte that could complete a run of sixteen zeros.
        const double amplitude = 60.0 + static_cast<double>(rng() % 140);
        const double period = 12.0 + static_cast<double>(rng() % 50);
        std::vector<int16_t> pcm(blocks * 28);
        for (size_t t = 0; t < pcm.size(); ++t) {
            pcm[t] = static_cast<int16_t>(
                amplitude * std::sin(6.283185307179586 * static_cast<double>(t) / period));
        }
        VagShape shape;
        shape.zeroBlock = start != VagStart::NoZeroBlock;
        if (start == VagStart::ZeroBlockFlags0 || (start == VagStart::NoZeroBlock && i % 2 == 0)) {
            shape.firstBlockFlags = 0;
        }
        const int ending = i == samples - 1 ? 2 : i % 3;
        if (ending == 1) {
            shape.skipBlockAtEnd = true;
        } else if (ending == 2) {
            // The loop starts on data block 1, so that no first block carries flags 6.
            shape.loopStartBlock = 1;
            shape.loopEndBlock = blocks - 1;
        }
        Bytes vag = MakeVag(pcm, shape);
        bank.sampleOffsets.push_back(at);
        at += vag.size();
        bank.samples.push_back(vag);
        builder.sample(std::move(vag));
    }
    for (int k = 0; k < programs; ++k) {
        std::vector<VabTone> programTones;
        for (int j = 0; j < tones; ++j) {
            const auto vag = static_cast<int16_t>(1 + (k * tones + j) % samples);
            const auto low = static_cast<uint8_t>(j * 8);
            programTones.push_back(Tone(vag, low, static_cast<uint8_t>(low + 7)));
            bank.vagNumbers.push_back(vag);
        }
        builder.program(k, Program(std::move(programTones)));
    }
    bank.vh = builder.BuildVh();
    bank.vb = builder.BuildVb();
    return bank;
}

uint32_t GameImage::Random() {
    return static_cast<uint32_t>(rng_());
}

uint8_t GameImage::SafeByte() {
    for (;;) {
        const auto v = static_cast<uint8_t>(Random() >> 24);
        if (v >= 8 && v != 'p' && v != 'K' && v != 'I' && v != 'S') {
            return v;
        }
    }
}

Bytes GameImage::SafeNoise(size_t n) {
    Bytes out(n);
    for (uint8_t& v : out) {
        v = SafeByte();
    }
    return out;
}

GameImage& GameImage::Noise(size_t n) {
    bytes_.append(SafeNoise(n));
    return *this;
}

GameImage& GameImage::Zeros(size_t n) {
    bytes_.fill(n, 0);
    return *this;
}

GameImage& GameImage::Raw(const Bytes& bytes) {
    bytes_.append(bytes);
    return *this;
}

void GameImage::Place(uint32_t type, uint64_t offset, uint64_t end, uint64_t first,
                      std::string label) {
    items_.push_back({type, offset, end, first, std::move(label), -1});
}

SeqTrack GameImage::Song(int notes, bool ssq) {
    SeqTrack track;
    track.program(0, 0, static_cast<int>(0x10 + Random() % 0x20))
        .control(0, 0, 7, 100)
        .control(0, 0, 10, 64);
    for (int i = 0; i < notes; ++i) {
        const int key = static_cast<int>(0x30 + Random() % 0x18);
        const int velocity = static_cast<int>(0x20 + Random() % 0x28);
        // Deltas up to 300 ticks, so that some take two bytes; note off as velocity 0
        // under running status.
        track.noteOn(1 + Random() % 300, 0, key, velocity);
        track.running(1 + Random() % 200, {static_cast<uint8_t>(key), 0});
        if (i == notes / 2) {
            if (ssq) {
                track.tempoBpm(16, 100).pitchBend1(5, 0, 0x40);
            } else {
                track.tempo(16, 600000).pitchBend(5, 0, 0, 0x40);
            }
        }
    }
    track.endOfTrack(0x20);
    return track;
}

GameImage& GameImage::Seq(int notes) {
    const uint64_t p = size();
    bytes_.append(BuildSingleSeq(SeqTiming{}, Song(notes, false)));
    Place(kSeq, p, size(), p, "SEQ single");
    return *this;
}

Bytes GameImage::SetBytes(int count, int notes) {
    if (count < 1 || count > 16) {
        throw std::invalid_argument("a numbered set holds 1 to 16 sequences");
    }
    std::vector<NumberedSeq> sequences;
    for (int id = 0; id < count; ++id) {
        sequences.push_back({static_cast<uint16_t>(id), SeqTiming{}, Song(notes, false)});
    }
    return BuildSeqSet(sequences).bytes;
}

GameImage& GameImage::SeqSet(int count, int notes) {
    Bytes set = SetBytes(count, notes);
    const uint64_t p = size();
    bytes_.append(set);
    Place(kSeq, p, size(), p, "SEQ set of " + std::to_string(count));
    items_.back().lastSetId = count - 1;
    return *this;
}

GameImage& GameImage::GpmSeq(int notes) {
    const uint64_t first = size();
    bytes_.append(BuildSsq(480, 120, Song(notes, true)));
    const uint64_t p = first + kSsqMagicOffset;
    Place(kGpmSeq, p, p + 1, first, "GPMseq");
    return *this;
}

GameImage& GameImage::MagicAndNoise(std::string_view magic, uint32_t type, std::string label,
                                    size_t bodySize) {
    const uint64_t p = size();
    bytes_.text(magic).append(SafeNoise(bodySize));
    Place(type, p, p + 1, p, std::move(label));
    return *this;
}

GameImage& GameImage::GpmHead(size_t bodySize) {
    return MagicAndNoise(signatures::MagicOf(signatures::ItemKind::GpmHead), kGpmHead, "GPMhead",
                         bodySize);
}

GameImage& GameImage::SceiHead(size_t bodySize) {
    return MagicAndNoise(signatures::MagicOf(signatures::ItemKind::SceiHead), kSceiHead, "SCEIHead",
                         bodySize);
}

GameImage& GameImage::SceiMidi(size_t bodySize) {
    return MagicAndNoise(signatures::MagicOf(signatures::ItemKind::SceiMidi), kSceiMidi, "SCEIMidi",
                         bodySize);
}

GameImage& GameImage::Vh(int programs, int tones, int vags, int slotStep) {
    if (programs < 0 || programs > 128 || tones < 1 || tones > 16 || vags < 0 || vags > 254 ||
        slotStep < 1 || (programs > 0 && (programs - 1) * slotStep > 127)) {
        throw std::invalid_argument("VH layout out of range");
    }
    VabBuilder bank;
    for (int k = 0; k < programs; ++k) {
        std::vector<VabTone> programTones;
        for (int j = 0; j < tones; ++j) {
            const auto vag = static_cast<int16_t>(vags > 0 ? 1 + (k * tones + j) % vags : 0);
            const auto low = static_cast<uint8_t>(j * 8);
            programTones.push_back(Tone(vag, low, static_cast<uint8_t>(low + 7)));
        }
        bank.program(k * slotStep, Program(std::move(programTones)));
    }
    bank.vagCount(static_cast<uint16_t>(vags));
    const uint64_t p = size();
    bytes_.append(bank.BuildVh());
    Place(kVh, p, size(), p, "VH with " + std::to_string(programs) + " programs");
    return *this;
}

GameImage& GameImage::Vb(int samples, int blocks, VagEnd end) {
    if (samples < 1 || blocks < 2) {
        throw std::invalid_argument("a VB needs a sample of two blocks at least");
    }
    static constexpr std::array<uint8_t, 3> kStartFlags = {2, 4, 5};
    VabBuilder bank;
    for (int i = 0; i < samples; ++i) {
        // A quiet tone: the encoder then picks a large shift, so the byte behind the zero
        // block is never 2, 4, 5 or 6, which would make the zeros one byte earlier look
        // like a sample start.
        std::vector<int16_t> pcm(static_cast<size_t>(blocks) * 28);
        const double period = 20.0 + Random() % 40;
        for (size_t t = 0; t < pcm.size(); ++t) {
            pcm[t] = static_cast<int16_t>(
                90.0 * std::sin(6.283185307179586 * static_cast<double>(t) / period));
        }
        VagShape shape;
        if (end == VagEnd::LoopEnd) {
            shape.loopStartBlock = 0;
            shape.loopEndBlock = static_cast<size_t>(blocks - 1);
        } else {
            shape.skipBlockAtEnd = true;
        }
        Bytes vag = MakeVag(pcm, shape);
        if (end == VagEnd::StopBlock) {
            SetBlockFlags(vag, 1, kStartFlags[static_cast<size_t>(i) % kStartFlags.size()]);
        }
        bank.sample(std::move(vag));
    }
    const uint64_t p = size();
    bytes_.append(bank.BuildVb());
    Place(kVb, p, size(), p, "VB of " + std::to_string(samples) + " samples");
    return *this;
}

GameImage& GameImage::SeqReversed(int notes) {
    const uint64_t p = size();
    bytes_.append(WithReversedMagic(BuildSingleSeq(SeqTiming{}, Song(notes, false))));
    Place(kSeq, p, size(), p, "SEQp single");
    items_.back().extendedOnly = true;
    return *this;
}

GameImage& GameImage::SeqSetReversed(int count, int notes) {
    Bytes set = WithReversedMagic(SetBytes(count, notes));
    const uint64_t p = size();
    bytes_.append(set);
    Place(kSeq, p, size(), p, "SEQp set of " + std::to_string(count));
    items_.back().lastSetId = count - 1;
    items_.back().extendedOnly = true;
    return *this;
}

GameImage& GameImage::BankVh(const BankParts& bank) {
    const uint64_t p = size();
    bytes_.append(bank.vh);
    Place(kVh, p, size(), p, "VH of a bank of " + std::to_string(bank.samples.size()) + " samples");
    return *this;
}

GameImage& GameImage::BankVb(const BankParts& bank) {
    const uint64_t p = size();
    bytes_.append(bank.vb);
    const bool classic = bank.start == VagStart::ZeroBlockStartFlags;
    Place(kVb, p, size(), p,
          std::string(classic ? "VB" : "VB by size table") + " of " +
              std::to_string(bank.samples.size()) + " samples");
    items_.back().bySizeTable = !classic;
    items_.back().extendedOnly = !classic;
    return *this;
}

GameImage& GameImage::Bank(const BankParts& bank) {
    return BankVh(bank).BankVb(bank);
}

GameImage& GameImage::Kcet(int blocks) {
    if (blocks < 0) {
        throw std::invalid_argument("negative block count");
    }
    const uint64_t p = size();
    bytes_.text(signatures::MagicOf(signatures::ItemKind::KcetSeq))
        .append(SafeNoise(4))
        .text("TSDB")
        .append(SafeNoise(8));
    bytes_.text("KDT2").append(SafeNoise(12)).text("KDT1").append(SafeNoise(8));
    bytes_.u32le(static_cast<uint32_t>(blocks));
    std::vector<uint32_t> lengths;
    for (int i = 0; i < blocks; ++i) {
        lengths.push_back(8 + Random() % 113);
        bytes_.u16le(lengths.back());
    }
    for (uint32_t length : lengths) {
        bytes_.append(SafeNoise(length - 2)).u8(0xFF).u8(0xFF);
    }
    Place(kKcetSeq, p, size(), p, "KCETSeq of " + std::to_string(blocks) + " blocks");
    return *this;
}

std::string GameImage::Verify() const {
    const Bytes& b = bytes();
    const size_t n = b.size();
    std::string problems;
    // Bytes the scan jumps over (inside items it checks whole), and item starts.
    std::vector<bool> inside(n, false);
    std::vector<bool> starts(n, false);
    for (const PlacedItem& item : items_) {
        if (item.offset < n) {
            starts[item.offset] = true;
        }
        if (IsSkippedWhole(item.type)) {
            for (uint64_t x = item.offset + 1; x < item.end && x < n; ++x) {
                inside[x] = true;
            }
        }
    }
    auto skipped = [&](size_t x) { return x < n && inside[x]; };
    auto isStart = [&](size_t x) { return x < n && starts[x]; };
    std::vector<bool> sizeTableStarts(n, false);
    for (const PlacedItem& item : items_) {
        if (item.offset + 16 > n) {
            problems +=
                item.label + " at " + HexOffset(item.offset) + " lies in the last 15 bytes\n";
        }
        if (skipped(item.offset)) {
            problems +=
                item.label + " at " + HexOffset(item.offset) + " lies inside another item\n";
        }
        if (item.bySizeTable && item.offset < n) {
            sizeTableStarts[item.offset] = true;
            // Found only right behind its header, or alone at the start of a body file.
            const bool behindHeader =
                std::any_of(items_.begin(), items_.end(), [&](const PlacedItem& other) {
                    return other.type == kVh && other.end == item.offset;
                });
            if (!behindHeader && item.offset != 0) {
                problems += item.label + " at " + HexOffset(item.offset) +
                            " has no header right before it\n";
            }
        }
    }
    for (size_t x = 0; x + 16 <= n; ++x) {
        if (skipped(x)) {
            continue;
        }
        const bool candidate = WindowIsCandidate(b, x);
        const bool bySizes = sizeTableStarts[x];
        if (candidate && bySizes) {
            problems += "size-table body at " + HexOffset(x) +
                        " starts like a body the classic rules find\n";
        } else if (candidate && !isStart(x)) {
            problems += "stray signature at " + HexOffset(x) + "\n";
        } else if (!candidate && isStart(x) && !bySizes) {
            problems += "item at " + HexOffset(x) + " has no signature\n";
        }
    }
    for (const PlacedItem& item : items_) {
        const size_t e = item.end;
        if (item.type == kVh && !isStart(e) && e + 16 <= n) {
            // Behind a header with a table of sample sizes, a plausible first block whose
            // body fits the file is taken for the bank's body.
            const uint64_t total = SizeTableTotal(b, item.offset);
            if (total > 0 && e + total <= n && PlausibleBlock(b, e)) {
                problems += item.label + " at " + HexOffset(item.offset) +
                            " has bytes behind it taken for its body\n";
            }
        }
        if (item.type == kVb && !item.bySizeTable) {
            // After its last end block the scan looks at up to two more blocks.
            const bool anyLater =
                std::any_of(items_.begin(), items_.end(),
                            [&](const PlacedItem& other) { return other.offset >= e; });
            if (e + 16 > n || (AllZero(b, e, 16) && e + 32 > n)) {
                if (anyLater) {
                    problems += item.label + " at " + HexOffset(item.offset) +
                                " ends the scan before later items\n";
                }
            } else if (AllZero(b, e, 16) && IsVagStart(b[e + 17])) {
                problems += item.label + " at " + HexOffset(item.offset) +
                            " runs on into the sample behind it\n";
            }
        }
        if (item.lastSetId >= 0 && e + 10 <= n) {
            const int next = b[e] << 8 | b[e + 1];
            if (next == item.lastSetId + 1 && next < 16) {
                problems += item.label + " at " + HexOffset(item.offset) +
                            " runs on into the bytes behind it\n";
            }
        }
    }
    return problems;
}

std::string GameImage::Describe() const {
    std::string out;
    for (const PlacedItem& item : items_) {
        out += HexOffset(item.offset) + " " + item.label + " (scan goes on at " +
               HexOffset(item.end) + ")\n";
    }
    return out;
}

Bytes ExpectedConvertList(std::string_view sourceFolder, const std::vector<NamedImage>& images,
                          ListRules rules) {
    if (sourceFolder.size() > 254) {
        throw std::logic_error("a folder of more than 254 bytes does not fit a list");
    }
    std::array<uint32_t, 3> counters{};
    ByteBuilder entries;
    for (const NamedImage& named : images) {
        const std::string problems = named.image->Verify();
        if (!problems.empty()) {
            throw std::logic_error(named.fileName + ": " + problems);
        }
        if (named.fileName.size() > 254) {
            throw std::logic_error("a name of more than 254 bytes does not fit a list");
        }
        for (const PlacedItem& item : named.image->items()) {
            if (rules == ListRules::Classic && item.extendedOnly) {
                continue;
            }
            uint32_t& counter = counters[static_cast<size_t>(GroupOf(item.type))];
            entries.u32le(item.type).u32le(counter++).u64le(item.offset);
            entries.u8(static_cast<uint32_t>(named.fileName.size() + 1)).text(named.fileName).u8(0);
        }
    }
    ByteBuilder list;
    list.u32le(counters[0] + counters[1] + counters[2]);
    list.u8(static_cast<uint32_t>(sourceFolder.size() + 1)).text(sourceFolder).u8(0);
    list.append(entries.bytes());
    return list.take();
}

std::string ListFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool WriteGameImage(const std::string& path, const GameImage& image) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string folder = ListFolderOf(path);
    const std::string prefix = folder.empty()  ? std::string()
                               : folder == "/" ? folder
                                               : folder + "/";
    const std::string expectedPath = prefix + stem + ".expected.clg";
    return WriteFile(path, image.bytes()) &&
           WriteFile(expectedPath, ExpectedConvertList(folder, {{name, &image}}));
}

} // namespace sonvex::testkit
