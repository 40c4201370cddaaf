// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of disc images and of the game sources over them both name: the disc
// builder's types and seeded noise to fill the files they put on a disc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"

namespace sonvex::disc_test_kit {

using testkit::ByteBuilder;
using testkit::Bytes;
using testkit::DiscBuilder;
using testkit::DiscFile;
using testkit::SectorForm;

// n bytes from a seeded generator: the same seed gives the same bytes.
inline Bytes Noise(size_t n, uint32_t seed) {
    return ByteBuilder().noise(n, seed).take();
}

// The characters of `s` as bytes, no terminator.
inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace sonvex::disc_test_kit
