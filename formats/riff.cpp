// SPDX-License-Identifier: GPL-3.0-or-later
// RIFF chunk walking over bounded cursors.
#include "formats/riff.h"

namespace sonvex {

std::string FourCCText(uint32_t id) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((id >> (8 * i)) & 0xFF);
        s.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return s;
}

bool RiffWalker::Next(ByteCursor& parent, RiffChunk& chunk) {
    if (diagnostics_.failed() || parent.remaining() == 0) {
        return false;
    }
    const int64_t at = OffsetOf(parent);
    if (parent.remaining() < 8) {
        const std::string left = std::to_string(parent.remaining()) + " byte(s)";
        parent.skip(parent.remaining());
        if (tail_ == Tail::Fail) {
            diagnostics_.Fail(at, "chunk header", "cut short: " + left + " left");
        } else {
            diagnostics_.Note(at, "chunk", "trailing " + left + " ignored");
        }
        return false;
    }
    chunk = RiffChunk{};
    chunk.offset = at;
    chunk.id = parent.u32le();
    chunk.size = parent.u32le();
    if (chunk.size > parent.remaining()) {
        const std::string structure = "chunk \"" + FourCCText(chunk.id) + "\"";
        const std::string problem = "size " + std::to_string(chunk.size) +
                                    " runs past its parent (" + std::to_string(parent.remaining()) +
                                    " bytes left)";
        if (overrun_ == Overrun::Fail) {
            diagnostics_.Fail(at, structure, problem);
            return false;
        }
        diagnostics_.Note(at, structure, problem + "; taken as far as the file goes");
        const size_t from = static_cast<size_t>(at) + 8;
        const size_t left = file_.size() - from;
        chunk.data = ByteCursor(file_.data() + from, chunk.size <= left ? chunk.size : left);
        parent.skip(parent.remaining());
    } else {
        chunk.data = parent.sub(chunk.size);
    }
    if ((chunk.size & 1) != 0 && parent.remaining() > 0) {
        parent.skip(1);
    }
    if (chunk.id == kListId || chunk.id == kRiffId) {
        if (chunk.data.size() < 4) {
            diagnostics_.Fail(at, "list",
                              "size " + std::to_string(chunk.size) + " has no list type");
            return false;
        }
        chunk.listType = chunk.data.u32le();
        chunk.data = chunk.data.sub(chunk.data.remaining());
    }
    return true;
}

} // namespace sonvex
