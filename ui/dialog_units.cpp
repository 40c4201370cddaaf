// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog font selection and the unit-to-pixel rule.
#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

QStringList DialogFaces() {
    return {QString::fromUtf8(kDialogFontFace),
            "IPAPGothic",
            "IPAGothic",
            "Noto Sans CJK JP",
            "VL PGothic",
            "TakaoPGothic",
            "Sans Serif"};
}

} // namespace

QFont DialogFont(int points) {
    QFont font(QString::fromUtf8(kDialogFontFace), points);
    font.setFamilies(DialogFaces());
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont DialogFontPixels(int pixels) {
    QFont font = DialogFont();
    font.setPixelSize(pixels);
    return font;
}

DialogUnits DialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (width / 26 + 1) / 2;
    return DialogUnits(baseX > 0 ? baseX : 1, metrics.height() > 0 ? metrics.height() : 1);
}

DialogUnits DialogUnits::WidenedToFit(int units, int pixels) const {
    DialogUnits widened = *this;
    while (units > 0 && widened.X(units) < pixels) {
        ++widened.baseX_;
    }
    return widened;
}

int DialogUnits::Scale(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    const long long rounded =
        product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    return static_cast<int>(rounded);
}

} // namespace sonvex::ui
