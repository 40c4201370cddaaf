// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing convert lists: the streaming reads and writes over a ListFile,
// the counted read of a whole list from memory, and the stdio-backed ListFile.
#include "convlist/convert_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sonvex {
namespace {

struct TypeNameEntry {
    uint32_t code;
    const char* name;
};

constexpr std::array<TypeNameEntry, 8> kTypeNames{{
    {kTypeSeq, "SEQ"},
    {kTypeVh, "VH"},
    {kTypeVb, "VB"},
    {kTypeKcetSeq, "KCETSeq"},
    {kTypeSceiMidi, "SCEIMidi"},
    {kTypeSceiHead, "SCEIHead"},
    {kTypeGpmSeq, "GPMseq"},
    {kTypeGpmHead, "GPMhead"},
}};

constexpr size_t kEntryFixedLength = 16; // type, number, offset
constexpr size_t kHeaderFixedLength = 5; // count, pathLength

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t LoadU64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}

void StoreU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void StoreU64(uint8_t* p, uint64_t v) {
    StoreU32(p, static_cast<uint32_t>(v));
    StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// A stored string: its bytes up to the first NUL, or all of them when there is none.
std::string StoredText(const uint8_t* p, size_t length) {
    const uint8_t* end = std::find(p, p + length, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
}

// The most a length byte and its string take.
constexpr size_t kCountedTextRoom = 1 + 255;

// Puts a length byte and its string at `out` and returns the bytes put. The length byte is
// the low 8 bits of characters + 1; exactly that many bytes follow (the leading characters
// and a NUL), so that a string of 255 characters or more cannot shift the fields behind it.
size_t PutCountedText(uint8_t* out, std::string_view text) {
    const auto lengthByte = static_cast<uint8_t>(text.size() + 1);
    out[0] = lengthByte;
    if (lengthByte == 0) {
        return 1;
    }
    const size_t characters = lengthByte - 1u;
    if (characters > 0) {
        std::memcpy(out + 1, text.data(), characters);
    }
    out[1 + characters] = 0;
    return 2 + characters;
}

} // namespace

const char* TypeName(uint32_t type) {
    for (const auto& entry : kTypeNames) {
        if (entry.code == type) {
            return entry.name;
        }
    }
    return nullptr;
}

std::optional<uint32_t> TypeFromName(std::string_view name) {
    for (const auto& entry : kTypeNames) {
        if (name == entry.name) {
            return entry.code;
        }
    }
    return std::nullopt;
}

HeaderRead ReadHeader(ListFile& file, ConvertList& header) {
    uint8_t countBytes[4];
    if (file.Read(countBytes, 4) != 4) {
        return HeaderRead::ShortCount;
    }
    header.count = LoadU32(countBytes);
    if (file.Read(&header.pathLength, 1) != 1) {
        return HeaderRead::ShortPathLength;
    }
    std::array<uint8_t, 255> folder{};
    if (file.Read(folder.data(), header.pathLength) != header.pathLength) {
        return HeaderRead::ShortFolder;
    }
    header.sourceFolder = StoredText(folder.data(), header.pathLength);
    return HeaderRead::Ok;
}

bool ReadEntry(ListFile& file, ListEntry& entry) {
    uint8_t fixed[kEntryFixedLength];
    if (file.Read(fixed, kEntryFixedLength) != static_cast<int64_t>(kEntryFixedLength)) {
        return false;
    }
    uint8_t nameLength = 0;
    if (file.Read(&nameLength, 1) != 1) {
        return false;
    }
    std::array<uint8_t, 255> name{};
    if (file.Read(name.data(), nameLength) != nameLength) {
        return false;
    }
    entry.type = LoadU32(fixed);
    entry.number = static_cast<int32_t>(LoadU32(fixed + 4));
    entry.offset = LoadU64(fixed + 8);
    entry.nameLength = nameLength;
    entry.fileName = StoredText(name.data(), nameLength);
    entry.size = 0;
    return true;
}

bool UnreadEntry(ListFile& file, const ListEntry& entry) {
    return file.SeekBy(-entry.StoredLength());
}

bool WriteHeader(ListFile& file, uint32_t count, std::string_view folder) {
    std::array<uint8_t, 4 + kCountedTextRoom> header;
    StoreU32(header.data(), count);
    const auto length = static_cast<int64_t>(4 + PutCountedText(header.data() + 4, folder));
    return file.Write(header.data(), length) == length;
}

bool WriteEntry(ListFile& file, uint32_t type, int32_t number, uint64_t offset,
                std::string_view fileName) {
    // Written at once: the scan writes an entry for every item it finds.
    std::array<uint8_t, kEntryFixedLength + kCountedTextRoom> entry;
    StoreU32(entry.data(), type);
    StoreU32(entry.data() + 4, static_cast<uint32_t>(number));
    StoreU64(entry.data() + 8, offset);
    const auto length = static_cast<int64_t>(
        kEntryFixedLength + PutCountedText(entry.data() + kEntryFixedLength, fileName));
    return file.Write(entry.data(), length) == length;
}

bool PatchCount(ListFile& file, uint32_t count) {
    uint8_t countBytes[4];
    StoreU32(countBytes, count);
    return file.SeekFromStart(0) && file.Write(countBytes, 4) == 4;
}

ListLoad ParseList(std::span<const uint8_t> bytes, ConvertList& list) {
    list = ConvertList{};
    const size_t size = bytes.size();
    if (size < kHeaderFixedLength) {
        if (size >= 4) {
            list.count = LoadU32(bytes.data());
        }
        return ListLoad::ShortHeader;
    }
    list.count = LoadU32(bytes.data());
    list.pathLength = bytes[4];
    if (size - kHeaderFixedLength < list.pathLength) {
        return ListLoad::ShortHeader;
    }
    list.sourceFolder = StoredText(bytes.data() + kHeaderFixedLength, list.pathLength);

    size_t position = kHeaderFixedLength + list.pathLength;
    // The count is not trusted for the allocation: no entry is shorter than 17 bytes.
    const size_t mostEntries = (size - position) / (kEntryFixedLength + 1);
    list.entries.reserve(std::min<size_t>(list.count, mostEntries));
    ListLoad result = ListLoad::Ok;
    for (uint32_t i = 0; i < list.count; ++i) {
        if (size - position < kEntryFixedLength + 1) {
            result = ListLoad::ShortEntries;
            break;
        }
        const uint8_t* fixed = bytes.data() + position;
        const uint8_t nameLength = fixed[kEntryFixedLength];
        if (size - position - (kEntryFixedLength + 1) < nameLength) {
            result = ListLoad::ShortEntries;
            break;
        }
        ListEntry entry;
        entry.type = LoadU32(fixed);
        entry.number = static_cast<int32_t>(LoadU32(fixed + 4));
        entry.offset = LoadU64(fixed + 8);
        entry.nameLength = nameLength;
        entry.fileName = StoredText(fixed + kEntryFixedLength + 1, nameLength);
        list.entries.push_back(std::move(entry));
        position += kEntryFixedLength + 1 + nameLength;
    }
    FillDerivedSizes(list);
    return result;
}

std::optional<ConvertList> LoadList(const std::string& path, ListLoad* status) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    ConvertList list;
    const ListLoad result = ParseList(bytes, list);
    if (status != nullptr) {
        *status = result;
    }
    return list;
}

std::string GameFilePath(std::string_view sourceFolder, std::string_view fileName) {
    std::string path(sourceFolder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path.append(fileName);
}

namespace {

// Text as the lists hold it: bytes up to the first NUL, none of them a control byte.
// The code page is not checked, so names brought over in another multibyte code page pass.
bool IsStoredText(std::span<const uint8_t> stored) {
    for (const uint8_t c : stored) {
        if (c == 0) {
            return true;
        }
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string ListProblem(std::span<const uint8_t> bytes) {
    ConvertList list;
    if (ParseList(bytes, list) == ListLoad::ShortHeader) {
        return "header cut short (" + std::to_string(bytes.size()) + " bytes)";
    }
    const size_t entriesStart = kHeaderFixedLength + list.pathLength;
    const uint64_t roomFor = (bytes.size() - entriesStart) / (kEntryFixedLength + 1);
    if (list.count > roomFor) {
        return "count " + std::to_string(list.count) + " is more entries than its " +
               std::to_string(bytes.size()) + " bytes can hold";
    }
    if (!IsStoredText(bytes.subspan(kHeaderFixedLength, list.pathLength))) {
        return "source folder is not text";
    }
    size_t position = entriesStart;
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const ListEntry& entry = list.entries[i];
        const auto name = bytes.subspan(position + kEntryFixedLength + 1, entry.nameLength);
        if (entry.fileName.empty() || !IsStoredText(name)) {
            return "entry " + std::to_string(i) + " at offset " + std::to_string(position) +
                   ": game-file name is not text";
        }
        position += static_cast<size_t>(entry.StoredLength());
    }
    if (list.entries.size() < list.count) {
        return "count " + std::to_string(list.count) + " but only " +
               std::to_string(list.entries.size()) + " whole entries";
    }
    return {};
}

void FillDerivedSizes(ConvertList& list) {
    auto& entries = list.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        // Unsigned difference read back as signed: an entry of the next game file
        // that lies lower gives a negative size, which is kept as it comes out.
        entries[i].size = i + 1 < entries.size()
                              ? static_cast<int64_t>(entries[i + 1].offset - entries[i].offset)
                              : 0;
    }
}

StdioListFile::StdioListFile(const std::string& path, const char* mode)
    : file_(std::fopen(path.c_str(), mode)) {}

StdioListFile::~StdioListFile() {
    Close();
}

bool StdioListFile::Close() {
    if (file_ == nullptr) {
        return false;
    }
    const bool hadError = std::ferror(file_) != 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && !hadError;
}

int64_t StdioListFile::Read(void* destination, int64_t length) {
    if (file_ == nullptr || length <= 0) {
        return 0;
    }
    if (lastWrite_) {
        // A stdio stream needs a positioning call between a write and a read.
        std::fseek(file_, 0, SEEK_CUR);
        lastWrite_ = false;
    }
    return static_cast<int64_t>(std::fread(destination, 1, static_cast<size_t>(length), file_));
}

int64_t StdioListFile::Write(const void* source, int64_t length) {
    if (file_ == nullptr || length <= 0) {
        return 0;
    }
    if (!lastWrite_) {
        // ...and between a read and a write.
        std::fseek(file_, 0, SEEK_CUR);
        lastWrite_ = true;
    }
    return static_cast<int64_t>(std::fwrite(source, 1, static_cast<size_t>(length), file_));
}

bool StdioListFile::SeekFromStart(int64_t position) {
    if (file_ == nullptr || position < 0) {
        return false;
    }
    return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool StdioListFile::SeekBy(int64_t delta) {
    if (file_ == nullptr) {
        return false;
    }
    return fseeko(file_, static_cast<off_t>(delta), SEEK_CUR) == 0;
}

} // namespace sonvex
