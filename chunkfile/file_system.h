// SPDX-License-Identifier: GPL-3.0-or-later
// The byte-level file services under the chunked file layer: a raw file, a file
// system that opens, removes and renames files, and the one process-wide choice of
// file system, which tests replace with an in-memory or fault-injecting one.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sonvex {

class FileMapping;

// Bytes of a file that lie in memory as equal pieces at equal distances: `count` pieces of
// `length` bytes, the first at `data` and each next one `stride` bytes further on; the first
// piece's first byte is at file position `start`. The user data of a run of disc sectors in
// a mapped image is held so.
struct StridedBytes {
    int64_t start = 0;
    int64_t count = 0;
    int64_t length = 0;
    int64_t stride = 0;
    const uint8_t* data = nullptr;

    int64_t end() const { return start + count * length; }
    // The piece holding file position `position` (inside [start, end())), and its bytes.
    int64_t PieceOf(int64_t position) const { return (position - start) / length; }
    const uint8_t* PieceData(int64_t piece) const { return data + piece * stride; }
};

// An unbuffered, positioned file. Reads and writes return the number of bytes moved;
// a short count is how a failure shows.
class RawFile {
  public:
    virtual ~RawFile() = default;
    virtual int64_t ReadAt(int64_t position, void* destination, int64_t length) = 0;
    virtual int64_t WriteAt(int64_t position, const void* source, int64_t length) = 0;
    virtual int64_t Size() = 0;
    // The whole file mapped into memory read only, valid until Close; nullptr when it is
    // not mapped (then it is read with ReadAt). Pages the file loses while mapped read as
    // zeros.
    virtual const FileMapping* Map() { return nullptr; }
    // The pieces of mapped memory that hold the file's bytes around `position`, valid until
    // Close; false when the file is not held so (then it is read with ReadAt) or `position`
    // lies outside it.
    virtual bool StridedAt(int64_t position, StridedBytes& bytes) {
        (void)position;
        (void)bytes;
        return false;
    }
    // Releases the file; false when data could not be committed.
    virtual bool Close() = 0;
};

enum class OpenMode {
    Read,           // existing file, read only
    CreateReadWrite // new or truncated file, read and write
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) = 0;
    virtual bool Remove(const std::string& path) = 0;
    // Replaces an existing file of the new name.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // The names of the files in `folder` ("" for the working folder), without the folder;
    // none when it cannot be listed.
    virtual std::vector<std::string> FileNamesIn(const std::string& folder) {
        (void)folder;
        return {};
    }
};

// The real files of the operating system.
class PosixFileSystem : public FileSystem {
  public:
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override;
    bool Remove(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> FileNamesIn(const std::string& folder) override;
};

// Files held in memory, keyed by path: lets tests write and inspect files without a disk.
class MemoryFileSystem : public FileSystem {
  public:
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override;
    bool Remove(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> FileNamesIn(const std::string& folder) override;

    bool Exists(const std::string& path) const { return files_.count(path) != 0; }
    const std::vector<uint8_t>& Contents(const std::string& path) const;
    void Put(const std::string& path, std::vector<uint8_t> bytes);

  private:
    std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> files_;
};

// Wraps another file system and fails on demand: creating a file, renaming, or any
// write that would take the bytes written since the fault was armed past a limit.
class FaultInjectingFileSystem : public FileSystem {
  public:
    explicit FaultInjectingFileSystem(FileSystem& inner) : inner_(inner) {}

    void FailCreate(bool on) { failCreate_ = on; }
    void FailRename(bool on) { failRename_ = on; }
    void FailOpenRead(bool on) { failOpenRead_ = on; }
    // Writes succeed for the first `bytes` bytes (counted over all files), then fail.
    void FailWritesAfter(int64_t bytes) { writeBudget_ = bytes; }
    void Clear();

    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override;
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> FileNamesIn(const std::string& folder) override {
        return inner_.FileNamesIn(folder);
    }

    // Shared by the files this system opened; -1 means unlimited.
    int64_t writeBudget_ = -1;

  private:
    FileSystem& inner_;
    bool failCreate_ = false;
    bool failRename_ = false;
    bool failOpenRead_ = false;
};

// The file system every chunked file goes through.
FileSystem& ActiveFileSystem();

// Installs `fs` for as long as the guard lives, then restores the previous one.
class ScopedFileSystem {
  public:
    explicit ScopedFileSystem(FileSystem& fs);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

  private:
    FileSystem* previous_;
};

} // namespace sonvex
