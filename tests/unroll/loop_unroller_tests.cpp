// SPDX-License-Identifier: GPL-3.0-or-later
// The loop unroller on songs built with testkit: the events of counted and endless loops
// pass by pass (state restored at each repeat, notes cut at the loop end and restarted
// after the loop start, the fade), the length for every kind of count, format 1, and
// inputs it must refuse without crashing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/hostile_inputs.h"
#include "testkit/smf_builder.h"
#include "unroll/loop_unroller.h"

namespace sonvex {
namespace {

using testkit::Bytes;
using testkit::SmfBuilder;

// One line per event, "tick: HEX ...", so that a failure shows where the output differs.
std::string Dump(const std::vector<UnrolledEvent>& track) {
    std::ostringstream out;
    for (const UnrolledEvent& e : track) {
        out << e.tick << ":";
        for (uint8_t b : e.bytes) {
            static const char* kHex = "0123456789ABCDEF";
            out << ' ' << kHex[b >> 4] << kHex[b & 15];
        }
        out << '\n';
    }
    return out.str();
}

UnrolledSmf Unroll(const Bytes& song, UnrollOptions options, UnrollSummary* summary = nullptr) {
    UnrolledSmf out;
    const UnrollResult r = UnrollSmf(song, options, out);
    EXPECT_EQ(r.status, UnrollStatus::Ok) << r.diagnostics.failure;
    if (summary) {
        *summary = r.summary;
    }
    return out;
}

// Division 96 at 120 beats per minute: 96 ticks are half a second. A note held across the
// loop start (S = 96), program, volume, tempo and bend changed inside the loop, a note
// held across the loop end (E = 192), the song ending at 240.
Bytes CountedSong(const char* count) {
    return SmfBuilder(96)
        .tempo(0, 500000)
        .program(0, 0, 5)
        .control(0, 0, 7, 100)
        .noteOn(0, 0, 60, 100)
        .text(96, count)
        .marker(0, "Loop_Start")
        .program(24, 0, 9)
        .control(0, 0, 7, 80)
        .tempo(0, 250000)
        .bend(0, 0, 0x3000)
        .noteOff(30, 0, 60)
        .noteOn(10, 0, 64, 90)
        .marker(32, "Loop_End")
        .noteOff(18, 0, 64)
        .endOfTrack(30)
        .build();
}

TEST(LoopUnroller, CountedLoopRestoresTheLoopStartAtEveryRepeat) {
    UnrollSummary summary;
    const UnrolledSmf out = Unroll(CountedSong("003"), {}, &summary);
    ASSERT_EQ(out.tracks.size(), 1u);
    // At each repeat: the note sounding at the loop end stops, the loop start's tempo,
    // program, volume and (never set, so centred) bend return, the note held across the
    // loop start sounds again. After the third pass the song plays on to its end.
    const std::string repeatAt192 = "192: 80 40 40\n"
                                    "192: FF 51 03 07 A1 20\n"
                                    "192: C0 05\n"
                                    "192: B0 07 64\n"
                                    "192: E0 00 40\n"
                                    "192: 90 3C 64\n";
    const std::string pass = "+120: C0 09\n"
                             "+120: B0 07 50\n"
                             "+120: FF 51 03 03 D0 90\n"
                             "+120: E0 00 60\n"
                             "+150: 80 3C 40\n"
                             "+160: 90 40 5A\n";
    auto shifted = [](std::string text, uint64_t by) {
        std::string result;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const size_t colon = line.find(':');
            uint64_t tick = std::stoull(line.substr(line[0] == '+' ? 1 : 0, colon));
            if (line[0] == '+') {
                tick += by;
            } else {
                tick = tick - 192 + by;
            }
            result += std::to_string(tick) + line.substr(colon) + "\n";
        }
        return result;
    };
    const std::string expected = "0: FF 51 03 07 A1 20\n"
                                 "0: C0 05\n"
                                 "0: B0 07 64\n"
                                 "0: 90 3C 64\n" +
                                 shifted(pass, 0) + shifted(repeatAt192, 192) + shifted(pass, 96) +
                                 shifted(repeatAt192, 288) + shifted(pass, 192) +
                                 "402: 80 40 40\n"
                                 "432: FF 2F 00\n";
    EXPECT_EQ(Dump(out.tracks[0]), expected);
    EXPECT_EQ(summary.loop, UnrolledLoop::Counted);
    EXPECT_EQ(summary.passes, 3u);
    EXPECT_EQ(summary.loopStart, 96u);
    EXPECT_EQ(summary.loopEnd, 192u);
    EXPECT_EQ(summary.songLength, 240u);
    EXPECT_EQ(summary.length, 240u + 96u * 2);
    EXPECT_EQ(summary.events, out.tracks[0].size());
    EXPECT_EQ(out.format, 0);
    EXPECT_EQ(out.division, 96);
}

// Length in ticks for every kind of count: song length + loop length × (passes − 1).
TEST(LoopUnroller, LengthFollowsTheCountAsThePlayerReadsIt) {
    struct Case {
        const char* name;
        const char* count; // nullptr: no count text
        bool loopEnd;
        uint64_t length;
        UnrolledLoop loop;
    };
    const Case cases[] = {
        {"no count", nullptr, true, 240, UnrolledLoop::None},
        {"count 0", "000", true, 240, UnrolledLoop::None},
        {"count 1", "001", true, 240, UnrolledLoop::None},
        {"count 2", "002", true, 240 + 96, UnrolledLoop::Counted},
        {"count 126", "126", true, 240 + 96 * 125, UnrolledLoop::Counted},
        // Without a loop end the loop is the whole song, as render plays it.
        {"count 2, no loop end", "002", false, 240 * 2, UnrolledLoop::Counted},
    };
    for (const Case& c : cases) {
        SmfBuilder song(96);
        song.noteOn(0, 0, 60, 100);
        if (c.count) {
            song.text(0, c.count);
        }
        song.marker(96, "loop_start").noteOff(10, 0, 60);
        if (c.loopEnd) {
            song.marker(86, "LOOP_END");
        }
        song.endOfTrack(c.loopEnd ? 48 : 134);
        UnrollSummary summary;
        const UnrolledSmf out = Unroll(song.build(), {}, &summary);
        EXPECT_EQ(summary.length, c.length) << c.name;
        EXPECT_EQ(summary.loop, c.loop) << c.name;
        ASSERT_FALSE(out.tracks.empty());
        EXPECT_EQ(out.tracks[0].back().tick, c.length) << c.name;
        // Neither the markers nor the count come through: the output has no loop.
        EXPECT_EQ(Dump(out.tracks[0]).find("FF 06"), std::string::npos) << c.name;
        EXPECT_EQ(Dump(out.tracks[0]).find("FF 01"), std::string::npos) << c.name;
    }
}

// Format 1: a conductor track with the loop and the count, a track of channel 1 whose
// expression the loop changes, a note across the loop start's repeat and one cut by the
// fade. Loop 96..288 is one second; two passes, then a fade of 1.5 s.
Bytes EndlessSong() {
    return SmfBuilder(96)
        .format(1)
        .trackCount(2)
        .tempo(0, 500000)
        .text(0, "127")
        .marker(96, "Loop_Start")
        .marker(192, "Loop_End")
        .endOfTrack(0)
        .nextTrack()
        .trackName(0, "strings")
        .program(0, 1, 3)
        .control(0, 1, 11, 100)
        .noteOn(96, 1, 48, 70)
        .noteOff(96, 1, 48)
        .control(8, 1, 11, 60)
        .noteOn(50, 1, 50, 80)
        .noteOff(30, 1, 50)
        .endOfTrack(8)
        .build();
}

TEST(LoopUnroller, EndlessLoopPlaysItsPassesThenFadesWhileLooping) {
    UnrollOptions options;
    options.loops = 2;
    options.fadeSeconds = 1.5;
    UnrollSummary summary;
    const UnrolledSmf out = Unroll(EndlessSong(), options, &summary);
    EXPECT_EQ(out.format, 1);
    ASSERT_EQ(out.tracks.size(), 2u);
    EXPECT_EQ(summary.loop, UnrolledLoop::Endless);
    EXPECT_EQ(summary.passes, 2u);
    EXPECT_EQ(summary.fadeStart, 288u + 192u);
    EXPECT_EQ(summary.fadeEnd, 480u + 288u); // 1.5 s: one pass and half of the next
    EXPECT_EQ(summary.fadePasses, 2u);
    EXPECT_EQ(summary.length, 768u);
    EXPECT_EQ(summary.events, out.tracks[0].size() + out.tracks[1].size());

    // The conductor keeps its tempo once and loses the loop's markers and count.
    EXPECT_EQ(Dump(out.tracks[0]), "0: FF 51 03 07 A1 20\n768: FF 2F 00\n");

    const std::vector<UnrolledEvent>& strings = out.tracks[1];
    std::vector<uint64_t> noteOns;
    int lastExpression = -1;
    for (const UnrolledEvent& e : strings) {
        const std::vector<uint8_t>& b = e.bytes;
        if (b[0] == 0x91 && b[2] > 0) {
            noteOns.push_back(e.tick);
        }
        if (b[0] == 0xB1 && b[1] == 11) {
            lastExpression = b[2];
            if (e.tick >= summary.fadeStart) {
                // Never above the loop's loudest expression scaled by what is left of the
                // fade (the fade is 288 ticks long).
                const double left = 1.0 - static_cast<double>(e.tick - 480) / 288.0;
                EXPECT_LE(b[2], std::lround(100 * left) + 1) << "at tick " << e.tick;
            }
        }
    }
    // Note 48 starts every pass at the loop start: 96, 288, then 480 and 672 in the fade.
    // Note 50 at 250 and 442; in the fade at 634 only (826 is past the end).
    EXPECT_EQ(noteOns, (std::vector<uint64_t>{96, 250, 288, 442, 480, 634, 672}));
    EXPECT_EQ(lastExpression, 0);
    // The repeat inside the fade restores expression 100 scaled to a third of the fade left.
    bool restored = false;
    for (const UnrolledEvent& e : strings) {
        restored |= e.tick == 672 && e.bytes == std::vector<uint8_t>{0xB1, 11, 33};
    }
    EXPECT_TRUE(restored) << Dump(strings);
    // The end: note 48 (begun at 672) cut, all notes off, the end of track, nothing later.
    const size_t n = strings.size();
    ASSERT_GE(n, 3u);
    EXPECT_EQ(Dump({strings[n - 3], strings[n - 2], strings[n - 1]}),
              "768: 81 30 40\n768: B1 7B 00\n768: FF 2F 00\n");
}

TEST(LoopUnroller, EndlessLoopWithoutFadePlaysTheEndingAfterItsPasses) {
    UnrollOptions options;
    options.loops = 3;
    options.fadeSeconds = 0;
    UnrollSummary summary;
    const UnrolledSmf out = Unroll(EndlessSong(), options, &summary);
    EXPECT_EQ(summary.length, 288u + 192u * 2);
    EXPECT_EQ(summary.fadeEnd, 0u);
    ASSERT_EQ(out.tracks.size(), 2u);
    EXPECT_EQ(Dump(out.tracks[1]).find("B1 7B"), std::string::npos);
}

// A loop of the whole song (no loop end) from tick 0, a few ticks long at a fine division:
// the fade takes thousands of passes and must end one second after it began.
TEST(LoopUnroller, FadeOverManyShortPassesEndsOnTime) {
    const Bytes song = SmfBuilder(19567)
                           .format(1)
                           .tempo(0, 500000)
                           .text(0, "127")
                           .control(0, 0, 121, 0)
                           .endOfTrack(10)
                           .build();
    UnrollOptions options;
    options.fadeSeconds = 1.0;
    UnrollSummary summary;
    const UnrolledSmf out = Unroll(song, options, &summary);
    EXPECT_EQ(summary.loopStart, 0u);
    EXPECT_EQ(summary.loopEnd, 10u);
    EXPECT_EQ(summary.fadeStart, 20u);
    EXPECT_NEAR(static_cast<double>(summary.fadeEnd - summary.fadeStart), 2 * 19567.0, 1.0);
    ASSERT_EQ(out.tracks.size(), 1u);
    EXPECT_EQ(out.tracks[0].back().tick, summary.fadeEnd);
}

TEST(LoopUnroller, RefusesWhatItCannotUnrollAndSaysWhy) {
    struct Case {
        const char* name;
        Bytes song;
        UnrollOptions options;
        UnrollStatus status;
        const char* says;
    };
    UnrollOptions noLoops;
    noLoops.loops = 0;
    UnrollOptions tooManyLoops;
    tooManyLoops.loops = kMaxUnrollLoops + 1;
    UnrollOptions badFade;
    badFade.fadeSeconds = std::numeric_limits<double>::quiet_NaN();
    // A loop of one tick at a microsecond per quarter note: a fade of 10 s would need
    // billions of passes.
    const Bytes fastLoop = SmfBuilder(96)
                               .tempo(0, 1)
                               .text(0, "127")
                               .marker(0, "Loop_Start")
                               .noteOn(0, 0, 60, 1)
                               .marker(1, "Loop_End")
                               .endOfTrack(0)
                               .build();
    const Case cases[] = {
        {"not an SMF", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, {}, UnrollStatus::NotSmf, ""},
        {"format 2",
         SmfBuilder(96).format(2).endOfTrack(0).build(),
         {},
         UnrollStatus::Unsupported,
         "format 2"},
        {"division 0",
         SmfBuilder(0).noteOn(0, 0, 1, 1).endOfTrack(0).build(),
         {},
         UnrollStatus::Malformed,
         "division 0"},
        {"loops 0", CountedSong("127"), noLoops, UnrollStatus::Unsupported, "loops"},
        {"loops too many", CountedSong("127"), tooManyLoops, UnrollStatus::Unsupported, "loops"},
        {"fade not a number", CountedSong("127"), badFade, UnrollStatus::Unsupported, "fade"},
        {"fade of too many passes", fastLoop, {}, UnrollStatus::TooLong, "passes"},
        {"too long",
         SmfBuilder(96).noteOn(0x0FFFFFFF, 0, 1, 1).endOfTrack(0x0FFFFFFF).build(),
         {},
         UnrollStatus::TooLong,
         "longer than"},
    };
    for (const Case& c : cases) {
        UnrolledSmf out;
        const UnrollResult r = UnrollSmf(c.song, c.options, out);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.diagnostics.failure;
        EXPECT_FALSE(r.diagnostics.failure.empty()) << c.name;
        EXPECT_NE(r.diagnostics.failure.find(c.says), std::string::npos)
            << c.name << ": " << r.diagnostics.failure;
        EXPECT_TRUE(out.tracks.empty()) << c.name;
    }
}

// Cut-off and damaged files: each either unrolls into well-formed tracks or fails with a
// reason; none may crash (the sanitizer build checks the rest).
TEST(LoopUnroller, DamagedFilesUnrollOrFailWithAReason) {
    std::vector<testkit::HostileInput> inputs = testkit::HostileSmfs();
    for (testkit::HostileInput& cut : testkit::EveryTruncation("counted", CountedSong("002"))) {
        inputs.push_back(std::move(cut));
    }
    for (const testkit::HostileInput& input : inputs) {
        UnrolledSmf out;
        const UnrollResult r = UnrollSmf(input.bytes, {}, out);
        if (r.status != UnrollStatus::Ok) {
            EXPECT_FALSE(r.diagnostics.failure.empty()) << input.name;
            continue;
        }
        for (const std::vector<UnrolledEvent>& track : out.tracks) {
            ASSERT_FALSE(track.empty()) << input.name;
            EXPECT_EQ(track.back().bytes, (std::vector<uint8_t>{0xFF, 0x2F, 0x00})) << input.name;
            EXPECT_EQ(track.back().tick, r.summary.length) << input.name;
            for (size_t i = 1; i < track.size(); ++i) {
                EXPECT_LE(track[i - 1].tick, track[i].tick) << input.name;
            }
        }
    }
}

TEST(LoopUnroller, UnrolledNameSitsBesideTheSmf) {
    EXPECT_EQ(UnrolledPath("/out/DISC_001.mid"), "/out/DISC_001.unrolled.mid");
    EXPECT_EQ(UnrolledPath("song"), "song.unrolled.mid");
    EXPECT_EQ(UnrolledPath("/a.b/song"), "/a.b/song.unrolled.mid");
}

} // namespace
} // namespace sonvex
