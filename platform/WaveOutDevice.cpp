#include "platform/WaveOutDevice.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/ThreadMessageQueue.h"
#include "platform/WaveHeaderFlags.h"

namespace platform {

namespace {

constexpr auto kResetDeliveryWait = std::chrono::milliseconds(5000);
// While buffers are queued the notifier looks again at least this often: the consumer's wake-up
// is sent without a lock and, rarely, comes just before the notifier sleeps. The preview's ring
// (348 ms, 100 ms of it in the latency) covers such a delay.
constexpr auto kLongestQueuedWait = std::chrono::milliseconds(80);
// Buffers heard are handed back a few at a time: the owner refills them in one wake-up, and the
// ring covers the delay.
constexpr auto kHeardBatch = std::chrono::milliseconds(75);

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
  const std::uint32_t flags = LoadWaveHeaderFlags(header);
  if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  const std::uint64_t write = writeIndex_.load(std::memory_order_relaxed);
  if (write - notifyIndex_.load(std::memory_order_acquire) >= kRingSize) return MMSYSERR_NOMEM;
  ChangeWaveHeaderFlags(header, WHDR_INQUEUE, WHDR_DONE);
  ring_[write % kRingSize] = header;
  writeIndex_.store(write + 1, std::memory_order_release);
  {
    // A notifier asleep without a bound must now look again at intervals.
    std::lock_guard<std::mutex> lock(wakeMutex_);
    if (sleepsUnbounded_) {
      wakeCount_.fetch_add(1, std::memory_order_release);
      wake_.notify_one();
    }
  }
  BufferQueued();
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
    flushIndex_.store(returned, std::memory_order_release);
    playOffset_ = 0;
    consumedBytes_.store(0, std::memory_order_release);
    std::lock_guard<std::mutex> lock(positionMutex_);
    heardFrames_ = 0;
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
  std::lock_guard<std::mutex> lock(positionMutex_);
  const std::uint64_t consumedFrames =
      format_.nBlockAlign ? ConsumedBytes() / format_.nBlockAlign : 0;
  heardFrames_ = std::max(heardFrames_, std::min(BackendHeardFrames(), consumedFrames));
  return heardFrames_;
}

std::size_t WaveOutDevice::Consume(char* out, std::size_t bytes) {
  std::size_t taken = 0;
  bool finished = false;
  std::uint64_t play = playIndex_.load(std::memory_order_relaxed);
  const std::uint64_t write = writeIndex_.load(std::memory_order_acquire);
  const std::uint64_t consumed = consumedBytes_.load(std::memory_order_relaxed);
  while (taken < bytes && play < write) {
    WAVEHDR* header = ring_[play % kRingSize];
    const std::size_t length = header->dwBufferLength;
    const std::size_t chunk = std::min(bytes - taken, length - std::min(playOffset_, length));
    if (out != nullptr && chunk > 0) std::memcpy(out + taken, header->Data() + playOffset_, chunk);
    taken += chunk;
    playOffset_ += chunk;
    if (playOffset_ >= length) {
      playOffset_ = 0;
      ends_[play % kRingSize] = consumed + taken;
      ++play;
      finished = true;
    }
  }
  // The byte count first: a buffer published as taken is then already counted as consumed.
  if (taken > 0) consumedBytes_.store(consumed + taken, std::memory_order_release);
  if (finished) {
    playIndex_.store(play, std::memory_order_release);
    NudgeNotifier();
  }
  return taken;
}

std::size_t WaveOutDevice::BytesToBufferEnd(std::size_t atLeast) const {
  std::uint64_t play = playIndex_.load(std::memory_order_relaxed);
  const std::uint64_t write = writeIndex_.load(std::memory_order_acquire);
  if (play >= write) return 0;
  const std::size_t length = ring_[play % kRingSize]->dwBufferLength;
  std::size_t bytes = length - std::min(playOffset_, length);
  while (bytes < atLeast && ++play < write) bytes += ring_[play % kRingSize]->dwBufferLength;
  return bytes;
}

void WaveOutDevice::WakeNotifier() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    wakeCount_.fetch_add(1, std::memory_order_release);
    ++urgentCount_;
  }
  wake_.notify_one();
}

void WaveOutDevice::NudgeNotifier() {
  wakeCount_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
}

bool WaveOutDevice::OnNotifierThread() const {
  return std::this_thread::get_id() == notifier_.get_id();
}

void WaveOutDevice::NotifierMain() {
  Deliver(MM_WOM_OPEN, nullptr);
  for (;;) {
    std::uint64_t seenUrgent = 0;
    {
      std::lock_guard<std::mutex> lock(wakeMutex_);
      seenUrgent = urgentCount_;
    }
    const std::uint32_t seen = wakeCount_.load(std::memory_order_acquire);
    const bool closing = closing_.load(std::memory_order_acquire);
    bool awaitsHearing = false;
    const std::chrono::microseconds wait = DeliverHeard(&awaitsHearing);
    if (closing) break;
    std::unique_lock<std::mutex> lock(wakeMutex_);
    const auto woken = [&] { return wakeCount_.load(std::memory_order_acquire) != seen; };
    if (awaitsHearing) {
      // The consumer's nudges tell of buffers taken, which are not heard before this wait ends.
      wake_.wait_for(lock, wait, [&] { return urgentCount_ != seenUrgent; });
    } else if (wait.count() > 0) {
      wake_.wait_for(lock, wait, woken);
    } else {
      // Nothing was queued when it looked; a buffer written since then wakes it.
      sleepsUnbounded_ = writeIndex_.load(std::memory_order_acquire) ==
                         notifyIndex_.load(std::memory_order_relaxed);
      if (sleepsUnbounded_) wake_.wait(lock, woken);
      sleepsUnbounded_ = false;
    }
  }
  Deliver(MM_WOM_CLOSE, nullptr);
}

std::chrono::microseconds WaveOutDevice::DeliverHeard(bool* awaitsHearing) {
  const std::uint64_t flush = flushIndex_.load(std::memory_order_acquire);
  const std::uint64_t played = playIndex_.load(std::memory_order_acquire);
  std::uint64_t next = notifyIndex_.load(std::memory_order_relaxed);
  std::uint64_t heardBytes = 0;
  if (next < played && next >= flush) heardBytes = HeardFrames() * format_.nBlockAlign;
  while (next < std::max(played, flush)) {
    // Buffers given back by a reset need not be heard; their end marks are stale.
    if (next >= flush && ends_[next % kRingSize] > heardBytes) break;
    WAVEHDR* header = ring_[next % kRingSize];
    // Done before the notification, and out of the queue before it can be written again.
    ChangeWaveHeaderFlags(header, WHDR_DONE, WHDR_INQUEUE);
    ++next;
    notifyIndex_.store(next, std::memory_order_release);
    Deliver(MM_WOM_DONE, header);
    deliveredIndex_.store(next, std::memory_order_release);
  }
  if (next < played) {
    // Taken but not yet heard: look again when its end should have reached the listener.
    const std::uint64_t missing =
        ends_[next % kRingSize] - std::min(ends_[next % kRingSize], heardBytes);
    const std::uint64_t rate = std::max<std::uint64_t>(format_.nAvgBytesPerSec, 1);
    const std::chrono::microseconds due{missing * 1000000 / rate};
    *awaitsHearing = true;
    return std::clamp<std::chrono::microseconds>(due, kHeardBatch, kLongestQueuedWait);
  }
  if (next < writeIndex_.load(std::memory_order_acquire)) return kLongestQueuedWait;
  return std::chrono::microseconds(0);
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
