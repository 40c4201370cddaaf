// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images: the kind told by content, the ISO 9660 walk with CD-XA attributes, and the
// user data of files whose sectors are Form 1, Form 2, or not what their attributes say.
#include <gtest/gtest.h>

#include <memory>

#include "chunkfile/file_system.h"
#include "formats/disc_sectors.h"
#include "formats/iso9660.h"
#include "testkit/disc_builder.h"
#include "tests/support/disc_test_kit.h"

namespace sonvex {
namespace {

using namespace disc_test_kit;

std::shared_ptr<RawFile> InMemory(MemoryFileSystem& fs, const std::string& name, Bytes bytes) {
    fs.Put(name, std::move(bytes));
    return fs.Open(name, OpenMode::Read);
}

// The bytes a stream over the file `path` of `iso` reads, in reads of `step` bytes.
Bytes ReadFileOf(const std::shared_ptr<const DiscSectors>& disc, const IsoFileSystem& iso,
                 const std::string& path, int64_t step = 1000) {
    for (const IsoFile& file : iso.files) {
        if (file.path != path) {
            continue;
        }
        SectorStream stream(disc, {{file.extent, file.SectorCount()}}, file.length, true);
        std::string error;
        EXPECT_TRUE(stream.Measure(error)) << error;
        Bytes out(static_cast<size_t>(stream.Length()));
        for (int64_t at = 0; at < stream.Length(); at += step) {
            const int64_t want = std::min(step, stream.Length() - at);
            EXPECT_EQ(stream.ReadAt(at, out.data() + at, want, error), want)
                << path << " " << error;
        }
        return out;
    }
    ADD_FAILURE() << path << " not in the file system";
    return {};
}

struct Sample {
    Bytes form1 = Noise(3 * 2048 + 77, 1); // crosses three sector boundaries
    Bytes form2 = Noise(2 * 2324 + 5, 2);  // Form 2 sectors: 2324 bytes each
    Bytes lying = Noise(2324 + 100, 3);    // Form 2 sectors recorded as Form 1
    Bytes exact = Noise(2048, 4);          // exactly one sector
    std::vector<testkit::DiscSector> sectors;
    Sample() {
        DiscFile lie{"XA/LIE.STR", lying, SectorForm::Form2, uint16_t{0x0D55}, -1};
        sectors = DiscBuilder()
                      .File("SOUND/BGM.SEQ", form1)
                      .File("MOVIE/INTRO.STR", form2, SectorForm::Form2)
                      .File(lie)
                      .File("SYSTEM.CNF", exact)
                      .Build();
    }
};

TEST(DiscImage, KindIsToldByContentWhateverTheName) {
    const Sample sample;
    MemoryFileSystem fs;
    EXPECT_EQ(DetectImageKind(*InMemory(fs, "a.iso", testkit::RawImage(sample.sectors))),
              ImageKind::Raw);
    EXPECT_EQ(DetectImageKind(*InMemory(fs, "a.bin", testkit::CookedImage(sample.sectors))),
              ImageKind::Cooked);
    EXPECT_EQ(DetectImageKind(*InMemory(fs, "x.dat", Text(testkit::CueSheetText({"x.bin"})))),
              ImageKind::CueSheet);
    EXPECT_EQ(DetectImageKind(*InMemory(fs, "n.cue", Noise(40000, 9))), ImageKind::None);
    EXPECT_EQ(DetectImageKind(*InMemory(fs, "e.bin", {})), ImageKind::None);
}

TEST(DiscImage, RawImageGivesEveryFileItsUserDataByTheSectorsForms) {
    const Sample sample;
    MemoryFileSystem fs;
    auto disc = std::make_shared<const DiscSectors>(TracksOfBareImage(
        InMemory(fs, "d.bin", testkit::RawImage(sample.sectors)), "d.bin", ImageKind::Raw));
    const IsoFileSystem iso = ReadIsoFileSystem(*disc);
    ASSERT_EQ(iso.status, IsoStatus::Ok) << iso.diagnostics.failure;
    std::vector<std::string> paths;
    for (const IsoFile& f : iso.files) {
        paths.push_back(f.path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"SYSTEM.CNF", "MOVIE/INTRO.STR", "SOUND/BGM.SEQ",
                                               "XA/LIE.STR"}));
    EXPECT_EQ(iso.files[1].xaAttributes & kXaForm2, kXaForm2);
    EXPECT_EQ(iso.files[3].xaAttributes & kXaForm2, 0);
    EXPECT_EQ(ReadFileOf(disc, iso, "SOUND/BGM.SEQ"), sample.form1);
    EXPECT_EQ(ReadFileOf(disc, iso, "SYSTEM.CNF", 2048), sample.exact);
    // Form 2 files take whole sectors of 2324 bytes: the tail of the last is padding.
    Bytes form2 = sample.form2;
    form2.resize(3 * 2324, 0);
    EXPECT_EQ(ReadFileOf(disc, iso, "MOVIE/INTRO.STR", 777), form2);
    // The subheaders hold: these sectors are Form 2 whatever the attributes say.
    Bytes lying = sample.lying;
    lying.resize(2 * 2324, 0);
    EXPECT_EQ(ReadFileOf(disc, iso, "XA/LIE.STR"), lying);
}

TEST(DiscImage, CookedImageReadsTheSameFileSystem) {
    const std::vector<testkit::DiscSector> sectors =
        DiscBuilder().File("A/B/C/DEEP.VH", Noise(5000, 5)).File("TOP.VB", Noise(10, 6)).Build();
    MemoryFileSystem fs;
    auto disc = std::make_shared<const DiscSectors>(TracksOfBareImage(
        InMemory(fs, "d.iso", testkit::CookedImage(sectors)), "d.iso", ImageKind::Cooked));
    const IsoFileSystem iso = ReadIsoFileSystem(*disc);
    ASSERT_EQ(iso.status, IsoStatus::Ok) << iso.diagnostics.failure;
    EXPECT_EQ(ReadFileOf(disc, iso, "A/B/C/DEEP.VH"), Noise(5000, 5));
    EXPECT_EQ(ReadFileOf(disc, iso, "TOP.VB"), Noise(10, 6));
}

// A sector of the root folder rewritten by `damage`, in a cooked image.
IsoFileSystem WalkDamaged(void (*damage)(Bytes& rootSector, int64_t rootLba)) {
    std::vector<testkit::DiscSector> sectors =
        DiscBuilder().File("SUB/FILE.BIN", Noise(100, 7)).Build();
    const int64_t root = 20;
    damage(sectors[root].data, root);
    static MemoryFileSystem fs;
    auto disc = std::make_shared<const DiscSectors>(TracksOfBareImage(
        InMemory(fs, "x.iso", testkit::CookedImage(sectors)), "x.iso", ImageKind::Cooked));
    return ReadIsoFileSystem(*disc);
}

TEST(DiscImage, DamagedFileSystemsStopTheWalkWithTheirReason) {
    // The third record of the root (SUB) is at 2 × 48 = 96 bytes in.
    IsoFileSystem loop = WalkDamaged([](Bytes& s, int64_t root) {
        s[96 + 2] = static_cast<uint8_t>(root); // SUB's extent is the root itself
    });
    EXPECT_EQ(loop.status, IsoStatus::Invalid);
    EXPECT_NE(loop.diagnostics.failure.find("folder SUB"), std::string::npos)
        << loop.diagnostics.failure;
    IsoFileSystem cut = WalkDamaged([](Bytes& s, int64_t) { s[96] = 20; });
    EXPECT_EQ(cut.status, IsoStatus::Invalid);
    EXPECT_NE(cut.diagnostics.failure.find("root folder at 0x0000A060: record of 20 bytes"),
              std::string::npos)
        << cut.diagnostics.failure;
    IsoFileSystem past = WalkDamaged([](Bytes& s, int64_t) { s[96 + 10 + 3] = 0x7F; });
    EXPECT_EQ(past.status, IsoStatus::Invalid);
    EXPECT_NE(past.diagnostics.failure.find("folder SUB"), std::string::npos)
        << past.diagnostics.failure;
    IsoFileSystem none = WalkDamaged([](Bytes&, int64_t) {});
    EXPECT_EQ(none.status, IsoStatus::Ok);
}

TEST(DiscImage, ImageWithoutFileSystemSaysSo) {
    MemoryFileSystem fs;
    DiscSectors disc(
        TracksOfBareImage(InMemory(fs, "z.bin", Bytes(40 * 2048, 0)), "z.bin", ImageKind::Cooked));
    const IsoFileSystem iso = ReadIsoFileSystem(disc);
    EXPECT_EQ(iso.status, IsoStatus::NoFileSystem);
    EXPECT_EQ(iso.diagnostics.failure,
              "volume descriptor at 0x00008000: no ISO 9660 volume descriptor");
}

} // namespace
} // namespace sonvex
