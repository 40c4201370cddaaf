// SPDX-License-Identifier: GPL-3.0-or-later
// Composes PSF files of the PlayStation: a PS-X EXE whose text is given bytes at a given
// address, compressed with zlib under a header with its CRC-32, and `[TAG]` lines
// (`_lib`, `_lib2`, ... for minipsf and psflib chains).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

// A PS-X EXE loading `text` at `address` (a main-memory address such as 0x80010000).
Bytes BuildPsxExe(uint32_t address, const Bytes& text);

struct PsfParts {
    Bytes program; // the uncompressed program (a PS-X EXE)
    std::vector<std::pair<std::string, std::string>> tags;
    Bytes reserved;
};

// The PSF file; `compressed`, when given, replaces the zlib stream (its CRC still matches).
Bytes BuildPsf(const PsfParts& parts);
Bytes BuildPsfWithStream(const PsfParts& parts, const Bytes& compressed);
// The zlib stream of `bytes`.
Bytes Deflate(const Bytes& bytes);

} // namespace sonvex::testkit
