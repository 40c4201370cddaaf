// SPDX-License-Identifier: GPL-3.0-or-later
// The preview-and-convert dialog: the DLS and SoundFont 2 files and the SMF and segment
// files of the output folder side by side, the player's toolbar and loop pane, and the
// command that turns the chosen SMF and DLS into a segment file.
#pragma once

#include <QDialog>
#include <QEvent>
#include <map>
#include <optional>
#include <string>

#include "platform/feedback.h"
#include "segment/segment_converter.h"
#include "ui/preview_player.h"

class QLabel;
class QStatusBar;
class QTableWidget;

namespace sonvex::ui {

class TipToolBar;

// The notifier thread's wake-up, posted to the dialog.
inline const QEvent::Type kPlaybackNotifyEvent = static_cast<QEvent::Type>(QEvent::User + 100);

class PreviewDialog : public QDialog, public Feedback, private PlayerView {
    Q_OBJECT
  public:
    // Lists the files of `workFolder` and starts the player. When the player cannot start
    // (no sound device), the dialog still lists and converts, its play buttons stay
    // disabled and its status pane says that no sound device could be opened.
    explicit PreviewDialog(std::string workFolder, PlayerOptions options = {},
                           QWidget* parent = nullptr);
    ~PreviewDialog() override;

    const std::string& WorkFolder() const { return workFolder_; }
    bool PlayerStarted() const { return playerStarted_; }
    PreviewPlayer& Player() { return player_; }
    QTableWidget* BankList() const { return bankList_; }
    QTableWidget* SequenceList() const { return sequenceList_; }
    TipToolBar* ToolBar() const { return toolBar_; }
    QLabel* StatusPane() const { return statusPane_; }
    QLabel* LoopPane() const { return loopPane_; }
    // The toolbar image a button shows, and whether it looks pressed.
    int ButtonImage(int commandId) const;
    bool ButtonPressed(int commandId) const;
    int SelectedSequenceRow() const { return selectedSequenceRow_; }
    // The DLS list row of the bank the pairing chose for the selected SMF (shown in bold),
    // -1 when there is none.
    int PairedBankRow() const { return pairedBankRow_; }
    // The stored file name of a list row (column 0).
    static std::string NameAt(const QTableWidget* list, int row);

    // The toolbar's commands: play, pause, stop (player) and convert (segment builder).
    void RunCommand(int commandId);
    void ConvertToSegment();

    // Feedback of the segment builder: message boxes and status pane 0.
    void ShowMessage(std::string_view text, MessageIcon icon) override;
    void SetStatusText(std::string_view text) override;
    void SetProgress(int position) override;
    void SetGamePath(std::string_view path) override;
    void Refresh() override;

  public slots:
    // Every way out runs the player's shut-down first.
    void done(int result) override;

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // PlayerView
    void SetButtonImage(int commandId, int image) override;
    void SetButtonPressed(int commandId, bool pressed) override;
    void EnableButton(int commandId, bool enable) override;
    void SetLoopText(const std::string& text) override;
    void ShowNumberedMessage(MessageId id) override;
    void ShowPlayerStatus(const std::string& text) override;

    void BuildWidgets();
    QTableWidget* MakeList(const char* objectName, const char* nameHeader);
    void FillLists();
    void FitNameColumn(QTableWidget* list);
    void AddRow(QTableWidget* list, const std::string& name, const std::string& sizeText, int icon);
    void EnablePlay(bool enable);
    void SequenceSelected(int row);
    void BankSelected(int row);
    void MarkPairedBank();
    void UpdateSegmentRow(const SegmentRowUpdate& update);

    std::string workFolder_;
    PreviewPlayer player_;
    bool playerStarted_ = false;
    int selectedSequenceRow_ = -1;
    int pairedBankRow_ = -1;
    bool bankChosenByUser_ = false;
    std::optional<std::map<std::string, std::string>> pairing_; // SMF name to DLS name
    std::map<int, int> images_;
    std::map<int, bool> pressed_;

    QTableWidget* bankList_ = nullptr;
    QTableWidget* sequenceList_ = nullptr;
    TipToolBar* toolBar_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusPane_ = nullptr;
    QLabel* loopPane_ = nullptr;
};

} // namespace sonvex::ui
