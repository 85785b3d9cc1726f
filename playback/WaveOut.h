// The wave output device: a sink at the end of a chain that plays PCM through the platform's
// waveform output. It pulls blocks from its Input into a ring of up to 500 device buffers, and
// each time the device hands a buffer back it passes that buffer on to its Output and refills it.
// Threading: Open, Close, Start, Pause, Restart, Stop, ResetBuffers and the property writes on the
// main thread. Buffer completions (OnBufferReady, OnBufferLoad, OnBufferFilled, OnLooping) run on
// the main thread through the hidden window in cmWindow, on the output's own worker in cmThread.
// The stop at the end of the data, and so OnStop, always comes on the main thread. GetPosition
// on the main thread or inside a completion handler.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Dispatcher.h"
#include "platform/Event.h"
#include "platform/WaveOutApi.h"
#include "stream/Allocator.h"
#include "stream/DSPThread.h"
#include "stream/MMError.h"
#include "stream/SoundComponent.h"

namespace playback {

class EMMWaveOutError : public stream::EMMError {
 public:
  using EMMError::EMMError;
};

class TMMWaveOut;

// The ring link of a played header (the header the device plays now) is kept in the header's
// 32-bit extension field as a byte distance from the header itself; 0 means no link.
void SetRingLink(stream::PWaveHdr header, stream::PWaveHdr next);
stream::PWaveHdr RingLink(stream::PWaveHdr header);

// The worker of cmThread: waits for device completions that the output forwards to its queue and
// runs the completion handler for each. Owned and joined by its output.
class TMMWaveOutThread : public stream::TMMDSPThread {
 public:
  explicit TMMWaveOutThread(TMMWaveOut* waveOut);

 protected:
  void Execute() override;

 private:
  TMMWaveOut* waveOut_;  // not owned
};

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

  // The state set; open, started and paused combine.
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
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void ResetBuffers() override;
  // Play position in TimeFormat; 0 when closed, without a format or while a close is pending.
  std::int64_t GetPosition() override;

  // An output accepts no pushed blocks.
  void BufferReady(stream::PWaveHdr) override {}
  // Prepares the header for the pull (capacity, loop fields), loads it from upstream and then
  // lets the device play exactly what was loaded.
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  unsigned State() const { return state_.load(); }
  bool HasState(StateFlag flag) const { return (state_.load() & flag) != 0; }
  std::int32_t BuffersInUse() const { return buffersInUse_; }
  std::int32_t BuffersQueued() const { return queued_.load(); }
  bool StopPending() const { return stopPending_.load(); }
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

  // Device notifications (CALLBACK_FUNCTION, used for cmThread): runs on the device's
  // notification thread.
  static void DeviceCallback(platform::HWAVEOUT device, std::uint32_t message,
                             std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2);
  void HandleDeviceNotification(std::uint32_t message);
  // The hidden window: main thread.
  void WindowProc(const platform::Message& message);
  // Drops the queued count for one returned buffer; false when the buffer came back because of a
  // reset (it is then not handled further).
  bool BufferReturned();

  // The ring.
  void CompletionHandler();  // main thread (cmWindow) or worker (cmThread)
  void LeaveHandler(bool failed);
  std::int32_t LoadHeader(stream::PWaveHdr hdr);
  void WriteHeader(stream::PWaveHdr hdr);
  stream::PWaveHdr AllocateHeader();
  void ReleaseHeaders();
  bool WaitForDoneFlag(stream::PWaveHdr hdr);

  void FinishStop();
  void CloseDevice();
  std::uint32_t DevicePosition();
  std::string DeviceErrorText(platform::MMRESULT code) const;
  void Check(platform::MMRESULT result, const char* prefix);
  void FireError();
  // Waits in slices of 10 ms, at most `slices` of them, until `done`; on the main thread in
  // cmWindow it keeps delivering the dispatcher's messages, which is where the device reports.
  bool WaitSlices(int slices, bool atLeastOnce, const std::function<bool()>& done);
  bool ServesMessagesWhileWaiting() const;
  void PostToWindow(std::uint32_t id);

  // cmThread worker.
  void CreateWorker();
  void EndWorker();
  void RunWorker(TMMWaveOutThread& thread);  // worker thread
  void FlushWorkerQueue();
  bool CompletionsOutstanding();

  void SetState(unsigned state) { state_.store(state); }
  void AddState(unsigned flags) { state_.fetch_or(flags); }
  void RemoveState(unsigned flags) { state_.fetch_and(~flags); }
  bool Destroyed() const { return InState(stream::csDestroying); }

  platform::WindowHandle window_ = platform::kNoWindow;
  stream::TMMDeviceId deviceId_ = kDefaultDeviceId;
  std::atomic<platform::HWAVEOUT> device_{nullptr};
  std::atomic<unsigned> state_{wsClosed};
  std::array<stream::PWaveHdr, kMaxBuffers> ring_{};  // blocks of allocator_
  std::int32_t playIndex_ = 0;
  stream::TMMCBMode callBackMode_ = kDefaultCallBackMode;
  // The mode the device was opened with; fixed from Open to Close.
  stream::TMMCBMode openMode_ = kDefaultCallBackMode;
  std::uint32_t numDevs_ = 0;
  platform::WAVEOUTCAPS caps_{};
  std::string productName_;
  // Guarded by cs_ where Stop and a running handler meet: the depth and the two pending flags.
  std::int32_t handlerDepth_ = 0;
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> resetting_{false};
  std::atomic<bool> finishing_{false};
  bool looping_ = false;
  std::uint16_t loopCount_ = 0;
  std::int32_t loopsLeft_ = 0;
  std::int64_t loopStart_ = 0;       // samples
  std::int64_t positionOffset_ = 0;  // samples
  std::uint32_t lastPosition_ = 0;   // samples, as the device counts them
  std::uint32_t wrapCount_ = 0;
  std::uint32_t wrapValue_ = 0;
  std::atomic<bool> moreData_{false};
  std::int32_t numBuffers_ = kDefaultNumBuffers;
  std::int32_t buffersInUse_ = 0;
  std::atomic<std::int32_t> queued_{0};
  stream::TMMTimeFormats timeFormat_ = kDefaultTimeFormat;
  bool showHourGlass_ = true;
  bool mapped_ = false;
  stream::TMMAllocator allocator_;
  stream::TThreadPriority priority_ = kDefaultPriority;
  std::atomic<bool> threadFailed_{false};
  std::unique_ptr<TMMWaveOutThread> thread_;
  platform::CriticalSection cs_;

  // cmThread: the worker's events and its message queue (the device's forwarded completions).
  std::unique_ptr<platform::Event> readyEvent_;  // auto-reset
  std::unique_ptr<platform::Event> quitEvent_;   // auto-reset
  platform::Event inputEvent_{platform::Event::Reset::Auto};
  std::mutex queueMutex_;
  std::deque<platform::Message> workerQueue_;
};

}  // namespace playback
