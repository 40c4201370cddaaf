// SPDX-License-Identifier: GPL-3.0-or-later
// PSF files and their `_lib` sets: header checks, CRC, inflation, tags, load order and the
// faults a set can have.
#include "formats/psf.h"

#include <gtest/gtest.h>

#include "chunkfile/file_system.h"
#include "testkit/psf_builder.h"

namespace sonvex {
namespace {

using testkit::BuildPsf;
using testkit::BuildPsxExe;
using testkit::Bytes;
using testkit::PsfParts;

Bytes Filled(size_t n, uint8_t value) {
    return Bytes(n, value);
}

TEST(Psf, ReadsProgramAndTags) {
    const Bytes exe = BuildPsxExe(0x80010000, Filled(300, 0xAB));
    const Bytes file = BuildPsf(
        PsfParts{exe,
                 {{"title", "Song"}, {"Comment", "one"}, {"comment", "two"}, {"utf8", "1"}},
                 Bytes(12, 7)});
    const PsfRead read = ReadPsf(file);
    ASSERT_EQ(read.status, PsfStatus::Ok) << read.diagnostics.failure;
    EXPECT_EQ(read.psf.program, exe);
    EXPECT_EQ(read.psf.Tag("title"), "Song");
    EXPECT_EQ(read.psf.Tag("comment"), "one\ntwo");
    EXPECT_TRUE(read.psf.utf8);
    ExeText text;
    Diagnostics d;
    ASSERT_TRUE(ReadExeText(read.psf.program, text, d)) << d.failure;
    EXPECT_EQ(text.address, 0x10000);
    EXPECT_EQ(text.bytes.size(), 300u);
}

TEST(Psf, EachDamagedFileIsRefusedWithItsReason) {
    const Bytes exe = BuildPsxExe(0x80010000, Filled(5000, 0x11));
    const Bytes good = BuildPsf(PsfParts{exe, {}, {}});

    Bytes badCrc = good;
    badCrc[20] ^= 0x01;
    PsfRead r = ReadPsf(badCrc);
    EXPECT_EQ(r.status, PsfStatus::Invalid);
    EXPECT_NE(r.diagnostics.failure.find("CRC-32 of the program is"), std::string::npos)
        << r.diagnostics.failure;

    const Bytes stream = testkit::Deflate(exe);
    const Bytes cut(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));
    r = ReadPsf(testkit::BuildPsfWithStream(PsfParts{exe, {}, {}}, cut));
    EXPECT_EQ(r.status, PsfStatus::Invalid);
    EXPECT_NE(r.diagnostics.failure.find("cut short"), std::string::npos) << r.diagnostics.failure;

    Bytes otherConsole = good;
    otherConsole[3] = 0x02;
    r = ReadPsf(otherConsole);
    EXPECT_EQ(r.status, PsfStatus::NotPsf);
    EXPECT_EQ(r.diagnostics.failure,
              "PSF header at 0x00000003: version 0x02 is not the PlayStation's 0x01");

    const Bytes truncated(good.begin(), good.end() - 4);
    r = ReadPsf(truncated);
    EXPECT_EQ(r.status, PsfStatus::Invalid);
    EXPECT_NE(r.diagnostics.failure.find("run past the file's"), std::string::npos);

    const Bytes tooBig = BuildPsf(PsfParts{BuildPsxExe(0x801FFF00, Filled(0x200, 1)), {}, {}});
    const PsfRead big = ReadPsf(tooBig);
    ASSERT_EQ(big.status, PsfStatus::Ok);
    ExeText text;
    Diagnostics d;
    EXPECT_FALSE(ReadExeText(big.psf.program, text, d));
    EXPECT_NE(d.failure.find("runs past main memory"), std::string::npos) << d.failure;
}

TEST(PsfSet, LibrariesLoadInPlayerOrderIntoOneImage) {
    MemoryFileSystem fs;
    // The library fills 0x10000..0x10400 with 1; the file overwrites 0x10100..0x10200 with 2;
    // _lib2 overwrites 0x10180..0x10280 with 3 and reaches past the library's end.
    fs.Put("set/base.psflib",
           BuildPsf(PsfParts{BuildPsxExe(0x80010000, Filled(0x400, 1)), {}, {}}));
    fs.Put("set/extra.psflib",
           BuildPsf(PsfParts{BuildPsxExe(0x80010180, Filled(0x100, 3)), {}, {}}));
    fs.Put("set/song.minipsf", BuildPsf(PsfParts{BuildPsxExe(0x80010100, Filled(0x100, 2)),
                                                 {{"_lib", "base.psflib"},
                                                  {"_lib2", "extra.psflib"},
                                                  {"_lib4", "never.psflib"},
                                                  {"title", "Tune"}},
                                                 {}}));
    const PsfSet set = LoadPsfSet(fs, "set/song.minipsf");
    ASSERT_EQ(set.status, PsfSetStatus::Ok) << set.failure;
    EXPECT_EQ(set.address, 0x10000);
    Bytes expected = Filled(0x400, 1);
    std::fill(expected.begin() + 0x100, expected.begin() + 0x200, 2);
    std::fill(expected.begin() + 0x180, expected.begin() + 0x280, 3);
    EXPECT_EQ(set.image, expected);
    EXPECT_EQ(set.files, (std::vector<std::string>{"set/base.psflib", "set/song.minipsf",
                                                   "set/extra.psflib"}));
    EXPECT_EQ(set.tags.size(), 4u);
    EXPECT_EQ(PsfLibraryPaths(fs, "set/song.minipsf"),
              (std::vector<std::string>{"set/base.psflib", "set/extra.psflib"}));
}

TEST(PsfSet, BrokenSetsNameTheFileAndTheFault) {
    MemoryFileSystem fs;
    const Bytes exe = BuildPsxExe(0x80010000, Filled(16, 1));
    fs.Put("a.psf", BuildPsf(PsfParts{exe, {{"_lib", "b.psflib"}}, {}}));
    fs.Put("b.psflib", BuildPsf(PsfParts{exe, {{"_lib", "a.psf"}}, {}}));
    PsfSet set = LoadPsfSet(fs, "a.psf");
    EXPECT_EQ(set.status, PsfSetStatus::Failed);
    EXPECT_EQ(set.failure, "a.psf: _lib cycle: a.psf -> b.psflib -> a.psf");
    EXPECT_TRUE(set.image.empty());

    fs.Put("lonely.minipsf", BuildPsf(PsfParts{exe, {{"_lib", "gone.psflib"}}, {}}));
    set = LoadPsfSet(fs, "lonely.minipsf");
    EXPECT_EQ(set.failure, "gone.psflib: cannot be opened");

    // A chain of distinct names deeper than the limit.
    for (int i = 0; i <= kMaxPsfLibDepth + 1; ++i) {
        fs.Put("d" + std::to_string(i),
               BuildPsf(PsfParts{exe, {{"_lib", "d" + std::to_string(i + 1)}}, {}}));
    }
    set = LoadPsfSet(fs, "d0");
    EXPECT_NE(set.failure.find("nested deeper than"), std::string::npos) << set.failure;
}

} // namespace
} // namespace sonvex
