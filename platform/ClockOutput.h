// The null and file devices: a clock thread consumes the queued buffers at real-time pace (the
// format's byte rate), so a player behaves as with a sound card. The file device also records
// every byte it consumes into a WAV file. What was consumed is what was heard.
// The clock thread sleeps until the buffer being played is due to end, and while the queue is
// dry or the device paused until it is woken, so a play costs one wake-up per buffer.
// Threading: the WaveOutDevice operations on the caller's thread; the clock thread consumes
// under clockMutex_, which the caller takes only to queue, pause, restart, reset and close.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOutDevice.h"
#include "platform/WaveRecorder.h"

namespace platform {

class ClockOutput : public WaveOutDevice {
 public:
  // An empty `path` makes the null device; otherwise the file device recording into `path`.
  ClockOutput(const WAVEFORMATEX& format, const WaveOutTarget& target, std::string path);
  ~ClockOutput() override;

 protected:
  MMRESULT OpenBackend() override;
  MMRESULT CloseBackend() override;
  void SetBackendPaused(bool paused) override;
  void WithConsumerHalted(const std::function<void()>& work) override;
  std::uint64_t BackendHeardFrames() override;
  void ResetBackendPosition() override;

 private:
  using Clock = std::chrono::steady_clock;

  void ClockMain();
  void TickLocked();
  void RebaseLocked();
  void StopClock();
  void BufferQueued() override;
  // How long the clock thread may sleep; zero: until woken.
  Clock::duration NextWaitLocked();

  const std::string path_;
  std::unique_ptr<WaveRecorder> recorder_;  // file device only
  std::vector<char> scratch_;               // the clock thread's copy buffer, sized at open

  std::mutex clockMutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool paused_ = false;
  bool kicked_ = false;  // a caller changed something: the clock thread looks again
  bool dry_ = true;      // the queue ran dry: the clock rebases when data comes
  // Bytes due by now = baseBytes_ + byte rate x (now - baseTime_); rebased when data comes after
  // the queue ran dry, on restart and on reset, so silence is never made up for by playing
  // faster.
  std::uint64_t baseBytes_ = 0;
  Clock::time_point baseTime_{};
  std::thread clock_;
};

}  // namespace platform
