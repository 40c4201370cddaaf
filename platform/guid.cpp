// SPDX-License-Identifier: GPL-3.0-or-later
// Version-4 identifiers from the kernel's random source.
#include "platform/guid.h"

#include <cstdio>
#include <random>
#include <sys/random.h>

namespace sonvex {

std::array<uint8_t, 16> Guid::Bytes() const {
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i) {
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(data1 >> (8 * i));
    }
    b[4] = static_cast<uint8_t>(data2);
    b[5] = static_cast<uint8_t>(data2 >> 8);
    b[6] = static_cast<uint8_t>(data3);
    b[7] = static_cast<uint8_t>(data3 >> 8);
    for (size_t i = 0; i < 8; ++i) {
        b[8 + i] = data4[i];
    }
    return b;
}

Guid Guid::FromBytes(const uint8_t* b) {
    Guid g;
    g.data1 = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
              (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    g.data2 = static_cast<uint16_t>(b[4] | (b[5] << 8));
    g.data3 = static_cast<uint16_t>(b[6] | (b[7] << 8));
    for (size_t i = 0; i < 8; ++i) {
        g.data4[i] = b[8 + i];
    }
    return g;
}

std::string Guid::ToString() const {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1,
                  data2, data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5],
                  data4[6], data4[7]);
    return text;
}

Guid NewGuid() {
    uint8_t random[16];
    size_t got = 0;
    while (got < sizeof random) {
        ssize_t n = getrandom(random + got, sizeof random - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < sizeof random) {
        // The kernel source is unavailable: fall back to the library's generator.
        std::random_device device;
        for (size_t i = got; i < sizeof random; ++i) {
            random[i] = static_cast<uint8_t>(device());
        }
    }
    Guid g = Guid::FromBytes(random);
    g.data3 = static_cast<uint16_t>((g.data3 & 0x0FFF) | 0x4000);
    g.data4[0] = static_cast<uint8_t>((g.data4[0] & 0x3F) | 0x80);
    return g;
}

} // namespace sonvex
