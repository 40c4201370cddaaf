// SPDX-License-Identifier: GPL-3.0-or-later
// Buffered chunked file: one 64 KiB window over the file, written back when the
// position leaves it, and the RIFF chunk operations on top.
#include "chunkfile/chunk_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sonvex {

ChunkFile::ChunkFile() = default;

ChunkFile::~ChunkFile() {
    Close();
}

bool ChunkFile::OpenRead(const std::string& path) {
    Close();
    return OpenRead(ActiveFileSystem().Open(path, OpenMode::Read), path);
}

bool ChunkFile::OpenRead(std::unique_ptr<RawFile> file, const std::string& path) {
    Close();
    file_ = std::move(file);
    if (!file_) {
        return false;
    }
    path_ = path;
    writable_ = false;
    writeFailed_ = false;
    buffer_.assign(static_cast<size_t>(kBufferSize), 0);
    windowStart_ = 0;
    windowLength_ = 0;
    windowLoaded_ = false;
    position_ = 0;
    return true;
}

bool ChunkFile::Create(const std::string& path) {
    Close();
    file_ = ActiveFileSystem().Open(path, OpenMode::CreateReadWrite);
    if (!file_) {
        return false;
    }
    path_ = path;
    writable_ = true;
    writeFailed_ = false;
    buffer_.assign(static_cast<size_t>(kBufferSize), 0);
    windowStart_ = 0;
    windowLength_ = 0;
    windowLoaded_ = true; // a new file is empty
    position_ = 0;
    return true;
}

bool ChunkFile::Close() {
    if (!file_) {
        return true;
    }
    Flush();
    if (!file_->Close()) {
        writeFailed_ = true;
    }
    file_.reset();
    LendBytes(0, nullptr, 0);
    buffer_.clear();
    buffer_.shrink_to_fit();
    return !writeFailed_;
}

bool ChunkFile::Flush() {
    if (!file_ || dirtyBegin_ < 0) {
        return true;
    }
    const int64_t length = dirtyEnd_ - dirtyBegin_;
    const int64_t n =
        file_->WriteAt(windowStart_ + dirtyBegin_, buffer_.data() + dirtyBegin_, length);
    dirtyBegin_ = -1;
    dirtyEnd_ = -1;
    if (n != length) {
        writeFailed_ = true;
        return false;
    }
    return true;
}

void ChunkFile::LoadWindow(int64_t position) {
    if (windowLoaded_ && position >= windowStart_ && position < windowStart_ + kBufferSize) {
        return;
    }
    Flush();
    windowStart_ = position;
    const int64_t n = file_->ReadAt(position, buffer_.data(), kBufferSize);
    windowLength_ = std::max<int64_t>(n, 0);
    windowLoaded_ = true;
}

int64_t ChunkFile::ReadThroughBuffer(void* destination, int64_t length) {
    if (!file_ || length <= 0) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(destination);
    int64_t done = 0;
    while (done < length) {
        const int64_t lentOffset = position_ - lentStart_;
        if (lentOffset >= 0 && lentOffset < lentLength_) {
            const int64_t n = std::min(lentLength_ - lentOffset, length - done);
            std::memcpy(out + done, lent_ + lentOffset, static_cast<size_t>(n));
            done += n;
            position_ += n;
            continue;
        }
        LoadWindow(position_);
        const int64_t offset = position_ - windowStart_;
        const int64_t available = windowLength_ - offset;
        if (available <= 0) {
            break;
        }
        int64_t n = std::min(available, length - done);
        if (lentOffset < 0 && lentLength_ > 0) {
            n = std::min(n, -lentOffset); // up to the lent bytes, which are read from there
        }
        std::memcpy(out + done, buffer_.data() + offset, static_cast<size_t>(n));
        done += n;
        position_ += n;
    }
    return done;
}

void ChunkFile::LendBytes(int64_t start, const uint8_t* bytes, int64_t length, bool toFileEnd) {
    const bool lend = !writable_ && bytes != nullptr && length > 0;
    lent_ = lend ? bytes : nullptr;
    lentStart_ = lend ? start : 0;
    lentLength_ = lend ? length : 0;
    lentToFileEnd_ = lend && toFileEnd;
}

int64_t ChunkFile::Write(const void* source, int64_t length) {
    if (!file_ || !writable_ || length <= 0) {
        if (length > 0) {
            writeFailed_ = true;
        }
        return 0;
    }
    const auto* in = static_cast<const uint8_t*>(source);
    int64_t done = 0;
    while (done < length) {
        LoadWindow(position_);
        const int64_t offset = position_ - windowStart_;
        if (offset > windowLength_) {
            // Writing after a seek past the end: the gap reads back as zeros.
            std::memset(buffer_.data() + windowLength_, 0,
                        static_cast<size_t>(offset - windowLength_));
            dirtyBegin_ = dirtyBegin_ < 0 ? windowLength_ : std::min(dirtyBegin_, windowLength_);
        }
        const int64_t n = std::min(kBufferSize - offset, length - done);
        std::memcpy(buffer_.data() + offset, in + done, static_cast<size_t>(n));
        dirtyBegin_ = dirtyBegin_ < 0 ? offset : std::min(dirtyBegin_, offset);
        dirtyEnd_ = std::max(dirtyEnd_, offset + n);
        windowLength_ = std::max(windowLength_, offset + n);
        done += n;
        position_ += n;
    }
    if (writeFailed_) {
        // An earlier write-back failed: report it on the write that follows as well.
        return 0;
    }
    return done;
}

bool ChunkFile::WriteU16le(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    return Write(b, 2) == 2;
}

bool ChunkFile::WriteU32le(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return Write(b, 4) == 4;
}

int64_t ChunkFile::Size() {
    if (!file_) {
        return 0;
    }
    return std::max(file_->Size(), windowStart_ + windowLength_);
}

int64_t ChunkFile::Seek(int64_t offset, SeekOrigin origin) {
    if (!file_) {
        return -1;
    }
    int64_t base = 0;
    if (origin == SeekOrigin::Current) {
        base = position_;
    } else if (origin == SeekOrigin::End) {
        base = Size();
    }
    const int64_t target = base + offset;
    if (target < 0) {
        return -1;
    }
    position_ = target;
    return position_;
}

bool ChunkFile::CreateChunk(ChunkInfo& chunk, uint32_t id) {
    chunk = ChunkInfo{};
    chunk.id = id;
    chunk.created = true;
    const bool ok = WriteU32le(id) && WriteU32le(0);
    chunk.dataOffset = position_;
    return ok;
}

bool ChunkFile::CreateList(ChunkInfo& chunk, uint32_t listType) {
    const bool ok = CreateChunk(chunk, kListId) && WriteU32le(listType);
    chunk.formType = listType;
    return ok;
}

bool ChunkFile::CreateRiff(ChunkInfo& chunk, uint32_t formType) {
    const bool ok = CreateChunk(chunk, kRiffId) && WriteU32le(formType);
    chunk.formType = formType;
    return ok;
}

bool ChunkFile::Ascend(ChunkInfo& chunk) {
    if (!file_) {
        return false;
    }
    if (chunk.created) {
        const int64_t end = position_;
        const int64_t size = end - chunk.dataOffset;
        if (size < 0 || size > 0xFFFFFFFFLL) {
            return false;
        }
        bool ok = true;
        if (size & 1) {
            ok = WriteU8(0);
        }
        const int64_t after = position_;
        Seek(chunk.dataOffset - 4, SeekOrigin::Begin);
        ok = WriteU32le(static_cast<uint32_t>(size)) && ok;
        Seek(after, SeekOrigin::Begin);
        chunk.size = static_cast<uint32_t>(size);
        chunk.created = false;
        return ok;
    }
    Seek(chunk.dataOffset + chunk.size + (chunk.size & 1), SeekOrigin::Begin);
    return true;
}

bool ChunkFile::Descend(ChunkInfo& chunk, const ChunkInfo* parent, DescendMode mode, uint32_t id) {
    if (!file_) {
        return false;
    }
    const int64_t limit = parent ? parent->End() : Size();
    while (true) {
        const int64_t start = position_;
        if (start + 8 > limit) {
            return false;
        }
        uint8_t header[12];
        if (Read(header, 8) != 8) {
            return false;
        }
        ChunkInfo found;
        found.id = static_cast<uint32_t>(header[0]) | (static_cast<uint32_t>(header[1]) << 8) |
                   (static_cast<uint32_t>(header[2]) << 16) |
                   (static_cast<uint32_t>(header[3]) << 24);
        found.size = static_cast<uint32_t>(header[4]) | (static_cast<uint32_t>(header[5]) << 8) |
                     (static_cast<uint32_t>(header[6]) << 16) |
                     (static_cast<uint32_t>(header[7]) << 24);
        found.dataOffset = position_;
        const bool isList = found.id == kListId || found.id == kRiffId;
        if (isList) {
            if (found.size < 4 || Read(header + 8, 4) != 4) {
                return false;
            }
            found.formType = static_cast<uint32_t>(header[8]) |
                             (static_cast<uint32_t>(header[9]) << 8) |
                             (static_cast<uint32_t>(header[10]) << 16) |
                             (static_cast<uint32_t>(header[11]) << 24);
        }
        bool match = false;
        switch (mode) {
        case DescendMode::Next:
            match = true;
            break;
        case DescendMode::FindChunk:
            match = found.id == id;
            break;
        case DescendMode::FindList:
            match = found.id == kListId && found.formType == id;
            break;
        case DescendMode::FindRiff:
            match = found.id == kRiffId && found.formType == id;
            break;
        }
        if (match) {
            chunk = found;
            return true;
        }
        const int64_t next = found.dataOffset + found.size + (found.size & 1);
        if (next <= start) {
            return false;
        }
        Seek(next, SeekOrigin::Begin);
    }
}

} // namespace sonvex
