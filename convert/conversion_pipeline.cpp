// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion beside the scan: worker threads, the staging folder, and the hand-over of
// each item to the list walk.
#include "convert/conversion_pipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "chunkfile/chunk_file.h"

namespace sonvex {

namespace fs = std::filesystem;

struct ConversionPipeline::Call {
    enum class Kind { Message, MessageAbout, Status, Progress, GamePath, Refresh, Report };
    Kind kind = Kind::Refresh;
    std::string text;
    MessageIcon icon = MessageIcon::Stop;
    MessageSubject subject;
    int value = 0;
};

struct ConversionPipeline::Job {
    enum class Kind { Seq, Ssq, Bank };
    Kind kind = Kind::Seq;
    ListEntry first;
    ListEntry body;   // banks: the "VB" entry
    std::string stem; // its outputs' name in the staging folder, without what converters append
    bool done = false;
    bool converted = false; // false: left to the walk (cancelled, or the staging failed)
    bool cancelled = false;
    SequenceOutcome sequence;
    BankOutcome bank;
    std::vector<Call> calls;

    // What the converter may have appended to the stem: a sequence's ".mid" or, for a
    // numbered set, "_NN.mid" per sequence (ids 0 to 15); a bank's ".dls" and ".sf2".
    std::vector<std::string> Made() const {
        std::vector<std::string> made;
        std::error_code ec;
        auto has = [this, &ec](const std::string& suffix) { return fs::exists(stem + suffix, ec); };
        if (kind == Kind::Bank) {
            for (const char* suffix : {".dls", ".sf2"}) {
                if (has(suffix)) {
                    made.push_back(suffix);
                }
            }
            return made;
        }
        // Files completed are counted; one that was not completed has been removed.
        if (sequence.smfFilesMade <= 0) {
            return made;
        }
        if (has(".mid")) {
            made.push_back(".mid");
            return made;
        }
        for (int id = 0; id < 16 && static_cast<int>(made.size()) < sequence.smfFilesMade; ++id) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "_%02d.mid", id);
            if (has(suffix)) {
                made.push_back(suffix);
            }
        }
        return made;
    }
};

namespace {

// The job a worker thread is converting, for the game source layer's reports.
thread_local std::vector<ConversionPipeline::Call>* t_calls = nullptr;

// Keeps a converter's feedback calls in order.
class KeepingFeedback : public Feedback {
  public:
    using Call = ConversionPipeline::Call;
    explicit KeepingFeedback(std::vector<Call>& calls) : calls_(calls) {}
    void ShowMessage(std::string_view text, MessageIcon icon) override {
        calls_.push_back({Call::Kind::Message, std::string(text), icon, {}, 0});
    }
    void ShowMessageAbout(std::string_view text, MessageIcon icon,
                          const MessageSubject& subject) override {
        calls_.push_back({Call::Kind::MessageAbout, std::string(text), icon, subject, 0});
    }
    void SetStatusText(std::string_view text) override {
        calls_.push_back({Call::Kind::Status, std::string(text), {}, {}, 0});
    }
    void SetProgress(int position) override {
        calls_.push_back({Call::Kind::Progress, {}, {}, {}, position});
    }
    void SetGamePath(std::string_view path) override {
        calls_.push_back({Call::Kind::GamePath, std::string(path), {}, {}, 0});
    }
    void Refresh() override { calls_.push_back({Call::Kind::Refresh, {}, {}, {}, 0}); }

  private:
    std::vector<Call>& calls_;
};

// `text` with every `from` replaced by `to`: a converter's words about its staged output
// become words about the output's final name.
std::string Renamed(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

bool SameEntry(const ListEntry& a, const ListEntry& b) {
    return a.type == b.type && a.number == b.number && a.offset == b.offset &&
           a.fileName == b.fileName;
}

} // namespace

ConversionPipeline::ConversionPipeline(Converters converters, const std::string& outputFolder,
                                       int threads, size_t queueLimit)
    : converters_(std::move(converters)), queueLimit_(std::max<size_t>(1, queueLimit)) {
    std::string pattern = (fs::path(outputFolder) / ".sonvex-staging-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return; // every item is left to the walk
    }
    staging_ = pattern;
    for (int i = 0; i < std::max(1, threads); ++i) {
        // Each worker stages in a folder of its own: creating files in one folder is one at
        // a time, and on some file systems it is slow enough for workers to queue up there.
        std::string folder = staging_ + "/" + std::to_string(i);
        std::error_code ec;
        if (!fs::create_directory(folder, ec)) {
            folder = staging_;
        }
        workers_.emplace_back([this, folder] { Work(folder); });
    }
}

ConversionPipeline::~ConversionPipeline() {
    StopWorkers();
    if (!staging_.empty()) {
        std::error_code ec;
        fs::remove_all(staging_, ec);
    }
}

void ConversionPipeline::StopWorkers() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
    workers_.clear();
}

void ConversionPipeline::Begin(const std::string& sourceFolder, const std::string& listTitle) {
    sourceFolder_ = sourceFolder;
    title_ = listTitle;
}

void ConversionPipeline::Add(const std::vector<ListEntry>& entries) {
    // The same pairing as the walk: a "VH" takes the "VB" right after it; anything else
    // after a "VH" leaves it alone and is taken in its own right.
    for (const ListEntry& entry : entries) {
        const size_t place = next_++;
        if (openHeader_) {
            const auto [headerPlace, header] = *openHeader_;
            openHeader_.reset();
            if (entry.type == kTypeVb) {
                auto job = std::make_unique<Job>();
                job->kind = Job::Kind::Bank;
                job->first = header;
                job->body = entry;
                Queue(headerPlace, std::move(job));
                continue;
            }
        }
        if (entry.type == kTypeVh) {
            openHeader_.emplace(place, entry);
        } else if (entry.type == kTypeSeq || entry.type == kTypeGpmSeq) {
            auto job = std::make_unique<Job>();
            job->kind = entry.type == kTypeSeq ? Job::Kind::Seq : Job::Kind::Ssq;
            job->first = entry;
            Queue(place, std::move(job));
        }
    }
}

void ConversionPipeline::Queue(size_t place, std::unique_ptr<Job> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (staging_.empty()) {
        return;
    }
    job->stem = staging_ + "/" + std::to_string(place);
    room_.wait(lock, [this] { return queue_.size() < queueLimit_; });
    queue_.push_back(job.get());
    jobs_[place] = std::move(job);
    lock.unlock();
    work_.notify_one();
}

void ConversionPipeline::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    draining_ = true;
    done_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
    draining_ = false;
}

void ConversionPipeline::Work(const std::string& folder) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return; // stopping, with nothing left to do
        }
        Job* job = queue_.front();
        queue_.pop_front();
        const bool skip = job->cancelled || stopping_;
        ++running_;
        // A full queue is let fill again once half of it has gone, rather than an item at
        // a time, which would wake the scan for every item taken.
        const bool room = queue_.size() <= queueLimit_ / 2;
        lock.unlock();
        if (room) {
            room_.notify_one();
        }
        if (!skip) {
            // Its outputs go to this worker's own folder (the stem was given in the common one).
            job->stem = folder + job->stem.substr(staging_.size());
            Convert(*job);
        }
        lock.lock();
        --running_;
        job->done = true;
        const bool awaited = job == awaited_ || (draining_ && queue_.empty() && running_ == 0);
        lock.unlock();
        if (awaited) {
            done_.notify_all();
        }
        lock.lock();
    }
}

void ConversionPipeline::Convert(Job& job) {
    KeepingFeedback feedback(job.calls);
    t_calls = &job.calls;
    try {
        const std::string firstPath = GameFilePath(sourceFolder_, job.first.fileName);
        switch (job.kind) {
        case Job::Kind::Seq:
            job.sequence = converters_.seq(job.first.offset, firstPath, job.stem, feedback);
            break;
        case Job::Kind::Ssq:
            job.sequence = converters_.ssq(job.first.offset, firstPath, job.stem, feedback);
            break;
        case Job::Kind::Bank:
            job.bank = converters_.vab(job.first.offset, job.body.offset, firstPath,
                                       GameFilePath(sourceFolder_, job.body.fileName),
                                       job.stem + ".dls", title_, feedback);
            break;
        }
        job.converted = true;
    } catch (...) {
        // Out of memory or the like: the walk converts the item itself and meets it there.
        job.calls.clear();
    }
    t_calls = nullptr;
}

bool ConversionPipeline::KeepReport(std::string_view message) {
    if (t_calls == nullptr) {
        return false;
    }
    t_calls->push_back({Call::Kind::Report, std::string(message), {}, {}, 0});
    return true;
}

ConversionPipeline::Job* ConversionPipeline::Finished(size_t place, const ListEntry& first,
                                                      const ListEntry* body) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto found = jobs_.find(place);
    if (found == jobs_.end() || !found->second) {
        return nullptr;
    }
    Job& job = *found->second;
    const bool bank = job.kind == Job::Kind::Bank;
    if (!SameEntry(job.first, first) || bank != (body != nullptr) ||
        (bank && !SameEntry(job.body, *body))) {
        return nullptr;
    }
    awaited_ = &job;
    done_.wait(lock, [&job] { return job.done; });
    awaited_ = nullptr;
    return job.converted ? &job : nullptr;
}

bool ConversionPipeline::Deliver(Job& job, const std::string& finalStem, Feedback& feedback,
                                 std::string& failure) {
    std::vector<std::string> moved;
    for (const std::string& suffix : job.Made()) {
        const std::string to = finalStem + suffix;
        if (!ChunkFile::Rename(job.stem + suffix, to)) {
            // The converter, writing there itself, would have met whatever stands in the
            // way: take back what was moved and leave the item to it.
            for (const std::string& path : moved) {
                ChunkFile::Delete(path);
            }
            return false;
        }
        moved.push_back(to);
    }
    const std::string staged = job.stem;
    for (const Call& call : job.calls) {
        switch (call.kind) {
        case Call::Kind::Message:
            feedback.ShowMessage(Renamed(call.text, staged, finalStem), call.icon);
            break;
        case Call::Kind::MessageAbout: {
            MessageSubject subject = call.subject;
            subject.file = Renamed(subject.file, staged, finalStem);
            subject.reason = Renamed(subject.reason, staged, finalStem);
            feedback.ShowMessageAbout(Renamed(call.text, staged, finalStem), call.icon, subject);
            break;
        }
        case Call::Kind::Status:
            feedback.SetStatusText(call.text);
            break;
        case Call::Kind::Progress:
            feedback.SetProgress(call.value);
            break;
        case Call::Kind::GamePath:
            feedback.SetGamePath(call.text);
            break;
        case Call::Kind::Refresh:
            feedback.Refresh();
            break;
        case Call::Kind::Report:
            if (replay_) {
                replay_(call.text);
            }
            break;
        }
    }
    failure = Renamed(failure, staged, finalStem);
    return true;
}

std::optional<SequenceOutcome> ConversionPipeline::TakeSequence(size_t place,
                                                                const ListEntry& entry,
                                                                const std::string& stem,
                                                                Feedback& feedback) {
    Job* job = Finished(place, entry, nullptr);
    if (job == nullptr) {
        return std::nullopt;
    }
    SequenceOutcome outcome = job->sequence;
    if (!Deliver(*job, stem, feedback, outcome.failure)) {
        return std::nullopt;
    }
    return outcome;
}

std::optional<BankOutcome> ConversionPipeline::TakeBank(size_t place, const ListEntry& header,
                                                        const ListEntry& body,
                                                        const std::string& dlsPath,
                                                        Feedback& feedback) {
    Job* job = Finished(place, header, &body);
    if (job == nullptr) {
        return std::nullopt;
    }
    // The walk names the collection "STEM.dls"; its SoundFont follows the stem.
    const std::string stem = dlsPath.size() > 4 && dlsPath.ends_with(".dls")
                                 ? dlsPath.substr(0, dlsPath.size() - 4)
                                 : dlsPath;
    BankOutcome outcome = job->bank;
    if (!Deliver(*job, stem, feedback, outcome.failure)) {
        return std::nullopt;
    }
    return outcome;
}

void ConversionPipeline::RunEnded() {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [place, job] : jobs_) {
        job->cancelled = true;
    }
    queue_.clear();
    // Jobs taken off the queue unconverted are never waited for again.
}

} // namespace sonvex
