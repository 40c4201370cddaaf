// SPDX-License-Identifier: GPL-3.0-or-later
// Disc image builder.
#include "testkit/disc_builder.h"

#include <algorithm>
#include <map>
#include <set>

namespace sonvex::testkit {

namespace {

constexpr size_t kForm1 = 2048;
constexpr size_t kForm2 = 2324;
constexpr int64_t kPrimarySector = 16;
constexpr int64_t kFirstFolderSector = 20;
// CD-XA attribute words: read permissions for all, and the kind of the entry.
constexpr uint16_t kXaFileForm1 = 0x0D55;
constexpr uint16_t kXaFileForm2 = 0x1555;
constexpr uint16_t kXaFolder = 0x8D55;

ByteBuilder& Both16(ByteBuilder& b, uint32_t v) {
    return b.u16le(v).u16be(v);
}
ByteBuilder& Both32(ByteBuilder& b, uint32_t v) {
    return b.u32le(v).u32be(v);
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One directory record. `name` is the identifier as stored (a single 0x00 or 0x01 for the
// folder itself and its parent).
Bytes Record(const std::string& name, uint32_t extent, uint32_t length, bool folder, uint16_t xa) {
    ByteBuilder b;
    b.u8(0).u8(0);
    Both32(b, extent);
    Both32(b, length);
    b.u8(126).u8(1).u8(1).u8(0).u8(0).u8(0).u8(0); // 2026-01-01 00:00:00
    b.u8(folder ? 0x02 : 0x00).u8(0).u8(0);
    Both16(b, 1);
    b.u8(static_cast<uint32_t>(name.size())).text(name);
    if (name.size() % 2 == 0) {
        b.u8(0);
    }
    b.u16be(0).u16be(0).u16be(xa).text("XA").u8(0).fill(5);
    Bytes bytes = b.take();
    bytes[0] = static_cast<uint8_t>(bytes.size());
    return bytes;
}

// Packs records into whole sectors; none crosses a sector boundary.
Bytes PackRecords(const std::vector<Bytes>& records) {
    Bytes out;
    for (const Bytes& record : records) {
        const size_t used = out.size() % kForm1;
        if (used + record.size() > kForm1) {
            out.resize(out.size() + (kForm1 - used), 0);
        }
        out.insert(out.end(), record.begin(), record.end());
    }
    out.resize((out.size() + kForm1 - 1) / kForm1 * kForm1, 0);
    return out;
}

uint8_t Bcd(int64_t v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

} // namespace

DiscBuilder& DiscBuilder::File(DiscFile file) {
    files_.push_back(std::move(file));
    return *this;
}

DiscBuilder& DiscBuilder::Unfiled(Bytes data) {
    unfiled_ = std::move(data);
    return *this;
}

std::vector<DiscSector> DiscBuilder::Build() const {
    // Folders, parents before children, each folder's entries by name.
    std::set<std::string> folderSet = {""};
    for (const DiscFile& file : files_) {
        for (std::string p = ParentOf(file.path); !p.empty(); p = ParentOf(p)) {
            folderSet.insert(p);
        }
    }
    std::vector<std::string> folders(folderSet.begin(), folderSet.end());
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::string& a, const std::string& b) {
                         return std::count(a.begin(), a.end(), '/') + !a.empty() <
                                std::count(b.begin(), b.end(), '/') + !b.empty();
                     });
    // Sizes of folders do not depend on extents: measure with zeros, then place.
    auto recordsOf = [&](const std::string& folder, const std::map<std::string, int64_t>& folderAt,
                         const std::map<std::string, int64_t>& folderBytes,
                         const std::vector<int64_t>& fileAt) {
        std::map<std::string, Bytes> byName;
        for (const std::string& sub : folders) {
            if (!sub.empty() && ParentOf(sub) == folder) {
                byName[NameOf(sub)] =
                    Record(NameOf(sub), static_cast<uint32_t>(folderAt.at(sub)),
                           static_cast<uint32_t>(folderBytes.at(sub)), true, kXaFolder);
            }
        }
        for (size_t i = 0; i < files_.size(); ++i) {
            const DiscFile& file = files_[i];
            if (ParentOf(file.path) != folder) {
                continue;
            }
            const bool form2 = file.form == SectorForm::Form2;
            const size_t unit = form2 ? kForm2 : kForm1;
            const size_t sectors = (file.data.size() + unit - 1) / unit;
            const auto length = static_cast<uint32_t>(form2 ? sectors * kForm1 : file.data.size());
            byName[NameOf(file.path) + ";1"] =
                Record(NameOf(file.path) + ";1", static_cast<uint32_t>(fileAt[i]), length, false,
                       file.xaAttributes.value_or(form2 ? kXaFileForm2 : kXaFileForm1));
        }
        const std::string parent = ParentOf(folder);
        std::vector<Bytes> records = {
            Record(std::string(1, '\0'), static_cast<uint32_t>(folderAt.at(folder)),
                   static_cast<uint32_t>(folderBytes.at(folder)), true, kXaFolder),
            Record(std::string(1, '\1'), static_cast<uint32_t>(folderAt.at(parent)),
                   static_cast<uint32_t>(folderBytes.at(parent)), true, kXaFolder)};
        for (auto& [name, record] : byName) {
            records.push_back(record);
        }
        return PackRecords(records);
    };
    std::map<std::string, int64_t> folderAt;
    std::map<std::string, int64_t> folderBytes;
    for (const std::string& f : folders) {
        folderAt[f] = 0;
        folderBytes[f] = 0;
    }
    std::vector<int64_t> fileAt(files_.size(), 0);
    int64_t next = kFirstFolderSector;
    for (const std::string& f : folders) {
        folderBytes[f] = static_cast<int64_t>(recordsOf(f, folderAt, folderBytes, fileAt).size());
        folderAt[f] = next;
        next += folderBytes[f] / static_cast<int64_t>(kForm1);
    }
    std::vector<DiscSector> sectors;
    auto put = [&sectors](int64_t at, const Bytes& data, size_t unit, SectorForm form) {
        const size_t count = (data.size() + unit - 1) / unit;
        if (sectors.size() < static_cast<size_t>(at) + count) {
            sectors.resize(static_cast<size_t>(at) + count, DiscSector{Bytes(kForm1, 0)});
        }
        for (size_t i = 0; i < count; ++i) {
            Bytes chunk(unit, 0);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(i * unit),
                        std::min(unit, data.size() - i * unit), chunk.begin());
            sectors[static_cast<size_t>(at) + i] = {std::move(chunk), form};
        }
    };
    for (size_t i = 0; i < files_.size(); ++i) {
        const DiscFile& file = files_[i];
        const size_t unit = file.form == SectorForm::Form2 ? kForm2 : kForm1;
        fileAt[i] = file.sector >= 0 ? file.sector : next;
        next = std::max<int64_t>(
            next, fileAt[i] + static_cast<int64_t>((file.data.size() + unit - 1) / unit));
        put(fileAt[i], file.data, unit, file.form);
    }
    put(next, unfiled_, kForm1, SectorForm::Form1);
    const int64_t total =
        std::max<int64_t>(next + static_cast<int64_t>((unfiled_.size() + kForm1 - 1) / kForm1),
                          static_cast<int64_t>(sectors.size()));
    for (const std::string& f : folders) {
        put(folderAt[f], recordsOf(f, folderAt, folderBytes, fileAt), kForm1, SectorForm::Form1);
    }
    // Path tables: folders in order, each naming its parent's number (1-based).
    auto pathTable = [&](bool bigEndian) {
        ByteBuilder b;
        for (const std::string& f : folders) {
            const std::string name = f.empty() ? std::string(1, '\0') : NameOf(f);
            const auto parent = static_cast<uint32_t>(
                std::find(folders.begin(), folders.end(), ParentOf(f)) - folders.begin() + 1);
            b.u8(static_cast<uint32_t>(name.size())).u8(0);
            if (bigEndian) {
                b.u32be(static_cast<uint32_t>(folderAt[f])).u16be(f.empty() ? 1 : parent);
            } else {
                b.u32le(static_cast<uint32_t>(folderAt[f])).u16le(f.empty() ? 1 : parent);
            }
            b.text(name);
            if (name.size() % 2 != 0) {
                b.u8(0);
            }
        }
        return b.take();
    };
    const Bytes tableL = pathTable(false);
    put(18, tableL, kForm1, SectorForm::Form1);
    put(19, pathTable(true), kForm1, SectorForm::Form1);
    ByteBuilder pvd;
    pvd.u8(1).text("CD001").u8(1).u8(0).text(std::string(32, ' '));
    pvd.text("SONVEXTEST").text(std::string(22, ' ')).fill(8);
    Both32(pvd, static_cast<uint32_t>(total)).fill(32);
    Both16(pvd, 1);
    Both16(pvd, 1);
    Both16(pvd, static_cast<uint32_t>(kForm1));
    Both32(pvd, static_cast<uint32_t>(tableL.size()));
    pvd.u32le(18).u32le(0).u32be(19).u32be(0);
    Bytes root = Record(std::string(1, '\0'), static_cast<uint32_t>(folderAt[""]),
                        static_cast<uint32_t>(folderBytes[""]), true, kXaFolder);
    root.resize(34);
    root[0] = 34;
    pvd.append(root);
    pvd.text(std::string(128 * 4 + 37 * 3, ' '));
    for (int i = 0; i < 4; ++i) {
        pvd.text("2026010100000000").u8(0);
    }
    pvd.u8(1).u8(0);
    Bytes pvdBytes = pvd.take();
    pvdBytes.resize(kForm1, 0);
    std::copy_n("CD-XA001", 8, pvdBytes.begin() + 1024);
    put(kPrimarySector, pvdBytes, kForm1, SectorForm::Form1);
    ByteBuilder end;
    end.u8(255).text("CD001").u8(1);
    Bytes endBytes = end.take();
    endBytes.resize(kForm1, 0);
    put(kPrimarySector + 1, endBytes, kForm1, SectorForm::Form1);
    sectors.resize(static_cast<size_t>(total), DiscSector{Bytes(kForm1, 0)});
    return sectors;
}

Bytes RawSector(const DiscSector& sector, int64_t lba) {
    ByteBuilder b;
    b.u8(0).fill(10, 0xFF).u8(0);
    const int64_t address = lba + 150; // two seconds of lead-in before sector 0
    b.u8(Bcd(address / 75 / 60)).u8(Bcd(address / 75 % 60)).u8(Bcd(address % 75)).u8(2);
    const bool form2 = sector.form == SectorForm::Form2;
    const uint32_t submode = form2 ? 0x28 : 0x08;
    for (int copy = 0; copy < 2; ++copy) {
        b.u8(0).u8(0).u8(submode).u8(0);
    }
    Bytes data = sector.data;
    data.resize(form2 ? kForm2 : kForm1, 0);
    b.append(data);
    b.fill(2352 - b.size());
    return b.take();
}

Bytes RawImage(const std::vector<DiscSector>& sectors, int64_t firstLba, int64_t count) {
    Bytes out;
    const int64_t end =
        count < 0 ? static_cast<int64_t>(sectors.size())
                  : std::min<int64_t>(firstLba + count, static_cast<int64_t>(sectors.size()));
    for (int64_t lba = firstLba; lba < end; ++lba) {
        const Bytes raw = RawSector(sectors[static_cast<size_t>(lba)], lba);
        out.insert(out.end(), raw.begin(), raw.end());
    }
    return out;
}

Bytes CookedImage(const std::vector<DiscSector>& sectors) {
    Bytes out;
    for (const DiscSector& sector : sectors) {
        Bytes data = sector.data;
        data.resize(kForm1, 0);
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

std::string CueSheetText(const std::vector<std::string>& trackFiles) {
    std::string text;
    for (size_t i = 0; i < trackFiles.size(); ++i) {
        const std::string number = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
        text += "FILE \"" + trackFiles[i] + "\" BINARY\n";
        text += "  TRACK " + number + " MODE2/2352\n";
        text += "    INDEX 01 00:00:00\n";
    }
    return text;
}

std::string WriteCueImage(const std::string& folder, const std::string& stem,
                          const std::vector<DiscSector>& sectors, int64_t secondTrackAt) {
    std::vector<std::string> tracks = {stem + ".bin"};
    const int64_t firstCount = secondTrackAt > 0 ? secondTrackAt : -1;
    if (!WriteFile(folder + "/" + tracks[0], RawImage(sectors, 0, firstCount))) {
        return {};
    }
    if (secondTrackAt > 0) {
        tracks.push_back(stem + "2.bin");
        if (!WriteFile(folder + "/" + tracks[1], RawImage(sectors, secondTrackAt))) {
            return {};
        }
    }
    const std::string text = CueSheetText(tracks);
    const std::string cue = folder + "/" + stem + ".cue";
    return WriteFile(cue, Bytes(text.begin(), text.end())) ? cue : std::string();
}

} // namespace sonvex::testkit
