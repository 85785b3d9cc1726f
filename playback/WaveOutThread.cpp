// The cmThread worker: its life, and the loop that runs the completion handlers.
#include "playback/WaveOutThread.h"

#include <iostream>
#include <thread>

#include "platform/Dispatcher.h"
#include "platform/ExceptionHandler.h"
#include "playback/WaveOut.h"
#include "playback/WaveOutTexts.h"

namespace playback {

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* waveOut)
    : TMMDSPThread(waveOut), waveOut_(waveOut) {}

void TMMWaveOutThread::Execute() {
  struct SignalDone {
    platform::Event& done;
    ~SignalDone() { done.Set(); }
  } signalDone{done_};
  waveOut_->RunWorker(*this);
}

void TMMWaveOut::RunWorker(TMMWaveOutThread& worker) {
  worker.SetPriorityLevel(priority_);
  worker.ready_.Set();
  for (;;) {
    if (platform::WaitForAny({&worker.quit_, &worker.input_}, platform::kInfinite) == 0) break;
    try {
      HandleWorkerCompletions(worker);
    } catch (...) {
      // The lifecycle belongs to the main thread: the failed worker hands the close over to it.
      {
        std::lock_guard lock(mutex_);
        threadFailed_ = true;
        AnswerFlushLocked(worker);
      }
      platform::HandleException(std::current_exception());
      PostToWindow(kCloseMessage);
      return;
    }
  }
  std::lock_guard lock(mutex_);
  AnswerFlushLocked(worker);
}

void TMMWaveOut::HandleWorkerCompletions(TMMWaveOutThread& worker) {
  for (;;) {
    RingOwner owner;
    Completion completion = Completion::kNone;
    {
      std::lock_guard lock(mutex_);
      AnswerFlushLocked(worker);  // between two handlers only
      completion = TakeCompletionLocked(owner);
    }
    if (completion == Completion::kNone) return;
    if (completion == Completion::kHandle) CompletionHandler(owner);
  }
}

void TMMWaveOut::AnswerFlushLocked(TMMWaveOutThread& worker) {
  if (!flushRequested_) return;
  flushRequested_ = false;
  forwarded_ = 0;
  worker.flushed_.Set();
}

bool TMMWaveOut::OnWorkerLocked() const {
  return thread_ && thread_->Id() == std::this_thread::get_id();
}

void TMMWaveOut::CreateWorker() {
  EndWorker();
  TMMWaveOutThread* started = nullptr;
  {
    std::lock_guard lock(mutex_);
    threadFailed_ = false;
    forwarded_ = 0;
    flushRequested_ = false;
    try {
      auto worker = std::make_unique<TMMWaveOutThread>(this);
      worker->Resume();
      thread_ = std::move(worker);
      started = thread_.get();
    } catch (const std::exception&) {
      // No thread could be made (resources, memory): reported as the output's own failure.
    }
  }
  if (started == nullptr ||
      !platform::Dispatcher::Instance().WaitServingSynchronize(started->ready_, kWorkerTimeout)) {
    Error(waveout_text::kNoThread);
  }
}

void TMMWaveOut::EndWorker() {
  std::unique_ptr<TMMWaveOutThread> worker;
  {
    std::lock_guard lock(mutex_);
    if (!thread_) return;
    thread_->quit_.Set();
    // Asked from inside a handler: the worker ends after it and is joined by a later EndWorker.
    if (OnWorkerLocked()) return;
    worker = std::move(thread_);
  }
  if (!platform::Dispatcher::Instance().WaitServingSynchronize(worker->done_, kWorkerTimeout)) {
    // The worker is stuck in a handler that still uses this output: it must end first.
    std::cerr << "WaveOut: worker did not stop within " << kWorkerTimeout.count()
              << " ms; waiting for it\n";
  }
  worker->Join();
}

}  // namespace playback
