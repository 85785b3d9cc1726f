// A sound component that runs a whole chain on the calling thread: it opens and starts the
// chain, moves blocks from its Input to its Output as fast as the source delivers them (no pause
// between blocks), then stops and closes the chain. For programs without an event loop and for
// tests; the window uses the trigger.
// Threading: everything on the thread that calls Run; RequestCancel from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "stream/Allocator.h"
#include "stream/MMError.h"
#include "stream/SoundComponent.h"

namespace stream {

class EMMSyncDriverError : public EMMError {
 public:
  using EMMError::EMMError;
};

inline constexpr const char* kSyncNoData = "The source delivered no data";
inline constexpr const char* kSyncFillError = "Error filling wave buffer";
inline constexpr const char* kSyncInvalidFormat = "Invalid wave format";
inline constexpr const char* kSyncNoMemory = "Unable to allocate memory for wave header";
inline constexpr const char* kSyncCancelled = "Cancelled";

class TMMSyncDriver : public TMMCustomSoundComponent {
 public:
  static constexpr std::int32_t kMinBufferSize = 32;

  explicit TMMSyncDriver(TComponent* owner);
  ~TMMSyncDriver() override;

  // Pumps the chain to its end. Returns the bytes handed downstream. Any failure stops and
  // closes the chain before it is raised again.
  std::int64_t Run();
  // Makes a running Run stop after the current block with kSyncCancelled.
  void RequestCancel() { cancel_ = true; }

  void SetBufferSize(std::int32_t value) override;
  void BufferReady(PWaveHdr) override {}  // a driver accepts no pushed blocks
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  void SetNumBuffers(std::int32_t) override {}
  std::int32_t GetNumBuffers() const override { return 1; }
  void SetDeviceID(TMMDeviceId) override {}
  TMMDeviceId GetDeviceID() const override { return InvalidId; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return {}; }
  void SetCallBackMode(TMMCBMode) override {}
  TMMCBMode GetCallBackMode() const override { return cmCallback; }

 private:
  PWaveHdr TakeBlock();

  TMMAllocator allocator_;
  std::atomic<bool> cancel_{false};
};

}  // namespace stream
