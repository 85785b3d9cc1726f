// The base of the sound components that drive a chain without a playback device (the trigger
// and the synchronous driver): one block at a time, no device, no product name, both links
// published, and blocks pulled whole from upstream.
// Threading: construction on the main thread; BufferLoad on the thread that moves the blocks.
#pragma once

#include <cstdint>
#include <string>

#include "stream/SoundComponent.h"

namespace stream {

class TMMDevicelessDriver : public TMMCustomSoundComponent {
 public:
  static constexpr std::int32_t kMinBufferSize = 32;

  // `callBackMode` is the thread the driver moves its blocks on, as GetCallBackMode reports it.
  TMMDevicelessDriver(TComponent* owner, TMMCBMode callBackMode);

  // There is no device to choose or name, and one block only.
  void SetNumBuffers(std::int32_t) override {}
  std::int32_t GetNumBuffers() const override { return 1; }
  void SetDeviceID(TMMDeviceId) override {}
  TMMDeviceId GetDeviceID() const override { return InvalidId; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return {}; }
  void SetCallBackMode(TMMCBMode) override {}
  TMMCBMode GetCallBackMode() const override { return callBackMode_; }

  // A driver accepts no pushed blocks.
  void BufferReady(PWaveHdr) override {}
  // Asks upstream for a whole block of BufferSize bytes; dwBufferLength is then what came.
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  const TMMCBMode callBackMode_;
};

}  // namespace stream
