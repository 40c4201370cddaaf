// SPDX-License-Identifier: GPL-3.0-or-later
// Scan throughput on a composed 512 MiB game image (sequences and banks spread across zero
// padding and random data), beside the plain read speed of the same file from the page
// cache. The image is composed once into $SONVEX_SCAN_IMAGE (kept for later runs) or into
// a temporary folder; sizes other than 512 MiB come from $SONVEX_SCAN_IMAGE_MB.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/source_scanner.h"
#include "chunkfile/chunk_file.h"
#include "cli/terminal_feedback.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/feedback.h"
#include "testkit/byte_builder.h"
#include "testkit/game_image.h"
#ifdef SONVEX_BENCH_MAIN_DIALOG
#include <QApplication>

#include "ui/main_dialog.h"
#endif

namespace {

using namespace sonvex;

int64_t ImageBytes() {
    const char* mb = std::getenv("SONVEX_SCAN_IMAGE_MB");
    const long value = mb != nullptr ? std::atol(mb) : 0;
    return (value > 0 ? value : 512) * int64_t{1024} * 1024;
}

// Random bytes of every value, as compressed data and graphics hold them: signatures
// and zero runs turn up in them by chance, as they do on real discs.
testkit::Bytes RandomData(std::mt19937& rng, size_t n) {
    testkit::Bytes out(n);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const auto v = static_cast<uint32_t>(rng());
        out[i] = static_cast<uint8_t>(v);
        out[i + 1] = static_cast<uint8_t>(v >> 8);
        out[i + 2] = static_cast<uint8_t>(v >> 16);
        out[i + 3] = static_cast<uint8_t>(v >> 24);
    }
    for (; i < n; ++i) {
        out[i] = static_cast<uint8_t>(rng());
    }
    return out;
}

// About two fifths zero padding (sector and file padding), the rest random data and music:
// sequences, numbered sets, banks of both body kinds, and the unchecked kinds.
testkit::Bytes ComposeImage(int64_t target) {
    testkit::GameImage image(2024);
    std::mt19937 rng(77);
    auto between = [&rng](size_t low, size_t high) {
        return low + static_cast<size_t>(rng() % static_cast<uint32_t>(high - low + 1));
    };
    uint32_t seed = 1;
    while (static_cast<int64_t>(image.size()) < target) {
        image.Zeros(between(2048, 192 * 1024));
        switch (rng() % 8) {
        case 0:
            image.Seq(static_cast<int>(between(20, 400)));
            break;
        case 1:
            image.SeqSet(static_cast<int>(between(2, 8)), static_cast<int>(between(20, 200)));
            break;
        case 2:
            image.Bank(testkit::MakeBank(seed++, static_cast<int>(between(4, 24)),
                                         testkit::VagStart::ZeroBlockStartFlags));
            break;
        case 3:
            image.Bank(testkit::MakeBank(seed++, static_cast<int>(between(4, 24)),
                                         testkit::VagStart::NoZeroBlock));
            break;
        case 4:
            image.Kcet(static_cast<int>(between(2, 20)));
            break;
        case 5:
            image.GpmSeq(static_cast<int>(between(20, 200))).Noise(64).GpmHead(between(200, 4000));
            break;
        default:
            image.Noise(between(256, 8192));
            break;
        }
        image.Raw(RandomData(rng, between(16 * 1024, 3 * 1024 * 1024)));
    }
    return image.bytes();
}

class ImageFile {
  public:
    ImageFile() {
        const char* given = std::getenv("SONVEX_SCAN_IMAGE");
        if (given != nullptr && *given != '\0') {
            path_ = given;
        } else {
            folder_ = std::make_unique<testkit::TempFolder>();
            path_ = *folder_ / "disc.img";
        }
        std::error_code error;
        if (!std::filesystem::exists(path_, error) ||
            static_cast<int64_t>(std::filesystem::file_size(path_, error)) < ImageBytes()) {
            if (!testkit::WriteFile(path_, ComposeImage(ImageBytes()))) {
                std::fprintf(stderr, "cannot write the image %s\n", path_.c_str());
                std::exit(1);
            }
        }
        size_ = static_cast<int64_t>(std::filesystem::file_size(path_, error));
        listPath_ = path_ + ".bench.clg";
    }
    ~ImageFile() { std::filesystem::remove(listPath_); }
    const std::string& path() const { return path_; }
    const std::string& listPath() const { return listPath_; }
    int64_t size() const { return size_; }

  private:
    std::unique_ptr<testkit::TempFolder> folder_;
    std::string path_;
    std::string listPath_;
    int64_t size_ = 0;
};

ImageFile& Image() {
    static ImageFile image;
    return image;
}

void Report(benchmark::State& state, int64_t bytes) {
    state.SetBytesProcessed(bytes * static_cast<int64_t>(state.iterations()));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6 *
                                                    static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

// The read speed of the file from the page cache: 128 KiB reads into one buffer, as a
// plain copy to /dev/null does them.
void BM_PlainRead(benchmark::State& state) {
    ImageFile& image = Image();
    std::vector<char> buffer(128 * 1024);
    for (auto _ : state) {
        const int fd = ::open(image.path().c_str(), O_RDONLY);
        if (fd < 0) {
            state.SkipWithError("cannot open the image");
            return;
        }
        int64_t total = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            total += n;
        }
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    Report(state, image.size());
}

template <typename FeedbackType> void ScanImage(benchmark::State& state, RecognitionRules rules) {
    ImageFile& image = Image();
    uint32_t found = 0;
    size_t events = 0;
    for (auto _ : state) {
        FeedbackType feedback;
        ChunkFile list;
        if (!list.Create(image.listPath())) {
            state.SkipWithError("cannot create the list");
            return;
        }
        ChunkListFile listFile(list);
        GroupCounters counters;
        if (!WriteHeader(listFile, 0, "/bench") ||
            ScanSourceFile(list, image.path(), counters, feedback, {}, rules) !=
                ScanOutcome::Scanned) {
            state.SkipWithError("the scan failed");
            return;
        }
        list.Close();
        found = counters.Total();
        if constexpr (std::is_same_v<FeedbackType, RecordingFeedback>) {
            events = feedback.events.size();
        }
    }
    state.counters["entries"] = static_cast<double>(found);
    if (events > 0) {
        state.counters["feedback_calls"] = static_cast<double>(events);
    }
    Report(state, image.size());
}

void BM_ScanExtended(benchmark::State& state) {
    ScanImage<NullFeedback>(state, RecognitionRules::Extended);
}
void BM_ScanClassic(benchmark::State& state) {
    ScanImage<NullFeedback>(state, RecognitionRules::Classic);
}
// Every feedback call kept: what the progress reporting costs over a scan that discards it.
void BM_ScanExtendedRecorded(benchmark::State& state) {
    ScanImage<RecordingFeedback>(state, RecognitionRules::Extended);
}

// Passes every call on to another feedback and adds up the time spent in them.
class TimedFeedback : public Feedback {
  public:
    explicit TimedFeedback(Feedback& inner) : inner_(inner) {}
    void ShowMessage(std::string_view text, MessageIcon icon) override {
        Time([&] { inner_.ShowMessage(text, icon); });
    }
    void SetStatusText(std::string_view text) override {
        Time([&] { inner_.SetStatusText(text); });
    }
    void SetProgress(int position) override {
        Time([&] { inner_.SetProgress(position); });
    }
    void SetGamePath(std::string_view path) override {
        Time([&] { inner_.SetGamePath(path); });
    }
    void Refresh() override {
        Time([&] { inner_.Refresh(); });
    }

    double seconds = 0;
    int calls = 0;

  private:
    template <typename Call> void Time(Call call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++calls;
    }
    Feedback& inner_;
};

// The share of the scan time spent in the feedback calls ("feedback_percent"), for the
// command line's terminal feedback (writing to /dev/null, as when stderr is redirected),
// for a feedback that keeps every call and, when the desktop program is built, for the
// main dialog itself. `makeInner` gives each scan the feedback to time.
template <typename MakeInner>
void ScanTimingFeedback(benchmark::State& state, MakeInner makeInner) {
    ImageFile& image = Image();
    double inFeedback = 0;
    double total = 0;
    int calls = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto inner = makeInner();
        state.ResumeTiming();
        TimedFeedback feedback(*inner);
        ChunkFile list;
        if (!list.Create(image.listPath())) {
            state.SkipWithError("cannot create the list");
            return;
        }
        ChunkListFile listFile(list);
        GroupCounters counters;
        const auto start = std::chrono::steady_clock::now();
        if (!WriteHeader(listFile, 0, "/bench") ||
            ScanSourceFile(list, image.path(), counters, feedback) != ScanOutcome::Scanned) {
            state.SkipWithError("the scan failed");
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        inFeedback += feedback.seconds;
        calls = feedback.calls;
        list.Close();
    }
    state.counters["feedback_percent"] = 100.0 * inFeedback / total;
    state.counters["feedback_calls"] = calls;
    Report(state, image.size());
}

struct NullDevice {
    NullDevice() : file(std::fopen("/dev/null", "w")) {}
    ~NullDevice() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    std::FILE* file;
};

void BM_ScanTerminalFeedback(benchmark::State& state) {
    static NullDevice sink;
    ScanTimingFeedback(state, [] { return std::make_shared<TerminalFeedback>(sink.file); });
}
void BM_ScanRecordingFeedback(benchmark::State& state) {
    ScanTimingFeedback(state, [] { return std::make_shared<RecordingFeedback>(); });
}

#ifdef SONVEX_BENCH_MAIN_DIALOG
// The desktop program's main dialog, shown, painting its status bar and progress bar as
// the analysis does. Without a display it paints on the offscreen platform.
void BM_ScanMainDialogFeedback(benchmark::State& state) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "scan_bench";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    static testkit::TempFolder programFolder;
    static ui::MainDialog dialog(programFolder.path());
    if (!dialog.isVisible()) {
        dialog.show();
        QApplication::processEvents();
    }
    // Each scan starts as an analysis the user starts does, long after the last repaint,
    // so that its first refresh paints. The dialog outlives every scan: the pointer shares
    // no ownership of it.
    ScanTimingFeedback(state, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ui::MainDialog::kRepaintIntervalMs));
        QApplication::processEvents();
        return std::shared_ptr<Feedback>(std::shared_ptr<Feedback>(), &dialog);
    });
}
#endif

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanExtended)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanClassic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanExtendedRecorded)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanTerminalFeedback)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanRecordingFeedback)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef SONVEX_BENCH_MAIN_DIALOG
BENCHMARK(BM_ScanMainDialogFeedback)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace

BENCHMARK_MAIN();
