// SPDX-License-Identifier: GPL-3.0-or-later
// The string table's entries.
#include "ui/string_table.h"

#include <array>

namespace sonvex::ui {
namespace {

struct StringEntry {
    int id;
    const char* text; // UTF-8
};

constexpr std::array<StringEntry, 11> kStrings{{
    {kCommandMoveUp, "\n一つ上に"},
    {kCommandMoveDown, "\n一つ下に"},
    {kCommandDelete, "\n削除"},
    {kCommandChangeFolder, "\nﾌｫﾙﾀﾞの変更"},
    {kCommandPlay, "\n再生"},
    {kCommandPause, "\n一時停止"},
    {kCommandStop, "\n停止"},
    {kCommandBack, "\n戻る"},
    {kCommandForward, "\n進む"},
    {kCommandConvert, "\nSGTへ変換"},
    {kStringLoopPane, "ﾙｰﾌﾟ:000"},
}};

} // namespace

std::string_view LoadStringEntry(int id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return {};
}

} // namespace sonvex::ui
