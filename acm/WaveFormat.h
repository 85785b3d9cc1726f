// Owned copies of wave format records and the PCM format rules shared by the drivers.
#ifndef QUELBARIN_ACM_WAVEFORMAT_H
#define QUELBARIN_ACM_WAVEFORMAT_H

#include <cstdint>
#include <vector>

#include "acm/msacm.h"

namespace acm {

// The 18 bytes of the format record come first.
inline constexpr std::uint32_t kFormatHeaderBytes = sizeof(ACMWAVEFORMATEX);
static_assert(kFormatHeaderBytes == 18, "the format record is packed");

// A wave format together with the cbSize extra bytes that follow its record. For PCM the extra
// bytes are never read: cbSize has no meaning there and is kept at 0.
struct WaveFormat {
  ACMWAVEFORMATEX header{};
  std::vector<std::uint8_t> extra;

  // Copies a caller's record (and, for tags other than PCM, the cbSize bytes after it).
  static WaveFormat read(const ACMWAVEFORMATEX& record);

  // Size of the record written by write().
  std::uint32_t byteSize() const {
    return kFormatHeaderBytes + static_cast<std::uint32_t>(extra.size());
  }
  // Writes the record and its extra bytes; `destination` must hold byteSize() bytes.
  void write(ACMWAVEFORMATEX* destination) const;

  bool isPcm() const { return header.wFormatTag == WAVE_FORMAT_PCM_TAG; }
};

// The PCM formats the drivers handle: 8 or 16 bits, 1 or 2 channels, 4000..100000 Hz.
inline constexpr std::uint32_t kMinRate = 4000;
inline constexpr std::uint32_t kMaxRate = 100000;

bool isSupportedPcmChannels(std::uint32_t channels);
bool isSupportedPcmBits(std::uint32_t bits);
bool isSupportedRate(std::uint32_t rate);

// True for a PCM record within the ranges above whose nBlockAlign is channels × bits / 8.
// nAvgBytesPerSec is not checked: files often carry a wrong one, and nothing depends on it.
bool isSupportedPcm(const ACMWAVEFORMATEX& format);
// The PCM the PCM driver reads as a source: as isSupportedPcm, with 24 and 32 bits as well
// (narrowed to 16 bits before anything else is done to them).
bool isReadablePcmBits(std::uint32_t bits);
bool isReadablePcm(const ACMWAVEFORMATEX& format);

// A consistent PCM record: nBlockAlign and nAvgBytesPerSec derived, cbSize 0.
WaveFormat makePcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);

}  // namespace acm

#endif  // QUELBARIN_ACM_WAVEFORMAT_H
