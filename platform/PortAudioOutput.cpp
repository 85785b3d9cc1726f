#include "platform/PortAudioOutput.h"

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

constexpr int kSnapshotTries = 64;
constexpr double kCallbacksPerLatency = 4;

int StreamCallback(const void*, void* output, unsigned long frames,
                   const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* user) {
  static_cast<PortAudioOutput*>(user)->OnAudio(output, frames, time ? time->outputBufferDacTime : 0,
                                               time ? time->currentTime : 0);
  return paContinue;
}

MMRESULT ResultFor(PaError error) {
  switch (error) {
    case paNoError:
      return MMSYSERR_NOERROR;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
      return WAVERR_BADFORMAT;
    case paInsufficientMemory:
      return MMSYSERR_NOMEM;
    case paDeviceUnavailable:
      return MMSYSERR_ALLOCATED;
    case paInvalidDevice:
      return MMSYSERR_BADDEVICEID;
    default:
      return MMSYSERR_ERROR;
  }
}

}  // namespace

PortAudioOutput::PortAudioOutput(const WAVEFORMATEX& format, const WaveOutTarget& target,
                                 const AudioStreamSetup& setup)
    : WaveOutDevice(format, target), setup_(setup) {}

PortAudioOutput::~PortAudioOutput() {
  CloseBackend();
}

MMRESULT PortAudioOutput::OpenBackend() {
  PaStreamParameters parameters{};
  parameters.device = setup_.paDevice;
  parameters.channelCount = setup_.channels;
  parameters.sampleFormat = setup_.sampleFormat;
  parameters.suggestedLatency = setup_.latencySeconds;
  std::lock_guard<std::mutex> lock(PortAudioHost::Instance().Lock());
  PaStream* stream = nullptr;
  // Four callbacks per latency: left to itself the ALSA host calls back every few milliseconds,
  // and each call wakes the sound server's client thread too.
  const auto framesPerCallback = static_cast<unsigned long>(
      std::max(1.0, setup_.latencySeconds * format_.nSamplesPerSec / kCallbacksPerLatency));
  PaError error = Pa_OpenStream(&stream, nullptr, &parameters, format_.nSamplesPerSec,
                                framesPerCallback, paClipOff, &StreamCallback, this);
  if (error != paNoError) return ResultFor(error);
  if (const PaStreamInfo* info = Pa_GetStreamInfo(stream)) latencySeconds_ = info->outputLatency;
  error = Pa_StartStream(stream);
  if (error != paNoError) {
    Pa_CloseStream(stream);
    return ResultFor(error);
  }
  std::lock_guard<std::mutex> streamLock(streamMutex_);
  stream_ = stream;
  return MMSYSERR_NOERROR;
}

MMRESULT PortAudioOutput::CloseBackend() {
  std::lock_guard<std::mutex> lock(PortAudioHost::Instance().Lock());
  std::lock_guard<std::mutex> streamLock(streamMutex_);
  if (stream_ == nullptr) return MMSYSERR_NOERROR;
  Pa_StopStream(stream_);  // lets what was handed to the host play out
  const PaError error = Pa_CloseStream(stream_);
  stream_ = nullptr;
  return ResultFor(error);
}

void PortAudioOutput::SetBackendPaused(bool paused) {
  paused_.store(paused, std::memory_order_release);
}

void PortAudioOutput::WithConsumerHalted(const std::function<void()>& work) {
  std::lock_guard<std::mutex> lock(PortAudioHost::Instance().Lock());
  // Aborting returns only once the callback has finished, and drops what is in flight. The
  // stream lock is not held over `work`, which takes the position's lock.
  bool running = false;
  {
    std::lock_guard<std::mutex> streamLock(streamMutex_);
    running = stream_ != nullptr && Pa_IsStreamActive(stream_) == 1;
    if (running) Pa_AbortStream(stream_);
  }
  work();
  if (running) {
    std::lock_guard<std::mutex> streamLock(streamMutex_);
    Pa_StartStream(stream_);
  }
}

std::uint64_t PortAudioOutput::BackendHeardFrames() {
  std::uint64_t framesEnd = 0;
  double heardEnd = 0;
  for (int tries = 0; tries < kSnapshotTries; ++tries) {
    const std::uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) continue;
    framesEnd = framesEnd_.load(std::memory_order_acquire);
    heardEnd = heardEnd_.load(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_acquire) == before) break;
  }
  double now = 0;
  {
    std::lock_guard<std::mutex> streamLock(streamMutex_);
    if (stream_ != nullptr) now = Pa_GetStreamTime(stream_);
  }
  const double rate = format_.nSamplesPerSec;
  const double aheadSeconds = now > 0 ? heardEnd - now : latencySeconds_;
  if (aheadSeconds <= 0) return framesEnd;
  const double aheadFrames = std::ceil(aheadSeconds * rate);
  return aheadFrames >= static_cast<double>(framesEnd)
             ? 0
             : framesEnd - static_cast<std::uint64_t>(aheadFrames);
}

void PortAudioOutput::ResetBackendPosition() {
  Publish(0, 0);
}

void PortAudioOutput::Publish(std::uint64_t framesEnd, double heardEnd) {
  sequence_.fetch_add(1, std::memory_order_acq_rel);
  framesEnd_.store(framesEnd, std::memory_order_release);
  heardEnd_.store(heardEnd, std::memory_order_release);
  sequence_.fetch_add(1, std::memory_order_acq_rel);
}

void PortAudioOutput::OnAudio(void* output, unsigned long frames, double dacTime,
                              double currentTime) {
  const std::size_t blockAlign = format_.nBlockAlign;
  const std::size_t outFrameBytes = setup_.duplicateMono ? blockAlign * 2 : blockAlign;
  char* out = static_cast<char*>(output);
  std::size_t got = 0;
  if (!paused_.load(std::memory_order_acquire)) got = Consume(out, frames * blockAlign);
  const std::size_t realFrames = got / blockAlign;
  std::size_t filled = got;
  if (setup_.duplicateMono) {
    // Spread the mono samples over both channels, from the end so nothing is overwritten early.
    for (std::size_t frame = realFrames; frame-- > 0;) {
      std::memmove(out + frame * outFrameBytes + blockAlign, out + frame * blockAlign, blockAlign);
      std::memmove(out + frame * outFrameBytes, out + frame * blockAlign, blockAlign);
    }
    filled = realFrames * outFrameBytes;
  }
  const int silence = format_.wBitsPerSample == 8 ? 0x80 : 0;
  std::memset(out + filled, silence, frames * outFrameBytes - filled);

  if (realFrames > 0) {
    const double start = dacTime > 0 ? dacTime : currentTime + latencySeconds_;
    Publish(ConsumedBytes() / blockAlign,
            start + static_cast<double>(realFrames) / format_.nSamplesPerSec);
  }
}

}  // namespace platform
