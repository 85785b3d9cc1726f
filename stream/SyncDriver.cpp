#include "stream/SyncDriver.h"

#include <cstring>

#include "platform/GlobalMemory.h"
#include "stream/TimeConversions.h"

namespace stream {

TMMSyncDriver::TMMSyncDriver(TComponent* owner) : TMMDevicelessDriver(owner, cmCallback) {}

TMMSyncDriver::~TMMSyncDriver() {
  Destroying();
  if (Opened()) TMMCustomSoundComponent::Close();
}

void TMMSyncDriver::SetBufferSize(std::int32_t value) {
  TMMDevicelessDriver::SetBufferSize(Max(value, kMinBufferSize));
}

PWaveHdr TMMSyncDriver::TakeBlock() {
  const auto size = static_cast<std::size_t>(GetBufferSize());
  void* block = allocator_.AllocBuffer(platform::kGHnd, size + kWaveHdrSize);
  if (block == nullptr) throw EMMSyncDriverError(kSyncNoMemory);
  auto* hdr = static_cast<PWaveHdr>(block);
  std::memset(hdr, 0, kWaveHdrSize);
  hdr->SetData(static_cast<char*>(block) + kWaveHdrSize);
  return hdr;
}

std::int64_t TMMSyncDriver::Run() {
  if (GetPWaveFormat() == nullptr) throw EMMSyncDriverError(kSyncInvalidFormat);
  cancel_ = false;
  void* block = nullptr;
  std::int64_t total = 0;
  try {
    TMMCustomSoundComponent::Open();
    TMMCustomSoundComponent::Start();
    PWaveHdr hdr = TakeBlock();
    block = hdr;
    for (bool first = true;; first = false) {
      if (cancel_) throw EMMSyncDriverError(kSyncCancelled);
      bool more = false;
      BufferLoad(hdr, more);
      if (static_cast<std::int32_t>(hdr->dwBytesRecorded) <= 0) {
        if (first) throw EMMSyncDriverError(kSyncNoData);
        throw EMMSyncDriverError(kSyncFillError);
      }
      TMMCustomSoundComponent::BufferReady(hdr);
      total += hdr->dwBytesRecorded;
      if (!more) break;
    }
  } catch (...) {
    allocator_.FreeBuffer(block);
    try {
      TMMCustomSoundComponent::Stop();
      TMMCustomSoundComponent::Close();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  allocator_.FreeBuffer(block);
  TMMCustomSoundComponent::Stop();
  TMMCustomSoundComponent::Close();
  return total;
}

}  // namespace stream
