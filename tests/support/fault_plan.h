// SPDX-License-Identifier: GPL-3.0-or-later
// The fault-injection matrix's tools: a file system that fails the n-th operation of a
// kind and remembers every path written, snapshots of what lies on disk, and the runner
// of the console programs (tests/support/program_run.h).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "chunkfile/file_system.h"
#include "platform/feedback.h"
#include "platform/messages.h"
#include "testkit/byte_builder.h"
#include "tests/support/program_run.h"

namespace sonvex::faults {

using testkit::Bytes;

enum class Operation { Create, OpenRead, Rename, Remove };

// Passes everything to `inner` except the one operation chosen to fail. Every path
// created or renamed to is remembered, so a test knows every file a run could have left.
class CountedFaults : public FileSystem {
  public:
    explicit CountedFaults(FileSystem& inner) : inner_(inner) {}

    // Fails the n-th (from 0) operation of this kind from now on; -1 fails none.
    void FailNth(Operation operation, int n);
    void Clear();
    int Count(Operation operation) const { return counts_[Index(operation)]; }
    const std::set<std::string>& Written() const { return written_; }

    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override;
    bool Remove(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to) override;

  private:
    static size_t Index(Operation operation) { return static_cast<size_t>(operation); }
    bool Fails(Operation operation);

    FileSystem& inner_;
    int counts_[4] = {};
    int failAt_[4] = {-1, -1, -1, -1};
    std::set<std::string> written_;
};

// Files at the given paths, read through `fs`: content, or absent.
using Snapshot = std::map<std::string, std::optional<Bytes>>;
Snapshot Take(FileSystem& fs, const std::set<std::string>& paths);
// Writes a whole file through `fs`, replacing it; false on failure.
bool PutFile(FileSystem& fs, const std::string& path, const Bytes& bytes);

// Compares the files after a failed run with the files before the run and after a clean
// run: each must be absent, as it was before, or exactly as the clean run left it (a
// complete file). Returns "" or what is wrong.
std::string CheckNothingPartial(const Snapshot& before, const Snapshot& clean,
                                const Snapshot& after);

// Same as above for a successful run: every file exactly as the clean run left it.
std::string CheckSameAsClean(const Snapshot& clean, const Snapshot& after);

// The bytes that a run writes through `faults`, measured with an unlimited budget.
int64_t BytesWritten(FaultInjectingFileSystem& faults, const std::function<void()>& run);

// Write budgets for a sweep over a run that writes `total` bytes: every byte up to
// `dense`, then every `stride`-th, and the last byte.
std::vector<int64_t> Budgets(int64_t total, int64_t dense = 600, int64_t stride = 97);

enum class FaultKind { Create, OpenRead, Rename, Remove, Write };
const char* KindName(FaultKind kind);

// What a component reported.
struct Outcome {
    bool success = false;  // the component told its user that it did what was asked
    int filesClaimed = -1; // output files it says it made, when it says
    std::string detail;    // result code and the like, for failure messages
};

// One component of the matrix: how to lay out its inputs (and any older outputs it must
// not destroy), how to run it, and what its user sees when a fault makes it fail.
struct Component {
    std::string name;
    std::function<void(FileSystem&)> prepare;
    std::function<Outcome(Feedback&)> run;
    // For each kind of fault: the messages of which exactly one must be shown when the
    // fault makes the run fail; a kind left out must fail without a message.
    std::map<FaultKind, std::set<MessageId>> shown;
    // Operations (by kind and number in the clean run) that the component may do without;
    // a run with such a fault may succeed, and must then leave what a clean run leaves.
    std::map<FaultKind, std::set<int64_t>> harmless;
    // Files a delete that fails may leave behind (a temporary copy no reader takes for
    // the real file); not compared after a delete fault.
    std::set<std::string> leftWhenDeleteFails;
    // Further checks after every run, given the outcome; "" when all is well.
    std::function<std::string(FileSystem&, const Outcome&)> check;
};

// Counts of the runs made, for the summary a test prints.
struct MatrixTally {
    int runs = 0;
    std::map<FaultKind, int> faulted; // runs with a fault of this kind
    std::map<FaultKind, int> failed;  // of those, the runs the component reported as failed
    std::map<FaultKind, std::set<MessageId>> messages; // messages seen
    std::string Summary(const std::string& name) const;
};

// Runs the component once without faults, then once for every create, open, rename and
// remove of the clean run failing in turn and for write budgets over every byte it
// writes (see Budgets). Every run is checked with gtest assertions: a fault that takes
// away a file operation the clean run needed is never reported as success; a failure
// shows one of the component's messages for the fault; no file is left that is neither
// as before the run nor exactly as the clean run leaves it; a claimed file count is the
// number of outputs on disk.
MatrixTally RunMatrix(FileSystem& base, const Component& component, int64_t dense = 600,
                      int64_t stride = 97);

// The console programs' runner, by the names the matrix tests use.
using testsupport::BuiltProgram;
using testsupport::ProcessRun;
using testsupport::RunProgram;

// Every regular file below `folder` with its content, keyed by the path relative to it.
std::map<std::string, Bytes> FolderFiles(const std::string& folder);

} // namespace sonvex::faults
