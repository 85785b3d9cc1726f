// The trigger pumps a chain as fast as its source delivers, without a playback device: each
// cycle of its worker hands the current block downstream and pulls the next one. When the
// source has no more data the trigger stops itself on the main thread and raises OnStop.
// Its life is a few named states (RunState, plus whether it is paused and whether a Close is
// under way); ChangeStateLocked is the one place that moves them, and the worker begins a cycle
// only in RunState::kPlaying when not paused.
// Threading: Open, Close, Start, Stop, Pause, Restart and property writes on the main thread;
// block cycles (OnBufferReady, OnBufferLoad, OnBufferFilled, OnError/OnErrorEx of a failed
// block) on the worker; OnStop of a stream that ended by itself on the main thread. A worker that
// fails unhandled closes the trigger itself, so OnStop and OnClose then come on the worker
// (ThreadFailed() tells a handler so; platform::IsMainThread() too).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Dispatcher.h"
#include "platform/Event.h"
#include "stream/Allocator.h"
#include "stream/DSPThread.h"
#include "stream/DevicelessDriver.h"
#include "stream/MMError.h"

namespace stream {

class EMMTriggerError : public EMMError {
 public:
  using EMMError::EMMError;
};

class TMMTrigger;

// The worker of one open of the trigger. It owns the events it is driven by, so a worker that
// is replaced while it still runs (started again from a handler on its own thread) never
// touches its successor's.
class TMMTriggerThread : public TMMDSPThread {
 public:
  explicit TMMTriggerThread(TMMTrigger* trigger);

 protected:
  void Execute() override;

 private:
  friend class TMMTrigger;
  TMMTrigger* trigger_;                                   // not owned
  platform::Event quit_{platform::Event::Reset::Manual};  // leave the loop (Close)
  platform::Event cycle_{platform::Event::Reset::Auto};   // run one cycle
  platform::Event wake_{platform::Event::Reset::Auto};    // end the pause between cycles now
  platform::Event idle_{platform::Event::Reset::Manual};  // waiting, no cycle or pause under way
  platform::Event done_{platform::Event::Reset::Manual};  // Execute has returned
};

class TMMTrigger : public TMMDevicelessDriver {
 public:
  static constexpr std::uint32_t kStopMessage = 0x8001;
  static constexpr std::int32_t kDefaultInterval = 0;
  static constexpr std::chrono::milliseconds kWorkerTimeout{5000};

  // The state as the published interface shows it.
  enum StateFlag : unsigned {
    tsClosed = 1u << 0,
    tsOpen = 1u << 1,
    tsPlaying = 1u << 2,
    tsPaused = 1u << 3
  };

  explicit TMMTrigger(TComponent* owner);
  // Closes the trigger. A close that waits behind a running cycle, or a worker that does not
  // leave within WorkerTimeout, is reported through the application's exception handler; the
  // destructor then waits for the worker, which runs on this object.
  ~TMMTrigger() override;

  // Properties.
  void SetBufferSize(std::int32_t value) override;
  void SetPWaveFormat(const TWaveFormatEx* format) override;
  void SetInterval(std::int32_t value);
  std::int32_t Interval() const { return interval_; }
  void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  // How long Open waits for a new worker, and Start and Close for the present one.
  void SetWorkerTimeout(std::chrono::milliseconds value) { workerTimeout_ = value; }
  std::chrono::milliseconds WorkerTimeout() const { return workerTimeout_; }

  // Raises OnError, then EMMTriggerError with `message`.
  [[noreturn]] virtual void Error(const std::string& message);
  void Open() override;
  // Stops, ends the worker, returns the block and closes the chain. While a cycle runs the close
  // waits for it and completes with the stop on the main thread. Failures reach the caller: a
  // worker that does not leave within WorkerTimeout raises "Trigger:\n\rThread did not stop"
  // and leaves the trigger open (a later Close tries again); a failed stop or chain close
  // raises once the trigger is closed.
  void Close() override;
  // Does nothing while playing. Before the first block is loaded it waits (WorkerTimeout) for
  // the worker of the previous run to finish its cycle.
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  unsigned State() const { return shown_.load(); }
  bool HasState(StateFlag flag) const { return (shown_.load() & flag) != 0; }
  bool ThreadFailed() const { return threadFailed_.load(); }
  platform::WindowHandle Window() const { return window_; }

  TNotifyEvent OnError;
  TMMErrorEvent OnErrorEx;
  TNotifyEvent OnOpen;
  TNotifyEvent OnStart;
  TNotifyEvent OnPause;
  TNotifyEvent OnRestart;
  TNotifyEvent OnStop;
  TNotifyEvent OnClose;
  TMMBufferEvent OnBufferFilled;

 private:
  friend class TMMTriggerThread;

  // Where the trigger is in its life.
  enum class RunState {
    kClosed,    // no worker, no block
    kStopped,   // open: the worker waits, the block is allocated
    kStarting,  // Start loads the first block on its own thread; no cycle may begin
    kPlaying,   // the worker runs a cycle, pauses Interval, runs the next
    kEnding     // the stream ended, or a stop came while a cycle ran: no cycle may begin, and the
                // stop completes on the main thread once the running cycle has ended
  };
  // Whether a Close is running or waits for a deferred stop.
  enum class CloseState { kNone, kUnderWay, kAfterStop };
  // The steps between states; ChangeStateLocked says which state each one may leave from.
  enum class Step {
    kOpen,          // closed → stopped
    kBeginStart,    // stopped (no Close under way) → starting
    kFinishStart,   // starting → playing
    kFailStart,     // starting → stopped, not paused: the first load delivered nothing
    kPause,         // open, not paused → paused
    kRestart,       // paused, and starting, playing or ending → not paused
    kEnd,           // playing → ending
    kStop,          // starting, playing, ending, or stopped and paused → stopped, not paused
    kBeginClose,    // open, no Close running → Close under way
    kDeferClose,    // Close under way and ending → the close follows the stop
    kAbandonClose,  // Close under way → none: the worker did not leave, the trigger stays open
    kClose          // stopped → closed
  };

  // Applies `step` when the present state allows it; false (nothing changed) otherwise. Also
  // tells the worker: a cycle when cycles may begin again, a wake-up when they may not.
  bool ChangeStateLocked(Step step);
  bool ChangeState(Step step);
  static unsigned ShownFlags(RunState state, bool paused);

  void WindowProc(const platform::Message& message);
  void CreateWorker();
  bool WaitUntilWorkerIdle();
  // Ends the present worker; false when it did not leave within WorkerTimeout (it is then kept).
  // On the worker's own thread it only lets it run out.
  bool EndWorker();
  void JoinWorker();
  void CollectFinishedWorker();
  void CollectRetiredWorkers();
  void FinishClose();
  void CloseAfterFailure() noexcept;
  void CloseForDestruction() noexcept;
  void TakeBuffer();
  void FreeBuffer();
  std::int32_t LoadBuffer(PWaveHdr hdr);
  void BufferFilled(PWaveHdr hdr);
  void DeliverBuffer(PWaveHdr hdr);
  bool StopRequested();

  // Worker thread.
  void RunWorker(TMMTriggerThread& worker);
  bool BeginCycle(TMMTriggerThread& worker);
  void BlockHandler();
  bool PauseBetweenCycles(TMMTriggerThread& worker);
  void EndCycle(TMMTriggerThread& worker);
  void FailWorker(TMMTriggerThread& worker);

  platform::WindowHandle window_ = platform::kNoWindow;
  // Guarded by cs_: the state, and whether a cycle runs; a Stop sees either the running cycle
  // or its end, never neither.
  RunState runState_ = RunState::kClosed;
  bool paused_ = false;
  CloseState closeState_ = CloseState::kNone;
  bool cycleRunning_ = false;
  // The state as State() shows it, written by ChangeStateLocked only.
  std::atomic<unsigned> shown_{tsClosed};
  PWaveHdr buffer_ = nullptr;  // a block of the pool
  std::atomic<bool> threadFailed_{false};
  std::atomic<bool> moreBuffers_{false};
  TMMAllocator allocator_;
  // The worker of the present open (guarded by cs_).
  std::unique_ptr<TMMTriggerThread> thread_;
  // Workers replaced while still running (started again from a handler on their own thread);
  // kept alive until they have finished, then joined and freed on another thread.
  std::vector<std::unique_ptr<TMMTriggerThread>> retiredWorkers_;
  platform::CriticalSection cs_;

  std::atomic<std::int32_t> interval_{kDefaultInterval};
  std::atomic<std::chrono::milliseconds> workerTimeout_{kWorkerTimeout};
  TMMTimeFormats timeFormat_ = tfByte;
};

}  // namespace stream
