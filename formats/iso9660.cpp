// SPDX-License-Identifier: GPL-3.0-or-later
// ISO 9660 walk.
#include "formats/iso9660.h"

#include <cstring>
#include <set>

namespace sonvex {

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

constexpr uint8_t kFlagDirectory = 0x02;
constexpr size_t kRecordFixed = 33; // bytes before the name

struct Folder {
    std::string path; // "" for the root, else "A/B"
    int64_t extent = 0;
    int64_t length = 0;
    int depth = 0;
};

struct Walk {
    const DiscSectors& disc;
    IsoFileSystem& out;
    std::set<int64_t> seenFolders;
    size_t entries = 0;

    bool Fail(int64_t offset, const std::string& structure, const std::string& problem) {
        out.status = IsoStatus::Invalid;
        out.diagnostics.Fail(offset, structure, problem);
        return false;
    }

    bool ReadFolder(const Folder& folder, std::vector<uint8_t>& bytes) {
        const std::string name = folder.path.empty() ? "root folder" : "folder " + folder.path;
        if (folder.length <= 0 || folder.length > kMaxFolderBytes) {
            return Fail(folder.extent * kForm1Bytes, name,
                        "length " + std::to_string(folder.length) + " out of range");
        }
        const int64_t sectors = (folder.length + kForm1Bytes - 1) / kForm1Bytes;
        bytes.resize(static_cast<size_t>(sectors * kForm1Bytes));
        for (int64_t i = 0; i < sectors; ++i) {
            std::string error;
            if (!disc.ReadForm1(folder.extent + i, bytes.data() + i * kForm1Bytes, error)) {
                return Fail((folder.extent + i) * kForm1Bytes, name, error);
            }
        }
        bytes.resize(static_cast<size_t>(folder.length));
        out.ownSectors.push_back({folder.extent, sectors});
        return true;
    }

    bool Visit(const Folder& folder) {
        const std::string name = folder.path.empty() ? "root folder" : "folder " + folder.path;
        if (folder.depth > kMaxFolderDepth) {
            return Fail(folder.extent * kForm1Bytes, name,
                        "nested deeper than " + std::to_string(kMaxFolderDepth) + " folders");
        }
        if (!seenFolders.insert(folder.extent).second) {
            return Fail(folder.extent * kForm1Bytes, name,
                        "its sectors belong to another folder too");
        }
        std::vector<uint8_t> bytes;
        if (!ReadFolder(folder, bytes)) {
            return false;
        }
        std::vector<Folder> subfolders;
        size_t at = 0;
        while (at < bytes.size()) {
            const size_t length = bytes[at];
            if (length == 0) {
                // The rest of this sector is padding.
                at = (at / kForm1Bytes + 1) * kForm1Bytes;
                continue;
            }
            const int64_t where = folder.extent * kForm1Bytes + static_cast<int64_t>(at);
            if (length < kRecordFixed + 1 || at + length > bytes.size() ||
                at / kForm1Bytes != (at + length - 1) / kForm1Bytes) {
                return Fail(where, name,
                            "record of " + std::to_string(length) + " bytes out of place");
            }
            const uint8_t* record = bytes.data() + at;
            const size_t nameLength = record[32];
            if (kRecordFixed + nameLength > length || nameLength == 0) {
                return Fail(where, name,
                            "name of " + std::to_string(nameLength) + " bytes does not fit");
            }
            at += length;
            if (nameLength == 1 && (record[33] == 0 || record[33] == 1)) {
                continue; // the folder itself and its parent
            }
            if (++entries > kMaxIsoEntries) {
                return Fail(where, name,
                            "more than " + std::to_string(kMaxIsoEntries) + " entries");
            }
            std::string entryName(reinterpret_cast<const char*>(record + 33), nameLength);
            const size_t version = entryName.find(';');
            if (version != std::string::npos) {
                entryName.resize(version);
            }
            if (entryName.empty() || entryName == "." || entryName == ".." ||
                entryName.find('/') != std::string::npos ||
                entryName.find('\0') != std::string::npos) {
                return Fail(where, name, "entry name unusable as a path");
            }
            const std::string path =
                folder.path.empty() ? entryName : folder.path + "/" + entryName;
            const int64_t extent = Le32(record + 2);
            const int64_t dataLength = Le32(record + 10);
            if ((record[25] & kFlagDirectory) != 0) {
                subfolders.push_back({path, extent, dataLength, folder.depth + 1});
                continue;
            }
            IsoFile file{path, extent, dataLength, false, 0};
            // The system use area: after the name and its padding byte.
            const size_t systemUse = kRecordFixed + nameLength + (nameLength % 2 == 0 ? 1 : 0);
            if (systemUse + 14 <= length && record[systemUse + 6] == 'X' &&
                record[systemUse + 7] == 'A') {
                file.hasXa = true;
                file.xaAttributes =
                    static_cast<uint16_t>(record[systemUse + 4] << 8 | record[systemUse + 5]);
            }
            if (extent + file.SectorCount() > disc.SectorEnd() && dataLength > 0) {
                return Fail(where, "file " + path,
                            "extent at sector " + std::to_string(extent) +
                                " runs past the disc's " + std::to_string(disc.SectorEnd()) +
                                " sectors");
            }
            out.files.push_back(file);
        }
        for (const Folder& sub : subfolders) {
            if (!Visit(sub)) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

IsoFileSystem ReadIsoFileSystem(const DiscSectors& disc) {
    IsoFileSystem fs;
    uint8_t sector[kForm1Bytes];
    int64_t primary = -1;
    // Volume descriptors run from sector 16 to the set terminator (type 255).
    for (int64_t s = kFirstVolumeDescriptor; s < kFirstVolumeDescriptor + 64; ++s) {
        std::string error;
        if (!disc.ReadForm1(s, sector, error) || std::memcmp(sector + 1, "CD001", 5) != 0) {
            if (s == kFirstVolumeDescriptor) {
                fs.status = IsoStatus::NoFileSystem;
                fs.diagnostics.Fail(s * kForm1Bytes, "volume descriptor",
                                    error.empty() ? "no ISO 9660 volume descriptor" : error);
                return fs;
            }
            break;
        }
        fs.ownSectors.push_back({s, 1});
        if (sector[0] == 1 && primary < 0) {
            primary = s;
        }
        if (sector[0] == 255) {
            break;
        }
    }
    if (primary < 0) {
        fs.status = IsoStatus::NoFileSystem;
        fs.diagnostics.Fail(kFirstVolumeDescriptor * kForm1Bytes, "volume descriptor",
                            "no primary volume descriptor");
        return fs;
    }
    std::string error;
    if (!disc.ReadForm1(primary, sector, error)) {
        fs.status = IsoStatus::Invalid;
        fs.diagnostics.Fail(primary * kForm1Bytes, "primary volume descriptor", error);
        return fs;
    }
    if (Le16(sector + 128) != kForm1Bytes) {
        fs.status = IsoStatus::Invalid;
        fs.diagnostics.Fail(primary * kForm1Bytes + 128, "primary volume descriptor",
                            "logical block size " + std::to_string(Le16(sector + 128)));
        return fs;
    }
    // The path tables (type L and M, each with an optional copy).
    const int64_t pathTableBytes = Le32(sector + 132);
    const int64_t pathTableSectors = (pathTableBytes + kForm1Bytes - 1) / kForm1Bytes;
    for (const size_t at : {size_t{140}, size_t{144}}) {
        const int64_t first = Le32(sector + at);
        if (first > 0 && pathTableSectors > 0) {
            fs.ownSectors.push_back({first, pathTableSectors});
        }
    }
    for (const size_t at : {size_t{148}, size_t{152}}) {
        const int64_t first = static_cast<int64_t>(sector[at]) << 24 | sector[at + 1] << 16 |
                              sector[at + 2] << 8 | sector[at + 3];
        if (first > 0 && pathTableSectors > 0) {
            fs.ownSectors.push_back({first, pathTableSectors});
        }
    }
    const uint8_t* root = sector + 156;
    Walk walk{disc, fs, {}, 0};
    walk.Visit({"", Le32(root + 2), Le32(root + 10), 0});
    return fs;
}

} // namespace sonvex
