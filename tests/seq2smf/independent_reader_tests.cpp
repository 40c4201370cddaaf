// SPDX-License-Identifier: GPL-3.0-or-later
// Files written by both converters, read by an independent MIDI reader (Python's mido,
// test-only) and by the testkit reader: both must see the same header and the same
// events at the same ticks.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/seq_builder.h"
#include "testkit/smf_reader.h"

namespace sonvex {
namespace {

using testkit::Bytes;

constexpr const char* kPython = "/usr/bin/python3";

// Prints, per file: "FILE path", "HDR type tracks division", then "tick HEX..." per message, meta
// events as FF, type and data without the length.
constexpr const char* kDumpScript = R"PY(
import sys, mido
for path in sys.argv[1:]:
    print("FILE", path)
    mf = mido.MidiFile(path)
    print("HDR", mf.type, len(mf.tracks), mf.ticks_per_beat)
    for track in mf.tracks:
        tick = 0
        for msg in track:
            tick += msg.time
            b = list(msg.bytes())
            if msg.is_meta:
                i = 2
                while b[i] & 0x80:
                    i += 1
                b = b[:2] + b[i + 1:]
            print(tick, " ".join("%02X" % x for x in b))
)PY";

bool MidoAvailable() {
    const std::string command = std::string(kPython) + " -c 'import mido' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string RunDump(const std::string& scriptPath, const std::vector<std::string>& smfPaths) {
    std::string command = std::string(kPython) + " '" + scriptPath + "'";
    for (const std::string& path : smfPaths) {
        command += " '" + path + "'";
    }
    command += " 2>&1";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return "popen failed";
    }
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), n);
    }
    ::pclose(pipe);
    return output;
}

std::string OwnDump(const Bytes& file) {
    std::string error;
    const auto image = testkit::ReadSmf(file, error);
    if (!image) {
        return "testkit reader: " + error;
    }
    std::ostringstream out;
    out << "HDR " << image->format << " " << image->trackCount << " " << image->division << "\n";
    for (const testkit::SmfEvent& event : image->events) {
        out << event.tick;
        char hex[4];
        for (size_t i = 0; i < event.bytes.size(); ++i) {
            std::snprintf(hex, sizeof hex, "%02X", event.bytes[i]);
            out << " " << hex;
        }
        out << "\n";
    }
    return out.str();
}

TEST(IndependentReader, EveryWrittenFileParsesWithTheSameEvents) {
    if (!MidoAvailable()) {
        GTEST_SKIP() << "no mido for " << kPython;
    }
    testkit::TempFolder folder;
    const std::string script = folder / "dump.py";
    ASSERT_TRUE(testkit::WriteFile(
        script, Bytes(kDumpScript, kDumpScript + std::char_traits<char>::length(kDumpScript))));
    RecordingFeedback feedback;
    std::vector<std::string> outputs;

    // Every sample item: single sequences, numbered sets, "SSsq" items, with every kind
    // of event the converters write (odd tracks and "Delta Over" among them).
    int index = 0;
    auto convert = [&](const testkit::SampleItem& item, bool ssq) {
        const std::string stem = folder / ("item" + std::to_string(index++));
        ASSERT_TRUE(testkit::WriteFile(stem + ".bin", item.bytes));
        const SeqConversion c = ssq ? ConvertSsq(item.offset, stem + ".bin", stem, feedback)
                                    : ConvertSeq(item.offset, stem + ".bin", stem, feedback);
        ASSERT_EQ(c.result, ConvertResult::Done) << item.name << ": " << c.diagnostics.failure;
        for (const std::string& suffix :
             {std::string(".mid"), std::string("_00.mid"), std::string("_01.mid"),
              std::string("_02.mid"), std::string("_15.mid")}) {
            if (std::filesystem::exists(stem + suffix)) {
                outputs.push_back(stem + suffix);
            }
        }
    };
    for (const testkit::SampleItem& item : testkit::SampleSeqItems()) {
        convert(item, false);
    }
    for (const testkit::SampleItem& item : testkit::SampleSsqItems()) {
        convert(item, true);
    }
    ASSERT_EQ(outputs.size(), 16u);

    std::string ours;
    for (const std::string& path : outputs) {
        const std::string dump = OwnDump(testkit::ReadFile(path));
        // Not vacuous: each dump holds the header, the preamble and an end of track.
        EXPECT_EQ(dump.rfind("HDR 0 1 ", 0), 0u) << path << "\n" << dump;
        EXPECT_NE(dump.find(" FF 2F\n"), std::string::npos) << path << "\n" << dump;
        ours += "FILE " + path + "\n" + dump;
    }
    EXPECT_EQ(RunDump(script, outputs), ours);
}

} // namespace
} // namespace sonvex
