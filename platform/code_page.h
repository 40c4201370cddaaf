// SPDX-License-Identifier: GPL-3.0-or-later
// Text conversion between UTF-8 (used everywhere inside the program and in the files
// it writes), Shift-JIS (CP932, settings files brought over from Windows) and UTF-16LE
// (names inside segment files).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sonvex {

// nullopt when the input is not valid in its code page.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
std::optional<std::string> Utf8ToCp932(std::string_view utf8);
// UTF-16 code units; invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// True when the bytes form valid UTF-8.
bool IsValidUtf8(std::string_view bytes);

} // namespace sonvex
