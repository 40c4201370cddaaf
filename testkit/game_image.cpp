// Game-image composer: lays items out between noise and padding, remembers where each
// lies, and checks that nothing else in the image looks like the start of an item.
#include "testkit/game_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

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

bool IsVagStart(uint8_t flags) { return flags == 2 || flags == 4 || flags == 5 || flags == 6; }

bool Matches(const Bytes& b, size_t at, std::string_view text) {
    if (at + text.size() > b.size()) {
        return false;
    }
    return std::equal(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char c, uint8_t v) { return static_cast<uint8_t>(c) == v; });
}

bool AllZero(const Bytes& b, size_t from, size_t count) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(from + count), [](uint8_t v) { return v == 0; });
}

// True when a 16-byte window at `x` would make the scanner look at a candidate.
bool WindowIsCandidate(const Bytes& b, size_t x) {
    for (std::string_view magic : {"pQES", "pBAV", "KCET", "SShd", "SSsq"}) {
        if (Matches(b, x, magic)) {
            return true;
        }
    }
    if (Matches(b, x, "IECS") && (Matches(b, x + 4, "daeH") || Matches(b, x + 4, "idiM"))) {
        return true;
    }
    return AllZero(b, x, 16) && x + 18 <= b.size() && IsVagStart(b[x + 17]);
}

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(v));
    return text;
}

} // namespace

uint32_t GameImage::Random() { return static_cast<uint32_t>(rng_()); }

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

void GameImage::Place(uint32_t type, uint64_t offset, uint64_t end, uint64_t first, std::string label) {
    items_.push_back({type, offset, end, first, std::move(label), -1});
}

Bytes GameImage::SeqEvents(int notes, bool oneBytePitchBend) {
    ByteBuilder b;
    // Program change, volume and pan on channel 0, all at time 0.
    b.u8(0x00).u8(0xC0).u8(0x10 + Random() % 0x20);
    b.u8(0x00).u8(0xB0).u8(0x07).u8(0x64);
    b.u8(0x00).u8(0xB0).u8(0x0A).u8(0x40);
    for (int i = 0; i < notes; ++i) {
        const uint32_t note = 0x30 + Random() % 0x18;
        const uint32_t velocity = 0x20 + Random() % 0x28;
        // Deltas up to 300 ticks, so some take two bytes.
        b.varLen(1 + Random() % 300).u8(0x90).u8(note).u8(velocity);
        // Note off as velocity 0 under running status.
        b.varLen(1 + Random() % 200).u8(note).u8(0x00);
        if (i == notes / 2) {
            b.u8(0x10).u8(0xFF).u8(0x51);
            if (oneBytePitchBend) {
                b.u16le(100); // beats per minute
            } else {
                b.u24be(600000); // microseconds per quarter note
            }
            b.u8(0x05).u8(0xE0);
            if (oneBytePitchBend) {
                b.u8(0x40);
            } else {
                b.u8(0x00).u8(0x40);
            }
        }
    }
    b.u8(0x20).u8(0xFF).u8(0x2F).u8(0x00);
    return b.take();
}

GameImage& GameImage::Seq(int notes) {
    const uint64_t p = size();
    // Bytes 4..7 hold version 1, so bytes 6..7 are not both zero: a single sequence.
    bytes_.text("pQES").u32be(1).u16be(480).u24be(500000).u8(4).u8(2);
    bytes_.append(SeqEvents(notes, false));
    Place(kSeq, p, size(), p, "SEQ single");
    return *this;
}

GameImage& GameImage::SeqSet(int count, int notes) {
    if (count < 1 || count > 16) {
        throw std::invalid_argument("a numbered set holds 1 to 16 sequences");
    }
    const uint64_t p = size();
    bytes_.text("pQES").u16be(1);
    for (int id = 0; id < count; ++id) {
        const Bytes events = SeqEvents(notes, false);
        bytes_.u16be(static_cast<uint32_t>(id)).u16be(480).u24be(500000).u8(4).u8(2);
        bytes_.u32be(static_cast<uint32_t>(events.size())).append(events);
    }
    Place(kSeq, p, size(), p, "SEQ set of " + std::to_string(count));
    items_.back().lastSetId = count - 1;
    return *this;
}

GameImage& GameImage::GpmSeq(int notes) {
    const uint64_t first = size();
    bytes_.append(SafeNoise(6)).u16le(480).u32le(120).append(SafeNoise(4));
    const uint64_t p = size();
    bytes_.text("SSsq").append(SafeNoise(255));
    bytes_.append(SeqEvents(notes, true));
    Place(kGpmSeq, p, p + 1, first, "GPMseq");
    return *this;
}

GameImage& GameImage::GpmHead(size_t bodySize) {
    const uint64_t p = size();
    bytes_.text("SShd").append(SafeNoise(bodySize));
    Place(kGpmHead, p, p + 1, p, "GPMhead");
    return *this;
}

GameImage& GameImage::SceiHead(size_t bodySize) {
    const uint64_t p = size();
    bytes_.text("IECSdaeH").append(SafeNoise(bodySize));
    Place(kSceiHead, p, p + 1, p, "SCEIHead");
    return *this;
}

GameImage& GameImage::SceiMidi(size_t bodySize) {
    const uint64_t p = size();
    bytes_.text("IECSidiM").append(SafeNoise(bodySize));
    Place(kSceiMidi, p, p + 1, p, "SCEIMidi");
    return *this;
}

GameImage& GameImage::Vh(int programs, int tones, int vags, int slotStep) {
    if (programs < 0 || programs > 128 || tones < 1 || tones > 16 || vags < 0 || vags > 254 ||
        slotStep < 1 || (programs > 0 && (programs - 1) * slotStep > 127)) {
        throw std::invalid_argument("VH layout out of range");
    }
    const uint64_t p = size();
    // Header, 32 bytes.
    bytes_.text("pBAV").u32le(7).u32le(0).u32le(0).u16le(0);
    bytes_.u16le(static_cast<uint32_t>(programs)).u16le(static_cast<uint32_t>(programs * tones));
    bytes_.u16le(static_cast<uint32_t>(vags)).u8(0x7F).u8(0x40).u8(0).u8(0).u32le(0);
    // 128 program slots of 16 bytes.
    for (int slot = 0; slot < 128; ++slot) {
        if (slot % slotStep == 0 && slot / slotStep < programs) {
            bytes_.u8(static_cast<uint32_t>(tones)).u8(0x7F).u8(0).u8(0).u8(0x40).u8(0);
            bytes_.u16le(0).u32le(0).u32le(0);
        } else {
            bytes_.fill(16);
        }
    }
    // Sixteen tone places of 32 bytes for each non-empty program.
    for (int k = 0; k < programs; ++k) {
        for (int j = 0; j < 16; ++j) {
            if (j >= tones) {
                bytes_.fill(32);
                continue;
            }
            const int vag = vags > 0 ? 1 + (k * tones + j) % vags : 0;
            const uint32_t low = static_cast<uint32_t>(j * 8);
            bytes_.u8(0).u8(0).u8(0x64).u8(0x40).u8(60).u8(0).u8(low).u8(low + 7);
            bytes_.u32le(0).u8(2).u8(2).u8(0).u8(0);
            bytes_.u16le(0x80FF).u16le(0x5FC0).u16le(static_cast<uint32_t>(k));
            bytes_.u16le(static_cast<uint32_t>(vag)).fill(8);
        }
    }
    // Table of sample sizes (256 entries, in units of 8 bytes).
    for (int i = 0; i < 256; ++i) {
        bytes_.u16le(i >= 1 && i <= vags ? 16 : 0);
    }
    Place(kVh, p, size(), p, "VH with " + std::to_string(programs) + " programs");
    return *this;
}

GameImage& GameImage::Vb(int samples, int blocks, VagEnd end) {
    if (samples < 1 || blocks < 2) {
        throw std::invalid_argument("a VB needs a sample of two blocks at least");
    }
    static constexpr std::array<uint8_t, 4> kStartFlags = {2, 4, 5, 6};
    const uint64_t p = size();
    for (int i = 0; i < samples; ++i) {
        bytes_.fill(16);
        for (int b = 0; b < blocks; ++b) {
            uint8_t flags = end == VagEnd::LoopEnd ? 2 : 0;
            if (b == 0) {
                flags = kStartFlags[static_cast<size_t>(i) % kStartFlags.size()];
            } else if (b == blocks - 1) {
                flags = end == VagEnd::LoopEnd ? 3 : 1;
            }
            // Filter 1..4: the byte after a zero block is never 2, 4, 5 or 6, which would
            // make the zeros one byte earlier look like a sample start.
            const uint32_t header = (1 + Random() % 4) << 4 | (Random() % 12);
            bytes_.u8(header).u8(flags);
            for (int k = 0; k < 14; ++k) {
                bytes_.u8(Random() >> 24);
            }
        }
        if (end == VagEnd::StopBlock) {
            bytes_.u8(0).u8(7).fill(14, 0x77);
        }
    }
    Place(kVb, p, size(), p, "VB of " + std::to_string(samples) + " samples");
    return *this;
}

GameImage& GameImage::Kcet(int blocks) {
    if (blocks < 0) {
        throw std::invalid_argument("negative block count");
    }
    const uint64_t p = size();
    bytes_.text("KCET").append(SafeNoise(4)).text("TSDB").append(SafeNoise(8));
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
    for (const PlacedItem& item : items_) {
        if (item.offset + 16 > n) {
            problems += item.label + " at " + Hex(item.offset) + " lies in the last 15 bytes\n";
        }
        if (skipped(item.offset)) {
            problems += item.label + " at " + Hex(item.offset) + " lies inside another item\n";
        }
    }
    for (size_t x = 0; x + 16 <= n; ++x) {
        if (skipped(x)) {
            continue;
        }
        const bool candidate = WindowIsCandidate(b, x);
        if (candidate && !isStart(x)) {
            problems += "stray signature at " + Hex(x) + "\n";
        } else if (!candidate && isStart(x)) {
            problems += "item at " + Hex(x) + " has no signature\n";
        }
    }
    for (const PlacedItem& item : items_) {
        const size_t e = item.end;
        if (item.type == kVb) {
            // After its last end block the scan looks at up to two more blocks.
            const bool anyLater = std::any_of(items_.begin(), items_.end(),
                                              [&](const PlacedItem& other) { return other.offset >= e; });
            if (e + 16 > n || (AllZero(b, e, 16) && e + 32 > n)) {
                if (anyLater) {
                    problems += item.label + " at " + Hex(item.offset) + " ends the scan before later items\n";
                }
            } else if (AllZero(b, e, 16) && IsVagStart(b[e + 17])) {
                problems += item.label + " at " + Hex(item.offset) + " runs on into the sample behind it\n";
            }
        }
        if (item.lastSetId >= 0 && e + 10 <= n) {
            const int next = b[e] << 8 | b[e + 1];
            if (next == item.lastSetId + 1 && next < 16) {
                problems += item.label + " at " + Hex(item.offset) + " runs on into the bytes behind it\n";
            }
        }
    }
    return problems;
}

std::string GameImage::Describe() const {
    std::string out;
    for (const PlacedItem& item : items_) {
        out += Hex(item.offset) + " " + item.label + " (scan goes on at " + Hex(item.end) + ")\n";
    }
    return out;
}

Bytes ExpectedConvertList(std::string_view sourceFolder, const std::vector<NamedImage>& images) {
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
    const std::string prefix = folder.empty() ? std::string() : folder == "/" ? folder : folder + "/";
    const std::string expectedPath = prefix + stem + ".expected.clg";
    return WriteFile(path, image.bytes()) &&
           WriteFile(expectedPath, ExpectedConvertList(folder, {{name, &image}}));
}

} // namespace sonvex::testkit
