#include "cli/LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace cli {

struct LoudnessMeter::State {
  State() = default;
  ~State() {
    if (handle != nullptr) ebur128_destroy(&handle);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ebur128_state* handle = nullptr;
};

LoudnessMeter::LoudnessMeter(int channels, int rate) : truePeak_(std::max(channels, 1)) {
  if (channels < 1 || rate < 1)
    throw std::invalid_argument("cannot measure " + std::to_string(channels) + " channels at " +
                                std::to_string(rate) + " Hz");
  state_ = std::make_unique<State>();
  state_->handle = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                                EBUR128_MODE_I);
  // ebur128_init refuses rates and channel counts out of its range (and failed allocations,
  // which it does not tell apart).
  if (state_->handle == nullptr)
    throw std::invalid_argument("cannot measure " + std::to_string(channels) + " channels at " +
                                std::to_string(rate) + " Hz");
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(const float* interleaved, std::size_t frames) {
  if (frames == 0) return;
  if (ebur128_add_frames_float(state_->handle, interleaved, frames) != EBUR128_SUCCESS)
    throw std::bad_alloc();
  truePeak_.Add(interleaved, frames);
}

double LoudnessMeter::IntegratedLufs() const {
  double lufs = -std::numeric_limits<double>::infinity();
  if (ebur128_loudness_global(state_->handle, &lufs) != EBUR128_SUCCESS)
    return -std::numeric_limits<double>::infinity();
  return lufs;
}

double LoudnessMeter::IntegratedLufs(const std::vector<const LoudnessMeter*>& meters) {
  std::vector<ebur128_state*> states;
  for (const LoudnessMeter* meter : meters) states.push_back(meter->state_->handle);
  double lufs = -std::numeric_limits<double>::infinity();
  if (states.empty() ||
      ebur128_loudness_global_multiple(states.data(), states.size(), &lufs) != EBUR128_SUCCESS)
    return -std::numeric_limits<double>::infinity();
  return lufs;
}

float SamplePeak(const float* samples, std::size_t count, float sofar) {
  float peak = sofar;
  for (std::size_t i = 0; i < count; ++i) {
    const float magnitude = std::fabs(samples[i]);
    // A NaN fails the comparison and leaves the peak as it is.
    if (magnitude > peak) peak = magnitude;
  }
  return peak;
}

}  // namespace cli
