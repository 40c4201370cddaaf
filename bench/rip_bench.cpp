// SPDX-License-Identifier: GPL-3.0-or-later
// Rip time of a composed disc image with conversion after the scan (-j 1) and beside it
// (-j 2), against the scan alone, the conversion of its list alone and the plain read of
// the image, in one run: each measured by running sonvex-cli, best of several rounds taken
// in turn. The image ($SONVEX_RIP_IMAGE_MB MiB, default 96) is a cue sheet over raw
// sectors whose game files mix zero padding (2 to 256 KiB blocks), random data (2 to
// 128 KiB) and stretches dense with sequences and banks. Run: build/bench/rip_bench.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"

namespace {

namespace fs = std::filesystem;
using namespace sonvex;
using Clock = std::chrono::steady_clock;

// One game file: blocks of zeros, of random data and stretches of a few items each, drawn
// 20 : 36 : 44 (by bytes roughly half zeros, a third random data, the rest music).
testkit::Bytes GameFile(std::mt19937& rng, size_t target) {
    auto between = [&rng](size_t low, size_t high) {
        return low + static_cast<size_t>(rng() % static_cast<uint32_t>(high - low + 1));
    };
    testkit::GameImage image(static_cast<uint32_t>(rng()));
    while (image.size() < target) {
        const auto pick = rng() % 100;
        if (pick < 20) {
            image.Zeros(between(2 * 1024, 256 * 1024));
        } else if (pick < 56) {
            image.Noise(between(2 * 1024, 128 * 1024));
        } else {
            // A dense stretch: a few items close together.
            for (int i = 0; i < 4; ++i) {
                switch (rng() % 4) {
                case 0:
                    image.Seq(static_cast<int>(between(20, 300)));
                    break;
                case 1:
                    image.SeqSet(static_cast<int>(between(2, 4)),
                                 static_cast<int>(between(20, 120)));
                    break;
                case 2:
                    image.Bank(testkit::MakeBank(static_cast<uint32_t>(rng()),
                                                 static_cast<int>(between(4, 16)),
                                                 testkit::VagStart::ZeroBlockStartFlags));
                    break;
                default:
                    image.GpmSeq(static_cast<int>(between(20, 200)));
                    break;
                }
                image.Noise(between(16, 512));
            }
        }
    }
    return image.bytes();
}

double Run(const std::string& command) {
    const Clock::time_point start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status == -1) {
        std::fprintf(stderr, "cannot run: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

int main(int argc, char** argv) {
    const fs::path self = fs::absolute(argv[0]).parent_path();
    const std::string cli =
        argc > 1 ? std::string(argv[1]) : (self.parent_path() / "cli/sonvex-cli").string();
    if (!fs::exists(cli)) {
        std::fprintf(stderr, "usage: rip_bench [SONVEX_CLI] (not found: %s)\n", cli.c_str());
        return 2;
    }
    const char* mb = std::getenv("SONVEX_RIP_IMAGE_MB");
    const int64_t imageBytes = (mb != nullptr ? std::atoll(mb) : 96) * 1024 * 1024;
    const char* roundsText = std::getenv("SONVEX_RIP_ROUNDS");
    const int rounds = std::max(1, roundsText != nullptr ? std::atoi(roundsText) : 3);

    testkit::TempFolder folder;
    std::mt19937 rng(2026);
    testkit::DiscBuilder disc;
    int64_t composed = 0;
    for (int i = 0; composed < imageBytes * 2048 / 2352; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DATA/F%03d.BIN", i);
        testkit::Bytes data = GameFile(rng, 512 * 1024 + rng() % (1024 * 1024));
        composed += static_cast<int64_t>(data.size());
        disc.File(name, std::move(data));
    }
    const std::string cue = testkit::WriteCueImage(folder.path(), "BENCH", disc.Build());
    if (cue.empty()) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }
    const std::string bin = folder / "BENCH.bin";
    if (const char* keep = std::getenv("SONVEX_RIP_KEEP_IN"); keep != nullptr && *keep != '\0') {
        // A copy of the image to time by hand.
        std::error_code ec;
        fs::copy_file(bin, fs::path(keep) / "BENCH.bin", fs::copy_options::overwrite_existing, ec);
        fs::copy_file(cue, fs::path(keep) / "BENCH.cue", fs::copy_options::overwrite_existing, ec);
    }
    const std::string list = folder / "scan.clg";
    const std::string quiet = " >/dev/null 2>&1";

    // Best of the rounds, each kind once per round in turn.
    double cat = 1e9, scan = 1e9, convert = 1e9, rip1 = 1e9, rip2 = 1e9;
    for (int round = 0; round < rounds; ++round) {
        cat = std::min(cat, Run("cat " + Quoted(bin) + " >/dev/null"));
        scan =
            std::min(scan, Run(cli + " analyze -q " + Quoted(cue) + " -o " + Quoted(list) + quiet));
        fs::remove_all(folder / "c");
        convert = std::min(convert, Run(cli + " convert -q " + Quoted(list) + " -o " +
                                        Quoted(folder / "c") + quiet));
        fs::remove_all(folder / "r1");
        rip1 = std::min(rip1, Run(cli + " rip -q -j 1 " + Quoted(cue) + " -o " +
                                  Quoted(folder / "r1") + quiet));
        fs::remove_all(folder / "r2");
        rip2 = std::min(rip2, Run(cli + " rip -q -j 2 " + Quoted(cue) + " -o " +
                                  Quoted(folder / "r2") + quiet));
    }
    size_t outputs = 0;
    for (const auto& e : fs::directory_iterator(folder / "r2")) {
        outputs += e.path().extension() == ".clg" ? 0 : 1;
    }
    const double mib = static_cast<double>(fs::file_size(bin)) / (1024.0 * 1024.0);
    std::printf("image: %.1f MiB, %zu output files; best of %d rounds\n", mib, outputs, rounds);
    std::printf("cat          %7.3f s  %8.1f MiB/s\n", cat, mib / cat);
    std::printf("scan         %7.3f s  %8.1f MiB/s\n", scan, mib / scan);
    std::printf("convert list %7.3f s\n", convert);
    std::printf("rip -j 1     %7.3f s\n", rip1);
    std::printf("rip -j 2     %7.3f s  (%.2fx of -j 1; scan + convert = %.3f s)\n", rip2,
                rip1 / rip2, scan + convert);
    return 0;
}
