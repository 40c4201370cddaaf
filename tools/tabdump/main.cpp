// SPDX-License-Identifier: GPL-3.0-or-later
// tabdump: prints a convert list as a CSV file, one line per entry, with the entry's
// type name, number, offset, derived size and game-file name.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "convlist/convert_list.h"

namespace {

using sonvex::ConvertList;

constexpr int kFailure = 255; // the tool's -1 as this platform's exit status

constexpr const char* kVersionLine = "tabdump ver 0.00\n";
constexpr const char* kConvertLine = "convert %s->%s\n";
constexpr const char* kNoListFile = "ファイルがありません:%s\n";
constexpr const char* kNoReadMemory = "読み込み用のメモリが確保出来ませんでした\n";
constexpr const char* kNoWorkMemory = "作業用のメモリが確保出来ませんでした\n";
constexpr const char* kCannotCreate = "ファイルが作成出来ません:%s\n";
constexpr const char* kHeaderLine = "TYPE,NO,OFFSET,SIZE,FINENAME";
constexpr const char* kUsage = "Usage : tabdump <clgfile> [<csvfile>]\n"
                               "        writes the convert list <clgfile>[.clg] as CSV to\n"
                               "        <csvfile>[.csv], by default beside the list\n"
                               "        -h,--help    This help\n";
constexpr const char* kNotAList = "not a convert list [%s]: %s\n";

// A name is used unchanged when it is longer than four characters and ends in the
// extension (exactly, case-sensitive); otherwise the extension is appended. Names of any
// length are held whole, so there is no limit on their length here.
std::string WithExtension(const std::string& name, std::string_view extension) {
    if (name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
        return name;
    }
    return name + std::string(extension);
}

// The CSV knows five of the eight type names; every other code prints as "Unknown".
const char* CsvTypeName(uint32_t type) {
    switch (type) {
    case sonvex::kTypeSeq:
    case sonvex::kTypeVh:
    case sonvex::kTypeVb:
    case sonvex::kTypeGpmSeq:
    case sonvex::kTypeGpmHead:
        return sonvex::TypeName(type);
    default:
        return "Unknown";
    }
}

enum class [[nodiscard]] ReadResult{Ok, CannotOpen, NoMemory};

// The whole list file in memory. A folder, a stream without a length, or a read that
// delivers less than the length counts as a list that cannot be opened.
ReadResult ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return ReadResult::CannotOpen;
    }
    struct stat status {};
    int64_t length = -1;
    if (fstat(fileno(file), &status) == 0 && !S_ISDIR(status.st_mode) &&
        fseeko(file, 0, SEEK_END) == 0) {
        length = ftello(file);
    }
    if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return ReadResult::CannotOpen;
    }
    try {
        bytes.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        return ReadResult::NoMemory;
    } catch (const std::length_error&) {
        std::fclose(file);
        return ReadResult::NoMemory;
    }
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return got == bytes.size() ? ReadResult::Ok : ReadResult::CannotOpen;
}

// Writes the CSV in binary with explicit CR LF line ends. False when the file cannot
// be created or a write fails; a file that could not be finished is removed.
bool WriteCsv(const std::string& path, const ConvertList& list) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    std::fprintf(out, "%s\r\n", kHeaderLine);
    for (const auto& entry : list.entries) {
        std::fprintf(out, "%s,%d,%" PRId64 ",%" PRId64 ",", CsvTypeName(entry.type), entry.number,
                     static_cast<int64_t>(entry.offset), entry.size);
        // The name as stored, commas and all: nothing is quoted or escaped.
        std::fwrite(entry.fileName.data(), 1, entry.fileName.size(), out);
        std::fputs("\r\n", out);
    }
    const bool writeFailed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || writeFailed) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kVersionLine, stdout);
        std::fputs(kUsage, stdout);
        return kFailure;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        std::fputs(kVersionLine, stdout);
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string listName = WithExtension(argv[1], ".clg");
    const std::string csvName = argc > 2 ? WithExtension(argv[2], ".csv")
                                         : listName.substr(0, listName.size() - 4) + ".csv";
    std::printf(kConvertLine, listName.c_str(), csvName.c_str());

    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(listName, bytes)) {
    case ReadResult::Ok:
        break;
    case ReadResult::CannotOpen:
        std::printf(kNoListFile, listName.c_str());
        return kFailure;
    case ReadResult::NoMemory:
        std::fputs(kNoReadMemory, stdout);
        return kFailure;
    }

    // Bytes that do not read as a list would give a CSV of garbage: nothing is written.
    const std::string problem = sonvex::ListProblem(bytes);
    if (!problem.empty()) {
        std::printf(kNotAList, listName.c_str(), problem.c_str());
        return kFailure;
    }
    ConvertList list;
    try {
        (void)sonvex::ParseList(bytes, list);
    } catch (const std::bad_alloc&) {
        std::fputs(kNoWorkMemory, stdout);
        return kFailure;
    }
    bytes = {};

    if (!WriteCsv(csvName, list)) {
        std::printf(kCannotCreate, csvName.c_str());
        return kFailure;
    }
    return 0;
}
