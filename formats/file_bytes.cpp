// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads through the file system seam, so tests can fail them on demand.
#include "formats/file_bytes.h"

#include "chunkfile/chunk_file.h"

namespace sonvex {

FileBytes ReadFileBytes(const std::string& path, int64_t limit) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        FileBytes out;
        out.status = FileReadStatus::OpenFailed;
        out.error = path + ": cannot be opened";
        return out;
    }
    return ReadFileBytes(file, limit);
}

FileBytes ReadFileBytes(ChunkFile& file, int64_t limit) {
    FileBytes out;
    const int64_t size = file.Size();
    if (size < 0 || size > limit) {
        out.status = FileReadStatus::TooLarge;
        out.error = file.Path() + ": size " + std::to_string(size) + " cannot be read";
        return out;
    }
    out.bytes.resize(static_cast<size_t>(size));
    if (file.Seek(0, SeekOrigin::Begin) != 0 || file.Read(out.bytes.data(), size) != size) {
        out.status = FileReadStatus::ShortRead;
        out.error = file.Path() + ": short read";
        out.bytes.clear();
    }
    return out;
}

} // namespace sonvex
