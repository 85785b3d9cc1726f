#include "playback/Pitch.h"

#include <algorithm>

namespace playback {

TMMPitch::TMMPitch(stream::TComponent* owner) : stream::TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

std::int32_t TMMPitch::RateForPitch(float pitch) {
  const double p = std::clamp(pitch, kMinPitch, kMaxPitch);
  return static_cast<std::int32_t>((p + 50.0) * 65536.0 / 100.0 + 32768.0);
}

void TMMPitch::SetPitch(float value) {
  pitch_ = std::clamp(value, kMinPitch, kMaxPitch);
  rate_ = RateForPitch(pitch_);
}

void TMMPitch::BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  // No samples are ever held back, so every rate reads straight from the Input.
  stream::TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
}

}  // namespace playback
