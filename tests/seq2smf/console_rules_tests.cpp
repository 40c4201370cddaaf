// SPDX-License-Identifier: GPL-3.0-or-later
// The extended rules against the classic ones on the same sequences: default programs
// for channels that play before choosing one, and which controller gives the loop count.
#include <gtest/gtest.h>

#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "smf_golden.h"
#include "testkit/seq_builder.h"

namespace sonvex {
namespace {

using testkit::ExpectedSmf;
using testkit::SeqTiming;
using testkit::SeqTrack;
using testkit::SmfTrackBytes;

class ConsoleRulesTest : public testkit::InMemoryConversion {
  protected:
    const SeqTiming timing{96, 500000, 4, 2};

    // Converts `track` as a "pQES" item under `rules` and compares with `expected`.
    void ExpectSeq(const SeqTrack& track, SmfRules rules, const SmfTrackBytes& expected) {
        fs.Put(kGame, testkit::BuildSingleSeq(timing, track));
        const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback, rules);
        ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
        EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(96, 500000, 4, 2, expected));
    }
};

// Bank select 0 with LSB 1 and program `channel`, all with delta 0 after the first.
SmfTrackBytes& DefaultProgram(SmfTrackBytes& t, uint32_t delta, int channel) {
    const auto control = static_cast<uint8_t>(0xB0 | channel);
    return t.ev(delta, {control, 0x00, 0x00})
        .ev(0, {control, 0x20, 0x01})
        .ev(0, {static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(channel)});
}

// Channel 2 never chooses a program; channel 5 chooses one after its first notes; channel
// 7 chooses one before its first note; channel 9 only ever sends note-ons of velocity 0.
SeqTrack MixedChannels() {
    return SeqTrack()
        .noteOn(3, 2, 60, 100)
        .noteOn(0, 9, 40, 0)
        .noteOn(2, 5, 64, 90)
        .running(4, {67, 90})
        .program(6, 5, 20)
        .program(1, 7, 33)
        .noteOn(0, 7, 70, 80)
        .noteOff(5, 2, 60)
        .noteOn(1, 2, 62, 100)
        .endOfTrack(8);
}

TEST_F(ConsoleRulesTest, ChannelsPlayingBeforeAProgramChangeGetTheirOwnNumber) {
    SmfTrackBytes extended;
    DefaultProgram(extended, 3, 2).ev(0, {0x92, 60, 100});
    extended.ev(0, {0x99, 40, 0}); // velocity 0 is a note-off: no program for it
    DefaultProgram(extended, 2, 5).ev(0, {0x95, 64, 90});
    extended.ev(4, {0x95, 67, 90})
        .ev(6, {0xC5, 20}) // the bank select stood before the default program
        .ev(1, {0xB7, 0x00, 0x00})
        .ev(0, {0xB7, 0x20, 0x01})
        .ev(0, {0xC7, 33})
        .ev(0, {0x97, 70, 80})
        .ev(5, {0x82, 60, 0x40})
        .ev(1, {0x92, 62, 100})
        .end(8);
    ExpectSeq(MixedChannels(), SmfRules::Extended, extended);
}

TEST_F(ConsoleRulesTest, ClassicRulesWriteNoDefaultPrograms) {
    ExpectSeq(MixedChannels(), SmfRules::Classic,
              SmfTrackBytes()
                  .ev(3, {0x92, 60, 100})
                  .ev(0, {0x99, 40, 0})
                  .ev(2, {0x95, 64, 90})
                  .ev(4, {0x95, 67, 90})
                  .ev(6, {0xB5, 0x00, 0x00})
                  .ev(0, {0xB5, 0x20, 0x01})
                  .ev(0, {0xC5, 20})
                  .ev(1, {0xB7, 0x00, 0x00})
                  .ev(0, {0xB7, 0x20, 0x01})
                  .ev(0, {0xC7, 33})
                  .ev(0, {0x97, 70, 80})
                  .ev(5, {0x82, 60, 0x40})
                  .ev(1, {0x92, 62, 100})
                  .end(8));
}

TEST_F(ConsoleRulesTest, DefaultProgramIsChosenAgainForEverySequenceOfASet) {
    testkit::NumberedSeq first{0, timing, SeqTrack().noteOn(1, 3, 60, 1).endOfTrack(0)};
    testkit::NumberedSeq second{1, timing, SeqTrack().noteOn(2, 3, 61, 1).endOfTrack(0)};
    fs.Put(kGame, testkit::BuildSeqSet({first, second}).bytes);
    const SeqConversion c = ConvertSeq(0, kGame, kStem, feedback, SmfRules::Extended);
    ASSERT_EQ(c.result, ConvertResult::Done) << c.diagnostics.failure;
    SmfTrackBytes one;
    DefaultProgram(one, 1, 3).ev(0, {0x93, 60, 1}).end(0);
    SmfTrackBytes two;
    DefaultProgram(two, 2, 3).ev(0, {0x93, 61, 1}).end(0);
    EXPECT_SAME_BYTES(Output("_00.mid"), ExpectedSmf(96, 500000, 4, 2, one));
    EXPECT_SAME_BYTES(Output("_01.mid"), ExpectedSmf(96, 500000, 4, 2, two));
}

TEST_F(ConsoleRulesTest, LoopCountComesOnlyFromDataEntryAfterTheLoopStart) {
    // Controller 98 after the loop start: a count under the classic rules, none now.
    const SeqTrack nrpnLsb = SeqTrack()
                                 .program(0, 0, 1)
                                 .control(2, 0, 99, 20)
                                 .control(3, 0, 98, 2)
                                 .control(4, 0, 99, 30)
                                 .endOfTrack(0);
    SmfTrackBytes head;
    head.ev(0, {0xB0, 0x00, 0x00}).ev(0, {0xB0, 0x20, 0x01}).ev(0, {0xC0, 1});
    ExpectSeq(nrpnLsb, SmfRules::Classic,
              SmfTrackBytes(head)
                  .marker(2, "Loop_Start")
                  .loopCount(3, "002")
                  .marker(4, "Loop_End")
                  .end(0));
    ExpectSeq(nrpnLsb, SmfRules::Extended,
              SmfTrackBytes(head).marker(2, "Loop_Start").marker(3 + 4, "Loop_End").end(0));
}

TEST_F(ConsoleRulesTest, BothRulesTakeTheCountFromDataEntryAndFromNinetyEightInAToggledLoop) {
    const struct {
        const char* what;
        SeqTrack track;
        SmfTrackBytes expected;
    } cases[] = {
        {"data entry after the loop start",
         SeqTrack()
             .control(2, 0, 99, 20)
             .control(3, 0, 6, 127)
             .control(1, 0, 98, 5)
             .control(4, 0, 99, 30)
             .endOfTrack(0),
         SmfTrackBytes()
             .marker(2, "Loop_Start")
             .loopCount(3, "127")
             .marker(1 + 4, "Loop_End")
             .end(0)},
        {"controller 98 inside a loop toggled by value 40",
         SeqTrack()
             .control(1, 0, 99, 40)
             .control(2, 0, 98, 3)
             .control(3, 0, 99, 40)
             .control(4, 0, 98, 4)
             .endOfTrack(0),
         SmfTrackBytes().marker(1, "Loop_Start").loopCount(2, "003").marker(3, "Loop_End").end(4)},
    };
    for (const auto& c : cases) {
        for (SmfRules rules : {SmfRules::Classic, SmfRules::Extended}) {
            SCOPED_TRACE(c.what);
            ExpectSeq(c.track, rules, c.expected);
        }
    }
}

TEST_F(ConsoleRulesTest, SsqItemsFollowTheSameRules) {
    const SeqTrack track =
        SeqTrack().noteOn(5, 4, 60, 100).control(1, 4, 99, 20).control(1, 4, 98, 2).endOfTrack(0);
    fs.Put(kGame, testkit::BuildSsq(96, 120, track));
    ASSERT_EQ(ConvertSsq(testkit::kSsqMagicOffset, kGame, kStem, feedback).result,
              ConvertResult::Done);
    SmfTrackBytes extended;
    DefaultProgram(extended, 5, 4).ev(0, {0x94, 60, 100}).marker(1, "Loop_Start").end(1);
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(96, 500000, 4, 2, extended));

    ASSERT_EQ(
        ConvertSsq(testkit::kSsqMagicOffset, kGame, kStem, feedback, SmfRules::Classic).result,
        ConvertResult::Done);
    EXPECT_SAME_BYTES(Output(".mid"), ExpectedSmf(96, 500000, 4, 2,
                                                  SmfTrackBytes()
                                                      .ev(5, {0x94, 60, 100})
                                                      .marker(1, "Loop_Start")
                                                      .loopCount(1, "002")
                                                      .end(0)));
}

} // namespace
} // namespace sonvex
