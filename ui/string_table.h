// SPDX-License-Identifier: GPL-3.0-or-later
// The program's string table: entries keyed by command id, each "\n" + the tooltip text.
#pragma once

#include <string_view>

namespace sonvex::ui {

// Command ids of the list editor's toolbar.
inline constexpr int kCommandChangeFolder = 2020;
inline constexpr int kCommandMoveUp = 2021;
inline constexpr int kCommandMoveDown = 2022;
inline constexpr int kCommandDelete = 2023;

// Command ids of the preview dialog's toolbar, and the loop pane's text at rest.
inline constexpr int kCommandPlay = 2000;
inline constexpr int kCommandPause = 2001;
inline constexpr int kCommandStop = 2002;
inline constexpr int kCommandBack = 2003;
inline constexpr int kCommandForward = 2004;
inline constexpr int kCommandConvert = 2005;
inline constexpr int kStringLoopPane = 2010;

// The entry with this id, or an empty text when there is none.
std::string_view LoadStringEntry(int id);

} // namespace sonvex::ui
