// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog services for tests: message boxes and questions are recorded and answered
// from a script, pickers return prepared choices, so no test waits on a modal box. And
// the preview player of a machine without a sound device.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_services.h"
#include "ui/preview_player.h"

namespace sonvex::test {

class ScriptedServices : public ui::DialogServices {
  public:
    struct Shown {
        std::string text;
        MessageIcon icon;
    };
    struct FolderRequest {
        QString title;
        QString prompt;
        QString current;
    };

    void ShowMessage(QWidget*, const QString& text, MessageIcon icon) override {
        messages.push_back({text.toStdString(), icon});
    }
    bool AskYesNo(QWidget*, const QString& text) override {
        questions.push_back(text.toStdString());
        const bool answer = yesNoAnswers.empty() ? false : yesNoAnswers.front();
        if (!yesNoAnswers.empty()) {
            yesNoAnswers.pop_front();
        }
        return answer;
    }
    std::optional<QString> ChooseFolder(QWidget*, const QString& title, const QString& prompt,
                                        const QString& current) override {
        folderRequests.push_back({title, prompt, current});
        return Next(folderAnswers);
    }
    std::optional<QString> ChooseListFile(QWidget*, const QString& startFolder) override {
        listPickerFolders.push_back(startFolder);
        return Next(listAnswers);
    }
    QStringList ChooseGameFiles(QWidget*, const QString& initialFolder) override {
        gamePickerFolders.push_back(initialFolder);
        if (gameAnswers.empty()) {
            return {};
        }
        QStringList answer = gameAnswers.front();
        gameAnswers.pop_front();
        return answer;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> out;
        for (const Shown& m : messages) {
            out.push_back(m.text);
        }
        return out;
    }

    // Answers, used front first; an empty queue answers "cancel" / "No".
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<std::optional<QString>> listAnswers;
    std::deque<QStringList> gameAnswers;

    // What was asked.
    std::vector<Shown> messages;
    std::vector<std::string> questions;
    std::vector<FolderRequest> folderRequests;
    std::vector<QString> listPickerFolders;
    std::vector<QString> gamePickerFolders;

  private:
    static std::optional<QString> Next(std::deque<std::optional<QString>>& queue) {
        if (queue.empty()) {
            return std::nullopt;
        }
        auto answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

// Player options whose engine cannot be made, as where no sound device opens.
inline ui::PlayerOptions WithoutSoundDevice() {
    ui::PlayerOptions options;
    options.createPerformance = [](const PerformanceOptions&, std::string* error) {
        *error = "no sound device";
        return std::unique_ptr<Performance>();
    };
    return options;
}

} // namespace sonvex::test
