// Files written by both converters, read by an independent MIDI reader (Python's mido,
// test-only) and by the testkit reader: both must see the same header and the same
// events at the same ticks.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/seq_builder.h"
#include "testkit/smf_reader.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::NumberedSeq;
using testkit::SeqTiming;
using testkit::SeqTrack;

constexpr const char* kPython = "/usr/bin/python3";

// Prints, per file: "HDR type tracks division", then "tick HEX..." per message, meta
// events as FF, type and data without the length.
constexpr const char* kDumpScript = R"PY(
import sys, mido
for path in sys.argv[1:]:
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

std::string RunDump(const std::string& scriptPath, const std::string& smfPath) {
    const std::string command = std::string(kPython) + " '" + scriptPath + "' '" + smfPath + "' 2>&1";
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

SeqTrack EveryKindOfEvent() {
    return SeqTrack()
        .program(0, 0, 1)
        .control(0, 0, 7, 100)
        .control(0, 0, 10, 64)
        .control(0, 0, 0, 3)
        .control(5, 0, 99, 20)
        .control(0, 0, 6, 2)
        .noteOn(0, 0, 60, 100)
        .running(96, {64, 90})
        .pitchBend(10, 0, 0, 0x50)
        .control(10, 0, 1, 30)
        .control(1, 0, 11, 127)
        .control(1, 0, 12, 1)
        .control(1, 0, 64, 127)
        .control(1, 0, 91, 40)
        .control(1, 0, 121, 0)
        .event(7, {0xA0})
        .event(8, {0xFF, 0x05, 0x01})
        .tempo(1, 450000)
        .noteOff(200, 0, 60)
        .control(3, 0, 99, 30)
        .control(3, 0, 99, 40)
        .control(3, 0, 98, 4)
        .control(3, 0, 99, 40)
        .program(0, 9, 0)
        .control(0x0FFFFFFF, 9, 70, 1)
        .noteOn(0x0FFFFFF0, 9, 36, 127)
        .endOfTrack(480);
}

TEST(IndependentReader, EveryWrittenFileParsesWithTheSameEvents) {
    if (!MidoAvailable()) {
        GTEST_SKIP() << "no mido for " << kPython;
    }
    testkit::TempFolder folder;
    const std::string script = folder / "dump.py";
    ASSERT_TRUE(testkit::WriteFile(script, Bytes(kDumpScript, kDumpScript + std::char_traits<char>::length(kDumpScript))));
    RecordingFeedback feedback;
    std::vector<std::string> outputs;

    // A single sequence with every kind of event, an odd track among them.
    ASSERT_TRUE(testkit::WriteFile(folder / "single.bin",
                                   testkit::BuildSingleSeq(SeqTiming{480, 500000, 3, 3}, EveryKindOfEvent())));
    ASSERT_EQ(ConvertSeq(0, folder / "single.bin", folder / "single", feedback).result, ConvertResult::Done);
    outputs.push_back(folder / "single.mid");
    ASSERT_TRUE(testkit::WriteFile(folder / "odd.bin",
                                   testkit::BuildSingleSeq(SeqTiming{96, 600000, 0, 0},
                                                           SeqTrack().program(0, 2, 9).endOfTrack(1))));
    ASSERT_EQ(ConvertSeq(0, folder / "odd.bin", folder / "odd", feedback).result, ConvertResult::Done);
    outputs.push_back(folder / "odd.mid");

    // A numbered set.
    const std::vector<NumberedSeq> set = {{0, SeqTiming{}, EveryKindOfEvent()},
                                          {1, SeqTiming{240, 700000, 6, 3}, SeqTrack().noteOn(1, 3, 1, 1).endOfTrack(2)}};
    ASSERT_TRUE(testkit::WriteFile(folder / "set.bin", testkit::BuildSeqSet(set).bytes));
    ASSERT_EQ(ConvertSeq(0, folder / "set.bin", folder / "set", feedback).result, ConvertResult::Done);
    outputs.push_back(folder / "set_00.mid");
    outputs.push_back(folder / "set_01.mid");

    // An "SSsq" item.
    ASSERT_TRUE(testkit::WriteFile(folder / "ssq.bin",
                                   testkit::BuildSsq(480, 120,
                                                     SeqTrack()
                                                         .program(0, 1, 2)
                                                         .pitchBend1(4, 1, 0x40)
                                                         .tempoBpm(5, 90)
                                                         .noteOn(6, 1, 70, 80)
                                                         .running(7, {70, 0})
                                                         .endOfTrack(8))));
    ASSERT_EQ(ConvertSsq(16, folder / "ssq.bin", folder / "ssq", feedback).result, ConvertResult::Done);
    outputs.push_back(folder / "ssq.mid");

    for (const std::string& path : outputs) {
        const std::string ours = OwnDump(testkit::ReadFile(path));
        const std::string theirs = RunDump(script, path);
        EXPECT_EQ(theirs, ours) << path;
        // Not vacuous: the dump holds the header and at least the preamble and an end.
        EXPECT_EQ(ours.rfind("HDR 0 1 ", 0), 0u) << ours;
        EXPECT_NE(ours.find(" FF 2F\n"), std::string::npos) << ours;
    }
}

} // namespace
} // namespace sonvex
