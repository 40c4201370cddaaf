// SPDX-License-Identifier: GPL-3.0-or-later
// The convert list (.clg): a header (entry count, source folder) followed by entries
// (type code, serial number, 64-bit offset, game-file name). Little-endian, no padding,
// no magic. Shared by the main program and the two console tools, so it uses the
// standard library only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sonvex {

// Entry type codes as 32-bit values (the file holds them little-endian).
constexpr uint32_t kTypeSeq = 0x00514553;      // "SEQ": sequence with magic "pQES"
constexpr uint32_t kTypeVh = 0x00004856;       // "VH": bank header with magic "pBAV"
constexpr uint32_t kTypeVb = 0x00004256;       // "VB": bank body (ADPCM samples)
constexpr uint32_t kTypeKcetSeq = 0x53445351;  // "KCETSeq"
constexpr uint32_t kTypeSceiMidi = 0x534D6964; // "SCEIMidi"
constexpr uint32_t kTypeSceiHead = 0x53566162; // "SCEIHead"
constexpr uint32_t kTypeGpmSeq = 0x53537371;   // "GPMseq": sequence with magic "SSsq"
constexpr uint32_t kTypeGpmHead = 0x53536864;  // "GPMhead": bank header with magic "SShd"

// The name of a type code ("SEQ", "VH", ...), or nullptr for a code that is none of the eight.
const char* TypeName(uint32_t type);
// The code of a type name, by exact, case-sensitive comparison.
std::optional<uint32_t> TypeFromName(std::string_view name);

struct ListEntry {
    uint32_t type = 0;      // +0, 4 bytes: type code
    int32_t number = 0;     // +4, 4 bytes: serial number within its group
    uint64_t offset = 0;    // +8, 8 bytes: position of the item in its game file
    uint8_t nameLength = 0; // +16, 1 byte: bytes of fileName stored, NUL included
    std::string fileName;   // +17: game file name, up to its first NUL (or all stored bytes)
    int64_t size = 0;       // derived, not stored: next entry's offset minus this one's

    // Bytes the entry occupies in the file.
    int64_t StoredLength() const { return 17 + static_cast<int64_t>(nameLength); }
};

struct ConvertList {
    uint32_t count = 0;       // header count, as stored
    uint8_t pathLength = 0;   // header length byte, as stored
    std::string sourceFolder; // up to its first NUL (or all stored bytes)
    std::vector<ListEntry> entries;
};

// Byte access for the streaming operations, so that the main program can read and
// write lists through its own buffered file layer and the tools through stdio.
class ListFile {
  public:
    virtual ~ListFile() = default;
    // Return the number of bytes moved.
    virtual int64_t Read(void* destination, int64_t length) = 0;
    virtual int64_t Write(const void* source, int64_t length) = 0;
    virtual bool SeekFromStart(int64_t position) = 0;
    virtual bool SeekBy(int64_t delta) = 0;
};

// Which of the header's three reads came up short.
enum class [[nodiscard]] HeaderRead{Ok, ShortCount, ShortPathLength, ShortFolder};

HeaderRead ReadHeader(ListFile& file, ConvertList& header);
// Reads the 16 fixed bytes, the name length and the name. False when any of the three
// comes up short, which ends a list (not an error).
bool ReadEntry(ListFile& file, ListEntry& entry);
// Steps back over the entry just read, so that the next ReadEntry returns it again.
bool UnreadEntry(ListFile& file, const ListEntry& entry);

// Writers: each length byte is the low 8 bits of (characters + 1). False on a short write.
bool WriteHeader(ListFile& file, uint32_t count, std::string_view folder);
bool WriteEntry(ListFile& file, uint32_t type, int32_t number, uint64_t offset,
                std::string_view fileName);
// Overwrites the 4-byte count at offset 0.
bool PatchCount(ListFile& file, uint32_t count);

// How a counted read of a whole list went.
enum class [[nodiscard]] ListLoad{
    Ok,          // count entries taken
    ShortHeader, // the header does not fit in the bytes
    ShortEntries // count promised more entries than the bytes hold; the whole ones were taken
};

// Counted read of a list held in memory: exactly `count` entries (fewer when the bytes
// run out), never reading outside `bytes`. Fills in the derived sizes (last entry 0).
ListLoad ParseList(std::span<const uint8_t> bytes, ConvertList& list);
// Reads the file at `path` and parses it; nullopt when the file cannot be read.
std::optional<ConvertList> LoadList(const std::string& path, ListLoad* status = nullptr);
// Derived sizes in file order: next offset minus own offset (64-bit); the last gets 0.
void FillDerivedSizes(ConvertList& list);

// The longest name a length byte can describe with its NUL: a source folder or an entry's
// game-file name longer than this does not fit in a list.
constexpr size_t kLongestStoredText = 254;

// The path of an entry's game file: the list's source folder joined with the entry's file
// name, which is a plain name in a list of one folder and a path relative to the source
// folder in a list over several folders. Every reader of lists resolves names this way.
std::string GameFilePath(std::string_view sourceFolder, std::string_view fileName);

// Why the bytes are not a convert list: a header cut short, a count that more entries
// than the bytes could hold would need, a source folder or game-file name that is not text
// (control bytes, or an empty name). Empty when they read as a list.
std::string ListProblem(std::span<const uint8_t> bytes);

// ListFile over a stdio stream, for the console tools and tests.
class StdioListFile : public ListFile {
  public:
    // mode as for fopen ("rb", "wb", "r+b", "w+b").
    StdioListFile(const std::string& path, const char* mode);
    ~StdioListFile() override;
    StdioListFile(const StdioListFile&) = delete;
    StdioListFile& operator=(const StdioListFile&) = delete;
    bool IsOpen() const { return file_ != nullptr; }
    bool Close();

    int64_t Read(void* destination, int64_t length) override;
    int64_t Write(const void* source, int64_t length) override;
    bool SeekFromStart(int64_t position) override;
    bool SeekBy(int64_t delta) override;

  private:
    std::FILE* file_ = nullptr;
    bool lastWrite_ = false; // the last transfer was a write (stdio needs a seek before switching)
};

} // namespace sonvex
