// SPDX-License-Identifier: GPL-3.0-or-later
// Collections written by the converter, read back by independent tools from gigtools:
// dlsdump (the DLS library's own loader) and rifftree (the RIFF tree with chunk sizes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "bank2dls/vab_converter.h"
#include "chunkfile/chunk_file.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/shell_run.h"
#include "testkit/vab_builder.h"
#include "tests/bank2dls/bank_test_support.h"

namespace sonvex {
namespace {

using namespace banktest;

bool HaveTool(const char* path) {
    return ::access(path, X_OK) == 0;
}

// Writes the bank's DLS into `folder` with the real file system; returns its path.
std::string WriteDls(const testkit::TempFolder& folder, const testkit::VabBuilder& vab,
                     std::string_view title, ConvertResult expected = ConvertResult::Done) {
    EXPECT_EQ(ConvertInFolder(folder, vab, title).result, expected);
    return folder / "bank.dls";
}

std::vector<int16_t> Sine(size_t n, double step) {
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i) {
        pcm[i] =
            static_cast<int16_t>(std::lround(12000.0 * std::sin(step * static_cast<double>(i))));
    }
    return pcm;
}

TEST(IndependentReader, DlsdumpSeesInstrumentsRegionsWavesAndLoops) {
    if (!HaveTool("/usr/bin/dlsdump")) {
        GTEST_SKIP() << "dlsdump (gigtools) is not installed";
    }
    testkit::VabTone low = testkit::Tone(1, 0, 59);
    testkit::VabTone high = testkit::Tone(2, 60, 127);
    testkit::VabTone drum = testkit::Tone(3, 36, 36);
    testkit::VabBuilder vab;
    vab.program(0, testkit::Program({low, high}));
    vab.program(9, testkit::Program({drum, testkit::Tone(0)}));
    vab.program(40, testkit::Program({testkit::Tone(255)}));
    vab.sample(testkit::MakeVag(Sine(28 * 40, 0.1), {5, 30, false, true, std::nullopt}), 7, 0x5A);
    vab.sample(testkit::MakeVag(Sine(28 * 20, 0.3)));
    vab.sample(testkit::MakeVag(Sine(28 * 10, 0.7), {2, std::nullopt, true, true, std::nullopt}));

    testkit::TempFolder folder;
    const std::string dls = WriteDls(folder, vab, "title");
    const testkit::ShellRun run = testkit::Shell("/usr/bin/dlsdump '" + dls + "'");
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string expected = R"(File Name: "title_ 0.dls"
ALL Available Samples (as there might be more than referenced by Instruments):
    Sample 1) "wavetitle_00", 44100Hz, 1 Channels
    Sample 2) "wavetitle_01", 44100Hz, 1 Channels
    Sample 3) "wavetitle_02", 44100Hz, 1 Channels

Available Instruments:
    Instrument 1) "insttitle",  MIDIBank=1, MIDIProgram=0
        Region 1) Sample: "wavetitle_00", 44100Hz, KeyRange=0-59, VelocityRange=0-127, Layer=0
            Loops=1
        Region 2) Sample: "wavetitle_01", 44100Hz, KeyRange=60-127, VelocityRange=0-127, Layer=0
            Loops=0
    Instrument 2) "insttitle",  MIDIBank=1, MIDIProgram=9
        Region 1) Sample: "wavetitle_02", 44100Hz, KeyRange=36-36, VelocityRange=0-127, Layer=0
            Loops=1
    Instrument 3) "insttitle",  MIDIBank=1, MIDIProgram=40
)";
    EXPECT_EQ(run.out, expected);
}

TEST(IndependentReader, RifftreeAgreesOnEveryChunkAndSize) {
    if (!HaveTool("/usr/bin/rifftree")) {
        GTEST_SKIP() << "rifftree (gigtools) is not installed";
    }
    testkit::VabTone tone = testkit::Tone(1);
    testkit::VabBuilder vab;
    vab.program(3, testkit::Program({tone, testkit::Tone(2)})).vagCount(3);
    vab.sample(testkit::MakeVag(Sine(28 * 9, 0.2), {1, 4, false, true, std::nullopt}))
        .sample(testkit::MakeVag(Sine(28 * 3, 0.5)));
    testkit::TempFolder folder;
    // Three samples announced, two present: a partial collection must still be well formed.
    const std::string dls = WriteDls(folder, vab, "ゲーム音楽", ConvertResult::PartlyDone);
    const testkit::ShellRun run = testkit::Shell("/usr/bin/rifftree -s '" + dls + "'");
    ASSERT_EQ(run.status, 0) << run.out;

    // rifftree lines: "id; (n Bytes)" for chunks, "LIST(type)-> (n Bytes)" for lists, whose
    // n leaves out the 4-byte list type that the size field counts.
    std::vector<std::string> theirs;
    const std::regex line(R"(^\s*(?:(RIFF|LIST)\((.{4})\)->|(.{4});)\s*\((\d+) Bytes\))");
    std::istringstream in(run.out);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            theirs.push_back(m[1].matched ? m[1].str() + "(" + m[2].str() + ") " + m[4].str()
                                          : m[3].str() + " " + m[4].str());
        }
    }
    std::vector<std::string> ours;
    const Bytes file = testkit::ReadFile(dls);
    const Node root = ParseRiff(file);
    auto fourcc = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::function<void(const Node&)> walk = [&](const Node& n) {
        if (n.isList) {
            ours.push_back(fourcc(n.id) + "(" + fourcc(n.type) + ") " +
                           std::to_string(U32At(file, n.offset + 4) - 4));
            for (const Node& k : n.kids) {
                walk(k);
            }
        } else {
            ours.push_back(fourcc(n.id) + " " + std::to_string(n.data.size()));
        }
    };
    walk(root);
    EXPECT_EQ(theirs, ours) << run.out;
    EXPECT_GT(ours.size(), 40u);
}

} // namespace
} // namespace sonvex
