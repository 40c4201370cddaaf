// SPDX-License-Identifier: GPL-3.0-or-later
// The folder browser's widgets and its preselection.
#include "ui/folder_browser_dialog.h"

#include "ui/dialog_units.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace sonvex::ui {

FolderBrowserDialog::FolderBrowserDialog(QWidget* owner, const QString& title,
                                         const QString& prompt, const QString& current)
    : QDialog(owner), prompt_(new QLabel(prompt, this)), tree_(new QTreeView(this)),
      model_(new QFileSystemModel(this)) {
    setObjectName("folderBrowser");
    setWindowTitle(title);
    setFont(DialogFont());
    prompt_->setWordWrap(true);
    prompt_->setObjectName("folderPrompt");

    // Folders of the file system only: no files, no "." and "..".
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath("/");
    tree_->setObjectName("folderTree");
    tree_->setModel(model_);
    tree_->setRootIndex(model_->index("/"));
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addWidget(tree_, 1);
    layout->addWidget(buttons);
    resize(360, 400);

    // The model reads folders in the background and sorts them a moment later: once the
    // preselected folder's parent is read, bring the folder into view again.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (!pending_.isEmpty() && QFileInfo(pending_).absolutePath() == loaded) {
            parentLoaded_ = true;
            QTimer::singleShot(100, this, [this] { ScrollToPending(); });
        }
    });
    SelectPath(current);
}

void FolderBrowserDialog::ScrollToPending() {
    if (pending_.isEmpty()) {
        return;
    }
    const QModelIndex index = model_->index(pending_);
    if (index.isValid() && tree_->currentIndex() == index) {
        tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    }
    // Done once the view has seen the parent's rows; until then later calls try again.
    if (isVisible() && parentLoaded_) {
        pending_.clear();
    }
}

void FolderBrowserDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QTimer::singleShot(300, this, [this] { ScrollToPending(); });
}

QString FolderBrowserDialog::SelectedPath() const {
    const QModelIndex index = tree_->currentIndex();
    if (!index.isValid()) {
        return {};
    }
    return model_->filePath(index);
}

bool FolderBrowserDialog::SelectPath(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return false;
    }
    const QModelIndex index = model_->index(QFileInfo(path).absoluteFilePath());
    if (!index.isValid()) {
        return false;
    }
    tree_->setCurrentIndex(index);
    tree_->expand(index.parent());
    tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    pending_ = model_->filePath(index);
    parentLoaded_ = false;
    return true;
}

} // namespace sonvex::ui
