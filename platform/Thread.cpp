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
  // A worker that destroys its own object cannot join itself; let it run out on its own.
  if (thread_.joinable()) thread_.detach();
}

void Thread::Resume() {
  std::lock_guard lock(mutex_);
  suspended_ = false;
  if (!started_) {
    // The id is stored before the worker can take the mutex, so Id() is valid on the worker.
    thread_ = std::thread(&Thread::Main, this);
    id_ = thread_.get_id();
    started_ = true;
    return;
  }
  resumed_.notify_all();
}

void Thread::Suspend() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

bool Thread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void Thread::HoldWhileSuspended() {
  std::unique_lock lock(mutex_);
  resumed_.wait(lock, [this] { return !suspended_ || terminated_; });
}

void Thread::Join() {
  std::thread worker;
  {
    std::unique_lock lock(mutex_);
    if (!started_ || id_ == std::this_thread::get_id()) return;
    if (!thread_.joinable()) {
      // Another caller is joining it; wait for the same outcome.
      resumed_.wait(lock, [this] { return finished_.load(); });
      return;
    }
    worker = std::move(thread_);
  }
  worker.join();
}

bool Thread::Started() const {
  return started_;
}
bool Thread::Finished() const {
  return finished_;
}

std::thread::id Thread::Id() const {
  std::lock_guard lock(mutex_);
  return id_;
}

void Thread::SetPriority(int priority) {
  priority_ = priority;
  // Both this and the worker's start store first and load second, so at least one of them
  // sees the other's store and the priority gets applied.
  const int tid = nativeTid_;
  if (tid != 0) ApplyNice(tid, priority);
}

int Thread::Priority() const {
  return priority_;
}

void Thread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  resumed_.notify_all();
}

bool Thread::Terminated() const {
  return terminated_;
}

void Thread::Main() {
  nativeTid_ = static_cast<int>(gettid());
  // Workers pace themselves with short timed waits (a 1 ms pause per block); the kernel's
  // default 50 us timer slack would stretch each of them.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  ApplyPriorityOnWorker();
  try {
    Execute();
  } catch (...) {
    HandleException(std::current_exception());
  }
  nativeTid_ = 0;  // the tid may be reused once this thread exits
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  resumed_.notify_all();
}

void Thread::ApplyPriorityOnWorker() {
  ApplyNice(static_cast<int>(gettid()), priority_);
}

}  // namespace platform
