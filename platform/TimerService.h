// The shared periodic timer (the stand-in for the multimedia timer behind timeSetEvent): one
// thread ticks every 25 ms and serves a list of entries. Each tick adds the tick period to the
// elapsed time of every running entry; an entry whose elapsed time reaches its period is called
// and restarted. Entries can be suspended and resumed. A tick that falls due while the previous
// one is still being served is dropped, not queued. While every entry is suspended the thread
// does not tick; the first entry that runs again starts the ticks anew.
// The thread starts with the first entry and ends (and is joined) when the last one goes, or
// when the service is destroyed; it is never detached.
// Threading: Add, Remove, Suspend, Resume and the queries from any thread, including from inside
// a callback; the entry list is guarded by one lock, never held while a callback runs. Callbacks
// run on the timer thread, one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class TimerService {
 public:
  using EntryId = std::uint64_t;
  using Callback = std::function<void()>;
  static constexpr EntryId kNoEntry = 0;
  static constexpr std::chrono::milliseconds kDefaultTickPeriod{25};

  // The one service the whole process shares.
  static TimerService& Instance();

  explicit TimerService(std::chrono::milliseconds tickPeriod = kDefaultTickPeriod);
  // Drops every entry and joins the thread. Must not run on the timer thread.
  ~TimerService();
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  // Adds an entry called every `period` (counted in whole ticks; a period shorter than one tick
  // is served on every tick), suspended or running. Starts the thread if none runs. An exception
  // escaping `callback` goes to the application exception handler. Throws std::system_error
  // when the thread cannot be started.
  EntryId Add(std::chrono::milliseconds period, Callback callback, bool suspended = false);
  // Removes an entry; once Remove returns it is never called again. When its callback is running
  // now, Remove waits for it to return, except when called on the timer thread itself (from a
  // callback), where waiting would never end. False for an unknown entry.
  bool Remove(EntryId id);
  // A suspended entry is not called and its elapsed time stands still; Resume restarts it from
  // zero elapsed time. False for an unknown entry.
  bool Suspend(EntryId id);
  bool Resume(EntryId id);

  std::chrono::milliseconds TickPeriod() const { return tickPeriod_; }
  std::size_t Count() const;
  bool Contains(EntryId id) const;
  bool Suspended(EntryId id) const;
  // True while the timer thread exists (started and not yet joined).
  bool ThreadRunning() const;
  // Remove calls now waiting for a running callback to return.
  std::size_t RemovalsWaiting() const;
  // True while the thread waits, without ticking, for an entry to run.
  bool Idle() const;
  bool OnTimerThread() const;

 private:
  struct Entry {
    std::chrono::milliseconds period;
    std::chrono::milliseconds elapsed{0};
    bool suspended = false;
    std::shared_ptr<const Callback> callback;
  };

  void Main();
  bool AnyRunningLocked() const;
  // Serves one tick; takes and gives back `lock` around each callback.
  void ServeTickLocked(std::unique_lock<std::mutex>& lock);
  // Joins a thread that was asked to stop. Called with `lifecycle_` held and `mutex_` not held.
  void JoinStoppedThread();

  const std::chrono::milliseconds tickPeriod_;
  // Serialises starting and joining the thread; never taken on the timer thread.
  std::mutex lifecycle_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;      // the thread waits here for the next tick or the stop
  std::condition_variable callDone_;  // a running callback returned
  std::map<EntryId, Entry> entries_;  // in the order they were added
  EntryId nextId_ = 1;
  EntryId runningId_ = kNoEntry;  // the entry whose callback runs now
  std::size_t removalsWaiting_ = 0;
  bool idle_ = false;  // the thread waits for a running entry
  bool stopping_ = false;
  std::thread thread_;
  std::atomic<std::thread::id> timerThreadId_{};
};

}  // namespace platform
