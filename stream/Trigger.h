// The trigger pumps a chain as fast as its source delivers, without a playback device: each
// cycle of its worker hands the current block downstream and pulls the next one. When the
// source has no more data the trigger stops itself on the main thread and raises OnStop.
// Threading: Open, Close, Start, Stop, Pause, Restart and property writes on the main thread;
// block cycles (OnBufferReady, OnBufferLoad, OnBufferFilled, OnError/OnErrorEx of a failed
// block) on the worker; OnStop of a stream that ended by itself on the main thread. A worker that
// fails unhandled closes the trigger itself, so OnStop and OnClose then come on the worker
// (ThreadFailed() tells a handler so; platform::IsMainThread() too).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Dispatcher.h"
#include "platform/Event.h"
#include "stream/Allocator.h"
#include "stream/DSPThread.h"
#include "stream/MMError.h"
#include "stream/SoundComponent.h"

namespace stream {

class EMMTriggerError : public EMMError {
 public:
  using EMMError::EMMError;
};

class TMMTrigger;

class TMMTriggerThread : public TMMDSPThread {
 public:
  explicit TMMTriggerThread(TMMTrigger* trigger);

 protected:
  void Execute() override;

 private:
  friend class TMMTrigger;
  TMMTrigger* trigger_;  // not owned
};

class TMMTrigger : public TMMCustomSoundComponent {
 public:
  static constexpr std::uint32_t kStopMessage = 0x8001;
  static constexpr std::int32_t kMinBufferSize = 32;
  static constexpr std::int32_t kDefaultInterval = 0;
  static constexpr std::chrono::milliseconds kWorkerTimeout{5000};

  enum StateFlag : unsigned {
    tsClosed = 1u << 0,
    tsOpen = 1u << 1,
    tsPlaying = 1u << 2,
    tsPaused = 1u << 3
  };

  explicit TMMTrigger(TComponent* owner);
  ~TMMTrigger() override;

  // Properties.
  void SetBufferSize(std::int32_t value) override;
  void SetPWaveFormat(const TWaveFormatEx* format) override;
  void SetInterval(std::int32_t value);
  std::int32_t Interval() const { return interval_; }
  void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
  TMMTimeFormats TimeFormat() const { return timeFormat_; }

  // The trigger owns one block; it has no device and completes blocks on its own worker.
  void SetNumBuffers(std::int32_t) override {}
  std::int32_t GetNumBuffers() const override { return 1; }
  void SetDeviceID(TMMDeviceId) override {}
  TMMDeviceId GetDeviceID() const override { return InvalidId; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return {}; }
  void SetCallBackMode(TMMCBMode) override {}
  TMMCBMode GetCallBackMode() const override { return cmThread; }

  // Raises OnError, then EMMTriggerError with `message`.
  [[noreturn]] virtual void Error(const std::string& message);
  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  // A trigger accepts no pushed blocks.
  void BufferReady(PWaveHdr) override {}
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  unsigned State() const { return state_.load(); }
  bool HasState(StateFlag flag) const { return (state_.load() & flag) != 0; }
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

  void WindowProc(const platform::Message& message);
  void CreateWorker();
  void EndWorker();
  void CollectFinishedWorker();
  void CollectRetiredWorkers();
  void TakeBuffer();
  std::int32_t LoadBuffer(PWaveHdr hdr);
  void BufferFilled(PWaveHdr hdr);
  void DeliverBuffer(PWaveHdr hdr);
  void RunWorker(TMMTriggerThread& thread);  // worker thread
  void BlockHandler();                       // worker thread
  void SetState(unsigned state) { state_.store(state); }
  void AddState(unsigned flags) { state_.fetch_or(flags); }
  void RemoveState(unsigned flags) { state_.fetch_and(~flags); }

  platform::WindowHandle window_ = platform::kNoWindow;
  std::atomic<unsigned> state_{tsClosed};
  PWaveHdr buffer_ = nullptr;  // a block of the pool
  // Guarded by cs_: the handler count and the deferred stop are checked and changed together,
  // so a Stop can never miss a handler that is just starting or ending.
  std::int32_t inHandler_ = 0;
  bool stopPending_ = false;
  std::atomic<bool> threadFailed_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> moreBuffers_{false};
  // Start was called while paused: Restart runs the first cycle.
  std::atomic<bool> firstCyclePending_{false};
  TMMAllocator allocator_;
  std::unique_ptr<TMMTriggerThread> thread_;
  // The worker that runs for the present open; read without the lock by a failing worker, which
  // may have started the trigger again from a handler and must then leave everything alone.
  std::atomic<TMMTriggerThread*> currentWorker_{nullptr};
  // Workers replaced while still running (started again from a handler on their own thread);
  // kept alive until they have finished, then joined and freed on another thread.
  std::vector<std::unique_ptr<TMMTriggerThread>> retiredWorkers_;
  platform::CriticalSection cs_;
  std::unique_ptr<platform::Event> readyEvent_;
  std::unique_ptr<platform::Event> dataEvent_;
  std::unique_ptr<platform::Event> stopEvent_;
  std::atomic<bool> eventsExist_{false};
  bool handled_ = false;  // worker thread

  std::atomic<std::int32_t> interval_{kDefaultInterval};
  TMMTimeFormats timeFormat_ = tfByte;
};

}  // namespace stream
