#include "platform/TimerService.h"

#include <exception>
#include <utility>
#include <vector>

#include "platform/ExceptionHandler.h"

namespace platform {

using SteadyClock = std::chrono::steady_clock;

TimerService& TimerService::Instance() {
  static TimerService service;
  return service;
}

TimerService::TimerService(std::chrono::milliseconds tickPeriod)
    : tickPeriod_(tickPeriod > std::chrono::milliseconds(0) ? tickPeriod : kDefaultTickPeriod) {}

TimerService::~TimerService() {
  std::lock_guard lifecycle(lifecycle_);
  {
    std::lock_guard lock(mutex_);
    entries_.clear();
    stopping_ = true;
  }
  wake_.notify_all();
  JoinStoppedThread();
}

TimerService::EntryId TimerService::Add(std::chrono::milliseconds period, Callback callback,
                                        bool suspended) {
  Entry entry;
  entry.period = period;
  entry.suspended = suspended;
  entry.callback = std::make_shared<const Callback>(std::move(callback));

  if (OnTimerThread()) {
    // The thread is alive (we run on it); a stop asked for by an earlier Remove is called off.
    std::lock_guard lock(mutex_);
    stopping_ = false;
    const EntryId id = nextId_++;
    entries_.emplace(id, std::move(entry));
    return id;
  }

  std::lock_guard lifecycle(lifecycle_);
  JoinStoppedThread();  // a thread that emptied its own list may still be on its way out
  EntryId id;
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
      stopping_ = false;
      thread_ = std::thread([this] { Main(); });  // throws std::system_error on failure
    }
    id = nextId_++;
    entries_.emplace(id, std::move(entry));
  }
  if (!suspended) wake_.notify_all();  // an idle thread starts ticking again
  return id;
}

bool TimerService::Remove(EntryId id) {
  if (OnTimerThread()) {
    std::lock_guard lock(mutex_);
    if (entries_.erase(id) == 0) return false;
    if (entries_.empty()) stopping_ = true;  // the thread ends after this callback returns
    return true;
  }

  std::lock_guard lifecycle(lifecycle_);
  {
    std::unique_lock lock(mutex_);
    if (entries_.erase(id) == 0) return false;
    if (runningId_ == id) {
      ++removalsWaiting_;
      callDone_.wait(lock, [&] { return runningId_ != id; });
      --removalsWaiting_;
    }
    if (!entries_.empty()) return true;
    stopping_ = true;
  }
  wake_.notify_all();
  JoinStoppedThread();
  return true;
}

void TimerService::JoinStoppedThread() {
  std::thread finished;
  {
    std::lock_guard lock(mutex_);
    if (!stopping_ || !thread_.joinable()) return;
    finished = std::move(thread_);
  }
  finished.join();
}

bool TimerService::Suspend(EntryId id) {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(id);
  if (found == entries_.end()) return false;
  found->second.suspended = true;
  return true;
}

bool TimerService::Resume(EntryId id) {
  {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(id);
    if (found == entries_.end()) return false;
    if (!found->second.suspended) return true;
    found->second.suspended = false;
    found->second.elapsed = std::chrono::milliseconds(0);
  }
  wake_.notify_all();  // an idle thread starts ticking again
  return true;
}

std::size_t TimerService::Count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

bool TimerService::Contains(EntryId id) const {
  std::lock_guard lock(mutex_);
  return entries_.count(id) != 0;
}

bool TimerService::Suspended(EntryId id) const {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(id);
  return found != entries_.end() && found->second.suspended;
}

bool TimerService::ThreadRunning() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable();
}

std::size_t TimerService::RemovalsWaiting() const {
  std::lock_guard lock(mutex_);
  return removalsWaiting_;
}

bool TimerService::Idle() const {
  std::lock_guard lock(mutex_);
  return idle_;
}

bool TimerService::AnyRunningLocked() const {
  for (const auto& [id, entry] : entries_) {
    if (!entry.suspended) return true;
  }
  return false;
}

bool TimerService::OnTimerThread() const {
  return timerThreadId_.load() == std::this_thread::get_id();
}

void TimerService::Main() {
  std::unique_lock lock(mutex_);
  timerThreadId_.store(std::this_thread::get_id());
  auto due = SteadyClock::now() + tickPeriod_;
  while (!stopping_) {
    if (!AnyRunningLocked()) {
      // Nothing to call: no ticks until an entry runs again, so an idle process sleeps.
      idle_ = true;
      wake_.wait(lock, [this] { return stopping_ || AnyRunningLocked(); });
      idle_ = false;
      if (stopping_) break;
      due = SteadyClock::now() + tickPeriod_;
    }
    if (wake_.wait_until(lock, due, [this] { return stopping_; })) break;
    // Ticks missed while callbacks ran are dropped: the next one is a whole period away.
    const auto now = SteadyClock::now();
    due += tickPeriod_;
    if (due <= now) due = now + tickPeriod_;
    ServeTickLocked(lock);
  }
  timerThreadId_.store(std::thread::id());
}

void TimerService::ServeTickLocked(std::unique_lock<std::mutex>& lock) {
  std::vector<EntryId> ready;
  for (auto& [id, entry] : entries_) {
    if (entry.suspended) continue;
    entry.elapsed += tickPeriod_;
    if (entry.elapsed < entry.period) continue;
    entry.elapsed = std::chrono::milliseconds(0);
    ready.push_back(id);
  }
  for (const EntryId id : ready) {
    // An earlier callback of this tick may have removed or suspended this entry.
    const auto found = entries_.find(id);
    if (found == entries_.end() || found->second.suspended) continue;
    const std::shared_ptr<const Callback> callback = found->second.callback;
    runningId_ = id;
    lock.unlock();
    try {
      if (*callback) (*callback)();
    } catch (...) {
      HandleException(std::current_exception());
    }
    lock.lock();
    runningId_ = kNoEntry;
    callDone_.notify_all();
    if (stopping_) return;
  }
}

}  // namespace platform
