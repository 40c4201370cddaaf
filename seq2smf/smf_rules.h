// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace sonvex {

// Which rules the converters follow. Classic writes exactly what the classic converter
// wrote. Extended (the default) gives a channel that plays a note before any program
// change of its own the program with its channel's number, the way the console's sound
// library plays it, and takes the loop count only from data entry after the loop start.
enum class SmfRules { Extended, Classic };

} // namespace sonvex
