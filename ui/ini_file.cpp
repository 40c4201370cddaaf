// SPDX-License-Identifier: GPL-3.0-or-later
// INI text parsing, lookup and in-place replacement of one key.
#include "ui/ini_file.h"

#include <cctype>
#include <cstdint>

#include "platform/code_page.h"

namespace sonvex::ui {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        // Only ASCII letters fold; bytes of multibyte characters compare exactly.
        if (ca < 0x80 && cb < 0x80) {
            if (std::tolower(ca) != std::tolower(cb)) {
                return false;
            }
        } else if (ca != cb) {
            return false;
        }
    }
    return true;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return !line.empty() && line.front() == ';';
}

std::string SingleLine(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return out;
}

} // namespace

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    bool sawCrLf = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        Line line;
        if (newline == std::string_view::npos) {
            line.text = std::string(text.substr(start));
            line.hasEnding = false;
            start = text.size();
        } else {
            line.text = std::string(text.substr(start, newline - start));
            start = newline + 1;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            sawCrLf = true;
        }
        doc.lines_.push_back(std::move(line));
    }
    if (sawCrLf) {
        doc.ending_ = "\r\n";
    }
    return doc;
}

IniDocument IniDocument::FromBytes(std::string_view bytes) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (bytes.substr(0, kBom.size()) == kBom) {
        bytes.remove_prefix(kBom.size());
    }
    if (IsValidUtf8(bytes)) {
        return Parse(bytes);
    }
    if (auto converted = Cp932ToUtf8(bytes)) {
        return Parse(*converted);
    }
    return Parse(bytes);
}

long IniDocument::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (name && SameName(*name, Trim(section))) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

long IniDocument::FindKey(long header, std::string_view key) const {
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
        const std::string& text = lines_[i].text;
        if (SectionName(text)) {
            break;
        }
        if (IsComment(text)) {
            continue;
        }
        const size_t equals = text.find('=');
        if (equals != std::string::npos &&
            SameName(Trim(std::string_view(text).substr(0, equals)), Trim(key))) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

long IniDocument::SectionEnd(long header) const {
    size_t end = static_cast<size_t>(header) + 1;
    for (size_t i = end; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text)) {
            break;
        }
        if (!Trim(lines_[i].text).empty()) {
            end = i + 1;
        }
    }
    return static_cast<long>(end);
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    const long header = FindSection(section);
    if (header < 0) {
        return std::nullopt;
    }
    const long line = FindKey(header, key);
    if (line < 0) {
        return std::nullopt;
    }
    std::string_view text = lines_[static_cast<size_t>(line)].text;
    return std::string(Trim(text.substr(text.find('=') + 1)));
}

int IniDocument::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const auto value = Get(section, key);
    if (!value) {
        return fallback;
    }
    size_t i = 0;
    bool negative = false;
    if (i < value->size() && ((*value)[i] == '-' || (*value)[i] == '+')) {
        negative = (*value)[i] == '-';
        ++i;
    }
    long long magnitude = 0;
    for (; i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i])); ++i) {
        // Digits beyond what an int holds are ignored rather than overflowing.
        if (magnitude <= 4'294'967'296LL) {
            magnitude = magnitude * 10 + ((*value)[i] - '0');
        }
    }
    long long result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX) {
        result = INT32_MAX;
    }
    if (result < INT32_MIN) {
        result = INT32_MIN;
    }
    return static_cast<int>(result);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string cleanValue = SingleLine(value);
    const long header = FindSection(section);
    if (header >= 0) {
        const long line = FindKey(header, key);
        if (line >= 0) {
            std::string& text = lines_[static_cast<size_t>(line)].text;
            // The key keeps its spelling from the file; only the value changes.
            text = std::string(Trim(std::string_view(text).substr(0, text.find('=')))) + "=" +
                   cleanValue;
            return;
        }
        const long end = SectionEnd(header);
        if (end > 0 && !lines_[static_cast<size_t>(end - 1)].hasEnding) {
            lines_[static_cast<size_t>(end - 1)].hasEnding = true;
        }
        lines_.insert(lines_.begin() + end, Line{std::string(key) + "=" + cleanValue, true});
        return;
    }
    if (!lines_.empty()) {
        lines_.back().hasEnding = true;
    }
    lines_.push_back(Line{"[" + std::string(section) + "]", true});
    lines_.push_back(Line{std::string(key) + "=" + cleanValue, true});
}

std::string IniDocument::Text() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        if (line.hasEnding) {
            out += ending_;
        }
    }
    return out;
}

} // namespace sonvex::ui
