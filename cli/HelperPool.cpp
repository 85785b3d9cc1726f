#include "cli/HelperPool.h"

#include <algorithm>

namespace cli {

// One offered piece of work, run exactly once by whichever thread takes it first.
class HelperPool::Part {
 public:
  explicit Part(std::function<void()>& run) : run_(run) {}

  // Runs the part unless another thread took it; true when this call ran it.
  bool TryRun() {
    {
      std::lock_guard lock(mutex_);
      if (state_ != kOpen) return false;
      state_ = kTaken;
    }
    run_();
    std::lock_guard lock(mutex_);
    state_ = kDone;
    done_.notify_all();
    return true;
  }

  // Waits until the part has run. Only called once the part was taken, so the wait ends when
  // the part's work does (parts stop early when the conversion is cancelled).
  void Wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return state_ == kDone; });
  }

 private:
  enum State { kOpen, kTaken, kDone };
  std::function<void()>& run_;
  std::mutex mutex_;
  std::condition_variable done_;
  State state_ = kOpen;  // under mutex_
};

void HelperPool::FileStarted() {
  std::lock_guard lock(mutex_);
  ++filesRunning_;
}

void HelperPool::FileEnded() {
  std::lock_guard lock(mutex_);
  --filesRunning_;
}

unsigned HelperPool::PartsPerFile() const {
  std::lock_guard lock(mutex_);
  const unsigned files = std::max(filesRunning_, 1u);
  const unsigned spare = threads_ > files ? threads_ - files : 0;
  return 1 + spare / files;
}

void HelperPool::Run(std::vector<std::function<void()>>& parts) {
  if (parts.empty()) return;
  std::vector<std::shared_ptr<Part>> offered;
  {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 1; i < parts.size(); ++i) {
      offered.push_back(std::make_shared<Part>(parts[i]));
      queue_.push_back(offered.back());
    }
  }
  offered_.notify_all();
  parts[0]();
  for (const auto& part : offered) {
    if (!part->TryRun()) part->Wait();
  }
  // Parts the owner ran itself may still sit in the queue; a helper that pops one finds it done.
}

void HelperPool::Serve() {
  for (;;) {
    std::shared_ptr<Part> part;
    {
      std::unique_lock lock(mutex_);
      offered_.wait(lock, [this] { return closed_ || !queue_.empty(); });
      if (queue_.empty()) return;  // closed
      part = std::move(queue_.front());
      queue_.pop_front();
    }
    part->TryRun();
  }
}

void HelperPool::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  offered_.notify_all();
}

void RunParts(HelperPool* pool, std::vector<std::function<void()>>& parts) {
  if (pool != nullptr) {
    pool->Run(parts);
    return;
  }
  for (auto& part : parts) part();
}

}  // namespace cli
