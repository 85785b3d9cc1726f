// Main-thread dispatcher: message-only "windows" (a handle plus a handler), messages posted from
// any thread and delivered on the main thread in posting order, and Synchronize.
// Threading: CreateWindow, DestroyWindow, PostMessage, RemoveMessages, PendingMessages, Quit and
// SetWakeHook from any thread; ProcessMessages, Run, RunUntil and WaitServingSynchronize on the
// main thread; Synchronize from any thread (it runs the call directly on the main thread).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/Event.h"

namespace platform {

using WindowHandle = std::uint64_t;  // 0 is no window
constexpr WindowHandle kNoWindow = 0;

struct Message {
  WindowHandle window = kNoWindow;
  std::uint32_t id = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// A window's handler. Messages it does not know it simply ignores (the default procedure).
using WindowProc = std::function<void(const Message&)>;

class Dispatcher {
 public:
  static Dispatcher& Instance();

  WindowHandle CreateWindow(WindowProc proc);
  // Removes the window and every message queued for it. A handler of it that is running now
  // finishes; no further message reaches it.
  void DestroyWindow(WindowHandle window);
  bool WindowExists(WindowHandle window) const;

  // Queues a message; false when the window does not exist.
  bool PostMessage(WindowHandle window, std::uint32_t id, std::uintptr_t wParam = 0,
                   std::intptr_t lParam = 0);
  // Drops the queued messages of `window` whose id lies in [firstId, lastId]; returns how many.
  std::size_t RemoveMessages(WindowHandle window, std::uint32_t firstId, std::uint32_t lastId);
  std::size_t PendingMessages(WindowHandle window) const;

  // Main thread: delivers the synchronize calls and the messages that are queued now (messages
  // posted meanwhile wait for the next call, so a handler that posts again cannot loop forever).
  // Exceptions escaping a handler go to the application exception handler. Returns the number
  // of messages and calls delivered.
  std::size_t ProcessMessages();
  // Main thread: delivers messages until Quit is called.
  void Run();
  void Quit();
  // Main thread: delivers messages until `done` returns true (true) or `timeout` passes (false).
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Waits for `event` like Event::Wait; on the main thread it serves Synchronize calls meanwhile,
  // so a worker that synchronizes cannot deadlock a main thread that waits for it.
  bool WaitServingSynchronize(Event& event, std::chrono::milliseconds timeout);

  // Runs `call` on the main thread while the calling worker waits; an exception it throws is
  // rethrown in the caller. On the main thread it simply calls `call`.
  void Synchronize(const std::function<void()>& call);

  // Called from any thread whenever work is queued, so a foreign event loop (the GUI's) can
  // schedule ProcessMessages on the main thread. Pass an empty function to remove it.
  void SetWakeHook(std::function<void()> hook);

 private:
  struct SyncCall;
  // A queued message and its posting number: ProcessMessages delivers only messages numbered
  // below the count it saw on entry, also when a handler removes messages or nests a call.
  struct QueuedMessage {
    Message message;
    std::uint64_t serial;
  };

  Dispatcher();
  std::size_t RunSyncCalls();
  void Wake();

  mutable std::mutex mutex_;
  std::unordered_map<WindowHandle, std::shared_ptr<WindowProc>> windows_;
  std::deque<QueuedMessage> queue_;
  std::uint64_t nextSerial_ = 0;
  std::deque<SyncCall*> syncCalls_;  // not owned: each lives on its waiting caller's stack
  WindowHandle nextHandle_ = 1;
  bool quit_ = false;
  std::function<void()> wakeHook_;
  Event workPending_{Event::Reset::Manual};  // messages or synchronize calls are queued
  Event syncPending_{Event::Reset::Manual};  // synchronize calls are queued
};

// Shorthands for Dispatcher::Instance().
inline void ProcessMessages() {
  Dispatcher::Instance().ProcessMessages();
}
inline void Synchronize(const std::function<void()>& call) {
  Dispatcher::Instance().Synchronize(call);
}

}  // namespace platform
