// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own images: the program icon, the list editor's toolbar strip and the
// preview dialog's toolbar strip and list row icons.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace sonvex::ui {

// Colour of the toolbar strips that stands for "transparent".
inline constexpr int kMaskRed = 0;
inline constexpr int kMaskGreen = 128;
inline constexpr int kMaskBlue = 128;

// The strip of four 16 × 16 toolbar images (move up, move down, delete, change folder),
// with the mask colour made transparent.
QPixmap ListToolbarStrip();
// Image `index` (0 to 3) of the strip.
QIcon ListToolbarIcon(int index);
QIcon ProgramIcon();

// Images of the preview dialog's toolbar, 0 to 9: play, pause, stop, back, forward, play
// while playing, pause while paused, two unused places, convert.
inline constexpr int kPreviewToolbarImages = 10;
QPixmap PreviewToolbarStrip();
QIcon PreviewToolbarIcon(int index);

// Row icons of the preview dialog's lists.
enum class FileIcon { Smf = 0, Segment = 1, Dls = 2 };
QIcon PreviewFileIcon(FileIcon icon);

} // namespace sonvex::ui
