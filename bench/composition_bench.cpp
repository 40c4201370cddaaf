// SPDX-License-Identifier: GPL-3.0-or-later
// Scan speed against the read speed of the same file, on three compositions of game image
// built in the same run:
//   sparse     zero padding and incompressible data, with music in a few places only;
//   realistic  45% zero padding in blocks of 2..256 KiB, 40% incompressible data in blocks
//              of 2..128 KiB, 15% game files dense with sequences and banks;
//   dense      game files dense with sequences and banks from end to end.
// Each round reads every image with `cat` (to /dev/null, from the page cache) and scans it
// with the analysis run, one after the other, so that other work on the machine weighs on
// both alike; the best time of the rounds counts. With --cli, each round also times
// `sonvex-cli rip IMAGE -o FOLDER` once per --rip-args set (for instance "-j 1"), into a new
// folder every time, in the temporary folder or under --rip-to (say, /dev/shm to leave the
// disk's file system out).
//
// With --keep, the images are composed into FOLDER once and used again by later runs;
// --only takes one of the three. --threads sets the threads of the scan (default: one a core);
// "own MB/s" is the scan's speed by the processor time of its own thread alone, what it
// reaches when the threads checking ahead of it have cores of their own.
// The page cache holds a just composed image as writing it left it. With --cache read, each
// image is dropped from the cache and read back in once before the rounds, as a user's image
// read from disk would be: the kernel may then hold it in larger pages, which makes both
// `cat` and mapping it for the scan faster.
//
//   composition_bench [--mib N] [--rounds N] [--keep FOLDER] [--only NAME] [--cli PATH]
//                     [--rip-args "ARGS"]... [--rip-to FOLDER] [--threads N]
//                     [--cache written|read]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "bench/bench_timing.h"
#include "gamesource/game_source.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"

namespace {

using namespace sonvex;
using bench::Clock;
using bench::Seconds;
using bench::TimeProgram;

constexpr size_t kKiB = 1024;

struct Shares {
    double zeros;
    double random;
    double music;
};

struct Composition {
    const char* name;
    Shares shares;
    // Bytes of a game file; sparse images hold few and small ones.
    size_t musicLow;
    size_t musicHigh;
};

class Composer {
  public:
    explicit Composer(uint32_t seed) : rng_(seed) {}

    size_t Between(size_t low, size_t high) {
        return low + static_cast<size_t>(rng_() % static_cast<uint32_t>(high - low + 1));
    }
    testkit::Bytes Random(size_t n) {
        testkit::Bytes out(n);
        size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const auto v = static_cast<uint32_t>(rng_());
            std::memcpy(out.data() + i, &v, 4);
        }
        for (; i < n; ++i) {
            out[i] = static_cast<uint8_t>(rng_());
        }
        return out;
    }
    // A game file of about `n` bytes: items one after another with short gaps of noise.
    // Returns the bytes and adds the items placed to `items`.
    testkit::Bytes GameFile(size_t n, size_t& items) {
        testkit::GameImage file(static_cast<uint32_t>(rng_()));
        while (file.size() < n) {
            // Sizes as games have them: sequences of a few KiB, banks of tens of KiB.
            switch (rng_() % 10) {
            case 0:
            case 1:
            case 2:
                file.Seq(static_cast<int>(Between(200, 2000)));
                break;
            case 3:
                file.SeqSet(static_cast<int>(Between(2, 8)), static_cast<int>(Between(50, 300)));
                break;
            case 4:
                file.Bank(testkit::MakeBank(static_cast<uint32_t>(rng_()),
                                            static_cast<int>(Between(8, 40)),
                                            testkit::VagStart::ZeroBlockStartFlags));
                break;
            case 5:
                file.Bank(testkit::MakeBank(static_cast<uint32_t>(rng_()),
                                            static_cast<int>(Between(8, 40)),
                                            testkit::VagStart::NoZeroBlock));
                break;
            case 6:
                file.Bank(testkit::MakeBank(static_cast<uint32_t>(rng_()),
                                            static_cast<int>(Between(60, 200)),
                                            testkit::VagStart::ZeroBlockStartFlags, 8, 4));
                break;
            case 7:
                file.Kcet(static_cast<int>(Between(4, 40)));
                break;
            case 8:
                file.GpmSeq(static_cast<int>(Between(100, 1000)))
                    .Noise(64)
                    .GpmHead(Between(1000, 8000));
                break;
            default:
                file.SceiHead(Between(400, 4000)).Noise(32).SceiMidi(Between(1000, 8000));
                break;
            }
            file.Noise(Between(0, 256));
        }
        items += file.items().size();
        return file.bytes();
    }

  private:
    std::mt19937 rng_;
};

struct Image {
    std::string name;
    std::string path;
    int64_t bytes = 0;
    size_t placed = 0; // items the composer laid in
};

// Writes an image of `target` bytes of the composition: each next block is of the kind
// furthest below its share so far, so the shares hold to within one block.
bool Compose(const Composition& composition, const std::string& path, int64_t target, uint32_t seed,
             Image& image) {
    Composer composer(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    int64_t written[3] = {0, 0, 0};
    const double share[3] = {composition.shares.zeros, composition.shares.random,
                             composition.shares.music};
    int64_t total = 0;
    while (out && total < target) {
        int kind = 0;
        double furthest = -1e300;
        for (int k = 0; k < 3; ++k) {
            if (share[k] <= 0) {
                continue;
            }
            const double below =
                share[k] * static_cast<double>(total + 1) - static_cast<double>(written[k]);
            if (below > furthest) {
                furthest = below;
                kind = k;
            }
        }
        testkit::Bytes block;
        if (kind == 0) {
            block.assign(composer.Between(2 * kKiB, 256 * kKiB), 0);
        } else if (kind == 1) {
            block = composer.Random(composer.Between(2 * kKiB, 128 * kKiB));
        } else {
            block = composer.GameFile(composer.Between(composition.musicLow, composition.musicHigh),
                                      image.placed);
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size()));
        written[kind] += static_cast<int64_t>(block.size());
        total += static_cast<int64_t>(block.size());
    }
    out.close();
    image.name = composition.name;
    image.path = path;
    image.bytes = total;
    return static_cast<bool>(out);
}

// Processor seconds the calling thread has used.
double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

struct Best {
    double cat = 1e300;
    double scan = 1e300;
    double scanThread = 1e300; // processor seconds of the scan's own thread
    std::vector<double> rips;
    uint32_t found = 0;
};

} // namespace

int main(int argc, char** argv) {
    long mib = 64;
    int rounds = 5;
    std::string cli;
    std::vector<std::string> ripArgs;
    std::string keep;
    std::string ripTo; // a folder whose file system the rips write to, instead of the temporary one
    std::string only;
    unsigned threads = 0;
    std::string cache = "written";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--mib") {
            mib = std::max(1L, std::atol(argv[i + 1]));
        } else if (option == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--cli") {
            cli = argv[i + 1];
        } else if (option == "--only") {
            only = argv[i + 1];
        } else if (option == "--keep") {
            keep = argv[i + 1];
        } else if (option == "--rip-to") {
            ripTo = argv[i + 1];
        } else if (option == "--rip-args") {
            ripArgs.emplace_back(argv[i + 1]);
        } else if (option == "--cache") {
            cache = argv[i + 1];
            if (cache != "written" && cache != "read") {
                std::fprintf(stderr, "composition_bench: --cache takes written or read\n");
                return 2;
            }
        } else if (option == "--threads") {
            threads = static_cast<unsigned>(std::max(0, std::atoi(argv[i + 1])));
        } else {
            std::fprintf(stderr, "composition_bench: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    if (!cli.empty() && ripArgs.empty()) {
        ripArgs.emplace_back("");
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "composition_bench: option %s has no value\n", argv[argc - 1]);
        return 2;
    }

    const Composition compositions[] = {
        {"sparse", {0.50, 0.4975, 0.0025}, 8 * kKiB, 32 * kKiB},
        {"realistic", {0.45, 0.40, 0.15}, 16 * kKiB, 256 * kKiB},
        {"dense", {0.0, 0.0, 1.0}, 64 * kKiB, 512 * kKiB},
    };
    testkit::TempFolder folder;
    const int64_t target = static_cast<int64_t>(mib) * 1024 * 1024;
    std::vector<Image> images;
    for (const Composition& composition : compositions) {
        if (!only.empty() && only != composition.name) {
            continue;
        }
        Image image;
        const std::string name = std::string(composition.name) + "-" + std::to_string(mib) + ".bin";
        const std::string path = keep.empty() ? folder / name : keep + "/" + name;
        std::error_code error;
        const std::string count = path + ".items";
        if (!keep.empty() && std::filesystem::exists(count, error)) {
            // Composed by an earlier run with --keep: the image and its count of items.
            std::ifstream in(count);
            in >> image.placed;
            image.name = composition.name;
            image.path = path;
            image.bytes = static_cast<int64_t>(std::filesystem::file_size(path, error));
            images.push_back(image);
            continue;
        }
        if (!Compose(composition, path, target, 2024, image) ||
            (!keep.empty() && !(std::ofstream(count) << image.placed))) {
            std::fprintf(stderr, "composition_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        images.push_back(image);
    }

    for (const Image& image : images) {
        if (cache == "read" && !bench::CacheAsRead(image.path)) {
            std::fprintf(stderr, "composition_bench: cannot read %s\n", image.path.c_str());
            return 1;
        }
    }

    ScopedGameSources sources;
    std::vector<Best> best(images.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < images.size(); ++i) {
            const Image& image = images[i];
            const double cat = TimeProgram({"cat", image.path});
            if (cat < 0) {
                std::fprintf(stderr, "composition_bench: cat %s failed\n", image.path.c_str());
                return 1;
            }
            best[i].cat = std::min(best[i].cat, cat);
            NullFeedback feedback;
            const Clock::time_point start = Clock::now();
            const double startThread = ThreadSeconds();
            const AnalysisResult result =
                AnalyzeSources({image.path}, folder.path(), feedback, {},
                               RecognitionRules::Extended, nullptr, threads);
            best[i].scan = std::min(best[i].scan, Seconds(start));
            best[i].scanThread = std::min(best[i].scanThread, ThreadSeconds() - startThread);
            best[i].found = result.counters.Total();
            best[i].rips.resize(ripArgs.size(), 1e300);
            for (size_t r = 0; r < ripArgs.size(); ++r) {
                // A new folder every time, as a user's first rip of a game writes into, and
                // none removed until the end: a file system that has just freed many inodes
                // can be far slower to hand out new ones, which times the file system, not
                // the rip.
                const std::string out =
                    (ripTo.empty() ? folder.path()
                                   : ripTo + "/sonvex-bench-rip-" + std::to_string(::getpid())) +
                    "/rip-" + image.name + "-" + std::to_string(round) + "-" + std::to_string(r);
                std::error_code made;
                std::filesystem::create_directories(std::filesystem::path(out).parent_path(), made);
                std::vector<std::string> command = {cli, "rip", image.path, "-o", out};
                for (const std::string& word : Words(ripArgs[r])) {
                    command.push_back(word);
                }
                const double seconds = TimeProgram(command);
                if (seconds < 0) {
                    std::fprintf(stderr, "composition_bench: %s rip %s failed\n", cli.c_str(),
                                 image.path.c_str());
                    return 1;
                }
                best[i].rips[r] = std::min(best[i].rips[r], seconds);
            }
        }
    }

    std::printf("best of %d interleaved rounds, images of %ld MiB cached as %s, scan on %u "
                "thread(s)\n",
                rounds, mib, cache == "read" ? "read from disk" : "written",
                ScanThreadCount(threads));
    std::printf("%-10s %8s %8s %10s %10s %7s %10s", "image", "placed", "listed", "scan MB/s",
                "cat MB/s", "ratio", "own MB/s");
    for (const std::string& args : ripArgs) {
        std::printf("  rip %s s", args.c_str());
    }
    std::printf("\n");
    for (size_t i = 0; i < images.size(); ++i) {
        const double megabytes = static_cast<double>(images[i].bytes) / 1e6;
        const double scan = megabytes / best[i].scan;
        const double cat = megabytes / best[i].cat;
        std::printf("%-10s %8zu %8u %10.0f %10.0f %6.0f%% %10.0f", images[i].name.c_str(),
                    images[i].placed, best[i].found, scan, cat, 100 * scan / cat,
                    megabytes / best[i].scanThread);
        for (const double seconds : best[i].rips) {
            std::printf("  %9.2f", seconds);
        }
        std::printf("\n");
    }
    if (!ripTo.empty()) {
        std::error_code error;
        std::filesystem::remove_all(ripTo + "/sonvex-bench-rip-" + std::to_string(::getpid()),
                                    error);
    }
    return 0;
}
