// Global-heap stand-in: plain blocks from the C heap with the flags callers pass.
#pragma once

#include <cstddef>

namespace platform {

constexpr unsigned kGMemFixed = 0x0000;
constexpr unsigned kGMemMoveable = 0x0002;
constexpr unsigned kGMemZeroInit = 0x0040;
constexpr unsigned kGHnd = kGMemMoveable | kGMemZeroInit;

// Returns a block of `size` bytes (zero-filled with kGMemZeroInit), or nullptr when the heap is
// exhausted. Any thread.
void* GlobalAlloc(unsigned flags, std::size_t size) noexcept;
// Releases a block from GlobalAlloc; nullptr is ignored. Any thread.
void GlobalFree(void* block) noexcept;

}  // namespace platform
