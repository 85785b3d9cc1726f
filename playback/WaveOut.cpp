// The output's lifecycle: open, start, pause, restart, stop and close, and the destructor.
#include "playback/WaveOut.h"

#include <cstdint>
#include <exception>
#include <string>

#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"
#include "platform/WaveHeaderFlags.h"
#include "playback/WaveOutTexts.h"
#include "playback/WaveOutThread.h"

namespace playback {
namespace {

namespace text = waveout_text;

// Shows the hourglass for its lifetime (or until Restore) when asked to. Main thread (Start).
class BusyCursor {
 public:
  explicit BusyCursor(bool busy) : busy_(busy) {
    if (busy_) platform::SetBusyCursor(true);
  }
  ~BusyCursor() { Restore(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
  void Restore() {
    if (busy_) platform::SetBusyCursor(false);
    busy_ = false;
  }

 private:
  bool busy_;
};

}  // namespace

TMMWaveOut::~TMMWaveOut() {
  Destroying();
  Close();
  if (!HasState(wsClosed)) {
    // The close waits behind a handler on the worker, and nothing can complete it later: let the
    // worker end, then complete the stop, which closes the device.
    EndWorker();
    try {
      Stop();
    } catch (...) {
      platform::HandleException(std::current_exception());
    }
    Close();
  }
  EndWorker();
  if (window_ != platform::kNoWindow) platform::Dispatcher::Instance().DestroyWindow(window_);
  for (stream::PWaveHdr& slot : ring_) {
    void* block = slot;
    allocator_.FreeBuffer(block);
    slot = nullptr;
  }
  allocator_.FreeAll();
}

void TMMWaveOut::Open() {
  if (numDevs_ == 0) Error(text::kNoDevice);
  if (deviceId_ == stream::InvalidId) Error(text::kInvalidDeviceId);
  const stream::TWaveFormatEx* format = GetPWaveFormat();
  if (format == nullptr) Error(std::string(text::kPrefixOpen) + text::kInvalidFormat);
  if (!HasState(wsClosed)) Close();
  // Still open: the close follows a stop that waits for a running handler.
  if (!ChangeState(Step::kBeginOpen)) return;
  try {
    const auto deviceNumber = static_cast<std::uint32_t>(deviceId_);
    const auto* waveFormat = reinterpret_cast<const platform::WAVEFORMATEX*>(format);
    const platform::MMRESULT query =
        platform::waveOutOpen(nullptr, deviceNumber, waveFormat, 0, 0, platform::WAVE_FORMAT_QUERY);
    // A number that names no device (QD_WAVE_DEVICE for the mapper) is not a format problem:
    // the message says which number and which numbers exist.
    if (query == platform::MMSYSERR_BADDEVICEID) {
      Error(std::string(text::kPrefixOpen) + platform::waveOutMissingDeviceText(deviceNumber));
    }
    if (query != platform::MMSYSERR_NOERROR)
      Error(std::string(text::kPrefixOpen) + text::kCantPlay);
    if (window_ == platform::kNoWindow) {
      window_ = platform::Dispatcher::Instance().CreateWindow(
          [this](const platform::Message& m) { WindowProc(m); });
    }
    device_ = nullptr;
    openMode_ = callBackMode_;
    TMMCustomWaveOutComponent::Open();
    if (openMode_ == stream::cmThread) CreateWorker();

    // In every mode the device calls back on its notification thread, which forwards the
    // completions to the hidden window (cmWindow) or to the worker (cmThread).
    std::uint32_t flags = platform::CALLBACK_FUNCTION;
    if (mapped_ && deviceId_ >= 0) flags |= platform::WAVE_MAPPED;
    platform::HWAVEOUT device = nullptr;
    const platform::MMRESULT result = platform::waveOutOpen(
        &device, deviceNumber, waveFormat, reinterpret_cast<std::uintptr_t>(&DeviceCallback),
        reinterpret_cast<std::uintptr_t>(this), flags);
    device_ = device;
    if (result != platform::MMSYSERR_NOERROR) {
      Error(text::kPrefixOpen + DeviceErrorText(result));
    }
    if (!WaitUntil(kDeviceWait, [this] { return runState_ != RunState::kOpening; })) {
      Error(std::string(text::kPrefixOpen) + text::kUnableToOpen);
    }
    if (OnOpen) OnOpen(this);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::Start() {
  try {
    if (HasState(wsClosed)) Open();
    RingOwner owner;
    {
      std::lock_guard lock(mutex_);
      if (!ChangeStateLocked(Step::kBeginStart)) return;
      owner = RingOwner{RunState::kStarting, resetCount_};
      queued_ = 0;
      forwarded_ = 0;
      ClearPositionLocked();
    }
    playIndex_ = 0;
    loopsLeft_ = loopCount_.load();

    BusyCursor cursor(showHourGlass_ &&
                      static_cast<std::int64_t>(GetBufferSize()) * numBuffers_ > kHourGlassBytes);
    // The device stays paused while the ring fills, so playback starts with all of it queued.
    Check(platform::waveOutPause(device_), text::kPrefixPause);
    TMMCustomWaveOutComponent::Start();
    moreData_ = true;
    std::int32_t written = 0;
    for (std::int32_t i = 0; i < numBuffers_ && moreData_; ++i) {
      if (ring_[i] == nullptr) ring_[i] = AllocateHeader();
      stream::PWaveHdr hdr = ring_[i];
      auto* header = reinterpret_cast<platform::WAVEHDR*>(hdr);
      Check(platform::waveOutPrepareHeader(device_, header, sizeof(*header)), text::kPrefixPrepare);
      if (LoadHeader(hdr) < 1) {
        platform::ChangeWaveHeaderFlags(header, platform::WHDR_DONE, 0);  // never written
        break;
      }
      WriteHeader(hdr, owner);
      ++written;
    }
    cursor.Restore();
    if (written == 0) {
      TMMCustomWaveOutComponent::Stop();
      Error(std::string(text::kPrefixStart) + text::kUnableToStart);
    }
    {
      std::lock_guard lock(mutex_);
      // A Stop or Close from a handler of the fill has taken over.
      if (!OwnsRingLocked(owner)) return;
      buffersInUse_ = written;
      ChangeStateLocked(Step::kFinishStart);
    }
    if (!HasState(wsPaused)) Check(platform::waveOutRestart(device_), text::kPrefixRestart);
    if (OnStart) OnStart(this);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::Pause() {
  try {
    if (HasState(wsClosed)) Open();
    bool started = false;
    {
      std::lock_guard lock(mutex_);
      if (!ChangeStateLocked(Step::kPause)) return;
      started = StartedLocked();
    }
    if (started) {
      Check(platform::waveOutPause(device_), text::kPrefixPause);
      if (HasUpstreamDriver()) PauseForUpstreamDriver();
    }
    TMMCustomWaveOutComponent::Pause();
    if (OnPause) OnPause(this);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::Restart() {
  if (!ChangeState(Step::kRestart)) return;
  try {
    TMMCustomWaveOutComponent::Restart();
    Check(platform::waveOutRestart(device_), text::kPrefixRestart);
    if (OnRestart) OnRestart(this);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::Stop() {
  try {
    {
      std::lock_guard lock(mutex_);
      if (!ChangeStateLocked(Step::kBeginStop)) return;
      DropCompletionsLocked();
      wrapCount_ = 0;
      wrapValue_ = 0;
    }
    // A failure on the way leaves the output stopped all the same; it is raised at the end.
    std::exception_ptr failure;
    try {
      ResetDevice();
    } catch (...) {
      failure = std::current_exception();
    }
    bool deferred = false;
    {
      std::lock_guard lock(mutex_);
      // The running handler posts the stop when it ends.
      deferred = handlerDepth_ > 0 && ChangeStateLocked(Step::kEnd);
    }
    if (!deferred) FinishStop(failure);
    if (failure) std::rethrow_exception(failure);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::FinishStop(std::exception_ptr& failure) {
  // No handler runs, and none begins while stopping.
  WaitUntil(kDeviceWait, [this] { return queued_ <= 0; });
  try {
    TMMCustomWaveOutComponent::Stop();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  ReleaseHeaders();
  buffersInUse_ = 0;
  playIndex_ = 0;
  {
    std::lock_guard lock(mutex_);
    queued_ = 0;
    forwarded_ = 0;
    ChangeStateLocked(Step::kFinishStop);
  }
  if (failure) return;  // Stop raises it and closes
  if (!Destroyed() && OnStop) OnStop(this);
  bool closeDue = false;
  {
    std::lock_guard lock(mutex_);
    closeDue = closeState_ == CloseState::kAfterStop;
  }
  if (closeDue) Close();
}

void TMMWaveOut::Close() {
  if (!ChangeState(Step::kBeginClose)) return;
  bool stopFirst = false;
  {
    std::lock_guard lock(mutex_);
    stopFirst = StartedLocked() || runState_ == RunState::kStarting || paused_;
  }
  if (stopFirst) {
    try {
      Stop();
    } catch (...) {
      // Stop has told OnError; the device is closed all the same.
    }
  }
  if (ChangeState(Step::kDeferClose)) return;  // the deferred stop closes the device
  FinishClose();
}

void TMMWaveOut::FinishClose() {
  bool closed = true;
  if (device_ != nullptr) {
    const platform::MMRESULT result = platform::waveOutClose(device_);
    if (result != platform::MMSYSERR_NOERROR) {
      ChangeState(Step::kEndClose);  // the device stays open; a later Close tries again
      CloseFailed(text::kPrefixClose + DeviceErrorText(result));
      return;
    }
    closed = WaitUntil(kDeviceWait, [this] { return runState_ == RunState::kClosed; });
  }
  {
    std::lock_guard lock(mutex_);
    wrapCount_ = 0;
    wrapValue_ = 0;
    // Without the device's word the handle is gone all the same.
    ChangeStateLocked(Step::kClose);
  }
  try {
    TMMCustomWaveOutComponent::Close();
  } catch (...) {
    FireError();
  }
  if (openMode_ == stream::cmThread) EndWorker();
  device_ = nullptr;
  // Messages of the closed device that are still queued must not reach a later one.
  platform::Dispatcher& dispatcher = platform::Dispatcher::Instance();
  dispatcher.RemoveMessages(window_, platform::MM_WOM_OPEN, platform::MM_WOM_DONE);
  dispatcher.RemoveMessages(window_, kStopMessage, kCloseMessage);
  ChangeState(Step::kEndClose);
  if (!Destroyed() && OnClose) OnClose(this);
  if (!closed) CloseFailed(std::string(text::kPrefixClose) + text::kUnableToClose);
}

void TMMWaveOut::CloseFailed(const std::string& message) {
  // Close passes no failure on: Error tells OnError (and an Error of a descendant) of it.
  try {
    Error(message);
  } catch (...) {
  }
}

}  // namespace playback
