// SPDX-License-Identifier: GPL-3.0-or-later
// Composes disc images: an ISO 9660 file system with CD-XA attributes (Form 1 and Form 2
// files, attributes that lie about the form), data no file covers, written as raw
// 2352-byte sectors over one or two track files with their cue sheet, or as 2048-byte
// sectors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testkit/byte_builder.h"

namespace sonvex::testkit {

enum class SectorForm { Form1, Form2 };

struct DiscFile {
    std::string path; // "SOUND/BGM.VAB": folders are made as needed
    Bytes data;
    SectorForm form = SectorForm::Form1; // how its sectors are written
    // The CD-XA attribute word recorded; by default the one of `form`.
    std::optional<uint16_t> xaAttributes;
    int64_t sector = -1; // first sector; -1: the next free one
};

// One logical sector of the disc: its user data and form.
struct DiscSector {
    Bytes data; // 2048 bytes (Form 1) or 2324 (Form 2)
    SectorForm form = SectorForm::Form1;
};

class DiscBuilder {
  public:
    DiscBuilder& File(DiscFile file);
    DiscBuilder& File(std::string path, Bytes data, SectorForm form = SectorForm::Form1) {
        return File(DiscFile{std::move(path), std::move(data), form, std::nullopt, -1});
    }
    // Bytes in Form 1 sectors after the last file that no file covers.
    DiscBuilder& Unfiled(Bytes data);
    // The disc's sectors, the file system first (sector 16 on), then the files in the
    // order given, then the unfiled data.
    std::vector<DiscSector> Build() const;

  private:
    std::vector<DiscFile> files_;
    Bytes unfiled_;
};

// Sector `lba` as stored in a Mode 2 track of 2352-byte sectors: sync, header, subheader,
// user data, and error codes left zero (readers do not check them).
Bytes RawSector(const DiscSector& sector, int64_t lba);
// The sectors as one file of 2352-byte sectors.
Bytes RawImage(const std::vector<DiscSector>& sectors, int64_t firstLba = 0, int64_t count = -1);
// The sectors as one file of 2048-byte sectors (Form 1 only).
Bytes CookedImage(const std::vector<DiscSector>& sectors);

// A cue sheet of Mode 2 data tracks, one track file each, in order.
std::string CueSheetText(const std::vector<std::string>& trackFiles);

// Writes `sectors` as `folder`/`stem`.bin (and, with `secondTrackAt` > 0, the sectors from
// there on as `stem`2.bin, a second track) with `stem`.cue naming them. Returns the cue
// sheet's path, or "" on failure.
std::string WriteCueImage(const std::string& folder, const std::string& stem,
                          const std::vector<DiscSector>& sectors, int64_t secondTrackAt = 0);

} // namespace sonvex::testkit
