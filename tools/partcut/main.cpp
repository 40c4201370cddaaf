// SPDX-License-Identifier: GPL-3.0-or-later
// partcut: cuts the items of a convert list out of their game files, one file per entry,
// or joins each number's sequence, bank body and bank header into one
// file laid out as a memory image (plain append layout or the ezpsf layout).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "convlist/convert_list.h"
#include "gamesource/game_source.h"

namespace {

using sonvex::ConvertList;
using sonvex::ListEntry;

constexpr const char* kUsageLines[] = {
    "Usage :\n",
    ">%s [option]... <clgfile>\n",
    "        -a,-A    output append seq+vb+vh\n",
    "        -4       output append seq+vb+vh (ezpsf 1.0.4)\n",
    "        -o,-O    print the patch addresses of every number\n",
    "        -h,-H    This help\n"};
constexpr const char* kOpenError = "open error [%s]\n";
constexpr const char* kNotAList = "not a convert list [%s]: %s\n";
// An output file that cannot be created or fully written; the file is removed.
constexpr const char* kWriteError = "write error [%s]\n";
constexpr const char* kOutLine = "Out : %s\n";
constexpr const char* kSizeSeq = "      Size seq = %d";
constexpr const char* kSizeVb = " vb = %d";
constexpr const char* kSizeVh = " vh = %d\n";
constexpr const char* kPatchFirst = "No.%3d patch 0x800FFFFC = 0x%08x ";
constexpr const char* kPatchSecond = "/ 0x800FFFF8 = 0x%08x\n";

constexpr uint32_t kImageBase = 0x80100000;    // address of the file's byte 8 in the plain layout
constexpr uint64_t kEzpsfBankHeader = 0x20000; // ezpsf layout: bank header area
constexpr uint64_t kEzpsfBankBody = 0x40000;   // ezpsf layout: bank body area
constexpr size_t kCopyBlock = 64 * 1024;

// A small owning wrapper of one stdio stream.
class CFile {
  public:
    // Opens the file; a failure leaves the handle empty and is not reported. A folder
    // counts as a failure, since it has no bytes to give.
    CFile(const std::string& filePath, const char* mode)
        : handle(std::fopen(filePath.c_str(), mode)), path(filePath) {
        struct stat status {};
        if (handle != nullptr && fstat(fileno(handle), &status) == 0 && S_ISDIR(status.st_mode)) {
            std::fclose(handle);
            handle = nullptr;
        }
    }
    virtual ~CFile() {
        if (handle != nullptr) {
            std::fclose(handle);
        }
    }

    // Closes the stream; false when a write since opening failed or the buffered bytes
    // could not be written out.
    bool Close() {
        if (handle == nullptr) {
            return false;
        }
        const bool failed = std::ferror(handle) != 0;
        const bool closed = std::fclose(handle) == 0;
        handle = nullptr;
        return closed && !failed;
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // The stream's length in bytes, or -1 when it has none.
    int64_t Length() {
        if (handle == nullptr || fseeko(handle, 0, SEEK_END) != 0) {
            return -1;
        }
        const int64_t length = ftello(handle);
        return fseeko(handle, 0, SEEK_SET) == 0 ? length : -1;
    }

    // The whole file, or nothing when no stream is open, the buffer cannot be had or
    // fewer bytes than the length were read.
    std::optional<std::vector<uint8_t>> ReadAll() {
        const int64_t length = Length();
        if (length < 0) {
            return std::nullopt;
        }
        std::vector<uint8_t> buffer;
        try {
            buffer.assign(static_cast<size_t>(length), 0);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        } catch (const std::length_error&) {
            return std::nullopt;
        }
        if (std::fread(buffer.data(), 1, buffer.size(), handle) != buffer.size()) {
            return std::nullopt;
        }
        return buffer;
    }

    std::FILE* handle = nullptr; // none when the open failed
    std::string path;            // as given to the constructor
};

struct SplitJob;

// One game file of the list, open for reading.
struct GameFile {
    std::unique_ptr<CFile> file;
    int64_t length = 0;
};

// The game files of a list, each opened on first use: beside the list, else in the list's
// source folder. One that opens nowhere is reported once ("open error") and stays closed.
class GameFiles {
  public:
    explicit GameFiles(const SplitJob& job) : job_(job) {}
    const GameFile* Of(const std::string& fileName);

  private:
    const SplitJob& job_;
    std::map<std::string, std::optional<GameFile>> files_;
};

// The parts of one serial number. A size of 0 means the part is absent.
struct NumberParts {
    uint32_t seqIndex = 0; // list index of the "SEQ" entry with this number
    uint32_t vbIndex = 0;  // list index of the "VB" entry with this number
    uint32_t vhIndex = 0;  // list index of the "VH" entry with this number
    uint64_t seqSize = 0;  // bytes of that sequence
    uint64_t vbSize = 0;   // bytes of that bank body
    uint64_t vhSize = 0;   // bytes of that bank header
    bool missing = false;  // a part's game file cannot be opened: no append file
};

struct SplitJob {
    std::optional<std::string> listPath; // the list file from the command line
    bool splitOutput = true;             // one file per entry
    bool appendOutput = false;           // one file per number ("-a")
    bool ezpsfLayout = false;            // append output in the ezpsf layout ("-4")
    bool printPatches = false;           // "-o"
    bool showHelp = false;               // "-h", or no argument at all
    ConvertList list;
    uint32_t entryCount = 0; // the header's count
    int32_t maxNumber = 0;   // largest entry number, from 0
    std::string drive;       // always empty here: this platform has no drive letters
    std::string folder;      // up to and including the last '/'
    std::string baseName;
    std::string extension; // from the last '.' of the file name, dot included
    // The parts table for numbers 0 .. maxNumber, held sparsely: a number that no entry
    // uses reads as all zero, so a damaged large number costs no memory.
    std::map<int32_t, NumberParts> parts;

    NumberParts PartsOf(int32_t number) const {
        const auto found = parts.find(number);
        return found != parts.end() ? found->second : NumberParts{};
    }
};

const GameFile* GameFiles::Of(const std::string& fileName) {
    const auto known = files_.find(fileName);
    if (known != files_.end()) {
        return known->second ? &*known->second : nullptr;
    }
    std::optional<GameFile>& slot = files_[fileName];
    const std::string beside = job_.drive + job_.folder + fileName;
    std::vector<std::string> tried{beside};
    if (!job_.list.sourceFolder.empty()) {
        const std::string recorded = sonvex::GameFilePath(job_.list.sourceFolder, fileName);
        if (recorded != beside) {
            tried.push_back(recorded);
        }
    }
    for (const std::string& path : tried) {
        auto file = std::make_unique<CFile>(path, "rb");
        if (std::FILE* layered = sonvex::OpenGameFileStream(path)) { // in an image, a PSF
            (void)file->Close();
            file->handle = layered;
        }
        const int64_t length = file->Length();
        if (length >= 0) {
            slot = GameFile{std::move(file), length};
            return &*slot;
        }
    }
    for (const std::string& path : tried) {
        std::printf(kOpenError, path.c_str());
    }
    return nullptr;
}

void ParseArguments(SplitJob& job, int argc, char** argv) {
    if (argc < 2) {
        job.showHelp = true;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.empty() || argument[0] != '-') {
            if (!job.listPath) {
                job.listPath = argument;
            }
            continue;
        }
        // An option is known by its second character alone; others are ignored.
        switch (argument.size() > 1 ? argument[1] : '\0') {
        case 'a':
        case 'A':
            job.splitOutput = false;
            job.appendOutput = true;
            break;
        case '4':
            job.splitOutput = false;
            job.ezpsfLayout = true;
            break;
        case 'o':
        case 'O':
            job.printPatches = true;
            break;
        case 'h':
        case 'H':
            job.showHelp = true;
            break;
        default:
            break;
        }
    }
}

void SplitPath(SplitJob& job) {
    const std::string& path = *job.listPath;
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    job.drive.clear();
    job.folder = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    job.baseName = dot == std::string::npos ? name : name.substr(0, dot);
    job.extension = dot == std::string::npos ? std::string() : name.substr(dot);
}

const char* SplitExtension(uint32_t type) {
    switch (type) {
    case sonvex::kTypeSeq:
        return "seq";
    case sonvex::kTypeVh:
        return "vh";
    case sonvex::kTypeVb:
        return "vb";
    case sonvex::kTypeGpmSeq:
        return "GPMseq";
    case sonvex::kTypeGpmHead:
        return "GPMhead";
    default:
        return "Unknown";
    }
}

// No sound item comes near 4 GiB: a derived size beyond this comes from a damaged list.
constexpr int64_t kLargestItem = 0xFFFFFFFF;

// How many bytes an item spans. A derived size of 0 means "to the end of the game file".
// A negative size (the next entry lies lower: another game file, or entries out of order)
// is read the same way, which is right for the last item of the first of several game
// files. A positive size is taken as it is, even where it runs past the end of the game
// file (an item of a second game file can be longer than the first one): the bytes the
// game file does not hold are written as zeros. Only a size beyond 32 bits is read as
// "to the end" too, so that a damaged list cannot make the tool write endless zeros.
uint64_t ItemLength(int64_t size, uint64_t offset, int64_t gameLength) {
    const uint64_t length = static_cast<uint64_t>(gameLength);
    if (size <= 0 || size > kLargestItem) {
        return offset < length ? length - offset : 0;
    }
    return static_cast<uint64_t>(size);
}

// Copies `length` bytes from `offset` of the game file to `out`; what the game file does
// not deliver is written as zeros. Reads never go past the bytes asked for. A failed write
// shows in the stream's error flag (see CFile::Close) and ends the copy.
void CopyItem(std::FILE* game, int64_t gameLength, uint64_t offset, uint64_t length,
              std::FILE* out) {
    static std::vector<uint8_t> block(kCopyBlock);
    const uint64_t fileLength = static_cast<uint64_t>(gameLength);
    uint64_t available =
        game != nullptr && offset < fileLength ? std::min(length, fileLength - offset) : 0;
    if (available > 0 && fseeko(game, static_cast<off_t>(offset), SEEK_SET) != 0) {
        available = 0;
    }
    uint64_t done = 0;
    while (done < available) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, available - done));
        const size_t got = std::fread(block.data(), 1, want, game);
        if (std::fwrite(block.data(), 1, got, out) != got) {
            return;
        }
        done += got;
        if (got < want) {
            break;
        }
    }
    std::fill(block.begin(), block.end(), uint8_t{0});
    while (done < length) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, length - done));
        if (std::fwrite(block.data(), 1, want, out) != want) {
            return;
        }
        done += want;
    }
}

void WriteZeros(uint64_t count, std::FILE* out) {
    static const std::vector<uint8_t> zeros(kCopyBlock, 0);
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, count));
        if (std::fwrite(zeros.data(), 1, want, out) != want) {
            return;
        }
        count -= want;
    }
}

void WriteU32le(uint32_t value, std::FILE* out) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    (void)std::fwrite(bytes, 1, 4, out); // a failure stays in the stream's error flag
}

std::string NumberedPath(const SplitJob& job, const char* pattern, int32_t number,
                         const char* extension) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, pattern, number, extension);
    return job.drive + job.folder + job.baseName + suffix;
}

// Closes an output file; one that could not be created or fully written is removed, so
// that no cut-off file is left looking like a finished one, and reported. False then.
bool FinishOutput(CFile& out) {
    const bool created = out.handle != nullptr;
    if (out.Close()) {
        return true;
    }
    if (created) {
        std::remove(out.path.c_str());
    }
    std::printf(kWriteError, out.path.c_str());
    return false;
}

// False when an output file could not be written.
bool WriteSplitOutput(const SplitJob& job, GameFiles& games) {
    bool allWritten = true;
    for (const ListEntry& entry : job.list.entries) {
        const GameFile* game = games.Of(entry.fileName);
        if (game == nullptr) {
            continue; // reported when the game files were opened
        }
        const int64_t gameLength = game->length;
        const std::string path =
            NumberedPath(job, "_%04d.%s", entry.number, SplitExtension(entry.type));
        std::printf(kOutLine, path.c_str());
        CFile out(path, "wb");
        if (out.handle != nullptr) {
            const uint64_t length = ItemLength(entry.size, entry.offset, gameLength);
            CopyItem(game->file->handle, gameLength, entry.offset, length, out.handle);
            WriteZeros((4 - length % 4) % 4, out.handle);
        }
        allWritten = FinishOutput(out) && allWritten;
    }
    return allWritten;
}

void BuildPartsTable(SplitJob& job, GameFiles& games) {
    const auto& entries = job.list.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ListEntry& entry = entries[i];
        // Negative numbers have no place among 0 .. maxNumber.
        if (entry.number < 0) {
            continue;
        }
        const auto type = entry.type;
        if (type != sonvex::kTypeSeq && type != sonvex::kTypeVb && type != sonvex::kTypeVh) {
            continue;
        }
        const GameFile* game = games.Of(entry.fileName);
        NumberParts& parts = job.parts[entry.number];
        if (game == nullptr) {
            parts.missing = true;
            continue;
        }
        // A size of 0 stays 0 (no part); others are read as for the split output.
        const uint64_t size =
            entry.size == 0 ? 0 : ItemLength(entry.size, entry.offset, game->length);
        const auto index = static_cast<uint32_t>(i);
        if (type == sonvex::kTypeSeq) {
            parts.seqIndex = index;
            parts.seqSize = size;
        } else if (type == sonvex::kTypeVb) {
            parts.vbIndex = index;
            parts.vbSize = size;
        } else {
            parts.vhIndex = index;
            parts.vhSize = size;
        }
    }
}

// Numbers up to this one (the range of the four-digit names) are all taken.
constexpr int32_t kLargestUnusedNumber = 9999;

// The numbers 0 .. maxNumber that get a patch line and an append file. A list the
// analysis wrote numbers each group 0, 1, 2 ..., and a list whose rows were deleted in
// the editor keeps its numbers, so its largest number can pass the entry count; all of
// 0 .. maxNumber are taken while maxNumber has at most four digits. In a damaged list a
// number can be as large as 2^31 - 1, and one file per number up to it would never end:
// beyond four digits, numbers without parts are taken only below the entry count. Every
// number that has a part is taken.
std::vector<int32_t> AppendNumbers(const SplitJob& job) {
    std::vector<int32_t> numbers;
    const int64_t plain =
        job.maxNumber <= kLargestUnusedNumber
            ? job.maxNumber
            : std::min<int64_t>(job.maxNumber, static_cast<int64_t>(job.list.entries.size()) - 1);
    for (int64_t n = 0; n <= plain; ++n) {
        numbers.push_back(static_cast<int32_t>(n));
    }
    for (const auto& [number, parts] : job.parts) {
        if (number > plain) {
            numbers.push_back(number);
        }
    }
    if (numbers.empty()) {
        numbers.push_back(0); // a list without entries still gets number 0
    }
    return numbers;
}

void PrintPatches(const SplitJob& job) {
    for (const int32_t n : AppendNumbers(job)) {
        const NumberParts parts = job.PartsOf(n);
        if (parts.missing) {
            continue; // its addresses are not known without the missing part
        }
        const auto seq = static_cast<uint32_t>(parts.seqSize);
        const auto vb = static_cast<uint32_t>(parts.vbSize);
        std::printf(kPatchFirst, static_cast<int>(n), static_cast<unsigned>(kImageBase + seq));
        std::printf(kPatchSecond, static_cast<unsigned>(kImageBase + seq + vb));
    }
}

// One part of an append file: the low 32 bits of its size, read from the offset of the
// entry that its index names.
void CopyPart(const SplitJob& job, GameFiles& games, uint32_t index, uint32_t size,
              std::FILE* out) {
    if (size == 0 || index >= job.list.entries.size()) {
        return;
    }
    const ListEntry& entry = job.list.entries[index];
    const GameFile* game = games.Of(entry.fileName);
    if (game != nullptr) {
        CopyItem(game->file->handle, game->length, entry.offset, size, out);
    }
}

// False when an output file could not be written.
bool WriteAppendOutput(const SplitJob& job, GameFiles& games) {
    bool allWritten = true;
    for (const int32_t number : AppendNumbers(job)) {
        const NumberParts parts = job.PartsOf(number);
        if (parts.missing) {
            continue; // a part's game file was reported when the game files were opened
        }
        const auto seq = static_cast<uint32_t>(parts.seqSize);
        const auto vb = static_cast<uint32_t>(parts.vbSize);
        const auto vh = static_cast<uint32_t>(parts.vhSize);
        const std::string path = NumberedPath(job, "_%04d.bin", number, "");
        std::printf(kOutLine, path.c_str());
        std::printf(kSizeSeq, static_cast<int32_t>(seq));
        std::printf(kSizeVb, static_cast<int32_t>(vb));
        std::printf(kSizeVh, static_cast<int32_t>(vh));
        CFile out(path, "wb");
        if (out.handle == nullptr) {
            allWritten = FinishOutput(out) && allWritten;
            continue;
        }
        if (job.ezpsfLayout) {
            // Each area holds at most up to the next one; the layout has no room for more.
            const auto seqPlaced = static_cast<uint32_t>(std::min<uint64_t>(seq, kEzpsfBankHeader));
            const auto vhPlaced =
                static_cast<uint32_t>(std::min<uint64_t>(vh, kEzpsfBankBody - kEzpsfBankHeader));
            CopyPart(job, games, parts.seqIndex, seqPlaced, out.handle);
            WriteZeros(kEzpsfBankHeader - seqPlaced, out.handle);
            CopyPart(job, games, parts.vhIndex, vhPlaced, out.handle);
            WriteZeros(kEzpsfBankBody - kEzpsfBankHeader - vhPlaced, out.handle);
            CopyPart(job, games, parts.vbIndex, vb, out.handle);
        } else {
            WriteU32le(kImageBase + seq + vb, out.handle);
            WriteU32le(kImageBase + seq, out.handle);
            CopyPart(job, games, parts.seqIndex, seq, out.handle);
            CopyPart(job, games, parts.vbIndex, vb, out.handle);
            CopyPart(job, games, parts.vhIndex, vh, out.handle);
        }
        allWritten = FinishOutput(out) && allWritten;
    }
    return allWritten;
}

void PrintUsage(const char* programName) {
    for (const char* line : kUsageLines) {
        std::printf(line, programName);
    }
}

} // namespace

int main(int argc, char** argv) {
    const sonvex::ScopedGameSources gameSources; // images and PSF sets open like folders
    SplitJob job;
    ParseArguments(job, argc, argv);
    if (job.showHelp || !job.listPath) {
        PrintUsage(argc > 0 && argv[0] != nullptr ? argv[0] : "partcut");
        return 0;
    }
    SplitPath(job);

    std::optional<std::vector<uint8_t>> image;
    {
        CFile listFile(*job.listPath, "rb");
        image = listFile.ReadAll();
    }
    if (!image) {
        std::printf(kOpenError, job.listPath->c_str());
        return 1;
    }
    // Bytes that do not read as a list (a header cut short, a count the file cannot hold,
    // names that are not text) would cut garbage: they are refused.
    const std::string problem = sonvex::ListProblem(*image);
    if (!problem.empty()) {
        std::printf(kNotAList, job.listPath->c_str(), problem.c_str());
        return 1;
    }
    try {
        (void)sonvex::ParseList(*image, job.list);
    } catch (const std::bad_alloc&) {
        std::printf(kOpenError, job.listPath->c_str());
        return 1;
    }
    image.reset();
    job.entryCount = job.list.count;
    for (const ListEntry& entry : job.list.entries) {
        job.maxNumber = std::max(job.maxNumber, entry.number);
    }

    // Each item is cut from its own entry's game file, looked for beside the list first and
    // then in the list's source folder; each game file is opened once. An item whose game
    // file cannot be opened is not cut, and the run ends with status 1.
    GameFiles games(job);
    bool allOpened = true;
    auto& entries = job.list.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const GameFile* game = games.Of(entries[i].fileName);
        if (game == nullptr) {
            allOpened = false;
            continue;
        }
        // The last item of its game file runs to that file's end.
        const bool lastOfItsFile =
            i + 1 == entries.size() || entries[i + 1].fileName != entries[i].fileName;
        if (lastOfItsFile) {
            entries[i].size = game->length - static_cast<int64_t>(entries[i].offset);
        }
    }

    // Every output is attempted; the status tells whether all of them were written.
    bool allWritten = true;
    if (job.splitOutput) {
        allWritten = WriteSplitOutput(job, games);
    }
    BuildPartsTable(job, games);
    if (job.printPatches) {
        PrintPatches(job);
    }
    if (job.appendOutput) {
        allWritten = WriteAppendOutput(job, games) && allWritten;
    }
    return allWritten && allOpened ? 0 : 1;
}
