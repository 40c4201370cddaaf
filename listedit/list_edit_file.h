// SPDX-License-Identifier: GPL-3.0-or-later
// The convert-list file work of the list editor: loading rows, pointing the list at
// another folder, and rewriting it from the rows through a temporary file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/messages.h"

namespace sonvex {

// One row of the editor: the cell texts as shown, except the name, which keeps the
// bytes stored in the list.
struct EditorRow {
    std::string type;     // type name, or "0x" and eight hex digits for a code without one
    std::string number;   // serial number, signed decimal
    std::string offset;   // low 32 bits of the offset, signed decimal
    std::string fileName; // stored bytes up to the first NUL
};

enum class [[nodiscard]] EditorLoadStatus{
    OpenFailed,   // the list cannot be opened (message 23)
    ShortHeader,  // count, length byte or folder cut short: no rows
    ShortEntries, // an entry cut short: the rows read so far
    Ok};

struct EditorLoad {
    EditorLoadStatus status = EditorLoadStatus::OpenFailed;
    std::string sourceFolder; // stored bytes up to the first NUL
    std::vector<EditorRow> rows;
};

// Reads the header and `count` entries. An entry whose name length or name is cut
// short still gives a row, with an empty name.
EditorLoad LoadListRows(const std::string& listPath);

enum class [[nodiscard]] FolderChangeResult{
    Done,
    NoSourceFolder, // message 24
    PathTooLong,    // more than 128 bytes: message 25
    OpenFailed,     // message 26
    ShortRead,      // header or entries cut short: nothing changed, no message
    WriteFailed     // nothing changed, no message
};

// Longest folder path a list can be pointed at, in bytes.
inline constexpr size_t kMaxFolderBytes = 128;

// Rewrites the folder of the list at `listPath`: the same count, the new length byte
// and folder with its NUL, then the entries unchanged. The file never gets shorter;
// behind a shorter folder the old last bytes stay. The new content is written beside
// the list and renamed over it, so a failed write leaves the list as it was.
FolderChangeResult ChangeListFolder(const std::string& listPath, std::string_view currentFolder,
                                    std::string_view newFolder);

enum class [[nodiscard]] SaveResult{
    Saved,
    RenameFailed,   // the list cannot be moved aside: message 27, list untouched
    OpenTempFailed, // message 27, list renamed back
    CreateFailed,   // message 28, list renamed back
    ShortHeader,    // the moved list's header is cut short: no message, list renamed back
    WriteFailed     // a write of the new list failed: message 28, list renamed back
};

// The list path with its extension replaced by ".tmp" (".tmp" added once more when the
// list already ends in it, so the temporary file is never the list itself).
std::string TemporaryPathOf(const std::string& listPath);

// Rewrites the list from `rows`: count = rows, the length byte and folder copied from
// the old file, one entry per row (offsets in the low 32 bits, the high half zero).
SaveResult SaveListRows(const std::string& listPath, const std::vector<EditorRow>& rows);

// The message an outcome shows, if any.
std::optional<MessageId> MessageOf(EditorLoadStatus status);
std::optional<MessageId> MessageOf(FolderChangeResult result);
std::optional<MessageId> MessageOf(SaveResult result);

// Cell texts and their way back.
std::string TypeCellText(uint32_t type);
// The code of a type cell: a type name, or "0x" with hex digits; anything else is 0.
uint32_t TypeFromCell(std::string_view text);
std::string SignedCellText(int32_t value);
// A signed decimal number, read up to the first character that is not a digit
// (0 when there is none); wraps to 32 bits.
int32_t ParseSignedCell(std::string_view text);

} // namespace sonvex
