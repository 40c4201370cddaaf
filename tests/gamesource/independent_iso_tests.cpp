// SPDX-License-Identifier: GPL-3.0-or-later
// The file system reader and the image builder against an independent ISO 9660 tool
// (xorriso, when installed): images it makes read back file for file through the game
// source layer, and images the builder makes extract to the files put in.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "gamesource/game_source.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/shell_run.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::TempFolder;

constexpr const char* kTool = "/usr/bin/xorriso";

std::map<std::string, Bytes> SampleFiles() {
    return {{"SOUND/BGM.SEQ", testkit::ByteBuilder().noise(5000, 1).take()},
            {"TOP.VB", testkit::ByteBuilder().noise(10, 2).take()},
            {"A/B/DEEP.VH", testkit::ByteBuilder().noise(70000, 3).take()},
            {"EMPTY.DAT", {}}};
}

TEST(IndependentIso, ImagesOfTheToolReadFileForFile) {
    if (!fs::exists(kTool)) {
        GTEST_SKIP() << kTool << " is not installed";
    }
    TempFolder dir;
    for (const auto& [path, bytes] : SampleFiles()) {
        fs::create_directories(fs::path(dir / ("src/" + path)).parent_path());
        ASSERT_TRUE(testkit::WriteFile(dir / ("src/" + path), bytes));
    }
    const testkit::ShellRun made =
        testkit::Shell(std::string(kTool) + " -as mkisofs -quiet -o '" + dir / "made.img" + "' '" +
                       dir / "src" + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;
    ScopedGameSources sources{SourceReport{}};
    std::vector<GameSourceFileSystem::Member> members;
    ASSERT_TRUE(sources.files().ImageMembers(dir / "made.img", members))
        << sources.files().LastError();
    size_t files = 0;
    for (const auto& member : members) {
        files += member.path.find("#unfiled") == std::string::npos;
    }
    EXPECT_EQ(files, SampleFiles().size());
    for (const auto& [path, bytes] : SampleFiles()) {
        const std::unique_ptr<RawFile> file =
            ActiveFileSystem().Open(dir / ("made.img/" + path), OpenMode::Read);
        ASSERT_NE(file, nullptr) << path << ": " << sources.files().LastError();
        Bytes read(static_cast<size_t>(file->Size()));
        EXPECT_EQ(file->ReadAt(0, read.data(), file->Size()), file->Size());
        EXPECT_EQ(read, bytes) << path;
    }
}

TEST(IndependentIso, BuiltImagesExtractToTheFilesPutIn) {
    if (!fs::exists(kTool)) {
        GTEST_SKIP() << kTool << " is not installed";
    }
    TempFolder dir;
    testkit::DiscBuilder builder;
    for (const auto& [path, bytes] : SampleFiles()) {
        builder.File(path, bytes);
    }
    ASSERT_TRUE(testkit::WriteFile(dir / "built.iso", testkit::CookedImage(builder.Build())));
    const testkit::ShellRun extracted =
        testkit::Shell(std::string(kTool) + " -osirrox on -indev '" + dir / "built.iso" +
                       "' -extract / '" + dir / "out" + "' 2>&1");
    ASSERT_EQ(extracted.status, 0) << extracted.out;
    for (const auto& [path, bytes] : SampleFiles()) {
        EXPECT_EQ(testkit::ReadFile(dir / ("out/" + path)), bytes) << path;
    }
}

} // namespace
} // namespace sonvex
