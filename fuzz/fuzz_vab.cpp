// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the bank converter: the input is split into a VH part and a VB part (or used as
// one game image with both offsets inside it), converted in memory, and the outcome is
// checked: no crash, complete files only for results 0 and 3, none for 1 and 2, and the
// scanner's header check agreeing with the converter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bank2dls/vab_converter.h"
#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "fuzz/seed_corpus.h"
#include "platform/feedback.h"
#include "testkit/hostile_inputs.h"

namespace {

uint32_t ReadLe(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        v |= static_cast<uint32_t>(p[i]) << (8 * i);
    }
    return v;
}

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One seed per hostile bank in the split layout (VH bytes, then VB bytes), and the sound
// bank also as one image with both offsets inside it.
std::vector<std::vector<uint8_t>> Seeds() {
    auto seed = [](uint8_t mode, uint32_t a, uint32_t b, uint32_t c,
                   const std::vector<uint8_t>& body) {
        std::vector<uint8_t> s = {mode,
                                  static_cast<uint8_t>(a),
                                  static_cast<uint8_t>(a >> 8),
                                  static_cast<uint8_t>(b),
                                  static_cast<uint8_t>(b >> 8),
                                  static_cast<uint8_t>(c),
                                  static_cast<uint8_t>(c >> 8)};
        s.insert(s.end(), body.begin(), body.end());
        return s;
    };
    std::vector<std::vector<uint8_t>> seeds;
    for (const sonvex::testkit::HostileBank& bank : sonvex::testkit::HostileBanks()) {
        if (sonvex::fuzz::IsTruncation(bank.name) || bank.vhOffset > 63 || bank.vbOffset > 63 ||
            bank.vh.size() > 0xFFFF) {
            continue;
        }
        std::vector<uint8_t> body = bank.vh;
        body.insert(body.end(), bank.vb.begin(), bank.vb.end());
        const uint8_t mode =
            static_cast<uint8_t>((bank.vhOffset ? 2 : 0) | (bank.vbOffset ? 4 : 0));
        seeds.push_back(seed(mode, static_cast<uint32_t>(bank.vh.size()),
                             static_cast<uint32_t>(bank.vhOffset),
                             static_cast<uint32_t>(bank.vbOffset), body));
    }
    std::vector<uint8_t> image = sonvex::testkit::SoundVh();
    const std::vector<uint8_t> vb = sonvex::testkit::SoundVb();
    const auto vbAt = static_cast<uint32_t>(image.size());
    image.insert(image.end(), vb.begin(), vb.end());
    seeds.push_back(seed(3, 0, vbAt, 0, image));
    return seeds;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("vab", Seeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonvex;
    // Control bytes: mode, then three little-endian u16 values.
    if (size < 7) {
        return 0;
    }
    const uint8_t mode = data[0];
    const uint32_t a = ReadLe(data + 1, 2);
    const uint32_t b = ReadLe(data + 3, 2);
    const uint32_t c = ReadLe(data + 5, 2);
    const std::vector<uint8_t> body(data + 7, data + size);

    MemoryFileSystem memory;
    uint64_t vhOffset = 0;
    uint64_t vbOffset = 0;
    std::string vhPath = "bank.vh";
    std::string vbPath = "bank.vb";
    if (mode & 1) {
        // One image; the offsets may point anywhere, past the end included.
        memory.Put("game.bin", body);
        vhPath = vbPath = "game.bin";
        vhOffset = a;
        vbOffset = (mode & 2) ? b : static_cast<uint64_t>(a) + c;
    } else {
        const size_t split = body.empty() ? 0 : a % (body.size() + 1);
        memory.Put(vhPath, std::vector<uint8_t>(body.begin(),
                                                body.begin() + static_cast<std::ptrdiff_t>(split)));
        memory.Put(vbPath, std::vector<uint8_t>(body.begin() + static_cast<std::ptrdiff_t>(split),
                                                body.end()));
        vhOffset = (mode & 2) ? b % 64 : 0;
        vbOffset = (mode & 4) ? c % 64 : 0;
    }

    ScopedFileSystem guard(memory);
    VabHeader header;
    VabCheck check = VabCheck::Ok;
    {
        ChunkFile vh;
        Require(vh.OpenRead(vhPath));
        check = ValidateVabHeader(vh, static_cast<int64_t>(vhOffset), header);
    }

    NullFeedback feedback;
    VabConvertOptions options;
    const uint8_t id[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    options.collectionId = Guid::FromBytes(id);
    const ConvertResult result =
        ConvertVabToDls(vhOffset, vbOffset, vhPath, vbPath, "out.dls", "fuzz", feedback, options)
            .result;

    switch (result) {
    case ConvertResult::Done:
    case ConvertResult::PartlyDone: {
        Require(check == VabCheck::Ok);
        const std::vector<uint8_t>& dls = memory.Contents("out.dls");
        Require(memory.Exists("out.dls") && dls.size() >= 12);
        Require(ReadLe(dls.data(), 4) == kRiffId);
        Require(ReadLe(dls.data() + 4, 4) + 8 == dls.size());
        break;
    }
    case ConvertResult::CannotConvert:
    case ConvertResult::InputEnded:
        Require(!memory.Exists("out.dls"));
        break;
    case ConvertResult::OpenFailed:
        // Nothing can fail to open or write in memory.
        std::abort();
    }
    // Where the header check finds fault, the converter finds the same fault.
    if (check == VabCheck::FormatError) {
        Require(result == ConvertResult::CannotConvert);
    }
    if (check == VabCheck::ShortRead) {
        Require(result == ConvertResult::InputEnded);
    }
    return 0;
}
