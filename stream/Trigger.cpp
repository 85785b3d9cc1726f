#include "stream/Trigger.h"

#include <cstring>
#include <iostream>

#include "platform/ExceptionHandler.h"
#include "platform/GlobalMemory.h"
#include "stream/TimeConversions.h"

namespace stream {
namespace {

const std::string kInvalidFormat = "TriggerOpen:\n\rInvalid wave format";
const std::string kNoThread = "Trigger:\n\rCould not create thread";
const std::string kNoMemory = "Unable to allocate memory for wave header";
const std::string kUnableToStart = "TriggerStart:\n\rUnable to start device";
const std::string kFillError = "Error filling wave buffer";
const std::string kChangeWhileOpen = "Change to property while device was open";

}  // namespace

// ---- worker thread ----

TMMTriggerThread::TMMTriggerThread(TMMTrigger* trigger)
    : TMMDSPThread(trigger), trigger_(trigger) {}

void TMMTriggerThread::Execute() {
  trigger_->RunWorker(*this);
}

void TMMTrigger::RunWorker(TMMTriggerThread& thread) {
  thread.SetPriorityLevel(tpNormal);
  readyEvent_->Set();
  for (;;) {
    if (platform::WaitForAny({stopEvent_.get(), dataEvent_.get()}, platform::kInfinite) == 0) {
      break;
    }
    thread.HoldWhileSuspended();  // Pause holds the worker between cycles
    try {
      if (!stopping_) BlockHandler();
    } catch (...) {
      threadFailed_ = true;
      platform::HandleException(std::current_exception());
      if (HasState(tsOpen)) Close();
      // A handler of the close may have started the trigger again with a new worker; the
      // events and flags are then that worker's, and this one only leaves.
      if (currentWorker_.load() != &thread) return;
      eventsExist_ = false;
      break;
    }
    // The pause between cycles leaves the processor to the main thread; a Close ends it early.
    if (!stopping_ && stopEvent_->Wait(std::chrono::milliseconds(Max(interval_, 1)))) break;
    if (!stopping_) dataEvent_->Set();
  }
  if (!threadFailed_) readyEvent_->Set();
}

void TMMTrigger::BlockHandler() {
  {
    platform::CriticalSectionLock lock(cs_);
    if (!HasState(tsPlaying) || stopping_) return;
    ++inHandler_;
  }
  bool postStop = false;
  auto leave = [&] {
    platform::CriticalSectionLock lock(cs_);
    if (--inHandler_ == 0 && (stopPending_ || !moreBuffers_)) {
      stopping_ = true;
      postStop = true;
    }
  };
  try {
    try {
      DeliverBuffer(buffer_);
      bool pending = false;
      {
        platform::CriticalSectionLock lock(cs_);
        pending = stopPending_;
      }
      if (moreBuffers_ && !pending) {
        if (LoadBuffer(buffer_) <= 0) Error(kFillError);
        {
          platform::CriticalSectionLock lock(cs_);
          pending = stopPending_;
        }
        if (!pending) {
          BufferFilled(buffer_);
          if (!moreBuffers_) DeliverBuffer(buffer_);  // the last block goes in the same cycle
        }
      }
    } catch (...) {
      handled_ = false;
      if (OnError) OnError(this);
      if (OnErrorEx) OnErrorEx(this, handled_);
      if (!handled_) throw;
    }
  } catch (...) {
    // The worker closes the trigger itself after an unhandled failure; a posted stop would race
    // that close on the main thread.
    leave();
    throw;
  }
  leave();
  if (postStop) platform::Dispatcher::Instance().PostMessage(window_, kStopMessage);
}

// ---- construction and properties ----

TMMTrigger::TMMTrigger(TComponent* owner) : TMMCustomSoundComponent(owner) {
  PublishLinks(true, true);
}

TMMTrigger::~TMMTrigger() {
  Destroying();
  Close();
  if (HasState(tsOpen)) {
    // A block handler was running, so the close was deferred behind it. The stop message can no
    // longer be delivered to a trigger that is going away: let the worker finish that block and
    // leave, then complete the stop and the close here.
    EndWorker();
    {
      platform::CriticalSectionLock lock(cs_);
      inHandler_ = 0;
      stopPending_ = false;
    }
    closing_ = false;
    closePending_ = false;
    Close();
  }
  CollectFinishedWorker();
  CollectRetiredWorkers();
  if (window_ != platform::kNoWindow) platform::Dispatcher::Instance().DestroyWindow(window_);
  allocator_.FreeAll();
}

void TMMTrigger::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  if (HasState(tsOpen)) Error(kChangeWhileOpen);
  allocator_.FreeAll();
  TMMCustomSoundComponent::SetBufferSize(Max(value, kMinBufferSize));
}

void TMMTrigger::SetPWaveFormat(const TWaveFormatEx* format) {
  Close();
  TMMCustomSoundComponent::SetPWaveFormat(format);
}

void TMMTrigger::SetInterval(std::int32_t value) {
  value = Max(value, 0);
  if (value != interval_) interval_ = value;
}

void TMMTrigger::Error(const std::string& message) {
  if (OnError) OnError(this);
  throw EMMTriggerError(message);
}

// ---- blocks ----

void TMMTrigger::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  lpWaveHdr->dwBufferLength = static_cast<std::uint32_t>(GetBufferSize());
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->Looping = 0;
  TMMCustomSoundComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
}

std::int32_t TMMTrigger::LoadBuffer(PWaveHdr hdr) {
  moreBuffers_ = false;
  bool more = false;
  BufferLoad(hdr, more);
  const auto bytes = static_cast<std::int32_t>(hdr->dwBytesRecorded);
  moreBuffers_ = bytes > 0 && more;
  return bytes;
}

void TMMTrigger::BufferFilled(PWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
}

void TMMTrigger::DeliverBuffer(PWaveHdr hdr) {
  TMMCustomSoundComponent::BufferReady(hdr);
}

void TMMTrigger::TakeBuffer() {
  if (buffer_ != nullptr) return;
  const auto size = static_cast<std::size_t>(GetBufferSize());
  void* block = allocator_.AllocBuffer(platform::kGHnd, size + kWaveHdrSize);
  if (block == nullptr) Error(kNoMemory);
  buffer_ = static_cast<PWaveHdr>(block);
  std::memset(buffer_, 0, kWaveHdrSize);
  buffer_->SetData(static_cast<char*>(block) + kWaveHdrSize);
  buffer_->dwBufferLength = static_cast<std::uint32_t>(size);
}

// ---- worker lifetime ----

void TMMTrigger::CollectFinishedWorker() {
  // A worker that failed closed the trigger itself and left; its object is joined here.
  if (thread_ && thread_->Id() != std::this_thread::get_id()) {
    thread_->Join();
    thread_.reset();
  }
}

void TMMTrigger::CollectRetiredWorkers() {
  // Not under cs_: a retired worker may still be finishing the handler that replaced it.
  std::vector<std::unique_ptr<TMMTriggerThread>> done;
  {
    platform::CriticalSectionLock lock(cs_);
    for (auto it = retiredWorkers_.begin(); it != retiredWorkers_.end();) {
      if ((*it)->Id() != std::this_thread::get_id()) {
        done.push_back(std::move(*it));
        it = retiredWorkers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& worker : done) worker->Join();
}

void TMMTrigger::CreateWorker() {
  CollectRetiredWorkers();
  platform::CriticalSectionLock lock(cs_);
  CollectFinishedWorker();
  if (thread_) {
    // Started again from a handler on the running worker (OnClose after a failed block): that
    // worker still runs on its object, so it is kept aside until it has finished.
    retiredWorkers_.push_back(std::move(thread_));
  }
  threadFailed_ = false;
  readyEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
  dataEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
  stopEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
  eventsExist_ = true;
  try {
    thread_ = std::make_unique<TMMTriggerThread>(this);
    currentWorker_ = thread_.get();
    thread_->Resume();
  } catch (const std::exception&) {
    currentWorker_ = nullptr;
    thread_.reset();
    Error(kNoThread);
  }
  if (!readyEvent_->Wait(kWorkerTimeout)) Error(kNoThread);
}

void TMMTrigger::EndWorker() {
  if (!eventsExist_ || threadFailed_ || !thread_) return;
  if (thread_->Suspended()) thread_->Resume();
  stopEvent_->Set();
  if (!platform::Dispatcher::Instance().WaitServingSynchronize(*readyEvent_, kWorkerTimeout)) {
    // The worker is stuck in a block handler; it still uses this trigger, so it must be waited
    // for before anything it touches goes away.
    std::cerr << "Trigger: worker did not stop within " << kWorkerTimeout.count()
              << " ms; waiting for it\n";
  }
  thread_->Join();
  currentWorker_ = nullptr;
  thread_.reset();
  eventsExist_ = false;
  CollectRetiredWorkers();
}

// ---- lifecycle ----

void TMMTrigger::Open() {
  try {
    if (GetPWaveFormat() == nullptr) Error(kInvalidFormat);
    if (HasState(tsOpen)) Close();
    if (!HasState(tsOpen) && !closing_) {
      closing_ = false;
      stopping_ = false;
      closePending_ = false;
      if (window_ == platform::kNoWindow) {
        window_ = platform::Dispatcher::Instance().CreateWindow(
            [this](const platform::Message& m) { WindowProc(m); });
      }
      TMMCustomSoundComponent::Open();
      CreateWorker();
      TakeBuffer();
      SetState(tsOpen);
      if (OnOpen) OnOpen(this);
    }
  } catch (...) {
    if (OnError) OnError(this);
    SetState(tsOpen);
    Close();
    SetState(tsClosed);
    throw;
  }
}

void TMMTrigger::Start() {
  if (!HasState(tsOpen)) Open();
  if (!HasState(tsOpen) || HasState(tsPlaying)) return;
  try {
    {
      platform::CriticalSectionLock lock(cs_);
      inHandler_ = 0;
      stopPending_ = false;
    }
    stopping_ = false;
    firstCyclePending_ = false;
    TMMCustomSoundComponent::Start();
    moreBuffers_ = true;
    AddState(tsPlaying);
    if (LoadBuffer(buffer_) > 0) BufferFilled(buffer_);
    if (buffer_->dwBytesRecorded != 0) {
      if (HasState(tsPaused)) {
        firstCyclePending_ = true;  // Restart runs the first cycle
      } else {
        dataEvent_->Set();
      }
      if (OnStart) OnStart(this);
    } else {
      // Nothing was ever played, so the close that follows must not report a stop.
      RemoveState(tsPlaying | tsPaused);
      TMMCustomSoundComponent::Stop();
      Error(kUnableToStart);
    }
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    SetState(tsClosed);
    throw;
  }
}

void TMMTrigger::Stop() {
  try {
    {
      // Exactly one caller completes a stop, and a handler that is starting or ending sees
      // either the stop or the deferral, never neither.
      platform::CriticalSectionLock lock(cs_);
      if (!HasState(tsPlaying) && !HasState(tsPaused)) return;
      stopping_ = true;
      if (inHandler_ != 0) {
        stopPending_ = true;
        return;  // the running handler posts the stop message when it ends
      }
      RemoveState(tsPlaying | tsPaused);
      stopPending_ = false;
    }
    firstCyclePending_ = false;
    // A paused worker is held between cycles; release it so a later Start can run it again.
    if (thread_ && thread_->Suspended() && thread_->Id() != std::this_thread::get_id()) {
      thread_->Resume();
    }
    TMMCustomSoundComponent::Stop();
    if (OnStop) OnStop(this);
    if (closePending_) Close();
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMTrigger::Close() {
  {
    platform::CriticalSectionLock lock(cs_);
    if (!HasState(tsOpen) || (closing_ && !closePending_)) return;
    closing_ = true;
  }
  try {
    if (HasState(tsPlaying) || HasState(tsPaused)) Stop();
    {
      platform::CriticalSectionLock lock(cs_);
      if (stopPending_) {
        closePending_ = true;
        return;  // the deferred stop closes the trigger when it completes
      }
    }
    closePending_ = false;
    SetState(tsClosed);
    TMMCustomSoundComponent::Close();
    EndWorker();
    void* block = buffer_;
    allocator_.FreeBuffer(block);
    buffer_ = static_cast<PWaveHdr>(block);
    closing_ = false;
    if (OnClose) OnClose(this);
  } catch (...) {
    closing_ = false;
  }
}

void TMMTrigger::Pause() {
  if (!HasState(tsOpen)) Open();
  if (!HasState(tsOpen) || HasState(tsPaused)) return;
  try {
    if (HasState(tsPlaying)) {
      platform::CriticalSectionLock lock(cs_);
      if (thread_) thread_->Suspend();
      AddState(tsPaused);
    }
    AddState(tsPaused);
    TMMCustomSoundComponent::Pause();
    if (OnPause) OnPause(this);
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMTrigger::Restart() {
  if (!HasState(tsPlaying) || !HasState(tsPaused)) return;
  try {
    if (thread_) thread_->Resume();
    RemoveState(tsPaused);
    TMMCustomSoundComponent::Restart();
    if (firstCyclePending_.exchange(false)) dataEvent_->Set();
    if (OnRestart) OnRestart(this);
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMTrigger::WindowProc(const platform::Message& message) {
  if (message.id != kStopMessage) return;
  try {
    Stop();
  } catch (...) {
    Close();
    platform::HandleException(std::current_exception());
  }
}

}  // namespace stream
