#include "app/SampleScaler.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <stdexcept>

namespace app {

namespace {

// Rounds to nearest with halves to even for its lifetime, whatever mode the caller left set.
class RoundToNearest {
 public:
  RoundToNearest() : saved_(std::fegetround()) { std::fesetround(FE_TONEAREST); }
  ~RoundToNearest() { std::fesetround(saved_); }
  RoundToNearest(const RoundToNearest&) = delete;
  RoundToNearest& operator=(const RoundToNearest&) = delete;

 private:
  int saved_;
};

// sample × gain, rounded (halves to even) and clamped to lo..hi.
std::int32_t ScaleClamped(std::int32_t sample, long double gain, std::int32_t lo, std::int32_t hi) {
  const long double scaled = std::nearbyint(static_cast<long double>(sample) * gain);
  return static_cast<std::int32_t>(std::clamp<long double>(scaled, lo, hi));
}

}  // namespace

TSampleScaler::TSampleScaler(int bits, long double gain) : bits_(bits), gain_(gain) {
  if (bits != 8 && bits != 16) throw std::invalid_argument("TSampleScaler: 8 or 16 bits only");
  const RoundToNearest mode;
  if (bits == 8) {
    table_.resize(256);
    for (std::int32_t b = 0; b < 256; ++b) {
      table_[b] = static_cast<std::uint16_t>(ScaleClamped(b - 128, gain, -128, 127) + 128);
    }
  } else {
    table_.resize(65536);
    for (std::int32_t s = -32768; s < 32768; ++s) {
      table_[static_cast<std::uint16_t>(s)] =
          static_cast<std::uint16_t>(ScaleClamped(s, gain, -32768, 32767));
    }
  }
}

std::int32_t TSampleScaler::Scale(std::int32_t sample) const {
  if (bits_ == 8) return table_[static_cast<std::uint8_t>(sample)];
  return static_cast<std::int16_t>(table_[static_cast<std::uint16_t>(sample)]);
}

void TSampleScaler::Apply(void* data, std::size_t byteCount) const {
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint16_t* table = table_.data();
  if (bits_ == 8) {
    for (std::size_t i = 0; i < byteCount; ++i) p[i] = static_cast<std::uint8_t>(table[p[i]]);
    return;
  }
  const std::size_t words = byteCount / 2;
  for (std::size_t i = 0; i < words; ++i, p += 2) {
    const std::uint16_t out = table[static_cast<std::uint16_t>(p[0] | (p[1] << 8))];
    p[0] = static_cast<std::uint8_t>(out & 0xFF);
    p[1] = static_cast<std::uint8_t>(out >> 8);
  }
}

}  // namespace app
