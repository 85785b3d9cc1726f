// A sound component that runs a whole chain on the calling thread: it opens and starts the
// chain, moves blocks from its Input to its Output as fast as the source delivers them (no pause
// between blocks), then stops and closes the chain. For programs without an event loop and for
// tests; the window uses the trigger.
// Threading: everything on the thread that calls Run; RequestCancel from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "stream/Allocator.h"
#include "stream/DevicelessDriver.h"
#include "stream/MMError.h"

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

class TMMSyncDriver : public TMMDevicelessDriver {
 public:
  explicit TMMSyncDriver(TComponent* owner);
  ~TMMSyncDriver() override;

  // Pumps the chain to its end. Returns the bytes handed downstream. Any failure stops and
  // closes the chain before it is raised again.
  std::int64_t Run();
  // Makes a running Run stop after the current block with kSyncCancelled.
  void RequestCancel() { cancel_ = true; }

  void SetBufferSize(std::int32_t value) override;

 private:
  PWaveHdr TakeBlock();

  TMMAllocator allocator_;
  std::atomic<bool> cancel_{false};
};

}  // namespace stream
