#include "cli/Batch.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// What a worker is doing, in one word so that a snapshot never pairs one job's name with
// another's progress: 0 when idle, else (job index + 1) << 32 | per mille.
constexpr std::uint64_t kIdle = 0;

std::uint64_t Busy(std::size_t job, std::int64_t permille) {
  return (static_cast<std::uint64_t>(job) + 1) << 32 | static_cast<std::uint64_t>(permille);
}

void Count(BatchSummary& summary, const Job& job, ConversionResult::Status status) {
  switch (status) {
    case ConversionResult::kConverted:
      ++(job.kind == JobKind::kCopy ? summary.copied : summary.converted);
      break;
    case ConversionResult::kFailed:
      ++summary.failed;
      break;
    case ConversionResult::kSkipped:
      ++summary.skipped;
      break;
    case ConversionResult::kCancelled:
      ++summary.cancelled;
      break;
  }
}

class BatchRun {
 public:
  BatchRun(const std::vector<Job>& jobs, unsigned workers, const FileConverter& converter,
           const std::atomic<bool>* cancel, HelperPool* pool, const FileCopier* copier)
      : jobs_(jobs),
        converter_(converter),
        copier_(copier),
        cancel_(cancel),
        pool_(pool),
        results_(jobs.size()),
        // With a pool, threads beyond the number of files help convert the running ones.
        busy_(std::max<std::size_t>(
            1, pool != nullptr ? workers : std::min<std::size_t>(workers, jobs.size()))) {
    for (auto& b : busy_) b = kIdle;
  }

  BatchSummary Run(const BatchCallbacks& callbacks) {
    start_ = Clock::now();
    onFinished_ = callbacks.onFinished;
    std::vector<std::jthread> threads;
    for (std::size_t w = 0; w < busy_.size(); ++w) threads.emplace_back([this, w] { Work(w); });

    BatchSummary summary;
    auto lastTick = start_;
    std::unique_lock lock(mutex_);
    for (std::size_t next = 0; next < jobs_.size();) {
      // Results are handed out in job order, as soon as all before them are there.
      if (results_[next]) {
        const ConversionResult result = *results_[next];
        lock.unlock();
        Count(summary, jobs_[next], result.status);
        if (callbacks.onResult) callbacks.onResult(jobs_[next], result);
        lock.lock();
        ++next;
        continue;
      }
      const std::size_t seen = finished_;
      const auto tickDue = lastTick + callbacks.tickInterval;
      changed_.wait_until(lock, tickDue, [&] { return finished_ != seen; });
      if (Clock::now() < tickDue) continue;
      lastTick = Clock::now();
      if (callbacks.onTick) {
        BatchProgress snapshot = Snapshot();
        lock.unlock();
        callbacks.onTick(snapshot);
        lock.lock();
      }
    }
    summary.elapsed = Elapsed();
    lock.unlock();
    if (pool_ != nullptr) pool_->Close();
    return summary;
  }

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  }

  void Work(std::size_t worker) {
    for (std::size_t i = nextJob_++; i < jobs_.size(); i = nextJob_++) {
      const Job& job = jobs_[i];
      const auto started = Clock::now();
      ConversionResult result;
      if (Cancelled()) {
        result.status = ConversionResult::kCancelled;
      } else if (!job.error.empty()) {
        result.reason = job.error;
      } else {
        busy_[worker] = Busy(i, 0);
        if (pool_ != nullptr) pool_->FileStarted();
        result = Run(job, [this, worker, i](std::int64_t position, std::int64_t length) {
          if (length <= 0) return;
          const auto permille = std::clamp<std::int64_t>(position * 1000 / length, 0, 1000);
          busy_[worker] = Busy(i, permille);
        });
        if (pool_ != nullptr) pool_->FileEnded();
        busy_[worker] = kIdle;
      }
      if (onFinished_) {
        onFinished_(job, result,
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started));
      }
      std::lock_guard lock(mutex_);
      if (result.status == ConversionResult::kSkipped) ++skipped_;
      results_[i] = std::move(result);
      ++finished_;
      changed_.notify_one();
    }
    // No file left to start: help the running ones until the batch ends.
    if (pool_ != nullptr) pool_->Serve();
  }

  ConversionResult Run(const Job& job, const FileConverter::Progress& progress) const {
    if (job.kind == JobKind::kConvert) {
      return converter_.Convert(job.source, job.destination, progress);
    }
    if (copier_ == nullptr) return ConversionResult(ConversionResult::kFailed, "nothing copies");
    return copier_->Copy(job.source, job.destination, progress);
  }

  BatchProgress Snapshot() const {  // under the lock
    BatchProgress p{jobs_.size(), finished_, skipped_, {}, Elapsed()};
    for (const auto& worker : busy_) {
      const std::uint64_t state = worker.load();
      if (state == kIdle) continue;
      p.running.push_back({jobs_[(state >> 32) - 1].source, static_cast<int>(state & 0xffffffff)});
    }
    return p;
  }

  const std::vector<Job>& jobs_;
  const FileConverter& converter_;
  const FileCopier* copier_;  // not owned; may be null
  const std::atomic<bool>* cancel_;
  HelperPool* pool_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<ConversionResult>> results_;  // under mutex_
  std::size_t finished_ = 0;                              // under mutex_
  std::size_t skipped_ = 0;                               // under mutex_
  Clock::time_point start_;
  std::function<void(const Job&, const ConversionResult&, std::chrono::microseconds)> onFinished_;
  std::atomic<std::size_t> nextJob_{0};
  std::vector<std::atomic<std::uint64_t>> busy_;  // by worker, see Busy()
};

}  // namespace

BatchSummary RunBatch(const std::vector<Job>& jobs, unsigned workers,
                      const FileConverter& converter, const std::atomic<bool>* cancel,
                      const BatchCallbacks& callbacks, HelperPool* pool, const FileCopier* copier) {
  if (jobs.empty()) return {};
  return BatchRun(jobs, workers, converter, cancel, pool, copier).Run(callbacks);
}

}  // namespace cli
