// Little-endian fields and samples, assembled byte by byte: blocks and chunk bodies come from
// files and devices at any alignment, and the order stays little-endian whatever the host.
#pragma once

#include <array>
#include <cstdint>

namespace wave {

inline std::int32_t ReadS16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

inline void WriteS16(std::uint8_t* p, std::int32_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  p[0] = static_cast<std::uint8_t>(bits & 0xFF);
  p[1] = static_cast<std::uint8_t>(bits >> 8);
}

inline std::uint32_t ReadU32(const void* data) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// The four bytes of a 32-bit field in file order.
inline std::array<std::uint8_t, 4> U32Bytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace wave
