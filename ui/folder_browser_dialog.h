// SPDX-License-Identifier: GPL-3.0-or-later
// The folder browser: a tree of the file system's folders under a prompt, with the
// current folder preselected.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLabel;
class QTreeView;

namespace sonvex::ui {

class FolderBrowserDialog : public QDialog {
    Q_OBJECT
  public:
    FolderBrowserDialog(QWidget* owner, const QString& title, const QString& prompt,
                        const QString& current);

    // The folder highlighted in the tree; empty when none is.
    QString SelectedPath() const;
    // Highlights `path` in the tree, expanding its parents; false when it is no folder.
    bool SelectPath(const QString& path);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ScrollToPending();

    QLabel* prompt_;
    QTreeView* tree_;
    QFileSystemModel* model_;
    QString pending_;           // preselected folder still to be scrolled into view
    bool parentLoaded_ = false; // the model has read the pending folder's parent
};

} // namespace sonvex::ui
