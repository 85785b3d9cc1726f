#include "meters/SliceQueue.h"

#include <algorithm>
#include <utility>

namespace meters {

namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

}  // namespace

void TMMSliceQueue::Clear() {
  blocks_.clear();
  spare_.clear();
  next_.clear();
  next_.shrink_to_fit();
}

std::vector<std::uint8_t> TMMSliceQueue::Recycled(std::size_t bytes) {
  std::vector<std::uint8_t> buffer;
  if (!spare_.empty()) {
    buffer = std::move(spare_.back());
    spare_.pop_back();
  }
  buffer.resize(bytes);
  return buffer;
}

std::uint8_t* TMMSliceQueue::NextBlock(std::size_t bytes) {
  if (next_.capacity() < bytes) next_ = Recycled(bytes);
  next_.resize(bytes);
  return next_.data();
}

void TMMSliceQueue::Arrived(std::int32_t validBytes, std::int64_t nowUs, bool keepDue) {
  Block block;
  block.bytes = std::move(next_);
  block.valid = std::min(validBytes, static_cast<std::int32_t>(block.bytes.size()));
  block.arrivalUs = nowUs;
  block.pending = true;
  Push(std::move(block), keepDue);
}

void TMMSliceQueue::Repeat(std::int64_t nowUs, bool keepDue) {
  if (blocks_.empty()) return;
  const Block& newest = blocks_.back();
  Block again;
  again.bytes = Recycled(newest.bytes.size());
  std::copy(newest.bytes.begin(), newest.bytes.end(), again.bytes.begin());
  again.valid = newest.valid;
  again.arrivalUs = nowUs;
  again.pending = true;
  Push(std::move(again), keepDue);
}

void TMMSliceQueue::Push(Block block, bool keepDue) {
  while (!blocks_.empty() &&
         (!keepDue || !blocks_.front().pending || blocks_.size() >= kMaxKeptBlocks)) {
    spare_.push_back(std::move(blocks_.front().bytes));
    blocks_.pop_front();
  }
  blocks_.push_back(std::move(block));
}

void TMMSliceQueue::Prune() {
  while (blocks_.size() > 1 && !blocks_.front().pending) {
    spare_.push_back(std::move(blocks_.front().bytes));
    blocks_.pop_front();
  }
}

void TMMSliceQueue::Fill(std::uint8_t value) {
  for (Block& block : blocks_) std::fill(block.bytes.begin(), block.bytes.end(), value);
}

void TMMSliceQueue::DropPending() {
  for (Block& block : blocks_) block.pending = false;
  Prune();
}

bool TMMSliceQueue::Pending() const {
  return std::any_of(blocks_.begin(), blocks_.end(),
                     [](const Block& block) { return block.pending; });
}

int TMMSliceQueue::Take(std::int64_t nowUs, std::int32_t window, std::int64_t bytesPerSecond,
                        std::vector<std::uint8_t>& out) {
  const bool timed = bytesPerSecond > 0;
  int taken = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    Block& block = blocks_[i];
    const Block* successor = i + 1 < blocks_.size() ? &blocks_[i + 1] : nullptr;
    while (block.pending) {
      if (!timed && taken > 0) break;
      if (window <= 0 || block.offset + window > block.valid) {
        block.pending = false;
        break;
      }
      if (timed) {
        const std::int64_t dueUs = block.offset * kMicrosecondsPerSecond / bytesPerSecond;
        if (successor != nullptr && block.arrivalUs + dueUs >= successor->arrivalUs) {
          block.pending = false;  // the device went on to the next block before this slice
          break;
        }
        if (nowUs - block.arrivalUs < dueUs) {
          Prune();
          return taken;  // not heard yet, nor is anything after it
        }
      }
      const auto first = block.bytes.begin() + block.offset;
      out.insert(out.end(), first, first + window);
      block.offset += window;
      ++taken;
    }
  }
  Prune();
  return taken;
}

}  // namespace meters
