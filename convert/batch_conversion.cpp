// SPDX-License-Identifier: GPL-3.0-or-later
// The batch conversion driver: list walk, output names, status texts and progress.
#include "convert/batch_conversion.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

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

std::string GamePath(const std::string& sourceFolder, const std::string& fileName) {
    return sourceFolder + "/" + fileName;
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
                                  const Converters& converters) {
    ConversionRunResult outcome;
    ChunkFile file;
    if (!file.OpenRead(listPath)) {
        ShowNumberedMessage(feedback, MessageId::ListOpenFailed);
        return outcome;
    }
    ChunkListFile list(file);
    ConvertList header;
    switch (ReadHeader(list, header)) {
    case HeaderRead::ShortCount:
        ShowNumberedMessage(feedback, MessageId::ListCountCut);
        return outcome;
    case HeaderRead::ShortPathLength:
        ShowNumberedMessage(feedback, MessageId::ListFolderLengthCut);
        return outcome;
    case HeaderRead::ShortFolder:
        ShowNumberedMessage(feedback, MessageId::ListFolderCut);
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
    outputStem += title;

    int smfNumber = 0;
    int dlsNumber = 0;
    uint32_t handled = 0;

    feedback.SetProgress(0);
    feedback.SetStatusText(kConvertingText);
    feedback.Refresh();

    ListEntry entry;
    while (ReadEntry(list, entry)) {
        bool endRun = false;
        if (entry.type == kTypeVh) {
            ListEntry body;
            if (!ReadEntry(list, body)) {
                break;
            }
            if (body.type == kTypeVb) {
                feedback.SetStatusText(std::string(kDlsPrefix) + title + "_" + Numbered(dlsNumber) +
                                       kMakingSuffix);
                feedback.Refresh();
                const std::string dlsPath = outputStem + "_" + Numbered(dlsNumber) + ".dls";
                const ConvertResult r = converters.vab(
                    entry.offset, body.offset, GamePath(header.sourceFolder, entry.fileName),
                    GamePath(header.sourceFolder, body.fileName), dlsPath, title, feedback);
                if (r == ConvertResult::Done || r == ConvertResult::PartlyDone) {
                    ++dlsNumber;
                    ++outcome.filesMade;
                    ++handled;
                }
                endRun = EndsRun(r);
            } else {
                // Not a pair: the entry read ahead is handled next in its own right.
                UnreadEntry(list, body);
            }
        } else if (entry.type == kTypeSeq || entry.type == kTypeGpmSeq) {
            feedback.SetStatusText(std::string(kSmfPrefix) + title + "_" + Numbered(smfNumber) +
                                   kMakingSuffix);
            feedback.Refresh();
            const std::string stem = outputStem + "_" + Numbered(smfNumber);
            const auto& convert = entry.type == kTypeSeq ? converters.seq : converters.ssq;
            const SequenceOutcome r = convert(
                entry.offset, GamePath(header.sourceFolder, entry.fileName), stem, feedback);
            outcome.filesMade += r.smfFilesMade;
            // A numbered set that fails part way has still completed files under this
            // number: moving on keeps the next item from writing over them.
            if (r.result == ConvertResult::Done || r.smfFilesMade > 0) {
                ++smfNumber;
            }
            endRun = EndsRun(r.result);
        }
        if (endRun) {
            outcome.endedEarly = true;
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
            ShowNumberedMessage(feedback, MessageId::OutputFolderNotMade);
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
        ShowNumberedMessage(feedback, MessageId::ChosenListNotAFile);
        return std::nullopt;
    }
    ConversionRunResult r =
        RunConversion(*chosenList, *folder, ListTitleOf(*chosenList), feedback, converters);
    feedback.Refresh();
    return r;
}

} // namespace sonvex
