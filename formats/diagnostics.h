// SPDX-License-Identifier: GPL-3.0-or-later
// How readers and converters say what they made of foreign bytes: each problem names
// the structure, its file offset in hex and what was wrong ("wave 3 at 0x0001A2F0:
// flags 9"), so that a user or a test can find it in a hex dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonvex {

// An offset as the diagnostics print it: "0x" and at least eight upper-case digits.
std::string HexOffset(uint64_t offset);
inline std::string HexOffset(int64_t offset) {
    return HexOffset(static_cast<uint64_t>(offset));
}
// A byte value as "0x9F".
std::string HexByte(unsigned value);

struct Diagnostic {
    int64_t offset = 0;    // file offset of the structure
    std::string structure; // "wave 3", "track chunk", "SEQ"
    std::string problem;   // "flags 9"

    // "structure at 0x........: problem"
    std::string Text() const;
};

inline std::string DiagnosticText(const std::string& structure, int64_t offset,
                                  const std::string& problem) {
    return Diagnostic{offset, structure, problem}.Text();
}

// What a read or a conversion reports besides its status: the one fault that stopped it
// (if any) and the notes on odd values it read past.
struct Diagnostics {
    std::string failure;            // empty while nothing stopped the work
    std::vector<std::string> notes; // values handled as the format defines, but odd

    void Fail(int64_t offset, const std::string& structure, const std::string& problem) {
        if (failure.empty()) {
            failure = DiagnosticText(structure, offset, problem);
        }
    }
    void Note(int64_t offset, const std::string& structure, const std::string& problem) {
        notes.push_back(DiagnosticText(structure, offset, problem));
    }
    bool failed() const { return !failure.empty(); }
};

} // namespace sonvex
