// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion beside the scan: the items of each scanned game file are converted on worker
// threads while the next file is scanned and its bytes are still in the page cache; the
// list walk afterwards takes them in list order, so names, messages and results are those
// of a run that converts one item after the other.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert/batch_conversion.h"

namespace sonvex {

class ConversionPipeline : public ConvertedAhead {
  public:
    // Converts on `threads` workers into a hidden staging folder inside `outputFolder`
    // (which must exist); at most `queueLimit` items wait for a worker, beyond that Add
    // waits. Without a staging folder nothing is converted ahead.
    ConversionPipeline(Converters converters, const std::string& outputFolder, int threads,
                       size_t queueLimit = 64);
    // Stops the workers and removes the staging folder with whatever is left in it.
    ~ConversionPipeline() override;
    ConversionPipeline(const ConversionPipeline&) = delete;
    ConversionPipeline& operator=(const ConversionPipeline&) = delete;

    // The list being made: the folder its entries' file names are relative to, and its
    // title (for the DLS texts).
    void Begin(const std::string& sourceFolder, const std::string& listTitle);
    // The entries the scan appended to the list, in list order.
    void Add(const std::vector<ListEntry>& entries);
    // Returns once no item is queued or being converted: the caller may then change
    // process-wide state the converters read (the active file system).
    void Drain();
    // True when items are converted ahead (a staging folder could be made).
    bool active() const { return !staging_.empty(); }

    // For the receiver of the game source layer's failure reports: on a worker thread the
    // report is kept with the item being converted and given to `replay` when the walk
    // reaches it (true); elsewhere nothing is done (false).
    static bool KeepReport(std::string_view message);
    void SetReportReplay(std::function<void(std::string_view)> replay) {
        replay_ = std::move(replay);
    }

    std::optional<SequenceOutcome> TakeSequence(size_t place, const ListEntry& entry,
                                                const std::string& stem,
                                                Feedback& feedback) override;
    std::optional<BankOutcome> TakeBank(size_t place, const ListEntry& header,
                                        const ListEntry& body, const std::string& dlsPath,
                                        Feedback& feedback) override;
    void RunEnded() override;

    // A feedback call of a converter, kept until the walk reaches its item.
    struct Call;
    struct Job;

  private:
    void Queue(size_t place, std::unique_ptr<Job> job);
    void Work(const std::string& folder);
    void Convert(Job& job);
    // Waits for the job at `place`; nullptr when there is none matching the entries.
    Job* Finished(size_t place, const ListEntry& first, const ListEntry* body);
    // Moves the job's outputs to `finalStem` and replays its calls; false (and nothing
    // moved or replayed) when an output cannot take its final name.
    bool Deliver(Job& job, const std::string& finalStem, Feedback& feedback, std::string& failure);
    void StopWorkers();

    Converters converters_;
    std::string staging_;
    std::string sourceFolder_;
    std::string title_;
    size_t queueLimit_;
    std::function<void(std::string_view)> replay_;

    // The scan side's walk over the entries, pairing a "VH" with the "VB" right after it.
    size_t next_ = 0;
    std::optional<std::pair<size_t, ListEntry>> openHeader_;

    // Each wait has its own condition, so that a change wakes only a thread it concerns:
    // on two cores a thread woken for nothing takes a core from the conversions.
    std::mutex mutex_;
    std::condition_variable work_; // workers: a job is queued, or they are to stop
    std::condition_variable room_; // Queue: the queue has room
    std::condition_variable done_; // Finished and Drain: the job waited for is done
    std::deque<Job*> queue_;
    std::map<size_t, std::unique_ptr<Job>> jobs_; // by place in the list
    int running_ = 0;
    bool stopping_ = false;
    const Job* awaited_ = nullptr; // the job Finished waits for
    bool draining_ = false;
    std::vector<std::thread> workers_;
};

} // namespace sonvex
