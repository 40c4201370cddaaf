// SPDX-License-Identifier: GPL-3.0-or-later
// A small INI (private-profile) text: sections in square brackets, key=value lines.
// Reads UTF-8 and CP932 files, replaces one key in place and leaves everything else.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonvex::ui {

class IniDocument {
  public:
    // Parses text that is already UTF-8. Lines end in "\n" or "\r\n"; the ending the
    // text uses is kept for lines that are added.
    static IniDocument Parse(std::string_view text);
    // Decodes file bytes: UTF-8 (an optional byte-order mark is dropped) or, when they
    // are not valid UTF-8, CP932. Undecodable bytes are kept as they are.
    static IniDocument FromBytes(std::string_view bytes);

    // The value of `key` in `section` (the first of each, names compared ignoring ASCII
    // case, surrounding blanks trimmed), or nullopt when either is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Like Get, as a signed decimal: a missing key gives `fallback`, text without
    // leading digits gives 0.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;

    // Replaces the key's line in place, or adds the key after the last entry of its
    // section, or adds the section with the key at the end. Line breaks inside the value
    // become spaces so that a value can never add lines of its own.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole text, UTF-8.
    std::string Text() const;

  private:
    struct Line {
        std::string text;      // without its line ending
        bool hasEnding = true; // false only for a last line without a line break
    };

    // Index of the section's header line, or -1.
    long FindSection(std::string_view section) const;
    // Index of the key's line within the section that starts after `header`, or -1.
    long FindKey(long header, std::string_view key) const;
    // Index after the last non-blank line of the section that starts after `header`.
    long SectionEnd(long header) const;

    std::vector<Line> lines_;
    std::string ending_ = "\n";
};

} // namespace sonvex::ui
