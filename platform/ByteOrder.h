// Little-endian fields and samples, assembled byte by byte: file headers, chunk bodies and audio
// blocks come at any alignment, and their order is little-endian whatever the host.
// Threading: no state; any thread.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

inline std::uint16_t ReadU16(const void* data) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

// A signed 16-bit sample, widened.
inline std::int32_t ReadS16(const void* data) {
  return static_cast<std::int16_t>(ReadU16(data));
}

inline std::uint32_t ReadU32(const void* data) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// The low 16 bits of `value`, as a signed sample is stored.
inline void WriteS16(void* data, std::int32_t value) {
  auto* b = static_cast<std::uint8_t*>(data);
  const auto bits = static_cast<std::uint16_t>(value);
  b[0] = static_cast<std::uint8_t>(bits & 0xFF);
  b[1] = static_cast<std::uint8_t>(bits >> 8);
}

// The four bytes of a 32-bit field in file order.
inline std::array<std::uint8_t, 4> U32Bytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

inline void WriteU32(void* data, std::uint32_t value) {
  const auto bytes = U32Bytes(value);
  auto* b = static_cast<std::uint8_t*>(data);
  for (std::size_t i = 0; i < bytes.size(); ++i) b[i] = bytes[i];
}

}  // namespace platform
