// PortAudio, initialised once per process on first use: its output devices and the stream setup
// that plays a PCM format on one of them. ALSA's error printing is silenced and libjack is kept
// from starting a server; when initialisation fails there are simply no PortAudio devices.
// Threading: every member from any thread; the PortAudio calls that open, query, start and stop
// streams are serialised by Lock().
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveOutApi.h"

namespace platform {

struct AudioOutputInfo {
  int paDevice = -1;  // PortAudio's device index
  std::string name;
  int maxChannels = 0;
  double lowLatencySeconds = 0;
};

// How one PCM format is played on one device: PortAudio converts the samples; a mono format on a
// device that refuses mono is duplicated into two channels by the output.
struct AudioStreamSetup {
  int paDevice = -1;
  int channels = 0;                // channels opened on the device
  unsigned long sampleFormat = 0;  // a PaSampleFormat
  bool duplicateMono = false;
  double latencySeconds = 0;
};

class PortAudioHost {
 public:
  static PortAudioHost& Instance();

  bool Initialized() const { return initialized_; }
  // The devices with at least one output channel, in PortAudio's order.
  const std::vector<AudioOutputInfo>& Outputs() const { return outputs_; }
  // Index into Outputs() of PortAudio's default output, else of the first output; -1 when none.
  int PreferredOutput() const { return preferred_; }

  // WAVERR_BADFORMAT when the device cannot play `format` even through conversion.
  MMRESULT Setup(int output, const WAVEFORMATEX& format, AudioStreamSetup* setup);

  std::mutex& Lock() { return mutex_; }

 private:
  PortAudioHost();

  std::mutex mutex_;
  bool initialized_ = false;
  std::vector<AudioOutputInfo> outputs_;
  int preferred_ = -1;
};

}  // namespace platform
