#include "platform/WaveOutDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "platform/ThreadMessageQueue.h"

namespace platform {

namespace {

constexpr auto kResetDeliveryWait = std::chrono::milliseconds(5000);

// The header's flags are read by the owner on other threads (it polls WHDR_DONE), so the device
// changes them atomically. The header is packed, so the field is reached through its offset.
std::uint32_t* FlagsOf(WAVEHDR* header) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(header) +
                                          offsetof(WAVEHDR, dwFlags));
}

void SetFlags(WAVEHDR* header, std::uint32_t set, std::uint32_t clear) {
  std::uint32_t* flags = FlagsOf(header);
  std::uint32_t old = __atomic_load_n(flags, __ATOMIC_ACQUIRE);
  while (!__atomic_compare_exchange_n(flags, &old, (old | set) & ~clear, true, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
  }
}

}  // namespace

WaveOutDevice::WaveOutDevice(const WAVEFORMATEX& format, const WaveOutTarget& target)
    : format_(format), target_(target) {}

WaveOutDevice::~WaveOutDevice() {
  // Close normally joined the notifier; this only covers a device whose Close failed midway.
  if (notifier_.joinable()) {
    closing_.store(true, std::memory_order_release);
    WakeNotifier();
    notifier_.join();
  }
}

MMRESULT WaveOutDevice::Open() {
  const MMRESULT result = OpenBackend();
  if (result != MMSYSERR_NOERROR) return result;
  try {
    notifier_ = std::thread([this] { NotifierMain(); });
  } catch (const std::system_error&) {
    CloseBackend();
    return MMSYSERR_NOMEM;
  }
  open_ = true;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Close() {
  if (OnNotifierThread()) return MMSYSERR_ERROR;
  if (HasQueuedBuffers()) return WAVERR_STILLPLAYING;
  MMRESULT result = MMSYSERR_NOERROR;
  if (open_) {
    result = CloseBackend();
    open_ = false;
  }
  closing_.store(true, std::memory_order_release);
  WakeNotifier();
  if (notifier_.joinable()) notifier_.join();
  closed_ = true;
  return result;
}

MMRESULT WaveOutDevice::Write(WAVEHDR* header) {
  const std::uint32_t flags = __atomic_load_n(FlagsOf(header), __ATOMIC_ACQUIRE);
  if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  const std::uint64_t write = writeIndex_.load(std::memory_order_relaxed);
  if (write - notifyIndex_.load(std::memory_order_acquire) >= kRingSize) return MMSYSERR_NOMEM;
  SetFlags(header, WHDR_INQUEUE, WHDR_DONE);
  ring_[write % kRingSize] = header;
  writeIndex_.store(write + 1, std::memory_order_release);
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Pause() {
  SetBackendPaused(true);
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Restart() {
  SetBackendPaused(false);
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Reset() {
  std::uint64_t returned = 0;
  WithConsumerHalted([&] {
    returned = writeIndex_.load(std::memory_order_acquire);
    playIndex_.store(returned, std::memory_order_release);
    playOffset_ = 0;
    consumedBytes_.store(0, std::memory_order_release);
    heardFrames_.store(0, std::memory_order_release);
    ResetBackendPosition();
  });
  WakeNotifier();
  if (OnNotifierThread()) return MMSYSERR_NOERROR;
  // The owner expects every buffer back (flagged done and notified) once Reset returns.
  const auto deadline = std::chrono::steady_clock::now() + kResetDeliveryWait;
  while (deliveredIndex_.load(std::memory_order_acquire) < returned) {
    if (std::chrono::steady_clock::now() >= deadline) return MMSYSERR_ERROR;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return MMSYSERR_NOERROR;
}

bool WaveOutDevice::HasQueuedBuffers() const {
  return notifyIndex_.load(std::memory_order_acquire) !=
         writeIndex_.load(std::memory_order_acquire);
}

std::uint64_t WaveOutDevice::HeardFrames() {
  const std::uint64_t consumedFrames =
      format_.nBlockAlign ? ConsumedBytes() / format_.nBlockAlign : 0;
  const std::uint64_t heard = std::min(BackendHeardFrames(), consumedFrames);
  std::uint64_t last = heardFrames_.load(std::memory_order_acquire);
  while (heard > last &&
         !heardFrames_.compare_exchange_weak(last, heard, std::memory_order_acq_rel)) {
  }
  return std::max(heard, last);
}

std::size_t WaveOutDevice::Consume(char* out, std::size_t bytes) {
  std::size_t taken = 0;
  bool finished = false;
  std::uint64_t play = playIndex_.load(std::memory_order_relaxed);
  const std::uint64_t write = writeIndex_.load(std::memory_order_acquire);
  while (taken < bytes && play < write) {
    WAVEHDR* header = ring_[play % kRingSize];
    const std::size_t length = header->dwBufferLength;
    const std::size_t chunk = std::min(bytes - taken, length - std::min(playOffset_, length));
    if (out != nullptr && chunk > 0) std::memcpy(out + taken, header->Data() + playOffset_, chunk);
    taken += chunk;
    playOffset_ += chunk;
    if (playOffset_ >= length) {
      playOffset_ = 0;
      ++play;
      playIndex_.store(play, std::memory_order_release);
      finished = true;
    }
  }
  if (taken > 0) consumedBytes_.fetch_add(taken, std::memory_order_acq_rel);
  if (finished) WakeNotifier();
  return taken;
}

void WaveOutDevice::WakeNotifier() {
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
}

bool WaveOutDevice::OnNotifierThread() const {
  return std::this_thread::get_id() == notifier_.get_id();
}

void WaveOutDevice::NotifierMain() {
  Deliver(MM_WOM_OPEN, nullptr);
  for (;;) {
    const std::uint32_t seen = wake_.load(std::memory_order_acquire);
    const bool closing = closing_.load(std::memory_order_acquire);
    const std::uint64_t played = playIndex_.load(std::memory_order_acquire);
    std::uint64_t next = notifyIndex_.load(std::memory_order_relaxed);
    while (next < played) {
      WAVEHDR* header = ring_[next % kRingSize];
      // Done before the notification, and out of the queue before it can be written again.
      SetFlags(header, WHDR_DONE, WHDR_INQUEUE);
      ++next;
      notifyIndex_.store(next, std::memory_order_release);
      Deliver(MM_WOM_DONE, header);
      deliveredIndex_.store(next, std::memory_order_release);
    }
    if (closing) break;
    wake_.wait(seen, std::memory_order_acquire);
  }
  Deliver(MM_WOM_CLOSE, nullptr);
}

void WaveOutDevice::Deliver(std::uint32_t message, WAVEHDR* header) {
  const auto device = reinterpret_cast<std::uintptr_t>(static_cast<HWAVEOUT>(this));
  const auto param2 = reinterpret_cast<std::uintptr_t>(header);
  switch (target_.kind) {
    case CALLBACK_WINDOW:
      Dispatcher::Instance().PostMessage(static_cast<WindowHandle>(target_.callback), message,
                                         device, static_cast<std::intptr_t>(param2));
      break;
    case CALLBACK_FUNCTION:
      reinterpret_cast<WaveOutProc>(target_.callback)(this, message, target_.instance, device,
                                                      param2);
      break;
    case CALLBACK_THREAD:
      reinterpret_cast<ThreadMessageQueue*>(target_.callback)
          ->Post(message, device, static_cast<std::intptr_t>(param2));
      break;
    default:
      break;
  }
}

}  // namespace platform
