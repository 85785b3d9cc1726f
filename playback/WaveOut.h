// The wave output device: a sink at the end of a chain that plays PCM through the platform's
// waveform output. It pulls blocks from its Input into a ring of up to 500 device buffers, and
// each time the device hands a buffer back it passes that buffer on to its Output and refills it.
// Its life is a few named states (RunState, whether it is paused, whether a Close is under way);
// ChangeStateLocked is the one place that moves them. The device reports on its own notification
// thread, which only counts the buffer off and forwards the completion: to the hidden window
// (cmWindow) or to the output's worker (cmThread). Waits for the device are plain bounded waits.
// Threading: Open, Close, Start, Pause, Restart, Stop, ResetBuffers and the property writes on the
// main thread. Buffer completions (OnBufferReady, OnBufferLoad, OnBufferFilled, OnLooping) run on
// the main thread through the hidden window in cmWindow, on the output's own worker in cmThread;
// a handler may call Stop or Close, which then complete on the main thread. The stop at the end of
// the data, and so OnStop, always comes on the main thread. GetPosition on the main thread or
// inside a completion handler.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Dispatcher.h"
#include "platform/WaveOutApi.h"
#include "stream/Allocator.h"
#include "stream/MMError.h"
#include "stream/SoundComponent.h"

namespace playback {

// A failure of the wave output, thrown on the thread of the operation that failed.
class EMMWaveOutError : public stream::EMMError {
 public:
  using EMMError::EMMError;
};

class TMMWaveOutThread;

// The ring link of a played header (the header the device plays now) is kept in the header's
// 32-bit extension field as a byte distance from the header itself; 0 means no link.
void SetRingLink(stream::PWaveHdr header, stream::PWaveHdr next);
stream::PWaveHdr RingLink(stream::PWaveHdr header);

class TMMWaveOut : public stream::TMMCustomWaveOutComponent {
 public:
  static constexpr std::int32_t kMinBufferSize = 32;
  static constexpr std::int32_t kDefaultNumBuffers = 10;
  static constexpr std::int32_t kMinNumBuffers = 2;
  static constexpr std::int32_t kMaxBuffers = 500;
  static constexpr stream::TMMDeviceId kDefaultDeviceId = 0;
  static constexpr stream::TMMCBMode kDefaultCallBackMode = stream::cmWindow;
  static constexpr stream::TMMTimeFormats kDefaultTimeFormat = stream::tfByte;
  static constexpr stream::TThreadPriority kDefaultPriority = stream::tpHigher;
  // Private message of the hidden window: run Stop on the main thread.
  static constexpr std::uint32_t kStopMessage = 0x8001;
  // Private message of the hidden window: a failed worker asks the main thread to close.
  static constexpr std::uint32_t kCloseMessage = 0x8002;
  // Rings larger than this (BufferSize x NumBuffers bytes) show the hourglass while they fill.
  static constexpr std::int64_t kHourGlassBytes = 100000;
  // How long the output waits for the device to open, to close and to give its buffers back
  // after a stop; for the buffers after a reset; for its worker.
  static constexpr std::chrono::milliseconds kDeviceWait{5000};
  static constexpr std::chrono::milliseconds kResetWait{1000};
  static constexpr std::chrono::milliseconds kWorkerTimeout{5000};

  // The state as the published interface shows it; open, started and paused combine.
  enum StateFlag : unsigned { wsClosed = 1, wsOpen = 2, wsStarted = 4, wsPaused = 8 };

  explicit TMMWaveOut(stream::TComponent* owner);
  ~TMMWaveOut() override;

  // ---- properties ----
  void SetBufferSize(std::int32_t value) override;
  void SetPWaveFormat(const stream::TWaveFormatEx* format) override;
  // Values below 2 are ignored; larger than 500 stores 500.
  void SetNumBuffers(std::int32_t value) override;
  std::int32_t GetNumBuffers() const override { return numBuffers_; }
  // MapperId or 0 .. devices - 1; anything else stores InvalidId. Sets ProductName.
  void SetDeviceID(stream::TMMDeviceId value) override;
  stream::TMMDeviceId GetDeviceID() const override { return deviceId_; }
  // The name of the selected device; the setter does nothing.
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return productName_; }
  // cmCallback is refused with a message box; the old mode stays.
  void SetCallBackMode(stream::TMMCBMode value) override;
  stream::TMMCBMode GetCallBackMode() const override { return callBackMode_; }
  void SetTimeFormat(stream::TMMTimeFormats value) { timeFormat_ = value; }
  stream::TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetLooping(bool value);
  bool Looping() const { return looping_; }
  void SetLoopCount(std::uint16_t value);
  std::uint16_t LoopCount() const { return loopCount_; }
  void SetShowHourGlass(bool value) { showHourGlass_ = value; }
  bool ShowHourGlass() const { return showHourGlass_; }
  void SetMapped(bool value) { mapped_ = value; }
  bool Mapped() const { return mapped_; }
  void SetPriority(stream::TThreadPriority value);
  stream::TThreadPriority Priority() const { return priority_; }
  // Number of devices, read once at creation.
  std::uint32_t NumDevs() const { return numDevs_; }

  // ---- device operations ----
  // Raises OnError, then EMMWaveOutError with `message`.
  [[noreturn]] virtual void Error(const std::string& message);
  void Open() override;
  // Stops first. While a completion handler runs the close follows the stop that handler
  // completes. Failures are reported through OnError only.
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  // While a completion handler runs the stop is only marked; it completes on the main thread
  // when the handler ends.
  void Stop() override;
  // Drops the queued buffers and refills them from the source. In cmThread it first waits for
  // the worker to finish the handler it may be running.
  void ResetBuffers() override;
  // Play position in TimeFormat; 0 when closed, without a format or while a close is pending.
  std::int64_t GetPosition() override;

  // An output accepts no pushed blocks.
  void BufferReady(stream::PWaveHdr) override {}
  // Prepares the header for the pull (capacity, loop fields), loads it from upstream and then
  // lets the device play exactly what was loaded.
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  unsigned State() const { return shown_.load(); }
  bool HasState(StateFlag flag) const { return (shown_.load() & flag) != 0; }
  std::int32_t BuffersInUse() const { return buffersInUse_; }
  std::int32_t BuffersQueued() const;
  // A stop is due: it completes on the main thread once the running handler has ended.
  bool StopPending() const;
  bool ThreadFailed() const { return threadFailed_.load(); }
  platform::WindowHandle Window() const { return window_; }

  stream::TNotifyEvent OnOpen;
  stream::TNotifyEvent OnStart;
  stream::TNotifyEvent OnPause;
  stream::TNotifyEvent OnRestart;
  stream::TNotifyEvent OnStop;
  stream::TNotifyEvent OnClose;
  stream::TNotifyEvent OnLooping;
  stream::TNotifyEvent OnError;
  stream::TMMBufferEvent OnBufferFilled;

 private:
  friend class TMMWaveOutThread;

  // Where the output is in its life.
  enum class RunState {
    kClosed,     // no device
    kOpening,    // the device is asked to open; its MM_WOM_OPEN has not come yet
    kOpen,       // open, nothing queued
    kStarting,   // Start fills the ring while the device is held
    kPlaying,    // buffers queued; every completion is handed on and refilled
    kResetting,  // ResetBuffers (or a pause for an upstream driver) takes the buffers back: no
                 // completion is handled, the reset alone touches the ring
    kEnding,     // the data ran out, or a stop came while a handler ran: nothing is refilled, and
                 // the stop completes on the main thread once the running handler has ended
    kStopping    // Stop takes the buffers back and frees them on the main thread
  };
  // Whether a Close is running or waits for a deferred stop.
  enum class CloseState { kNone, kUnderWay, kAfterStop };
  // The steps between states; ChangeStateLocked says which state each one may leave from.
  enum class Step {
    kBeginOpen,     // closed, no Close under way → opening
    kDeviceOpened,  // opening → open (MM_WOM_OPEN)
    kBeginStart,    // open, no Close under way → starting
    kFinishStart,   // starting → playing
    kPause,         // open to stopping, not paused → paused
    kRestart,       // paused, and playing, resetting or ending → not paused
    kBeginReset,    // playing, or open and paused → resetting
    kFinishReset,   // resetting → playing
    kEnd,           // playing, or stopping while a handler runs → ending
    kBeginStop,     // starting, playing, resetting, ending, or open and paused → stopping
    kFinishStop,    // stopping → open, not paused
    kBeginClose,    // not closed, no Close running → Close under way
    kDeferClose,    // Close under way, and ending or stopping → the close follows the stop
    kDeviceClosed,  // not closed → closed (MM_WOM_CLOSE)
    kClose,         // Close under way → closed, with or without the device's word
    kEndClose       // Close under way → none (closed, or the device refused to close)
  };
  // Who may write the ring: Start while starting, ResetBuffers while resetting, a completion
  // handler while playing - each only as long as no reset has come since it began.
  struct RingOwner {
    RunState state = RunState::kClosed;
    std::uint32_t resetCount = 0;
  };
  enum class Completion { kNone, kDropped, kHandle };

  // ---- states (WaveOutState.cpp) ----
  // Applies `step` when the present state allows it; false (nothing changed) otherwise.
  bool ChangeStateLocked(Step step);
  bool ChangeState(Step step);
  static unsigned ShownFlags(RunState state, bool paused);
  bool StartedLocked() const;
  bool OwnsRingLocked(const RingOwner& owner) const;
  bool OwnsRing(const RingOwner& owner);
  // Waits up to `timeout` until `done` holds (checked under the lock); never runs handlers.
  bool WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done);

  // ---- device notifications (WaveOutNotifications.cpp) ----
  // CALLBACK_FUNCTION: runs on the device's notification thread.
  static void DeviceCallback(platform::HWAVEOUT device, std::uint32_t message,
                             std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2);
  void HandleDeviceNotification(platform::HWAVEOUT device, std::uint32_t message);
  void WindowProc(const platform::Message& message);  // main thread
  void PostToWindow(std::uint32_t id);
  // Takes one forwarded completion; when the ring plays the handler is entered for it.
  Completion TakeCompletionLocked(RingOwner& owner);
  void DropCompletionsLocked();
  // Drops the forwarded completions. In cmThread the worker drops them and answers between two
  // handlers, so no handler runs once this returns; false when it does not answer in time.
  bool FlushCompletions();

  // ---- the ring (WaveOutRing.cpp) ----
  void CompletionHandler(const RingOwner& owner);  // entered by TakeCompletionLocked
  void LeaveHandler(bool failed);
  void Refill(stream::PWaveHdr hdr, const RingOwner& owner, std::uint32_t position);
  std::int32_t LoadHeader(stream::PWaveHdr hdr);
  // Counts the header as queued and writes it, unless `owner` no longer owns the ring.
  void WriteHeader(stream::PWaveHdr hdr, const RingOwner& owner);
  stream::PWaveHdr AllocateHeader();
  void ReleaseHeaders();
  bool WaitForDoneFlag(stream::PWaveHdr hdr);
  // waveOutReset: every queued buffer comes back (unhandled, as the state is not playing).
  void ResetDevice();
  // ResetBuffers once the buffers are back: reloads and rewrites the ring from its start.
  void RewriteRing(const RingOwner& owner);
  void PauseForUpstreamDriver();

  // ---- position (WaveOutPosition.cpp) ----
  std::uint32_t DevicePosition();
  void NotePosition(std::uint32_t position);  // completion handler: counts the device's wraps
  void ClearPositionLocked();

  // ---- lifecycle (WaveOut.cpp) ----
  // Completes a stop that no handler waits for; a failure of the chain's stop joins `failure`.
  void FinishStop(std::exception_ptr& failure);
  void FinishClose();
  void CloseFailed(const std::string& message);

  // ---- errors (WaveOutProperties.cpp) ----
  std::string DeviceErrorText(platform::MMRESULT code) const;
  void Check(platform::MMRESULT result, const char* prefix);
  void FireError();
  bool Destroyed() const { return InState(stream::csDestroying); }

  // ---- cmThread worker (WaveOutThread.cpp) ----
  void CreateWorker();
  void EndWorker();
  void RunWorker(TMMWaveOutThread& worker);  // worker thread
  void HandleWorkerCompletions(TMMWaveOutThread& worker);
  void AnswerFlushLocked(TMMWaveOutThread& worker);
  bool OnWorkerLocked() const;

  platform::WindowHandle window_ = platform::kNoWindow;
  stream::TMMDeviceId deviceId_ = kDefaultDeviceId;
  std::atomic<platform::HWAVEOUT> device_{nullptr};
  stream::TMMCBMode callBackMode_ = kDefaultCallBackMode;
  // The mode the device was opened with; fixed from Open to Close.
  stream::TMMCBMode openMode_ = kDefaultCallBackMode;
  std::uint32_t numDevs_ = 0;
  platform::WAVEOUTCAPS caps_{};
  std::string productName_;
  std::int32_t numBuffers_ = kDefaultNumBuffers;
  std::atomic<stream::TMMTimeFormats> timeFormat_{kDefaultTimeFormat};
  std::atomic<bool> looping_{false};
  std::atomic<std::uint16_t> loopCount_{0};
  std::atomic<std::int32_t> loopsLeft_{0};
  bool showHourGlass_ = true;
  bool mapped_ = false;
  std::atomic<stream::TThreadPriority> priority_{kDefaultPriority};

  // Guarded by mutex_, which the notification thread takes too: never held across a device call
  // that waits for notifications (waveOutReset, waveOutClose).
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // state, queued_ or the device changed
  RunState runState_ = RunState::kClosed;
  bool paused_ = false;
  CloseState closeState_ = CloseState::kNone;
  std::int32_t handlerDepth_ = 0;    // completion handlers running (nested ones counted)
  std::uint32_t resetCount_ = 0;     // resets so far; a handler older than the last one stops
  std::int32_t queued_ = 0;          // buffers written and not yet back
  std::int32_t forwarded_ = 0;       // completions forwarded and not yet taken
  bool flushRequested_ = false;      // cmThread: the worker is to drop its completions
  std::int64_t positionOffset_ = 0;  // samples
  std::int64_t loopStart_ = 0;       // samples
  std::uint32_t lastPosition_ = 0;   // samples, as the device counts them
  std::uint32_t wrapCount_ = 0;
  std::uint32_t wrapValue_ = 0;
  std::unique_ptr<TMMWaveOutThread> thread_;
  // The state as State() shows it, written by ChangeStateLocked only.
  std::atomic<unsigned> shown_{wsClosed};

  // The ring: written by whoever owns it (see RingOwner), which the states keep to one thread.
  std::array<stream::PWaveHdr, kMaxBuffers> ring_{};  // blocks of allocator_
  std::int32_t playIndex_ = 0;
  std::int32_t buffersInUse_ = 0;
  std::atomic<bool> moreData_{false};
  stream::TMMAllocator allocator_;
  std::atomic<bool> threadFailed_{false};
};

}  // namespace playback
