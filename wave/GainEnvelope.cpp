#include "wave/GainEnvelope.h"

#include <atomic>
#include <limits>

#include "platform/ByteOrder.h"

namespace wave {

namespace {

std::atomic<bool> gOverflow{false};

// One channel of one segment: `samples` samples `stride` bytes apart, ramped from gain g0
// towards g1 over `frames` frames. Returns the gain reached after the last sample.
struct ChannelRamp {
  std::uint8_t* data;
  std::int64_t samples;
  std::int64_t stride;
  bool eightBit;
  std::int32_t g0;
  std::int32_t g1;
  std::int64_t frames;
};

inline bool FitsInt32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

// Scales one sample by g/65536 in place; false when the 32-bit product overflowed and the
// sample was saturated instead.
inline bool ScaleSample(std::uint8_t* p, bool eightBit, std::int64_t g) {
  if (eightBit) {
    const std::int32_t s = p[0] - 128;
    const std::int64_t product = static_cast<std::int64_t>(s * 256) * g;
    if (!FitsInt32(product)) {
      p[0] = s >= 0 ? 255 : 0;
      return false;
    }
    p[0] = static_cast<std::uint8_t>((product >> 24) + 128);
    return true;
  }
  const std::int32_t s = platform::ReadS16(p);
  const std::int64_t product = static_cast<std::int64_t>(s) * g;
  if (!FitsInt32(product)) {
    platform::WriteS16(p, s >= 0 ? 32767 : -32768);
    return false;
  }
  platform::WriteS16(p, static_cast<std::int32_t>(product >> 16));
  return true;
}

std::int32_t RunChannel(const ChannelRamp& c, bool& overflow) {
  if (c.g0 == kUnityGain && c.g1 == kUnityGain) return kUnityGain;
  if (c.g0 == 0 && c.g1 == 0) {
    for (std::int64_t k = 0; k < c.samples; ++k) {
      std::uint8_t* p = c.data + k * c.stride;
      if (c.eightBit) {
        p[0] = 128;
      } else {
        p[0] = 0;
        p[1] = 0;
      }
    }
    return 0;
  }
  // A segment shorter than a frame holds no whole sample: its end gain is reached at once.
  if (c.frames <= 0) return c.g1;

  // G runs in units of 1/65536 so that the 16-bit product needs only a shift by 16. The error
  // term spreads the remainder r evenly over the N frames (it is refilled with N), so every ramp
  // ends exactly on g1 and a following stretch at that gain is left untouched.
  const std::int64_t n = c.frames;
  const std::int64_t diff = c.g1 >= c.g0 ? std::int64_t{c.g1} - c.g0 : std::int64_t{c.g0} - c.g1;
  const std::int64_t q = diff / n;
  const std::int64_t r = diff % n;
  const std::int64_t step = c.g1 >= c.g0 ? 4 : -4;
  std::int64_t g = 4 * std::int64_t{c.g0};
  std::int64_t e = n >> 1;

  for (std::int64_t k = 0; k < c.samples; ++k) {
    if (!ScaleSample(c.data + k * c.stride, c.eightBit, g)) overflow = true;
    if (diff == 0) continue;
    g += step * q;
    e -= r;
    if (e < 0) {
      e += n;
      g += step;
    }
  }
  // Unsigned shift of the 32-bit running gain.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(g) >> 2);
}

}  // namespace

bool ApplyGainEnvelope(const stream::TWaveFormatEx& format, void* data, std::int64_t count,
                       TMMFadeList& list) {
  gOverflow.store(false, std::memory_order_relaxed);
  if (format.wFormatTag != stream::WAVE_FORMAT_PCM || data == nullptr) return false;

  const bool eightBit = format.wBitsPerSample == 8;
  const bool mono = format.nChannels == 1;
  const std::int64_t sampleBytes = eightBit ? 1 : 2;
  const std::int64_t frameBytes = mono ? sampleBytes : 2 * sampleBytes;
  const int frameShift = (eightBit ? 0 : 1) + (mono ? 0 : 1);

  bool overflow = false;
  auto* p = static_cast<std::uint8_t*>(data);
  list.CurrentIndex = FindPointIndex(list, list.CurrentPosition) - 1;
  if (list.CurrentIndex < 0) list.CurrentIndex = 0;

  while (count > 0 && list.CurrentIndex < list.Count()) {
    const TMMFadePoint& point = list[list.CurrentIndex];
    const std::int64_t distance = point.Position - list.CurrentPosition;
    const std::int64_t n = count < distance ? count : distance;
    if (n > 0) {
      const std::int64_t frames = distance >> frameShift;
      const std::int64_t samples = n / frameBytes;
      list.CurrentLeft = RunChannel(
          {p, samples, frameBytes, eightBit, list.CurrentLeft, point.LeftGain, frames}, overflow);
      if (!mono) {
        list.CurrentRight = RunChannel({p + sampleBytes, samples, frameBytes, eightBit,
                                        list.CurrentRight, point.RightGain, frames},
                                       overflow);
      }
      p += n;
      count -= n;
      list.CurrentPosition += n;
    }
    if (list.CurrentPosition >= point.Position) ++list.CurrentIndex;
  }

  if (overflow) gOverflow.store(true, std::memory_order_relaxed);
  return overflow;
}

bool GainOverflowed() {
  return gOverflow.load(std::memory_order_relaxed);
}

}  // namespace wave
