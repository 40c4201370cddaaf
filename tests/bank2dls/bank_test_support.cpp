// SPDX-License-Identifier: GPL-3.0-or-later
// Expected-tree building, RIFF parsing and in-memory conversion for the bank tests.
#include "tests/bank2dls/bank_test_support.h"

#include <algorithm>
#include <cstdio>

#include "chunkfile/chunk_file.h"
#include "platform/byte_cursor.h"

namespace sonvex::banktest {

const Node* Node::Find(uint32_t chunkId, int nth) const {
    for (const Node& k : kids) {
        if (!k.isList && k.id == chunkId && nth-- == 0) {
            return &k;
        }
    }
    return nullptr;
}

const Node* Node::FindList(uint32_t listType, int nth) const {
    for (const Node& k : kids) {
        if (k.isList && k.type == listType && nth-- == 0) {
            return &k;
        }
    }
    return nullptr;
}

Node Chunk(uint32_t id, Bytes data) {
    Node n;
    n.id = id;
    n.data = std::move(data);
    return n;
}

Node List(uint32_t type, std::vector<Node> kids) {
    Node n;
    n.id = kListId;
    n.type = type;
    n.isList = true;
    n.kids = std::move(kids);
    return n;
}

Node Riff(uint32_t type, std::vector<Node> kids) {
    Node n = List(type, std::move(kids));
    n.id = kRiffId;
    return n;
}

Bytes Serialize(const Node& node) {
    Bytes body;
    if (node.isList) {
        ByteBuilder b;
        b.u32le(node.type);
        for (const Node& k : node.kids) {
            b.append(Serialize(k));
        }
        body = b.take();
    } else {
        body = node.data;
    }
    ByteBuilder out;
    out.u32le(node.id).u32le(static_cast<uint32_t>(body.size())).append(body);
    if (body.size() % 2 != 0) {
        out.u8(0);
    }
    return out.take();
}

namespace {

bool ParseInto(ByteCursor& cursor, size_t base, std::vector<Node>& out) {
    while (cursor.remaining() > 0) {
        Node n;
        n.offset = base + cursor.position();
        if (!cursor.canRead(8)) {
            ADD_FAILURE() << "chunk header cut short at 0x" << std::hex << n.offset;
            return false;
        }
        n.id = cursor.u32le();
        const uint32_t size = cursor.u32le();
        if (!cursor.canRead(size)) {
            ADD_FAILURE() << "chunk at 0x" << std::hex << n.offset << " runs past its parent (size "
                          << std::dec << size << ")";
            return false;
        }
        const size_t dataStart = cursor.position();
        ByteCursor body = cursor.sub(size);
        if (size % 2 != 0 && cursor.remaining() > 0) {
            cursor.skip(1);
        }
        if (n.id == kListId || n.id == kRiffId) {
            n.isList = true;
            if (size < 4) {
                ADD_FAILURE() << "list at 0x" << std::hex << n.offset << " without a type";
                return false;
            }
            n.type = body.u32le();
            if (!ParseInto(body, base + dataStart, n.kids)) {
                return false;
            }
        } else {
            n.data.resize(size);
            body.bytes(n.data.data(), size);
        }
        out.push_back(std::move(n));
    }
    return true;
}

void Collect(const Node& n, uint32_t id, bool lists, std::vector<const Node*>& out) {
    for (const Node& k : n.kids) {
        if (lists ? (k.isList && k.type == id) : (!k.isList && k.id == id)) {
            out.push_back(&k);
        }
        Collect(k, id, lists, out);
    }
}

std::string HexAround(const Bytes& b, size_t at) {
    std::string s;
    const size_t from = at >= 16 ? at - 16 : 0;
    const size_t to = std::min(b.size(), at + 16);
    char cell[8];
    for (size_t i = from; i < to; ++i) {
        std::snprintf(cell, sizeof cell, i == at ? "[%02X]" : " %02X", b[i]);
        s += cell;
    }
    return s;
}

} // namespace

Node ParseRiff(const Bytes& file) {
    Node root;
    root.isList = true;
    ByteCursor cursor(file);
    ParseInto(cursor, 0, root.kids);
    if (root.kids.size() != 1 || root.kids[0].id != kRiffId) {
        ADD_FAILURE() << "the file is not one RIFF form";
        return root;
    }
    return root.kids[0];
}

std::vector<const Node*> FindAll(const Node& root, uint32_t chunkId) {
    std::vector<const Node*> out;
    Collect(root, chunkId, false, out);
    return out;
}

std::vector<const Node*> FindAllLists(const Node& root, uint32_t listType) {
    std::vector<const Node*> out;
    Collect(root, listType, true, out);
    return out;
}

::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
    const size_t common = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < common; ++i) {
        if (expected[i] != actual[i]) {
            char where[32];
            std::snprintf(where, sizeof where, "0x%zX", i);
            return ::testing::AssertionFailure() << "first difference at offset " << where
                                                 << "\n  expected:" << HexAround(expected, i)
                                                 << "\n  actual:  " << HexAround(actual, i);
        }
    }
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "sizes differ: expected " << expected.size() << " bytes, actual " << actual.size()
               << " (first difference at offset 0x" << std::hex << common << ")";
    }
    return ::testing::AssertionSuccess();
}

uint32_t U32At(const Bytes& b, size_t offset) {
    ByteCursor c(b);
    c.seek(offset);
    return c.u32le();
}

uint16_t U16At(const Bytes& b, size_t offset) {
    ByteCursor c(b);
    c.seek(offset);
    return c.u16le();
}

Guid FixedGuid() {
    const uint8_t bytes[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                               0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    return Guid::FromBytes(bytes);
}

namespace {

Converted Run(MemoryFileSystem& fs, const std::string& vhPath, const std::string& vbPath,
              uint64_t vhOffset, uint64_t vbOffset, std::string_view listTitle,
              RecognitionRules rules) {
    ScopedFileSystem guard(fs);
    RecordingFeedback feedback;
    VabConvertOptions options;
    options.collectionId = FixedGuid();
    options.rules = rules;
    Converted c;
    VabConversion conversion = ConvertVabToDls(vhOffset, vbOffset, vhPath, vbPath, "out.dls",
                                               listTitle, feedback, options);
    c.result = conversion.result;
    c.diagnostics = std::move(conversion.diagnostics);
    c.location = conversion.location;
    c.exists = fs.Exists("out.dls");
    c.dls = fs.Contents("out.dls");
    c.messages = feedback.Messages();
    return c;
}

} // namespace

Converted ConvertBank(const Bytes& vh, const Bytes& vb, std::string_view listTitle,
                      RecognitionRules rules) {
    MemoryFileSystem fs;
    fs.Put("bank.vh", vh);
    fs.Put("bank.vb", vb);
    return Run(fs, "bank.vh", "bank.vb", 0, 0, listTitle, rules);
}

Converted ConvertImage(const Bytes& image, uint64_t vhOffset, uint64_t vbOffset,
                       std::string_view listTitle, RecognitionRules rules) {
    MemoryFileSystem fs;
    fs.Put("game.bin", image);
    return Run(fs, "game.bin", "game.bin", vhOffset, vbOffset, listTitle, rules);
}

VabConversion ConvertInFolder(const testkit::TempFolder& folder, const testkit::VabBuilder& vab,
                              std::string_view listTitle, const VabConvertOptions& options) {
    EXPECT_TRUE(testkit::WriteFile(folder / "bank.vh", vab.BuildVh()));
    EXPECT_TRUE(testkit::WriteFile(folder / "bank.vb", vab.BuildVb()));
    NullFeedback feedback;
    return ConvertVabToDls(0, 0, folder / "bank.vh", folder / "bank.vb", folder / "bank.dls",
                           listTitle, feedback, options);
}

} // namespace sonvex::banktest
