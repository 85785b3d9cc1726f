// The blocks a connector keeps for its meters and which of their slices may be shown. Each
// block is cut into slices (one meter window each) from its start. With a clock, slice k of a
// block falls due when the block has played for as long as the bytes before the slice last;
// a block that arrives keeping the due slices of the one before leaves those that fell due
// before it came to be shown first, in order, so a refresh that comes late shows every slice
// the device has played since the last one. Without a clock each take shows the next slice,
// and a block that arrives without keeping replaces the ones before.
// Threading: none of its own; the connector uses it under its lock.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace meters {

class TMMSliceQueue {
 public:
  // Replaced blocks kept for their due slices beyond this are dropped, oldest first.
  static constexpr std::size_t kMaxKeptBlocks = 8;

  // Forgets every block and the buffers kept for reuse.
  void Clear();
  // Room for the next block: at least `bytes` bytes, which the caller fills before Arrived.
  std::uint8_t* NextBlock(std::size_t bytes);
  // The block filled through NextBlock arrived at `nowUs` with `validBytes` bytes. `keepDue`
  // keeps the current block's remaining due slices (with a clock) instead of dropping them.
  void Arrived(std::int32_t validBytes, std::int64_t nowUs, bool keepDue);
  // The newest block arrives again at `nowUs`, to be shown from its start.
  void Repeat(std::int64_t nowUs, bool keepDue);
  // Overwrites every kept block with `value`.
  void Fill(std::uint8_t value);
  // Forgets every slice still to show; the newest block stays for Repeat.
  void DropPending();

  bool HasBlock() const { return !blocks_.empty(); }
  // Whether some block still has slices to show.
  bool Pending() const;
  // Appends to `out`, in order, the slices of `window` bytes that may be shown at `nowUs` and
  // returns how many: with `bytesPerSecond` > 0 every slice that is due by the clock, with 0
  // the next slice regardless of it. A block whose next slice is cut short (or, replaced, would
  // fall due after its successor arrived) has nothing more to show.
  int Take(std::int64_t nowUs, std::int32_t window, std::int64_t bytesPerSecond,
           std::vector<std::uint8_t>& out);

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::int32_t valid = 0;
    std::int64_t arrivalUs = 0;
    std::int32_t offset = 0;  // where the next slice starts
    bool pending = false;
  };

  // Makes a pending block the newest one; the previous newest is kept only when `keepDue`.
  void Push(Block block, bool keepDue);
  // Drops the blocks before the newest one that have nothing more to show.
  void Prune();
  std::vector<std::uint8_t> Recycled(std::size_t bytes);

  std::deque<Block> blocks_;                      // oldest first; the last is the newest
  std::vector<std::uint8_t> next_;                // the block being filled
  std::vector<std::vector<std::uint8_t>> spare_;  // buffers of dropped blocks, for reuse
};

}  // namespace meters
