#include "cli/TruePeakMeter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace cli {
namespace {

constexpr int kFactor = 4;
constexpr int kLength = kFactor * TruePeakMeter::kTaps + 1;  // 49, centred on tap 24
constexpr std::size_t kBlock = 4096;
constexpr std::uint32_t kMagnitude = 0x7FFFFFFF;  // all bits of a float but its sign

// Phases 1..3 of the interpolator: sinc(t / 4) under a Blackman window. Phase 0 is the
// sample itself (the sinc is 0 at the other multiples of 4).
using Phases = std::array<std::array<float, TruePeakMeter::kTaps>, kFactor - 1>;

Phases MakePhases() {
  Phases phases{};
  const double centre = (kLength - 1) / 2.0;
  for (int phase = 1; phase < kFactor; ++phase) {
    for (int k = 0; k < TruePeakMeter::kTaps; ++k) {
      const int n = phase + kFactor * k;
      const double t = (n - centre) / kFactor;
      const double sinc = std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
      const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * n / (kLength - 1)) +
                       0.08 * std::cos(4 * std::numbers::pi * n / (kLength - 1));
      phases[phase - 1][k] = static_cast<float>(sinc * w);
    }
  }
  return phases;
}

const Phases& Coefficients() {
  static const Phases phases = MakePhases();
  return phases;
}

// The largest sum of the magnitudes of one phase's taps, rounded up a little for the float sums.
float PhaseGainBound() {
  static const float bound = [] {
    double largest = 0.0;
    for (const auto& h : Coefficients()) {
      double sum = 0.0;
      for (float c : h) sum += std::fabs(c);
      largest = std::max(largest, sum);
    }
    return static_cast<float>(largest * 1.0001);
  }();
  return bound;
}

}  // namespace

TruePeakMeter::TruePeakMeter(int channels)
    : channels_(channels),
      lines_(static_cast<std::size_t>(channels), std::vector<float>(kTaps - 1 + kBlock, 0.0f)),
      sums_(kBlock) {}

void TruePeakMeter::Add(const float* interleaved, std::size_t frames) {
  const Phases& phases = Coefficients();
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min(kBlock, frames - done);
    for (int c = 0; c < channels_; ++c) {
      float* line = lines_[static_cast<std::size_t>(c)].data();
      float* block = line + kTaps - 1;
      const float* in = interleaved + done * channels_ + c;
      // Magnitudes compared as the bits of non-negative floats, whose order is that of the
      // values: an integer maximum, which vectorises.
      std::uint32_t peak = std::bit_cast<std::uint32_t>(static_cast<float>(peak_));
      std::uint32_t window = 0;  // the largest sample the block's interpolation reads
      for (std::size_t i = 0; i < kTaps - 1; ++i) {
        window = std::max(window, std::bit_cast<std::uint32_t>(line[i]) & kMagnitude);
      }
      for (std::size_t i = 0; i < n; ++i) {
        const float v = in[i * channels_];
        block[i] = v == v ? v : 0.0f;
        window = std::max(window, std::bit_cast<std::uint32_t>(block[i]) & kMagnitude);
      }
      peak = std::max(peak, window);
      // No interpolated value can pass the window's peak times the largest sum of a phase's
      // magnitudes: a block that cannot raise the peak is not interpolated.
      const bool canRaise =
          std::bit_cast<float>(window) * PhaseGainBound() > std::bit_cast<float>(peak);
      // Each phase over the whole block, tap by tap: simple loops the compiler vectorises.
      for (const auto& h : phases) {
        if (!canRaise) break;
        std::fill_n(sums_.data(), n, 0.0f);
        for (int k = 0; k < kTaps; ++k) {
          const float coefficient = h[static_cast<std::size_t>(k)];
          const float* x = block - (kTaps - 1) + (kTaps - 1 - k);
          for (std::size_t i = 0; i < n; ++i) sums_[i] += coefficient * x[i];
        }
        for (std::size_t i = 0; i < n; ++i) {
          peak = std::max(peak, std::bit_cast<std::uint32_t>(sums_[i]) & kMagnitude);
        }
      }
      peak_ = std::bit_cast<float>(peak);
      // Keep the last kTaps - 1 samples for the next block.
      std::copy(block + n - (kTaps - 1), block + n, line);
    }
    done += n;
  }
}

}  // namespace cli
