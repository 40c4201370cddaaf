// Analysis run: one convert list for the chosen game files.
#include "analysis/analysis_run.h"

#include <filesystem>
#include <system_error>

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
    const std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(path), error);
    return error ? path : full.string();
}

// Ends a run whose list could not be finished: what was written is not a usable list.
AnalysisResult AbandonList(ChunkFile& list, AnalysisResult result, Feedback& feedback) {
    list.Close();
    ChunkFile::Delete(result.listPath);
    ShowNumberedMessage(feedback, 14);
    result.status = AnalysisStatus::ListWriteFailed;
    return result;
}

} // namespace

std::string ListPathFor(const std::string& listFolder, const std::string& firstGameFile) {
    const size_t slash = firstGameFile.rfind('/');
    const std::string name = slash == std::string::npos ? firstGameFile : firstGameFile.substr(slash + 1);
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

AnalysisResult AnalyzeSources(const std::vector<std::string>& gameFiles, const std::string& listFolder,
                              Feedback& feedback, const ScanTrace& trace) {
    AnalysisResult result;
    if (gameFiles.empty()) {
        return result;
    }
    std::vector<std::string> paths;
    for (const std::string& file : gameFiles) {
        paths.push_back(Absolute(file));
    }
    result.listPath = ListPathFor(listFolder, paths.front());

    ChunkFile list;
    if (!list.Create(result.listPath)) {
        ShowNumberedMessage(feedback, 14);
        result.status = AnalysisStatus::ListNotCreated;
        return result;
    }
    ChunkListFile listFile(list);
    // The count is provisional until every file has been scanned.
    if (!WriteHeader(listFile, 0, SourceFolderOf(paths.front()))) {
        return AbandonList(list, result, feedback);
    }
    for (const std::string& path : paths) {
        if (ScanSourceFile(list, path, result.counters, feedback, trace) == ScanOutcome::ListWriteFailed) {
            return AbandonList(list, result, feedback);
        }
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
