// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis run: scans the chosen game files into one convert list named after the
// first of them, numbers the items across all files and finishes the list's count.
#pragma once

#include <string>
#include <vector>

#include "analysis/source_scanner.h"
#include "convlist/convert_list.h"
#include "platform/feedback.h"

namespace sonvex {

// Status text at the end of a run.
extern const char* const kAnalysisDone; // "アナライズ終了"

enum class [[nodiscard]] AnalysisStatus{
    NoFiles,         // no game file given: nothing done, nothing shown
    ListNotCreated,  // the list file could not be created; message 14 shown, nothing scanned
    NothingFound,    // no item found; the list file was deleted
    ListWritten,     // the list holds the entries found
    ListWriteFailed, // writing the list failed part way; the unfinished list was deleted and
                     // message 14 shown
    PathTooLong      // the source folder or a game file's name relative to it does not fit in
                     // a list; message 14 shown naming it, nothing scanned, no list left
};

struct AnalysisResult {
    AnalysisStatus status = AnalysisStatus::NoFiles;
    std::string listPath;   // the list file made (or that would have been made)
    GroupCounters counters; // entries written, by group
};

// `listFolder` + "/" + the first file's name without its extension + ".clg".
std::string ListPathFor(const std::string& listFolder, const std::string& firstGameFile);

// The folder a list records for a game file: its path without the file name and the
// slash before it; a file in the root gives "/".
std::string SourceFolderOf(const std::string& gamePath);

// Where a list's game files are: the source folder the list records, and for each file
// (in the order given) the name its entries record, which resolves to it through
// GameFilePath. Files of one folder: that folder and their plain names, exactly as the
// first file's folder is spelt. Files of several folders: their deepest common folder and
// each path relative to it.
struct ListSources {
    std::string sourceFolder;
    std::vector<std::string> entryNames;
};
ListSources ListSourcesOf(const std::vector<std::string>& absolutePaths);

// One file of a run, in scan order.
struct PlannedScan {
    std::string path;
    // Extended rules: this ".vb" file is the body of the ".vh" file scanned right before it.
    bool bodyOfPreviousHeader = false;
};

// The order in which the picked files are scanned. Classic: as picked. Extended: a ".vh"
// file and a ".vb" file of the same name (folder left aside, letters compared without
// case) are scanned one right after the other, header first, where the earlier of the two
// was picked; each header takes the first such body not yet taken. Every other file keeps
// its order.
std::vector<PlannedScan> PlanScans(const std::vector<std::string>& gameFiles,
                                   RecognitionRules rules);

// Told about the list while a run makes it, for work that follows the scan closely (the
// rip's conversion). Called on the run's thread.
class ScanListener {
  public:
    virtual ~ScanListener() = default;
    // Before the first scan: the list's path and the folder its file names are relative to.
    virtual void ListStarted(const std::string& listPath, const std::string& sourceFolder) = 0;
    // After each game file: the entries it added to the list, in list order.
    virtual void EntriesAdded(const std::vector<ListEntry>& entries) = 0;
    // Before the run puts a file system of its own in force for a while: anything that reads
    // files on other threads must be idle until the next call.
    virtual void Quiesce() = 0;
};

// Creates the list in `listFolder` (replacing one of the same name), records the source
// folder of ListSourcesOf, scans every file in the order PlanScans gives (relative paths are
// taken from the working folder), patches the entry count and deletes the list when it
// stayed empty. Extended rules: a body file paired with its header file, in which the
// scan recognised nothing, and whose length equals the body length that the size table
// of the header file's last entry (a "VH") gives, gets a "VB" entry at offset 0.
// `threads` check the candidates of each large plain file (ScanThreads; 0: one a core); the
// list is the same whatever their number.
AnalysisResult AnalyzeSources(const std::vector<std::string>& gameFiles,
                              const std::string& listFolder, Feedback& feedback,
                              const ScanTrace& trace = {},
                              RecognitionRules rules = RecognitionRules::Extended,
                              ScanListener* listener = nullptr, unsigned threads = 0);

// The same, with the list in the program folder.
AnalysisResult AnalyzeSources(const std::vector<std::string>& gameFiles, Feedback& feedback);

} // namespace sonvex
