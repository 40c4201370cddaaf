// SPDX-License-Identifier: GPL-3.0-or-later
// Offsets and bytes printed the one way every diagnostic prints them.
#include "formats/diagnostics.h"

#include <cinttypes>
#include <cstdio>

namespace sonvex {

std::string HexOffset(uint64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, offset);
    return text;
}

std::string HexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string Diagnostic::Text() const {
    return structure + " at " + HexOffset(offset) + ": " + problem;
}

} // namespace sonvex
