#include "playback/WaveOut.h"

#include <cstddef>
#include <cstring>
#include <iostream>
#include <thread>

#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"
#include "platform/GlobalMemory.h"
#include "platform/MainThread.h"
#include "platform/Thread.h"
#include "stream/TimeConversions.h"

namespace playback {
namespace {

using namespace stream;

const std::string kChangeWhileOpen = "Change to property while device was open";
const std::string kNoDevice = "No wave audio playing device found";
const std::string kInvalidDeviceId = "Invalid DeviceID";
const std::string kPrefixOpen = "WaveOutOpen:\n\r";
const std::string kInvalidFormat = "Invalid wave format";
const std::string kCantPlay = "The actual device can''t play this format";
const std::string kUnableToOpen = "Unable to open device";
const std::string kNoMemory = "Unable to allocate memory for wave header";
const std::string kPrefixStart = "WaveOutStart:\n\r";
const std::string kUnableToStart = "Unable to start device";
const std::string kFillError = "Error filling wave buffer";
const char* const kPrefixWrite = "WaveOutWrite:\n\r";
const char* const kPrefixPrepare = "WaveOutPrepareHeader:\n\r";
const char* const kPrefixPause = "WaveOutPause:\n\r";
const char* const kPrefixReset = "WaveOutReset:\n\r";
const char* const kPrefixRestart = "WaveOutRestart:\n\r";
const char* const kPrefixPosition = "WaveOutGetPosition:\n\r";
const char* const kPrefixClose = "WaveOutClose:\n\r";
const std::string kUnableToClose = "Unable to close device";
const std::string kNoThread = "WaveOut:\n\rCould not create thread";
const std::string kUnknownError = "Specified error number is out of range (unknown error)";
const std::string kCallbackRefused =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
    "Windows 95";

// Bounded waits: 10 ms slices for open, close and draining, 2 ms polls for a done flag.
constexpr int kDeviceWaitSlices = 500;
constexpr int kResetWaitSlices = 100;
constexpr int kDonePolls = 65000;
constexpr long kDonePollMs = 2;
constexpr std::chrono::milliseconds kWorkerTimeout{5000};
// The device's sample counter is taken to have wrapped when it falls back by this much.
constexpr std::uint32_t kWrapThreshold = 0xFFFF;
constexpr std::size_t kErrorTextSize = 255;

platform::WAVEHDR* AsWaveHdr(PWaveHdr header) {
  return reinterpret_cast<platform::WAVEHDR*>(header);
}

// The device thread sets the done flag; read it as it is now.
std::uint32_t LoadFlags(PWaveHdr header) {
  auto* flags = reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(header) +
                                                 offsetof(TWaveHdr, dwFlags));
  return __atomic_load_n(flags, __ATOMIC_ACQUIRE);
}

// Shows the hourglass for its lifetime (or until Restore) when asked to.
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

void SetRingLink(PWaveHdr header, PWaveHdr next) {
  const std::ptrdiff_t distance = reinterpret_cast<char*>(next) - reinterpret_cast<char*>(header);
  const bool fits = next != nullptr && distance >= INT32_MIN && distance <= INT32_MAX;
  header->extRingNext = fits ? static_cast<std::uint32_t>(static_cast<std::int32_t>(distance)) : 0;
}

PWaveHdr RingLink(PWaveHdr header) {
  const auto distance = static_cast<std::int32_t>(header->extRingNext);
  if (distance == 0) return nullptr;
  return reinterpret_cast<PWaveHdr>(reinterpret_cast<char*>(header) + distance);
}

// ---- worker thread ----

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* waveOut)
    : TMMDSPThread(waveOut), waveOut_(waveOut) {}

void TMMWaveOutThread::Execute() {
  waveOut_->RunWorker(*this);
}

void TMMWaveOut::RunWorker(TMMWaveOutThread& thread) {
  thread.SetPriorityLevel(priority_);
  readyEvent_->Set();
  for (;;) {
    if (platform::WaitForAny({quitEvent_.get(), &inputEvent_}, platform::kInfinite) == 0) break;
    try {
      for (;;) {
        platform::Message message;
        {
          std::lock_guard lock(queueMutex_);
          if (workerQueue_.empty()) break;
          message = workerQueue_.front();
          workerQueue_.pop_front();
        }
        const auto device = reinterpret_cast<std::uintptr_t>(device_.load());
        if (message.id == platform::MM_WOM_DONE && message.wParam == device && !stopping_) {
          CompletionHandler();
        }
      }
    } catch (...) {
      // The lifecycle belongs to the main thread: the failed worker hands the close over to it.
      threadFailed_ = true;
      platform::HandleException(std::current_exception());
      PostToWindow(kCloseMessage);
      return;
    }
  }
  readyEvent_->Set();
}

bool TMMWaveOut::CompletionsOutstanding() {
  // In cmThread a returned buffer is counted off before the worker handles its completion; the
  // count and the worker's queue change together under the queue's lock.
  std::lock_guard lock(queueMutex_);
  return queued_ != 0 || (openMode_ == cmThread && !workerQueue_.empty());
}

void TMMWaveOut::FlushWorkerQueue() {
  std::lock_guard lock(queueMutex_);
  workerQueue_.clear();
}

void TMMWaveOut::CreateWorker() {
  EndWorker();
  threadFailed_ = false;
  FlushWorkerQueue();
  readyEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
  quitEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Auto);
  try {
    thread_ = std::make_unique<TMMWaveOutThread>(this);
    thread_->Resume();
  } catch (const std::exception&) {
    thread_.reset();
    Error(kNoThread);
  }
  if (!platform::Dispatcher::Instance().WaitServingSynchronize(*readyEvent_, kWorkerTimeout)) {
    Error(kNoThread);
  }
}

void TMMWaveOut::EndWorker() {
  if (!thread_) return;
  if (thread_->Id() == std::this_thread::get_id()) {
    quitEvent_->Set();  // asked from inside a handler: the worker ends after it
    return;
  }
  quitEvent_->Set();
  if (!threadFailed_ &&
      !platform::Dispatcher::Instance().WaitServingSynchronize(*readyEvent_, kWorkerTimeout)) {
    // The worker is stuck in a handler that still uses this output: it must end first.
    std::cerr << "WaveOut: worker did not stop within " << kWorkerTimeout.count()
              << " ms; waiting for it\n";
  }
  thread_->Join();
  thread_.reset();
  FlushWorkerQueue();
}

// ---- construction and properties ----

TMMWaveOut::TMMWaveOut(TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  PublishLinks(true, true);
  numDevs_ = platform::waveOutGetNumDevs();
  SetDeviceID(kDefaultDeviceId);
}

TMMWaveOut::~TMMWaveOut() {
  Destroying();
  Close();
  if (HasState(wsOpen)) {
    // The close was deferred behind a handler on the worker. Nothing can complete it later: let
    // the worker leave, then complete the stop and the close here.
    EndWorker();
    {
      platform::CriticalSectionLock lock(cs_);
      handlerDepth_ = 0;
    }
    stopPending_ = false;
    closePending_ = false;
    closing_ = false;
    Close();
  }
  EndWorker();
  if (window_ != platform::kNoWindow) platform::Dispatcher::Instance().DestroyWindow(window_);
  for (PWaveHdr& slot : ring_) {
    void* block = slot;
    allocator_.FreeBuffer(block);
    slot = nullptr;
  }
  allocator_.FreeAll();
}

void TMMWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  if (HasState(wsOpen)) Error(kChangeWhileOpen);
  allocator_.FreeAll();
  TMMCustomWaveOutComponent::SetBufferSize(Max(value, kMinBufferSize));
}

void TMMWaveOut::SetPWaveFormat(const TWaveFormatEx* format) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

void TMMWaveOut::SetNumBuffers(std::int32_t value) {
  if (HasState(wsOpen)) Error(kChangeWhileOpen);
  if (value < kMinNumBuffers) return;
  numBuffers_ = Min(value, kMaxBuffers);
}

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
  if (HasState(wsOpen)) Error(kChangeWhileOpen);
  productName_ = kNoDevice;
  const bool valid =
      value >= MapperId && static_cast<std::int64_t>(value) < static_cast<std::int64_t>(numDevs_);
  if (numDevs_ > 0 && valid &&
      platform::waveOutGetDevCaps(static_cast<std::uint32_t>(value), &caps_, sizeof(caps_)) ==
          platform::MMSYSERR_NOERROR) {
    productName_.assign(caps_.szPname, strnlen(caps_.szPname, sizeof(caps_.szPname)));
  }
  deviceId_ = valid ? value : InvalidId;
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
  if (HasState(wsOpen)) Error(kChangeWhileOpen);
  if (value == cmCallback) {
    // Completions inside the driver callback are not offered here.
    platform::ShowMessage(kCallbackRefused);
    return;
  }
  callBackMode_ = value;
}

void TMMWaveOut::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loopsLeft_ = loopCount_;
}

void TMMWaveOut::SetLoopCount(std::uint16_t value) {
  loopCount_ = value;
  loopsLeft_ = value;
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (thread_) thread_->SetPriorityLevel(value);
}

// ---- errors ----

void TMMWaveOut::FireError() {
  if (OnError) OnError(this);
}

void TMMWaveOut::Error(const std::string& message) {
  FireError();
  throw EMMWaveOutError(message);
}

std::string TMMWaveOut::DeviceErrorText(platform::MMRESULT code) const {
  char text[kErrorTextSize + 1] = {};
  if (platform::waveOutGetErrorText(code, text, kErrorTextSize) != platform::MMSYSERR_NOERROR) {
    return kUnknownError;
  }
  return text;
}

void TMMWaveOut::Check(platform::MMRESULT result, const char* prefix) {
  if (result != platform::MMSYSERR_NOERROR) Error(prefix + DeviceErrorText(result));
}

// ---- waits and notifications ----

bool TMMWaveOut::ServesMessagesWhileWaiting() const {
  return openMode_ == cmWindow && platform::IsMainThread();
}

bool TMMWaveOut::WaitSlices(int slices, bool atLeastOnce, const std::function<bool()>& done) {
  const bool serve = ServesMessagesWhileWaiting();
  for (int i = 0; i < slices; ++i) {
    if (serve) platform::Dispatcher::Instance().ProcessMessages();
    if ((i > 0 || !atLeastOnce) && done()) return true;
    platform::SleepMs(10);
  }
  if (serve) platform::Dispatcher::Instance().ProcessMessages();
  return done();
}

void TMMWaveOut::PostToWindow(std::uint32_t id) {
  platform::Dispatcher::Instance().PostMessage(window_, id,
                                               reinterpret_cast<std::uintptr_t>(device_.load()));
}

bool TMMWaveOut::BufferReturned() {
  std::int32_t before = queued_.load();
  while (before > 0 && !queued_.compare_exchange_weak(before, before - 1)) {
  }
  if (resetting_) {
    if (before == 1) resetting_ = false;  // the last queued buffer came back
    return false;
  }
  return true;
}

void TMMWaveOut::DeviceCallback(platform::HWAVEOUT, std::uint32_t message, std::uintptr_t instance,
                                std::uintptr_t, std::uintptr_t) {
  try {
    reinterpret_cast<TMMWaveOut*>(instance)->HandleDeviceNotification(message);
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

void TMMWaveOut::HandleDeviceNotification(std::uint32_t message) {
  switch (message) {
    case platform::MM_WOM_OPEN:
      SetState(wsOpen);
      break;
    case platform::MM_WOM_CLOSE:
      SetState(wsClosed);
      break;
    case platform::MM_WOM_DONE:
      if (openMode_ == cmThread) {
        {
          std::lock_guard lock(queueMutex_);
          if (!BufferReturned() || stopping_) break;
          workerQueue_.push_back(platform::Message{
              platform::kNoWindow, message, reinterpret_cast<std::uintptr_t>(device_.load()), 0});
        }
        inputEvent_.Set();
      } else if (BufferReturned() && !stopping_) {
        PostToWindow(platform::MM_WOM_DONE);
      }
      break;
    default:
      break;
  }
}

void TMMWaveOut::WindowProc(const platform::Message& message) {
  if (message.wParam != reinterpret_cast<std::uintptr_t>(device_.load())) return;
  try {
    switch (message.id) {
      case platform::MM_WOM_OPEN:
        SetState(wsOpen);
        break;
      case platform::MM_WOM_CLOSE:
        SetState(wsClosed);
        break;
      case platform::MM_WOM_DONE:
        // The window is the device's notification target only in cmWindow.
        if (openMode_ == cmWindow && !BufferReturned()) break;
        if (!stopping_) CompletionHandler();
        break;
      case kStopMessage:
        Stop();
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

// ---- the ring ----

PWaveHdr TMMWaveOut::AllocateHeader() {
  const auto size = static_cast<std::size_t>(GetBufferSize());
  void* block = allocator_.AllocBuffer(platform::kGHnd, kWaveHdrSize + size);
  if (block == nullptr) Error(kNoMemory);
  std::memset(block, 0, kWaveHdrSize + size);  // reused blocks start zero-filled too
  auto* header = static_cast<PWaveHdr>(block);
  header->SetData(static_cast<char*>(block) + kWaveHdrSize);
  header->dwBufferLength = static_cast<std::uint32_t>(size);
  return header;
}

void TMMWaveOut::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const auto capacity = static_cast<std::uint32_t>(GetBufferSize());
  lpWaveHdr->dwBufferLength = capacity;
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->Looping = looping_ ? -1 : 0;
  if (looping_) {
    lpWaveHdr->LoopCount = loopCount_;
    lpWaveHdr->LoopsLeft = loopsLeft_;
    lpWaveHdr->LoopMark = 0;
  }
  TMMCustomWaveOutComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  // A source never makes the device play past the block.
  if (lpWaveHdr->dwBytesRecorded > capacity) lpWaveHdr->dwBytesRecorded = capacity;
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
  if (looping_) loopsLeft_ = lpWaveHdr->LoopsLeft;
}

std::int32_t TMMWaveOut::LoadHeader(PWaveHdr hdr) {
  moreData_ = false;
  bool more = false;
  BufferLoad(hdr, more);
  const auto bytes = static_cast<std::int32_t>(hdr->dwBytesRecorded);
  moreData_ = more && bytes > 0;
  return bytes;
}

void TMMWaveOut::WriteHeader(PWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  if (stopping_) {
    hdr->dwFlags |= platform::WHDR_DONE;  // never reaches the device
    return;
  }
  hdr->dwFlags = (hdr->dwFlags | platform::WHDR_PREPARED) & ~platform::WHDR_DONE;
  hdr->extBytesPlayed = hdr->dwBytesRecorded;
  // Counted before the write: the device may hand it back before the write returns.
  ++queued_;
  const platform::MMRESULT result =
      platform::waveOutWrite(device_, AsWaveHdr(hdr), sizeof(platform::WAVEHDR));
  if (result != platform::MMSYSERR_NOERROR) {
    --queued_;
    hdr->dwFlags |= platform::WHDR_DONE;
    Check(result, kPrefixWrite);
  }
  hdr->dwBytesRecorded = hdr->extBytesPlayed;
}

bool TMMWaveOut::WaitForDoneFlag(PWaveHdr hdr) {
  for (int i = 0; i < kDonePolls; ++i) {
    if ((LoadFlags(hdr) & platform::WHDR_DONE) != 0) return true;
    platform::SleepMs(kDonePollMs);
  }
  return (LoadFlags(hdr) & platform::WHDR_DONE) != 0;
}

void TMMWaveOut::ReleaseHeaders() {
  // Every allocated header is unprepared before it is freed, also one that was prepared but
  // never written because its first load came back empty.
  for (PWaveHdr& slot : ring_) {
    if (slot == nullptr) continue;
    if (device_ != nullptr) {
      if (!WaitForDoneFlag(slot)) slot->dwFlags |= platform::WHDR_DONE;
      platform::waveOutUnprepareHeader(device_, AsWaveHdr(slot), sizeof(platform::WAVEHDR));
    }
    void* block = slot;
    allocator_.FreeBuffer(block);
    slot = nullptr;
  }
}

void TMMWaveOut::CompletionHandler() {
  {
    platform::CriticalSectionLock lock(cs_);
    if (!HasState(wsStarted) || resetting_ || stopping_ || buffersInUse_ <= 0) return;
    ++handlerDepth_;
  }
  try {
    try {
      // Buffers come back in the order they were written.
      PWaveHdr hdr = ring_[playIndex_];
      playIndex_ = (playIndex_ + 1) % buffersInUse_;
      hdr->dwBytesRecorded = hdr->extBytesPlayed;
      PWaveHdr playing = ring_[playIndex_];
      playing->dwBytesRecorded = playing->extBytesPlayed;
      SetRingLink(hdr, playing);
      TMMCustomWaveOutComponent::BufferReady(hdr);

      const std::uint32_t position = DevicePosition();
      if (position < lastPosition_ && lastPosition_ - position >= kWrapThreshold) {
        wrapValue_ = (lastPosition_ & 0xFFF00000u) | 0xFFFFFu;
        ++wrapCount_;
      }
      lastPosition_ = position;

      if (moreData_ && !stopPending_) {
        if (looping_ && hdr->LoopMark != 0) {
          {
            platform::CriticalSectionLock lock(cs_);
            loopStart_ = position;
            hdr->LoopMark = 0;
          }
          NotifyLoop();
          if (OnLooping) OnLooping(this);
        }
        WaitForDoneFlag(hdr);
        if (LoadHeader(hdr) <= 0 && !stopPending_) Error(kFillError);
        if (!stopPending_) WriteHeader(hdr);
      }
    } catch (...) {
      FireError();
      throw;
    }
  } catch (...) {
    LeaveHandler(true);
    throw;
  }
  LeaveHandler(false);
}

void TMMWaveOut::LeaveHandler(bool failed) {
  {
    platform::CriticalSectionLock lock(cs_);
    --handlerDepth_;
    if (handlerDepth_ != 0 || finishing_) return;
    if (!stopPending_ && CompletionsOutstanding()) return;
    finishing_ = true;
    stopping_ = true;
  }
  // The last buffer came back or a stop waits: hold the device and let the main thread stop.
  const platform::MMRESULT result =
      device_ != nullptr ? platform::waveOutPause(device_) : platform::MMSYSERR_NOERROR;
  PostToWindow(kStopMessage);
  if (!failed) Check(result, kPrefixPause);
}

// ---- position ----

std::uint32_t TMMWaveOut::DevicePosition() {
  platform::HWAVEOUT device = device_;
  const TWaveFormatEx* format = GetPWaveFormat();
  if (device == nullptr || !HasState(wsOpen) || format == nullptr) return 0;
  platform::MMTIME time{};
  time.wType = platform::TIME_SAMPLES;
  platform::MMRESULT result = platform::waveOutGetPosition(device, &time, sizeof(time));
  if (result == platform::MMSYSERR_NOERROR && time.wType == platform::TIME_SAMPLES) {
    return time.u.sample;
  }
  time = {};
  time.wType = platform::TIME_BYTES;
  result = platform::waveOutGetPosition(device, &time, sizeof(time));
  Check(result, kPrefixPosition);
  if (format->nAvgBytesPerSec == 0) return 0;
  const std::uint64_t bytes = time.u.cb;
  return static_cast<std::uint32_t>((bytes * format->nSamplesPerSec + format->nAvgBytesPerSec / 2) /
                                    format->nAvgBytesPerSec);
}

std::int64_t TMMWaveOut::GetPosition() {
  const TWaveFormatEx* format = GetPWaveFormat();
  if (!HasState(wsOpen) || format == nullptr || closePending_ || format->nSamplesPerSec == 0) {
    return 0;
  }
  const std::int64_t samples = static_cast<std::int64_t>(DevicePosition()) + positionOffset_ +
                               static_cast<std::int64_t>(wrapCount_) * wrapValue_ - loopStart_;
  switch (timeFormat_) {
    case tfMillisecond:
      return samples * 1000 / format->nSamplesPerSec;
    case tfByte: {
      std::int64_t bytes = samples * format->nAvgBytesPerSec / format->nSamplesPerSec;
      const std::int64_t align = format->nBlockAlign;
      if (align > 1 && bytes % align != 0) bytes += align - bytes % align;
      return bytes;
    }
    case tfSample:
    default:
      return samples;
  }
}

// ---- lifecycle ----

void TMMWaveOut::Open() {
  if (numDevs_ == 0) Error(kNoDevice);
  if (deviceId_ == InvalidId) Error(kInvalidDeviceId);
  const TWaveFormatEx* format = GetPWaveFormat();
  if (format == nullptr) Error(kPrefixOpen + kInvalidFormat);
  if (HasState(wsOpen)) Close();
  if (HasState(wsOpen) || closing_) return;  // a close is still deferred behind a handler
  closing_ = false;
  resetting_ = false;
  stopping_ = false;
  finishing_ = false;
  try {
    const auto deviceNumber = static_cast<std::uint32_t>(deviceId_);
    const auto* waveFormat = reinterpret_cast<const platform::WAVEFORMATEX*>(format);
    if (platform::waveOutOpen(nullptr, deviceNumber, waveFormat, 0, 0,
                              platform::WAVE_FORMAT_QUERY) != platform::MMSYSERR_NOERROR) {
      Error(kPrefixOpen + kCantPlay);
    }
    if (window_ == platform::kNoWindow) {
      window_ = platform::Dispatcher::Instance().CreateWindow(
          [this](const platform::Message& m) { WindowProc(m); });
    }
    device_ = nullptr;
    closePending_ = false;
    openMode_ = callBackMode_;
    TMMCustomWaveOutComponent::Open();
    if (openMode_ == cmThread) CreateWorker();

    // cmWindow: the hidden window hears the device. cmThread: the device calls back on its
    // notification thread, which forwards completions to the worker.
    std::uint32_t flags =
        openMode_ == cmThread ? platform::CALLBACK_FUNCTION : platform::CALLBACK_WINDOW;
    if (mapped_ && deviceId_ >= 0) flags |= platform::WAVE_MAPPED;
    const std::uintptr_t callback = openMode_ == cmThread
                                        ? reinterpret_cast<std::uintptr_t>(&DeviceCallback)
                                        : static_cast<std::uintptr_t>(window_);
    platform::HWAVEOUT device = nullptr;
    const platform::MMRESULT result = platform::waveOutOpen(
        &device, deviceNumber, waveFormat, callback, reinterpret_cast<std::uintptr_t>(this), flags);
    device_ = device;
    if (result != platform::MMSYSERR_NOERROR) Error(kPrefixOpen + DeviceErrorText(result));
    if (!WaitSlices(kDeviceWaitSlices, false, [this] { return HasState(wsOpen); })) {
      Error(kPrefixOpen + kUnableToOpen);
    }
    if (OnOpen) OnOpen(this);
  } catch (...) {
    FireError();
    SetState(wsOpen);
    Close();
    SetState(wsClosed);
    throw;
  }
}

void TMMWaveOut::Start() {
  try {
    if (!HasState(wsOpen)) Open();
    if (!HasState(wsOpen) || HasState(wsStarted)) return;
    positionOffset_ = 0;
    lastPosition_ = 0;
    wrapCount_ = 0;
    wrapValue_ = 0;
    loopStart_ = 0;
    {
      platform::CriticalSectionLock lock(cs_);
      handlerDepth_ = 0;
    }
    playIndex_ = 0;
    queued_ = 0;
    loopsLeft_ = loopCount_;
    stopPending_ = false;
    resetting_ = false;
    stopping_ = false;
    finishing_ = false;

    BusyCursor cursor(showHourGlass_ &&
                      static_cast<std::int64_t>(GetBufferSize()) * numBuffers_ > kHourGlassBytes);
    // The device stays paused while the ring fills, so playback starts with all of it queued.
    Check(platform::waveOutPause(device_), kPrefixPause);
    TMMCustomWaveOutComponent::Start();
    moreData_ = true;
    std::int32_t written = 0;
    for (std::int32_t i = 0; i < numBuffers_ && moreData_; ++i) {
      if (ring_[i] == nullptr) ring_[i] = AllocateHeader();
      PWaveHdr hdr = ring_[i];
      Check(platform::waveOutPrepareHeader(device_, AsWaveHdr(hdr), sizeof(platform::WAVEHDR)),
            kPrefixPrepare);
      if (LoadHeader(hdr) < 1) {
        hdr->dwFlags |= platform::WHDR_DONE;  // prepared but never written
        break;
      }
      WriteHeader(hdr);
      ++written;
    }
    buffersInUse_ = written;
    AddState(wsStarted);
    cursor.Restore();
    if (written == 0) {
      TMMCustomWaveOutComponent::Stop();
      Error(kPrefixStart + kUnableToStart);
    }
    if (!HasState(wsPaused)) Check(platform::waveOutRestart(device_), kPrefixRestart);
    if (OnStart) OnStart(this);
  } catch (...) {
    FireError();
    AddState(wsStarted);
    Close();
    SetState(wsClosed);
    throw;
  }
}

void TMMWaveOut::Pause() {
  try {
    if (!HasState(wsOpen)) Open();
    if (!HasState(wsOpen) || HasState(wsPaused)) return;
    if (HasState(wsStarted)) {
      Check(platform::waveOutPause(device_), kPrefixPause);
      AddState(wsPaused);
      if (HasUpstreamDriver()) {
        // The driver upstream goes on delivering from where it is: give the queued buffers back
        // and keep the position heard so far.
        const std::uint32_t heard = DevicePosition();
        {
          platform::CriticalSectionLock lock(cs_);
          positionOffset_ += heard;
          resetting_ = true;
        }
        const platform::MMRESULT result = platform::waveOutReset(device_);
        if (result > platform::MMSYSERR_NOERROR) Check(result, kPrefixReset);
        playIndex_ = 0;
        queued_ = 0;
      }
    }
    AddState(wsPaused);
    TMMCustomWaveOutComponent::Pause();
    if (OnPause) OnPause(this);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::Restart() {
  if (!HasState(wsStarted) || !HasState(wsPaused)) return;
  try {
    resetting_ = false;
    TMMCustomWaveOutComponent::Restart();
    Check(platform::waveOutRestart(device_), kPrefixRestart);
    RemoveState(wsPaused);
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
      platform::CriticalSectionLock lock(cs_);
      if (!HasState(wsStarted) && !HasState(wsPaused)) return;
      stopping_ = true;
      resetting_ = true;
    }
    wrapCount_ = 0;
    wrapValue_ = 0;
    if (device_ != nullptr) {
      const platform::MMRESULT result = platform::waveOutReset(device_);
      if (result > platform::MMSYSERR_NOERROR) Check(result, kPrefixReset);
    }
    FinishStop();
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::FinishStop() {
  {
    platform::CriticalSectionLock lock(cs_);
    if (!HasState(wsStarted) && !HasState(wsPaused)) return;
    if (handlerDepth_ > 0) {
      stopPending_ = true;  // the running handler posts the stop message when it ends
      return;
    }
    RemoveState(wsStarted | wsPaused);
  }
  WaitSlices(kDeviceWaitSlices, true, [this] { return queued_ <= 0; });
  TMMCustomWaveOutComponent::Stop();
  ReleaseHeaders();
  buffersInUse_ = 0;
  queued_ = 0;
  playIndex_ = 0;
  stopPending_ = false;
  if (!Destroyed() && OnStop) OnStop(this);
  if (closePending_) Close();
}

void TMMWaveOut::Close() {
  {
    platform::CriticalSectionLock lock(cs_);
    if (!HasState(wsOpen) || (closing_ && !closePending_)) return;
    closing_ = true;
  }
  try {
    if (HasState(wsStarted) || HasState(wsPaused)) Stop();
    if (stopPending_) {
      closePending_ = true;  // the deferred stop closes the device when it completes
      return;
    }
    closePending_ = false;
    bool closed = true;
    if (device_ != nullptr) {
      Check(platform::waveOutClose(device_), kPrefixClose);
      closed = WaitSlices(kDeviceWaitSlices, false, [this] { return HasState(wsClosed); });
      wrapCount_ = 0;
      wrapValue_ = 0;
    }
    // Without the device's word the handle is gone all the same.
    SetState(wsClosed);
    TMMCustomWaveOutComponent::Close();
    if (openMode_ == cmThread) EndWorker();
    device_ = nullptr;
    // Notifications of the closed device that are still queued must not reach a later one.
    platform::Dispatcher::Instance().RemoveMessages(window_, platform::MM_WOM_OPEN,
                                                    platform::MM_WOM_DONE);
    platform::Dispatcher::Instance().RemoveMessages(window_, kStopMessage, kCloseMessage);
    closing_ = false;
    if (!Destroyed() && OnClose) OnClose(this);
    if (!closed) Error(kPrefixClose + kUnableToClose);
  } catch (...) {
    closing_ = false;
  }
}

void TMMWaveOut::ResetBuffers() {
  if ((!HasState(wsStarted) && !HasState(wsPaused)) || resetting_) return;
  try {
    resetting_ = true;
    Check(platform::waveOutPause(device_), kPrefixPause);
    // Completions not yet handled are dropped. In cmThread they were counted already and wait in
    // the worker's queue; in cmWindow they are counted when the window takes them, so they are
    // left to the wait below, which takes them without handling them.
    if (openMode_ == cmThread) FlushWorkerQueue();
    const platform::MMRESULT result = platform::waveOutReset(device_);
    if (result > platform::MMSYSERR_NOERROR) Check(result, kPrefixReset);
    WaitSlices(kResetWaitSlices, false, [this] { return !resetting_ || queued_ <= 0; });
    if (openMode_ == cmThread) FlushWorkerQueue();
    if (window_ != platform::kNoWindow) {
      platform::Dispatcher::Instance().RemoveMessages(window_, platform::MM_WOM_DONE,
                                                      platform::MM_WOM_DONE);
    }
    resetting_ = false;
    Check(platform::waveOutRestart(device_), kPrefixRestart);
    Check(platform::waveOutPause(device_), kPrefixPause);
    playIndex_ = 0;
    queued_ = 0;
    positionOffset_ = 0;
    lastPosition_ = 0;
    wrapCount_ = 0;
    wrapValue_ = 0;
    {
      platform::CriticalSectionLock lock(cs_);
      loopStart_ = 0;
    }
    Reset();
    moreData_ = true;
    std::int32_t rewritten = 0;
    for (std::int32_t i = 0; i < numBuffers_ && ring_[i] != nullptr && moreData_; ++i) {
      if (LoadHeader(ring_[i]) < 1) break;
      WriteHeader(ring_[i]);
      ++rewritten;
    }
    buffersInUse_ = rewritten;
    if (!HasState(wsPaused)) Check(platform::waveOutRestart(device_), kPrefixRestart);
    if (rewritten == 0) Stop();
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

}  // namespace playback
