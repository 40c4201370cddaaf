// SPDX-License-Identifier: GPL-3.0-or-later
// Counted faults and disk snapshots of the fault-injection matrix.
#include "tests/support/fault_plan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/feedback.h"
#include "platform/messages.h"

namespace sonvex::faults {

void CountedFaults::FailNth(Operation operation, int n) {
    failAt_[Index(operation)] = n < 0 ? -1 : counts_[Index(operation)] + n;
}

void CountedFaults::Clear() {
    for (int& at : failAt_) {
        at = -1;
    }
}

bool CountedFaults::Fails(Operation operation) {
    const int number = counts_[Index(operation)]++;
    return number == failAt_[Index(operation)];
}

std::unique_ptr<RawFile> CountedFaults::Open(const std::string& path, OpenMode mode) {
    if (mode == OpenMode::CreateReadWrite) {
        written_.insert(path);
        if (Fails(Operation::Create)) {
            return nullptr;
        }
    } else if (Fails(Operation::OpenRead)) {
        return nullptr;
    }
    return inner_.Open(path, mode);
}

bool CountedFaults::Remove(const std::string& path) {
    if (Fails(Operation::Remove)) {
        return false;
    }
    return inner_.Remove(path);
}

bool CountedFaults::Rename(const std::string& from, const std::string& to) {
    written_.insert(to);
    if (Fails(Operation::Rename)) {
        return false;
    }
    return inner_.Rename(from, to);
}

Snapshot Take(FileSystem& fs, const std::set<std::string>& paths) {
    Snapshot snapshot;
    for (const std::string& path : paths) {
        std::unique_ptr<RawFile> file = fs.Open(path, OpenMode::Read);
        if (!file) {
            snapshot[path] = std::nullopt;
            continue;
        }
        Bytes bytes(static_cast<size_t>(std::max<int64_t>(file->Size(), 0)));
        bytes.resize(static_cast<size_t>(std::max<int64_t>(
            file->ReadAt(0, bytes.data(), static_cast<int64_t>(bytes.size())), 0)));
        file->Close();
        snapshot[path] = std::move(bytes);
    }
    return snapshot;
}

bool PutFile(FileSystem& fs, const std::string& path, const Bytes& bytes) {
    std::unique_ptr<RawFile> file = fs.Open(path, OpenMode::CreateReadWrite);
    if (!file) {
        return false;
    }
    const bool wrote = file->WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size())) ==
                       static_cast<int64_t>(bytes.size());
    return file->Close() && wrote;
}

namespace {

std::string Describe(const std::optional<Bytes>& file) {
    return file ? std::to_string(file->size()) + " bytes" : std::string("absent");
}

const std::optional<Bytes>& Lookup(const Snapshot& snapshot, const std::string& path) {
    static const std::optional<Bytes> absent;
    const auto found = snapshot.find(path);
    return found == snapshot.end() ? absent : found->second;
}

} // namespace

std::string CheckNothingPartial(const Snapshot& before, const Snapshot& clean,
                                const Snapshot& after) {
    std::ostringstream problems;
    for (const auto& [path, file] : after) {
        if (!file) {
            continue;
        }
        const auto& was = Lookup(before, path);
        const auto& good = Lookup(clean, path);
        if ((was && *was == *file) || (good && *good == *file)) {
            continue;
        }
        problems << path << ": " << Describe(file) << ", neither as before (" << Describe(was)
                 << ") nor as a clean run leaves it (" << Describe(good) << "); ";
    }
    return problems.str();
}

std::string CheckSameAsClean(const Snapshot& clean, const Snapshot& after) {
    std::ostringstream problems;
    for (const auto& [path, file] : after) {
        const auto& good = Lookup(clean, path);
        if (file != good) {
            problems << path << ": " << Describe(file) << " instead of " << Describe(good) << "; ";
        }
    }
    return problems.str();
}

int64_t BytesWritten(FaultInjectingFileSystem& faults, const std::function<void()>& run) {
    constexpr int64_t kPlenty = int64_t{1} << 40;
    faults.FailWritesAfter(kPlenty);
    run();
    const int64_t used = kPlenty - faults.writeBudget_;
    faults.Clear();
    return used;
}

std::vector<int64_t> Budgets(int64_t total, int64_t dense, int64_t stride) {
    std::vector<int64_t> budgets;
    for (int64_t n = 0; n < total; n += n < dense ? 1 : stride) {
        budgets.push_back(n);
    }
    if (total > 0 && (budgets.empty() || budgets.back() != total - 1)) {
        budgets.push_back(total - 1);
    }
    return budgets;
}

const char* KindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Create:
        return "create fails";
    case FaultKind::OpenRead:
        return "open for reading fails";
    case FaultKind::Rename:
        return "rename fails";
    case FaultKind::Remove:
        return "delete fails";
    case FaultKind::Write:
        return "write fails";
    }
    return "?";
}

std::string MatrixTally::Summary(const std::string& name) const {
    std::ostringstream out;
    out << name << ": " << runs << " runs";
    for (const auto& [kind, count] : faulted) {
        const auto failures = failed.find(kind);
        out << "; " << KindName(kind) << " x" << count << ", "
            << (failures == failed.end() ? 0 : failures->second) << " reported failure";
        const auto seen = messages.find(kind);
        if (seen != messages.end() && !seen->second.empty()) {
            out << ", messages";
            for (MessageId id : seen->second) {
                out << " " << NumberOf(id);
            }
        }
    }
    return out.str();
}

namespace {

// The message with this text; 0, which names none, for a text not in the table.
MessageId MessageOfText(const std::string& text) {
    for (const MessageText& message : AllMessages()) {
        if (text == message.text) {
            return static_cast<MessageId>(message.number);
        }
    }
    return static_cast<MessageId>(0);
}

Operation OperationOf(FaultKind kind) {
    switch (kind) {
    case FaultKind::Create:
        return Operation::Create;
    case FaultKind::OpenRead:
        return Operation::OpenRead;
    case FaultKind::Rename:
        return Operation::Rename;
    default:
        return Operation::Remove;
    }
}

std::set<std::string> Union(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::set<std::string> all = a;
    all.insert(b.begin(), b.end());
    return all;
}

} // namespace

MatrixTally RunMatrix(FileSystem& base, const Component& component, int64_t dense, int64_t stride) {
    MatrixTally tally;
    FaultInjectingFileSystem writes(base);
    CountedFaults counted(writes);
    ScopedFileSystem guard(counted);

    std::set<std::string> known;
    std::set<std::string> inputs;
    auto reset = [&] {
        for (const std::string& path : Union(known, counted.Written())) {
            base.Remove(path);
        }
        counted.Clear();
        writes.Clear();
        component.prepare(counted);
    };

    // The clean run: what it needs and what it leaves.
    reset();
    inputs = counted.Written();
    int before[4];
    for (Operation op :
         {Operation::Create, Operation::OpenRead, Operation::Rename, Operation::Remove}) {
        before[static_cast<size_t>(op)] = counted.Count(op);
    }
    RecordingFeedback cleanFeedback;
    Outcome cleanOutcome;
    const int64_t total =
        BytesWritten(writes, [&] { cleanOutcome = component.run(cleanFeedback); });
    EXPECT_TRUE(cleanOutcome.success)
        << component.name << " without a fault: " << cleanOutcome.detail;
    EXPECT_TRUE(cleanFeedback.Messages().empty())
        << component.name << " without a fault showed a message";
    std::map<FaultKind, int> needed;
    needed[FaultKind::Create] = counted.Count(Operation::Create) - before[0];
    needed[FaultKind::OpenRead] = counted.Count(Operation::OpenRead) - before[1];
    needed[FaultKind::Rename] = counted.Count(Operation::Rename) - before[2];
    needed[FaultKind::Remove] = counted.Count(Operation::Remove) - before[3];
    known = Union(inputs, counted.Written());
    const Snapshot clean = Take(base, known);
    if (component.check) {
        EXPECT_EQ(component.check(base, cleanOutcome), "") << component.name << " without a fault";
    }

    auto faultedRun = [&](FaultKind kind, int64_t n) {
        reset();
        const Snapshot priorFiles = Take(base, known);
        if (kind == FaultKind::Write) {
            writes.FailWritesAfter(n);
        } else {
            counted.FailNth(OperationOf(kind), static_cast<int>(n));
        }
        RecordingFeedback feedback;
        const Outcome outcome = component.run(feedback);
        counted.Clear();
        writes.Clear();
        Snapshot after = Take(base, Union(known, counted.Written()));
        if (kind == FaultKind::Remove) {
            for (const std::string& path : component.leftWhenDeleteFails) {
                after.erase(path);
            }
        }
        const std::string label = component.name + ", " + KindName(kind) + " at " +
                                  std::to_string(n) + " (" + outcome.detail + ")";

        ++tally.runs;
        ++tally.faulted[kind];
        std::vector<MessageId> shown;
        for (const std::string& text : feedback.Messages()) {
            shown.push_back(MessageOfText(text));
        }
        const auto harmless = component.harmless.find(kind);
        if (kind != FaultKind::Remove &&
            (harmless == component.harmless.end() || harmless->second.count(n) == 0)) {
            EXPECT_FALSE(outcome.success) << label << ": the fault went unnoticed";
        }
        if (outcome.success) {
            EXPECT_TRUE(shown.empty()) << label << ": success with a message";
            EXPECT_EQ(CheckSameAsClean(clean, after), "") << label;
        } else {
            ++tally.failed[kind];
            tally.messages[kind].insert(shown.begin(), shown.end());
            const auto allowed = component.shown.find(kind);
            if (allowed == component.shown.end()) {
                EXPECT_TRUE(shown.empty()) << label << ": expected no message";
            } else {
                EXPECT_EQ(shown.size(), 1u) << label;
                for (MessageId id : shown) {
                    EXPECT_TRUE(allowed->second.count(id) != 0)
                        << label << ": message " << NumberOf(id);
                }
            }
            EXPECT_EQ(CheckNothingPartial(priorFiles, clean, after), "") << label;
        }
        if (outcome.filesClaimed >= 0) {
            int present = 0;
            for (const auto& [path, file] : clean) {
                if (file && inputs.count(path) == 0 && after.count(path) != 0 &&
                    after.at(path) == file) {
                    ++present;
                }
            }
            EXPECT_EQ(present, outcome.filesClaimed)
                << label << ": files on disk and files reported differ";
        }
        if (component.check) {
            EXPECT_EQ(component.check(base, outcome), "") << label;
        }
    };

    for (FaultKind kind :
         {FaultKind::Create, FaultKind::OpenRead, FaultKind::Rename, FaultKind::Remove}) {
        for (int n = 0; n < needed[kind]; ++n) {
            faultedRun(kind, n);
        }
    }
    for (int64_t budget : Budgets(total, dense, stride)) {
        faultedRun(FaultKind::Write, budget);
    }
    reset();
    return tally;
}

std::map<std::string, Bytes> FolderFiles(const std::string& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) {
            files[std::filesystem::relative(item.path(), folder).string()] =
                testkit::ReadFile(item.path().string());
        }
    }
    return files;
}

} // namespace sonvex::faults
