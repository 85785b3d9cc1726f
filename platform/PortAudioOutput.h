// A PortAudio output device. The stream runs from open to close; its callback copies the queued
// buffers (silence while paused or when the queue is dry) and publishes, for the position, how
// many frames were consumed and when the last of them reaches the listener.
// Threading: the WaveOutDevice operations on the caller's thread; OnAudio on PortAudio's audio
// thread, where it only copies and stores atomics; BackendHeardFrames beside either (on the
// notification thread too). streamMutex_ guards stream_ between them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/PortAudioHost.h"
#include "platform/WaveOutDevice.h"

namespace platform {

class PortAudioOutput : public WaveOutDevice {
 public:
  PortAudioOutput(const WAVEFORMATEX& format, const WaveOutTarget& target,
                  const AudioStreamSetup& setup);
  ~PortAudioOutput() override;

  // The audio callback's body: fills `frames` device frames at `output`. `dacTime` is when the
  // first of them is heard, on the stream's clock (0 when the host does not tell).
  void OnAudio(void* output, unsigned long frames, double dacTime, double currentTime);

 protected:
  MMRESULT OpenBackend() override;
  MMRESULT CloseBackend() override;
  void SetBackendPaused(bool paused) override;
  void WithConsumerHalted(const std::function<void()>& work) override;
  std::uint64_t BackendHeardFrames() override;
  void ResetBackendPosition() override;

 private:
  void Publish(std::uint64_t framesEnd, double heardEnd);

  const AudioStreamSetup setup_;
  std::mutex streamMutex_;
  void* stream_ = nullptr;  // a PaStream, owned: closed at CloseBackend
  double latencySeconds_ = 0;
  std::atomic<bool> paused_{false};

  // Published by the callback under a sequence count (odd while writing): the frames consumed so
  // far and the stream time at which the last of them has been heard.
  std::atomic<std::uint32_t> sequence_{0};
  std::atomic<std::uint64_t> framesEnd_{0};
  std::atomic<double> heardEnd_{0};
};

}  // namespace platform
