// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion beside the scan against the plain walk: the same files, bytes, feedback and
// results, each item converted once and before the walk, nothing left in staging.
#include "convert/conversion_pipeline.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <thread>

#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "tests/support/list_bytes.h"

namespace sonvex {
namespace {

namespace fs = std::filesystem;
using testkit::TempFolder;

// Converters whose answer depends on the item's offset only, writing small files, safe to
// call from several threads. Offsets ending in 1 make nothing; in 2 a numbered set of two;
// in 3 a file and a message; 9 ends the run (the input ends); banks at an offset ending
// in 4 convert in part.
struct OffsetConverters {
    std::atomic<int> calls{0};
    // Each conversion takes at least this long, so that a walk catches up with the workers.
    std::chrono::milliseconds pace{0};

    static bool Put(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
        return static_cast<bool>(out.flush());
    }

    Converters Make() {
        Converters c;
        auto sequence = [this](uint64_t offset, const std::string& game, const std::string& stem,
                               Feedback& feedback) {
            ++calls;
            std::this_thread::sleep_for(pace);
            const std::string text = std::to_string(offset) + " of " + game;
            switch (offset % 10) {
            case 1:
                return SequenceOutcome{ConvertResult::CannotConvert, 0, "nothing for " + stem};
            case 2:
                if (!Put(stem + "_00.mid", text) || !Put(stem + "_01.mid", text)) {
                    ShowNumberedMessage(feedback, MessageId::SeqOutputOpenFailed);
                    return SequenceOutcome{ConvertResult::OpenFailed, 0, "cannot create " + stem};
                }
                return SequenceOutcome{ConvertResult::Done, 2, {}};
            case 9:
                return SequenceOutcome{ConvertResult::InputEnded, 0, "cut short"};
            default:
                if (!Put(stem + ".mid", text)) {
                    ShowNumberedMessage(feedback, MessageId::SeqOutputOpenFailed);
                    return SequenceOutcome{ConvertResult::OpenFailed, 0,
                                           "cannot create " + stem + ".mid"};
                }
                if (offset % 10 == 3) {
                    ShowNumberedMessage(feedback, MessageId::SeqInputOpenFailed,
                                        {stem + ".mid", -1, "about " + stem});
                }
                return SequenceOutcome{ConvertResult::Done, 1, {}};
            }
        };
        c.seq = sequence;
        c.ssq = sequence;
        c.vab = [this](uint64_t vh, uint64_t vb, const std::string& vhPath, const std::string&,
                       const std::string& dls, std::string_view title, Feedback& feedback) {
            ++calls;
            std::this_thread::sleep_for(pace);
            if (!Put(dls, std::to_string(vh) + "+" + std::to_string(vb) + " " + vhPath + " " +
                              std::string(title))) {
                return BankOutcome{ConvertResult::OpenFailed, "cannot create " + dls};
            }
            if (vh % 10 == 4) {
                ShowNumberedMessage(feedback, MessageId::BankBodyOpenFailed);
                return BankOutcome{ConvertResult::PartlyDone};
            }
            return BankOutcome{ConvertResult::Done};
        };
        c.rules = RecognitionRules::Extended;
        return c;
    }
};

struct Item {
    uint32_t type;
    uint64_t offset;
    std::string file;
};

struct Outcome {
    ConversionRunResult result;
    std::vector<std::string> events; // feedback calls, the output folder written as OUT
    std::map<std::string, std::string> files;
    int callsBeforeWalk = 0;
    int calls = 0;
};

std::string Text(const testkit::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Neutral(std::string text, const std::string& folder) {
    for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder)) {
        text.replace(at, folder.size(), "OUT");
    }
    return text;
}

// Converts `items` into a fresh folder (after `prepare` has had it), with a pipeline of
// `threads` workers fed one game file at a time, or (threads 0) by the walk alone. With
// `drain`, every item is converted before the walk begins; otherwise the walk waits for
// the items as the workers finish them.
Outcome Convert(const std::vector<Item>& items, int threads,
                const std::function<void(const std::string&)>& prepare = {}, bool drain = true) {
    TempFolder dir;
    testkit::ByteBuilder list = test::ListHeader(static_cast<uint32_t>(items.size()), "/games");
    std::vector<std::vector<ListEntry>> byFile;
    int32_t number = 0;
    for (const Item& item : items) {
        test::ListEntryBytes(list, item.type, number, item.offset, item.file);
        ListEntry entry;
        entry.type = item.type;
        entry.number = number++;
        entry.offset = item.offset;
        entry.fileName = item.file;
        if (byFile.empty() || byFile.back().back().fileName != item.file) {
            byFile.emplace_back();
        }
        byFile.back().push_back(entry);
    }
    EXPECT_TRUE(testkit::WriteFile(dir / "rip.clg", list.take()));
    const std::string out = dir / "out";
    fs::create_directory(out);
    if (prepare) {
        prepare(out);
    }

    OffsetConverters converters;
    if (!drain) {
        converters.pace = std::chrono::milliseconds(5);
    }
    RecordingFeedback feedback;
    Outcome run;
    {
        std::optional<ConversionPipeline> pipeline;
        if (threads > 0) {
            // A queue of two makes the feeding wait for the workers now and then.
            pipeline.emplace(converters.Make(), out, threads, 2);
            EXPECT_TRUE(pipeline->active());
            pipeline->Begin("/games", "rip");
            for (const auto& entries : byFile) {
                pipeline->Add(entries);
            }
            if (drain) {
                pipeline->Drain();
            }
        }
        run.callsBeforeWalk = converters.calls;
        run.result = RunConversion(dir / "rip.clg", out, "rip", feedback, converters.Make(),
                                   pipeline ? &*pipeline : nullptr);
    }
    run.calls = converters.calls;
    for (const auto& e : feedback.events) {
        run.events.push_back(std::to_string(static_cast<int>(e.kind)) + " " + Neutral(e.text, out) +
                             " " + std::to_string(e.value) + " " + Neutral(e.subject, out));
    }
    for (const auto& e : fs::directory_iterator(out)) {
        run.files[e.path().filename().string()] =
            e.is_regular_file() ? Neutral(Text(testkit::ReadFile(e.path().string())), out) : "dir";
    }
    for (ItemFailure& f : run.result.failures) {
        f.reason = Neutral(f.reason, out);
    }
    return run;
}

void ExpectSame(const Outcome& walk, const Outcome& piped) {
    EXPECT_EQ(piped.files, walk.files);
    EXPECT_EQ(piped.events, walk.events);
    EXPECT_EQ(piped.result.filesMade, walk.result.filesMade);
    EXPECT_EQ(piped.result.itemsMade, walk.result.itemsMade);
    EXPECT_EQ(piped.result.itemsSkipped, walk.result.itemsSkipped);
    EXPECT_EQ(piped.result.endedEarly, walk.result.endedEarly);
    ASSERT_EQ(piped.result.failures.size(), walk.result.failures.size());
    for (size_t i = 0; i < walk.result.failures.size(); ++i) {
        EXPECT_EQ(piped.result.failures[i].reason, walk.result.failures[i].reason) << i;
        EXPECT_EQ(piped.result.failures[i].offset, walk.result.failures[i].offset) << i;
        EXPECT_EQ(piped.result.failures[i].messageNumber, walk.result.failures[i].messageNumber);
    }
}

TEST(ConversionPipeline, GivesTheWalksFilesFeedbackAndResultsConvertingEachItemOnceAhead) {
    // Three game files, outputs named and numbered per file; banks paired across the
    // boundary of two files' entries, a "VH" that a "VH" follows, a "VB" alone, items
    // that make nothing, sets, messages.
    const std::vector<Item> items = {
        {kTypeSeq, 100, "A.BIN"},   {kTypeSeq, 111, "A.BIN"},     {kTypeGpmSeq, 122, "A.BIN"},
        {kTypeVh, 134, "A.BIN"},    {kTypeVb, 140, "A.BIN"},      {kTypeKcetSeq, 150, "A.BIN"},
        {kTypeSeq, 163, "A.BIN"},   {kTypeVh, 170, "A.BIN"},      {kTypeVh, 200, "B.BIN"},
        {kTypeVb, 210, "B.BIN"},    {kTypeVb, 220, "B.BIN"},      {kTypeSeq, 232, "B.BIN"},
        {kTypeVh, 300, "BANK.VH"},  {kTypeVb, 0, "BANK.VB"},      {kTypeSeq, 401, "C/A.BIN"},
        {kTypeSeq, 410, "C/A.BIN"}, {kTypeGpmSeq, 423, "C/A.BIN"}};
    const Outcome walk = Convert(items, 0);
    ASSERT_TRUE(walk.result.ran);
    ASSERT_GT(walk.result.failures.size(), 1u);
    ASSERT_GT(walk.files.size(), 10u);
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        const Outcome piped = Convert(items, threads);
        ExpectSame(walk, piped);
        // Every convertible item was converted before the walk began, and not again.
        EXPECT_EQ(piped.callsBeforeWalk, walk.calls);
        EXPECT_EQ(piped.calls, walk.calls);
    }
    // The walk waiting for each item in turn while the workers still convert.
    const Outcome meeting = Convert(items, 2, {}, false);
    ExpectSame(walk, meeting);
    EXPECT_EQ(meeting.calls, walk.calls);
}

TEST(ConversionPipeline, ARunEndedByAnItemLeavesNothingOfTheItemsAfterIt) {
    const std::vector<Item> items = {{kTypeSeq, 100, "A.BIN"}, {kTypeSeq, 112, "A.BIN"},
                                     {kTypeSeq, 119, "A.BIN"}, {kTypeSeq, 120, "A.BIN"},
                                     {kTypeVh, 130, "B.BIN"},  {kTypeVb, 131, "B.BIN"}};
    const Outcome walk = Convert(items, 0);
    ASSERT_TRUE(walk.result.endedEarly);
    const Outcome piped = Convert(items, 2);
    ExpectSame(walk, piped);
    // Converted ahead, but neither delivered nor left in a staging folder.
    EXPECT_GT(piped.callsBeforeWalk, walk.calls);
    EXPECT_EQ(piped.files.size(), 3u); // the set of two and the first file
}

TEST(ConversionPipeline, AnOutputThatCannotTakeItsNameIsConvertedByTheWalkAsItWouldBe) {
    // A folder stands where the second sequence's file goes: the walk's converter meets it,
    // shows its message and ends the run; the staged file is not moved over it.
    const std::vector<Item> items = {
        {kTypeSeq, 100, "A.BIN"}, {kTypeSeq, 110, "A.BIN"}, {kTypeSeq, 120, "A.BIN"}};
    auto folderInTheWay = [](const std::string& out) {
        fs::create_directory(fs::path(out) / "rip_001.mid");
    };
    const Outcome walk = Convert(items, 0, folderInTheWay);
    ASSERT_TRUE(walk.result.endedEarly);
    ASSERT_EQ(walk.files.size(), 2u);
    EXPECT_EQ(walk.files.at("rip_001.mid"), "dir");
    const Outcome piped = Convert(items, 2, folderInTheWay);
    ExpectSame(walk, piped);
    // The second item was converted ahead and again by the walk.
    EXPECT_EQ(piped.calls, piped.callsBeforeWalk + 1);
}

} // namespace
} // namespace sonvex
