// SPDX-License-Identifier: GPL-3.0-or-later
// The game source layer.
#include "gamesource/game_source.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "formats/cue_sheet.h"
#include "formats/disc_sectors.h"
#include "formats/iso9660.h"
#include "formats/psf.h"

namespace sonvex {

const char* const kUnfiledName = "#unfiled";

// A disc image read once: its sectors, its file system and its unfiled area.
struct Disc {
    std::shared_ptr<const DiscSectors> sectors;
    int64_t imageSize = 0; // of the image file (the cue sheet, for a cue image)
    IsoFileSystem files;
    std::vector<SectorRun> unfiled;
    bool cookedOnly = true; // no track keeps subheaders: Form 2 data is not in the image
    // Files measured already (the forms of their sectors read), by inner path: a file
    // opened again is not measured again.
    std::mutex mutex;
    std::map<std::string, SectorStream> measured;
};

namespace {

// Discs kept open at once.
constexpr size_t kDiscCache = 8;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The one file of the folder whose name is `path`'s in other letters; nullptr when there
// is none, or several.
std::unique_ptr<RawFile> OpenIgnoringCase(FileSystem& files, const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string name = path.substr(folder.size());
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    const std::string wanted = lower(name);
    std::string found;
    for (const std::string& candidate : files.FileNamesIn(folder)) {
        if (lower(candidate) == wanted) {
            if (!found.empty()) {
                return nullptr;
            }
            found = candidate;
        }
    }
    return found.empty() ? nullptr : files.Open(folder + found, OpenMode::Read);
}

// A file's bytes held in memory.
class MemoryFile : public RawFile {
  public:
    explicit MemoryFile(std::shared_ptr<const std::vector<uint8_t>> bytes)
        : bytes_(std::move(bytes)) {}
    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        const auto size = static_cast<int64_t>(bytes_->size());
        if (position < 0 || length <= 0 || position >= size) {
            return 0;
        }
        const int64_t n = std::min(length, size - position);
        std::copy_n(bytes_->begin() + position, n, static_cast<uint8_t*>(destination));
        return n;
    }
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override { return static_cast<int64_t>(bytes_->size()); }
    bool Close() override { return true; }

  private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

// A file inside a disc image.
class ImageFile : public RawFile {
  public:
    ImageFile(std::shared_ptr<Disc> disc, SectorStream stream, std::string name,
              std::function<void(const std::string&)> report)
        : disc_(std::move(disc)), stream_(std::move(stream)), name_(std::move(name)),
          report_(std::move(report)) {}
    int64_t ReadAt(int64_t position, void* destination, int64_t length) override {
        std::string error;
        const int64_t got =
            stream_.ReadAt(position, static_cast<uint8_t*>(destination), length, error);
        if (!error.empty() && !reported_) {
            reported_ = true;
            report_(name_ + ": " + error);
        }
        return got;
    }
    bool StridedAt(int64_t position, StridedBytes& bytes) override {
        return stream_.StridedAt(position, bytes);
    }
    int64_t WriteAt(int64_t, const void*, int64_t) override { return 0; }
    int64_t Size() override { return stream_.Length(); }
    bool Close() override { return true; }

  private:
    std::shared_ptr<Disc> disc_;
    SectorStream stream_;
    std::string name_;
    std::function<void(const std::string&)> report_;
    bool reported_ = false;
};

bool ReadAll(RawFile& file, std::string& text) {
    const int64_t size = file.Size();
    if (size < 0 || size > kMaxCueBytes) {
        return false;
    }
    text.assign(static_cast<size_t>(size), '\0');
    return file.ReadAt(0, text.data(), size) == size;
}

std::vector<SectorRun> UnfiledRuns(const DiscSectors& sectors, const IsoFileSystem& fs) {
    const int64_t end = sectors.SectorEnd();
    std::vector<bool> covered(static_cast<size_t>(end), false);
    auto cover = [&covered, end](int64_t first, int64_t count) {
        for (int64_t s = std::max<int64_t>(first, 0); s < std::min(first + count, end); ++s) {
            covered[static_cast<size_t>(s)] = true;
        }
    };
    for (const SectorRun& run : fs.ownSectors) {
        cover(run.first, run.count);
    }
    for (const IsoFile& file : fs.files) {
        cover(file.extent, file.SectorCount());
    }
    std::vector<SectorRun> runs;
    for (const DiscTrack& track : sectors.tracks()) {
        if (!track.IsData()) {
            continue;
        }
        for (int64_t s = track.firstSector; s < track.firstSector + track.sectorCount; ++s) {
            if (covered[static_cast<size_t>(s)]) {
                continue;
            }
            if (!runs.empty() && runs.back().first + runs.back().count == s) {
                ++runs.back().count;
            } else {
                runs.push_back({s, 1});
            }
        }
    }
    return runs;
}

} // namespace

GameSourceFileSystem::~GameSourceFileSystem() = default;

void GameSourceFileSystem::Report(const std::string& message) {
    SourceReport report;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_ = message;
        report = report_;
    }
    if (report) {
        report(message);
    }
}

std::string GameSourceFileSystem::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

// Whether the files of a disc read before still have the sizes they had.
bool GameSourceFileSystem::StillSame(const Disc& disc, int64_t imageSize) {
    if (disc.imageSize != imageSize) {
        return false;
    }
    for (const DiscTrack& track : disc.sectors->tracks()) {
        const std::unique_ptr<RawFile> now = inner_.Open(track.fileName, OpenMode::Read);
        if (!now || now->Size() != track.file->Size()) {
            return false;
        }
        now->Close();
    }
    return true;
}

std::shared_ptr<Disc> GameSourceFileSystem::LoadDisc(const std::string& path) {
    std::shared_ptr<RawFile> file = inner_.Open(path, OpenMode::Read);
    if (!file) {
        Report(path + ": cannot be opened");
        return nullptr;
    }
    {
        std::shared_ptr<Disc> cached;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = discs_.find(path);
            if (found != discs_.end()) {
                cached = found->second;
            }
        }
        // An image changed since it was read is read anew.
        if (cached && StillSame(*cached, file->Size())) {
            return cached;
        }
    }
    const ImageKind kind = DetectImageKind(*file);
    std::vector<DiscTrack> tracks;
    if (kind == ImageKind::None) {
        Report(path + ": not a disc image (no cue sheet, sync pattern or ISO 9660 volume)");
        return nullptr;
    }
    if (kind == ImageKind::CueSheet) {
        std::string text;
        if (!ReadAll(*file, text)) {
            Report(path + ": the cue sheet cannot be read");
            return nullptr;
        }
        const CueSheet sheet = ParseCueSheet(text);
        if (sheet.status != CueStatus::Ok) {
            Report(path + ": " + sheet.diagnostics.failure);
            return nullptr;
        }
        int64_t fileStart = 0;
        for (const CueFile& cueFile : sheet.files) {
            // Sheets written on other systems may separate folders with backslashes.
            std::string name = cueFile.name;
            std::replace(name.begin(), name.end(), '\\', '/');
            const std::string trackPath =
                !name.empty() && name.front() == '/' ? name : FolderOf(path) + name;
            std::shared_ptr<RawFile> trackFile = inner_.Open(trackPath, OpenMode::Read);
            if (!trackFile) {
                // Sheets written where letter case does not matter may spell the name
                // otherwise than the file: one file of the name in other letters serves.
                trackFile = OpenIgnoringCase(inner_, trackPath);
            }
            if (!trackFile) {
                Report(path + ": track file " + cueFile.name + " (" + trackPath + ") is missing");
                return nullptr;
            }
            const int64_t size = trackFile->Size();
            int64_t fileSectors = 0;
            for (size_t t = 0; t < cueFile.tracks.size(); ++t) {
                const CueTrack& cueTrack = cueFile.tracks[t];
                const int64_t sectorBytes = SectorBytesOf(cueTrack.mode);
                const int64_t first = cueTrack.indexes.empty() ? 0 : cueTrack.indexes.front().frame;
                DiscTrack track;
                track.file = trackFile;
                track.fileName = trackPath;
                track.mode = cueTrack.mode;
                track.fileOffset = first * sectorBytes;
                if (track.fileOffset > size) {
                    Report(path + ": track " + std::to_string(cueTrack.number) +
                           " starts past the end of " + trackPath);
                    return nullptr;
                }
                const int64_t next =
                    t + 1 < cueFile.tracks.size() && !cueFile.tracks[t + 1].indexes.empty()
                        ? cueFile.tracks[t + 1].indexes.front().frame
                        : (size - track.fileOffset) / sectorBytes + first;
                track.firstSector = fileStart + first;
                track.sectorCount = std::max<int64_t>(0, next - first);
                fileSectors = std::max(fileSectors, first + track.sectorCount);
                tracks.push_back(std::move(track));
            }
            fileStart += fileSectors;
        }
        // Sector 0 of the disc is where the first track's data begins.
        const int64_t origin = sheet.files.front().tracks.front().StartFrame();
        for (DiscTrack& track : tracks) {
            track.firstSector -= origin;
        }
    } else {
        tracks = TracksOfBareImage(file, path, kind);
    }
    auto disc = std::make_shared<Disc>();
    disc->imageSize = file->Size();
    for (const DiscTrack& track : tracks) {
        if (track.mode == TrackMode::Mode1Raw || track.mode == TrackMode::Mode2Raw ||
            track.mode == TrackMode::Mode2Xa) {
            disc->cookedOnly = false;
        }
    }
    auto sectors = std::make_shared<DiscSectors>(std::move(tracks));
    disc->files = ReadIsoFileSystem(*sectors);
    if (disc->files.status != IsoStatus::Ok) {
        Report(path + ": " + disc->files.diagnostics.failure);
        return nullptr;
    }
    disc->unfiled = UnfiledRuns(*sectors, disc->files);
    disc->sectors = std::move(sectors);
    std::lock_guard<std::mutex> lock(mutex_);
    if (discs_.size() >= kDiscCache) {
        discs_.clear();
    }
    discs_[path] = disc;
    return disc;
}

std::unique_ptr<RawFile> GameSourceFileSystem::OpenInImage(const std::string& image,
                                                           const std::string& innerPath) {
    const std::string name = image + "/" + innerPath;
    // "." and ".." are resolved inside the image; nothing may climb out of it.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= innerPath.size()) {
        size_t end = innerPath.find('/', start);
        if (end == std::string::npos) {
            end = innerPath.size();
        }
        const std::string part = innerPath.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (parts.empty()) {
                Report(name + ": the path leaves the image");
                return nullptr;
            }
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string inner;
    for (const std::string& part : parts) {
        inner += (inner.empty() ? "" : "/") + part;
    }
    if (inner.empty()) {
        Report(name + ": names the image itself, not a file inside it");
        return nullptr;
    }
    const std::shared_ptr<Disc> disc = LoadDisc(image);
    if (!disc) {
        return nullptr;
    }
    std::vector<SectorRun> runs;
    int64_t recorded = 0;
    bool lengthIsRecorded = false;
    const IsoFile* found = nullptr;
    if (inner == kUnfiledName) {
        runs = disc->unfiled;
    } else {
        const std::string wanted = Lower(inner);
        for (const IsoFile& file : disc->files.files) {
            if (Lower(file.path) == wanted) {
                found = &file;
                break;
            }
        }
        if (found == nullptr) {
            Report(name + ": the image holds no file " + inner);
            return nullptr;
        }
        if (found->SectorCount() > 0) {
            runs.push_back({found->extent, found->SectorCount()});
        }
        recorded = found->length;
        lengthIsRecorded = true;
        if (disc->cookedOnly && found->hasXa && (found->xaAttributes & kXaForm2) != 0) {
            Report(name +
                   ": a Form 2 file, whose data an image of 2048-byte sectors does not hold");
            return nullptr;
        }
    }
    {
        std::lock_guard<std::mutex> lock(disc->mutex);
        const auto known = disc->measured.find(inner);
        if (known != disc->measured.end()) {
            return std::make_unique<ImageFile>(disc, known->second, name,
                                               [this](const std::string& m) { Report(m); });
        }
    }
    SectorStream stream(disc->sectors, std::move(runs), recorded, lengthIsRecorded);
    std::string error;
    if (!stream.Measure(error)) {
        Report(name + ": " + error);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(disc->mutex);
        disc->measured.emplace(inner, stream);
    }
    return std::make_unique<ImageFile>(disc, std::move(stream), name,
                                       [this](const std::string& m) { Report(m); });
}

std::unique_ptr<RawFile> GameSourceFileSystem::OpenPsfOwnPart(const std::string& path) {
    return OpenPsf(path, true);
}

std::unique_ptr<RawFile> GameSourceFileSystem::OpenPsf(const std::string& path, bool ownPartOnly) {
    PsfSet set = LoadPsfSet(inner_, path);
    if (set.status != PsfSetStatus::Ok) {
        Report(set.failure);
        return nullptr;
    }
    if (set.image.empty()) {
        Report(path + ": the PSF set loads no bytes");
        return nullptr;
    }
    if (ownPartOnly) {
        std::fill(set.image.begin(), set.image.begin() + set.ownStart, 0);
        std::fill(set.image.begin() + set.ownEnd, set.image.end(), 0);
    }
    return std::make_unique<MemoryFile>(
        std::make_shared<const std::vector<uint8_t>>(std::move(set.image)));
}

SourceKind GameSourceFileSystem::KindOf(const std::string& path) {
    std::unique_ptr<RawFile> file = inner_.Open(path, OpenMode::Read);
    if (!file) {
        std::unique_ptr<RawFile> inside = OpenInsideImage(path);
        if (inside) {
            inside->Close();
            return SourceKind::InImage;
        }
        return SourceKind::Missing;
    }
    uint8_t head[kPsfHeaderBytes] = {};
    const int64_t got = file->ReadAt(0, head, sizeof head);
    SourceKind kind = SourceKind::Plain;
    if (got == static_cast<int64_t>(sizeof head) && LooksLikePsf(head)) {
        kind = SourceKind::Psf;
    } else if (DetectImageKind(*file) != ImageKind::None) {
        kind = SourceKind::DiscImage;
    }
    file->Close();
    return kind;
}

bool GameSourceFileSystem::ImageMembers(const std::string& path, std::vector<Member>& members) {
    const std::shared_ptr<Disc> disc = LoadDisc(path);
    if (!disc) {
        return false;
    }
    for (const IsoFile& file : disc->files.files) {
        members.push_back({path + "/" + file.path, file.SectorCount()});
    }
    int64_t unfiled = 0;
    for (const SectorRun& run : disc->unfiled) {
        unfiled += run.count;
    }
    if (unfiled > 0) {
        members.push_back({path + "/" + kUnfiledName, unfiled});
    }
    return true;
}

std::vector<std::string> GameSourceFileSystem::PsfLibraries(const std::string& path) {
    return PsfLibraryPaths(inner_, path);
}

SourceReport GameSourceFileSystem::SetReport(SourceReport report) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(report, report_);
    return report;
}

std::unique_ptr<RawFile> GameSourceFileSystem::Open(const std::string& path, OpenMode mode) {
    if (mode != OpenMode::Read) {
        return inner_.Open(path, mode);
    }
    std::unique_ptr<RawFile> file = inner_.Open(path, mode);
    if (file) {
        uint8_t head[kPsfHeaderBytes] = {};
        if (file->ReadAt(0, head, sizeof head) == static_cast<int64_t>(sizeof head) &&
            LooksLikePsf(head)) {
            file->Close();
            return OpenPsf(path);
        }
        return file;
    }
    return OpenInsideImage(path);
}

std::unique_ptr<RawFile> GameSourceFileSystem::OpenInsideImage(const std::string& path) {
    // The longest leading part of the path that is an image file.
    for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        const std::string image = path.substr(0, slash);
        std::unique_ptr<RawFile> candidate = inner_.Open(image, OpenMode::Read);
        if (!candidate) {
            continue;
        }
        const ImageKind kind = DetectImageKind(*candidate);
        candidate->Close();
        if (kind != ImageKind::None) {
            return OpenInImage(image, path.substr(slash + 1));
        }
    }
    return nullptr;
}

ScopedGameSources::ScopedGameSources()
    : ScopedGameSources([](std::string_view message) {
          std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
      }) {}

ScopedGameSources::ScopedGameSources(SourceReport report)
    : files_(ActiveFileSystem(), std::move(report)), scope_(files_) {}

std::FILE* OpenGameFileStream(const std::string& path) {
    GameSourceFileSystem* sources = ActiveGameSources();
    if (sources == nullptr) {
        return nullptr;
    }
    const SourceKind kind = sources->KindOf(path);
    if (kind != SourceKind::InImage && kind != SourceKind::Psf) {
        return nullptr;
    }
    const std::unique_ptr<RawFile> file = sources->Open(path, OpenMode::Read);
    if (!file) {
        return nullptr;
    }
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) {
        file->Close();
        return nullptr;
    }
    std::vector<uint8_t> block(1 << 20);
    const int64_t size = file->Size();
    bool whole = size >= 0;
    for (int64_t at = 0; whole && at < size;) {
        const int64_t want = std::min<int64_t>(static_cast<int64_t>(block.size()), size - at);
        const int64_t got = file->ReadAt(at, block.data(), want);
        whole = got == want && std::fwrite(block.data(), 1, static_cast<size_t>(got), stream) ==
                                   static_cast<size_t>(got);
        at += got;
    }
    file->Close();
    if (!whole || std::fflush(stream) != 0 || std::fseek(stream, 0, SEEK_SET) != 0) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

GameSourceFileSystem* ActiveGameSources() {
    return dynamic_cast<GameSourceFileSystem*>(&ActiveFileSystem());
}

} // namespace sonvex
