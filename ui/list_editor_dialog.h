// SPDX-License-Identifier: GPL-3.0-or-later
// The convert list editor: a table of a list's entries that the user reorders and
// prunes, with a toolbar to move, delete and point the list at another folder; the list
// is rewritten when the window is closed and the user agrees.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "listedit/list_edit_file.h"

class QLabel;
class QTableWidget;

namespace sonvex::ui {

class TipToolBar;

class ListEditorDialog : public QDialog {
    Q_OBJECT
  public:
    // Loads the list at once; a list that cannot be read leaves the editor empty.
    ListEditorDialog(const QString& listPath, QWidget* parent = nullptr);

    int Selection() const { return selection_; }
    bool Modified() const { return modified_; }
    // The rows as the table holds them, top to bottom.
    std::vector<EditorRow> Rows() const;

    QTableWidget* Table() const { return table_; }
    TipToolBar* ToolBar() const { return toolBar_; }
    QLabel* FolderLabel() const { return folderLabel_; }

    // The toolbar's commands, also reachable for keyboard-free tests.
    void MoveUp();
    void MoveDown();
    void DeleteSelected();
    void ChangeFolder();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildWidgets();
    void Load();
    void FitWidth();
    void AppendRow(const EditorRow& row);
    void TrackSelection();
    void UpdateButtons();
    void SwapRows(int a, int b);
    void SelectRow(int row);
    void SaveOnClose();
    void ShowMessageOf(std::optional<MessageId> id);

    std::string listPath_;
    std::string sourceFolder_; // stored bytes, as read or as last changed
    int selection_ = -1;
    bool modified_ = false;
    bool folderChangeAllowed_ = false;

    TipToolBar* toolBar_ = nullptr;
    QLabel* folderLabel_ = nullptr;
    QTableWidget* table_ = nullptr;
};

// Text stored in a list, for showing: UTF-8 as it is, else CP932, else byte by byte.
QString DisplayTextOf(const std::string& stored);

} // namespace sonvex::ui
