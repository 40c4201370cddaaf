// SPDX-License-Identifier: GPL-3.0-or-later
// Identifiers for DLS collections, segments and bands: 16 random bytes from the
// operating system, stamped as a version-4 UUID.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sonvex {

// Laid out as the Windows GUID record: data1, data2, data3 little-endian, then data4.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // The 16 bytes as they stand in a RIFF file.
    std::array<uint8_t, 16> Bytes() const;
    static Guid FromBytes(const uint8_t* bytes);
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    std::string ToString() const;
    bool operator==(const Guid&) const = default;
};

Guid NewGuid();

} // namespace sonvex
