// The ADPCM decoding stage of the audio file source. It passes PCM and MPEG formats and blocks
// through unchanged. For a compressed WAVE format it cannot deliver PCM itself: it says so
// through its enabled state and passes the data on, so that the PCM converter behind it decodes
// them through the compression manager. PCM of 24 or 32 bits is handled the same way: the
// converter narrows it to 16 bits.
// Threading: main thread for formats and state; BufferLoad on the driving worker (pass-through).
#pragma once

#include "stream/DSPComponent.h"

namespace sources {

class TMMADPCMStage : public stream::TMMDSPComponent {
 public:
  explicit TMMADPCMStage(stream::TComponent* owner) : stream::TMMDSPComponent(owner) {
    PublishLinks(true, true);
  }

  // PCM of 24 or 32 bits in a plain record, which no PCM consumer takes as it is.
  static bool IsWidePCM(const stream::TWaveFormatEx* format) {
    return format != nullptr && format->wFormatTag == stream::WAVE_FORMAT_PCM &&
           (format->wBitsPerSample == 24 || format->wBitsPerSample == 32) &&
           format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8;
  }

  // Whether this stage can deliver PCM for `format`: PCM of other widths passes through as it is.
  static bool CanDeliverPCM(const stream::TWaveFormatEx* format) {
    return format != nullptr && format->wFormatTag == stream::WAVE_FORMAT_PCM && !IsWidePCM(format);
  }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

 private:
  bool enabled_ = true;
};

}  // namespace sources
