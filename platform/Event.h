// Auto-reset and manual-reset events with timed waits, and a wait for the first of several.
// Threading: every operation may be called from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace platform {

constexpr std::chrono::milliseconds kInfinite = std::chrono::milliseconds::max();

class EventWaiter;

class Event {
 public:
  enum class Reset { Auto, Manual };

  explicit Event(Reset reset, bool initiallySignaled = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Signals the event. An auto-reset event releases exactly one waiter and then resets.
  void Set();
  void ResetEvent();
  bool IsSet() const;

  // Waits until signalled (true) or until `timeout` passes (false). kInfinite waits forever.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  friend int WaitForAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);

  bool TryConsumeLocked();

  const Reset reset_;
  mutable std::mutex mutex_;
  bool signaled_;
  std::vector<EventWaiter*> waiters_;  // not owned; registered while a wait is in progress
};

// Waits until one of `events` is signalled and returns its index; when several are signalled the
// lowest index wins (and only that one is consumed). Returns -1 when `timeout` passes first.
int WaitForAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);

}  // namespace platform
