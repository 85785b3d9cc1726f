// The common part of every waveform output device: the queue of written buffers, their hand-back
// in order through the notification thread once they have been heard, pause and reset. A backend
// (PortAudio, or the clock of the null and file devices) consumes the queue through Consume and
// reports what was heard through BackendHeardFrames.
// A buffer comes back (WHDR_DONE, MM_WOM_DONE) only when its last frame has been heard, not when
// the backend has copied it: a sound server holds tens of milliseconds, and an owner that stops
// once its last buffer is back must not cut them off. Reset hands back every queued buffer at once.
// Threading: the public operations run on the caller's thread, one at a time per device, except
// HeardFrames, which may run beside them (the notification thread calls it too). Consume runs on
// the backend's consumer (the audio callback or the clock thread) only; it never blocks or
// allocates. Notifications are delivered on the device's notification thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/WaveOutApi.h"

namespace platform {

// Where notifications go (the waveOutOpen callback and flags, checked by the caller).
struct WaveOutTarget {
  std::uint32_t kind = CALLBACK_NULL;  // CALLBACK_NULL/WINDOW/FUNCTION/THREAD
  std::uintptr_t callback = 0;
  std::uintptr_t instance = 0;
};

struct WaveOutDevice {
 public:
  static constexpr std::size_t kRingSize = 1024;  // buffers queued at most

  WaveOutDevice(const WAVEFORMATEX& format, const WaveOutTarget& target);
  virtual ~WaveOutDevice();
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  // Opens the backend, starts the notification thread and sends MM_WOM_OPEN.
  MMRESULT Open();
  // Refuses with WAVERR_STILLPLAYING while buffers are queued; otherwise closes the backend,
  // sends MM_WOM_CLOSE and joins the notification thread. Refused (MMSYSERR_ERROR) when called
  // from the notification thread itself, which cannot wait for its own end.
  MMRESULT Close();
  MMRESULT Write(WAVEHDR* header);
  MMRESULT Pause();
  MMRESULT Restart();
  // Stops playback at once (what the backend holds is dropped), marks every queued buffer done
  // (notified in order before it returns, unless called from the notification thread) and sets
  // the position to 0. Pause state is kept.
  MMRESULT Reset();
  bool HasQueuedBuffers() const;
  // True once Close went through (also when closing the backend reported an error).
  bool Closed() const { return closed_; }

  // Frames heard since open or the last reset: monotonic, never beyond what was consumed.
  std::uint64_t HeardFrames();
  const WAVEFORMATEX& Format() const { return format_; }

 protected:
  // Backend hooks, called on the caller's thread.
  virtual MMRESULT OpenBackend() = 0;
  virtual MMRESULT CloseBackend() = 0;
  virtual void SetBackendPaused(bool paused) = 0;
  // Runs `work` while the consumer is guaranteed not to run.
  virtual void WithConsumerHalted(const std::function<void()>& work) = 0;
  // Frames heard by the listener now (clamped to what was consumed by the caller). Called on the
  // caller's and on the notification thread.
  virtual std::uint64_t BackendHeardFrames() = 0;
  // Called inside WithConsumerHalted by Reset: the backend forgets its position.
  virtual void ResetBackendPosition() = 0;
  // A buffer was queued (caller's thread): a backend that sleeps while the queue is dry wakes.
  virtual void BufferQueued() {}

  // Consumer side: copies up to `bytes` queued bytes to `out` (or skips them when `out` is null),
  // in order. Returns the bytes taken; fewer than asked means the queue ran dry.
  std::size_t Consume(char* out, std::size_t bytes);
  // Consumer side: bytes still to take until the end of the first queued buffer that ends at
  // least `atLeast` bytes from here (or of the last queued one); 0 when nothing is queued.
  std::size_t BytesToBufferEnd(std::size_t atLeast = 0) const;
  std::uint64_t ConsumedBytes() const { return consumedBytes_.load(std::memory_order_acquire); }
  // Caller's thread: something changed; the notification thread looks again.
  void WakeNotifier();
  // Consumer (or any thread that must not block): the same without the lock. Such a wake-up can
  // be missed, so the notifier never sleeps without a bound while a buffer is queued.
  void NudgeNotifier();

  const WAVEFORMATEX format_;

 private:
  void NotifierMain();
  // Hands back, in order, the buffers that were heard (all of them up to flushIndex_ after a
  // reset). Returns the wait before the next look: 0 for "until woken"; sets `awaitsHearing`
  // when that wait is for a buffer taken but not heard yet.
  std::chrono::microseconds DeliverHeard(bool* awaitsHearing);
  void Deliver(std::uint32_t message, WAVEHDR* header);
  bool OnNotifierThread() const;

  const WaveOutTarget target_;

  // The ring of queued buffers: the caller writes at writeIndex_, the consumer takes at
  // playIndex_, the notifier hands back at notifyIndex_ (each index only grows; slot = index %
  // kRingSize). Slots between notifyIndex_ and writeIndex_ are in the queue; those below
  // playIndex_ were taken whole and come back once heard.
  WAVEHDR* ring_[kRingSize] = {};
  // The consumed byte count at which each taken buffer ends (written by the consumer before it
  // publishes playIndex_).
  std::uint64_t ends_[kRingSize] = {};
  std::atomic<std::uint64_t> writeIndex_{0};
  std::atomic<std::uint64_t> playIndex_{0};
  std::atomic<std::uint64_t> notifyIndex_{0};
  std::atomic<std::uint64_t> flushIndex_{0};      // buffers below it come back heard or not
  std::atomic<std::uint64_t> deliveredIndex_{0};  // notifications sent
  std::size_t playOffset_ = 0;                    // consumer only: bytes taken of the current one
  std::atomic<std::uint64_t> consumedBytes_{0};
  // The last answer of HeardFrames, which keeps the position monotonic; positionMutex_ keeps a
  // reset from crossing an answer being computed (the consumer never takes it).
  std::mutex positionMutex_;
  std::uint64_t heardFrames_ = 0;

  // The notifier sleeps on wake_ until a wake-up or until the next buffer may have been heard.
  // Callers wake it under wakeMutex_; the consumer nudges it without the lock (it never blocks),
  // so while anything is queued the notifier's wait is bounded.
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::atomic<std::uint32_t> wakeCount_{0};
  bool sleepsUnbounded_ = false;   // guarded by wakeMutex_: Write must wake it
  std::uint64_t urgentCount_ = 0;  // guarded by wakeMutex_: wake-ups from the caller's side
  std::atomic<bool> closing_{false};
  std::thread notifier_;
  bool open_ = false;
  bool closed_ = false;
};

}  // namespace platform
