// Silence in a format's own terms: the value of a silent byte, and the short block of silence
// that stands in for audio where a block must not be empty (the end of a stream that ran dry,
// a failed block that was handled, a "data" chunk that would otherwise stay empty).
// Threading: no state; any thread.
#pragma once

#include <cstdint>
#include <cstring>

#include "stream/WaveFormat.h"
#include "stream/WaveHdr.h"

namespace wave {

// Bytes of the short block of silence.
constexpr std::uint32_t kSilenceTailBytes = 4;

// 128 for 8-bit PCM, whose samples are unsigned bytes centred at 128; 0 for every other format
// and for none.
inline std::uint8_t SilenceByte(const stream::TWaveFormatEx* format) {
  const bool unsigned8 = format != nullptr && format->wFormatTag == stream::WAVE_FORMAT_PCM &&
                         format->wBitsPerSample == 8;
  return unsigned8 ? 128 : 0;
}

// Fills `count` bytes at `data` with the silence of `format`; returns count.
inline std::uint32_t FillSilence(const stream::TWaveFormatEx* format, void* data,
                                 std::uint32_t count) {
  std::memset(data, SilenceByte(format), count);
  return count;
}

// Makes `hdr` the short block of silence: as much of kSilenceTailBytes as the block holds.
inline void SetSilenceTail(const stream::TWaveFormatEx* format, stream::TWaveHdr* hdr) {
  const std::uint32_t count =
      hdr->dwBufferLength < kSilenceTailBytes ? hdr->dwBufferLength : kSilenceTailBytes;
  hdr->dwBytesRecorded = FillSilence(format, hdr->Data(), count);
}

}  // namespace wave
