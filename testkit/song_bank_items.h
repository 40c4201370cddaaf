// SPDX-License-Identifier: GPL-3.0-or-later
// Items for pairing and soundtrack tests: banks whose programs and key ranges are chosen, and
// songs that play chosen programs and keys.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

struct BankBytes {
    Bytes vh;
    Bytes vb;
};

// A bank holding, per program slot, one tone over the key range given.
BankBytes BankOf(uint32_t seed, const std::map<int, std::pair<int, int>>& programs);

// One "pQES" song: per (channel, program, key) a program change (program < 0: none, the
// channel plays its default program) and a note of `beats` beats at 120 beats per minute.
struct Voice {
    int channel = 0;
    int program = -1;
    int key = 60;
};
Bytes SongOf(const std::vector<Voice>& voices, int beats = 2);

} // namespace sonvex::testkit
