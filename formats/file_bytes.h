// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a whole file into memory through the active file system, with a limit the
// caller states: a file that claims more is refused before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonvex {

class ChunkFile;

// The largest file a reader of whole files takes unless it says otherwise.
constexpr int64_t kLargestWholeFile = int64_t{1} << 30; // 1 GiB

enum class [[nodiscard]] FileReadStatus{
    Ok,
    OpenFailed, // the file could not be opened
    TooLarge,   // larger than the limit (or its size could not be told)
    ShortRead,  // fewer bytes came than the size promised
};

struct FileBytes {
    FileReadStatus status = FileReadStatus::Ok;
    std::vector<uint8_t> bytes;
    std::string error; // "PATH: reason" when status is not Ok
};

FileBytes ReadFileBytes(const std::string& path, int64_t limit = kLargestWholeFile);

// Reads the whole file at `path` and hands its bytes to `parse`, whose outcome it returns. A
// file that cannot be read gives an outcome (a reader's status-and-diagnostics shape) whose
// status is `readFailed` and whose failure names the path and the reason.
template <class Outcome, class Status, class Parse>
Outcome ParseWholeFile(const std::string& path, Status readFailed, Parse parse) {
    const FileBytes file = ReadFileBytes(path);
    if (file.status != FileReadStatus::Ok) {
        Outcome out;
        out.status = readFailed;
        out.diagnostics.failure = file.error;
        return out;
    }
    return parse(file.bytes);
}
// The same for a file the caller has open already, read from its start.
FileBytes ReadFileBytes(ChunkFile& file, int64_t limit = kLargestWholeFile);

} // namespace sonvex
