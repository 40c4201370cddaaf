// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the game-file and output-folder boxes, the five command buttons,
// the vertical progress bar and the status bar, and the Feedback the long operations
// report through.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <string>

#include "platform/feedback.h"
#include "ui/app_settings.h"
#include "ui/dialog_units.h"
#include "ui/preview_player.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace sonvex::ui {

class MainDialog : public QDialog, public Feedback {
    Q_OBJECT
  public:
    static constexpr qint64 kRepaintIntervalMs = 250;

    // `programFolder` holds the convert lists the analysis writes and the pickers open.
    explicit MainDialog(std::string programFolder, QWidget* parent = nullptr);

    // The members behind the two boxes, and the file type carried through.
    void SetSettings(const AppSettings& settings);
    AppSettings Settings() const;
    const std::string& OutputFolder() const { return outputFolder_; }
    const std::string& ListFile() const { return listFile_; }
    const std::string& ProgramFolder() const { return programFolder_; }
    QString StatusText() const;
    int Progress() const;

    // "Store": both boxes into their members. "Show": both members into their boxes.
    void Store();
    void Show();

    // The commands of the five buttons.
    void Analyze();
    void Convert();
    void ChooseOutputFolder();
    void Listen();
    void EditList();

    // How the preview dialog's player makes its sound (tests: the null output).
    void SetPlayerOptions(PlayerOptions options) { playerOptions_ = std::move(options); }

    // Feedback: status pane 0, the progress bar, message boxes and repainting. The status
    // text and progress wait in members until Refresh copies them to the controls and
    // repaints: at once when the status text or the game path changed, and for a new
    // progress value alone at most once every kRepaintIntervalMs. A message box and the end
    // of the analysis or conversion show what is left waiting.
    void ShowMessage(std::string_view text, MessageIcon icon) override;
    void SetStatusText(std::string_view text) override;
    void SetProgress(int position) override;
    void SetGamePath(std::string_view path) override;
    void Refresh() override;

  public slots:
    // Close box and Escape: store, then end with "rejected" (the settings are written).
    void reject() override;
    // Enter: store, then end with "accepted" (the settings are left alone).
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildWidgets();
    // Copies the members to the boxes, the status pane and the progress bar, repaints and
    // lets the pending paint events through.
    void PaintNow();
    // The waiting values onto their controls, and the refresh a throttled Refresh skipped.
    void ShowWaitingFeedback();
    void ApplyStatusAndProgress();
    QPushButton* AddButton(const char* text, const char* name, int x);

    std::string programFolder_;
    std::string inputFile_;
    std::string outputFolder_;
    int fileType_ = 0;
    std::string listFile_;
    bool opened_ = false;
    QString statusText_;
    int progressValue_ = 0;
    QElapsedTimer lastRepaint_;
    bool refreshSkipped_ = false;
    bool textChanged_ = false; // status text or game path, since the last repaint
    DialogUnits units_{1, 1};  // the layout's units, set before any control is placed
    PlayerOptions playerOptions_;

    QLineEdit* inputEdit_ = nullptr;
    QLineEdit* outputEdit_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusPane_ = nullptr;
};

} // namespace sonvex::ui
