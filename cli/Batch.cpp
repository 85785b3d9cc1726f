#include "cli/Batch.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cli {
namespace {

constexpr int kIdle = -1;
using Clock = std::chrono::steady_clock;

class BatchRun {
 public:
  BatchRun(const std::vector<Job>& jobs, unsigned workers, const FileConverter& converter,
           const std::atomic<bool>* cancel)
      : jobs_(jobs),
        converter_(converter),
        cancel_(cancel),
        results_(jobs.size()),
        progress_(std::max<std::size_t>(1, std::min<std::size_t>(workers, jobs.size()))) {
    for (auto& p : progress_) p = kIdle;
  }

  std::size_t Run(const BatchCallbacks& callbacks) {
    std::vector<std::jthread> threads;
    for (std::size_t w = 0; w < progress_.size(); ++w) threads.emplace_back([this, w] { Work(w); });

    std::size_t failed = 0;
    auto lastTick = Clock::now();
    std::unique_lock lock(mutex_);
    for (std::size_t next = 0; next < jobs_.size();) {
      // Results are handed out in job order, as soon as all before them are there.
      if (results_[next]) {
        const ConversionResult result = *results_[next];
        lock.unlock();
        if (result.status == ConversionResult::kFailed) ++failed;
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
    return failed;
  }

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }

  void Work(std::size_t worker) {
    for (std::size_t i = nextJob_++; i < jobs_.size(); i = nextJob_++) {
      const Job& job = jobs_[i];
      ConversionResult result;
      if (Cancelled()) {
        result.status = ConversionResult::kCancelled;
      } else if (!job.error.empty()) {
        result.reason = job.error;
      } else {
        progress_[worker] = 0;
        result = converter_.Convert(job.source, job.destination,
                                    [this, worker](std::int64_t position, std::int64_t length) {
                                      if (length <= 0) return;
                                      const auto permille = std::clamp<std::int64_t>(
                                          position * 1000 / length, 0, 1000);
                                      progress_[worker] = static_cast<int>(permille);
                                    });
        progress_[worker] = kIdle;
      }
      std::lock_guard lock(mutex_);
      results_[i] = std::move(result);
      ++finished_;
      changed_.notify_one();
    }
  }

  BatchProgress Snapshot() const {  // under the lock
    BatchProgress p{jobs_.size(), finished_, {}};
    for (const auto& worker : progress_) {
      if (const int permille = worker.load(); permille != kIdle) p.running.push_back(permille);
    }
    return p;
  }

  const std::vector<Job>& jobs_;
  const FileConverter& converter_;
  const std::atomic<bool>* cancel_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<ConversionResult>> results_;  // under mutex_
  std::size_t finished_ = 0;                              // under mutex_
  std::atomic<std::size_t> nextJob_{0};
  std::vector<std::atomic<int>> progress_;
};

}  // namespace

std::size_t RunBatch(const std::vector<Job>& jobs, unsigned workers, const FileConverter& converter,
                     const std::atomic<bool>* cancel, const BatchCallbacks& callbacks) {
  if (jobs.empty()) return 0;
  return BatchRun(jobs, workers, converter, cancel).Run(callbacks);
}

}  // namespace cli
