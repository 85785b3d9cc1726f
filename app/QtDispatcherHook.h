// Drives the platform dispatcher from Qt's event loop: whenever work is queued for the main
// thread (hidden-window messages, Synchronize calls), one ProcessMessages call is scheduled as a
// queued call on the main thread. At most one call is pending at a time.
// Threading: construct and destroy on the main thread after the QApplication exists; the wake
// hook it installs runs on any thread.
#pragma once

#include <atomic>
#include <memory>

namespace app {

class QtDispatcherHook {
 public:
  QtDispatcherHook();
  ~QtDispatcherHook();
  QtDispatcherHook(const QtDispatcherHook&) = delete;
  QtDispatcherHook& operator=(const QtDispatcherHook&) = delete;

 private:
  // Shared with the queued calls, so one that runs after the hook is gone does nothing.
  struct State {
    std::atomic<bool> scheduled{false};
    std::atomic<bool> alive{true};
  };
  static void Schedule(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace app
