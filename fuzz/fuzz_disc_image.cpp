// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds the game source layer: cue sheets, images of raw or 2048-byte sectors with their
// file system walk, and PSF files with `_lib` chains, in memory. Images are also written to
// real files, whose track files the layer maps. Checks: no crash; every file the layer
// opens reads no more bytes than it says it holds; a file inside an image reads the same
// from mapped tracks as from memory, and the pieces of mapped memory it gives the scan
// hold exactly those bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "formats/cue_sheet.h"
#include "fuzz/real_folder.h"
#include "fuzz/seed_corpus.h"
#include "gamesource/game_source.h"
#include "testkit/byte_builder.h"
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

// What a file read whole: whether it opened, and its first bytes (at most kMaxMemberBytes).
struct Read {
    bool opened = false;
    int64_t size = 0;
    Bytes bytes;
};

Read ReadWhole(sonvex::FileSystem& files, const std::string& path) {
    Read read;
    std::unique_ptr<sonvex::RawFile> file = files.Open(path, sonvex::OpenMode::Read);
    if (!file) {
        return read;
    }
    read.opened = true;
    read.size = file->Size();
    Require(read.size >= 0);
    read.bytes.resize(static_cast<size_t>(std::min(read.size, kMaxMemberBytes)));
    const int64_t got = file->ReadAt(0, read.bytes.data(), static_cast<int64_t>(read.bytes.size()));
    Require(got >= 0 && got <= static_cast<int64_t>(read.bytes.size()));
    read.bytes.resize(static_cast<size_t>(got));
    // The pieces of mapped memory that hold the file, where it is held so, give its bytes.
    sonvex::StridedBytes run;
    for (int64_t at = 0; at < got && file->StridedAt(at, run);) {
        Require(at >= run.start && at < run.end() && run.end() <= read.size);
        const int64_t piece = run.PieceOf(at);
        const int64_t within = at - (run.start + piece * run.length);
        const int64_t take = std::min(run.length - within, got - at);
        Require(std::equal(run.PieceData(piece) + within, run.PieceData(piece) + within + take,
                           read.bytes.begin() + at));
        at += take;
    }
    file->Close();
    return read;
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
    std::map<std::string, Bytes> put; // the files of an image, to write as real files too
    switch (mode) {
    case kCue: {
        const std::string text(body.begin(), body.end());
        (void)LooksLikeCueSheet(text);
        const CueSheet sheet = ParseCueSheet(text);
        Require(sheet.status == CueStatus::Ok || sheet.diagnostics.failed());
        put["GAME.cue"] = body;
        put["GAME.bin"] = Bytes(20 * 2352, 0);
        image = "GAME.cue";
        break;
    }
    case kRawImage:
    case kCookedImage:
        put[image] = body;
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
        put["GAME.cue"] = Bytes(body.begin() + 2, body.begin() + 2 + static_cast<long>(cueBytes));
        put["GAME.bin"] = Bytes(body.begin() + 2 + static_cast<long>(cueBytes), body.end());
        put["GAME2.bin"] = put["GAME.bin"];
        image = "GAME.cue";
        break;
    }
    default:
        return 0;
    }
    for (const auto& [name, bytes] : put) {
        memory.Put(name, bytes);
    }
    (void)files.KindOf(image);
    std::vector<GameSourceFileSystem::Member> members;
    if (!files.ImageMembers(image, members)) {
        Require(!files.LastError().empty());
        return 0;
    }
    // The same image as real files.
    const std::string& folder = fuzz::RealFolder::Path();
    bool written = !folder.empty();
    for (const auto& [name, bytes] : put) {
        written = written && testkit::WriteFile(folder + "/" + name, bytes);
    }
    PosixFileSystem posix;
    GameSourceFileSystem real(posix);
    for (size_t i = 0; i < members.size() && i < kMaxMembers; ++i) {
        const Read inMemory = ReadWhole(files, members[i].path);
        if (written) {
            const Read mapped = ReadWhole(real, folder + "/" + members[i].path);
            Require(mapped.opened == inMemory.opened && mapped.size == inMemory.size &&
                    mapped.bytes == inMemory.bytes);
        }
    }
    (void)ReadWhole(files, image + "/../escape");
    return 0;
}
