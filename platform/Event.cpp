#include "platform/Event.h"

#include <algorithm>
#include <condition_variable>
#include <optional>

namespace platform {

// One thread's stake in a wait: registered on every event it waits for, poked by Event::Set.
// Lock order: an event's mutex, then a waiter's mutex. A waiter never holds its own mutex while
// it takes an event's mutex.
class EventWaiter {
 public:
  void Poke() {
    {
      std::lock_guard lock(mutex_);
      poked_ = true;
    }
    cv_.notify_one();
  }

  // Waits until poked or until `deadline` (none: forever). Clears the poke for the next round.
  void WaitForPoke(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    std::unique_lock lock(mutex_);
    if (deadline) {
      cv_.wait_until(lock, *deadline, [this] { return poked_; });
    } else {
      cv_.wait(lock, [this] { return poked_; });
    }
    poked_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool poked_ = false;
};

namespace {

using Clock = std::chrono::steady_clock;

// Timeouts this long are treated as "forever"; adding them to now() would overflow.
constexpr std::chrono::milliseconds kForeverThreshold = std::chrono::hours(24 * 365 * 100);

std::optional<Clock::time_point> DeadlineFor(std::chrono::milliseconds timeout) {
  if (timeout >= kForeverThreshold) return std::nullopt;
  return Clock::now() + std::max(timeout, std::chrono::milliseconds(0));
}

}  // namespace

Event::Event(Reset reset, bool initiallySignaled) : reset_(reset), signaled_(initiallySignaled) {}

// Waiters unregister before their wait returns, so nothing refers to this event any more when
// its owner destroys it.
Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(mutex_);
  signaled_ = true;
  // Poke while still holding our mutex: a waiter unregisters under it, so it is alive here.
  for (EventWaiter* waiter : waiters_) waiter->Poke();
}

void Event::ResetEvent() {
  std::lock_guard lock(mutex_);
  signaled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return signaled_;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  return WaitForAny({this}, timeout) == 0;
}

bool Event::TryConsumeLocked() {
  if (!signaled_) return false;
  if (reset_ == Reset::Auto) signaled_ = false;
  return true;
}

int WaitForAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout) {
  if (events.size() == 0) return -1;  // nothing could ever wake us
  const auto deadline = DeadlineFor(timeout);

  // Consumes the first signalled event in index order; -1 when none is signalled.
  const auto consumeFirst = [&events] {
    int index = 0;
    for (Event* event : events) {
      std::lock_guard lock(event->mutex_);
      if (event->TryConsumeLocked()) return index;
      ++index;
    }
    return -1;
  };

  EventWaiter waiter;
  for (;;) {
    int index = consumeFirst();
    if (index >= 0) return index;
    if (deadline && Clock::now() >= *deadline) return -1;

    for (Event* event : events) {
      std::lock_guard lock(event->mutex_);
      event->waiters_.push_back(&waiter);
    }
    // An event set before we registered on it has not poked us; look once more.
    index = consumeFirst();
    if (index < 0) waiter.WaitForPoke(deadline);
    for (Event* event : events) {
      std::lock_guard lock(event->mutex_);
      auto& list = event->waiters_;
      list.erase(std::find(list.begin(), list.end(), &waiter));
    }
    if (index >= 0) return index;
  }
}

}  // namespace platform
