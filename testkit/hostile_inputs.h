// SPDX-License-Identifier: GPL-3.0-or-later
// Recipes for hostile inputs: every kind of item the program reads, cut short at every
// byte, with counts and lengths at their maxima, numbering that loops back, records that
// point past the end, rejected events and RIFF trees that cannot be followed. Built on
// demand from readable descriptions; nothing is stored as a blob.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// The item's converter may give any result code for the input.
constexpr int kAnyResult = -100;

// One hostile file, and where in it the item begins (the signature's offset for a game
// file item; 0 for whole files such as lists, SMFs and DLS collections).
struct HostileInput {
    std::string name; // what is wrong with it, for failure messages
    Bytes bytes;
    uint64_t offset = 0;
    int expected = kAnyResult; // the result code the item's converter must give
};

// A bank whose header and body lie in two files.
struct HostileBank {
    std::string name;
    Bytes vh;
    Bytes vb;
    uint64_t vhOffset = 0;
    uint64_t vbOffset = 0;
    int expected = kAnyResult; // the bank converter's result code
};

// Every proper prefix of `whole`, lengths 0 .. size - 1, named "<label> cut at <n>".
std::vector<HostileInput> EveryTruncation(std::string_view label, const Bytes& whole,
                                          uint64_t offset = 0);

// Sound items the recipes start from; tests also use them to see that the consumer
// accepts the undamaged original.
Bytes SoundSingleSeq();   // "pQES" single sequence at 0
Bytes SoundSeqSet();      // "pQES" numbered set 0, 1, 2 at 0
Bytes SoundSsqItem();     // "SSsq" item, magic at kSsqMagicOffset
Bytes SoundConvertList(); // three entries of "game.bin"
Bytes SoundSmf();         // format 0, one track, every accepted event kind
Bytes SoundDls();         // two instruments, each with its trailer
Bytes SoundVh();          // two programs of two tones over three samples
Bytes SoundVb();          // the three samples

// Convert lists: cut at every byte; count, length bytes and offsets at their maxima;
// names without NUL; counts that promise more entries than there are.
std::vector<HostileInput> HostileConvertLists();

// "pQES" items (offset = magic): single and numbered set cut at every byte, delta times at
// and past the limit, overlong delta encodings, numbered sets whose ids loop back or run
// past 16, a set whose data length is 0xFFFFFFFF, events that never end.
std::vector<HostileInput> HostileSeqItems();

// "SSsq" items (offset = magic): cut at every byte, magic below 16 and at the file end,
// delta times past the limit.
std::vector<HostileInput> HostileSsqItems();

// Banks: the VH and the VB cut at every byte; counts at 0xFFFF; tone records that point
// past the end of the VH file; VAG numbers past the sample count; sample sizes at their
// maxima; a VB of zeros, of noise and of skip blocks only.
std::vector<HostileBank> HostileBanks();

// SMFs for the segment builder: cut at every byte; every rejected event (running status,
// pressure events, system statuses, unlisted controllers and meta types, short tempo);
// delta times past the limit; header and track lengths at their maxima.
std::vector<HostileInput> HostileSmfs();

// RIFF damage applied to any RIFF file (DLS or segment): cut at every byte, every size
// field past the end and at 0xFFFFFFFF, lists nested `depth` deep, chunk sizes that would
// bring a reader back to where it started if added in 32 bits, LIST sizes below 4.
std::vector<HostileInput> RiffDamage(std::string_view label, const Bytes& riff,
                                     size_t depth = 20000);

// Game images for the scanner: every item kind alone and cut at every byte, signatures
// in the last bytes of the file, counts at their maxima, a file of only signatures.
std::vector<HostileInput> HostileGameImages();

} // namespace sonvex::testkit
