// SPDX-License-Identifier: GPL-3.0-or-later
// Loading, folder change and rewriting of a convert list for the list editor, all
// through the chunked file layer.
#include "listedit/list_edit_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "chunkfile/chunk_file.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"

namespace sonvex {
namespace {

constexpr int64_t kEntryFixedLength = 16; // type, number, offset
constexpr int64_t kHeaderFixedLength = 5; // count, length byte

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string UpToNul(const uint8_t* p, size_t length) {
    const uint8_t* end = std::find(p, p + length, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
}

// The whole file, or false when it cannot be opened or read.
bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes, bool& opened) {
    ChunkFile file;
    opened = file.OpenRead(path);
    if (!opened) {
        return false;
    }
    const int64_t size = file.Size();
    if (size < 0) {
        return false;
    }
    bytes.assign(static_cast<size_t>(size), 0);
    const int64_t got = file.Read(bytes.data(), size);
    file.Close();
    return got == size;
}

} // namespace

std::string TypeCellText(uint32_t type) {
    if (const char* name = TypeName(type)) {
        return name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", type);
    return text;
}

uint32_t TypeFromCell(std::string_view text) {
    if (const auto code = TypeFromName(text)) {
        return *code;
    }
    if (text.size() > 2 && text.size() <= 10 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
        uint32_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (!std::isxdigit(c)) {
                return 0;
            }
            value = (value << 4) |
                    static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        return value;
    }
    return 0;
}

std::string SignedCellText(int32_t value) {
    return std::to_string(value);
}

int32_t ParseSignedCell(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t magnitude = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        magnitude = magnitude * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    // Two's complement in 32 bits: "-2147483648" and "2147483648" give the same bits.
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

EditorLoad LoadListRows(const std::string& listPath) {
    EditorLoad load;
    ChunkFile file;
    if (!file.OpenRead(listPath)) {
        load.status = EditorLoadStatus::OpenFailed;
        return load;
    }
    ChunkListFile list(file);
    ConvertList header;
    if (ReadHeader(list, header) != HeaderRead::Ok) {
        load.status = EditorLoadStatus::ShortHeader;
        return load;
    }
    load.sourceFolder = header.sourceFolder;

    uint32_t remaining = header.count;
    while (remaining != 0) {
        uint8_t fixed[kEntryFixedLength];
        if (file.Read(fixed, kEntryFixedLength) != kEntryFixedLength) {
            break;
        }
        EditorRow row;
        row.type = TypeCellText(LoadU32(fixed));
        row.number = SignedCellText(static_cast<int32_t>(LoadU32(fixed + 4)));
        row.offset = SignedCellText(static_cast<int32_t>(LoadU32(fixed + 8)));
        uint8_t nameLength = 0;
        if (file.Read(&nameLength, 1) != 1) {
            load.rows.push_back(std::move(row));
            break;
        }
        uint8_t name[255];
        if (file.Read(name, nameLength) != nameLength) {
            load.rows.push_back(std::move(row));
            break;
        }
        row.fileName = UpToNul(name, nameLength);
        load.rows.push_back(std::move(row));
        --remaining;
    }
    load.status = remaining == 0 ? EditorLoadStatus::Ok : EditorLoadStatus::ShortEntries;
    return load;
}

std::string TemporaryPathOf(const std::string& listPath) {
    std::string temporary = std::filesystem::path(listPath).replace_extension(".tmp").string();
    // A list that already carries the extension would be its own temporary file: the
    // rewrite would truncate the bytes it is about to copy, and a failure would delete it.
    if (temporary == listPath) {
        temporary += ".tmp";
    }
    return temporary;
}

FolderChangeResult ChangeListFolder(const std::string& listPath, std::string_view currentFolder,
                                    std::string_view newFolder) {
    if (currentFolder.empty()) {
        return FolderChangeResult::NoSourceFolder;
    }
    if (newFolder.size() > kMaxFolderBytes) {
        return FolderChangeResult::PathTooLong;
    }
    std::vector<uint8_t> old;
    bool opened = false;
    if (!ReadAll(listPath, old, opened)) {
        return opened ? FolderChangeResult::ShortRead : FolderChangeResult::OpenFailed;
    }
    if (static_cast<int64_t>(old.size()) < kHeaderFixedLength) {
        return FolderChangeResult::ShortRead;
    }
    const int64_t entriesStart = kHeaderFixedLength + old[4];
    if (entriesStart > static_cast<int64_t>(old.size())) {
        return FolderChangeResult::ShortRead;
    }

    std::vector<uint8_t> patched(old.begin(), old.begin() + 4); // count, untouched
    patched.push_back(static_cast<uint8_t>(newFolder.size() + 1));
    patched.insert(patched.end(), newFolder.begin(), newFolder.end());
    patched.push_back(0);
    patched.insert(patched.end(), old.begin() + entriesStart, old.end());
    // The file is not shortened: behind a shorter header the old last bytes remain.
    if (patched.size() < old.size()) {
        patched.insert(patched.end(), old.begin() + static_cast<std::ptrdiff_t>(patched.size()),
                       old.end());
    }

    const std::string staging = TemporaryPathOf(listPath);
    ChunkFile out;
    if (!out.Create(staging)) {
        return FolderChangeResult::OpenFailed;
    }
    out.WriteBytes(patched);
    if (!out.Close()) {
        ChunkFile::Delete(staging);
        return FolderChangeResult::WriteFailed;
    }
    if (!ChunkFile::Rename(staging, listPath)) {
        ChunkFile::Delete(staging);
        return FolderChangeResult::WriteFailed;
    }
    return FolderChangeResult::Done;
}

SaveResult SaveListRows(const std::string& listPath, const std::vector<EditorRow>& rows) {
    const std::string temporary = TemporaryPathOf(listPath);
    if (!ChunkFile::Rename(listPath, temporary)) {
        return SaveResult::RenameFailed;
    }
    ChunkFile source;
    if (!source.OpenRead(temporary)) {
        ChunkFile::Rename(temporary, listPath);
        return SaveResult::OpenTempFailed;
    }
    ChunkFile target;
    if (!target.Create(listPath)) {
        source.Close();
        ChunkFile::Rename(temporary, listPath);
        return SaveResult::CreateFailed;
    }
    ChunkListFile out(target);

    const auto count = static_cast<uint32_t>(rows.size());
    target.WriteU32le(count);
    uint8_t pathLength = 0;
    uint8_t folder[255];
    if (source.Seek(4, SeekOrigin::Begin) != 4 || source.Read(&pathLength, 1) != 1 ||
        source.Read(folder, pathLength) != pathLength) {
        source.Close();
        target.Close();
        ChunkFile::Delete(listPath);
        ChunkFile::Rename(temporary, listPath);
        return SaveResult::ShortHeader;
    }
    target.WriteU8(pathLength);
    target.Write(folder, pathLength);

    for (const EditorRow& row : rows) {
        const uint32_t offsetLow = static_cast<uint32_t>(ParseSignedCell(row.offset));
        WriteEntry(out, TypeFromCell(row.type), ParseSignedCell(row.number), offsetLow,
                   row.fileName);
    }
    source.Close();
    if (!target.Close()) {
        // Keep the old list rather than a damaged new one.
        ChunkFile::Delete(listPath);
        ChunkFile::Rename(temporary, listPath);
        return SaveResult::WriteFailed;
    }
    ChunkFile::Delete(temporary);
    return SaveResult::Saved;
}

std::optional<MessageId> MessageOf(EditorLoadStatus status) {
    if (status == EditorLoadStatus::OpenFailed) {
        return MessageId::EditorListOpenFailed;
    }
    return std::nullopt;
}

std::optional<MessageId> MessageOf(FolderChangeResult result) {
    switch (result) {
    case FolderChangeResult::NoSourceFolder:
        return MessageId::EditorNoSourceFolder;
    case FolderChangeResult::PathTooLong:
        return MessageId::EditorFolderTooLong;
    case FolderChangeResult::OpenFailed:
        return MessageId::EditorFolderOpenFailed;
    default:
        return std::nullopt;
    }
}

std::optional<MessageId> MessageOf(SaveResult result) {
    switch (result) {
    case SaveResult::RenameFailed:
    case SaveResult::OpenTempFailed:
        return MessageId::EditorSaveMoveFailed;
    case SaveResult::CreateFailed:
    case SaveResult::WriteFailed:
        return MessageId::EditorSaveWriteFailed;
    default:
        return std::nullopt;
    }
}

} // namespace sonvex
