// SPDX-License-Identifier: GPL-3.0-or-later
// Scan speed of a disc image against the plain read of the same image from the page cache,
// in one run: by `cat` (to /dev/null, as the composition benchmark reads) and by reads of
// 1 MiB into this process. The image is composed with testkit: a cue sheet over raw 2352-byte
// sectors holding Form 1 data files of random bytes with sequences and banks in them, a Form 2
// movie file, and an unfiled area. Its size in MiB comes from $SONVEX_DISC_IMAGE_MB
// (default 64), the number of interleaved rounds, whose best times count, from
// $SONVEX_DISC_ROUNDS (default 3). Prints both speeds in MiB/s of image file and their ratio.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "bench/bench_timing.h"
#include "gamesource/game_source.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"

namespace {

using namespace sonvex;
using bench::Clock;
using bench::Seconds;

testkit::Bytes RandomData(std::mt19937& rng, size_t n) {
    testkit::Bytes out(n);
    for (uint8_t& b : out) {
        b = static_cast<uint8_t>(rng());
    }
    return out;
}

// Random bytes with music items laid in at random places.
testkit::Bytes DataFile(std::mt19937& rng, size_t n, int items) {
    testkit::Bytes out = RandomData(rng, n);
    for (int i = 0; i < items; ++i) {
        testkit::GameImage item(static_cast<uint32_t>(rng()));
        if (i % 2 == 0) {
            item.Seq(12);
        } else {
            item.Bank(testkit::MakeBank(static_cast<uint32_t>(rng()), 6,
                                        testkit::VagStart::ZeroBlockStartFlags));
        }
        const size_t at = rng() % (n - item.size());
        std::copy(item.bytes().begin(), item.bytes().end(), out.begin() + static_cast<long>(at));
    }
    return out;
}

// Reads every track file whole in 1 MiB blocks; the bytes read.
int64_t PlainRead(const std::vector<std::string>& paths) {
    std::vector<uint8_t> block(1 << 20);
    int64_t total = 0;
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            return -1;
        }
        ssize_t got = 0;
        uint64_t sum = 0;
        while ((got = ::read(fd, block.data(), block.size())) > 0) {
            total += got;
            sum += block[static_cast<size_t>(got) - 1]; // touch the data
        }
        ::close(fd);
        if (sum == 1) {
            std::fprintf(stderr, " ");
        }
    }
    return total;
}

// Reads every file of the image whole through the game source layer; the bytes read.
int64_t LayerRead(GameSourceFileSystem& files, const std::string& image) {
    std::vector<GameSourceFileSystem::Member> members;
    if (!files.ImageMembers(image, members)) {
        return -1;
    }
    std::vector<uint8_t> block(256 * 1024);
    int64_t total = 0;
    for (const auto& member : members) {
        const std::unique_ptr<RawFile> file = files.Open(member.path, OpenMode::Read);
        if (!file) {
            return -1;
        }
        int64_t got = 0;
        for (int64_t at = 0;
             (got = file->ReadAt(at, block.data(), static_cast<int64_t>(block.size()))) > 0;
             at += got) {
            total += got;
        }
        file->Close();
    }
    return total;
}

} // namespace

int main() {
    const char* mbText = std::getenv("SONVEX_DISC_IMAGE_MB");
    const long mb = mbText != nullptr && std::atol(mbText) > 0 ? std::atol(mbText) : 64;
    const size_t dataBytes = static_cast<size_t>(mb) * 1024 * 1024 * 2048 / 2352;
    std::mt19937 rng(42);
    testkit::DiscBuilder builder;
    const size_t movie = dataBytes / 8;
    const size_t unfiled = dataBytes / 16;
    const size_t files = 24;
    const size_t fileBytes = (dataBytes - movie - unfiled) / files;
    for (size_t i = 0; i < files; ++i) {
        builder.File("DATA/FILE" + std::to_string(i) + ".BIN", DataFile(rng, fileBytes, 8));
    }
    builder.File("MOVIE/OPEN.STR", RandomData(rng, movie), testkit::SectorForm::Form2);
    builder.Unfiled(DataFile(rng, unfiled, 4));
    const std::vector<testkit::DiscSector> sectors = builder.Build();

    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("sonvex-disc-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string cue = testkit::WriteCueImage(dir.string(), "GAME", sectors);
    if (cue.empty()) {
        std::fprintf(stderr, "disc_scan_bench: cannot write the image in %s\n", dir.c_str());
        return 1;
    }
    const std::string bin = (dir / "GAME.bin").string();
    const auto imageBytes = static_cast<double>(std::filesystem::file_size(bin));
    std::printf("image: %.1f MiB of raw sectors, %zu Form 1 files of %.1f MiB with music, "
                "a Form 2 movie of %.1f MiB, %.1f MiB unfiled\n",
                imageBytes / 1048576, files, static_cast<double>(fileBytes) / 1048576,
                static_cast<double>(movie) / 1048576, static_cast<double>(unfiled) / 1048576);

    double bestCat = 1e9;
    double bestRead = 1e9;
    double bestLayer = 1e9;
    double bestScan = 1e9;
    uint32_t found = 0;
    const char* roundsText = std::getenv("SONVEX_DISC_ROUNDS");
    const int rounds =
        roundsText != nullptr && std::atoi(roundsText) > 0 ? std::atoi(roundsText) : 3;
    for (int round = 0; round < rounds; ++round) {
        const double cat = bench::TimeProgram({"cat", bin});
        if (cat < 0) {
            std::fprintf(stderr, "disc_scan_bench: cat %s failed\n", bin.c_str());
            return 1;
        }
        bestCat = std::min(bestCat, cat);
        Clock::time_point start = Clock::now();
        if (PlainRead({bin}) < 0) {
            std::fprintf(stderr, "disc_scan_bench: cannot read %s\n", bin.c_str());
            return 1;
        }
        bestRead = std::min(bestRead, Seconds(start));
        // Every round opens the image afresh, so that reading its file system and the
        // sector forms of its files counts each time, as in a run of the program.
        std::optional<ScopedGameSources> sources(std::in_place);
        start = Clock::now();
        if (LayerRead(sources->files(), cue) < 0) {
            std::fprintf(stderr, "disc_scan_bench: cannot read the files of %s\n", cue.c_str());
            return 1;
        }
        bestLayer = std::min(bestLayer, Seconds(start));
        NullFeedback feedback;
        sources.emplace();
        start = Clock::now();
        const AnalysisResult result = AnalyzeSources({cue}, dir.string(), feedback);
        bestScan = std::min(bestScan, Seconds(start));
        found = result.counters.Total();
    }
    const double catSpeed = imageBytes / 1048576 / bestCat;
    const double readSpeed = imageBytes / 1048576 / bestRead;
    const double scanSpeed = imageBytes / 1048576 / bestScan;
    std::printf("best of %d interleaved rounds\n"
                "cat: %.0f MiB/s\nread in 1 MiB blocks: %.0f MiB/s\n"
                "files read through the layer: %.0f MiB/s\n"
                "image scan: %.0f MiB/s (%u items)\nscan / cat: %.0f%%\n"
                "scan / read in 1 MiB blocks: %.0f%%\n",
                rounds, catSpeed, readSpeed, imageBytes / 1048576 / bestLayer, scanSpeed, found,
                100 * scanSpeed / catSpeed, 100 * scanSpeed / readSpeed);
    std::error_code error;
    std::filesystem::remove_all(dir, error);
    return 0;
}
