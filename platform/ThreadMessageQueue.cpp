#include "platform/ThreadMessageQueue.h"

#include <algorithm>

namespace platform {

void ThreadMessageQueue::Post(const Message& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(message);
  UpdatePendingLocked();
}

void ThreadMessageQueue::Post(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam) {
  Post(Message{kNoWindow, id, wParam, lParam});
}

bool ThreadMessageQueue::Get(Message& message, std::chrono::milliseconds timeout) {
  const auto deadline = timeout == kInfinite ? std::chrono::steady_clock::time_point::max()
                                             : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!queue_.empty()) {
        message = queue_.front();
        queue_.pop_front();
        UpdatePendingLocked();
        return true;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto left = timeout == kInfinite
                          ? kInfinite
                          : std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (!pending_.Wait(left)) return false;
  }
}

std::size_t ThreadMessageQueue::RemoveMessages(std::uint32_t firstId, std::uint32_t lastId) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto newEnd = std::remove_if(queue_.begin(), queue_.end(), [&](const Message& message) {
    return message.id >= firstId && message.id <= lastId;
  });
  const auto removed = static_cast<std::size_t>(queue_.end() - newEnd);
  queue_.erase(newEnd, queue_.end());
  UpdatePendingLocked();
  return removed;
}

std::size_t ThreadMessageQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void ThreadMessageQueue::UpdatePendingLocked() {
  if (queue_.empty()) {
    pending_.ResetEvent();
  } else {
    pending_.Set();
  }
}

}  // namespace platform
