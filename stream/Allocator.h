// Block pool: hands out global-heap blocks and keeps freed ones for reuse.
// Threading: any thread; every operation is serialised by the pool's lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace stream {

class TMMAllocator {
 public:
  TMMAllocator() = default;
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // The first free block of exactly `size` bytes, else the first free block of at least `size`
  // bytes, else a new block allocated with `flags`. nullptr when the heap cannot supply it.
  void* AllocBuffer(unsigned flags, std::size_t size);
  // Returns `block` to the pool and sets it to nullptr; a block the pool does not hold is left
  // as it is. The memory stays in the pool.
  void FreeBuffer(void*& block);
  // Releases every block to the heap.
  void FreeAll();

  std::size_t BlockCount() const;
  std::size_t BlocksInUse() const;

 private:
  struct Block {
    void* memory;
    std::size_t size;
    int useCount;
  };

  mutable std::mutex mutex_;
  std::vector<Block> blocks_;
};

}  // namespace stream
