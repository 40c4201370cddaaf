// SPDX-License-Identifier: GPL-3.0-or-later
// The game source layer: a file system under every reader of game files that opens a
// game file path whatever holds its bytes. A plain file opens as itself. A file inside a
// disc image is named by the image's path, then its path in the image's file system
// ("GAME.cue/SOUND/BGM.VAB"), and reads as its user data with the sector headers
// stripped; "GAME.cue/#unfiled" names the user data of the data sectors no file covers.
// A PSF opens as the memory image its `_lib` set loads. Images and PSF files are told by
// their content, never by their extension.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "chunkfile/file_system.h"

namespace sonvex {

// The name of the unfiled area inside an image.
extern const char* const kUnfiledName; // "#unfiled"

// Receives every failure of the layer: "PATH: reason".
using SourceReport = std::function<void(std::string_view message)>;

enum class SourceKind {
    Missing,   // nothing can be opened at the path
    Plain,     // a file read as it is
    InImage,   // a file inside a disc image, named by the path form
    DiscImage, // a cue sheet, or a file of raw or 2048-byte sectors with a file system
    Psf        // a PSF of the PlayStation
};

struct Disc;

class GameSourceFileSystem : public FileSystem {
  public:
    explicit GameSourceFileSystem(FileSystem& inner, SourceReport report = {})
        : inner_(inner), report_(std::move(report)) {}
    ~GameSourceFileSystem() override;

    // Read: as the layer describes; a failure gives nullptr, reported and kept as
    // LastError(). Writing, removing and renaming go to the inner file system.
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override;
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override {
        return inner_.Rename(from, to);
    }
    std::vector<std::string> FileNamesIn(const std::string& folder) override {
        return inner_.FileNamesIn(folder);
    }

    // What the path names, told by its content.
    SourceKind KindOf(const std::string& path);
    // The game files of the disc image at `path`, in the file system's order, each as
    // "path/INNER/NAME", then "path/#unfiled" when data sectors lie outside every file.
    // False when the image cannot be read (reported).
    struct Member {
        std::string path;
        int64_t sectors = 0; // sectors it spans: its share of the image
    };
    bool ImageMembers(const std::string& path, std::vector<Member>& members);
    // The memory image of the PSF at `path` with only the bytes its own program loaded;
    // the bytes of its libraries read as zeros. A run that scans each library by its own
    // name scans this, so that items of a library are not listed again for every file
    // that uses it; their offsets are those of the whole image.
    std::unique_ptr<RawFile> OpenPsfOwnPart(const std::string& path);
    // The libraries the PSF at `path` names directly, in load order.
    std::vector<std::string> PsfLibraries(const std::string& path);
    // Sends failures to `report` from now on; returns the receiver it replaces.
    SourceReport SetReport(SourceReport report);
    // The most recent failure ("PATH: reason"), or "".
    std::string LastError() const;

  private:
    std::shared_ptr<Disc> LoadDisc(const std::string& path);
    bool StillSame(const Disc& disc, int64_t imageSize);
    std::unique_ptr<RawFile> OpenInsideImage(const std::string& path);
    std::unique_ptr<RawFile> OpenInImage(const std::string& image, const std::string& innerPath);
    std::unique_ptr<RawFile> OpenPsf(const std::string& path, bool ownPartOnly = false);
    void Report(const std::string& message);

    FileSystem& inner_;
    SourceReport report_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Disc>> discs_;
    std::string lastError_;
};

// The game source layer over the active file system for as long as it lives, reporting
// failures on standard error. Each program installs one at startup.
class ScopedGameSources {
  public:
    ScopedGameSources();
    explicit ScopedGameSources(SourceReport report);
    GameSourceFileSystem& files() { return files_; }

  private:
    GameSourceFileSystem files_;
    ScopedFileSystem scope_;
};

// The game source layer in force: the active file system when it is one, else nullptr.
GameSourceFileSystem* ActiveGameSources();

// For readers built on stdio: when `path` names a file inside a disc image or a PSF, a
// stream over the bytes the game source layer in force gives for it (copied into an
// anonymous temporary file); nullptr for any other path, and when it cannot be opened.
std::FILE* OpenGameFileStream(const std::string& path);

} // namespace sonvex
