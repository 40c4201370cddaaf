// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis run: one convert list for the chosen game files.
#include "analysis/analysis_run.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "gamesource/game_source.h"
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

// One game file of a run after disc images and PSF sets are expanded.
struct GameFile {
    std::string path;
    bool inImage = false; // a file inside a disc image: the scanner cannot ask the OS for it
    int64_t weight = 0;   // its share of the image's progress (sectors), 0 outside images
    size_t image = 0;     // which picked image it belongs to
    bool psfWithLibraries = false; // scanned without the bytes of its libraries
};

// Failures of the game source layer met by the run's own thread go to the run's feedback
// while the run lasts; those of other threads (conversion beside the scan) go where they
// went before.
class ReportToFeedback {
  public:
    ReportToFeedback(GameSourceFileSystem& sources, Feedback& feedback)
        : sources_(sources), previous_(std::make_shared<SourceReport>()) {
        // The receiver holds what it passes on by itself: a copy taken by another thread
        // may still be called after this object has gone.
        *previous_ =
            sources.SetReport([previous = previous_, &feedback,
                               run = std::this_thread::get_id()](std::string_view message) {
                if (std::this_thread::get_id() == run) {
                    feedback.ShowMessage(message, MessageIcon::Stop);
                } else if (*previous) {
                    (*previous)(message);
                }
            });
    }
    ~ReportToFeedback() { sources_.SetReport(*previous_); }
    ReportToFeedback(const ReportToFeedback&) = delete;
    ReportToFeedback& operator=(const ReportToFeedback&) = delete;

  private:
    GameSourceFileSystem& sources_;
    std::shared_ptr<SourceReport> previous_;
};

// Disc images become the files of their file system and their unfiled area; PSF files
// bring the libraries they name, each library once. Images that cannot be read are
// reported by the layer and left out.
std::vector<GameFile> ExpandGameFiles(const std::vector<std::string>& paths,
                                      GameSourceFileSystem& sources, Feedback& feedback) {
    std::vector<GameFile> files;
    std::set<std::string> taken;
    auto add = [&files, &taken](GameFile file) {
        if (taken.insert(file.path).second) {
            files.push_back(std::move(file));
        }
    };
    size_t images = 0;
    for (const std::string& path : paths) {
        switch (sources.KindOf(path)) {
        case SourceKind::DiscImage: {
            std::vector<GameSourceFileSystem::Member> members;
            if (sources.ImageMembers(path, members)) {
                ++images;
                for (const auto& member : members) {
                    add({member.path, true, member.sectors, images});
                }
            }
            break;
        }
        case SourceKind::Psf: {
            const std::vector<std::string> libraries = sources.PsfLibraries(path);
            for (const std::string& library : libraries) {
                add({std::filesystem::path(library).lexically_normal().string()});
            }
            GameFile file{path};
            file.psfWithLibraries = !libraries.empty();
            add(std::move(file));
            break;
        }
        case SourceKind::InImage:
            add({path, true});
            break;
        case SourceKind::Missing: {
            // A file that is there but cannot be read is reported here; one that is not
            // there at all, by the scan.
            std::error_code error;
            if (std::filesystem::exists(path, error)) {
                ShowNumberedMessage(feedback, MessageId::ScannedFileOpenFailed);
            } else {
                add({path});
            }
            break;
        }
        default:
            add({path});
            break;
        }
    }
    return files;
}

// Hands the entries written to the list since `from` to the listener, and leaves the list
// at its end (`from` too). False when the list cannot be positioned there again.
bool PassNewEntries(ChunkFile& list, ListFile& listFile, int64_t& from, ScanListener* listener) {
    if (listener == nullptr) {
        return true;
    }
    const int64_t end = list.Tell();
    if (end == from) {
        return true;
    }
    std::vector<ListEntry> entries;
    ListEntry entry;
    if (list.Seek(from, SeekOrigin::Begin) >= 0) {
        while (list.Tell() < end && ReadEntry(listFile, entry)) {
            entries.push_back(entry);
        }
    }
    from = end;
    if (list.Seek(end, SeekOrigin::Begin) != end) {
        return false;
    }
    listener->EntriesAdded(entries);
    return true;
}

// Progress of the files of one image shown as progress through the whole image.
class ImageProgress : public Feedback {
  public:
    explicit ImageProgress(Feedback& inner) : inner_(inner) {}
    void Span(int64_t before, int64_t share, int64_t total) {
        before_ = before;
        share_ = share;
        total_ = total;
    }
    void ShowMessage(std::string_view text, MessageIcon icon) override {
        inner_.ShowMessage(text, icon);
    }
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override {
        inner_.ShowMessageAbout(text, icon, subject);
    }
    void SetStatusText(std::string_view text) override { inner_.SetStatusText(text); }
    void SetProgress(int position) override {
        if (total_ <= 0) {
            inner_.SetProgress(position);
            return;
        }
        inner_.SetProgress(static_cast<int>((before_ * 100 + share_ * position) / total_));
    }
    void SetGamePath(std::string_view path) override { inner_.SetGamePath(path); }
    void Refresh() override { inner_.Refresh(); }

  private:
    Feedback& inner_;
    int64_t before_ = 0;
    int64_t share_ = 0;
    int64_t total_ = 0;
};

// Serves one path from a given opener while it lives; everything else from the file system
// it replaces.
class OneFileOverride : public FileSystem {
  public:
    OneFileOverride(std::string path, std::function<std::unique_ptr<RawFile>()> open)
        : inner_(ActiveFileSystem()), path_(std::move(path)), open_(std::move(open)),
          scope_(*this) {}
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override {
        return path == path_ && mode == OpenMode::Read ? open_() : inner_.Open(path, mode);
    }
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override {
        return inner_.Rename(from, to);
    }
    std::vector<std::string> FileNamesIn(const std::string& folder) override {
        return inner_.FileNamesIn(folder);
    }

  private:
    FileSystem& inner_;
    std::string path_;
    std::function<std::unique_ptr<RawFile>()> open_;
    ScopedFileSystem scope_;
};

// The scan of a file inside an image, opened through the game source layer.
ScanOutcome ScanImageFile(ChunkFile& list, const std::string& path, const std::string& entryName,
                          GroupCounters& counters, Feedback& feedback, const ScanTrace& trace,
                          RecognitionRules rules, ScanSummary* summary) {
    feedback.SetGamePath(path);
    ChunkFile source;
    const std::unique_ptr<RawFile> blocks =
        source.OpenRead(path) ? ActiveFileSystem().Open(path, OpenMode::Read) : nullptr;
    if (!blocks) {
        source.Close();
        return ScanOutcome::CannotOpen; // the layer has reported why
    }
    const ScanOutcome outcome =
        ScanOpenSource(list, source, *blocks, entryName, counters, feedback, trace, rules, summary);
    blocks->Close();
    source.Close();
    return outcome;
}

// A file outside images; a PSF with libraries without their bytes.
ScanOutcome ScanPlainOrPsf(ChunkFile& list, const GameFile& file, const std::string& entryName,
                           GameSourceFileSystem& sources, GroupCounters& counters,
                           Feedback& feedback, const ScanTrace& trace, RecognitionRules rules,
                           ScanSummary* summary, ScanListener* listener, unsigned threads) {
    if (!file.psfWithLibraries) {
        return ScanSourceFile(list, file.path, counters, feedback, trace, rules, summary, entryName,
                              ScanThreads{threads});
    }
    if (listener != nullptr) {
        listener->Quiesce();
    }
    const OneFileOverride ownPart(file.path,
                                  [&sources, &file] { return sources.OpenPsfOwnPart(file.path); });
    return ScanSourceFile(list, file.path, counters, feedback, trace, rules, summary, entryName);
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
                              const ScanTrace& trace, RecognitionRules rules,
                              ScanListener* listener, unsigned threads) {
    AnalysisResult result;
    if (gameFiles.empty()) {
        return result;
    }
    std::vector<std::string> paths;
    for (const std::string& file : gameFiles) {
        paths.push_back(Absolute(file));
    }
    result.listPath = ListPathFor(listFolder, paths.front());
    // Game files are opened through the game source layer; a caller that has not installed
    // one gets one for the run.
    std::optional<ScopedGameSources> ownSources;
    if (ActiveGameSources() == nullptr) {
        ownSources.emplace(SourceReport{});
    }
    // Work beside the scan stops before the layer made for the run goes.
    struct QuiesceAtEnd {
        ScanListener* listener;
        ~QuiesceAtEnd() {
            if (listener != nullptr) {
                listener->Quiesce();
            }
        }
    } const quiesceAtEnd{ownSources ? listener : nullptr};
    GameSourceFileSystem& sources = *ActiveGameSources();
    const ReportToFeedback reportToFeedback(sources, feedback);
    const std::vector<GameFile> gameFilesFound = ExpandGameFiles(paths, sources, feedback);
    std::vector<std::string> expanded;
    for (const GameFile& file : gameFilesFound) {
        expanded.push_back(file.path);
    }
    // The list names every scanned file from the deepest folder common to the files the
    // user picked (an image counts as the file it is) and the libraries PSF files pulled in;
    // a file inside an image is named by its image's name and its path inside it.
    std::vector<std::string> anchors;
    std::vector<std::string> anchorOf;
    for (const GameFile& file : gameFilesFound) {
        std::string anchor = file.path;
        for (const std::string& picked : paths) {
            if (file.path == picked || file.path.rfind(picked + "/", 0) == 0) {
                anchor = picked;
                break;
            }
        }
        if (std::find(anchors.begin(), anchors.end(), anchor) == anchors.end()) {
            anchors.push_back(anchor);
        }
        anchorOf.push_back(anchor);
    }
    const ListSources listSources = ListSourcesOf(anchors.empty() ? paths : anchors);
    std::map<std::string, std::string> entryNameOf;
    for (size_t i = 0; i < anchors.size(); ++i) {
        entryNameOf[anchors[i]] = listSources.entryNames[i];
    }
    std::map<std::string, std::string> givenOf; // as the user named each picked file
    for (size_t i = 0; i < paths.size(); ++i) {
        givenOf.emplace(paths[i], gameFiles[i]);
    }
    for (size_t i = 0; i < gameFilesFound.size(); ++i) {
        const std::string& path = gameFilesFound[i].path;
        entryNameOf[path] = entryNameOf[anchorOf[i]] + path.substr(anchorOf[i].size());
    }
    // A folder or name that the list cannot hold would be cut short in it and name
    // another file: the run is refused before anything is written.
    const std::string limit = std::to_string(kLongestStoredText) + " bytes a list holds";
    std::string tooLong;
    if (listSources.sourceFolder.size() > kLongestStoredText) {
        tooLong =
            "the source folder \"" + listSources.sourceFolder + "\" is longer than the " + limit;
    }
    for (size_t i = 0; i < gameFilesFound.size() && tooLong.empty(); ++i) {
        const std::string& path = gameFilesFound[i].path;
        const std::string& name = entryNameOf[path];
        if (name.size() > kLongestStoredText) {
            const auto given = givenOf.find(path);
            tooLong = "the game file \"" + (given != givenOf.end() ? given->second : path) +
                      "\" is named \"" + name + "\" from the source folder, longer than the " +
                      limit;
        }
    }
    if (!tooLong.empty()) {
        ShowNumberedMessage(feedback, MessageId::AnalysisListNotMade,
                            MessageSubject{result.listPath, -1, tooLong});
        result.status = AnalysisStatus::PathTooLong;
        return result;
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
    if (!WriteHeader(listFile, 0, listSources.sourceFolder)) {
        return AbandonList(list, result, feedback);
    }
    int64_t passedUpTo = list.Tell();
    if (listener != nullptr) {
        listener->ListStarted(result.listPath, listSources.sourceFolder);
    }
    // Progress through each image: its files' shares, all and scanned so far.
    std::map<std::string, const GameFile*> byPath;
    std::map<size_t, int64_t> imageTotal;
    std::map<size_t, int64_t> imageDone;
    for (const GameFile& file : gameFilesFound) {
        byPath[file.path] = &file;
        if (file.inImage) {
            imageTotal[file.image] += file.weight;
        }
    }
    ImageProgress progress(feedback);
    ScanSummary previous;
    for (const PlannedScan& scan : PlanScans(expanded, rules)) {
        const GameFile* file = byPath.at(scan.path);
        progress.Span(imageDone[file->image], file->weight,
                      file->inImage ? imageTotal[file->image] : 0);
        imageDone[file->image] += file->weight;
        const std::string& entryName = entryNameOf[scan.path];
        // The scanner's messages name the file it was given, as the user gave it.
        const auto givenName = givenOf.find(scan.path);
        const std::string given = givenName != givenOf.end() ? givenName->second : scan.path;
        SubjectFeedback named(progress, [&given](int) {
            return MessageSubject{given, -1, CannotReadReason(given)};
        });
        ScanSummary summary;
        const ScanOutcome outcome =
            file->inImage ? ScanImageFile(list, scan.path, entryName, result.counters, named, trace,
                                          rules, &summary)
                          : ScanPlainOrPsf(list, *file, entryName, sources, result.counters, named,
                                           trace, rules, &summary, listener, threads);
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
        if (!PassNewEntries(list, listFile, passedUpTo, listener)) {
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
