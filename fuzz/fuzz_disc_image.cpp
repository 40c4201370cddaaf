// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the game source layer: cue sheets, images of raw or 2048-byte sectors with their
// file system walk, and PSF files with `_lib` chains, all in memory. Checks: no crash, and
// every file the layer opens reads exactly as many bytes as it says it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/cue_sheet.h"
#include "fuzz/seed_corpus.h"
#include "gamesource/game_source.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"
#include "testkit/psf_builder.h"

namespace {

using sonvex::testkit::Bytes;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The first byte of an input chooses what the rest is.
enum Mode : uint8_t { kCue = 0, kRawImage = 1, kCookedImage = 2, kPsf = 3, kCueAndBin = 4 };
constexpr uint8_t kModes = 5;
// Bounds of the work done for one input.
constexpr size_t kMaxMembers = 64;
constexpr int64_t kMaxMemberBytes = 1 << 20;

Bytes Seed(uint8_t mode, const Bytes& rest) {
    Bytes seed = {mode};
    seed.insert(seed.end(), rest.begin(), rest.end());
    return seed;
}

std::vector<Bytes> Seeds() {
    using namespace sonvex::testkit;
    GameImage music(5);
    music.Seq(4);
    const std::vector<DiscSector> sectors =
        DiscBuilder()
            .File("SND/A.SEQ", music.bytes())
            .File("MOV/B.STR", Bytes(3000, 0x11), SectorForm::Form2)
            .Unfiled(Bytes(100, 0x22))
            .Build();
    const std::string cue = CueSheetText({"GAME.bin", "GAME2.bin"});
    const Bytes exe = BuildPsxExe(0x80010000, music.bytes());
    std::vector<Bytes> seeds = {
        Seed(kCue, Bytes(cue.begin(), cue.end())),
        Seed(kRawImage, RawImage(sectors)),
        Seed(kCookedImage, CookedImage(sectors)),
        Seed(kPsf, BuildPsf({exe, {{"_lib", "lib.psflib"}, {"title", "x"}}, {}})),
        Seed(kPsf, BuildPsf({exe, {}, {}})),
    };
    Bytes both = {static_cast<uint8_t>(cue.size()), static_cast<uint8_t>(cue.size() >> 8)};
    both.insert(both.end(), cue.begin(), cue.end());
    const Bytes raw = RawImage(sectors, 0, 20);
    both.insert(both.end(), raw.begin(), raw.end());
    seeds.push_back(Seed(kCueAndBin, both));
    return seeds;
}

void ReadWhole(sonvex::FileSystem& files, const std::string& path) {
    std::unique_ptr<sonvex::RawFile> file = files.Open(path, sonvex::OpenMode::Read);
    if (!file) {
        return;
    }
    const int64_t size = file->Size();
    Require(size >= 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(size, kMaxMemberBytes)));
    const int64_t got = file->ReadAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
    Require(got <= static_cast<int64_t>(bytes.size()));
    file->Close();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::vector<std::vector<uint8_t>> seeds;
    for (const Bytes& seed : Seeds()) {
        if (seed.size() <= sonvex::fuzz::kMaxSeedSize) {
            seeds.push_back(seed);
        }
    }
    sonvex::fuzz::WriteSeedsIfAsked("disc_image", seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonvex;
    if (size < 1) {
        return 0;
    }
    const uint8_t mode = data[0] % kModes;
    const Bytes body(data + 1, data + size);
    MemoryFileSystem memory;
    GameSourceFileSystem files(memory);
    std::string image = "GAME.bin";
    switch (mode) {
    case kCue: {
        const std::string text(body.begin(), body.end());
        (void)LooksLikeCueSheet(text);
        const CueSheet sheet = ParseCueSheet(text);
        Require(sheet.status == CueStatus::Ok || sheet.diagnostics.failed());
        memory.Put("GAME.cue", body);
        memory.Put("GAME.bin", Bytes(20 * 2352, 0));
        image = "GAME.cue";
        break;
    }
    case kRawImage:
    case kCookedImage:
        memory.Put(image, body);
        break;
    case kPsf:
        memory.Put("song.minipsf", body);
        memory.Put("lib.psflib", body);
        ReadWhole(files, "song.minipsf");
        (void)files.PsfLibraries("song.minipsf");
        return 0;
    case kCueAndBin: {
        if (body.size() < 2) {
            return 0;
        }
        const size_t cueBytes = std::min<size_t>(body[0] | body[1] << 8, body.size() - 2);
        memory.Put("GAME.cue",
                   Bytes(body.begin() + 2, body.begin() + 2 + static_cast<long>(cueBytes)));
        memory.Put("GAME.bin", Bytes(body.begin() + 2 + static_cast<long>(cueBytes), body.end()));
        memory.Put("GAME2.bin", Bytes(body.begin() + 2 + static_cast<long>(cueBytes), body.end()));
        image = "GAME.cue";
        break;
    }
    default:
        return 0;
    }
    (void)files.KindOf(image);
    std::vector<GameSourceFileSystem::Member> members;
    if (!files.ImageMembers(image, members)) {
        Require(!files.LastError().empty());
        return 0;
    }
    for (size_t i = 0; i < members.size() && i < kMaxMembers; ++i) {
        ReadWhole(files, members[i].path);
    }
    ReadWhole(files, image + "/../escape");
    return 0;
}
