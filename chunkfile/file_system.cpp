// SPDX-License-Identifier: GPL-3.0-or-later
// Real, in-memory and fault-injecting file systems under the chunked file layer.
#include "chunkfile/file_system.h"

#include "chunkfile/file_mapping.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace sonvex {

namespace {

class PosixFile : public RawFile {
  public:
    PosixFile(int fd, bool readOnly) : fd_(fd), readOnly_(readOnly) {}
    ~PosixFile() override { Close(); }

    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        auto* out = static_cast<uint8_t*>(destination);
        int64_t done = 0;
        while (done < length) {
            ssize_t n =
                ::pread(fd_, out + done, static_cast<size_t>(length - done), position + done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += n;
        }
        return done;
    }

    int64_t WriteAt(int64_t position, const void* source, int64_t length) override {
        const auto* in = static_cast<const uint8_t*>(source);
        int64_t done = 0;
        while (done < length) {
            ssize_t n =
                ::pwrite(fd_, in + done, static_cast<size_t>(length - done), position + done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += n;
        }
        return done;
    }

    int64_t Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            return 0;
        }
        return st.st_size;
    }

    // Mapped on first use, once, even when threads share the file.
    const FileMapping* Map() override {
        if (!readOnly_) {
            return nullptr;
        }
        std::call_once(mapOnce_, [this] {
            if (fd_ >= 0) {
                mapping_ = std::make_unique<FileMapping>(fd_);
            }
        });
        return mapping_ && !mapping_->empty() ? mapping_.get() : nullptr;
    }

    bool Close() override {
        mapping_.reset();
        if (fd_ < 0) {
            return true;
        }
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

  private:
    int fd_;
    bool readOnly_;
    std::once_flag mapOnce_;
    std::unique_ptr<FileMapping> mapping_;
};

class MemoryFile : public RawFile {
  public:
    explicit MemoryFile(std::shared_ptr<std::vector<uint8_t>> bytes) : bytes_(std::move(bytes)) {}

    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        const auto size = static_cast<int64_t>(bytes_->size());
        if (position >= size || length <= 0) {
            return 0;
        }
        int64_t n = std::min(length, size - position);
        std::memcpy(destination, bytes_->data() + position, static_cast<size_t>(n));
        return n;
    }

    int64_t WriteAt(int64_t position, const void* source, int64_t length) override {
        if (length <= 0) {
            return 0;
        }
        const auto end = static_cast<size_t>(position + length);
        if (bytes_->size() < end) {
            bytes_->resize(end, 0);
        }
        std::memcpy(bytes_->data() + position, source, static_cast<size_t>(length));
        return length;
    }

    int64_t Size() override { return static_cast<int64_t>(bytes_->size()); }
    bool Close() override { return true; }

  private:
    std::shared_ptr<std::vector<uint8_t>> bytes_;
};

class FaultInjectingFile : public RawFile {
  public:
    FaultInjectingFile(std::unique_ptr<RawFile> inner, FaultInjectingFileSystem& owner)
        : inner_(std::move(inner)), owner_(owner) {}

    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        return inner_->ReadAt(position, destination, length);
    }

    int64_t WriteAt(int64_t position, const void* source, int64_t length) override {
        int64_t allowed = length;
        if (owner_.writeBudget_ >= 0) {
            allowed = std::min(length, owner_.writeBudget_);
        }
        int64_t n = allowed > 0 ? inner_->WriteAt(position, source, allowed) : 0;
        if (owner_.writeBudget_ >= 0) {
            owner_.writeBudget_ -= n;
        }
        return n;
    }

    int64_t Size() override { return inner_->Size(); }
    const FileMapping* Map() override { return inner_->Map(); }
    bool StridedAt(int64_t position, StridedBytes& bytes) override {
        return inner_->StridedAt(position, bytes);
    }
    bool Close() override { return inner_->Close(); }

  private:
    std::unique_ptr<RawFile> inner_;
    FaultInjectingFileSystem& owner_;
};

PosixFileSystem& DefaultFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

FileSystem* g_active = nullptr;

} // namespace

std::unique_ptr<RawFile> PosixFileSystem::Open(const std::string& path, OpenMode mode) {
    int flags = mode == OpenMode::Read ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd, mode == OpenMode::Read);
}

bool PosixFileSystem::Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool PosixFileSystem::Rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> PosixFileSystem::FileNamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error)) {
            names.push_back(it->path().filename().string());
        }
    }
    return names;
}

std::unique_ptr<RawFile> MemoryFileSystem::Open(const std::string& path, OpenMode mode) {
    auto it = files_.find(path);
    if (mode == OpenMode::Read) {
        if (it == files_.end()) {
            return nullptr;
        }
        return std::make_unique<MemoryFile>(it->second);
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    files_[path] = bytes;
    return std::make_unique<MemoryFile>(bytes);
}

std::vector<std::string> MemoryFileSystem::FileNamesIn(const std::string& folder) {
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') {
        prefix += '/';
    }
    std::vector<std::string> names;
    for (const auto& [path, bytes] : files_) {
        if (path.compare(0, prefix.size(), prefix) == 0 &&
            path.find('/', prefix.size()) == std::string::npos) {
            names.push_back(path.substr(prefix.size()));
        }
    }
    return names;
}

bool MemoryFileSystem::Remove(const std::string& path) {
    return files_.erase(path) != 0;
}

bool MemoryFileSystem::Rename(const std::string& from, const std::string& to) {
    auto it = files_.find(from);
    if (it == files_.end()) {
        return false;
    }
    auto bytes = it->second;
    files_.erase(it);
    files_[to] = std::move(bytes);
    return true;
}

const std::vector<uint8_t>& MemoryFileSystem::Contents(const std::string& path) const {
    static const std::vector<uint8_t> empty;
    auto it = files_.find(path);
    return it == files_.end() ? empty : *it->second;
}

void MemoryFileSystem::Put(const std::string& path, std::vector<uint8_t> bytes) {
    files_[path] = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
}

void FaultInjectingFileSystem::Clear() {
    failCreate_ = false;
    failRename_ = false;
    failOpenRead_ = false;
    writeBudget_ = -1;
}

std::unique_ptr<RawFile> FaultInjectingFileSystem::Open(const std::string& path, OpenMode mode) {
    if ((mode == OpenMode::CreateReadWrite && failCreate_) ||
        (mode == OpenMode::Read && failOpenRead_)) {
        return nullptr;
    }
    auto inner = inner_.Open(path, mode);
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<FaultInjectingFile>(std::move(inner), *this);
}

bool FaultInjectingFileSystem::Rename(const std::string& from, const std::string& to) {
    if (failRename_) {
        return false;
    }
    return inner_.Rename(from, to);
}

FileSystem& ActiveFileSystem() {
    return g_active ? *g_active : DefaultFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs) : previous_(g_active) {
    g_active = &fs;
}

ScopedFileSystem::~ScopedFileSystem() {
    g_active = previous_;
}

} // namespace sonvex
