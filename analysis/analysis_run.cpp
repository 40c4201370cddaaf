// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis run: one convert list for the chosen game files.
#include "analysis/analysis_run.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"
#include "platform/program_folder.h"

namespace sonvex {

const char* const kAnalysisDone = "アナライズ終了";

namespace {

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full =
        std::filesystem::absolute(std::filesystem::path(path), error);
    return error ? path : full.string();
}

std::string FoldCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

enum class BankPart { None, Header, Body };

// Whether a path names a bank header (".vh") or body (".vb") file, and its name without
// folder and extension, case folded.
BankPart PartOf(const std::string& path, std::string& stem) {
    const size_t slash = path.rfind('/');
    const std::string name = FoldCase(slash == std::string::npos ? path : path.substr(slash + 1));
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return BankPart::None;
    }
    stem = name.substr(0, dot);
    const std::string extension = name.substr(dot);
    if (extension == ".vh") {
        return BankPart::Header;
    }
    return extension == ".vb" ? BankPart::Body : BankPart::None;
}

// Ends a run whose list could not be finished: what was written is not a usable list.
AnalysisResult AbandonList(ChunkFile& list, AnalysisResult result, Feedback& feedback) {
    list.Close();
    ChunkFile::Delete(result.listPath);
    ShowNumberedMessage(feedback, MessageId::AnalysisListNotMade,
                        MessageSubject{result.listPath, -1, "a write failed"});
    result.status = AnalysisStatus::ListWriteFailed;
    return result;
}

} // namespace

std::string ListPathFor(const std::string& listFolder, const std::string& firstGameFile) {
    const size_t slash = firstGameFile.rfind('/');
    const std::string name =
        slash == std::string::npos ? firstGameFile : firstGameFile.substr(slash + 1);
    // The last extension goes; a name that only starts with a dot keeps it.
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string path = listFolder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path + stem + ".clg";
}

std::string SourceFolderOf(const std::string& gamePath) {
    const size_t slash = gamePath.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : gamePath.substr(0, slash);
}

ListSources ListSourcesOf(const std::vector<std::string>& absolutePaths) {
    ListSources sources;
    if (absolutePaths.empty()) {
        return sources;
    }
    const std::string first = SourceFolderOf(absolutePaths.front());
    bool oneFolder = true;
    for (const std::string& path : absolutePaths) {
        oneFolder = oneFolder && SourceFolderOf(path) == first;
    }
    if (oneFolder) {
        sources.sourceFolder = first;
        for (const std::string& path : absolutePaths) {
            sources.entryNames.push_back(path.substr(path.rfind('/') + 1));
        }
        return sources;
    }
    namespace fs = std::filesystem;
    std::vector<fs::path> normal;
    for (const std::string& path : absolutePaths) {
        normal.push_back(fs::path(path).lexically_normal());
    }
    // The common leading folders of all the paths (the file names themselves excluded).
    fs::path common = normal.front().parent_path();
    for (const fs::path& path : normal) {
        fs::path shared;
        auto a = common.begin();
        const fs::path folder = path.parent_path();
        for (auto b = folder.begin(); a != common.end() && b != folder.end() && *a == *b;
             ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    sources.sourceFolder = common.string();
    for (const fs::path& path : normal) {
        sources.entryNames.push_back(path.lexically_relative(common).string());
    }
    return sources;
}

std::vector<PlannedScan> PlanScans(const std::vector<std::string>& gameFiles,
                                   RecognitionRules rules) {
    const size_t n = gameFiles.size();
    std::vector<PlannedScan> plan;
    if (rules == RecognitionRules::Classic) {
        for (const std::string& path : gameFiles) {
            plan.push_back({path, false});
        }
        return plan;
    }
    std::vector<BankPart> parts(n);
    std::vector<std::string> stems(n);
    for (size_t i = 0; i < n; ++i) {
        parts[i] = PartOf(gameFiles[i], stems[i]);
    }
    // partner[i]: the other file of i's header/body pair, or n.
    std::vector<size_t> partner(n, n);
    for (size_t h = 0; h < n; ++h) {
        if (parts[h] != BankPart::Header) {
            continue;
        }
        for (size_t b = 0; b < n; ++b) {
            if (parts[b] == BankPart::Body && partner[b] == n && stems[b] == stems[h]) {
                partner[h] = b;
                partner[b] = h;
                break;
            }
        }
    }
    std::vector<bool> planned(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (planned[i]) {
            continue;
        }
        if (partner[i] == n) {
            plan.push_back({gameFiles[i], false});
            planned[i] = true;
            continue;
        }
        const size_t header = parts[i] == BankPart::Header ? i : partner[i];
        const size_t body = partner[header];
        plan.push_back({gameFiles[header], false});
        plan.push_back({gameFiles[body], true});
        planned[header] = planned[body] = true;
    }
    return plan;
}

AnalysisResult AnalyzeSources(const std::vector<std::string>& gameFiles,
                              const std::string& listFolder, Feedback& feedback,
                              const ScanTrace& trace, RecognitionRules rules) {
    AnalysisResult result;
    if (gameFiles.empty()) {
        return result;
    }
    std::vector<std::string> paths;
    for (const std::string& file : gameFiles) {
        paths.push_back(Absolute(file));
    }
    result.listPath = ListPathFor(listFolder, paths.front());

    const ListSources sources = ListSourcesOf(paths);
    // A folder or name that the list cannot hold would be cut short in it and name
    // another file: the run is refused before anything is written.
    const std::string limit = std::to_string(kLongestStoredText) + " bytes a list holds";
    std::string tooLong;
    if (sources.sourceFolder.size() > kLongestStoredText) {
        tooLong = "the source folder \"" + sources.sourceFolder + "\" is longer than the " + limit;
    }
    for (size_t i = 0; i < paths.size() && tooLong.empty(); ++i) {
        if (sources.entryNames[i].size() > kLongestStoredText) {
            tooLong = "the game file \"" + gameFiles[i] + "\" is named \"" + sources.entryNames[i] +
                      "\" from the source folder, longer than the " + limit;
        }
    }
    if (!tooLong.empty()) {
        ShowNumberedMessage(feedback, MessageId::AnalysisListNotMade,
                            MessageSubject{result.listPath, -1, tooLong});
        result.status = AnalysisStatus::PathTooLong;
        return result;
    }
    std::map<std::string, std::string> entryNameOf;
    for (size_t i = 0; i < paths.size(); ++i) {
        entryNameOf[paths[i]] = sources.entryNames[i];
    }

    ChunkFile list;
    if (!list.Create(result.listPath)) {
        ShowNumberedMessage(
            feedback, MessageId::AnalysisListNotMade,
            MessageSubject{result.listPath, -1, CannotCreateReason(result.listPath)});
        result.status = AnalysisStatus::ListNotCreated;
        return result;
    }
    ChunkListFile listFile(list);
    // The count is provisional until every file has been scanned.
    if (!WriteHeader(listFile, 0, sources.sourceFolder)) {
        return AbandonList(list, result, feedback);
    }
    ScanSummary previous;
    for (const PlannedScan& scan : PlanScans(paths, rules)) {
        ScanSummary summary;
        const std::string& entryName = entryNameOf[scan.path];
        // The scanner's messages name the file it was given, as the user gave it.
        const std::string given = gameFiles[static_cast<size_t>(
            std::find(paths.begin(), paths.end(), scan.path) - paths.begin())];
        SubjectFeedback named(feedback, [&given](int) {
            return MessageSubject{given, -1, CannotReadReason(given)};
        });
        const ScanOutcome outcome = ScanSourceFile(list, scan.path, result.counters, named, trace,
                                                   rules, &summary, entryName);
        if (outcome == ScanOutcome::ListWriteFailed) {
            return AbandonList(list, result, feedback);
        }
        // A body file that is nothing but the body its header file announced.
        if (scan.bodyOfPreviousHeader && outcome == ScanOutcome::Scanned && summary.entries == 0 &&
            previous.lastIsHeader && previous.lastHeaderBodyLength >= kMinBodyBySizeTable &&
            summary.size == previous.lastHeaderBodyLength) {
            if (!WriteWholeFileBody(list, entryName, result.counters)) {
                return AbandonList(list, result, feedback);
            }
            if (trace) {
                trace("VB at 0x00000000 of " + entryName +
                      ": the whole file, as long as its header's size table says -> Accept");
            }
        }
        previous = outcome == ScanOutcome::Scanned ? summary : ScanSummary{};
    }
    const uint32_t count = result.counters.Total();
    if (!PatchCount(listFile, count) || !list.Close()) {
        return AbandonList(list, result, feedback);
    }
    if (count == 0) {
        ChunkFile::Delete(result.listPath);
        result.status = AnalysisStatus::NothingFound;
    } else {
        result.status = AnalysisStatus::ListWritten;
    }
    feedback.SetStatusText(kAnalysisDone);
    return result;
}

AnalysisResult AnalyzeSources(const std::vector<std::string>& gameFiles, Feedback& feedback) {
    return AnalyzeSources(gameFiles, ProgramFolder().string(), feedback);
}

} // namespace sonvex
