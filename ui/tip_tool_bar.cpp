// SPDX-License-Identifier: GPL-3.0-or-later
// TipToolBar: buttons by command id, tooltips answered from the string table.
#include "ui/tip_tool_bar.h"

#include <QAction>

#include "ui/language.h"

namespace sonvex::ui {
namespace {

constexpr size_t kEntryReadLimit = 255; // bytes of an entry that are looked at
constexpr size_t kTipLimit = 79;        // bytes of a tooltip (an 80-byte buffer with its NUL)

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string_view CutAtCharacter(std::string_view text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

} // namespace

std::string TipTextOf(std::string_view entry) {
    entry = CutAtCharacter(entry, kEntryReadLimit);
    const size_t newline = entry.find('\n');
    if (newline == std::string_view::npos) {
        return {};
    }
    return std::string(CutAtCharacter(entry.substr(newline + 1), kTipLimit));
}

TipToolBar::TipToolBar(QWidget* parent, std::function<std::string_view(int)> lookup)
    : QToolBar(parent), lookup_(std::move(lookup)) {
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

QAction* TipToolBar::AddButton(int commandId, const QIcon& icon) {
    QAction* action = addAction(icon, QString());
    action->setData(commandId);
    action->setToolTip(Tr(TipTextOf(lookup_(commandId))));
    connect(action, &QAction::triggered, this, [this, commandId] { emit Command(commandId); });
    buttons_[commandId] = action;
    return action;
}

QAction* TipToolBar::Button(int commandId) const {
    const auto it = buttons_.find(commandId);
    return it == buttons_.end() ? nullptr : it->second;
}

void TipToolBar::EnableButton(int commandId, bool enable) {
    if (QAction* action = Button(commandId)) {
        action->setEnabled(enable);
    }
}

} // namespace sonvex::ui
