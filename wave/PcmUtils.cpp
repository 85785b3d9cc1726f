#include "wave/PcmUtils.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace wave {

namespace {

using stream::TWaveFormatEx;

inline std::int32_t Abs32(std::int32_t v) {
  return v < 0 ? -v : v;
}

// Running peak of one channel: replaced only by a strictly louder sample.
struct Peak {
  std::int32_t magnitude = 0;
  std::int32_t value = 0;

  void Offer(std::int32_t sampleMagnitude, std::int32_t sampleValue) {
    if (sampleMagnitude > magnitude) {
      magnitude = sampleMagnitude;
      value = sampleValue;
    }
  }
};

// How FindCrossing reads one kind of sample and where a level puts its threshold:
// level * levelScale / levelDivisor + centre, truncated toward zero before the centre is added.
struct SampleLayout {
  std::size_t bytes;
  std::int32_t (*read)(const void* p);
  std::int32_t levelScale;
  std::int32_t levelDivisor;
  std::int32_t centre;
};

std::int32_t ReadUnsigned8(const void* p) {
  return *static_cast<const std::uint8_t*>(p);
}

// 8-bit samples, then 16-bit ones (every depth other than 8 is read as 16-bit).
constexpr SampleLayout kSampleLayouts[] = {{1, ReadUnsigned8, 127, 100, 128},
                                           {2, platform::ReadS16, 327, 1, 0}};

inline bool Crosses(std::int32_t a, std::int32_t b, std::int32_t threshold, bool rising) {
  return rising ? (a < threshold && b >= threshold) : (a > threshold && b <= threshold);
}

}  // namespace

bool IsValidPCMFormat(const TWaveFormatEx* format) {
  if (format == nullptr) return false;
  if (format->wFormatTag != stream::WAVE_FORMAT_PCM) return false;
  if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return false;
  if (format->nChannels != 1 && format->nChannels != 2 && format->nChannels != 4) return false;
  return format->nSamplesPerSec >= 4000 && format->nSamplesPerSec <= 100000;
}

void MakePCMFormat(TWaveFormatEx& format, int bits, int channels, std::uint32_t rate) {
  format.wFormatTag = stream::WAVE_FORMAT_PCM;
  format.nChannels = static_cast<std::uint16_t>(channels);
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = static_cast<std::uint16_t>(bits);
  format.nBlockAlign = static_cast<std::uint16_t>((bits * channels) >> 3);
  format.nAvgBytesPerSec = static_cast<std::uint32_t>(format.nBlockAlign) * rate;
  format.cbSize = 0;
}

void FindPeak(std::int16_t& outRight, std::int16_t& outLeft, std::size_t count, const void* data,
              const TWaveFormatEx& format) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  const bool mono = format.nChannels == 1;
  Peak left;
  Peak right;

  if (format.wBitsPerSample == 8) {
    if (mono) {
      for (std::size_t i = 0; i < count; ++i) left.Offer(Abs32(p[i] - 128), p[i]);
    } else {
      const std::size_t n = count & ~std::size_t{1};
      for (std::size_t i = 0; i < n; i += 2) {
        left.Offer(Abs32(p[i] - 128), p[i]);
        right.Offer(Abs32(p[i + 1] - 128), p[i + 1]);
      }
    }
  } else if (mono) {
    const std::size_t n = count & ~std::size_t{1};
    for (std::size_t i = 0; i < n; i += 2) {
      const std::int32_t s = platform::ReadS16(p + i);
      left.Offer(Abs32(s), s);
    }
  } else {
    const std::size_t n = count & ~std::size_t{3};
    for (std::size_t i = 0; i < n; i += 4) {
      const std::int32_t l = platform::ReadS16(p + i);
      const std::int32_t r = platform::ReadS16(p + i + 2);
      left.Offer(Abs32(l), l);
      right.Offer(Abs32(r), r);
    }
  }

  if (mono) right = left;
  outLeft = static_cast<std::int16_t>(left.value);
  outRight = static_cast<std::int16_t>(right.value);
}

std::int64_t FindCrossing(const TWaveFormatEx& format, const void* data, std::size_t count,
                          int level, int mode, int channel) {
  if (count == 0) return -1;
  if (mode != kCrossingRising && mode != kCrossingFalling) return -1;
  const bool rising = mode == kCrossingRising;
  // Clamped so that out-of-range levels cannot overflow; any level beyond full scale already
  // puts the threshold out of reach of every sample.
  std::int32_t lvl = level < -1000 ? -1000 : (level > 1000 ? 1000 : level);
  if (!rising) lvl = -lvl;

  const SampleLayout& layout = kSampleLayouts[format.wBitsPerSample == 8 ? 0 : 1];
  const std::int32_t threshold = lvl * layout.levelScale / layout.levelDivisor + layout.centre;
  const bool mono = format.nChannels == 1;
  // Each channel compares its sample in one frame with its sample in the next; the left one
  // comes first in a frame and is checked first.
  const struct {
    std::size_t offset;
    bool checked;
  } lanes[] = {{0, mono || channel != kCrossingRightChannel},
               {layout.bytes, !mono && channel != kCrossingLeftChannel}};
  const std::size_t frame = mono ? layout.bytes : 2 * layout.bytes;
  const std::size_t n = count - count % frame;  // whole frames only

  const auto* p = static_cast<const std::uint8_t*>(data);
  // The last pair of frames is not examined.
  for (std::size_t i = 0; n > 2 * frame && i < n - 2 * frame; i += frame) {
    for (const auto& lane : lanes) {
      const std::size_t at = i + lane.offset;
      if (lane.checked &&
          Crosses(layout.read(p + at), layout.read(p + at + frame), threshold, rising)) {
        return static_cast<std::int64_t>(at + frame);
      }
    }
  }
  return -1;
}

std::size_t ConvertBits(int dstBits, void* dst, int srcBits, std::size_t count, const void* src) {
  if (dstBits == srcBits) {
    if (count != 0 && dst != src) std::memmove(dst, src, count);
    return count;
  }
  auto* out = static_cast<std::uint8_t*>(dst);
  const auto* in = static_cast<const std::uint8_t*>(src);

  if (srcBits == 16 && dstBits == 8) {
    // Forward: output byte i never lies past input word i, so dst == src is safe.
    const std::size_t n = count / 2;
    for (std::size_t i = 0; i < n; ++i) {
      std::int32_t s = platform::ReadS16(in + 2 * i);
      if (s < 0) s += 255;
      out[i] = static_cast<std::uint8_t>((s >> 8) + 128);
    }
    return n;
  }
  if (srcBits == 8 && dstBits == 16) {
    // Backward: output word i starts at or after input byte i, so dst == src is safe.
    for (std::size_t i = count; i-- > 0;) platform::WriteS16(out + 2 * i, (in[i] - 128) * 256);
    return 2 * count;
  }
  return 0;
}

}  // namespace wave
