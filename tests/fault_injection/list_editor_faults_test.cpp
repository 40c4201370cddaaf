// SPDX-License-Identifier: GPL-3.0-or-later
// The list editor's save and folder change under every file fault, alone and combined
// with a failure of the step that puts the old list back.
// What the user sees:
//   save:          list not moved aside or not reopened: message 27; new list not created
//                  or not written: 28; in every case the list is the old one under its own
//                  name, or, when even the way back fails, the old list in the ".tmp" file
//   folder change: list not opened, or the new copy not created: 26; a write or the
//                  rename failing: no message, and the folder label keeps the old folder;
//                  the list is never changed by a failed attempt
#include <gtest/gtest.h>

#include <cstdio>

#include "listedit/list_edit_file.h"
#include "platform/messages.h"
#include "testkit/convert_list_builder.h"
#include "tests/support/fault_plan.h"

namespace sonvex::faults {
namespace {

using testkit::ConvertListBuilder;

constexpr const char* kList = "/l/game.clg";
constexpr const char* kTemporary = "/l/game.tmp";

testkit::Bytes OldList() {
    return ConvertListBuilder()
        .folder("/games/disc one")
        .entry(kTypeSeq, 0, 0x10, "game.bin")
        .entry(kTypeVh, 0, 0x400, "game.bin")
        .entry(kTypeVb, 0, 0x1200, "game.bin")
        .entry(kTypeSeq, 1, 0x80000000u, "game.bin")
        .build();
}

// The rows after moving the last row to the top and deleting the bank body.
std::vector<EditorRow> EditedRows() {
    return {{"SEQ", "1", "-2147483648", "game.bin"},
            {"SEQ", "0", "16", "game.bin"},
            {"VH", "0", "1024", "game.bin"}};
}

testkit::Bytes NewList() {
    return ConvertListBuilder()
        .folder("/games/disc one")
        .entry(kTypeSeq, 1, 0x80000000u, "game.bin")
        .entry(kTypeSeq, 0, 0x10, "game.bin")
        .entry(kTypeVh, 0, 0x400, "game.bin")
        .build();
}

// The list must be old or new under its own name, or old in the temporary file.
std::string ListNotLost(FileSystem& fs, bool saved) {
    const Snapshot now = Take(fs, {kList, kTemporary});
    const auto& list = now.at(kList);
    const auto& temporary = now.at(kTemporary);
    if (saved) {
        return list == NewList() ? "" : "reported saved, but the list is not the new one";
    }
    if (list == OldList()) {
        return "";
    }
    if (!list && temporary == OldList()) {
        return ""; // recoverable from the temporary file
    }
    return "the old list is neither under its name nor in the temporary file";
}

Outcome SaveAsTheDialogDoes(Feedback& feedback) {
    const SaveResult r = SaveListRows(kList, EditedRows());
    if (const auto message = MessageOf(r)) {
        ShowNumberedMessage(feedback, *message);
    }
    Outcome o;
    o.success = r == SaveResult::Saved;
    o.detail = "save result " + std::to_string(static_cast<int>(r));
    return o;
}

TEST(ListEditorFaults, SaveNeverLosesTheList) {
    MemoryFileSystem memory;
    Component save;
    save.name = "list editor save";
    save.prepare = [](FileSystem& fs) { PutFile(fs, kList, OldList()); };
    save.run = SaveAsTheDialogDoes;
    save.shown = {{FaultKind::Rename, {MessageId::EditorSaveMoveFailed}},
                  {FaultKind::OpenRead, {MessageId::EditorSaveMoveFailed}},
                  {FaultKind::Create, {MessageId::EditorSaveWriteFailed}},
                  {FaultKind::Write, {MessageId::EditorSaveWriteFailed}}};
    save.leftWhenDeleteFails = {kTemporary};
    save.check = [](FileSystem& fs, const Outcome& o) { return ListNotLost(fs, o.success); };
    const MatrixTally tally = RunMatrix(memory, save, 1000);
    EXPECT_EQ(tally.failed.at(FaultKind::Write), tally.faulted.at(FaultKind::Write));
    std::printf("%s\n", tally.Summary(save.name).c_str());
}

// Two faults at once: the save fails (any fault of the matrix), and then putting the old
// list back fails too (the rename back, or the delete of the unfinished new list).
TEST(ListEditorFaults, SaveWhoseWayBackAlsoFailsLeavesTheListRecoverable) {
    MemoryFileSystem memory;
    FaultInjectingFileSystem writes(memory);
    CountedFaults counted(writes);
    ScopedFileSystem guard(counted);
    const int64_t total = NewList().size();
    int runs = 0;
    int inTemporary = 0;
    for (int64_t budget = -1; budget < total; ++budget) {
        for (Operation second : {Operation::Rename, Operation::Remove}) {
            memory.Remove(kList);
            memory.Remove(kTemporary);
            memory.Put(kList, OldList());
            counted.Clear();
            writes.Clear();
            // Budget -1 stands for "the new list cannot be created".
            if (budget < 0) {
                counted.FailNth(Operation::Create, 0);
            } else {
                writes.FailWritesAfter(budget);
            }
            // The first rename moves the list aside; the next one or the first delete
            // belongs to the way back.
            counted.FailNth(second, second == Operation::Rename ? 1 : 0);
            RecordingFeedback feedback;
            const Outcome o = SaveAsTheDialogDoes(feedback);
            counted.Clear();
            writes.Clear();
            ++runs;
            const std::string label =
                "budget " + std::to_string(budget) +
                (second == Operation::Rename ? ", rename back fails" : ", delete fails");
            EXPECT_FALSE(o.success) << label;
            EXPECT_EQ(feedback.Messages().size(), 1u) << label;
            EXPECT_EQ(ListNotLost(memory, false), "") << label;
            inTemporary += memory.Exists(kList) ? 0 : 1;
        }
    }
    // Only a failed rename back leaves the list in the temporary file.
    EXPECT_EQ(inTemporary, runs / 2);
    std::printf("list editor save with a failing way back: %d runs, %d left the list in %s\n", runs,
                inTemporary, kTemporary);
}

TEST(ListEditorFaults, FolderChangeNeverDamagesTheList) {
    MemoryFileSystem memory;
    Component change;
    change.name = "list editor folder change";
    change.prepare = [](FileSystem& fs) { PutFile(fs, kList, OldList()); };
    change.run = [](Feedback& feedback) {
        const FolderChangeResult r = ChangeListFolder(kList, "/games/disc one", "/mnt/other");
        if (const auto message = MessageOf(r)) {
            ShowNumberedMessage(feedback, *message);
        }
        Outcome o;
        o.success = r == FolderChangeResult::Done;
        o.detail = "folder change result " + std::to_string(static_cast<int>(r));
        return o;
    };
    change.shown = {{FaultKind::OpenRead, {MessageId::EditorFolderOpenFailed}},
                    {FaultKind::Create, {MessageId::EditorFolderOpenFailed}}};
    change.check = [](FileSystem& fs, const Outcome& o) -> std::string {
        const Snapshot now = Take(fs, {kList, kTemporary});
        if (now.at(kTemporary)) {
            return "the new copy was left beside the list";
        }
        const bool old = now.at(kList) == OldList();
        if (o.success == old) {
            return o.success ? "reported done, list unchanged" : "failed, but the list changed";
        }
        return "";
    };
    const MatrixTally tally = RunMatrix(memory, change, 1000);
    EXPECT_EQ(tally.failed.at(FaultKind::Rename), 1);
    std::printf("%s\n", tally.Summary(change.name).c_str());
}

} // namespace
} // namespace sonvex::faults
