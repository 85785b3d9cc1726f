#include "stream/Trigger.h"

#include <cstring>
#include <thread>

#include "platform/ExceptionHandler.h"
#include "platform/GlobalMemory.h"
#include "stream/TimeConversions.h"

namespace stream {
namespace {

const std::string kInvalidFormat = "TriggerOpen:\n\rInvalid wave format";
const std::string kNoThread = "Trigger:\n\rCould not create thread";
const std::string kWorkerStuck = "Trigger:\n\rThread did not stop";
const std::string kNoMemory = "Unable to allocate memory for wave header";
const std::string kUnableToStart = "TriggerStart:\n\rUnable to start device";
const std::string kFillError = "Error filling wave buffer";
const std::string kChangeWhileOpen = "Change to property while device was open";

bool OnThisThread(const platform::Thread& thread) {
  return thread.Id() == std::this_thread::get_id();
}

}  // namespace

// ---- state ----

unsigned TMMTrigger::ShownFlags(RunState state, bool paused) {
  const unsigned pausedFlag = paused ? tsPaused : 0u;
  switch (state) {
    case RunState::kClosed:
      return tsClosed;
    case RunState::kStopped:
      return tsOpen | pausedFlag;
    case RunState::kStarting:
    case RunState::kPlaying:
    case RunState::kEnding:
      return tsOpen | tsPlaying | pausedFlag;
  }
  return tsClosed;
}

bool TMMTrigger::ChangeStateLocked(Step step) {
  const bool couldCycle = runState_ == RunState::kPlaying && !paused_;
  switch (step) {
    case Step::kOpen:
      if (runState_ != RunState::kClosed) return false;
      runState_ = RunState::kStopped;
      paused_ = false;
      break;
    case Step::kBeginStart:
      if (runState_ != RunState::kStopped || closeState_ != CloseState::kNone) return false;
      runState_ = RunState::kStarting;
      break;
    case Step::kFinishStart:
      if (runState_ != RunState::kStarting) return false;
      runState_ = RunState::kPlaying;
      break;
    case Step::kFailStart:
      if (runState_ != RunState::kStarting) return false;
      runState_ = RunState::kStopped;
      paused_ = false;
      break;
    case Step::kPause:
      if (runState_ == RunState::kClosed || paused_) return false;
      paused_ = true;
      break;
    case Step::kRestart:
      if (!paused_ || runState_ == RunState::kClosed || runState_ == RunState::kStopped) {
        return false;
      }
      paused_ = false;
      break;
    case Step::kEnd:
      if (runState_ != RunState::kPlaying) return false;
      runState_ = RunState::kEnding;
      break;
    case Step::kStop:
      if (runState_ == RunState::kClosed || (runState_ == RunState::kStopped && !paused_)) {
        return false;
      }
      runState_ = RunState::kStopped;
      paused_ = false;
      break;
    case Step::kBeginClose:
      if (runState_ == RunState::kClosed || closeState_ == CloseState::kUnderWay) return false;
      closeState_ = CloseState::kUnderWay;
      break;
    case Step::kDeferClose:
      if (closeState_ != CloseState::kUnderWay || runState_ != RunState::kEnding) return false;
      closeState_ = CloseState::kAfterStop;
      break;
    case Step::kAbandonClose:
      if (closeState_ == CloseState::kNone) return false;
      closeState_ = CloseState::kNone;
      break;
    case Step::kClose:
      if (runState_ != RunState::kStopped) return false;
      runState_ = RunState::kClosed;
      paused_ = false;
      closeState_ = CloseState::kNone;
      break;
  }
  shown_ = ShownFlags(runState_, paused_);
  // Cycles may begin only while playing and not paused. Entering that state starts one (the
  // worker keeps them going); leaving it cuts the worker's pause short, so that a Start which
  // follows finds it idle at once.
  const bool canCycle = runState_ == RunState::kPlaying && !paused_;
  if (thread_ && canCycle && !couldCycle) thread_->cycle_.Set();
  if (thread_ && couldCycle && !canCycle) thread_->wake_.Set();
  return true;
}

bool TMMTrigger::ChangeState(Step step) {
  platform::CriticalSectionLock lock(cs_);
  return ChangeStateLocked(step);
}

bool TMMTrigger::StopRequested() {
  platform::CriticalSectionLock lock(cs_);
  return runState_ == RunState::kEnding;
}

// ---- worker thread ----

TMMTriggerThread::TMMTriggerThread(TMMTrigger* trigger)
    : TMMDSPThread(trigger), trigger_(trigger) {}

void TMMTriggerThread::Execute() {
  struct SignalDone {
    platform::Event& done;
    ~SignalDone() { done.Set(); }
  } signalDone{done_};
  trigger_->RunWorker(*this);
}

void TMMTrigger::RunWorker(TMMTriggerThread& worker) {
  worker.SetPriorityLevel(tpNormal);
  worker.idle_.Set();
  for (;;) {
    if (platform::WaitForAny({&worker.quit_, &worker.cycle_}, platform::kInfinite) == 0) return;
    if (!BeginCycle(worker)) continue;
    try {
      BlockHandler();
    } catch (...) {
      FailWorker(worker);
      return;
    }
    if (PauseBetweenCycles(worker)) return;
    EndCycle(worker);
  }
}

bool TMMTrigger::BeginCycle(TMMTriggerThread& worker) {
  platform::CriticalSectionLock lock(cs_);
  // A signal left from before a stop, or given to a worker that has been replaced, runs nothing.
  if (thread_.get() != &worker || runState_ != RunState::kPlaying || paused_) return false;
  cycleRunning_ = true;
  worker.idle_.ResetEvent();
  worker.wake_.ResetEvent();
  return true;
}

void TMMTrigger::BlockHandler() {
  bool postStop = false;
  auto leave = [&] {
    platform::CriticalSectionLock lock(cs_);
    cycleRunning_ = false;
    if (runState_ == RunState::kEnding || !moreBuffers_) {
      ChangeStateLocked(Step::kEnd);
      postStop = true;
    }
  };
  try {
    try {
      DeliverBuffer(buffer_);
      if (moreBuffers_ && !StopRequested()) {
        if (LoadBuffer(buffer_) <= 0) Error(kFillError);
        if (!StopRequested()) {
          BufferFilled(buffer_);
          if (!moreBuffers_) DeliverBuffer(buffer_);  // the last block goes in the same cycle
        }
      }
    } catch (...) {
      bool handled = false;
      if (OnError) OnError(this);
      if (OnErrorEx) OnErrorEx(this, handled);
      if (!handled) throw;
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

bool TMMTrigger::PauseBetweenCycles(TMMTriggerThread& worker) {
  {
    platform::CriticalSectionLock lock(cs_);
    if (runState_ != RunState::kPlaying) return false;
  }
  // The pause leaves the processor to the main thread; a Stop ends it early, a Close ends the
  // worker.
  const std::chrono::milliseconds pause(Max(interval_.load(), 1));
  return platform::WaitForAny({&worker.quit_, &worker.wake_}, pause) == 0;
}

void TMMTrigger::EndCycle(TMMTriggerThread& worker) {
  platform::CriticalSectionLock lock(cs_);
  if (thread_.get() == &worker && runState_ == RunState::kPlaying && !paused_) {
    worker.cycle_.Set();
  }
  worker.idle_.Set();
}

void TMMTrigger::FailWorker(TMMTriggerThread& worker) {
  threadFailed_ = true;
  worker.idle_.Set();
  platform::HandleException(std::current_exception());
  if (!HasState(tsClosed)) Close();
}

// ---- construction and properties ----

TMMTrigger::TMMTrigger(TComponent* owner) : TMMDevicelessDriver(owner, cmThread) {}

TMMTrigger::~TMMTrigger() {
  Destroying();
  CloseForDestruction();
  CollectFinishedWorker();
  CollectRetiredWorkers();
  if (window_ != platform::kNoWindow) platform::Dispatcher::Instance().DestroyWindow(window_);
  allocator_.FreeAll();
}

void TMMTrigger::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  if (HasState(tsOpen)) Error(kChangeWhileOpen);
  allocator_.FreeAll();
  TMMDevicelessDriver::SetBufferSize(Max(value, kMinBufferSize));
}

void TMMTrigger::SetPWaveFormat(const TWaveFormatEx* format) {
  Close();
  TMMDevicelessDriver::SetPWaveFormat(format);
}

void TMMTrigger::SetInterval(std::int32_t value) {
  interval_ = Max(value, 0);
}

void TMMTrigger::Error(const std::string& message) {
  if (OnError) OnError(this);
  throw EMMTriggerError(message);
}

// ---- blocks ----

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
  TMMDSPComponent::BufferReady(hdr);  // the inherited push, which a driver refuses from upstream
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

void TMMTrigger::FreeBuffer() {
  void* block = buffer_;
  allocator_.FreeBuffer(block);
  buffer_ = static_cast<PWaveHdr>(block);
}

// ---- worker lifetime ----

void TMMTrigger::CreateWorker() {
  CollectRetiredWorkers();
  CollectFinishedWorker();
  TMMTriggerThread* worker = nullptr;
  {
    platform::CriticalSectionLock lock(cs_);
    if (thread_) {
      // Started again from a handler on the running worker (OnClose after a failed block): that
      // worker still runs on its object, so it is kept aside until it has finished.
      retiredWorkers_.push_back(std::move(thread_));
    }
    threadFailed_ = false;
    try {
      thread_ = std::make_unique<TMMTriggerThread>(this);
      thread_->Resume();
      worker = thread_.get();
    } catch (const std::exception&) {
      // No thread could be made (resources, memory): reported as the trigger's own failure.
      thread_.reset();
    }
  }
  if (worker == nullptr || !worker->idle_.Wait(workerTimeout_.load())) Error(kNoThread);
}

bool TMMTrigger::WaitUntilWorkerIdle() {
  TMMTriggerThread* worker = nullptr;
  {
    platform::CriticalSectionLock lock(cs_);
    worker = thread_.get();
  }
  if (worker == nullptr || OnThisThread(*worker)) return true;
  return platform::Dispatcher::Instance().WaitServingSynchronize(worker->idle_,
                                                                 workerTimeout_.load());
}

bool TMMTrigger::EndWorker() {
  TMMTriggerThread* worker = nullptr;
  {
    platform::CriticalSectionLock lock(cs_);
    worker = thread_.get();
  }
  if (worker == nullptr) return true;
  worker->quit_.Set();
  // A failed worker closing the trigger itself runs out on its own and is joined later.
  if (OnThisThread(*worker)) return true;
  // Serving synchronize calls meanwhile: a cycle may still wait for the main thread.
  if (!platform::Dispatcher::Instance().WaitServingSynchronize(worker->done_,
                                                               workerTimeout_.load())) {
    return false;
  }
  JoinWorker();
  CollectRetiredWorkers();
  return true;
}

void TMMTrigger::JoinWorker() {
  std::unique_ptr<TMMTriggerThread> worker;
  {
    platform::CriticalSectionLock lock(cs_);
    worker = std::move(thread_);
  }
  if (worker) worker->Join();
}

void TMMTrigger::CollectFinishedWorker() {
  // A worker that failed closed the trigger itself and left; its object is joined here.
  std::unique_ptr<TMMTriggerThread> finished;
  {
    platform::CriticalSectionLock lock(cs_);
    if (thread_ && !OnThisThread(*thread_)) finished = std::move(thread_);
  }
  if (finished) finished->Join();
}

void TMMTrigger::CollectRetiredWorkers() {
  // Joined outside cs_: a retired worker may still be finishing the handler that replaced it.
  std::vector<std::unique_ptr<TMMTriggerThread>> done;
  {
    platform::CriticalSectionLock lock(cs_);
    for (auto it = retiredWorkers_.begin(); it != retiredWorkers_.end();) {
      if (!OnThisThread(**it)) {
        done.push_back(std::move(*it));
        it = retiredWorkers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& worker : done) worker->Join();
}

// ---- lifecycle ----

void TMMTrigger::Open() {
  try {
    if (GetPWaveFormat() == nullptr) Error(kInvalidFormat);
    if (!HasState(tsClosed)) Close();
    if (!HasState(tsClosed)) return;  // the close follows a stop that waits for a running cycle
    if (window_ == platform::kNoWindow) {
      window_ = platform::Dispatcher::Instance().CreateWindow(
          [this](const platform::Message& m) { WindowProc(m); });
    }
    TMMDevicelessDriver::Open();
    CreateWorker();
    TakeBuffer();
    ChangeState(Step::kOpen);
    if (OnOpen) OnOpen(this);
  } catch (...) {
    if (OnError) OnError(this);
    // Whatever did open (the chain, the worker, the block) is closed again.
    ChangeState(Step::kOpen);
    CloseAfterFailure();
    throw;
  }
}

void TMMTrigger::Start() {
  if (HasState(tsClosed)) Open();
  if (!ChangeState(Step::kBeginStart)) return;
  try {
    // A stop that came while the worker paused between cycles completed at once; the worker
    // must be done with that cycle before the first block of this run is loaded.
    if (!WaitUntilWorkerIdle()) Error(kWorkerStuck);
    TMMDevicelessDriver::Start();
    moreBuffers_ = true;
    if (LoadBuffer(buffer_) > 0) {
      BufferFilled(buffer_);
      // Unless paused, the worker runs the first cycle now; else Restart lets it.
      ChangeState(Step::kFinishStart);
      if (OnStart) OnStart(this);
    } else {
      // Nothing was ever played, so the close that follows must not report a stop.
      ChangeState(Step::kFailStart);
      TMMDevicelessDriver::Stop();
      Error(kUnableToStart);
    }
  } catch (...) {
    if (OnError) OnError(this);
    CloseAfterFailure();
    throw;
  }
}

void TMMTrigger::Stop() {
  try {
    {
      // Exactly one caller completes a stop, and a cycle that is beginning or ending sees either
      // the stop or the deferral, never neither.
      platform::CriticalSectionLock lock(cs_);
      if (cycleRunning_) {
        ChangeStateLocked(Step::kEnd);
        return;  // the running cycle posts the stop message when it ends
      }
      if (!ChangeStateLocked(Step::kStop)) return;
    }
    TMMDevicelessDriver::Stop();
    if (OnStop) OnStop(this);
    bool closeDue = false;
    {
      platform::CriticalSectionLock lock(cs_);
      closeDue = closeState_ == CloseState::kAfterStop;
    }
    if (closeDue) Close();
  } catch (...) {
    if (OnError) OnError(this);
    CloseAfterFailure();
    throw;
  }
}

void TMMTrigger::Close() {
  if (!ChangeState(Step::kBeginClose)) return;
  std::exception_ptr stopFailure;
  if (HasState(tsPlaying) || HasState(tsPaused)) {
    // A failed stop has left the trigger stopped all the same: the close goes on, and the stop's
    // failure is raised once the trigger is closed.
    try {
      Stop();
    } catch (...) {
      stopFailure = std::current_exception();
    }
  }
  if (ChangeState(Step::kDeferClose)) return;  // the deferred stop closes the trigger
  try {
    FinishClose();
  } catch (...) {
    if (!stopFailure) throw;
    // The stop failed first; that is the failure the caller gets.
  }
  if (stopFailure) std::rethrow_exception(stopFailure);
}

void TMMTrigger::FinishClose() {
  if (!EndWorker()) {
    // The worker still uses the block and the chain: the trigger stays open.
    ChangeState(Step::kAbandonClose);
    Error(kWorkerStuck);
  }
  FreeBuffer();
  ChangeState(Step::kClose);
  TMMDevicelessDriver::Close();
  if (OnClose) OnClose(this);
}

void TMMTrigger::CloseAfterFailure() noexcept {
  try {
    Close();
  } catch (...) {
    // The failure that led here is the one the caller raises; a close that fails after it
    // adds nothing the caller could act on.
  }
}

void TMMTrigger::CloseForDestruction() noexcept {
  // A destructor cannot pass a failure on: it goes to the application's exception handler.
  const auto close = [this] {
    try {
      Close();
    } catch (...) {
      platform::HandleException(std::current_exception());
    }
  };
  close();
  if (HasState(tsClosed)) return;
  // The close waits behind a running cycle, or the worker did not leave in time. The worker
  // runs on this object, so it has to be gone before the object is: a worker that does not
  // leave in time is reported, then waited for.
  if (!EndWorker()) {
    platform::HandleException(std::make_exception_ptr(EMMTriggerError(kWorkerStuck)));
    JoinWorker();
  }
  close();
}

void TMMTrigger::Pause() {
  if (HasState(tsClosed)) Open();
  if (!ChangeState(Step::kPause)) return;
  try {
    TMMDevicelessDriver::Pause();
    if (OnPause) OnPause(this);
  } catch (...) {
    if (OnError) OnError(this);
    CloseAfterFailure();
    throw;
  }
}

void TMMTrigger::Restart() {
  if (!ChangeState(Step::kRestart)) return;
  try {
    TMMDevicelessDriver::Restart();
    if (OnRestart) OnRestart(this);
  } catch (...) {
    if (OnError) OnError(this);
    CloseAfterFailure();
    throw;
  }
}

void TMMTrigger::WindowProc(const platform::Message& message) {
  if (message.id != kStopMessage) return;
  try {
    Stop();
  } catch (...) {
    CloseAfterFailure();
    platform::HandleException(std::current_exception());
  }
}

}  // namespace stream
