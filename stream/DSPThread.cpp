#include "stream/DSPThread.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/Dispatcher.h"
#include "platform/MainThread.h"

namespace stream {
namespace {

// Threads register on the main thread and leave from whichever thread destroys them.
std::mutex& ThreadListMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<TMMDSPThread*>& ThreadList() {
  static std::vector<TMMDSPThread*> list;
  return list;
}

}  // namespace

int TMMThreadEx::PlatformPriority(TThreadPriority level) {
  static constexpr int kPriorities[] = {platform::kPriorityIdle,        platform::kPriorityLowest,
                                        platform::kPriorityBelowNormal, platform::kPriorityNormal,
                                        platform::kPriorityAboveNormal, platform::kPriorityHighest,
                                        platform::kPriorityTimeCritical};
  return kPriorities[level];
}

void TMMThreadEx::SetPriorityLevel(TThreadPriority level) {
  SetPriority(PlatformPriority(level));
}

TMMDSPThread::TMMDSPThread(TMMDSPComponent* component) : component_(component) {
  std::lock_guard lock(ThreadListMutex());
  ThreadList().push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  std::lock_guard lock(ThreadListMutex());
  auto& list = ThreadList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<TMMDSPThread*> DSPThreadList() {
  std::lock_guard lock(ThreadListMutex());
  return ThreadList();
}

void SynchronizeEvent(const std::function<void()>& method) {
  if (!platform::IsMainThread()) {
    bool registered = false;
    {
      std::lock_guard lock(ThreadListMutex());
      const auto self = std::this_thread::get_id();
      for (const TMMDSPThread* t : ThreadList()) {
        if (t->Started() && t->Id() == self) {
          registered = true;
          break;
        }
      }
    }
    if (registered) {
      platform::Synchronize(method);
      return;
    }
  }
  method();
}

}  // namespace stream
