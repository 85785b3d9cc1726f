// The IEEE float and extensible format tags, and the extensible record: the 18-byte format
// record (tag 0xFFFE, cbSize 22) followed by the valid bits per sample, the speakers of the
// channels and a sub-format GUID that says how the samples are coded. Writers use it for PCM
// wider than 16 bits, for more than two channels and for float. Header only: the audio file
// source builds such records too.
#ifndef QUELBARIN_ACM_EXTENSIBLEFORMAT_H
#define QUELBARIN_ACM_EXTENSIBLEFORMAT_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "acm/msacm.h"

namespace acm {

inline constexpr std::uint16_t kWaveFormatIeeeFloat = 0x0003;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;
inline constexpr std::uint16_t kExtensibleExtraBytes = 22;

// A GUID as a file stores it: the first three fields little-endian, then eight single bytes.
using Guid = std::array<std::uint8_t, 16>;
inline constexpr Guid kSubFormatPcm = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
inline constexpr Guid kSubFormatIeeeFloat = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Where the fields lie in the extra bytes.
inline constexpr std::size_t kValidBitsOffset = 0;
inline constexpr std::size_t kChannelMaskOffset = 2;
inline constexpr std::size_t kSubFormatOffset = 6;

#pragma pack(push, 1)
// The whole record in memory, for passing where a format record is taken (little-endian host).
struct ExtensibleRecord {
  ACMWAVEFORMATEX format;
  std::uint16_t wValidBitsPerSample;
  std::uint32_t dwChannelMask;  // 0: no speaker positions given
  Guid subFormat;
};
#pragma pack(pop)
static_assert(sizeof(ExtensibleRecord) == sizeof(ACMWAVEFORMATEX) + kExtensibleExtraBytes);
static_assert(offsetof(ExtensibleRecord, wValidBitsPerSample) ==
              sizeof(ACMWAVEFORMATEX) + kValidBitsOffset);
static_assert(offsetof(ExtensibleRecord, subFormat) == sizeof(ACMWAVEFORMATEX) + kSubFormatOffset);

// The extensible record of the samples that `plain` (a PCM or float record) describes: same
// channels, rate, block size and bits, all bits valid, no speaker positions.
inline ExtensibleRecord makeExtensible(const ACMWAVEFORMATEX& plain, const Guid& subFormat) {
  ExtensibleRecord record{};
  record.format = plain;
  record.format.wFormatTag = kWaveFormatExtensible;
  record.format.cbSize = kExtensibleExtraBytes;
  record.wValidBitsPerSample = plain.wBitsPerSample;
  record.dwChannelMask = 0;
  record.subFormat = subFormat;
  return record;
}

}  // namespace acm

#endif  // QUELBARIN_ACM_EXTENSIBLEFORMAT_H
