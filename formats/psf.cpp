// SPDX-License-Identifier: GPL-3.0-or-later
// PSF reader and set loader.
#include "formats/psf.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "chunkfile/file_system.h"

namespace sonvex {

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr char kTagMarker[] = "[TAG]";
constexpr size_t kTagMarkerBytes = 5;
constexpr int64_t kMaxProgramBytes = static_cast<int64_t>(kExeHeaderBytes) + kPsxMemoryBytes;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::vector<PsfTag> ParseTags(std::string_view text) {
    std::vector<PsfTag> tags;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string name = Trim(line.substr(0, equals));
        if (name.empty()) {
            continue;
        }
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        const std::string value = Trim(line.substr(equals + 1));
        auto same = std::find_if(tags.begin(), tags.end(),
                                 [&name](const PsfTag& tag) { return tag.name == name; });
        if (same != tags.end()) {
            same->value += "\n" + value;
        } else {
            tags.push_back({name, value});
        }
    }
    return tags;
}

// Inflates a zlib stream of at most `limit` bytes of output.
bool Inflate(std::span<const uint8_t> in, int64_t limit, std::vector<uint8_t>& out,
             std::string& problem) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        problem = "the decompressor could not start";
        return false;
    }
    out.assign(static_cast<size_t>(std::min<int64_t>(limit, 256 * 1024)), 0);
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    int result = Z_OK;
    while (true) {
        if (stream.total_out == out.size()) {
            if (static_cast<int64_t>(out.size()) >= limit) {
                problem = "the program inflates to more than " + std::to_string(limit) + " bytes";
                inflateEnd(&stream);
                return false;
            }
            out.resize(static_cast<size_t>(std::min<int64_t>(limit, out.size() * 2)));
        }
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            break;
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            problem = "the compressed program is cut short";
            inflateEnd(&stream);
            return false;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            problem = std::string("the compressed program is damaged (") +
                      (stream.msg != nullptr ? stream.msg : "zlib error") + ")";
            inflateEnd(&stream);
            return false;
        }
    }
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ReadWholeFile(FileSystem& files, const std::string& path, std::vector<uint8_t>& bytes,
                   std::string& problem) {
    const std::unique_ptr<RawFile> file = files.Open(path, OpenMode::Read);
    if (!file) {
        problem = "cannot be opened";
        return false;
    }
    const int64_t size = file->Size();
    if (size < 0 || size > kMaxPsfFileBytes) {
        problem = "its size " + std::to_string(size) + " is beyond the " +
                  std::to_string(kMaxPsfFileBytes) + " bytes a PSF may have";
        file->Close();
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    const bool whole = file->ReadAt(0, bytes.data(), size) == size;
    file->Close();
    if (!whole) {
        problem = "reading it stopped early";
    }
    return whole;
}

class SetLoader {
  public:
    explicit SetLoader(FileSystem& files) : files_(files), memory_(kPsxMemoryBytes, 0) {}

    bool Load(const std::string& path, int depth, PsfSet& set) {
        if (std::find(chain_.begin(), chain_.end(), path) != chain_.end()) {
            std::string loop;
            for (const std::string& p : chain_) {
                loop += p + " -> ";
            }
            return Fail(set, path, "_lib cycle: " + loop + path);
        }
        if (depth > kMaxPsfLibDepth) {
            return Fail(set, path,
                        "_lib files nested deeper than " + std::to_string(kMaxPsfLibDepth));
        }
        std::vector<uint8_t> bytes;
        std::string problem;
        if (!ReadWholeFile(files_, path, bytes, problem)) {
            return Fail(set, path, problem);
        }
        const PsfRead read = ReadPsf(bytes);
        if (read.status != PsfStatus::Ok) {
            return Fail(set, path, read.diagnostics.failure);
        }
        if (depth == 0) {
            set.tags = read.psf.tags;
            set.utf8 = read.psf.utf8;
        }
        chain_.push_back(path);
        const std::string folder = FolderOf(path);
        if (read.psf.HasTag("_lib") && !Load(folder + read.psf.Tag("_lib"), depth + 1, set)) {
            return false;
        }
        ExeText text;
        Diagnostics diagnostics;
        if (!ReadExeText(read.psf.program, text, diagnostics)) {
            return Fail(set, path, diagnostics.failure);
        }
        std::copy(text.bytes.begin(), text.bytes.end(), memory_.begin() + text.address);
        if (depth == 0) {
            ownStart_ = text.address;
            ownEnd_ = text.address + static_cast<int64_t>(text.bytes.size());
        }
        low_ = std::min(low_, text.address);
        high_ = std::max(high_, text.address + static_cast<int64_t>(text.bytes.size()));
        set.files.push_back(path);
        for (int n = 2;; ++n) {
            const std::string name = "_lib" + std::to_string(n);
            if (!read.psf.HasTag(name)) {
                break;
            }
            if (!Load(folder + read.psf.Tag(name), depth + 1, set)) {
                return false;
            }
        }
        chain_.pop_back();
        return true;
    }

    void Finish(PsfSet& set) {
        if (high_ <= low_) {
            return;
        }
        set.address = low_;
        set.image.assign(memory_.begin() + low_, memory_.begin() + high_);
        set.ownStart = ownStart_ - low_;
        set.ownEnd = ownEnd_ - low_;
    }

  private:
    static bool Fail(PsfSet& set, const std::string& path, const std::string& problem) {
        if (set.failure.empty()) {
            set.failure = path + ": " + problem;
        }
        set.status = PsfSetStatus::Failed;
        return false;
    }

    FileSystem& files_;
    std::vector<uint8_t> memory_;
    std::vector<std::string> chain_;
    int64_t low_ = kPsxMemoryBytes;
    int64_t high_ = 0;
    int64_t ownStart_ = 0;
    int64_t ownEnd_ = 0;
};

} // namespace

std::string Psf::Tag(const std::string& name) const {
    for (const PsfTag& tag : tags) {
        if (tag.name == name) {
            return tag.value;
        }
    }
    return {};
}

bool Psf::HasTag(const std::string& name) const {
    return std::any_of(tags.begin(), tags.end(), [&name](const PsfTag& tag) {
        return tag.name == name && !tag.value.empty();
    });
}

bool LooksLikePsf(std::span<const uint8_t> bytes) {
    return bytes.size() >= kPsfHeaderBytes && bytes[0] == 'P' && bytes[1] == 'S' &&
           bytes[2] == 'F' && bytes[3] == kPsfVersionPlayStation;
}

PsfRead ReadPsf(std::span<const uint8_t> bytes) {
    PsfRead read;
    if (bytes.size() < kPsfHeaderBytes || std::memcmp(bytes.data(), "PSF", 3) != 0) {
        read.status = PsfStatus::NotPsf;
        read.diagnostics.Fail(0, "PSF header", "no \"PSF\" signature");
        return read;
    }
    read.psf.version = bytes[3];
    if (bytes[3] != kPsfVersionPlayStation) {
        read.status = PsfStatus::NotPsf;
        read.diagnostics.Fail(3, "PSF header",
                              "version " + HexByte(bytes[3]) + " is not the PlayStation's 0x01");
        return read;
    }
    const uint64_t reserved = Le32(bytes.data() + 4);
    const uint64_t compressed = Le32(bytes.data() + 8);
    const uint32_t crc = Le32(bytes.data() + 12);
    if (kPsfHeaderBytes + reserved + compressed > bytes.size()) {
        read.status = PsfStatus::Invalid;
        read.diagnostics.Fail(4, "PSF header",
                              "reserved area of " + std::to_string(reserved) + " and program of " +
                                  std::to_string(compressed) + " bytes run past the file's " +
                                  std::to_string(bytes.size()) + " bytes");
        return read;
    }
    const size_t programAt = kPsfHeaderBytes + static_cast<size_t>(reserved);
    const std::span<const uint8_t> program =
        bytes.subspan(programAt, static_cast<size_t>(compressed));
    const auto actual = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), program.data(), static_cast<uInt>(program.size())));
    if (actual != crc) {
        read.status = PsfStatus::Invalid;
        read.diagnostics.Fail(12, "PSF header",
                              "CRC-32 of the program is " + HexOffset(uint64_t{actual}) +
                                  ", the header says " + HexOffset(uint64_t{crc}));
        return read;
    }
    if (compressed > 0) {
        std::string problem;
        if (!Inflate(program, kMaxProgramBytes, read.psf.program, problem)) {
            read.status = PsfStatus::Invalid;
            read.diagnostics.Fail(static_cast<int64_t>(programAt), "PSF program", problem);
            return read;
        }
    }
    const size_t tagAt = programAt + static_cast<size_t>(compressed);
    if (bytes.size() - tagAt >= kTagMarkerBytes &&
        std::memcmp(bytes.data() + tagAt, kTagMarker, kTagMarkerBytes) == 0) {
        const std::string_view text(
            reinterpret_cast<const char*>(bytes.data() + tagAt + kTagMarkerBytes),
            bytes.size() - tagAt - kTagMarkerBytes);
        read.psf.tags = ParseTags(text);
        read.psf.utf8 = read.psf.Tag("utf8") == "1";
    }
    return read;
}

bool ReadExeText(std::span<const uint8_t> program, ExeText& text, Diagnostics& diagnostics) {
    if (program.size() < kExeHeaderBytes || std::memcmp(program.data(), "PS-X EXE", 8) != 0) {
        diagnostics.Fail(0, "PS-X EXE", "no \"PS-X EXE\" header in the program");
        return false;
    }
    const int64_t address = Le32(program.data() + 0x18) & (kPsxMemoryBytes - 1);
    const int64_t size = Le32(program.data() + 0x1C);
    const auto available = static_cast<int64_t>(program.size() - kExeHeaderBytes);
    if (size > available) {
        diagnostics.Fail(0x1C, "PS-X EXE",
                         "text of " + std::to_string(size) + " bytes, the program holds " +
                             std::to_string(available));
        return false;
    }
    if (address + size > kPsxMemoryBytes) {
        diagnostics.Fail(0x18, "PS-X EXE",
                         "text of " + std::to_string(size) + " bytes at " + HexOffset(address) +
                             " runs past main memory");
        return false;
    }
    text.address = address;
    text.bytes = program.subspan(kExeHeaderBytes, static_cast<size_t>(size));
    return true;
}

PsfSet LoadPsfSet(FileSystem& files, const std::string& path) {
    PsfSet set;
    SetLoader loader(files);
    if (loader.Load(path, 0, set)) {
        loader.Finish(set);
    } else {
        set.files.clear();
    }
    return set;
}

std::vector<std::string> PsfLibraryPaths(FileSystem& files, const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string problem;
    std::vector<std::string> paths;
    if (!ReadWholeFile(files, path, bytes, problem)) {
        return paths;
    }
    const PsfRead read = ReadPsf(bytes);
    if (read.status != PsfStatus::Ok) {
        return paths;
    }
    const std::string folder = FolderOf(path);
    if (read.psf.HasTag("_lib")) {
        paths.push_back(folder + read.psf.Tag("_lib"));
    }
    for (int n = 2; read.psf.HasTag("_lib" + std::to_string(n)); ++n) {
        paths.push_back(folder + read.psf.Tag("_lib" + std::to_string(n)));
    }
    return paths;
}

} // namespace sonvex
