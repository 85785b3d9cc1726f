#include "stream/Allocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <vector>

#include "platform/GlobalMemory.h"

namespace stream {
namespace {

using platform::kGHnd;

// Allocates blocks of the given sizes, then returns them all to the pool in the same order.
std::vector<void*> FreeBlocksOf(TMMAllocator& pool, std::initializer_list<std::size_t> sizes) {
  std::vector<void*> blocks;
  for (std::size_t size : sizes) blocks.push_back(pool.AllocBuffer(kGHnd, size));
  for (void* block : blocks) {
    void* p = block;
    pool.FreeBuffer(p);
    EXPECT_EQ(p, nullptr);
  }
  return blocks;
}

TEST(AllocatorTest, AnExactFitWinsOverAnEarlierLargerBlock) {
  TMMAllocator pool;
  const std::vector<void*> blocks = FreeBlocksOf(pool, {200, 100});
  EXPECT_EQ(pool.AllocBuffer(kGHnd, 100), blocks[1]);
  EXPECT_EQ(pool.AllocBuffer(kGHnd, 100), blocks[0]);  // no exact fit left: the larger block

  void* fresh = pool.AllocBuffer(kGHnd, 100);  // nothing free: a new block
  EXPECT_NE(fresh, nullptr);
  EXPECT_NE(fresh, blocks[0]);
  EXPECT_NE(fresh, blocks[1]);
  EXPECT_EQ(pool.BlockCount(), 3u);
  EXPECT_EQ(pool.BlocksInUse(), 3u);
}

TEST(AllocatorTest, WithoutAnExactFitTheFirstLargeEnoughBlockIsTaken) {
  TMMAllocator pool;
  const std::vector<void*> blocks = FreeBlocksOf(pool, {300, 150, 200});
  EXPECT_EQ(pool.AllocBuffer(kGHnd, 120), blocks[0]);
  EXPECT_EQ(pool.AllocBuffer(kGHnd, 160), blocks[2]);
  EXPECT_EQ(pool.AllocBuffer(kGHnd, 100), blocks[1]);
  EXPECT_EQ(pool.BlockCount(), 3u);
}

TEST(AllocatorTest, UnknownBlocksAreLeftAloneAndFreeAllEmptiesThePool) {
  TMMAllocator pool;
  int local = 0;
  void* foreign = &local;
  pool.FreeBuffer(foreign);
  EXPECT_EQ(foreign, &local);

  pool.AllocBuffer(kGHnd, 64);
  pool.AllocBuffer(kGHnd, 64);
  pool.FreeAll();
  EXPECT_EQ(pool.BlockCount(), 0u);
  EXPECT_NE(pool.AllocBuffer(kGHnd, 64), nullptr);
  EXPECT_EQ(pool.BlocksInUse(), 1u);
}

TEST(AllocatorTest, ConcurrentAllocAndFreeNeverShareABlock) {
  TMMAllocator pool;
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int id = 1; id <= 4; ++id) {
    threads.emplace_back([&pool, &clashes, id] {
      std::vector<unsigned char> expected;
      for (int i = 0; i < 2000; ++i) {
        const std::size_t size = 64 + (i % 5) * 32;
        void* block = pool.AllocBuffer(kGHnd, size);
        if (block == nullptr) {
          ++clashes;
          continue;
        }
        std::memset(block, id, size);
        expected.assign(size, static_cast<unsigned char>(id));
        if (std::memcmp(block, expected.data(), size) != 0) ++clashes;
        pool.FreeBuffer(block);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(clashes.load(), 0);
  EXPECT_EQ(pool.BlocksInUse(), 0u);
  // A new block is made only when at most three blocks of that size or larger exist, so no
  // more than four blocks of each of the five sizes can pile up.
  EXPECT_LE(pool.BlockCount(), 20u);
}

}  // namespace
}  // namespace stream
