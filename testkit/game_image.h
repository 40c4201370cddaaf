// SPDX-License-Identifier: GPL-3.0-or-later
// Composes synthetic game images: sequences, numbered sets, banks (VH and VB apart),
// KCET, SCEI, SSsq and SShd items between signature-free noise and zero padding, and the
// convert list that an analysis of the images must write.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/byte_builder.h"
#include "testkit/seq_builder.h"

namespace sonvex::testkit {

// One item the scanner must find.
struct PlacedItem {
    uint32_t type = 0;   // convert list type code ("SEQ" = 0x00514553, ...)
    uint64_t offset = 0; // position of its signature: the entry's offset
    uint64_t end = 0; // where the scan goes on after it (offset + 1 for the kinds taken unchecked)
    uint64_t first = 0;        // first byte that belongs to the item (before `offset` for "SSsq")
    std::string label;         // readable description for failure messages
    int lastSetId = -1;        // numbered "pQES" sets: id of the last sequence; -1 otherwise
    bool bySizeTable = false;  // a "VB" whose extent its header's table of sample sizes gives
    bool extendedOnly = false; // found by the extended recognition rules only
};

// How a sample of a bank body ends.
enum class VagEnd {
    LoopEnd,  // its last data block has flags 3
    StopBlock // its last data block is followed by a block with flags 7
};

// How the samples of a bank body begin. The classic sample search finds only the first
// kind; bodies of the other kinds are found through the header's table of sample sizes.
enum class VagStart {
    ZeroBlockStartFlags, // 16 zero bytes, then a first data block with flags 2
    ZeroBlockFlags0,     // 16 zero bytes, then a first data block with flags 0
    NoZeroBlock          // no zero block: the first data block comes at once, flags 0 and 2 in turn
};

// A sound bank laid out as games store them: the header's table of sample sizes adds up
// exactly to the body, samples follow one another without gaps.
struct BankParts {
    VagStart start = VagStart::ZeroBlockStartFlags;
    Bytes vh;
    Bytes vb;
    std::vector<Bytes> samples;        // each sample's bytes as they lie in vb
    std::vector<size_t> sampleOffsets; // where each sample starts in vb
    std::vector<int16_t> vagNumbers;   // the VAG number of every tone, program by program
};

// `samples` samples (1..254) of different lengths and pitches; they end in turn with an end
// flag, a stop block (flags 7) and a loop (flags 6 on data block 1, flags 3 on the last),
// and the last one always with a loop. `programs` programs in slots 0, 1, ... of `tones`
// tones each play the samples in turn.
BankParts MakeBank(uint32_t seed, int samples, VagStart start, int programs = 2, int tones = 2);

// Which recognition rules an expected list is made for.
enum class ListRules {
    Extended, // every item placed
    Classic   // without the items that only the extended rules find
};

class GameImage {
  public:
    explicit GameImage(uint32_t seed = 1) : rng_(seed) {}

    // Random bytes in which no signature can start: never 0x00..0x07, 'p', 'K', 'I', 'S'.
    GameImage& Noise(size_t n);
    GameImage& Zeros(size_t n);
    // Bytes placed as they are; Verify() reports any signature they produce.
    GameImage& Raw(const Bytes& bytes);

    // A single "pQES" sequence with `notes` note pairs and a tempo change (sequence items
    // come from the seq builder).
    GameImage& Seq(int notes = 6);
    // A numbered "pQES" set of `count` sequences (ids 0 .. count-1, at most 16).
    GameImage& SeqSet(int count, int notes = 4);
    // An "SSsq" sequence: 16 header bytes before the magic, events from magic + 259.
    GameImage& GpmSeq(int notes = 6);
    GameImage& GpmHead(size_t bodySize = 60);
    GameImage& SceiHead(size_t bodySize = 56);
    GameImage& SceiMidi(size_t bodySize = 56);
    // A VH with `programs` non-empty programs placed in slots 0, slotStep, 2 × slotStep...,
    // each with `tones` tones, and `vags` samples announced (built by VabBuilder).
    GameImage& Vh(int programs = 2, int tones = 2, int vags = 3, int slotStep = 1);
    // A VB with `samples` ADPCM samples of `blocks` data blocks each: looped ones start with
    // flags 6 and end with 3; the others start with flags 2, 4, 5 in turn and end with a
    // block of flags 7.
    GameImage& Vb(int samples = 3, int blocks = 5, VagEnd end = VagEnd::LoopEnd);
    // A KCET sequence with `blocks` data blocks, each ending in FF FF.
    GameImage& Kcet(int blocks = 3);

    // "SEQp" items: a single sequence and a numbered set as Seq and SeqSet make them, with
    // the magic's bytes reversed.
    GameImage& SeqReversed(int notes = 6);
    GameImage& SeqSetReversed(int count, int notes = 4);
    // The VH of a bank from MakeBank.
    GameImage& BankVh(const BankParts& bank);
    // The VB of a bank from MakeBank: a body the classic scan finds (ZeroBlockStartFlags),
    // or one found by the size table of the VH placed right before it or, at the start of a
    // body file, by that of the header file of the same name.
    GameImage& BankVb(const BankParts& bank);
    // VH and VB joined.
    GameImage& Bank(const BankParts& bank);

    const Bytes& bytes() const { return bytes_.bytes(); }
    uint64_t size() const { return bytes_.size(); }
    const std::vector<PlacedItem>& items() const { return items_; }

    // Empty when the scanner (extended rules) will find exactly items(); otherwise what
    // would go wrong (a signature outside the items, a bank body running on into what
    // follows, bytes behind a header that would be taken for its body...).
    std::string Verify() const;
    // The items with their offsets, one per line.
    std::string Describe() const;

  private:
    uint32_t Random();
    uint8_t SafeByte();
    Bytes SafeNoise(size_t n);
    // One sequence's events: program change, controllers, notes, tempo, end of track.
    SeqTrack Song(int notes, bool ssq);
    // The bytes of a numbered set of `count` sequences (ids 0 .. count-1).
    Bytes SetBytes(int count, int notes);
    void Place(uint32_t type, uint64_t offset, uint64_t end, uint64_t first, std::string label);
    // An item that is its magic followed by `bodySize` bytes of noise.
    GameImage& MagicAndNoise(std::string_view magic, uint32_t type, std::string label,
                             size_t bodySize);

    ByteBuilder bytes_;
    std::vector<PlacedItem> items_;
    std::mt19937 rng_;
};

// One image of an analysis run, under the file name the list will record.
struct NamedImage {
    std::string fileName;
    const GameImage* image = nullptr;
};

// The bytes of the convert list that analysing `images` in this order writes: numbers
// run on across the images, group by group. Throws std::logic_error when an image fails
// Verify(). For the classic rules the items only the extended rules find are left out;
// the caller makes sure that what lies inside them holds nothing the classic scan takes.
Bytes ExpectedConvertList(std::string_view sourceFolder, const std::vector<NamedImage>& images,
                          ListRules rules = ListRules::Extended);

// The folder part of a path the way the list stores it ("/" for a file in the root).
std::string ListFolderOf(const std::string& path);

// Writes the image to `path` and, beside it as "<name without extension>.expected.clg",
// the list that analysing this file alone writes. False when a file cannot be written.
bool WriteGameImage(const std::string& path, const GameImage& image);

} // namespace sonvex::testkit
