// Worker thread base: created suspended, started by Resume, held between cycles by Suspend.
// Threading: Resume, Suspend, Join and SetPriority from any thread other than the worker's own
// (SetPriority and Suspend may also be called by the worker); Execute runs on the worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

// Windows thread priorities, kept as the numbers callers store.
constexpr int kPriorityIdle = -15;
constexpr int kPriorityLowest = -2;
constexpr int kPriorityBelowNormal = -1;
constexpr int kPriorityNormal = 0;
constexpr int kPriorityAboveNormal = 1;
constexpr int kPriorityHighest = 2;
constexpr int kPriorityTimeCritical = 15;

class Thread {
 public:
  Thread();
  // Joins the worker if it still runs; owners should Join (bounded by their own protocol) first.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The first call starts the worker; later calls release a hold requested by Suspend.
  void Resume();
  // Asks the worker to hold at its next HoldWhileSuspended(); a real thread cannot be frozen
  // safely at an arbitrary point, so the hold is taken between cycles.
  void Suspend();
  bool Suspended() const;

  // Waits for Execute to return. Safe to call more than once; never from the worker itself.
  void Join();
  bool Started() const;
  bool Finished() const;
  // The worker's id; valid once Resume has started it.
  std::thread::id Id() const;

  // Applies a Windows priority (kPriority...) as the nearest nice value of the worker thread.
  // Raising priority needs privileges; without them the request is recorded but has no effect.
  void SetPriority(int priority);
  int Priority() const;

  // Asks Execute to end; it is the body's job to look at Terminated().
  void Terminate();
  bool Terminated() const;

 protected:
  virtual void Execute() = 0;
  // Called by the worker between cycles: blocks while Suspend is in force.
  void HoldWhileSuspended();

 private:
  void Main();
  void ApplyPriorityOnWorker();

  mutable std::mutex mutex_;
  std::condition_variable resumed_;
  std::thread thread_;
  std::thread::id id_;
  bool suspended_ = false;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<int> priority_{kPriorityNormal};
  std::atomic<int> nativeTid_{0};  // Linux tid of the worker, 0 before it runs
};

// Maps a Windows priority to a Linux nice value (idle 19 ... time-critical -20).
int NiceForPriority(int priority);

void SleepMs(long ms);

}  // namespace platform
