// SPDX-License-Identifier: GPL-3.0-or-later
// Unrolled files on disk: read back by an independent MIDI reader (Python's mido, test
// only) with the expected events and length in seconds; failures that leave nothing
// behind; and sonvex-cli's unroll command and rip --unroll-loops.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "chunkfile/file_system.h"
#include "formats/smf.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#include "testkit/shell_run.h"
#include "testkit/smf_builder.h"
#include "tests/support/program_run.h"
#include "unroll/loop_unroller.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::Shell;
using testkit::SmfBuilder;
using testkit::TempFolder;

bool MidoAvailable() {
    return Shell("/usr/bin/python3 -c 'import mido'").status == 0;
}

// mido's reading of a file: "type tracks division messages seconds", messages counted
// over all tracks, end-of-track events included.
std::string MidoSummary(const std::string& path) {
    const testkit::ShellRun r =
        Shell("/usr/bin/python3 -c \"import mido,sys; f=mido.MidiFile(sys.argv[1]); "
              "print(f.type, len(f.tracks), f.ticks_per_beat, sum(len(t) for t in f.tracks), "
              "'%.4f' % f.length)\" '" +
              path + "'");
    return r.status == 0 ? r.out : "mido failed: " + r.out;
}

std::string Expected(int type, size_t tracks, int division, size_t events, double seconds) {
    char text[128];
    std::snprintf(text, sizeof text, "%d %zu %d %zu %.4f\n", type, tracks, division, events,
                  seconds);
    return text;
}

// Division 96, 120 beats per minute throughout: 96 ticks are half a second. The loop is
// 96..288 (one second) and the song ends at 336 (1.75 s). Format 1 adds a track of notes
// on two channels, one of them held across the loop end.
Bytes Song(const char* count, uint16_t format) {
    SmfBuilder song(96);
    song.format(format).trackCount(format == 1 ? 2 : 1).tempo(0, 500000).text(0, count);
    song.marker(96, "Loop_Start").marker(192, "Loop_End").endOfTrack(48);
    if (format == 1) {
        song.nextTrack();
        song.program(0, 0, 1).control(0, 0, 11, 90).noteOn(0, 0, 60, 100).noteOff(200, 0, 60);
        song.program(0, 2, 7).noteOn(80, 2, 40, 90).noteOff(40, 2, 40).endOfTrack(16);
    }
    return song.build();
}

TEST(UnrollFile, MidoReadsTheExpectedEventsAndLength) {
    if (!MidoAvailable()) {
        GTEST_SKIP() << "python3-mido is not installed";
    }
    TempFolder dir;
    struct Case {
        const char* name;
        const char* count;
        double seconds;
    };
    UnrollOptions options;
    options.loops = 3;
    options.fadeSeconds = 2.5;
    const Case cases[] = {
        // The song, and the loop three more times.
        {"counted", "004", 1.75 + 1.0 * 3},
        // Up to the loop end, the loop twice more, the fade (what follows the loop end is
        // not heard, as in render).
        {"endless", "127", 1.5 + 1.0 * 2 + 2.5},
    };
    for (const Case& c : cases) {
        const std::string in = dir / (std::string(c.name) + ".mid");
        ASSERT_TRUE(testkit::WriteFile(in, Song(c.count, 1)));
        const std::string out = UnrolledPath(in);
        const UnrollResult r = UnrollSmfFile(in, out, options);
        ASSERT_EQ(r.status, UnrollStatus::Ok) << r.diagnostics.failure;
        EXPECT_EQ(MidoSummary(out), Expected(1, 2, 96, r.summary.events, c.seconds)) << c.name;
        EXPECT_FALSE(fs::exists(out + ".tmp"));

        // Our own reader sees the same events as the unroller wrote, in every track.
        const Bytes bytes = testkit::ReadFile(out);
        const SmfRead back = ReadSmf(bytes, SmfDialect::Player);
        ASSERT_EQ(back.status, SmfReadStatus::Ok);
        EXPECT_TRUE(back.diagnostics.notes.empty()) << back.diagnostics.notes.front();
        size_t events = 0;
        for (const SmfTrack& t : back.smf.tracks) {
            EXPECT_TRUE(t.ended);
            events += t.events.size();
        }
        EXPECT_EQ(events, r.summary.events) << c.name;
    }
    // Format 0 stays format 0, and a song without events between its markers still loops.
    const std::string in = dir / "plain.mid";
    ASSERT_TRUE(testkit::WriteFile(in, Song("003", 0)));
    const UnrollResult r = UnrollSmfFile(in, dir / "plain.out.mid", options);
    ASSERT_EQ(r.status, UnrollStatus::Ok) << r.diagnostics.failure;
    EXPECT_EQ(MidoSummary(dir / "plain.out.mid"), Expected(0, 1, 96, 2, 1.75 + 1.0 * 2));
}

TEST(UnrollFile, FailuresNameTheFileAndLeaveNothingBehind) {
    TempFolder dir;
    const std::string in = dir / "song.mid";
    ASSERT_TRUE(testkit::WriteFile(in, Song("002", 1)));

    UnrollResult r = UnrollSmfFile(dir / "missing.mid", dir / "x.mid", {});
    EXPECT_EQ(r.status, UnrollStatus::ReadFailed);
    EXPECT_NE(r.diagnostics.failure.find("missing.mid"), std::string::npos);

    ASSERT_TRUE(testkit::WriteFile(dir / "text.mid", {'h', 'e', 'l', 'l', 'o'}));
    r = UnrollSmfFile(dir / "text.mid", dir / "x.mid", {});
    EXPECT_EQ(r.status, UnrollStatus::NotSmf);
    EXPECT_EQ(r.diagnostics.failure.rfind(dir / "text.mid: ", 0), 0u) << r.diagnostics.failure;

    r = UnrollSmfFile(in, dir / "no/such/folder/x.mid", {});
    EXPECT_EQ(r.status, UnrollStatus::WriteFailed);
    EXPECT_NE(r.diagnostics.failure.find("no/such/folder/x.mid"), std::string::npos);

    // A rename that fails and a write that fails halfway: no output, no temporary file,
    // and an output of that name from before is kept.
    ASSERT_TRUE(testkit::WriteFile(dir / "old.mid", {1, 2, 3}));
    PosixFileSystem disk;
    FaultInjectingFileSystem faults(disk);
    ScopedFileSystem guard(faults);
    faults.FailRename(true);
    r = UnrollSmfFile(in, dir / "old.mid", {});
    EXPECT_EQ(r.status, UnrollStatus::WriteFailed);
    faults.Clear();
    faults.FailWritesAfter(40);
    r = UnrollSmfFile(in, dir / "old.mid", {});
    EXPECT_EQ(r.status, UnrollStatus::WriteFailed);
    faults.Clear();
    EXPECT_EQ(testkit::ReadFile(dir / "old.mid"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fs::exists(dir / "old.mid.tmp"));
}

TEST(UnrollFile, CommandLineUnrollsOneFileOrEveryConvertedOne) {
    const std::string cli = testsupport::BuiltProgram("cli/sonvex-cli");
    if (!fs::exists(cli)) {
        GTEST_SKIP() << "sonvex-cli not built at " << cli;
    }
    TempFolder dir;
    ASSERT_TRUE(testkit::WriteFile(dir / "song.mid", Song("127", 1)));
    testsupport::ProcessRun r = testsupport::RunProgram(
        cli, {"unroll", "song.mid", "--loops", "3", "--fade", "1"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("song.unrolled.mid: endless loop, 3 pass(es)"), std::string::npos)
        << r.out;
    ASSERT_TRUE(fs::exists(dir / "song.unrolled.mid"));
    if (MidoAvailable()) {
        const std::string summary = MidoSummary(dir / "song.unrolled.mid");
        EXPECT_NE(summary.find(" 4.5000"), std::string::npos) << summary; // 1.5 + 2 + 1
    }

    r = testsupport::RunProgram(cli, {"unroll", "song.mid", "-o", "gone/x.mid"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("gone/x.mid"), std::string::npos) << r.err;
    r = testsupport::RunProgram(cli, {"unroll", "song.mid", "--loops", "0"}, dir.path());
    EXPECT_NE(r.status, 0);
    r = testsupport::RunProgram(cli, {"unroll", "--help"}, dir.path());
    EXPECT_NE(r.out.find("127 or more loops without end"), std::string::npos) << r.out;

    testkit::GameImage image(31);
    image.Noise(300).Seq(6).Zeros(64).SeqSet(2, 4).Noise(200);
    ASSERT_TRUE(testkit::WriteFile(dir / "DISC.BIN", image.bytes()));
    r = testsupport::RunProgram(cli, {"rip", "DISC.BIN", "-o", "music", "--unroll-loops", "2"},
                                dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> smfs;
    std::set<std::string> unrolled;
    for (const auto& e : fs::directory_iterator(dir / "music")) {
        const std::string name = e.path().filename().string();
        if (name.size() > 13 && name.substr(name.size() - 13) == ".unrolled.mid") {
            unrolled.insert(name.substr(0, name.size() - 13));
        } else if (e.path().extension() == ".mid") {
            smfs.insert(e.path().stem().string());
        }
    }
    EXPECT_EQ(smfs.size(), 3u);
    EXPECT_EQ(unrolled, smfs);
}

} // namespace
} // namespace sonvex
