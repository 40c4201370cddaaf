// SPDX-License-Identifier: GPL-3.0-or-later
// PSF files of the PlayStation: a header, a zlib-compressed PS-X EXE with its CRC-32, and
// tags; and the set of files a PSF loads with it (its `_lib` chain), overlaid into one
// picture of the console's memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "formats/diagnostics.h"

namespace sonvex {

class FileSystem;

// "PSF" then the version byte of the PlayStation.
constexpr uint8_t kPsfVersionPlayStation = 0x01;
constexpr size_t kPsfHeaderBytes = 16;
// The console's main memory: every program of a set loads into it.
constexpr int64_t kPsxMemoryBytes = int64_t{2} << 20;
// A PS-X EXE's header before its text.
constexpr size_t kExeHeaderBytes = 0x800;
// `_lib` files nested deeper than this are refused (a guard against cycles the names hide).
constexpr int kMaxPsfLibDepth = 10;
// Largest PSF file taken (header, reserved area, program and tags).
constexpr int64_t kMaxPsfFileBytes = int64_t{16} << 20;

struct PsfTag {
    std::string name; // lower case
    std::string value;
};

struct Psf {
    uint8_t version = 0;
    std::vector<uint8_t> program; // the inflated PS-X EXE
    std::vector<PsfTag> tags;     // in order; lines of one name joined by "\n"
    bool utf8 = false;            // the tags say utf8=1

    // The value of tag `name` (lower case), or "" when there is none.
    std::string Tag(const std::string& name) const;
    bool HasTag(const std::string& name) const;
};

enum class [[nodiscard]] PsfStatus{Ok, NotPsf, Invalid};

struct PsfRead {
    PsfStatus status = PsfStatus::Ok;
    Psf psf;
    Diagnostics diagnostics;
};

// Whether `bytes` start like a PSF of the PlayStation.
bool LooksLikePsf(std::span<const uint8_t> bytes);

// Reads one PSF: the header, the CRC-32 of the compressed program, the program inflated
// (at most the header and the whole of main memory), and the tags.
PsfRead ReadPsf(std::span<const uint8_t> bytes);

// The text of a PS-X EXE in memory: where it loads (a main-memory offset) and its bytes.
struct ExeText {
    int64_t address = 0;
    std::span<const uint8_t> bytes;
};
// Reads the load address and text of a PS-X EXE; false with a diagnostic when it is not one
// or its text does not fit main memory.
bool ReadExeText(std::span<const uint8_t> program, ExeText& text, Diagnostics& diagnostics);

enum class [[nodiscard]] PsfSetStatus{Ok, Failed};

struct PsfSet {
    PsfSetStatus status = PsfSetStatus::Ok;
    int64_t address = 0;            // main-memory offset of image byte 0
    std::vector<uint8_t> image;     // lowest to highest loaded byte; gaps are zero
    std::vector<std::string> files; // every file loaded, in load order
    std::vector<PsfTag> tags;       // the named file's own tags
    // Where the named file's own program lies in `image` (its libraries' bytes are around it).
    int64_t ownStart = 0;
    int64_t ownEnd = 0;
    bool utf8 = false;
    std::string failure; // "PATH: reason" when the set could not be loaded
};

// Loads the PSF at `path` with its `_lib` chain as players do: the `_lib` set first, the
// file's own program over it, then `_lib2`, `_lib3`, ... up to the first number missing.
// Library names are taken relative to the folder of the file that names them.
PsfSet LoadPsfSet(FileSystem& files, const std::string& path);

// The library paths the PSF at `path` names directly, in load order (for a run that scans
// each library once); empty when it names none or cannot be read.
std::vector<std::string> PsfLibraryPaths(FileSystem& files, const std::string& path);

} // namespace sonvex
