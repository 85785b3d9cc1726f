// The pitch stage of the audio player: sits between the audio file source and the wave output
// and turns its Pitch (percent) into a 16.16 fixed-point playback rate. Only the default rate
// (Pitch 0, rate 65536) is used by this program, where the stage passes audio through
// unchanged; other rates are stored and reported but the audio still passes unchanged, since
// no resampling behaviour is defined for them.
// Threading: Pitch and links on the main thread; BufferLoad on the driving output's thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "stream/DSPComponent.h"

namespace playback {

class TMMPitch : public stream::TMMDSPComponent {
 public:
  static constexpr float kMinPitch = -50.0f;
  static constexpr float kMaxPitch = 50.0f;
  static constexpr float kDefaultPitch = 0.0f;
  static constexpr std::int32_t kUnityRate = 65536;

  explicit TMMPitch(stream::TComponent* owner);

  // Percent, clamped to -50..50.
  void SetPitch(float value);
  float Pitch() const { return pitch_; }
  // truncate((Pitch + 50) x 65536 / 100 + 32768): 32768 at -50, 65536 at 0, 98304 at +50.
  std::int32_t Rate() const { return rate_; }
  static std::int32_t RateForPitch(float pitch);

  // Asks the Input for the block as it is.
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  float pitch_ = kDefaultPitch;
  std::atomic<std::int32_t> rate_{kUnityRate};
};

}  // namespace playback
