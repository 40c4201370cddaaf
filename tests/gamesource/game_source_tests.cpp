// SPDX-License-Identifier: GPL-3.0-or-later
// The game source layer over an in-memory file system: files inside cue, raw and 2048-byte
// images by the path form, the unfiled area, a second track, PSF memory images, and every
// failure reported with the file it concerns.
#include "gamesource/game_source.h"

#include <gtest/gtest.h>

#include "testkit/disc_builder.h"
#include "testkit/psf_builder.h"
#include "tests/support/disc_test_kit.h"

namespace sonvex {
namespace {

using namespace disc_test_kit;

// Reads the whole of `path` through `fs`; records why it failed.
struct Opened {
    bool ok = false;
    Bytes bytes;
};
Opened ReadThrough(FileSystem& fs, const std::string& path) {
    Opened out;
    std::unique_ptr<RawFile> file = fs.Open(path, OpenMode::Read);
    if (!file) {
        return out;
    }
    out.bytes.resize(static_cast<size_t>(file->Size()));
    out.ok = file->ReadAt(0, out.bytes.data(), file->Size()) == file->Size();
    file->Close();
    return out;
}

struct Layer {
    MemoryFileSystem memory;
    std::vector<std::string> reports;
    GameSourceFileSystem files{memory, [this](std::string_view m) { reports.emplace_back(m); }};
};

TEST(GameSource, FilesInsideImagesOfEveryKindReadAsTheirUserData) {
    const Bytes seq = Noise(5000, 1);
    const Bytes late = Noise(3000, 2);
    const Bytes unfiled = Noise(2100, 3);
    const std::vector<testkit::DiscSector> sectors =
        DiscBuilder()
            .File("SOUND/BGM.SEQ", seq)
            .File(DiscFile{"SOUND/LATE.VB", late, SectorForm::Form1, std::nullopt, 60})
            .Unfiled(unfiled)
            .Build();
    Layer layer;
    // The cue sheet splits the disc at sector 60: LATE.VB lies on the second track.
    const Bytes all = testkit::RawImage(sectors);
    layer.memory.Put("d/GAME.bin", Bytes(all.begin(), all.begin() + 60 * 2352));
    layer.memory.Put("d/GAME2.bin", Bytes(all.begin() + 60 * 2352, all.end()));
    layer.memory.Put("d/GAME.cue", Text(testkit::CueSheetText({"GAME.bin", "GAME2.bin"})));
    layer.memory.Put("raw.img", all);
    layer.memory.Put("cooked.dat", testkit::CookedImage(sectors));

    for (const std::string image : {"d/GAME.cue", "raw.img", "cooked.dat"}) {
        EXPECT_EQ(layer.files.KindOf(image), SourceKind::DiscImage) << image;
        EXPECT_EQ(ReadThrough(layer.files, image + "/SOUND/BGM.SEQ").bytes, seq) << image;
        EXPECT_EQ(ReadThrough(layer.files, image + "/sound/late.vb").bytes, late) << image;
        EXPECT_EQ(ReadThrough(layer.files, image + "/SOUND/../SOUND//./BGM.SEQ").bytes, seq)
            << image;
        // The unfiled area: the system area, the sectors between the files, then the data.
        const Opened rest = ReadThrough(layer.files, image + "/#unfiled");
        ASSERT_TRUE(rest.ok) << image;
        ASSERT_GE(rest.bytes.size(), unfiled.size());
        EXPECT_TRUE(std::equal(unfiled.begin(), unfiled.end(),
                               rest.bytes.end() - static_cast<long>(2048 * 2)))
            << image;
        std::vector<GameSourceFileSystem::Member> members;
        ASSERT_TRUE(layer.files.ImageMembers(image, members));
        ASSERT_EQ(members.size(), 3u);
        EXPECT_EQ(members[0].path, image + "/SOUND/BGM.SEQ");
        EXPECT_EQ(members[2].path, image + "/#unfiled");
    }
    // The image file itself still reads as it is.
    EXPECT_EQ(ReadThrough(layer.files, "raw.img").bytes, all);
    EXPECT_EQ(ReadThrough(layer.files, "d/GAME.bin").bytes.size(), 60u * 2352);
    EXPECT_EQ(layer.files.KindOf("raw.img/SOUND/BGM.SEQ"), SourceKind::InImage);
    EXPECT_TRUE(layer.reports.empty());
}

// The bytes of `file` gathered from the pieces of mapped memory it says hold them; every
// byte must be held so, and no piece may reach past the file's end.
::testing::AssertionResult ReadThroughPieces(RawFile& file, Bytes& out) {
    const int64_t size = file.Size();
    out.clear();
    for (int64_t position = 0; position < size;) {
        StridedBytes run;
        if (!file.StridedAt(position, run)) {
            return ::testing::AssertionFailure() << "no pieces at " << position;
        }
        if (position < run.start || position >= run.end() || run.end() > size) {
            return ::testing::AssertionFailure() << "pieces from " << run.start << " to "
                                                 << run.end() << " given for " << position;
        }
        const int64_t piece = run.PieceOf(position);
        const int64_t within = position - (run.start + piece * run.length);
        const uint8_t* bytes = run.PieceData(piece) + within;
        out.insert(out.end(), bytes, bytes + (run.length - within));
        position += run.length - within;
    }
    return ::testing::AssertionSuccess();
}

// Over real files the track files are mapped, and files inside an image are read, and
// given to the scan as pieces, in place: Form 1 and Form 2 sectors, a file whose length ends
// inside a sector, a second track, and the contiguous data of 2048-byte sectors.
TEST(GameSource, FilesInsideMappedImagesReadTheSameInPlace) {
    const Bytes seq = Noise(5000, 1);
    const Bytes movie = Noise(3 * 2324 + 100, 2);
    const Bytes late = Noise(3000, 3);
    const std::vector<testkit::DiscSector> sectors =
        DiscBuilder()
            .File("SOUND/BGM.SEQ", seq)
            .File("MOVIE/OPEN.STR", movie, SectorForm::Form2)
            .File(DiscFile{"SOUND/LATE.VB", late, SectorForm::Form1, std::nullopt, 60})
            .Unfiled(Noise(2100, 4))
            .Build();
    testkit::TempFolder dir;
    const Bytes all = testkit::RawImage(sectors);
    ASSERT_TRUE(testkit::WriteFile(dir / "GAME.bin", Bytes(all.begin(), all.begin() + 60 * 2352)));
    ASSERT_TRUE(testkit::WriteFile(dir / "GAME2.bin", Bytes(all.begin() + 60 * 2352, all.end())));
    ASSERT_TRUE(testkit::WriteFile(dir / "GAME.cue",
                                   Text(testkit::CueSheetText({"GAME.bin", "GAME2.bin"}))));
    ASSERT_TRUE(testkit::WriteFile(dir / "cooked.iso", testkit::CookedImage(sectors)));
    PosixFileSystem posix;
    std::vector<std::string> reports;
    GameSourceFileSystem files{posix, [&reports](std::string_view m) { reports.emplace_back(m); }};

    for (const std::string image : {dir / "GAME.cue", dir / "cooked.iso"}) {
        std::vector<GameSourceFileSystem::Member> members;
        ASSERT_TRUE(files.ImageMembers(image, members)) << image;
        for (const auto& member : members) {
            if (image == dir / "cooked.iso" && member.path == image + "/MOVIE/OPEN.STR") {
                continue; // 2048-byte sectors hold no Form 2 data
            }
            const Opened read = ReadThrough(files, member.path);
            ASSERT_TRUE(read.ok) << member.path;
            const std::unique_ptr<RawFile> file = files.Open(member.path, OpenMode::Read);
            ASSERT_TRUE(file != nullptr) << member.path;
            Bytes inPlace;
            EXPECT_TRUE(ReadThroughPieces(*file, inPlace)) << member.path;
            EXPECT_EQ(inPlace, read.bytes) << member.path;
            // Past the end there are no pieces.
            StridedBytes none;
            EXPECT_FALSE(file->StridedAt(file->Size(), none)) << member.path;
        }
        EXPECT_EQ(ReadThrough(files, image + "/SOUND/BGM.SEQ").bytes, seq) << image;
        EXPECT_EQ(ReadThrough(files, image + "/SOUND/LATE.VB").bytes, late) << image;
    }
    // The movie's Form 2 data is whole sectors of 2324 bytes.
    const Bytes movieRead = ReadThrough(files, dir / "GAME.cue/MOVIE/OPEN.STR").bytes;
    ASSERT_EQ(movieRead.size(), 4u * 2324);
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), movieRead.begin()));
    EXPECT_TRUE(reports.empty()) << reports.front();
}

TEST(GameSource, EachFailureIsReportedWithTheFileAndReason) {
    const std::vector<testkit::DiscSector> sectors =
        DiscBuilder()
            .File("A.SEQ", Noise(9000, 4))
            .File("B.STR", Noise(3000, 5), SectorForm::Form2)
            .Build();
    Layer layer;
    layer.memory.Put("GAME.cue", Text(testkit::CueSheetText({"GAME.bin", "MISSING.bin"})));
    layer.memory.Put("GAME.bin", testkit::RawImage(sectors));
    const Bytes raw = testkit::RawImage(sectors);
    layer.memory.Put("cut.bin", Bytes(raw.begin(), raw.end() - 2352 * 2 - 100));
    layer.memory.Put("cooked.iso", testkit::CookedImage(sectors));
    layer.memory.Put("plain.dat", Noise(100, 6));

    const struct {
        std::string path;
        std::string report;
    } cases[] = {
        {"GAME.cue/A.SEQ", "GAME.cue: track file MISSING.bin (MISSING.bin) is missing"},
        {"GAME.bin/../plain.dat", "GAME.bin/../plain.dat: the path leaves the image"},
        {"GAME.bin/SUB/../../A.SEQ", "GAME.bin/SUB/../../A.SEQ: the path leaves the image"},
        {"GAME.bin/./", "GAME.bin/./: names the image itself"},
        {"GAME.bin/NOPE.SEQ", "GAME.bin/NOPE.SEQ: the image holds no file NOPE.SEQ"},
        {"cut.bin/A.SEQ", "cut.bin: file A.SEQ at"},
        {"cooked.iso/B.STR",
         "cooked.iso/B.STR: a Form 2 file, whose data an image of 2048-byte sectors does not hold"},
    };
    for (const auto& c : cases) {
        layer.reports.clear();
        EXPECT_FALSE(ReadThrough(layer.files, c.path).ok) << c.path;
        ASSERT_EQ(layer.reports.size(), 1u) << c.path;
        EXPECT_EQ(layer.reports[0].substr(0, c.report.size()), c.report) << c.path;
        EXPECT_EQ(layer.files.LastError(), layer.reports[0]);
    }
    // A path under a plain file is simply missing: nothing to report.
    layer.reports.clear();
    EXPECT_FALSE(ReadThrough(layer.files, "plain.dat/X").ok);
    EXPECT_EQ(layer.files.KindOf("plain.dat"), SourceKind::Plain);
    EXPECT_EQ(layer.files.KindOf("nothing"), SourceKind::Missing);
    EXPECT_TRUE(layer.reports.empty());
}

TEST(GameSource, TrackFileSpeltInOtherLettersIsFoundWhenItIsTheOnlyOne) {
    const Bytes seq = Noise(5000, 7);
    const Bytes raw = testkit::RawImage(DiscBuilder().File("A.SEQ", seq).Build());
    Layer layer;
    layer.memory.Put("disc/GAME.cue", Text(testkit::CueSheetText({"game.BIN"})));
    layer.memory.Put("disc/Game.bin", raw);
    const Opened opened = ReadThrough(layer.files, "disc/GAME.cue/A.SEQ");
    EXPECT_TRUE(opened.ok);
    EXPECT_EQ(opened.bytes, seq);
    // Two files that both fit: which one is meant cannot be told.
    layer.memory.Put("disc/TWO.cue", Text(testkit::CueSheetText({"two.bin"})));
    layer.memory.Put("disc/Two.bin", raw);
    layer.memory.Put("disc/TWO.BIN", raw);
    EXPECT_FALSE(ReadThrough(layer.files, "disc/TWO.cue/A.SEQ").ok);
    ASSERT_FALSE(layer.reports.empty());
    EXPECT_EQ(layer.reports.back(), "disc/TWO.cue: track file two.bin (disc/two.bin) is missing");
}

TEST(GameSource, ImageChangedSinceItWasReadIsReadAnew) {
    Layer layer;
    const Bytes first = Noise(3000, 10);
    const Bytes second = Noise(9000, 11);
    layer.memory.Put("t/GAME.bin", testkit::RawImage(DiscBuilder().File("A.SEQ", first).Build()));
    // The cue sheet names its track file with a backslash, as sheets made elsewhere do.
    layer.memory.Put("GAME.cue", Text("FILE \"t\\GAME.bin\" BINARY\nTRACK 01 MODE2/2352\n"
                                      "INDEX 01 00:00:00\n"));
    EXPECT_EQ(ReadThrough(layer.files, "GAME.cue/A.SEQ").bytes, first);
    layer.memory.Put("t/GAME.bin", testkit::RawImage(DiscBuilder().File("A.SEQ", second).Build()));
    EXPECT_EQ(ReadThrough(layer.files, "GAME.cue/A.SEQ").bytes, second);
    EXPECT_TRUE(layer.reports.empty());
}

TEST(GameSource, PsfOpensAsItsSetsMemoryImage) {
    Layer layer;
    const Bytes lib = Noise(0x900, 7);
    const Bytes own = Noise(0x100, 8);
    layer.memory.Put("m/lib.psflib",
                     testkit::BuildPsf({testkit::BuildPsxExe(0x80020000, lib), {}, {}}));
    layer.memory.Put(
        "m/song.minipsf",
        testkit::BuildPsf({testkit::BuildPsxExe(0x80020800, own), {{"_lib", "lib.psflib"}}, {}}));
    Bytes expected = lib;
    std::copy(own.begin(), own.end(), expected.begin() + 0x800);
    EXPECT_EQ(layer.files.KindOf("m/song.minipsf"), SourceKind::Psf);
    EXPECT_EQ(ReadThrough(layer.files, "m/song.minipsf").bytes, expected);
    EXPECT_EQ(ReadThrough(layer.files, "m/lib.psflib").bytes, lib);
    EXPECT_EQ(layer.files.PsfLibraries("m/song.minipsf"), std::vector<std::string>{"m/lib.psflib"});

    Bytes damaged = testkit::BuildPsf({testkit::BuildPsxExe(0x80020000, lib), {}, {}});
    damaged[40] ^= 0xFF;
    layer.memory.Put("m/bad.psf", damaged);
    EXPECT_FALSE(ReadThrough(layer.files, "m/bad.psf").ok);
    ASSERT_EQ(layer.reports.size(), 1u);
    EXPECT_EQ(layer.reports[0].rfind("m/bad.psf: PSF header at 0x0000000C: CRC-32", 0), 0u)
        << layer.reports[0];
}

} // namespace
} // namespace sonvex
