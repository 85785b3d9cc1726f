// The ADPCM decoding stage of the audio file source. It passes PCM and MPEG formats and blocks
// through unchanged. For a compressed WAVE format it cannot deliver PCM itself: it says so
// through its enabled state and passes the data on, so that the PCM converter behind it decodes
// them through the compression manager.
// Threading: main thread for formats and state; BufferLoad on the driving worker (pass-through).
#pragma once

#include "stream/DSPComponent.h"

namespace sources {

class TMMADPCMStage : public stream::TMMDSPComponent {
 public:
  explicit TMMADPCMStage(stream::TComponent* owner) : stream::TMMDSPComponent(owner) {
    PublishLinks(true, true);
  }

  // Whether this stage can deliver PCM for `format`: PCM passes through as it is.
  static bool CanDeliverPCM(const stream::TWaveFormatEx* format) {
    return format != nullptr && format->wFormatTag == stream::WAVE_FORMAT_PCM;
  }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

 private:
  bool enabled_ = true;
};

}  // namespace sources
