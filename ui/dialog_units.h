// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog units and the dialog font: layouts are given in units of the dialog font,
// x in quarters of its average character width, y in eighths of its height.
#pragma once

#include <QFont>
#include <QRect>

namespace sonvex::ui {

// The dialogs' font: the face the layouts were drawn for, at `points`, falling back to
// an installed Japanese sans-serif.
QFont DialogFont(int points = 9);
// The same faces at a height given in pixels (the status bar's font).
QFont DialogFontPixels(int pixels);

class DialogUnits {
  public:
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
    // Base units of a font: the rounded average width of the 52 Latin letters and the
    // font's height.
    static DialogUnits FromFont(const QFont& font);

    // The same units, with the average width raised just enough that `units` across
    // hold at least `pixels` (texts that a narrower layout would clip).
    DialogUnits WidenedToFit(int units, int pixels) const;

    int X(int units) const { return Scale(units, baseX_, 4); }
    int Y(int units) const { return Scale(units, baseY_, 8); }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

  private:
    // units × base ÷ divisor, rounded half away from zero.
    static int Scale(int units, int base, int divisor);

    int baseX_;
    int baseY_;
};

} // namespace sonvex::ui
