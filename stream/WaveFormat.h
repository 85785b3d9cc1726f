// The wave format record (the platform's WAVEFORMATEX layout) and its owned copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace stream {

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct TWaveFormatEx {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;  // extra bytes that follow the 18-byte record (not for PCM)
};
#pragma pack(pop)

using PWaveFormatEx = TWaveFormatEx*;

static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(offsetof(TWaveFormatEx, nSamplesPerSec) == 4);
static_assert(offsetof(TWaveFormatEx, nAvgBytesPerSec) == 8);
static_assert(offsetof(TWaveFormatEx, nBlockAlign) == 12);
static_assert(offsetof(TWaveFormatEx, wBitsPerSample) == 14);
static_assert(offsetof(TWaveFormatEx, cbSize) == 16);

struct WaveFormatDeleter {
  void operator()(TWaveFormatEx* format) const noexcept;
};
// A format record owned by its holder, in a global-heap block of WaveFormatSize bytes.
using WaveFormatPtr = std::unique_ptr<TWaveFormatEx, WaveFormatDeleter>;

// 0 for no record; 18 for PCM; otherwise 18 + cbSize.
std::size_t WaveFormatSize(const TWaveFormatEx* format);

// A zero-initialised byte copy of `format` (null for null); a PCM copy gets cbSize 0.
// Throws std::bad_alloc when the heap is exhausted.
WaveFormatPtr CopyWaveFormat(const TWaveFormatEx* format);

// The extra bytes after the 18-byte record.
inline const std::uint8_t* WaveFormatExtra(const TWaveFormatEx* format) {
  return reinterpret_cast<const std::uint8_t*>(format) + sizeof(TWaveFormatEx);
}

}  // namespace stream
