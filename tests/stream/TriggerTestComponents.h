// Test chain parts for the trigger: a source that delivers a set number of blocks of counting
// bytes, and a sink that records what reaches it and on which thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/MainThread.h"
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

  void Close() override {
    TMMDSPComponent::Close();
    if (failClose) throw std::runtime_error("the sink could not finish its file");
  }

  std::function<void(PWaveHdr)> beforeBlock;  // set before the chain starts
  bool failClose = false;

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> data_;
  std::vector<std::thread::id> threads_;
  std::atomic<int> blocks_{0};
};

// A source of numbered blocks (each starts with its 32-bit serial) that notices a load
// overlapping another load or a delivery: the trigger has one block, so either overlap means a
// block is handed on while it is being filled. A load on the main thread holds a moment, which
// gives a worker cycle that should not run room to show.
class ProbeSource : public TMMDSPComponent {
 public:
  explicit ProbeSource(TComponent* owner = nullptr) : TMMDSPComponent(owner) {
    PublishLinks(false, true);
    const TWaveFormatEx format = Pcm16Stereo44k();
    SetPWaveFormat(&format);
  }

  void BufferLoad(PWaveHdr hdr, bool& more) override {
    if (loading_.exchange(true)) ++overlaps_;
    const std::uint32_t serial = nextSerial_++;
    std::memset(hdr->Data(), 0, hdr->dwBufferLength);
    std::memcpy(hdr->Data(), &serial, sizeof serial);
    if (holdOnMainThread && platform::IsMainThread()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    hdr->dwBytesRecorded = hdr->dwBufferLength;
    more = true;
    loading_ = false;
  }

  // Called by the sink for each block it takes.
  void CheckDelivery() {
    if (loading_) ++overlaps_;
  }
  int Overlaps() const { return overlaps_; }

  bool holdOnMainThread = true;

 private:
  std::atomic<bool> loading_{false};
  std::atomic<int> overlaps_{0};
  std::atomic<std::uint32_t> nextSerial_{0};
};

// The serials at the start of each `blockBytes` block of `data`.
inline std::vector<std::uint32_t> Serials(const std::vector<std::uint8_t>& data,
                                          std::size_t blockBytes) {
  std::vector<std::uint32_t> serials;
  for (std::size_t at = 0; at + sizeof(std::uint32_t) <= data.size(); at += blockBytes) {
    std::uint32_t serial = 0;
    std::memcpy(&serial, data.data() + at, sizeof serial);
    serials.push_back(serial);
  }
  return serials;
}

// Whether `data` is the counting sequence from its first byte on.
inline bool IsCountingSequence(const std::vector<std::uint8_t>& data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] != CountingByte(i)) return false;
  }
  return true;
}

}  // namespace stream::test
