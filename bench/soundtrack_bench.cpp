// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli soundtrack` on a composed disc image (one bank, eight songs of four voices),
// with 1 and with 2 jobs: seconds of music rendered per second of wall time and per second
// of CPU time (the rip included), in one run, with the machine's load.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/resource.h>

#include "playback/audio_file.h"
#include "testkit/byte_builder.h"
#include "testkit/disc_builder.h"
#include "testkit/game_image.h"
#include "testkit/song_bank_items.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using namespace sonvex;
    const std::string cli =
        argc > 1 ? argv[1]
                 : (fs::canonical("/proc/self/exe").parent_path().parent_path() / "cli/sonvex-cli")
                       .string();
    testkit::TempFolder dir;
    testkit::GameImage bgm(9);
    const auto bank =
        testkit::BankOf(3, {{0, {0, 127}}, {1, {0, 127}}, {2, {0, 127}}, {3, {0, 127}}});
    bgm.Noise(64).Raw(bank.vh).Zeros(64).Raw(bank.vb).Noise(64);
    for (int song = 0; song < 8; ++song) {
        bgm
            .Raw(testkit::SongOf(
                {{0, -1, 48 + song}, {1, -1, 55 + song}, {2, -1, 60 + song}, {3, -1, 64 + song}},
                16))
            .Noise(64);
    }
    const std::string cue = testkit::WriteCueImage(
        dir.path(), "GAME", testkit::DiscBuilder().File("SOUND/BGM.BIN", bgm.bytes()).Build());
    for (int jobs : {1, 2}) {
        const std::string out = dir / ("out" + std::to_string(jobs));
        const std::string command = "'" + cli + "' soundtrack -q '" + cue + "' -o '" + out +
                                    "' -j " + std::to_string(jobs) + " > /dev/null";
        rusage before{};
        getrusage(RUSAGE_CHILDREN, &before);
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage after{};
        getrusage(RUSAGE_CHILDREN, &after);
        auto seconds = [](const timeval& t) {
            return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
        };
        const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) +
                           seconds(after.ru_stime) - seconds(before.ru_stime);
        double music = 0.0;
        for (const auto& e : fs::directory_iterator(out)) {
            AudioFileContents audio;
            std::string error;
            if (e.path().extension() == ".flac" && ReadAudioFile(e.path(), audio, error)) {
                music += static_cast<double>(audio.frames) / audio.sampleRate;
            }
        }
        std::printf("jobs %d: status %d, %.1f s of music in %.2f s wall (%.1fx real time), "
                    "%.2f s of CPU (%.1fx real time per core busy)\n",
                    jobs, status, music, wall, music / wall, cpu, music / cpu);
    }
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) > 0) {
        std::printf("machine load %.2f\n", load[0]);
    }
    return 0;
}
