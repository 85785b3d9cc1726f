#include "stream/WaveFormat.h"

#include <cstring>
#include <new>

#include "platform/GlobalMemory.h"

namespace stream {

void WaveFormatDeleter::operator()(TWaveFormatEx* format) const noexcept {
  platform::GlobalFree(format);
}

std::size_t WaveFormatSize(const TWaveFormatEx* format) {
  if (format == nullptr) return 0;
  if (format->wFormatTag == WAVE_FORMAT_PCM) return sizeof(TWaveFormatEx);
  return sizeof(TWaveFormatEx) + format->cbSize;
}

WaveFormatPtr CopyWaveFormat(const TWaveFormatEx* format) {
  const std::size_t size = WaveFormatSize(format);
  if (size == 0) return nullptr;
  void* block = platform::GlobalAlloc(platform::kGHnd, size);
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, format, size);
  WaveFormatPtr copy(static_cast<TWaveFormatEx*>(block));
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

}  // namespace stream
