#include "platform/GlobalMemory.h"

#include <cstdlib>

namespace platform {

void* GlobalAlloc(unsigned flags, std::size_t size) noexcept {
  if (size == 0) size = 1;  // the platform hands out a valid block for 0 bytes too
  return (flags & kGMemZeroInit) ? std::calloc(1, size) : std::malloc(size);
}

void GlobalFree(void* block) noexcept {
  std::free(block);
}

}  // namespace platform
