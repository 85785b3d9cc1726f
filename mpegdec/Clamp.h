// Counts and positions kept in 64 bits, handed out through the 32-bit interface.
#ifndef QUELBARIN_MPEGDEC_CLAMP_H
#define QUELBARIN_MPEGDEC_CLAMP_H

#include <algorithm>
#include <cstdint>

namespace mpegdec {

inline int32_t clampToInt32(int64_t value) {
  return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_CLAMP_H
