// The device's notifications and where the completions go: the hidden window (cmWindow) or the
// worker (cmThread), counted in forwarded_ until a handler takes them or a stop or reset drops
// them.
#include <cstdint>

#include "platform/ExceptionHandler.h"
#include "playback/WaveOut.h"
#include "playback/WaveOutThread.h"

namespace playback {

void TMMWaveOut::DeviceCallback(platform::HWAVEOUT device, std::uint32_t message,
                                std::uintptr_t instance, std::uintptr_t, std::uintptr_t) {
  try {
    reinterpret_cast<TMMWaveOut*>(instance)->HandleDeviceNotification(device, message);
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

void TMMWaveOut::HandleDeviceNotification(platform::HWAVEOUT device, std::uint32_t message) {
  std::lock_guard lock(mutex_);
  switch (message) {
    case platform::MM_WOM_OPEN:
      ChangeStateLocked(Step::kDeviceOpened);
      break;
    case platform::MM_WOM_CLOSE:
      ChangeStateLocked(Step::kDeviceClosed);
      break;
    case platform::MM_WOM_DONE:
      if (queued_ > 0) --queued_;
      changed_.notify_all();
      // Starting, resetting, ending or stopping: a returned buffer is not handled further.
      if (runState_ != RunState::kPlaying) break;
      ++forwarded_;
      if (openMode_ == stream::cmThread) {
        if (thread_) thread_->input_.Set();
      } else {
        platform::Dispatcher::Instance().PostMessage(window_, platform::MM_WOM_DONE,
                                                     reinterpret_cast<std::uintptr_t>(device));
      }
      break;
    default:
      break;
  }
}

TMMWaveOut::Completion TMMWaveOut::TakeCompletionLocked(RingOwner& owner) {
  if (forwarded_ == 0) return Completion::kNone;  // dropped by a stop or a reset
  --forwarded_;
  if (runState_ != RunState::kPlaying || buffersInUse_ <= 0) return Completion::kDropped;
  ++handlerDepth_;
  owner = RingOwner{RunState::kPlaying, resetCount_};
  return Completion::kHandle;
}

void TMMWaveOut::DropCompletionsLocked() {
  forwarded_ = 0;
  if (openMode_ == stream::cmWindow && window_ != platform::kNoWindow) {
    platform::Dispatcher::Instance().RemoveMessages(window_, platform::MM_WOM_DONE,
                                                    platform::MM_WOM_DONE);
  }
}

bool TMMWaveOut::FlushCompletions() {
  TMMWaveOutThread* worker = nullptr;
  {
    std::lock_guard lock(mutex_);
    // cmWindow handlers run on this thread, and a worker that failed or is this thread runs
    // none: the completions can be dropped here.
    if (openMode_ != stream::cmThread || !thread_ || threadFailed_ || OnWorkerLocked()) {
      DropCompletionsLocked();
      return true;
    }
    worker = thread_.get();
    flushRequested_ = true;
    worker->flushed_.ResetEvent();
    worker->input_.Set();
  }
  // Serving synchronize calls meanwhile: the running handler may wait for the main thread.
  return platform::Dispatcher::Instance().WaitServingSynchronize(worker->flushed_, kWorkerTimeout);
}

void TMMWaveOut::PostToWindow(std::uint32_t id) {
  platform::Dispatcher::Instance().PostMessage(window_, id,
                                               reinterpret_cast<std::uintptr_t>(device_.load()));
}

void TMMWaveOut::WindowProc(const platform::Message& message) {
  // Messages of a device closed since are stale.
  if (message.wParam != reinterpret_cast<std::uintptr_t>(device_.load())) return;
  try {
    switch (message.id) {
      case platform::MM_WOM_DONE: {
        RingOwner owner;
        Completion completion = Completion::kNone;
        {
          std::lock_guard lock(mutex_);
          completion = TakeCompletionLocked(owner);
        }
        if (completion == Completion::kHandle) CompletionHandler(owner);
        break;
      }
      case kStopMessage:
        // A stop that was completed meanwhile leaves nothing to do.
        if (StopPending()) Stop();
        break;
      case kCloseMessage:
        Close();
        break;
      default:
        break;
    }
  } catch (...) {
    FireError();
    Close();
    platform::HandleException(std::current_exception());
  }
}

}  // namespace playback
