// SPDX-License-Identifier: GPL-3.0-or-later
// The preview dialog's widgets, the listing of the work folder (DLS and SoundFont 2 banks,
// SMF and segment files), the selection rules that enable play and convert, the toolbar states the
// player asks for, and the row that a new segment file gets.
#include "ui/preview_dialog.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/messages.h"
#include "soundtrack/pairing.h"
#include "ui/dialog_services.h"
#include "ui/dialog_units.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui/string_table.h"
#include "ui/tip_tool_bar.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

// Layout in dialog units.
constexpr int kDialogWidth = 269;
constexpr int kDialogHeight = 247;
constexpr int kListsHeight = 217;
constexpr int kBankListX = 1;
constexpr int kSequenceListX = 135;
constexpr int kListWidth = 133;

// Columns, in pixels.
constexpr int kNameColumnWidth = 126;
constexpr int kSizeColumnWidth = 70;
constexpr int kFirstSeparatorWidth = 119;
constexpr int kSecondSeparatorWidth = 3;
constexpr int kStatusFontPixels = 12;
constexpr int kPaneMargin = 8; // pixels the loop pane leaves around its text

constexpr int kNameBytesRole = Qt::UserRole; // stored bytes behind a shown name

constexpr int kToolbarImage[] = {0, 1, 2, 3, 4}; // images of commands 2000 to 2004
constexpr int kConvertImage = 9;

// Row order: names ascending, letter case set aside unless it is all that differs.
class NameItem : public QTableWidgetItem {
  public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const int c = text().compare(other.text(), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : text() < other.text();
    }
};

// The row under the mouse is underlined, as a list with hot tracking shows it.
class HotTrackDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->state & QStyle::State_MouseOver) {
            option->font.setUnderline(true);
        }
    }
};

QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The size as the lists show it: the low 32 bits, in bytes, followed by "B".
std::string SizeText(uint64_t size) {
    char text[32];
    std::snprintf(text, sizeof text, "%luB",
                  static_cast<unsigned long>(static_cast<uint32_t>(size)));
    return text;
}

// Which list a name belongs in, from its last three letters in any case; -1 for none.
int IconForName(const std::string& name) {
    if (name.size() < 3) {
        return -1;
    }
    const std::string_view last = std::string_view(name).substr(name.size() - 3);
    if (SameFileName(last, "mid")) {
        return static_cast<int>(FileIcon::Smf);
    }
    if (SameFileName(last, "sgt")) {
        return static_cast<int>(FileIcon::Segment);
    }
    // SoundFont 2 banks play like DLS collections and share their list and icon.
    if (SameFileName(last, "dls") || SameFileName(last, "sf2")) {
        return static_cast<int>(FileIcon::Dls);
    }
    return -1;
}

// The row that a selection change made selected, or -1.
int SelectedRowOf(const QItemSelection& selected) {
    const QModelIndexList indexes = selected.indexes();
    return indexes.isEmpty() ? -1 : indexes.front().row();
}

} // namespace

PreviewDialog::PreviewDialog(std::string workFolder, PlayerOptions options, QWidget* parent)
    : QDialog(parent), workFolder_(std::move(workFolder)), player_(*this, std::move(options)) {
    BuildWidgets();
    FillLists();
    playerStarted_ = player_.StartUp(workFolder_, [this] {
        QCoreApplication::postEvent(this, new QEvent(kPlaybackNotifyEvent));
    });
    if (!playerStarted_) {
        // The lists and the segment builder need no sound device: the dialog stays, says
        // why nothing can play, and keeps the play buttons disabled.
        qWarning("preview: %s", player_.StartUpError().c_str());
        statusPane_->setText(Tr(kNoSoundDeviceText));
        statusPane_->setToolTip(QString::fromStdString(player_.StartUpError()));
    }
}

PreviewDialog::~PreviewDialog() {
    player_.Shutdown();
}

QTableWidget* PreviewDialog::MakeList(const char* objectName, const char* nameHeader) {
    auto* list = new QTableWidget(0, 2, this);
    list->setObjectName(objectName);
    list->setHorizontalHeaderLabels({Tr(nameHeader), Tr(kColumnSize)});
    list->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    list->setColumnWidth(0, kNameColumnWidth);
    list->setColumnWidth(1, kSizeColumnWidth);
    list->horizontalHeader()->setStretchLastSection(false);
    list->horizontalHeader()->setSectionsClickable(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(std::max(list->fontMetrics().height(), 16) + 4);
    list->setIconSize(QSize(16, 16));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->setMouseTracking(true);
    list->viewport()->setAttribute(Qt::WA_Hover);
    list->setItemDelegate(new HotTrackDelegate(list));
    return list;
}

void PreviewDialog::BuildWidgets() {
    setObjectName("previewDialog");
    setWindowTitle(Tr(kPreviewCaption));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont());
    const DialogUnits units = DialogUnits::FromFont(font());

    // The two lists side by side at their places.
    auto* lists = new QWidget(this);
    lists->setFixedHeight(units.Y(kListsHeight));
    bankList_ = MakeList("bankList", kColumnDlsFile);
    bankList_->setParent(lists);
    bankList_->setGeometry(units.Rect(kBankListX, 0, kListWidth, kListsHeight));
    sequenceList_ = MakeList("sequenceList", kColumnSequenceFile);
    sequenceList_->setParent(lists);
    sequenceList_->setGeometry(units.Rect(kSequenceListX, 0, kListWidth, kListsHeight));
    connect(sequenceList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                const int row = SelectedRowOf(selected);
                if (row >= 0) {
                    SequenceSelected(row);
                }
            });
    connect(bankList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                const int row = SelectedRowOf(selected);
                if (row >= 0) {
                    BankSelected(row);
                }
            });
    // A click on the bank the pairing selected is the user's choice too.
    connect(bankList_, &QTableWidget::cellClicked, this, [this] { bankChosenByUser_ = true; });

    // The toolbar at the bottom, a border on its top: five player buttons, two gaps and
    // the convert button, all disabled until a selection enables them.
    auto* border = new QFrame(this);
    border->setFrameShape(QFrame::HLine);
    border->setFrameShadow(QFrame::Sunken);
    toolBar_ = new TipToolBar(this, LoadStringEntry);
    toolBar_->setObjectName("previewToolBar");
    for (int id = kCommandPlay; id <= kCommandForward; ++id) {
        toolBar_->AddButton(id, PreviewToolbarIcon(kToolbarImage[id - kCommandPlay]));
        images_[id] = kToolbarImage[id - kCommandPlay];
    }
    for (int width : {kFirstSeparatorWidth, kSecondSeparatorWidth}) {
        auto* gap = new QWidget(toolBar_);
        gap->setFixedWidth(width);
        toolBar_->addWidget(gap);
    }
    toolBar_->AddButton(kCommandConvert, PreviewToolbarIcon(kConvertImage));
    images_[kCommandConvert] = kConvertImage;
    for (int id : {kCommandPlay, kCommandPause}) {
        toolBar_->Button(id)->setCheckable(true);
        pressed_[id] = false;
    }
    for (int id = kCommandPlay; id <= kCommandConvert; ++id) {
        toolBar_->EnableButton(id, false);
    }
    connect(toolBar_, &TipToolBar::Command, this, [this](int id) { RunCommand(id); });

    // Status bar: pane 0 without a border over what pane 1 leaves; pane 1 the loop pane.
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("previewStatusBar");
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setStyleSheet("QStatusBar::item { border: none; }");
    const QFont paneFont = DialogFontPixels(kStatusFontPixels);
    statusPane_ = new QLabel(Tr(kReadyText), statusBar_);
    statusPane_->setObjectName("statusPane");
    statusPane_->setFont(paneFont);
    statusBar_->addWidget(statusPane_, 1);
    const QString loopAtRest = TrReported(LoadStringEntry(kStringLoopPane));
    loopPane_ = new QLabel(loopAtRest, statusBar_);
    loopPane_->setObjectName("loopPane");
    loopPane_->setFont(paneFont);
    loopPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    const QFontMetrics paneMetrics(paneFont);
    loopPane_->setFixedWidth(std::max(paneMetrics.horizontalAdvance(loopAtRest),
                                      paneMetrics.horizontalAdvance(TrReported(kLoopEndlessText))) +
                             kPaneMargin);
    statusBar_->addPermanentWidget(loopPane_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lists);
    layout->addStretch(1);
    layout->addWidget(border);
    layout->addWidget(toolBar_);
    layout->addWidget(statusBar_);

    const int width = std::max(units.X(kDialogWidth), toolBar_->sizeHint().width());
    const int height =
        std::max(units.Y(kDialogHeight), units.Y(kListsHeight) + border->sizeHint().height() +
                                             toolBar_->sizeHint().height() +
                                             statusBar_->sizeHint().height());
    setFixedSize(width, height);
}

void PreviewDialog::FillLists() {
    if (workFolder_.empty()) {
        return;
    }
    // Everything in the folder, files and folders alike; a folder counts 0 bytes.
    std::error_code ec;
    std::filesystem::directory_iterator it(workFolder_, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const int icon = IconForName(name);
        if (icon < 0) {
            continue;
        }
        std::error_code sizeError;
        uint64_t size = 0;
        if (it->is_regular_file(sizeError)) {
            size = it->file_size(sizeError);
            if (sizeError) {
                size = 0;
            }
        }
        AddRow(icon == static_cast<int>(FileIcon::Dls) ? bankList_ : sequenceList_, name,
               SizeText(size), icon);
    }
    for (QTableWidget* list : {bankList_, sequenceList_}) {
        list->sortItems(0, Qt::AscendingOrder);
        FitNameColumn(list);
    }
}

void PreviewDialog::FitNameColumn(QTableWidget* list) {
    // The name column keeps its width unless a name would be cut (a wide fallback font,
    // long names).
    list->resizeColumnToContents(0);
    list->setColumnWidth(0, std::max(kNameColumnWidth, list->columnWidth(0)));
}

void PreviewDialog::AddRow(QTableWidget* list, const std::string& name, const std::string& sizeText,
                           int icon) {
    const int row = list->rowCount();
    list->insertRow(row);
    auto* nameItem = new NameItem(PreviewFileIcon(static_cast<FileIcon>(icon)), FromBytes(name));
    nameItem->setData(kNameBytesRole, QByteArray::fromStdString(name));
    auto* sizeItem = new QTableWidgetItem(QString::fromStdString(sizeText));
    sizeItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    list->setItem(row, 0, nameItem);
    list->setItem(row, 1, sizeItem);
}

std::string PreviewDialog::NameAt(const QTableWidget* list, int row) {
    const QTableWidgetItem* item = list->item(row, 0);
    return item == nullptr ? std::string() : item->data(kNameBytesRole).toByteArray().toStdString();
}

void PreviewDialog::EnablePlay(bool enable) {
    // Without a sound device nothing can play, whatever is selected.
    EnableButton(kCommandPlay, enable && playerStarted_);
}

void PreviewDialog::SequenceSelected(int row) {
    selectedSequenceRow_ = row;
    player_.SetSelectedSequence(NameAt(sequenceList_, row));
    MarkPairedBank();
    if (player_.IsPlaying()) {
        player_.ChangeSequence();
        return;
    }
    const std::string& name = player_.SelectedSequence();
    if (IsSegmentName(name)) {
        EnablePlay(true);
        EnableButton(kCommandConvert, false);
    } else if (IsSmfName(name) && !player_.SelectedBank().empty()) {
        EnablePlay(true);
        EnableButton(kCommandConvert, true);
    }
}

// Shows the bank the pairing chose for the selected SMF in bold and, until the user has
// picked a bank, selects it.
void PreviewDialog::MarkPairedBank() {
    const std::string& song = player_.SelectedSequence();
    if (!pairing_) {
        pairing_ = PairFolder(workFolder_);
    }
    const auto found = IsSmfName(song) ? pairing_->find(song) : pairing_->end();
    pairedBankRow_ = -1;
    for (int row = 0; row < bankList_->rowCount(); ++row) {
        QTableWidgetItem* item = bankList_->item(row, 0);
        const bool paired = found != pairing_->end() && NameAt(bankList_, row) == found->second;
        QFont font = item->font();
        font.setBold(paired);
        item->setFont(font);
        if (paired) {
            pairedBankRow_ = row;
        }
    }
    if (pairedBankRow_ >= 0 && !bankChosenByUser_) {
        const QSignalBlocker quiet(bankList_->selectionModel());
        bankList_->selectRow(pairedBankRow_);
        player_.SetSelectedBank(NameAt(bankList_, pairedBankRow_));
    }
}

void PreviewDialog::BankSelected(int row) {
    bankChosenByUser_ = true;
    player_.SetSelectedBank(NameAt(bankList_, row));
    const bool smf = IsSmfName(player_.SelectedSequence());
    if (player_.IsPlaying()) {
        if (smf) {
            player_.ChangeBank();
        }
        return;
    }
    if (smf) {
        EnablePlay(true);
        EnableButton(kCommandConvert, true);
    }
}

void PreviewDialog::RunCommand(int commandId) {
    // A click toggles a checkable button on its own; the player decides how it looks.
    for (const auto& [id, pressed] : pressed_) {
        toolBar_->Button(id)->setChecked(pressed);
    }
    switch (commandId) {
    case kCommandPlay:
        player_.Play();
        break;
    case kCommandPause:
        player_.PauseResume();
        break;
    case kCommandStop:
        player_.Stop();
        break;
    case kCommandConvert:
        ConvertToSegment();
        break;
    default:
        break; // "back" and "forward" have no command
    }
}

void PreviewDialog::ConvertToSegment() {
    if (IsSoundFontName(player_.SelectedBank())) {
        statusPane_->setText(Tr(kSegmentNeedsDlsText));
        return;
    }
    SegmentJob job;
    job.workFolder = workFolder_;
    job.smfName = player_.SelectedSequence();
    job.dlsName = player_.SelectedBank();
    job.selectedSmfRow = selectedSequenceRow_;
    SegmentCallbacks callbacks;
    callbacks.stopPlayback = [this] { player_.StopLoadedSegment(); };
    callbacks.updateRow = [this](const SegmentRowUpdate& update) { UpdateSegmentRow(update); };
    callbacks.clearLoaderCache = [this] { player_.ClearLoaderCache(); };
    // The builder shows its own messages and status text; nothing follows here.
    static_cast<void>(ConvertSmfToSegment(job, *this, callbacks));
}

void PreviewDialog::UpdateSegmentRow(const SegmentRowUpdate& update) {
    const int below = update.selectedSmfRow + 1;
    if (below >= 0 && below < sequenceList_->rowCount() &&
        SameFileName(NameAt(sequenceList_, below), update.outputName)) {
        sequenceList_->removeRow(below);
    }
    AddRow(sequenceList_, update.outputName, update.sizeText, static_cast<int>(FileIcon::Segment));
    sequenceList_->sortItems(0, Qt::AscendingOrder);
    FitNameColumn(sequenceList_);
    // Sorting moves rows: the selected SMF row is wherever its selection went.
    const QModelIndexList selected = sequenceList_->selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        selectedSequenceRow_ = selected.front().row();
    }
}

int PreviewDialog::ButtonImage(int commandId) const {
    const auto it = images_.find(commandId);
    return it == images_.end() ? -1 : it->second;
}

bool PreviewDialog::ButtonPressed(int commandId) const {
    const auto it = pressed_.find(commandId);
    return it != pressed_.end() && it->second;
}

void PreviewDialog::SetButtonImage(int commandId, int image) {
    if (QAction* action = toolBar_->Button(commandId)) {
        action->setIcon(PreviewToolbarIcon(image));
        images_[commandId] = image;
    }
}

void PreviewDialog::SetButtonPressed(int commandId, bool pressed) {
    if (QAction* action = toolBar_->Button(commandId)) {
        pressed_[commandId] = pressed;
        action->setChecked(pressed);
    }
}

void PreviewDialog::EnableButton(int commandId, bool enable) {
    // A segment names a DLS file; with a SoundFont selected the convert button stays off
    // and the status pane says why.
    if (commandId == kCommandConvert) {
        const bool soundFont = IsSoundFontName(player_.SelectedBank());
        if (enable && soundFont) {
            statusPane_->setText(Tr(kSegmentNeedsDlsText));
            enable = false;
        } else if (statusPane_->text() == Tr(kSegmentNeedsDlsText)) {
            statusPane_->setText(Tr(playerStarted_ ? kReadyText : kNoSoundDeviceText));
        }
    }
    toolBar_->EnableButton(commandId, enable);
}

void PreviewDialog::SetLoopText(const std::string& text) {
    loopPane_->setText(TrReported(text));
}

void PreviewDialog::ShowNumberedMessage(MessageId id) {
    sonvex::ShowNumberedMessage(*this, id);
}

void PreviewDialog::ShowPlayerStatus(const std::string& text) {
    // The player's own words name programs and files; they are shown as they are, in full
    // in the tooltip where the pane is too narrow.
    statusPane_->setText(QString::fromStdString(text));
    statusPane_->setToolTip(QString::fromStdString(text));
}

void PreviewDialog::ShowMessage(std::string_view text, MessageIcon icon) {
    ActiveDialogServices().ShowMessage(this, TrReported(text), icon);
}

void PreviewDialog::SetStatusText(std::string_view text) {
    statusPane_->setText(TrReported(text));
}

void PreviewDialog::SetProgress(int) {}

void PreviewDialog::SetGamePath(std::string_view) {}

void PreviewDialog::Refresh() {
    repaint();
}

void PreviewDialog::done(int result) {
    player_.Shutdown();
    QDialog::done(result);
}

bool PreviewDialog::event(QEvent* event) {
    if (event->type() == kPlaybackNotifyEvent) {
        player_.OnNotification();
        return true;
    }
    return QDialog::event(event);
}

void PreviewDialog::keyPressEvent(QKeyEvent* event) {
    // Enter ends the dialog like the close box and Escape.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sonvex::ui
