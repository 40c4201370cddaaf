// SPDX-License-Identifier: GPL-3.0-or-later
// The ISO 9660 file system of a data disc, with the CD-XA attributes that Mode 2 discs
// record for each file: a walk from the primary volume descriptor through every folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/diagnostics.h"
#include "formats/disc_sectors.h"

namespace sonvex {

// CD-XA attribute bits (the big-endian word after the owner ids).
constexpr uint16_t kXaForm1 = 0x0800;
constexpr uint16_t kXaForm2 = 0x1000;
constexpr uint16_t kXaInterleaved = 0x2000;
constexpr uint16_t kXaAudio = 0x4000;
constexpr uint16_t kXaDirectory = 0x8000;

struct IsoFile {
    std::string path;   // "SOUND/BGM.VAB": folders and name, version suffix dropped
    int64_t extent = 0; // first sector
    int64_t length = 0; // recorded data length in bytes
    bool hasXa = false; // a CD-XA record follows the name
    uint16_t xaAttributes = 0;

    // Sectors the extent spans: the recorded length in 2048-byte units, rounded up.
    int64_t SectorCount() const { return (length + kForm1Bytes - 1) / kForm1Bytes; }
};

enum class [[nodiscard]] IsoStatus{Ok, NoFileSystem, Invalid};

struct IsoFileSystem {
    IsoStatus status = IsoStatus::Ok;
    std::vector<IsoFile> files;        // in walk order: a folder's entries, then its folders
    std::vector<SectorRun> ownSectors; // descriptors, path tables and folders
    Diagnostics diagnostics;
};

// Bounds of the walk against damaged or hostile images.
constexpr int kMaxFolderDepth = 32;
constexpr size_t kMaxIsoEntries = 100000;
constexpr int64_t kMaxFolderBytes = int64_t{16} << 20;

// Walks the file system of `disc`. Damage inside a folder stops the walk with Invalid and a
// diagnostic naming the folder and the offset within it.
IsoFileSystem ReadIsoFileSystem(const DiscSectors& disc);

} // namespace sonvex
