// The common part of every waveform output device: the queue of written buffers, their hand-back
// in order through the notification thread, pause and reset. A backend (PortAudio, or the clock
// of the null and file devices) consumes the queue through Consume and reports what was heard.
// Threading: the public operations run on the caller's thread, one at a time per device, except
// HeardFrames, which may run beside them. Consume runs on the backend's consumer (the audio
// callback or the clock thread) only; it never blocks or allocates. Notifications are delivered
// on the device's notification thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/WaveOut.h"

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
  // Stops playback, marks every queued buffer done (notified in order before it returns, unless
  // called from the notification thread) and sets the position to 0. Pause state is kept.
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
  // Frames heard by the listener now; may exceed nothing consumed (clamped by the caller).
  virtual std::uint64_t BackendHeardFrames() = 0;
  // Called inside WithConsumerHalted by Reset: the backend forgets its position.
  virtual void ResetBackendPosition() = 0;

  // Consumer side: copies up to `bytes` queued bytes to `out` (or skips them when `out` is null),
  // finishing buffers in order. Returns the bytes taken; fewer than asked means the queue ran dry.
  std::size_t Consume(char* out, std::size_t bytes);
  std::uint64_t ConsumedBytes() const { return consumedBytes_.load(std::memory_order_acquire); }

  const WAVEFORMATEX format_;

 private:
  void NotifierMain();
  void Deliver(std::uint32_t message, WAVEHDR* header);
  void WakeNotifier();
  bool OnNotifierThread() const;

  const WaveOutTarget target_;

  // The ring of queued buffers: the caller writes at writeIndex_, the consumer plays at
  // playIndex_, the notifier hands back at notifyIndex_ (each index only grows; slot = index %
  // kRingSize). Slots between notifyIndex_ and writeIndex_ are in the queue.
  WAVEHDR* ring_[kRingSize] = {};
  std::atomic<std::uint64_t> writeIndex_{0};
  std::atomic<std::uint64_t> playIndex_{0};
  std::atomic<std::uint64_t> notifyIndex_{0};
  std::atomic<std::uint64_t> deliveredIndex_{0};  // notifications sent
  std::size_t playOffset_ = 0;                    // consumer only: bytes taken of the current one
  std::atomic<std::uint64_t> consumedBytes_{0};
  std::atomic<std::uint64_t> heardFrames_{0};  // last answer, keeps the position monotonic

  std::atomic<std::uint32_t> wake_{0};  // bumped (and notified) whenever the notifier has work
  std::atomic<bool> closing_{false};
  std::thread notifier_;
  bool open_ = false;
  bool closed_ = false;
};

}  // namespace platform
