// Test chain parts for the trigger: a source that delivers a set number of blocks of counting
// bytes, and a sink that records what reaches it and on which thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "stream/DSPComponent.h"

namespace stream::test {

inline TWaveFormatEx Pcm16Stereo44k() {
  return TWaveFormatEx{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

// Byte i of the stream is i mod 251, so a lost, repeated or reordered block shows.
inline std::uint8_t CountingByte(std::uint64_t index) {
  return static_cast<std::uint8_t>(index % 251);
}

class BlockSource : public TMMDSPComponent {
 public:
  BlockSource(int blocks, std::uint32_t blockBytes, TComponent* owner = nullptr)
      : TMMDSPComponent(owner), blocks_(blocks), blockBytes_(blockBytes) {
    PublishLinks(false, true);
    const TWaveFormatEx format = Pcm16Stereo44k();
    SetPWaveFormat(&format);
  }

  void BufferLoad(PWaveHdr hdr, bool& more) override {
    const int load = ++loads_;
    if (load == failAtLoad)
      throw std::runtime_error("source failed at load " + std::to_string(load));
    if (load == emptyAtLoad) {
      hdr->dwBytesRecorded = 0;
      more = true;  // announces more data than it delivers
      return;
    }
    if (delivered_ >= blocks_) return;
    const std::uint32_t n = std::min(hdr->dwBufferLength, blockBytes_);
    auto* data = reinterpret_cast<std::uint8_t*>(hdr->Data());
    for (std::uint32_t i = 0; i < n; ++i) data[i] = CountingByte(nextByte_++);
    hdr->dwBytesRecorded = n;
    more = ++delivered_ < blocks_;
  }

  int Loads() const { return loads_; }
  int Delivered() const { return delivered_; }

  int failAtLoad = 0;   // throw on this load (1-based)
  int emptyAtLoad = 0;  // deliver nothing but announce more on this load

 private:
  const int blocks_;
  const std::uint32_t blockBytes_;
  std::atomic<int> loads_{0};
  std::atomic<int> delivered_{0};
  std::uint64_t nextByte_ = 0;
};

class RecordingSink : public TMMDSPComponent {
 public:
  explicit RecordingSink(TComponent* owner = nullptr) : TMMDSPComponent(owner) {
    PublishLinks(true, false);
  }

  void BufferReady(PWaveHdr hdr) override {
    if (beforeBlock) beforeBlock(hdr);  // may block or throw; the block then counts as not taken
    std::lock_guard lock(mutex_);
    data_.insert(data_.end(), hdr->Data(), hdr->Data() + hdr->dwBytesRecorded);
    threads_.push_back(std::this_thread::get_id());
    ++blocks_;
  }

  int Blocks() const { return blocks_; }
  std::vector<std::uint8_t> Data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }

  std::function<void(PWaveHdr)> beforeBlock;  // set before the chain starts

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> data_;
  std::vector<std::thread::id> threads_;
  std::atomic<int> blocks_{0};
};

// Whether `data` is the counting sequence from its first byte on.
inline bool IsCountingSequence(const std::vector<std::uint8_t>& data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] != CountingByte(i)) return false;
  }
  return true;
}

}  // namespace stream::test
