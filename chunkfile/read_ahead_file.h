// SPDX-License-Identifier: GPL-3.0-or-later
// A file read front to back in large blocks, with the next block read on a thread of its
// own while the reader works on the one in hand.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "chunkfile/file_system.h"

namespace sonvex {

// After every read of `length` bytes at `position`, the bytes from
// position + length - `backStep` on, `length` + `backStep` of them, are read ahead; a read
// that lies wholly in them (or reaches the end of the file in them) is served from there,
// any other read goes to the file. Reads give what the file itself gives. The file read
// from is touched by one thread at a time. Read only: writes move nothing.
class ReadAheadFile : public RawFile {
  public:
    ReadAheadFile(std::unique_ptr<RawFile> inner, int64_t backStep);
    ~ReadAheadFile() override;
    ReadAheadFile(const ReadAheadFile&) = delete;
    ReadAheadFile& operator=(const ReadAheadFile&) = delete;

    int64_t ReadAt(int64_t position, void* destination, int64_t length) override;
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override;
    bool Close() override;

  private:
    // Waits until no read ahead is under way; the lock stays held.
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    void Work();

    std::unique_ptr<RawFile> inner_;
    const int64_t backStep_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool requested_ = false; // a read ahead waits for the thread, or is under way
    int64_t aheadAt_ = 0;    // where the bytes read ahead start
    int64_t aheadWanted_ = 0;
    int64_t aheadGot_ = 0; // -1: nothing read ahead
    std::vector<uint8_t> ahead_;
    std::thread worker_;
};

} // namespace sonvex
