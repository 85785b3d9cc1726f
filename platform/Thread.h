// Worker thread base: created suspended, started by Resume, held between cycles by Suspend.
// The worker's bookkeeping lives in a control block that the worker shares, so the object may be
// destroyed on its own worker (from inside Execute, or by FreeOnTerminate once Execute returns)
// and the worker touches nothing of it afterwards.
// Threading: Resume, Suspend, Join and SetPriority from any thread other than the worker's own
// (SetPriority and Suspend may also be called by the worker); Execute runs on the worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
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
  // Run on the worker itself (a worker freeing its own object), it lets the worker run out.
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

  // When set, the worker deletes this object itself once Execute has returned (the object must
  // then have been created with new, and nobody else deletes it or uses it after it may have
  // ended). An object that the worker destroyed already inside Execute is not deleted again.
  void SetFreeOnTerminate(bool value);
  bool FreeOnTerminate() const;

 protected:
  virtual void Execute() = 0;
  // Called by the worker between cycles: blocks while Suspend is in force.
  void HoldWhileSuspended();

 private:
  // Everything the worker still writes after Execute returns; shared by the object and the
  // worker, so it outlives whichever of them ends last.
  struct Control {
    mutable std::mutex mutex;
    std::condition_variable resumed;
    std::thread thread;
    std::thread::id id;
    bool suspended = false;
    bool destroyed = false;  // the object's destructor ran (guarded by mutex)
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> terminated{false};
    std::atomic<bool> freeOnTerminate{false};
    std::atomic<int> priority{kPriorityNormal};
    std::atomic<int> nativeTid{0};  // Linux tid of the worker, 0 before it runs and after
  };

  static void Main(std::shared_ptr<Control> control, Thread* self);

  const std::shared_ptr<Control> control_ = std::make_shared<Control>();
};

// Maps a Windows priority to a Linux nice value (idle 19 ... time-critical -20).
int NiceForPriority(int priority);

void SleepMs(long ms);

}  // namespace platform
