// SPDX-License-Identifier: GPL-3.0-or-later
// A toolbar whose buttons take their tooltips from the string table: the text after the
// first newline of the entry with the button's command id.
#pragma once

#include <QIcon>
#include <QString>
#include <QToolBar>
#include <functional>
#include <map>
#include <string>
#include <string_view>

class QAction;

namespace sonvex::ui {

// The tooltip of a string-table entry: at most the first 255 bytes of the entry are
// read, the part after the first newline is taken (nothing when there is none), and it
// is cut to 79 bytes, never inside a character.
std::string TipTextOf(std::string_view entry);

class TipToolBar : public QToolBar {
    Q_OBJECT
  public:
    // `lookup` gives the string-table entry of an id.
    explicit TipToolBar(QWidget* parent, std::function<std::string_view(int)> lookup);

    // A button for `commandId` with its image; triggering it emits Command(commandId).
    QAction* AddButton(int commandId, const QIcon& icon);
    QAction* Button(int commandId) const;
    void EnableButton(int commandId, bool enable);

  signals:
    void Command(int commandId);

  private:
    std::function<std::string_view(int)> lookup_;
    std::map<int, QAction*> buttons_;
};

} // namespace sonvex::ui
