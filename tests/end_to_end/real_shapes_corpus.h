// SPDX-License-Identifier: GPL-3.0-or-later
// The game files of the real-world shape tests: banks whose samples the classic search
// cannot find, header and body in files of their own, "SEQp" sequences, and images the
// classic rules handle completely. Also the run that turns a scenario into a summary of
// lists and output files, so that two sets of rules can be compared line by line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/source_scanner.h"
#include "chunkfile/chunk_file.h"
#include "convert/batch_conversion.h"
#include "testkit/game_image.h"

namespace sonvex::realshapes {

struct CorpusFile {
    std::string name; // file name, as the list records it
    testkit::GameImage image;
};

// Where a bank's two parts lie, for a direct conversion.
struct BankPlace {
    size_t vhFile = 0; // index into Scenario::files
    uint64_t vhOffset = 0;
    size_t vbFile = 0;
    uint64_t vbOffset = 0;
};

struct Scenario {
    std::string name;
    std::vector<CorpusFile> files;  // in the order they are picked
    std::vector<BankPlace> banks;   // converted directly, one by one
    bool classicHandlesAll = false; // the classic rules find and convert every item
    // The banks from testkit::MakeBank in the order of the collections the extended rules
    // make of the scenario (collections of other banks come after them).
    std::vector<testkit::BankParts> madeBanks;
};

std::vector<Scenario> RealShapeScenarios();

// The steps a summary is made with; the test and the recording of the classic results
// supply the rules through these.
struct ScenarioSteps {
    // Scans the open game file `source` into `list`.
    std::function<void(ChunkFile& list, ChunkFile& source, const std::string& name,
                       GroupCounters& counters)>
        scan;
    Converters converters;
    // Converts one bank directly with the collection id of golden tests.
    std::function<ConvertResult(uint64_t vhOffset, uint64_t vbOffset, const std::string& vhPath,
                                const std::string& vbPath, const std::string& dlsPath)>
        convertBank;
};

// Runs a scenario in memory: the files under /mem, scanned in order into /mem/list.clg,
// the list converted into /mem/out (title "list"), then each bank converted directly.
// The summary has one line per result: the list's hash, each output file's name and hash
// (a collection's 16-byte id zeroed), the run's counts and each direct result.
std::string SummarizeScenario(const Scenario& scenario, const ScenarioSteps& steps);

// 64-bit FNV-1a of the bytes, as 16 hex digits.
std::string HashOf(const std::vector<uint8_t>& bytes);
// The hash of an output file as the summary gives it: a collection's id (new in every
// run) is zeroed first.
std::string OutputHash(const std::string& name, std::vector<uint8_t> bytes);

} // namespace sonvex::realshapes
