// Images drawn for this program as XPM text and turned into pixmaps with a mask.
#include "ui/icons.h"

#include <QBitmap>
#include <QColor>
#include <QImage>

namespace sonvex::ui {
namespace {

#include "ui/resources/list_toolbar.xpm"
#include "ui/resources/sonvex_icon.xpm"

} // namespace

QPixmap ListToolbarStrip() {
    QPixmap strip(list_toolbar_xpm);
    const QBitmap mask = strip.createMaskFromColor(QColor(kMaskRed, kMaskGreen, kMaskBlue), Qt::MaskInColor);
    strip.setMask(mask);
    return strip;
}

QIcon ListToolbarIcon(int index) {
    return QIcon(ListToolbarStrip().copy(index * 16, 0, 16, 16));
}

QIcon ProgramIcon() {
    return QIcon(QPixmap(sonvex_icon_xpm));
}

} // namespace sonvex::ui
