#include "platform/PortAudioHost.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Keeps the host APIs' probe messages off stderr while PortAudio initialises.
class StderrSilencer {
 public:
  StderrSilencer() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~StderrSilencer() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
  }
  StderrSilencer(const StderrSilencer&) = delete;
  StderrSilencer& operator=(const StderrSilencer&) = delete;

 private:
  int saved_ = -1;
};

PaSampleFormat SampleFormatFor(int bits) {
  switch (bits) {
    case 8:
      return paUInt8;  // 8-bit WAV samples are unsigned
    case 16:
      return paInt16;
    case 24:
      return paInt24;
    case 32:
      return paInt32;
    default:
      return 0;
  }
}

// The latency asked of the device. PortAudio's low suggestion (about 9 ms on ALSA) needs the
// callback served every few milliseconds: through the pulse plugin on a loaded desktop it is
// late now and then and the listener hears gaps. 100 ms rides out scheduling stalls of the
// same order and is still well inside the preview's ring (30 buffers of 2048 bytes: 348 ms at
// 44.1 kHz stereo), which must cover the latency because a buffer comes back only once heard.
// The position and the meters account for the latency, and a stop aborts at once.
constexpr double kDesktopLatencySeconds = 0.100;
constexpr const char* kLatencyVariable = "QD_AUDIO_LATENCY_MS";  // for measurements
constexpr long kLongestLatencyMs = 2000;

double OutputLatencySeconds(const AudioOutputInfo& info) {
  if (const char* value = std::getenv(kLatencyVariable)) {
    char* end = nullptr;
    const long ms = std::strtol(value, &end, 10);
    if (end != value && *end == '\0' && ms >= 1 && ms <= kLongestLatencyMs) return ms / 1000.0;
  }
  return std::max(info.lowLatencySeconds, kDesktopLatencySeconds);
}

}  // namespace

PortAudioHost& PortAudioHost::Instance() {
  static PortAudioHost host;  // thread-safe lazy initialisation
  return host;
}

PortAudioHost::PortAudioHost() {
  snd_lib_error_set_handler(&IgnoreAlsaError);
  ::setenv("JACK_NO_START_SERVER", "1", 0);
  {
    StderrSilencer silencer;
    initialized_ = Pa_Initialize() == paNoError;
  }
  if (!initialized_) return;
  const PaDeviceIndex count = Pa_GetDeviceCount();
  const PaDeviceIndex defaultDevice = Pa_GetDefaultOutputDevice();
  for (PaDeviceIndex device = 0; device < count; ++device) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels <= 0) continue;
    if (device == defaultDevice) preferred_ = static_cast<int>(outputs_.size());
    outputs_.push_back(AudioOutputInfo{device, info->name ? info->name : "",
                                       info->maxOutputChannels, info->defaultLowOutputLatency});
  }
  if (preferred_ < 0 && !outputs_.empty()) preferred_ = 0;
}

MMRESULT PortAudioHost::Setup(int output, const WAVEFORMATEX& format, AudioStreamSetup* setup) {
  if (output < 0 || output >= static_cast<int>(outputs_.size())) return MMSYSERR_BADDEVICEID;
  const AudioOutputInfo& info = outputs_[static_cast<std::size_t>(output)];
  const PaSampleFormat sampleFormat = SampleFormatFor(format.wBitsPerSample);
  if (sampleFormat == 0) return WAVERR_BADFORMAT;

  const auto supported = [&](int channels) {
    if (channels > info.maxChannels) return false;
    PaStreamParameters parameters{};
    parameters.device = info.paDevice;
    parameters.channelCount = channels;
    parameters.sampleFormat = sampleFormat;
    parameters.suggestedLatency = OutputLatencySeconds(info);
    std::lock_guard<std::mutex> lock(mutex_);
    return Pa_IsFormatSupported(nullptr, &parameters, format.nSamplesPerSec) == paFormatIsSupported;
  };
  AudioStreamSetup result;
  result.paDevice = info.paDevice;
  result.sampleFormat = sampleFormat;
  result.latencySeconds = OutputLatencySeconds(info);
  if (supported(format.nChannels)) {
    result.channels = format.nChannels;
  } else if (format.nChannels == 1 && supported(2)) {
    result.channels = 2;
    result.duplicateMono = true;
  } else {
    return WAVERR_BADFORMAT;
  }
  if (setup != nullptr) *setup = result;
  return MMSYSERR_NOERROR;
}

}  // namespace platform
