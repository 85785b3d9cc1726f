#include "stream/DevicelessDriver.h"

namespace stream {

TMMDevicelessDriver::TMMDevicelessDriver(TComponent* owner, TMMCBMode callBackMode)
    : TMMCustomSoundComponent(owner), callBackMode_(callBackMode) {
  PublishLinks(true, true);
}

void TMMDevicelessDriver::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  lpWaveHdr->dwBufferLength = static_cast<std::uint32_t>(GetBufferSize());
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->Looping = 0;
  TMMCustomSoundComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
}

}  // namespace stream
