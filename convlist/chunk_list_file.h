// SPDX-License-Identifier: GPL-3.0-or-later
// The convert-list byte access over the main program's buffered file layer. Header
// only, so the convlist library itself stays free of it (the console tools link
// convlist alone); only code that links chunkfile includes this.
#pragma once

#include "chunkfile/chunk_file.h"
#include "convlist/convert_list.h"

namespace sonvex {

class ChunkListFile : public ListFile {
  public:
    explicit ChunkListFile(ChunkFile& file) : file_(file) {}
    int64_t Read(void* destination, int64_t length) override {
        return file_.Read(destination, length);
    }
    int64_t Write(const void* source, int64_t length) override {
        return file_.Write(source, length);
    }
    bool SeekFromStart(int64_t position) override {
        return file_.Seek(position, SeekOrigin::Begin) >= 0;
    }
    bool SeekBy(int64_t delta) override { return file_.Seek(delta, SeekOrigin::Current) >= 0; }

  private:
    ChunkFile& file_;
};

} // namespace sonvex
