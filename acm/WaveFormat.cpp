#include "acm/WaveFormat.h"

#include <cstring>

namespace acm {

WaveFormat WaveFormat::read(const ACMWAVEFORMATEX& record) {
  WaveFormat format;
  std::memcpy(&format.header, &record, kFormatHeaderBytes);
  if (format.isPcm()) {
    format.header.cbSize = 0;
  } else if (format.header.cbSize > 0) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record) + kFormatHeaderBytes;
    format.extra.assign(bytes, bytes + format.header.cbSize);
  }
  return format;
}

void WaveFormat::write(ACMWAVEFORMATEX* destination) const {
  ACMWAVEFORMATEX record = header;
  record.cbSize = static_cast<std::uint16_t>(extra.size());
  std::memcpy(destination, &record, kFormatHeaderBytes);
  if (!extra.empty()) {
    std::memcpy(reinterpret_cast<std::uint8_t*>(destination) + kFormatHeaderBytes, extra.data(),
                extra.size());
  }
}

bool isSupportedPcmChannels(std::uint32_t channels) {
  return channels == 1 || channels == 2;
}

bool isSupportedPcmBits(std::uint32_t bits) {
  return bits == 8 || bits == 16;
}

bool isSupportedRate(std::uint32_t rate) {
  return rate >= kMinRate && rate <= kMaxRate;
}

bool isSupportedPcm(const ACMWAVEFORMATEX& format) {
  return format.wFormatTag == WAVE_FORMAT_PCM_TAG && isSupportedPcmChannels(format.nChannels) &&
         isSupportedPcmBits(format.wBitsPerSample) && isSupportedRate(format.nSamplesPerSec) &&
         format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

bool isReadablePcmBits(std::uint32_t bits) {
  return isSupportedPcmBits(bits) || bits == 24 || bits == 32;
}

bool isReadablePcm(const ACMWAVEFORMATEX& format) {
  return format.wFormatTag == WAVE_FORMAT_PCM_TAG && isSupportedPcmChannels(format.nChannels) &&
         isReadablePcmBits(format.wBitsPerSample) && isSupportedRate(format.nSamplesPerSec) &&
         format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

WaveFormat makePcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  WaveFormat format;
  format.header.wFormatTag = WAVE_FORMAT_PCM_TAG;
  format.header.nChannels = channels;
  format.header.nSamplesPerSec = rate;
  format.header.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.header.nAvgBytesPerSec = format.header.nBlockAlign * rate;
  format.header.wBitsPerSample = bits;
  format.header.cbSize = 0;
  return format;
}

}  // namespace acm
