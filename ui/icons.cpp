// SPDX-License-Identifier: GPL-3.0-or-later
// Images drawn for this program as XPM text and turned into pixmaps with a mask.
#include "ui/icons.h"

#include <QBitmap>
#include <QColor>
#include <QImage>

namespace sonvex::ui {
namespace {

#include "ui/resources/list_toolbar.xpm"
#include "ui/resources/preview_files.xpm"
#include "ui/resources/preview_toolbar.xpm"
#include "ui/resources/sonvex_icon.xpm"

constexpr int kImageSize = 16; // pixels, square

// An XPM strip with the mask colour made transparent.
QPixmap MaskedStrip(const char* const* xpm) {
    QPixmap strip(xpm);
    const QBitmap mask =
        strip.createMaskFromColor(QColor(kMaskRed, kMaskGreen, kMaskBlue), Qt::MaskInColor);
    strip.setMask(mask);
    return strip;
}

QIcon ImageOf(const QPixmap& strip, int index) {
    return QIcon(strip.copy(index * kImageSize, 0, kImageSize, kImageSize));
}

} // namespace

QPixmap ListToolbarStrip() {
    return MaskedStrip(list_toolbar_xpm);
}

QIcon ListToolbarIcon(int index) {
    return ImageOf(ListToolbarStrip(), index);
}

QIcon ProgramIcon() {
    return QIcon(QPixmap(sonvex_icon_xpm));
}

QPixmap PreviewToolbarStrip() {
    return MaskedStrip(preview_toolbar_xpm);
}

QIcon PreviewToolbarIcon(int index) {
    return ImageOf(PreviewToolbarStrip(), index);
}

QIcon PreviewFileIcon(FileIcon icon) {
    return ImageOf(MaskedStrip(preview_files_xpm), static_cast<int>(icon));
}

} // namespace sonvex::ui
