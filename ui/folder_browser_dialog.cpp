// The folder browser's widgets and its preselection.
#include "ui/folder_browser_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

namespace sonvex::ui {

FolderBrowserDialog::FolderBrowserDialog(QWidget* owner, const QString& title, const QString& prompt,
                                         const QString& current)
    : QDialog(owner), prompt_(new QLabel(prompt, this)), tree_(new QTreeView(this)),
      model_(new QFileSystemModel(this)) {
    setObjectName("folderBrowser");
    setWindowTitle(title);
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

    SelectPath(current);
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
    tree_->scrollTo(index);
    tree_->expand(index.parent());
    return true;
}

} // namespace sonvex::ui
