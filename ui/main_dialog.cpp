// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's layout in dialog units, its commands and its Feedback.
#include "ui/main_dialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "analysis/analysis_run.h"
#include "convert/batch_conversion.h"
#include "platform/messages.h"
#include "ui/dialog_services.h"
#include "ui/dialog_units.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui/list_editor_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

constexpr int kStatusFontPixels = 12;

// Layout of the dialog in dialog units (x, y, width, height).
constexpr int kDialogWidth = 127;
constexpr int kDialogHeight = 49;
constexpr int kLineY = 36; // the etched line above the status bar
constexpr int kButtonWidth = 24;
constexpr int kLabelWidth = 31;
constexpr int kButtonTextMargin = 8; // pixels a button's frame takes around its text

QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}

// The texts that stand in a box for "nothing chosen" are kept in their Japanese form in
// the members and the settings file, and shown in the dialog's language.
const char* const kPlaceholders[] = {kNoGameFileText, kNoFolderChosenText};

QString BoxText(const std::string& member) {
    for (const char* placeholder : kPlaceholders) {
        if (member == placeholder) {
            return Tr(placeholder);
        }
    }
    return Qs(member);
}

std::string MemberText(const QString& box) {
    for (const char* placeholder : kPlaceholders) {
        if (box == Tr(placeholder)) {
            return placeholder;
        }
    }
    return box.toStdString();
}

} // namespace

MainDialog::MainDialog(std::string programFolder, QWidget* parent)
    : QDialog(parent), programFolder_(std::move(programFolder)) {
    BuildWidgets();
}

QPushButton* MainDialog::AddButton(const char* text, const char* name, int x) {
    auto* button = new QPushButton(Tr(text), this);
    button->setObjectName(name);
    // Enter in a box is the dialog's own command, never a button's.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(units_.Rect(x, 24, kButtonWidth, 11));
    return button;
}

void MainDialog::BuildWidgets() {
    setObjectName("mainDialog");
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ProgramIcon());
    setFont(DialogFont());
    // Dialog units of the font, widened when a fallback font would make a button or a
    // label text wider than its place.
    const QFontMetrics metrics(font());
    int widestButton = 0;
    for (const char* text :
         {kButtonAnalyze, kButtonConvert, kButtonFolder, kButtonListen, kButtonList}) {
        widestButton = std::max(widestButton, metrics.horizontalAdvance(Tr(text)));
    }
    int widestLabel = 0;
    for (const char* text : {kLabelInputFile, kKeyOutputFolder}) {
        widestLabel = std::max(widestLabel, metrics.horizontalAdvance(Tr(text)));
    }
    units_ = DialogUnits::FromFont(font())
                 .WidenedToFit(kButtonWidth, widestButton + kButtonTextMargin)
                 .WidenedToFit(kLabelWidth, widestLabel);
    const DialogUnits& units = units_;

    auto* inputLabel = new QLabel(Tr(kLabelInputFile), this);
    inputLabel->setGeometry(units.Rect(8, 2, kLabelWidth, 8));
    auto* outputLabel = new QLabel(Tr(kKeyOutputFolder), this);
    outputLabel->setGeometry(units.Rect(8, 11, kLabelWidth, 8));

    inputEdit_ = new QLineEdit(this);
    inputEdit_->setObjectName("inputEdit");
    inputEdit_->setGeometry(units.Rect(40, 0, 87, 12));
    outputEdit_ = new QLineEdit(this);
    outputEdit_->setObjectName("outputEdit");
    outputEdit_->setGeometry(units.Rect(40, 11, 87, 12));

    auto* analyze = AddButton(kButtonAnalyze, "analyzeButton", 6);
    auto* convert = AddButton(kButtonConvert, "convertButton", 30);
    auto* folder = AddButton(kButtonFolder, "folderButton", 54);
    auto* listen = AddButton(kButtonListen, "listenButton", 78);
    auto* list = AddButton(kButtonList, "listButton", 102);
    connect(analyze, &QPushButton::clicked, this, &MainDialog::Analyze);
    connect(convert, &QPushButton::clicked, this, &MainDialog::Convert);
    connect(folder, &QPushButton::clicked, this, &MainDialog::ChooseOutputFolder);
    connect(listen, &QPushButton::clicked, this, &MainDialog::Listen);
    connect(list, &QPushButton::clicked, this, &MainDialog::EditList);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("progressBar");
    progress_->setOrientation(Qt::Vertical);
    progress_->setTextVisible(false);
    progress_->setGeometry(units.Rect(0, 0, 6, 34));
    progress_->setValue(0);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(units.X(0), units.Y(kLineY), units.X(126), 2);

    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("statusBar");
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setStyleSheet("QStatusBar::item { border: none; }");
    statusText_ = Tr(kReadyText);
    statusPane_ = new QLabel(statusText_, statusBar_);
    statusPane_->setObjectName("statusPane");
    statusPane_->setFont(DialogFontPixels(kStatusFontPixels));
    statusBar_->addWidget(statusPane_, 1);

    // The status bar docks at the bottom; the dialog grows when the bar is taller than
    // the room the layout leaves under the line.
    const int width = units.X(kDialogWidth);
    const int barHeight = statusBar_->sizeHint().height();
    const int height = std::max(units.Y(kDialogHeight), units.Y(kLineY) + 2 + barHeight);
    statusBar_->setGeometry(0, height - barHeight, width, barHeight);
    setFixedSize(width, height);
}

void MainDialog::showEvent(QShowEvent* event) {
    if (!opened_) {
        opened_ = true;
        Show();
        statusText_ = Tr(kReadyText);
        statusPane_->setText(statusText_);
        progress_->setRange(0, 100);
    }
    QDialog::showEvent(event);
}

void MainDialog::SetSettings(const AppSettings& settings) {
    inputFile_ = settings.inputFile;
    outputFolder_ = settings.outputFolder;
    fileType_ = settings.fileType;
}

AppSettings MainDialog::Settings() const {
    return AppSettings{inputFile_, outputFolder_, fileType_};
}

QString MainDialog::StatusText() const {
    return statusPane_->text();
}

int MainDialog::Progress() const {
    return progress_->value();
}

void MainDialog::Store() {
    inputFile_ = MemberText(inputEdit_->text());
    outputFolder_ = MemberText(outputEdit_->text());
}

void MainDialog::Show() {
    // Like a freshly set edit control, each box shows the start of its text.
    inputEdit_->setText(BoxText(inputFile_));
    inputEdit_->setCursorPosition(0);
    outputEdit_->setText(BoxText(outputFolder_));
    outputEdit_->setCursorPosition(0);
}

void MainDialog::Analyze() {
    Store();
    if (inputFile_ == kNoGameFileText) {
        inputFile_.clear();
    }
    std::error_code ec;
    if (!inputFile_.empty() && (!std::filesystem::exists(inputFile_, ec) ||
                                std::filesystem::is_directory(inputFile_, ec))) {
        inputFile_.clear();
    }
    const QString initialFolder =
        inputFile_.empty() ? QString()
                           : Qs(std::filesystem::path(inputFile_).parent_path().string());
    const QStringList chosen = ActiveDialogServices().ChooseGameFiles(this, initialFolder);
    if (chosen.isEmpty()) {
        if (inputFile_.empty()) {
            inputFile_ = kNoGameFileText;
            Show();
        }
        return;
    }
    std::vector<std::string> files;
    for (const QString& file : chosen) {
        files.push_back(file.toStdString());
    }
    AnalyzeSources(files, programFolder_, *this);
    ShowWaitingFeedback();
}

void MainDialog::Convert() {
    Store();
    const auto folder = PrepareOutputFolder(outputFolder_, *this);
    if (!folder) {
        return;
    }
    outputFolder_ = *folder;
    Show();
    std::optional<std::string> list;
    if (const auto chosen = ActiveDialogServices().ChooseListFile(this, Qs(programFolder_))) {
        list = chosen->toStdString();
        std::error_code ec;
        if (std::filesystem::is_regular_file(*list, ec)) {
            listFile_ = *list;
        }
    }
    StartConversion(outputFolder_, list, *this);
    ShowWaitingFeedback();
}

void MainDialog::ChooseOutputFolder() {
    // Works from the folder as last stored: what is typed in the box is not taken.
    const QString current = Qs(outputFolder_);
    const auto chosen = ActiveDialogServices().ChooseFolder(
        this, Tr(kFolderBrowserTitle), Tr(kOutputFolderPrompt) + current, current);
    if (chosen) {
        outputFolder_ = chosen->toStdString();
    }
    if (outputFolder_.empty()) {
        outputFolder_ = kNoFolderChosenText;
    }
    Show();
}

void MainDialog::Listen() {
    // The folder as last stored: what is typed in the box is not taken.
    PreviewDialog preview(outputFolder_, playerOptions_, this);
    preview.exec();
}

void MainDialog::EditList() {
    Store();
    const auto chosen = ActiveDialogServices().ChooseListFile(this, Qs(programFolder_));
    if (!chosen) {
        Show();
        return;
    }
    std::error_code ec;
    const auto status = std::filesystem::status(chosen->toStdString(), ec);
    if (ec || !std::filesystem::exists(status)) {
        ShowNumberedMessage(*this, MessageId::EditedListMissing);
        return;
    }
    ListEditorDialog editor(*chosen, this);
    editor.exec();
    Show();
}

void MainDialog::ShowMessage(std::string_view text, MessageIcon icon) {
    // The box stops the work: what it reports on is on screen behind it.
    ShowWaitingFeedback();
    ActiveDialogServices().ShowMessage(this, TrReported(text), icon);
}

void MainDialog::SetStatusText(std::string_view text) {
    QString next = TrReported(text);
    if (next != statusText_) {
        statusText_ = std::move(next);
        textChanged_ = true;
    }
}

void MainDialog::SetProgress(int position) {
    progressValue_ = std::clamp(position, 0, 100);
}

void MainDialog::SetGamePath(std::string_view path) {
    if (path != inputFile_) {
        inputFile_ = std::string(path);
        textChanged_ = true;
    }
}

void MainDialog::Refresh() {
    // A repaint takes as long as the scanner needs for a few megabytes from the page cache
    // (and a progress bar repaints itself at once on each new value), while the scan asks
    // for one at every percent. A new text says what the work is doing now, before a step
    // that may take long, and is painted at once; four progress steps a second are enough
    // to watch, and keep the painting a small share of the scan even on a busy machine,
    // where a repaint after a stretch of work costs a few milliseconds.
    if (!textChanged_ && lastRepaint_.isValid() && lastRepaint_.elapsed() < kRepaintIntervalMs) {
        refreshSkipped_ = true;
        return;
    }
    PaintNow();
}

void MainDialog::PaintNow() {
    refreshSkipped_ = false;
    textChanged_ = false;
    lastRepaint_.start();
    Show();
    ApplyStatusAndProgress();
    // The work runs on this thread: paint now what the work changes, let the rest of the
    // pending paint events through, and nothing the user does in the meantime reach the
    // dialog before the work is over.
    inputEdit_->repaint();
    progress_->repaint();
    statusPane_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainDialog::ShowWaitingFeedback() {
    if (refreshSkipped_) {
        PaintNow();
    } else {
        ApplyStatusAndProgress();
    }
}

void MainDialog::ApplyStatusAndProgress() {
    if (statusPane_->text() != statusText_) {
        statusPane_->setText(statusText_);
    }
    if (progress_->value() != progressValue_) {
        progress_->setValue(progressValue_);
    }
}

void MainDialog::reject() {
    Store();
    QDialog::reject();
}

void MainDialog::accept() {
    Store();
    QDialog::accept();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter on a button presses it; anywhere else it is the dialog's OK command.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sonvex::ui
