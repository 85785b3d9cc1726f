// Worker threads of sound components, the process-wide list of them, and SynchronizeEvent,
// which lets a component raise an event on the main thread from such a worker.
// Threading: created, resumed and joined on the main thread; the body runs on the worker.
#pragma once

#include <functional>
#include <vector>

#include "platform/Thread.h"
#include "stream/MMTypes.h"

namespace stream {

class TMMDSPComponent;

class TMMThreadEx : public platform::Thread {
 public:
  // Maps idle ... time-critical to the platform priorities -15, -2, -1, 0, 1, 2, 15 and applies
  // that to this thread.
  void SetPriorityLevel(TThreadPriority level);
  static int PlatformPriority(TThreadPriority level);
};

class TMMDSPThread : public TMMThreadEx {
 public:
  // Created suspended and added to the thread list.
  explicit TMMDSPThread(TMMDSPComponent* component);
  ~TMMDSPThread() override;  // leaves the thread list

  TMMDSPComponent* Component() const { return component_; }

 private:
  TMMDSPComponent* component_;  // not owned
};

// The live worker threads of sound components, oldest first.
std::vector<TMMDSPThread*> DSPThreadList();

// Runs `method` on the main thread when called on a registered worker thread (the worker waits),
// and directly otherwise.
void SynchronizeEvent(const std::function<void()>& method);

}  // namespace stream
