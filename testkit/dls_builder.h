// SPDX-License-Identifier: GPL-3.0-or-later
// Builds RIFF trees from nodes, and DLS collection files laid out like the program's
// own (instrument articulation ending in the five trailer bytes) or like foreign ones
// (no trailer, no instrument-level articulation), for the segment builder's tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// One chunk of a RIFF tree: a plain chunk with data, or a LIST/RIFF with a type and
// children. Encode() works out every size and adds the pad byte after odd data.
struct RiffNode {
    uint32_t id = 0;   // four characters, first one in the low byte
    uint32_t type = 0; // list or form type of a LIST or RIFF
    Bytes data;        // plain chunks
    std::vector<RiffNode> children;

    static RiffNode Chunk(std::string_view id, Bytes data);
    static RiffNode List(std::string_view type, std::vector<RiffNode> children);
    static RiffNode Riff(std::string_view type, std::vector<RiffNode> children);
    Bytes Encode() const;
};

uint32_t Id(std::string_view fourCharacters);

struct DlsInstrument {
    uint32_t number = 0;                              // "insh" instrument number
    uint32_t bank = 1;                                // "insh" bank
    std::array<uint8_t, 5> trailer{100, 64, 0, 2, 2}; // volume, pan, tone mode, bend down, bend up
    bool trailerPresent = true;         // false: "art2" ends with its blocks, as in foreign files
    bool instrumentArticulation = true; // false: only the regions carry "lar2"
    uint32_t regions = 1;               // regions, each with its own "lar2"/"art2" of six blocks
    uint32_t instrumentBlocks = 1;      // connection blocks of the instrument "art2"
};

class DlsBuilder {
  public:
    DlsBuilder& instrument(const DlsInstrument& i) {
        instruments_.push_back(i);
        return *this;
    }
    // The "colh" count; by default the number of instruments.
    DlsBuilder& declaredCount(uint32_t count) {
        declaredCount_ = static_cast<int64_t>(count);
        return *this;
    }
    RiffNode tree() const;
    Bytes build() const { return tree().Encode(); }

  private:
    std::vector<DlsInstrument> instruments_;
    int64_t declaredCount_ = -1;
};

// The parts of a SoundFont 2 bank for readers' tests: the version, the sample points and
// the nine "pdta" tables in file order, each of which a test may change or drop before
// Tree() puts the bank together.
struct Sf2Parts {
    Bytes ifil;
    Bytes smpl;
    std::vector<std::pair<std::string, Bytes>> tables; // "phdr" ... "shdr"

    Bytes& table(std::string_view id);
    RiffNode Tree() const;
    Bytes build() const { return Tree().Encode(); }
};

// One preset (bank 0, `program`) of one instrument whose one zone (keys 0..127, root key
// 60) loops a sample of `points` points over its second half; 46 zero points follow it.
Sf2Parts OneSampleSf2(uint16_t program = 0, uint32_t points = 64);

} // namespace sonvex::testkit
