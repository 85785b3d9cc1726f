// A thread's message queue (the stand-in for PostThreadMessage and GetMessage): any thread posts,
// the owning thread reads the messages in posting order.
// Threading: Post, RemoveMessages and Size from any thread; Get and TryGet on the receiving thread
// (several receivers are safe but then share the order between them).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/Dispatcher.h"
#include "platform/Event.h"

namespace platform {

class ThreadMessageQueue {
 public:
  ThreadMessageQueue() = default;
  ThreadMessageQueue(const ThreadMessageQueue&) = delete;
  ThreadMessageQueue& operator=(const ThreadMessageQueue&) = delete;

  // Queues a message (its window field is ignored by the queue).
  void Post(const Message& message);
  void Post(std::uint32_t id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

  // Takes the oldest message; waits up to `timeout` (kInfinite: forever) for one. False when
  // none came in time.
  bool Get(Message& message, std::chrono::milliseconds timeout);
  bool TryGet(Message& message) { return Get(message, std::chrono::milliseconds(0)); }

  // Drops the queued messages whose id lies in [firstId, lastId]; returns how many.
  std::size_t RemoveMessages(std::uint32_t firstId, std::uint32_t lastId);
  std::size_t Size() const;

  // Signalled while at least one message is queued, so a receiver can wait for its messages and
  // its own events at once (WaitForAny).
  Event& MessagesPending() { return pending_; }

 private:
  void UpdatePendingLocked();

  mutable std::mutex mutex_;
  std::deque<Message> queue_;
  Event pending_{Event::Reset::Manual};
};

}  // namespace platform
