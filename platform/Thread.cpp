#include "platform/Thread.h"

#include <sys/prctl.h>

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <utility>

#include "platform/ExceptionHandler.h"

namespace platform {
namespace {

// Nice value per Windows priority, in ascending priority order.
struct PriorityNice {
  int priority;
  int nice;
};
constexpr std::array<PriorityNice, 7> kPriorityNice{{
    {kPriorityIdle, 19},
    {kPriorityLowest, 10},
    {kPriorityBelowNormal, 5},
    {kPriorityNormal, 0},
    {kPriorityAboveNormal, -5},
    {kPriorityHighest, -10},
    {kPriorityTimeCritical, -20},
}};

// Failures are expected: without privileges a thread may not lower its nice value.
void ApplyNice(int tid, int priority) {
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(priority));
}

}  // namespace

// A priority between two listed ones takes the nice value of the nearer one (the listed values
// leave no integer halfway between two neighbours); priorities beyond the ends take the end's.
int NiceForPriority(int priority) {
  const PriorityNice* best = &kPriorityNice.front();
  for (const PriorityNice& entry : kPriorityNice) {
    if (std::abs(entry.priority - priority) < std::abs(best->priority - priority)) best = &entry;
  }
  return best->nice;
}

void SleepMs(long ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Thread::Thread() = default;

Thread::~Thread() {
  Join();
  std::lock_guard lock(control_->mutex);
  control_->destroyed = true;
  // A worker that destroys its own object cannot join itself; let it run out on its own.
  if (control_->thread.joinable()) control_->thread.detach();
}

void Thread::Resume() {
  Control& c = *control_;
  std::lock_guard lock(c.mutex);
  c.suspended = false;
  if (!c.started) {
    // The id is stored before the worker can take the mutex, so Id() is valid on the worker.
    c.thread = std::thread(&Thread::Main, control_, this);
    c.id = c.thread.get_id();
    c.started = true;
    return;
  }
  c.resumed.notify_all();
}

void Thread::Suspend() {
  std::lock_guard lock(control_->mutex);
  control_->suspended = true;
}

bool Thread::Suspended() const {
  std::lock_guard lock(control_->mutex);
  return control_->suspended;
}

void Thread::HoldWhileSuspended() {
  Control& c = *control_;
  std::unique_lock lock(c.mutex);
  c.resumed.wait(lock, [&c] { return !c.suspended || c.terminated; });
}

void Thread::Join() {
  const std::shared_ptr<Control> control = control_;  // a free-on-terminate worker may end us
  std::thread worker;
  {
    std::unique_lock lock(control->mutex);
    if (!control->started || control->id == std::this_thread::get_id()) return;
    if (!control->thread.joinable()) {
      // Another caller is joining it; wait for the same outcome.
      control->resumed.wait(lock, [&control] { return control->finished.load(); });
      return;
    }
    worker = std::move(control->thread);
  }
  worker.join();
}

bool Thread::Started() const {
  return control_->started;
}
bool Thread::Finished() const {
  return control_->finished;
}

std::thread::id Thread::Id() const {
  std::lock_guard lock(control_->mutex);
  return control_->id;
}

void Thread::SetPriority(int priority) {
  control_->priority = priority;
  // Both this and the worker's start store first and load second, so at least one of them
  // sees the other's store and the priority gets applied.
  const int tid = control_->nativeTid;
  if (tid != 0) ApplyNice(tid, priority);
}

int Thread::Priority() const {
  return control_->priority;
}

void Thread::Terminate() {
  {
    std::lock_guard lock(control_->mutex);
    control_->terminated = true;
  }
  control_->resumed.notify_all();
}

bool Thread::Terminated() const {
  return control_->terminated;
}

void Thread::SetFreeOnTerminate(bool value) {
  control_->freeOnTerminate = value;
}

bool Thread::FreeOnTerminate() const {
  return control_->freeOnTerminate;
}

void Thread::Main(std::shared_ptr<Control> control, Thread* self) {
  const int tid = static_cast<int>(gettid());
  control->nativeTid = tid;
  // Workers pace themselves with short timed waits (a 1 ms pause per block); the kernel's
  // default 50 us timer slack would stretch each of them.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  ApplyNice(tid, control->priority);
  try {
    self->Execute();
  } catch (...) {
    HandleException(std::current_exception());
  }
  // From here on the object may be gone: only the control block is used.
  control->nativeTid = 0;  // the tid may be reused once this thread exits
  bool freeSelf = false;
  {
    std::lock_guard lock(control->mutex);
    freeSelf = control->freeOnTerminate && !control->destroyed;
  }
  if (freeSelf) delete self;
  {
    std::lock_guard lock(control->mutex);
    control->finished = true;
  }
  control->resumed.notify_all();
}

}  // namespace platform
