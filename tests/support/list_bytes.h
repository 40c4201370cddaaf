// SPDX-License-Identifier: GPL-3.0-or-later
// Convert-list bytes built field by field from the list layout, and a byte comparison
// that names the first differing offset.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

#include "testkit/byte_builder.h"

namespace sonvex::test {

// Header: count (u32le), length byte (characters + 1), folder and its NUL.
inline testkit::ByteBuilder ListHeader(uint32_t count, std::string_view folder) {
    testkit::ByteBuilder b;
    b.u32le(count).u8(static_cast<uint32_t>(folder.size() + 1)).text(folder).u8(0);
    return b;
}

// Entry: type (u32le), number (u32le), offset (u64le), length byte, name and its NUL.
inline testkit::ByteBuilder& ListEntryBytes(testkit::ByteBuilder& b, uint32_t type, int32_t number,
                                            uint64_t offset, std::string_view name) {
    b.u32le(type).u32le(static_cast<uint32_t>(number)).u64le(offset);
    b.u8(static_cast<uint32_t>(name.size() + 1)).text(name).u8(0);
    return b;
}

inline ::testing::AssertionResult SameBytes(const testkit::Bytes& expected,
                                            const testkit::Bytes& actual) {
    const size_t common = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < common; ++i) {
        if (expected[i] != actual[i]) {
            std::ostringstream s;
            s << "first difference at offset 0x" << std::hex << i << ": expected 0x"
              << int(expected[i]) << ", got 0x" << int(actual[i]) << std::dec << " (sizes "
              << expected.size() << " and " << actual.size() << ")";
            return ::testing::AssertionFailure() << s.str();
        }
    }
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "sizes differ: expected " << expected.size() << ", got " << actual.size()
               << " (equal up to offset 0x" << std::hex << common << ")";
    }
    return ::testing::AssertionSuccess();
}

} // namespace sonvex::test
