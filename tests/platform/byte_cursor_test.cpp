// SPDX-License-Identifier: GPL-3.0-or-later
// The byte cursor never reads outside its window and says so once it has tried.
#include "platform/byte_cursor.h"

#include <gtest/gtest.h>

namespace sonvex {
namespace {

TEST(ByteCursor, TypedReadsInBothByteOrders) {
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x81, 0x80, 0x00, 0xFF};
    ByteCursor c(data, sizeof data);
    EXPECT_EQ(c.u16le(), 0x0201);
    EXPECT_EQ(c.u16be(), 0x0304);
    EXPECT_EQ(c.varLen(), 0x4000u);
    EXPECT_EQ(c.s8(), -1);
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(c.remaining(), 0u);
}

TEST(ByteCursor, ReadPastEndYieldsZeroAndStaysFailed) {
    const uint8_t data[] = {1, 2, 3};
    ByteCursor c(data, sizeof data);
    EXPECT_EQ(c.u32le(), 0u);
    EXPECT_FALSE(c.ok());
    EXPECT_EQ(c.u8(), 0); // even though a byte would have been there before
    EXPECT_FALSE(c.seek(4));
}

TEST(ByteCursor, SubCursorIsClampedToItsWindow) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    ByteCursor c(data, sizeof data);
    c.skip(1);
    ByteCursor inner = c.sub(2);
    EXPECT_EQ(inner.u16le(), 0x0302);
    EXPECT_EQ(inner.u8(), 0);
    EXPECT_FALSE(inner.ok());
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(c.u8(), 4);
    ByteCursor tooLong = c.sub(10);
    EXPECT_FALSE(c.ok());
    EXPECT_EQ(tooLong.size(), 1u);
}

TEST(ByteCursor, VariableLengthOfFiveBytesIsRejected) {
    const uint8_t data[] = {0x81, 0x81, 0x81, 0x81, 0x01};
    ByteCursor c(data, sizeof data);
    c.varLen();
    EXPECT_FALSE(c.ok());
}

} // namespace
} // namespace sonvex
