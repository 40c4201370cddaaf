// SPDX-License-Identifier: GPL-3.0-or-later
// Cue sheet reader.
#include "formats/cue_sheet.h"

#include <cctype>
#include <optional>

namespace sonvex {

namespace {

struct Line {
    int64_t offset = 0; // of its first byte in the text
    int number = 0;     // 1-based
    std::vector<std::string> words;
};

// Splits one line into words; a double-quoted word keeps its spaces. False when a quote
// is left open.
bool SplitWords(std::string_view line, std::vector<std::string>& words) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            word = std::string(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
                word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool ParseNumber(const std::string& text, int64_t limit, int64_t& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= limit;
}

// "mm:ss:ff" in frames.
bool ParseTime(const std::string& text, int64_t& frames) {
    const size_t a = text.find(':');
    const size_t b = a == std::string::npos ? a : text.find(':', a + 1);
    if (b == std::string::npos) {
        return false;
    }
    int64_t m = 0, s = 0, f = 0;
    if (!ParseNumber(text.substr(0, a), 9999, m) ||
        !ParseNumber(text.substr(a + 1, b - a - 1), 59, s) ||
        !ParseNumber(text.substr(b + 1), kFramesPerSecond - 1, f)) {
        return false;
    }
    frames = (m * 60 + s) * kFramesPerSecond + f;
    return true;
}

bool ParseMode(const std::string& text, TrackMode& mode) {
    const std::string word = Upper(text);
    if (word == "AUDIO") {
        mode = TrackMode::Audio;
    } else if (word == "MODE1/2352") {
        mode = TrackMode::Mode1Raw;
    } else if (word == "MODE1/2048") {
        mode = TrackMode::Mode1;
    } else if (word == "MODE2/2352") {
        mode = TrackMode::Mode2Raw;
    } else if (word == "MODE2/2336") {
        mode = TrackMode::Mode2Xa;
    } else if (word == "MODE2/2048") {
        mode = TrackMode::Mode2Cooked;
    } else {
        return false;
    }
    return true;
}

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view body = text.substr(start, end - start);
        if (!body.empty() && body.back() == '\r') {
            body.remove_suffix(1);
        }
        Line line;
        line.offset = static_cast<int64_t>(start);
        line.number = ++number;
        if (!SplitWords(body, line.words)) {
            line.words = {"\"", std::string(body)}; // marks the open quote for the parser
        }
        lines.push_back(std::move(line));
        if (end == text.size()) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

} // namespace

int64_t SectorBytesOf(TrackMode mode) {
    switch (mode) {
    case TrackMode::Mode1:
    case TrackMode::Mode2Cooked:
        return 2048;
    case TrackMode::Mode2Xa:
        return 2336;
    default:
        return 2352;
    }
}

int64_t CueTrack::StartFrame() const {
    for (const CueIndex& index : indexes) {
        if (index.number == 1) {
            return index.frame;
        }
    }
    return indexes.empty() ? 0 : indexes.front().frame;
}

bool LooksLikeCueSheet(std::string_view text) {
    if (text.empty() || static_cast<int64_t>(text.size()) > kMaxCueBytes) {
        return false;
    }
    size_t from = 0;
    // A byte-order mark may lead.
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        from = 3;
    }
    for (size_t i = from; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    bool file = false;
    bool track = false;
    for (const Line& line : SplitLines(text.substr(from))) {
        if (line.words.empty()) {
            continue;
        }
        const std::string command = Upper(line.words.front());
        file = file || command == "FILE";
        track = track || command == "TRACK";
    }
    return file && track;
}

CueSheet ParseCueSheet(std::string_view text) {
    CueSheet sheet;
    auto fail = [&sheet](const Line& line, const std::string& problem) {
        sheet.status = CueStatus::Invalid;
        sheet.diagnostics.Fail(line.offset, "line " + std::to_string(line.number), problem);
        return sheet;
    };
    if (static_cast<int64_t>(text.size()) > kMaxCueBytes) {
        sheet.status = CueStatus::Invalid;
        sheet.diagnostics.Fail(0, "cue sheet",
                               "longer than " + std::to_string(kMaxCueBytes) + " bytes");
        return sheet;
    }
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    int tracks = 0;
    // The FILE line of the last file, to blame when that file gets no TRACK.
    std::optional<Line> fileLine;
    auto fileWithoutTrack = [&sheet, &fileLine]() {
        return fileLine && sheet.files.back().tracks.empty();
    };
    for (const Line& line : SplitLines(text)) {
        if (line.words.empty()) {
            continue;
        }
        const std::string command = Upper(line.words.front());
        if (command == "\"") {
            return fail(line, "a quoted name is not closed");
        }
        if (command == "FILE") {
            if (line.words.size() < 2 || line.words[1].empty()) {
                return fail(line, "FILE without a file name");
            }
            if (fileWithoutTrack()) {
                return fail(*fileLine, "FILE " + sheet.files.back().name + " has no TRACK");
            }
            sheet.files.push_back({line.words[1], {}});
            fileLine = line;
        } else if (command == "TRACK") {
            if (sheet.files.empty()) {
                return fail(line, "TRACK before any FILE");
            }
            int64_t number = 0;
            TrackMode mode{};
            if (line.words.size() < 3 || !ParseNumber(line.words[1], 99, number) || number == 0) {
                return fail(line, "TRACK needs a number 1..99 and a mode");
            }
            if (!ParseMode(line.words[2], mode)) {
                return fail(line, "unknown track mode " + line.words[2]);
            }
            if (++tracks > 99) {
                return fail(line, "more than 99 tracks");
            }
            sheet.files.back().tracks.push_back({static_cast<int>(number), mode, {}});
        } else if (command == "INDEX") {
            if (sheet.files.empty() || sheet.files.back().tracks.empty()) {
                return fail(line, "INDEX outside a TRACK");
            }
            int64_t number = 0;
            int64_t frame = 0;
            if (line.words.size() < 3 || !ParseNumber(line.words[1], 99, number) ||
                !ParseTime(line.words[2], frame)) {
                return fail(line, "INDEX needs a number and a time mm:ss:ff");
            }
            std::vector<CueIndex>& indexes = sheet.files.back().tracks.back().indexes;
            if (!indexes.empty() && frame < indexes.back().frame) {
                return fail(line, "INDEX " + line.words[1] + " lies before the index above it");
            }
            indexes.push_back({static_cast<int>(number), frame});
        }
        // REM, CATALOG, TITLE, PERFORMER, PREGAP, POSTGAP, FLAGS, ISRC ...: nothing to keep.
    }
    if (tracks == 0) {
        sheet.status = CueStatus::Invalid;
        sheet.diagnostics.Fail(0, "cue sheet", "names no track");
    } else if (fileWithoutTrack()) {
        return fail(*fileLine, "FILE " + sheet.files.back().name + " has no TRACK");
    }
    return sheet;
}

} // namespace sonvex
