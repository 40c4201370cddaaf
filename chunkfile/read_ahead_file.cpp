// SPDX-License-Identifier: GPL-3.0-or-later
#include "chunkfile/read_ahead_file.h"

#include <algorithm>
#include <cstring>

namespace sonvex {

ReadAheadFile::ReadAheadFile(std::unique_ptr<RawFile> inner, int64_t backStep)
    : inner_(std::move(inner)), backStep_(std::max<int64_t>(backStep, 0)), aheadGot_(-1) {
    worker_ = std::thread([this] { Work(); });
}

ReadAheadFile::~ReadAheadFile() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void ReadAheadFile::WaitIdle(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !requested_; });
}

void ReadAheadFile::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || requested_; });
        if (stopping_) {
            return;
        }
        const int64_t at = aheadAt_;
        const int64_t wanted = aheadWanted_;
        ahead_.resize(static_cast<size_t>(wanted));
        lock.unlock();
        const int64_t got = inner_->ReadAt(at, ahead_.data(), wanted);
        lock.lock();
        aheadGot_ = got;
        requested_ = false;
        changed_.notify_all();
    }
}

int64_t ReadAheadFile::ReadAt(int64_t position, void* destination, int64_t length) {
    if (length <= 0) {
        return 0;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    int64_t got = -1;
    if (aheadGot_ >= 0 && position >= aheadAt_) {
        const int64_t end = aheadAt_ + aheadGot_;
        // The file ends (or failed) inside what was read ahead: a read up to there gives
        // as much as the file would.
        const bool short_ = aheadGot_ < aheadWanted_;
        if (position + length <= end || (short_ && position <= end)) {
            got = std::min(length, end - position);
            std::memcpy(destination, ahead_.data() + (position - aheadAt_),
                        static_cast<size_t>(got));
        }
    }
    if (got < 0) {
        got = inner_->ReadAt(position, destination, length);
    }
    aheadGot_ = -1;
    if (got == length) {
        aheadAt_ = std::max<int64_t>(position + length - backStep_, 0);
        aheadWanted_ = length + backStep_;
        requested_ = true;
        changed_.notify_all();
    }
    return got;
}

int64_t ReadAheadFile::Size() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    return inner_->Size();
}

bool ReadAheadFile::Close() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    return inner_->Close();
}

} // namespace sonvex
