// The program's own images: the program icon and the list editor's toolbar strip.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace sonvex::ui {

// Colour of the toolbar strip that stands for "transparent".
inline constexpr int kMaskRed = 0;
inline constexpr int kMaskGreen = 128;
inline constexpr int kMaskBlue = 128;

// The strip of four 16 × 16 toolbar images (move up, move down, delete, change folder),
// with the mask colour made transparent.
QPixmap ListToolbarStrip();
// Image `index` (0 to 3) of the strip.
QIcon ListToolbarIcon(int index);
QIcon ProgramIcon();

} // namespace sonvex::ui
