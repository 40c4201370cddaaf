// SPDX-License-Identifier: GPL-3.0-or-later
// The batch conversion driver: list walk, output names, status texts and progress.
#include "convert/batch_conversion.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/messages.h"

namespace sonvex {

const char* const kNoFolderChosenText = "ﾌｫﾙﾀﾞが指定されていません";

namespace {

constexpr const char* kConvertingText = "変換中";
constexpr const char* kSmfPrefix = "SMF ";
constexpr const char* kDlsPrefix = "DLS ";
constexpr const char* kMakingSuffix = "を作製";
constexpr const char* kFinishedPrefix = "終了 作製ﾌｧｲﾙ数 ";

std::string Numbered(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

// What an item that made nothing says when its converter gave no diagnostic.
std::string ReasonOf(ConvertResult result, const SubjectFeedback& named) {
    if (named.lastNumber() != 0) {
        const MessageText* m = FindMessage(named.lastNumber());
        return m != nullptr ? EnglishMessage(*m, named.lastSubject()) : std::string();
    }
    switch (result) {
    case ConvertResult::InputEnded:
        return "the game file ends inside the item";
    case ConvertResult::OpenFailed:
        return "a file could not be opened or written";
    default:
        return "the item cannot be converted";
    }
}

// The name stem of each game file of a list: its file name without extension, or, where
// game files of different folders share that, its path relative to the source folder with
// the folders joined by "_". Files of one folder that share a stem (a bank's ".vh" and
// ".vb") share it, and their outputs share one numbering.
std::map<std::string, std::string> GameFileStems(const std::vector<std::string>& fileNames) {
    auto withoutExtension = [](std::string path) {
        const size_t slash = path.rfind('/');
        const size_t dot = path.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos ? dot > 0 : dot > slash + 1)) {
            path.resize(dot);
        }
        return path;
    };
    auto folderOf = [](const std::string& path) {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    };
    auto plainStem = [&](const std::string& path) {
        const std::string stem = withoutExtension(path);
        return stem.substr(stem.rfind('/') + 1);
    };
    std::map<std::string, std::set<std::string>> foldersOf;
    for (const std::string& name : fileNames) {
        foldersOf[plainStem(name)].insert(folderOf(name));
    }
    std::map<std::string, std::string> stems;
    for (const std::string& name : fileNames) {
        const std::string plain = plainStem(name);
        std::string stem = foldersOf[plain].size() > 1 ? withoutExtension(name) : plain;
        std::replace(stem.begin(), stem.end(), '/', '_');
        stems[name] = stem;
    }
    return stems;
}

// The distinct game-file names of the entries behind the header, in list order; the
// read position is back behind the header afterwards.
std::vector<std::string> ListedGameFiles(ListFile& list, const ConvertList& header) {
    std::vector<std::string> names;
    ListEntry entry;
    while (ReadEntry(list, entry)) {
        if (std::find(names.begin(), names.end(), entry.fileName) == names.end()) {
            names.push_back(entry.fileName);
        }
    }
    (void)list.SeekFromStart(5 + static_cast<int64_t>(header.pathLength));
    return names;
}

} // namespace

int ConversionProgress(uint32_t handled, uint32_t count) {
    if (count == 0) {
        // A damaged list whose count is 0 although entries follow: keep the bar at its start.
        return 0;
    }
    double position = 0;
    if (count < 100) {
        position = static_cast<double>(handled) / static_cast<double>(count) * 100.0;
    } else {
        position = static_cast<double>(handled) / (static_cast<double>(count) / 100.0);
    }
    // A count smaller than the entries that follow would run past the bar's end.
    if (position > 100.0) {
        return 100;
    }
    return static_cast<int>(position);
}

std::string ListTitleOf(const std::string& listPath) {
    // The extension runs from the last dot of the name, so a list named ".clg" has an
    // empty title (a leading dot does not make the whole name a title here).
    const std::string name = std::filesystem::path(listPath).filename().string();
    return name.substr(0, name.rfind('.'));
}

ConversionRunResult RunConversion(const std::string& listPath, const std::string& outputFolder,
                                  std::string_view listTitle, Feedback& feedback,
                                  const Converters& converters, ConvertedAhead* ahead) {
    ConversionRunResult outcome;
    ChunkFile file;
    const MessageSubject aboutList{listPath, -1, {}};
    if (!file.OpenRead(listPath)) {
        ShowNumberedMessage(feedback, MessageId::ListOpenFailed,
                            MessageSubject{listPath, -1, CannotReadReason(listPath)});
        return outcome;
    }
    ChunkListFile list(file);
    ConvertList header;
    switch (ReadHeader(list, header)) {
    case HeaderRead::ShortCount:
        ShowNumberedMessage(feedback, MessageId::ListCountCut, aboutList);
        return outcome;
    case HeaderRead::ShortPathLength:
        ShowNumberedMessage(feedback, MessageId::ListFolderLengthCut, aboutList);
        return outcome;
    case HeaderRead::ShortFolder:
        ShowNumberedMessage(feedback, MessageId::ListFolderCut, aboutList);
        return outcome;
    case HeaderRead::Ok:
        break;
    }
    outcome.ran = true;

    const std::string title(listTitle);
    std::string outputStem = outputFolder;
    if (outputStem.empty() || outputStem.back() != '/') {
        outputStem += '/';
    }
    // Output names: the list's title, or each game file's own stem.
    std::map<std::string, std::string> stems;
    if (converters.rules == RecognitionRules::Extended) {
        const std::vector<std::string> gameFiles = ListedGameFiles(list, header);
        if (gameFiles.size() > 1) {
            stems = GameFileStems(gameFiles);
        }
    }
    auto nameOf = [&stems, &title](const std::string& fileName) {
        const auto found = stems.find(fileName);
        return found != stems.end() ? found->second : title;
    };
    std::map<std::string, int> smfNumbers;
    std::map<std::string, int> dlsNumbers;
    uint32_t handled = 0;

    feedback.SetProgress(0);
    feedback.SetStatusText(kConvertingText);
    feedback.Refresh();

    auto fail = [&outcome](const ListEntry& e, const std::string& path, std::string reason,
                           const SubjectFeedback& named) {
        outcome.failures.push_back(
            {e.type, e.number, path, e.offset, std::move(reason), named.lastNumber()});
    };

    ListEntry entry;
    size_t next = 0; // the place in the list of the next entry read
    while (ReadEntry(list, entry)) {
        const size_t place = next++;
        bool endRun = false;
        if (entry.type == kTypeVh) {
            ListEntry body;
            if (!ReadEntry(list, body)) {
                ++outcome.itemsSkipped;
                break;
            }
            ++next;
            if (body.type == kTypeVb) {
                const std::string name = nameOf(entry.fileName);
                int& dlsNumber = dlsNumbers[name];
                feedback.SetStatusText(std::string(kDlsPrefix) + name + "_" + Numbered(dlsNumber) +
                                       kMakingSuffix);
                feedback.Refresh();
                const std::string dlsPath = outputStem + name + "_" + Numbered(dlsNumber) + ".dls";
                const std::string vhPath = GameFilePath(header.sourceFolder, entry.fileName);
                const std::string vbPath = GameFilePath(header.sourceFolder, body.fileName);
                SubjectFeedback named(feedback, [&](int number) {
                    switch (number) {
                    case NumberOf(MessageId::BankHeaderOpenFailed):
                        return MessageSubject{vhPath, -1, CannotReadReason(vhPath)};
                    case NumberOf(MessageId::BankBodyOpenFailed):
                        return MessageSubject{vbPath, -1, CannotReadReason(vbPath)};
                    default:
                        return MessageSubject{dlsPath, -1, CannotCreateReason(dlsPath)};
                    }
                });
                std::optional<BankOutcome> taken;
                if (ahead != nullptr) {
                    taken = ahead->TakeBank(place, entry, body, dlsPath, named);
                }
                const BankOutcome r = taken ? *taken
                                            : converters.vab(entry.offset, body.offset, vhPath,
                                                             vbPath, dlsPath, title, named);
                if (r.result == ConvertResult::Done || r.result == ConvertResult::PartlyDone) {
                    ++dlsNumber;
                    ++outcome.filesMade;
                    ++outcome.itemsMade;
                    ++handled;
                } else {
                    fail(entry, vhPath, r.failure.empty() ? ReasonOf(r.result, named) : r.failure,
                         named);
                }
                endRun = EndsRun(r.result);
            } else {
                // Not a pair: the entry read ahead is handled next in its own right.
                UnreadEntry(list, body);
                --next;
                ++outcome.itemsSkipped;
            }
        } else if (entry.type == kTypeSeq || entry.type == kTypeGpmSeq) {
            const std::string name = nameOf(entry.fileName);
            int& smfNumber = smfNumbers[name];
            feedback.SetStatusText(std::string(kSmfPrefix) + name + "_" + Numbered(smfNumber) +
                                   kMakingSuffix);
            feedback.Refresh();
            const std::string stem = outputStem + name + "_" + Numbered(smfNumber);
            const std::string gamePath = GameFilePath(header.sourceFolder, entry.fileName);
            const bool seq = entry.type == kTypeSeq;
            SubjectFeedback named(feedback, [&](int number) {
                if (number == NumberOf(MessageId::SeqInputOpenFailed) ||
                    number == NumberOf(MessageId::SsqInputOpenFailed)) {
                    return MessageSubject{gamePath, -1, CannotReadReason(gamePath)};
                }
                return MessageSubject{stem + ".mid", -1, CannotCreateReason(stem)};
            });
            const auto& convert = seq ? converters.seq : converters.ssq;
            std::optional<SequenceOutcome> taken;
            if (ahead != nullptr) {
                taken = ahead->TakeSequence(place, entry, stem, named);
            }
            const SequenceOutcome r = taken ? *taken : convert(entry.offset, gamePath, stem, named);
            outcome.filesMade += r.smfFilesMade;
            // A numbered set that fails part way has still completed files under this
            // number: moving on keeps the next item from writing over them.
            if (r.result == ConvertResult::Done || r.smfFilesMade > 0) {
                ++smfNumber;
            }
            if (r.result == ConvertResult::Done) {
                ++outcome.itemsMade;
            } else {
                fail(entry, gamePath, r.failure.empty() ? ReasonOf(r.result, named) : r.failure,
                     named);
            }
            endRun = EndsRun(r.result);
        } else {
            ++outcome.itemsSkipped;
        }
        if (endRun) {
            if (ahead != nullptr) {
                ahead->RunEnded();
            }
            outcome.endedEarly = true;
            // What the run does not reach is not done either.
            while (ReadEntry(list, entry)) {
                ++outcome.itemsSkipped;
            }
            break;
        }
        feedback.Refresh();
        ++handled;
        feedback.SetProgress(ConversionProgress(handled, header.count));
    }

    feedback.Refresh();
    feedback.SetProgress(100);
    char count[16];
    std::snprintf(count, sizeof count, "%2d", outcome.filesMade);
    feedback.SetStatusText(std::string(kFinishedPrefix) + count);
    return outcome;
}

std::optional<std::string> PrepareOutputFolder(std::string& folderText, Feedback& feedback) {
    // An empty box is no folder either (it would otherwise mean the working folder).
    if (folderText == kNoFolderChosenText || folderText.empty()) {
        ShowNumberedMessage(feedback, MessageId::OutputFolderMissing);
        return std::nullopt;
    }
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(folderText, ec).lexically_normal();
    std::string text = full.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    // The box shows the full path before the folder is made, so that a folder that
    // cannot be made is named in full behind its message.
    folderText = text;
    feedback.Refresh();
    // The one root of this platform needs no creating.
    if (text == "/") {
        return text;
    }
    if (!std::filesystem::is_directory(text, ec)) {
        if (!std::filesystem::create_directory(text, ec) || ec) {
            ShowNumberedMessage(feedback, MessageId::OutputFolderNotMade,
                                MessageSubject{text, -1, ec ? ec.message() : "not a folder"});
            return std::nullopt;
        }
    }
    return text;
}

std::optional<ConversionRunResult> StartConversion(std::string& folderText,
                                                   const std::optional<std::string>& chosenList,
                                                   Feedback& feedback,
                                                   const Converters& converters) {
    auto folder = PrepareOutputFolder(folderText, feedback);
    if (!folder) {
        return std::nullopt;
    }
    if (!chosenList) {
        feedback.Refresh();
        return std::nullopt;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*chosenList, ec)) {
        ShowNumberedMessage(feedback, MessageId::ChosenListNotAFile,
                            MessageSubject{*chosenList, -1,
                                           std::filesystem::exists(*chosenList, ec)
                                               ? "not a file"
                                               : CannotReadReason(*chosenList)});
        return std::nullopt;
    }
    ConversionRunResult r =
        RunConversion(*chosenList, *folder, ListTitleOf(*chosenList), feedback, converters);
    feedback.Refresh();
    return r;
}

} // namespace sonvex
