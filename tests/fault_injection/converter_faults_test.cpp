// SPDX-License-Identifier: GPL-3.0-or-later
// The sequence and bank converters and the batch driver under every file fault: each
// create, open and rename failing in turn, and writes failing after every byte count.
// What the user sees:
//   "pQES" converter:  game file not opened: message 05; output not created or written: 06
//   "SSsq" converter:  game file: 17; output: 18
//   bank converter:    VH not opened: 11; VB: 12; output not created or written: 13
//   batch driver:      list not opened: 01; otherwise the converter's message, the run
//                      ends, and the closing status counts only the files on disk
// and no output is left behind that a clean run would not have written byte for byte.
#include <gtest/gtest.h>

#include <cstdio>

#include "bank2dls/vab_converter.h"
#include "convert/batch_conversion.h"
#include "platform/guid.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"
#include "testkit/convert_list_builder.h"
#include "testkit/hostile_inputs.h"
#include "testkit/seq_builder.h"
#include "tests/support/fault_plan.h"

namespace sonvex::faults {
namespace {

using testkit::ConvertListBuilder;

Guid FixedGuid() {
    const uint8_t bytes[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
    return Guid::FromBytes(bytes);
}

Outcome FromSequence(const SeqConversion& c) {
    Outcome o;
    o.success = c.result == ConvertResult::Done;
    o.filesClaimed = c.smfFilesMade;
    o.detail = "result " + std::to_string(ToCode(c.result)) + ", " +
               std::to_string(c.smfFilesMade) + " SMF";
    return o;
}

Outcome FromBank(ConvertResult r) {
    Outcome o;
    o.success = r == ConvertResult::Done || r == ConvertResult::PartlyDone;
    o.filesClaimed = o.success ? 1 : 0;
    o.detail = "result " + std::to_string(ToCode(r));
    return o;
}

// An older output under the name a run writes: the run replaces it, and a failed run
// must not leave it half overwritten.
void PutOlder(FileSystem& fs, const std::string& path) {
    PutFile(fs, path, testkit::Bytes(70, 0xEE));
}

TEST(ConverterFaults, SingleSequence) {
    MemoryFileSystem memory;
    Component seq;
    seq.name = "ConvertSeq, single sequence";
    seq.prepare = [](FileSystem& fs) {
        PutFile(fs, "/g/game.bin", testkit::SoundSingleSeq());
        PutOlder(fs, "/o/out.mid");
    };
    seq.run = [](Feedback& feedback) {
        return FromSequence(ConvertSeq(0, "/g/game.bin", "/o/out", feedback));
    };
    seq.shown = {{FaultKind::OpenRead, {MessageId::SeqInputOpenFailed}},
                 {FaultKind::Create, {MessageId::SeqOutputOpenFailed}},
                 {FaultKind::Write, {MessageId::SeqOutputOpenFailed}}};
    const MatrixTally tally = RunMatrix(memory, seq);
    EXPECT_EQ(tally.failed.at(FaultKind::Create), 1);
    EXPECT_EQ(tally.failed.at(FaultKind::OpenRead), 1);
    EXPECT_GT(tally.failed.at(FaultKind::Write), 100);
    std::printf("%s\n", tally.Summary(seq.name).c_str());
}

TEST(ConverterFaults, NumberedSetKeepsTheSequencesCompletedBeforeTheFault) {
    MemoryFileSystem memory;
    Component set;
    set.name = "ConvertSeq, numbered set of three";
    set.prepare = [](FileSystem& fs) { PutFile(fs, "/g/game.bin", testkit::SoundSeqSet()); };
    set.run = [](Feedback& feedback) {
        return FromSequence(ConvertSeq(0, "/g/game.bin", "/o/set", feedback));
    };
    set.shown = {{FaultKind::OpenRead, {MessageId::SeqInputOpenFailed}},
                 {FaultKind::Create, {MessageId::SeqOutputOpenFailed}},
                 {FaultKind::Write, {MessageId::SeqOutputOpenFailed}}};
    const MatrixTally tally = RunMatrix(memory, set);
    // One create per sequence, each of them able to fail.
    EXPECT_EQ(tally.faulted.at(FaultKind::Create), 3);
    EXPECT_EQ(tally.failed.at(FaultKind::Create), 3);
    std::printf("%s\n", tally.Summary(set.name).c_str());
}

TEST(ConverterFaults, SsqSequence) {
    MemoryFileSystem memory;
    Component ssq;
    ssq.name = "ConvertSsq";
    ssq.prepare = [](FileSystem& fs) {
        PutFile(fs, "/g/game.bin", testkit::SoundSsqItem());
        PutOlder(fs, "/o/out.mid");
    };
    ssq.run = [](Feedback& feedback) {
        return FromSequence(
            ConvertSsq(testkit::kSsqMagicOffset, "/g/game.bin", "/o/out", feedback));
    };
    ssq.shown = {{FaultKind::OpenRead, {MessageId::SsqInputOpenFailed}},
                 {FaultKind::Create, {MessageId::SsqOutputOpenFailed}},
                 {FaultKind::Write, {MessageId::SsqOutputOpenFailed}}};
    const MatrixTally tally = RunMatrix(memory, ssq);
    EXPECT_EQ(tally.failed.at(FaultKind::Write), tally.faulted.at(FaultKind::Write));
    std::printf("%s\n", tally.Summary(ssq.name).c_str());
}

TEST(ConverterFaults, BankConversion) {
    MemoryFileSystem memory;
    Component bank;
    bank.name = "ConvertVabToDls";
    bank.prepare = [](FileSystem& fs) {
        PutFile(fs, "/g/bank.vh", testkit::SoundVh());
        PutFile(fs, "/g/bank.vb", testkit::SoundVb());
        PutOlder(fs, "/o/bank.dls");
    };
    bank.run = [](Feedback& feedback) {
        VabConvertOptions options;
        options.collectionId = FixedGuid();
        return FromBank(ConvertVabToDls(0, 0, "/g/bank.vh", "/g/bank.vb", "/o/bank.dls", "title",
                                        feedback, options)
                            .result);
    };
    bank.shown = {
        {FaultKind::OpenRead, {MessageId::BankHeaderOpenFailed, MessageId::BankBodyOpenFailed}},
        {FaultKind::Create, {MessageId::BankOutputOpenFailed}},
        {FaultKind::Write, {MessageId::BankOutputOpenFailed}}};
    const MatrixTally tally = RunMatrix(memory, bank, 300, 61);
    EXPECT_EQ(
        tally.messages.at(FaultKind::OpenRead),
        (std::set<MessageId>{MessageId::BankHeaderOpenFailed, MessageId::BankBodyOpenFailed}));
    std::printf("%s\n", tally.Summary(bank.name).c_str());
}

// The real converters, with the collection id fixed so that DLS bytes repeat.
Converters FixedConverters() {
    Converters c = StandardConverters();
    c.vab = [](uint64_t vh, uint64_t vb, const std::string& vhPath, const std::string& vbPath,
               const std::string& dlsPath, std::string_view title, Feedback& feedback) {
        VabConvertOptions options;
        options.collectionId = FixedGuid();
        return ConvertVabToDls(vh, vb, vhPath, vbPath, dlsPath, title, feedback, options).result;
    };
    return c;
}

TEST(ConverterFaults, BatchRunEndsAtTheFaultAndCountsOnlyCompleteFiles) {
    // A game file holding a single sequence, a numbered set, an "SSsq" item and a bank.
    const testkit::Bytes single = testkit::SoundSingleSeq();
    const testkit::Bytes set = testkit::SoundSeqSet();
    const testkit::Bytes ssq = testkit::SoundSsqItem();
    const testkit::Bytes vh = testkit::SoundVh();
    const testkit::Bytes vb = testkit::SoundVb();
    testkit::Bytes game;
    auto place = [&game](const testkit::Bytes& item) {
        const uint64_t at = game.size();
        game.insert(game.end(), item.begin(), item.end());
        game.insert(game.end(), 32, 0x11);
        return at;
    };
    const uint64_t singleAt = place(single);
    const uint64_t setAt = place(set);
    const uint64_t ssqAt = place(ssq) + testkit::kSsqMagicOffset;
    const uint64_t vhAt = place(vh);
    const uint64_t vbAt = place(vb);
    const testkit::Bytes list = ConvertListBuilder()
                                    .folder("/g")
                                    .entry(kTypeSeq, 0, singleAt, "game.bin")
                                    .entry(kTypeSeq, 1, setAt, "game.bin")
                                    .entry(kTypeGpmSeq, 2, ssqAt, "game.bin")
                                    .entry(kTypeVh, 0, vhAt, "game.bin")
                                    .entry(kTypeVb, 0, vbAt, "game.bin")
                                    .build();

    MemoryFileSystem memory;
    Component batch;
    batch.name = "RunConversion";
    batch.prepare = [&](FileSystem& fs) {
        PutFile(fs, "/g/game.bin", game);
        PutFile(fs, "/l/rip.clg", list);
    };
    RecordingFeedback* last = nullptr;
    ConversionRunResult lastRun;
    batch.run = [&](Feedback& feedback) {
        last = dynamic_cast<RecordingFeedback*>(&feedback);
        const ConversionRunResult r =
            RunConversion("/l/rip.clg", "/o", "rip", feedback, FixedConverters());
        lastRun = r;
        Outcome o;
        o.success = r.ran && !r.endedEarly;
        o.filesClaimed = r.ran ? r.filesMade : 0;
        o.detail = std::to_string(r.filesMade) + " files" + (r.endedEarly ? ", ended early" : "");
        return o;
    };
    batch.shown = {
        {FaultKind::OpenRead,
         {MessageId::ListOpenFailed, MessageId::SeqInputOpenFailed, MessageId::BankHeaderOpenFailed,
          MessageId::BankBodyOpenFailed, MessageId::SsqInputOpenFailed}},
        {FaultKind::Create,
         {MessageId::SeqOutputOpenFailed, MessageId::BankOutputOpenFailed,
          MessageId::SsqOutputOpenFailed}},
        {FaultKind::Write,
         {MessageId::SeqOutputOpenFailed, MessageId::BankOutputOpenFailed,
          MessageId::SsqOutputOpenFailed}}};
    // A run that started ends with progress 100 and the closing status of the files made;
    // every message names the file it is about, and the item the fault stopped is reported
    // with the message it showed.
    batch.check = [&](FileSystem&, const Outcome& o) -> std::string {
        if (last == nullptr) {
            return "";
        }
        for (const std::string& subject : last->MessageSubjects()) {
            if (subject.empty()) {
                return "a message names no file";
            }
        }
        if (lastRun.endedEarly &&
            (lastRun.failures.empty() || lastRun.failures.back().reason.empty() ||
             lastRun.failures.back().messageNumber == 0)) {
            return "the run ended without the failed item, its reason and its message";
        }
        if (!lastRun.endedEarly && !lastRun.failures.empty()) {
            return "an item failed although the run went through";
        }
        if (o.filesClaimed < 0 || last->StatusTexts().empty()) {
            return "";
        }
        char closing[64];
        std::snprintf(closing, sizeof closing, "終了 作製ﾌｧｲﾙ数 %2d", o.filesClaimed);
        if (last->StatusTexts().back() != closing) {
            return "closing status \"" + last->StatusTexts().back() + "\", expected \"" + closing +
                   "\"";
        }
        if (last->ProgressValues().empty() || last->ProgressValues().back() != 100) {
            return "progress does not end at 100";
        }
        return "";
    };
    const MatrixTally tally = RunMatrix(memory, batch, 200, 211);
    // Outputs: single, three of the set, SSsq, DLS.
    EXPECT_EQ(tally.faulted.at(FaultKind::Create), 6);
    std::printf("%s\n", tally.Summary(batch.name).c_str());
}

} // namespace
} // namespace sonvex::faults
