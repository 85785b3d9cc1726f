// The play position: the device's sample counter, its wraps, and where the current run began.
#include <cstdint>

#include "playback/WaveOut.h"
#include "playback/WaveOutTexts.h"

namespace playback {
namespace {

// The device's sample counter is taken to have wrapped when it falls back by this much.
constexpr std::uint32_t kWrapThreshold = 0xFFFF;

}  // namespace

std::uint32_t TMMWaveOut::DevicePosition() {
  platform::HWAVEOUT device = device_;
  const stream::TWaveFormatEx* format = GetPWaveFormat();
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
  Check(result, waveout_text::kPrefixPosition);
  if (format->nAvgBytesPerSec == 0) return 0;
  const std::uint64_t bytes = time.u.cb;
  return static_cast<std::uint32_t>((bytes * format->nSamplesPerSec + format->nAvgBytesPerSec / 2) /
                                    format->nAvgBytesPerSec);
}

void TMMWaveOut::NotePosition(std::uint32_t position) {
  std::lock_guard lock(mutex_);
  if (position < lastPosition_ && lastPosition_ - position >= kWrapThreshold) {
    wrapValue_ = (lastPosition_ & 0xFFF00000u) | 0xFFFFFu;
    ++wrapCount_;
  }
  lastPosition_ = position;
}

void TMMWaveOut::ClearPositionLocked() {
  positionOffset_ = 0;
  loopStart_ = 0;
  lastPosition_ = 0;
  wrapCount_ = 0;
  wrapValue_ = 0;
}

std::int64_t TMMWaveOut::GetPosition() {
  const stream::TWaveFormatEx* format = GetPWaveFormat();
  if (!HasState(wsOpen) || format == nullptr || format->nSamplesPerSec == 0) return 0;
  {
    std::lock_guard lock(mutex_);
    if (closeState_ == CloseState::kAfterStop) return 0;
  }
  const std::int64_t device = DevicePosition();
  std::int64_t samples = 0;
  {
    std::lock_guard lock(mutex_);
    samples =
        device + positionOffset_ + static_cast<std::int64_t>(wrapCount_) * wrapValue_ - loopStart_;
  }
  switch (timeFormat_.load()) {
    case stream::tfMillisecond:
      return samples * 1000 / format->nSamplesPerSec;
    case stream::tfByte: {
      std::int64_t bytes = samples * format->nAvgBytesPerSec / format->nSamplesPerSec;
      const std::int64_t align = format->nBlockAlign;
      if (align > 1 && bytes % align != 0) bytes += align - bytes % align;
      return bytes;
    }
    case stream::tfSample:
    default:
      return samples;
  }
}

}  // namespace playback
