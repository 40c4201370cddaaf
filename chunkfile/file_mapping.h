// SPDX-License-Identifier: GPL-3.0-or-later
// Read-only mappings of whole files that survive the file shrinking under them: a page
// that has no file behind it any more reads as zeros instead of stopping the process.
#pragma once

#include <cstdint>

namespace sonvex {

// The whole file behind `fd` mapped read only, or an empty mapping when it cannot be (an
// empty file, one that is not a regular file, no address space, or every guard slot in
// use): the caller then reads the file instead.
class FileMapping {
  public:
    FileMapping() = default;
    explicit FileMapping(int fd);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    const uint8_t* data() const { return data_; }
    int64_t size() const { return size_; }
    bool empty() const { return data_ == nullptr; }
    // Makes the pages of [offset, offset + length) ready to be read (mapped, data read in),
    // so that reading them takes few page faults. Only a speed-up: the bytes read the same
    // without it.
    void Prepare(int64_t offset, int64_t length) const;
    // Lets go of the page tables of the whole pages inside [offset, offset + length), the
    // work that unmapping them would do, so that it need not all be done at the end. Only a
    // saving: the pages read the same afterwards, mapped again.
    void Release(int64_t offset, int64_t length) const;
    // Whether a page was found without file behind it (the file shrank while mapped) and
    // now reads as zeros.
    bool LostPages() const;

  private:
    const uint8_t* data_ = nullptr;
    int64_t size_ = 0;
    int slot_ = -1;
};

} // namespace sonvex
