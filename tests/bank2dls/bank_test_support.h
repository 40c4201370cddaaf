// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers for the bank converter: expected RIFF trees built from readable nodes,
// a byte comparison that names the first differing offset, a parser of written files,
// and conversion runs over an in-memory file system or in a folder on disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bank2dls/vab_converter.h"
#include "chunkfile/file_system.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex::banktest {

using testkit::ByteBuilder;
using testkit::Bytes;

// A chunk (data) or a LIST/RIFF (type and children).
struct Node {
    uint32_t id = 0;
    uint32_t type = 0;
    bool isList = false;
    Bytes data;
    std::vector<Node> kids;
    size_t offset = 0; // where a parsed chunk's header starts in its file

    const Node* Find(uint32_t chunkId, int nth = 0) const;      // direct child chunk
    const Node* FindList(uint32_t listType, int nth = 0) const; // direct child list
};

Node Chunk(uint32_t id, Bytes data);
Node List(uint32_t type, std::vector<Node> kids);
Node Riff(uint32_t type, std::vector<Node> kids);
// Header, data, and a zero pad byte after odd data.
Bytes Serialize(const Node& node);
// Parses a RIFF file into nodes; a malformed structure fails the current test.
Node ParseRiff(const Bytes& file);
// Every chunk with this id in file order, at any depth.
std::vector<const Node*> FindAll(const Node& root, uint32_t chunkId);
std::vector<const Node*> FindAllLists(const Node& root, uint32_t listType);

// Equal bytes, or a failure naming the first differing offset with both sides around it.
::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual);

uint32_t U32At(const Bytes& b, size_t offset);
uint16_t U16At(const Bytes& b, size_t offset);

// Stored times (1/65536 time cent) of envelope table entries, worked out independently
// as trunc(ln(T) / ln(2) × 78643200) for T seconds.
constexpr int32_t kTime0_004 = -626454766;
constexpr int32_t kTime0_014 = -484318592;
constexpr int32_t kTime0_015 = -476490788;
constexpr int32_t kTime0_05 = -339890255;
constexpr int32_t kTime2_766 = 115432579;
constexpr int32_t kTime11_52 = 277301334;
constexpr int32_t kTime40 = 418533455;

// The fixed collection id of golden tests.
Guid FixedGuid();

struct Converted {
    ConvertResult result = ConvertResult::Done;
    bool exists = false; // the output file is on the (in-memory) disk
    Bytes dls;
    std::vector<std::string> messages;
    Diagnostics diagnostics;
    SampleLocation location = SampleLocation::Search;
};

// Converts VH and VB held in two in-memory files at offset 0 with the fixed GUID.
Converted ConvertBank(const Bytes& vh, const Bytes& vb, std::string_view listTitle = "bank",
                      RecognitionRules rules = RecognitionRules::Extended);
// The same with both parts in one file at the given offsets.
Converted ConvertImage(const Bytes& image, uint64_t vhOffset, uint64_t vbOffset,
                       std::string_view listTitle = "bank",
                       RecognitionRules rules = RecognitionRules::Extended);

// Writes the VH and VB of `vab` into `folder` and converts them there, through the real
// file system, to folder/bank.dls.
VabConversion ConvertInFolder(const testkit::TempFolder& folder, const testkit::VabBuilder& vab,
                              std::string_view listTitle, const VabConvertOptions& options = {});

} // namespace sonvex::banktest
