#include "platform/Dispatcher.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "platform/ExceptionHandler.h"
#include "platform/MainThread.h"

namespace platform {

// A Synchronize request; it lives on the stack of the worker that waits for it.
struct Dispatcher::SyncCall {
  const std::function<void()>* call;
  std::exception_ptr error;
  Event done{Event::Reset::Manual};
};

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often RunUntil looks at its condition when no work arrives: the condition may be set by
// another thread without posting anything.
constexpr milliseconds kRunUntilSlice{5};

// Timeouts this long mean "forever"; adding them to now() would overflow.
constexpr milliseconds kForeverThreshold = std::chrono::hours(24 * 365 * 100);

std::optional<Clock::time_point> DeadlineFor(milliseconds timeout) {
  if (timeout >= kForeverThreshold) return std::nullopt;
  return Clock::now() + std::max(timeout, milliseconds(0));
}

milliseconds Remaining(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return kInfinite;
  const auto left = *deadline - Clock::now();
  if (left <= Clock::duration::zero()) return milliseconds(0);
  // Round up so a wait does not end just before the deadline and spin once more.
  return std::chrono::ceil<milliseconds>(left);
}

}  // namespace

Dispatcher& Dispatcher::Instance() {
  static Dispatcher instance;
  return instance;
}

Dispatcher::Dispatcher() = default;

WindowHandle Dispatcher::CreateWindow(WindowProc proc) {
  auto shared = std::make_shared<WindowProc>(std::move(proc));
  std::lock_guard lock(mutex_);
  const WindowHandle handle = nextHandle_++;
  windows_.emplace(handle, std::move(shared));
  return handle;
}

void Dispatcher::DestroyWindow(WindowHandle window) {
  std::shared_ptr<WindowProc> proc;  // released after unlocking: its captures may call back in
  std::lock_guard lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return;
  proc = std::move(it->second);
  windows_.erase(it);
  std::erase_if(queue_, [window](const QueuedMessage& q) { return q.message.window == window; });
}

bool Dispatcher::WindowExists(WindowHandle window) const {
  std::lock_guard lock(mutex_);
  return windows_.contains(window);
}

bool Dispatcher::PostMessage(WindowHandle window, std::uint32_t id, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  {
    std::lock_guard lock(mutex_);
    if (!windows_.contains(window)) return false;
    queue_.push_back({Message{window, id, wParam, lParam}, nextSerial_++});
    workPending_.Set();
  }
  Wake();
  return true;
}

std::size_t Dispatcher::RemoveMessages(WindowHandle window, std::uint32_t firstId,
                                       std::uint32_t lastId) {
  std::lock_guard lock(mutex_);
  return std::erase_if(queue_, [&](const QueuedMessage& q) {
    return q.message.window == window && q.message.id >= firstId && q.message.id <= lastId;
  });
}

std::size_t Dispatcher::PendingMessages(WindowHandle window) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(queue_.begin(), queue_.end(),
                    [window](const QueuedMessage& q) { return q.message.window == window; }));
}

std::size_t Dispatcher::ProcessMessages() {
  if (!IsMainThread()) return 0;
  std::size_t delivered = RunSyncCalls();

  std::uint64_t endSerial;
  {
    std::lock_guard lock(mutex_);
    endSerial = nextSerial_;
  }
  for (;;) {
    Message message;
    std::shared_ptr<WindowProc> proc;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty() || queue_.front().serial >= endSerial) break;
      message = queue_.front().message;
      queue_.pop_front();
      const auto it = windows_.find(message.window);
      if (it != windows_.end()) proc = it->second;
    }
    if (proc && *proc) {
      try {
        (*proc)(message);
      } catch (...) {
        HandleException(std::current_exception());
      }
      ++delivered;
    }
    delivered += RunSyncCalls();
  }

  std::lock_guard lock(mutex_);
  if (queue_.empty() && syncCalls_.empty()) workPending_.ResetEvent();
  return delivered;
}

void Dispatcher::Run() {
  if (!IsMainThread()) return;
  for (;;) {
    ProcessMessages();
    {
      std::lock_guard lock(mutex_);
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    workPending_.Wait(kInfinite);  // Quit sets it too
  }
}

void Dispatcher::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    workPending_.Set();
  }
  Wake();
}

bool Dispatcher::RunUntil(const std::function<bool()>& done, milliseconds timeout) {
  const auto deadline = DeadlineFor(timeout);
  const bool onMain = IsMainThread();
  for (;;) {
    if (onMain) ProcessMessages();
    if (done()) return true;
    const milliseconds remaining = Remaining(deadline);
    if (remaining <= milliseconds(0)) return false;
    const milliseconds slice = std::min(remaining, kRunUntilSlice);
    if (onMain) {
      workPending_.Wait(slice);
    } else {
      // Nobody here delivers the work, so workPending_ may stay set; just look again later.
      std::this_thread::sleep_for(slice);
    }
  }
}

bool Dispatcher::WaitServingSynchronize(Event& event, milliseconds timeout) {
  if (!IsMainThread()) return event.Wait(timeout);
  const auto deadline = DeadlineFor(timeout);
  for (;;) {
    switch (WaitForAny({&event, &syncPending_}, Remaining(deadline))) {
      case 0:
        return true;
      case 1:
        RunSyncCalls();
        break;
      default:
        return false;
    }
  }
}

void Dispatcher::Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  SyncCall request{&call, nullptr};
  {
    std::lock_guard lock(mutex_);
    syncCalls_.push_back(&request);
    syncPending_.Set();
    workPending_.Set();
  }
  Wake();
  // No timeout: the main thread serves these in ProcessMessages, Run, RunUntil and
  // WaitServingSynchronize.
  request.done.Wait(kInfinite);
  if (request.error) std::rethrow_exception(request.error);
}

void Dispatcher::SetWakeHook(std::function<void()> hook) {
  std::function<void()> old;  // destroyed after unlocking
  std::lock_guard lock(mutex_);
  old = std::exchange(wakeHook_, std::move(hook));
}

std::size_t Dispatcher::RunSyncCalls() {
  std::size_t count = 0;
  for (;;) {
    SyncCall* request;
    {
      std::lock_guard lock(mutex_);
      if (syncCalls_.empty()) {
        syncPending_.ResetEvent();
        return count;
      }
      request = syncCalls_.front();
      syncCalls_.pop_front();
    }
    try {
      (*request->call)();
    } catch (...) {
      request->error = std::current_exception();
    }
    // The waiting worker may return and free `request` as soon as this is set.
    request->done.Set();
    ++count;
  }
}

void Dispatcher::Wake() {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    hook = wakeHook_;
  }
  if (!hook) return;
  try {
    hook();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

}  // namespace platform
