#include "stream/Allocator.h"

#include "platform/GlobalMemory.h"

namespace stream {

TMMAllocator::~TMMAllocator() {
  FreeAll();
}

void* TMMAllocator::AllocBuffer(unsigned flags, std::size_t size) {
  std::lock_guard lock(mutex_);
  Block* fit = nullptr;
  for (Block& b : blocks_) {
    if (b.useCount != 0) continue;
    if (b.size == size) {
      fit = &b;
      break;
    }
    if (fit == nullptr && b.size >= size) fit = &b;
  }
  if (fit != nullptr) {
    fit->useCount = 1;
    return fit->memory;
  }
  void* memory = platform::GlobalAlloc(flags, size);
  if (memory == nullptr) return nullptr;
  blocks_.push_back(Block{memory, size, 1});
  return memory;
}

void TMMAllocator::FreeBuffer(void*& block) {
  std::lock_guard lock(mutex_);
  for (Block& b : blocks_) {
    if (b.memory == block) {
      if (b.useCount > 0) --b.useCount;
      block = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  std::lock_guard lock(mutex_);
  for (Block& b : blocks_) platform::GlobalFree(b.memory);
  blocks_.clear();
}

std::size_t TMMAllocator::BlockCount() const {
  std::lock_guard lock(mutex_);
  return blocks_.size();
}

std::size_t TMMAllocator::BlocksInUse() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const Block& b : blocks_) n += b.useCount > 0 ? 1 : 0;
  return n;
}

}  // namespace stream
