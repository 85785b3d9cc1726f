// The one way to read and change a buffer header's dwFlags. The device's threads mark a header
// done and take it out of the queue while its owner polls for WHDR_DONE on another thread, so
// every access to the field is atomic. The header is packed, so the field is reached through its
// offset; headers live in 4-byte-aligned blocks, so the field itself is aligned.
// Threading: any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WaveOutApi.h"

namespace platform {

namespace detail {
inline std::uint32_t* WaveHeaderFlagsField(const WAVEHDR* header) {
  return reinterpret_cast<std::uint32_t*>(const_cast<char*>(reinterpret_cast<const char*>(header)) +
                                          offsetof(WAVEHDR, dwFlags));
}
}  // namespace detail

inline std::uint32_t LoadWaveHeaderFlags(const WAVEHDR* header) {
  return __atomic_load_n(detail::WaveHeaderFlagsField(header), __ATOMIC_ACQUIRE);
}

// Sets the bits of `set`, then clears those of `clear`, in one atomic step.
inline void ChangeWaveHeaderFlags(WAVEHDR* header, std::uint32_t set, std::uint32_t clear) {
  std::uint32_t* field = detail::WaveHeaderFlagsField(header);
  std::uint32_t old = __atomic_load_n(field, __ATOMIC_ACQUIRE);
  while (!__atomic_compare_exchange_n(field, &old, (old | set) & ~clear, true, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
  }
}

}  // namespace platform
