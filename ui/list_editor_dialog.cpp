// SPDX-License-Identifier: GPL-3.0-or-later
// The list editor's widgets, selection rules, row moves and deletes, folder change and
// the save on close.
#include "ui/list_editor_dialog.h"

#include <algorithm>

#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/code_page.h"
#include "platform/messages.h"
#include "ui/dialog_services.h"
#include "ui/dialog_units.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui/string_table.h"
#include "ui/tip_tool_bar.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

enum Column {
    kColumnTypeIndex = 0,
    kColumnNumberIndex,
    kColumnOffsetIndex,
    kColumnNameIndex,
    kColumnCount
};

constexpr int kColumnWidths[kColumnCount] = {70, 60, 70, 110}; // pixels
constexpr int kFolderLabelWidth = 237;                         // pixels of toolbar position 0
constexpr int kGapWidth = 3;                                   // pixels of toolbar position 1
constexpr int kNameBytesRole = Qt::UserRole;                   // stored bytes behind a shown text

} // namespace

QString DisplayTextOf(const std::string& stored) {
    if (IsValidUtf8(stored)) {
        return QString::fromStdString(stored);
    }
    if (const auto converted = Cp932ToUtf8(stored)) {
        return QString::fromStdString(*converted);
    }
    return QString::fromLatin1(stored.data(), static_cast<qsizetype>(stored.size()));
}

ListEditorDialog::ListEditorDialog(const QString& listPath, QWidget* parent)
    : QDialog(parent), listPath_(listPath.toStdString()) {
    BuildWidgets();
    Load();
    FitWidth();
}

void ListEditorDialog::BuildWidgets() {
    setObjectName("listEditor");
    setFont(DialogFont());
    setWindowIcon(ProgramIcon());

    toolBar_ = new TipToolBar(this, LoadStringEntry);
    toolBar_->setObjectName("listToolBar");

    // Position 0: the folder label, one pixel in from the left, centred vertically.
    auto* labelHolder = new QWidget(toolBar_);
    labelHolder->setFixedWidth(kFolderLabelWidth);
    folderLabel_ = new QLabel(labelHolder);
    folderLabel_->setObjectName("folderLabel");
    folderLabel_->setFont(toolBar_->font());
    folderLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* holderLayout = new QVBoxLayout(labelHolder);
    holderLayout->setContentsMargins(1, 0, 0, 0);
    holderLayout->addWidget(folderLabel_);
    toolBar_->addWidget(labelHolder);
    // Position 1: a narrow gap before the buttons.
    auto* gap = new QWidget(toolBar_);
    gap->setFixedWidth(kGapWidth);
    toolBar_->addWidget(gap);

    toolBar_->AddButton(kCommandMoveUp, ListToolbarIcon(0));
    toolBar_->AddButton(kCommandMoveDown, ListToolbarIcon(1));
    toolBar_->AddButton(kCommandDelete, ListToolbarIcon(2));
    toolBar_->AddButton(kCommandChangeFolder, ListToolbarIcon(3));
    for (int id : {kCommandMoveUp, kCommandMoveDown, kCommandDelete, kCommandChangeFolder}) {
        toolBar_->EnableButton(id, false);
    }
    connect(toolBar_, &TipToolBar::Command, this, [this](int id) {
        switch (id) {
        case kCommandMoveUp:
            MoveUp();
            break;
        case kCommandMoveDown:
            MoveDown();
            break;
        case kCommandDelete:
            DeleteSelected();
            break;
        case kCommandChangeFolder:
            ChangeFolder();
            break;
        default:
            break;
        }
    });

    auto* border = new QFrame(this);
    border->setFrameShape(QFrame::HLine);
    border->setFrameShadow(QFrame::Sunken);

    table_ = new QTableWidget(0, kColumnCount, this);
    table_->setObjectName("entryTable");
    table_->setHorizontalHeaderLabels(
        {Tr(kColumnType), Tr(kColumnNumber), Tr(kColumnOffset), Tr(kColumnFileName)});
    table_->horizontalHeaderItem(kColumnNumberIndex)
        ->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->horizontalHeaderItem(kColumnOffsetIndex)
        ->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->horizontalHeaderItem(kColumnTypeIndex)
        ->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table_->horizontalHeaderItem(kColumnNameIndex)
        ->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < kColumnCount; ++c) {
        table_->setColumnWidth(c, kColumnWidths[c]);
    }
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(true);
    table_->setWordWrap(false);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { TrackSelection(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar_);
    layout->addWidget(border);
    layout->addWidget(table_, 1);

    const DialogUnits units = DialogUnits::FromFont(font());
    resize(units.X(191), units.Y(223));
}

void ListEditorDialog::FitWidth() {
    // The toolbar and the four columns must fit even when the fallback font is wide.
    int columnsWidth = table_->verticalScrollBar()->sizeHint().width() + 2 * table_->frameWidth();
    for (int c = 0; c < kColumnCount; ++c) {
        columnsWidth += table_->columnWidth(c);
    }
    resize(std::max({width(), toolBar_->sizeHint().width(), columnsWidth}), height());
}

void ListEditorDialog::Load() {
    sourceFolder_.clear();
    modified_ = false;
    setWindowTitle(Tr(kListEditorTitlePrefix) +
                   QString::fromStdString(listPath_.substr(listPath_.find_last_of('/') + 1)));

    const EditorLoad load = LoadListRows(listPath_);
    if (load.status == EditorLoadStatus::OpenFailed) {
        ShowMessageOf(MessageOf(load.status));
        return;
    }
    if (load.status == EditorLoadStatus::ShortHeader) {
        return;
    }
    sourceFolder_ = load.sourceFolder;
    folderLabel_->setText(DisplayTextOf(sourceFolder_));
    for (const EditorRow& row : load.rows) {
        AppendRow(row);
    }
    // Columns keep their widths unless a text would be cut (a wide fallback font, a
    // type code without a name).
    for (int c = 0; c < kColumnCount; ++c) {
        table_->resizeColumnToContents(c);
        table_->setColumnWidth(c, std::max(kColumnWidths[c], table_->columnWidth(c)));
    }
    if (load.status == EditorLoadStatus::Ok) {
        folderChangeAllowed_ = true;
        toolBar_->EnableButton(kCommandChangeFolder, true);
        selection_ = -1;
    }
}

void ListEditorDialog::AppendRow(const EditorRow& row) {
    const int r = table_->rowCount();
    table_->insertRow(r);
    auto* type = new QTableWidgetItem(QString::fromStdString(row.type));
    auto* number = new QTableWidgetItem(QString::fromStdString(row.number));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* offset = new QTableWidgetItem(QString::fromStdString(row.offset));
    offset->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* name = new QTableWidgetItem(DisplayTextOf(row.fileName));
    name->setData(kNameBytesRole, QByteArray::fromStdString(row.fileName));
    table_->setItem(r, kColumnTypeIndex, type);
    table_->setItem(r, kColumnNumberIndex, number);
    table_->setItem(r, kColumnOffsetIndex, offset);
    table_->setItem(r, kColumnNameIndex, name);
}

std::vector<EditorRow> ListEditorDialog::Rows() const {
    std::vector<EditorRow> rows;
    for (int r = 0; r < table_->rowCount(); ++r) {
        EditorRow row;
        auto text = [&](int column) {
            const QTableWidgetItem* item = table_->item(r, column);
            return item ? item->text().toStdString() : std::string();
        };
        row.type = text(kColumnTypeIndex);
        row.number = text(kColumnNumberIndex);
        row.offset = text(kColumnOffsetIndex);
        if (const QTableWidgetItem* name = table_->item(r, kColumnNameIndex)) {
            row.fileName = name->data(kNameBytesRole).toByteArray().toStdString();
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void ListEditorDialog::TrackSelection() {
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    selection_ = selected.isEmpty() ? -1 : selected.front().row();
    UpdateButtons();
}

void ListEditorDialog::UpdateButtons() {
    const int rows = table_->rowCount();
    toolBar_->EnableButton(kCommandDelete, selection_ != -1);
    toolBar_->EnableButton(kCommandMoveUp, selection_ > 0);
    toolBar_->EnableButton(kCommandMoveDown, selection_ >= 0 && selection_ <= rows - 2);
    toolBar_->EnableButton(kCommandChangeFolder, folderChangeAllowed_);
}

void ListEditorDialog::SelectRow(int row) {
    table_->setCurrentCell(row, kColumnTypeIndex,
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollToItem(table_->item(row, kColumnTypeIndex));
}

void ListEditorDialog::SwapRows(int a, int b) {
    for (int c = 0; c < kColumnCount; ++c) {
        QTableWidgetItem* first = table_->takeItem(a, c);
        QTableWidgetItem* second = table_->takeItem(b, c);
        table_->setItem(a, c, second);
        table_->setItem(b, c, first);
    }
}

void ListEditorDialog::MoveUp() {
    const int s = selection_;
    if (s <= 0 || s >= table_->rowCount()) {
        return;
    }
    SwapRows(s, s - 1);
    SelectRow(s - 1);
    modified_ = true;
}

void ListEditorDialog::MoveDown() {
    const int s = selection_;
    if (s < 0 || s > table_->rowCount() - 2) {
        return;
    }
    SwapRows(s, s + 1);
    SelectRow(s + 1);
    modified_ = true;
}

void ListEditorDialog::DeleteSelected() {
    int s = selection_;
    if (s < 0 || s >= table_->rowCount()) {
        return;
    }
    table_->removeRow(s);
    modified_ = true;
    if (table_->rowCount() > 0) {
        if (s == table_->rowCount()) {
            --s;
        }
        SelectRow(s);
    }
    // While a row is removed the view reports selections with the old row numbers, and
    // selecting a row that is already selected reports nothing: read the selection anew.
    TrackSelection();
}

void ListEditorDialog::ChangeFolder() {
    if (sourceFolder_.empty()) {
        ShowMessageOf(MessageOf(FolderChangeResult::NoSourceFolder));
        return;
    }
    const QString current = DisplayTextOf(sourceFolder_);
    const auto chosen = ActiveDialogServices().ChooseFolder(
        this, Tr(kFolderBrowserTitle), Tr(kSourceFolderPrompt) + current, current);
    if (!chosen || chosen->isEmpty()) {
        return;
    }
    const std::string folder = chosen->toStdString();
    const FolderChangeResult result = ChangeListFolder(listPath_, sourceFolder_, folder);
    if (result != FolderChangeResult::Done) {
        ShowMessageOf(MessageOf(result));
        return;
    }
    sourceFolder_ = folder;
    folderLabel_->setText(DisplayTextOf(sourceFolder_));
}

void ListEditorDialog::SaveOnClose() {
    if (!modified_) {
        return;
    }
    if (!ActiveDialogServices().AskYesNo(this, Tr(kSaveQuestion))) {
        return;
    }
    ShowMessageOf(MessageOf(SaveListRows(listPath_, Rows())));
}

// The list file layer names its messages by number; 0 means none is due.
void ListEditorDialog::ShowMessageOf(std::optional<MessageId> id) {
    if (!id) {
        return;
    }
    const MessageText& message = Message(*id);
    ActiveDialogServices().ShowMessage(this, TrReported(message.text), message.icon);
}

void ListEditorDialog::closeEvent(QCloseEvent* event) {
    SaveOnClose();
    QDialog::closeEvent(event);
}

void ListEditorDialog::keyPressEvent(QKeyEvent* event) {
    // Enter ends the editor at once, like Escape: no question, nothing saved.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sonvex::ui
