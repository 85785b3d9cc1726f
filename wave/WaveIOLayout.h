// The layout of a WAVE file that the reading and the writing side of the wave I/O layer share:
// the sizes of its fixed parts, and positioned access through the file layer.
// Threading: as the handle it is used on.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/ByteOrder.h"
#include "stream/WaveFormat.h"
#include "wave/RiffIO.h"

namespace wave::layout {

// The fixed part of a format record: 18 bytes in a "fmt " chunk and in memory alike.
constexpr std::size_t kFormatRecordBytes = sizeof(stream::TWaveFormatEx);
constexpr std::uint64_t kChunkHeaderBytes = 8;
constexpr std::uint64_t kFactChunkSize = 12;
// "RF64", 0xFFFFFFFF, "WAVE", then "ds64" with its 28 bytes: RIFF size, data size and sample
// count (64-bit each) and an empty table of further chunk sizes.
constexpr std::uint32_t kDs64Size = 28;
constexpr std::uint64_t kDs64RiffSizeAt = 0;
constexpr std::uint64_t kDs64DataSizeAt = 8;
constexpr std::uint64_t kDs64SampleCountAt = 16;

inline bool ReadExactly(HMMIO file, void* buffer, std::int64_t count) {
  return platform::mmioRead(file, buffer, count) == count;
}

inline bool SeekTo(HMMIO file, std::uint64_t offset) {
  return platform::mmioSeek(file, static_cast<std::int64_t>(offset), platform::SEEK_FROM_START) ==
         static_cast<std::int64_t>(offset);
}

inline std::uint64_t ReadU64(const void* data) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  return platform::ReadU32(b) | std::uint64_t{platform::ReadU32(b + 4)} << 32;
}

inline std::uint32_t LowU32(std::int64_t value) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, 0xFFFFFFFF));
}

}  // namespace wave::layout
