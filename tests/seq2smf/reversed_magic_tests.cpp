// SPDX-License-Identifier: GPL-3.0-or-later
// Items stored with the magic reversed ("SEQp") convert exactly as the same items with
// "pQES": the converter reads the header fields by position, never the magic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "platform/feedback.h"
#include "seq2smf/seq_converter.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::Bytes;

struct Made {
    SeqConversion conversion;
    std::vector<Bytes> files; // out.mid, then out_00.mid .. out_15.mid that exist
};

Made Convert(const Bytes& game, uint64_t offset) {
    MemoryFileSystem files;
    ScopedFileSystem guard(files);
    files.Put("/g/game.bin", game);
    NullFeedback feedback;
    Made made;
    made.conversion = ConvertSeq(offset, "/g/game.bin", "/g/out", feedback);
    std::vector<std::string> names = {"/g/out.mid"};
    for (int id = 0; id < 16; ++id) {
        char name[32];
        std::snprintf(name, sizeof name, "/g/out_%02d.mid", id);
        names.push_back(name);
    }
    for (const std::string& name : names) {
        if (files.Exists(name)) {
            made.files.push_back(files.Contents(name));
        }
    }
    return made;
}

TEST(ReversedMagicTest, EverySampleItemConvertsAsWithTheForwardMagic) {
    for (const testkit::SampleItem& item : testkit::SampleSeqItems()) {
        Bytes reversed = item.bytes;
        const auto at = static_cast<std::ptrdiff_t>(item.offset);
        const Bytes flipped =
            testkit::WithReversedMagic(Bytes(reversed.begin() + at, reversed.end()));
        std::copy(flipped.begin(), flipped.begin() + 4, reversed.begin() + at);
        ASSERT_EQ(std::string(reversed.begin() + at, reversed.begin() + at + 4), "SEQp")
            << item.name;

        const Made forward = Convert(item.bytes, item.offset);
        const Made backward = Convert(reversed, item.offset);
        EXPECT_EQ(backward.conversion.result, forward.conversion.result) << item.name;
        EXPECT_EQ(backward.conversion.smfFilesMade, forward.conversion.smfFilesMade) << item.name;
        EXPECT_FALSE(forward.files.empty()) << item.name;
        EXPECT_EQ(backward.files, forward.files) << item.name;
    }
}

} // namespace
} // namespace sonvex
